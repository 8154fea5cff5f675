# The toolchain of every machine of cmake/machines.txt: cross-compiles for
# that Linux machine with Debian's cross compiler (package g++-TRIPLET) and
# runs the results under qemu-user (package qemu-user), so that ctest runs
# every unit and end-to-end test on that machine's code. HELLIGKEIT_MACHINE
# names the machine (each cross- preset sets it); its line gives the rest:
#   CMAKE_SYSTEM_PROCESSOR   the processor, as uname -m names it
#   HELLIGKEIT_CROSS_TRIPLE  the GNU triplet of Debian's cross compiler
# and what runs the machine's programs.
set(CMAKE_SYSTEM_NAME Linux)

# CMake reads this file again for each project it builds to try the
# compiler, and passes it only the variables listed here.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HELLIGKEIT_MACHINE)
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/machines.txt machine REGEX "^${HELLIGKEIT_MACHINE}[ \t]")
if(NOT HELLIGKEIT_MACHINE OR NOT machine)
  message(FATAL_ERROR "HELLIGKEIT_MACHINE is '${HELLIGKEIT_MACHINE}', not a machine of "
                      "cmake/machines.txt: configure with a cross- preset")
endif()
string(REGEX REPLACE "[ \t]+" ";" machine "${machine}")
list(GET machine 1 CMAKE_SYSTEM_PROCESSOR)
list(GET machine 2 HELLIGKEIT_CROSS_TRIPLE)
list(GET machine 3 runner)

find_program(HELLIGKEIT_CROSS_CXX ${HELLIGKEIT_CROSS_TRIPLE}-g++ NO_CMAKE_FIND_ROOT_PATH)
if(NOT HELLIGKEIT_CROSS_CXX)
  message(FATAL_ERROR "${HELLIGKEIT_CROSS_TRIPLE}-g++ not found: install the package "
                      "g++-${HELLIGKEIT_CROSS_TRIPLE}")
endif()
# GoogleTest's project asks for C too.
set(CMAKE_C_COMPILER ${HELLIGKEIT_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${HELLIGKEIT_CROSS_CXX})

# Debian's cross libraries (libc6-dev-ARCH-cross, libstdc++-12-dev-ARCH-cross)
# live in /usr/TRIPLET; libraries and headers come from there only, programs
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
# installed as well (multiarch, which the released packages' Depends are
# read off), the loader would search their folder /lib/TRIPLET first, and
# libraries of another build than the cross root's loader crash it. Or,
# where the machine's runner is a dynamic loader, the build machine's
# processor runs the programs through the cross root's loader.
if(runner MATCHES "^qemu-")
  find_program(HELLIGKEIT_QEMU_PROGRAM ${runner} NO_CMAKE_FIND_ROOT_PATH)
  if(NOT HELLIGKEIT_QEMU_PROGRAM)
    message(FATAL_ERROR "${runner} not found: install the package qemu-user")
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${HELLIGKEIT_QEMU_PROGRAM} -L ${HELLIGKEIT_CROSS_ROOT}
                                    -E LD_LIBRARY_PATH=${HELLIGKEIT_CROSS_ROOT}/lib)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${HELLIGKEIT_CROSS_ROOT}/lib/${runner}
                                    --library-path ${HELLIGKEIT_CROSS_ROOT}/lib)
endif()
