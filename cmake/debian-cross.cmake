# Cross-compiles for another Linux machine with Debian's cross compiler
# (package g++-TRIPLE) and runs the results under qemu-user (package
# qemu-user), so that ctest runs every unit and end-to-end test on that
# machine's code. Included by the toolchain file of each machine, which sets
#   CMAKE_SYSTEM_PROCESSOR   the machine, as uname -m names it
#   HELLIGKEIT_CROSS_TRIPLE  the GNU triple of Debian's cross compiler
#   HELLIGKEIT_DEB_ARCH      the Debian architecture (dpkg-buildflags and
#                            packages ask for it)
#   HELLIGKEIT_QEMU          the qemu-user program for the machine, or
#   HELLIGKEIT_CROSS_RUNNER  the command that runs its programs instead
set(CMAKE_SYSTEM_NAME Linux)

find_program(HELLIGKEIT_CROSS_CXX ${HELLIGKEIT_CROSS_TRIPLE}-g++ NO_CMAKE_FIND_ROOT_PATH)
if(NOT HELLIGKEIT_CROSS_CXX)
  message(FATAL_ERROR "${HELLIGKEIT_CROSS_TRIPLE}-g++ not found: install the package "
                      "g++-${HELLIGKEIT_CROSS_TRIPLE}")
endif()
# GoogleTest's project asks for C too.
set(CMAKE_C_COMPILER ${HELLIGKEIT_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${HELLIGKEIT_CROSS_CXX})

# Debian's cross libraries (libc6-dev-ARCH-cross, libstdc++-12-dev-ARCH-cross)
# live in /usr/TRIPLE; libraries and headers come from there only, programs
# (Python, the shell) from the build machine.
set(HELLIGKEIT_CROSS_ROOT /usr/${HELLIGKEIT_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${HELLIGKEIT_CROSS_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program of the build (tests, their discovery, the end-to-end
# runner's program) runs under qemu-user, which finds the machine's dynamic
# loader in the cross root (-L) and its shared libraries there too
# (LD_LIBRARY_PATH): where Debian's own libraries of that machine are
# installed as well (multiarch, which the arm64 and armhf packages' Depends
# are read off), the loader would search their folder /lib/TRIPLE first,
# and libraries of another build than the cross root's loader crash it. Or,
# where the toolchain file names one (HELLIGKEIT_CROSS_RUNNER), the programs
# run through another command.
if(DEFINED HELLIGKEIT_CROSS_RUNNER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${HELLIGKEIT_CROSS_RUNNER})
else()
  find_program(HELLIGKEIT_QEMU_PROGRAM ${HELLIGKEIT_QEMU} NO_CMAKE_FIND_ROOT_PATH)
  if(NOT HELLIGKEIT_QEMU_PROGRAM)
    message(FATAL_ERROR "${HELLIGKEIT_QEMU} not found: install the package qemu-user")
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${HELLIGKEIT_QEMU_PROGRAM} -L ${HELLIGKEIT_CROSS_ROOT}
                                    -E LD_LIBRARY_PATH=${HELLIGKEIT_CROSS_ROOT}/lib)
endif()
