# Debian's build flags, for every program of a native build.
#
# Debian builds every package with the flags that dpkg-buildflags gives; with
# DEB_BUILD_MAINT_OPTIONS=hardening=+all they add to what the compiler does by
# default (position-independent executables) a stack protector,
# _FORTIFY_SOURCE, and immediate binding with read-only relocations. They are
# asked of dpkg-buildflags when configuring, so that the package follows the
# Debian release it is built on, with any DEB_*FLAGS_* settings of the
# machine. The whole build gets them: the package's program is compiled like
# every other program of the tree, and the tests test code built as it
# ships.
#
# Left out of dpkg-buildflags' output: -ffile-prefix-map and
# -fdebug-prefix-map, which map the folder that CMake was started from. The
# project maps its source and build folders itself (CMakeLists.txt), which
# keeps the build reproducible wherever it is configured from.
#
# hardening-check and lintian find no fortified call in the program
# ("Fortify Source functions: no"; lintian's note
# hardening-no-fortify-functions), although _FORTIFY_SOURCE is in the flags:
# it replaces a C library call only where the compiler knows the size of
# the destination and cannot prove the call safe, and no call here is of
# that kind. The copies and fills of the C++ library use the compiler's
# built-ins, the one memmove (console/line_input.cpp) writes into a line
# whose size is known only at run time, and read() fills a buffer handed to
# the OS layer as pointer and length. Nothing is changed to make the tools
# find a checked call.
#
# A cross build asks for the flags of the machine it builds for: its
# toolchain file (cmake/debian-cross.cmake) names the Debian architecture,
# which dpkg-buildflags takes from DEB_HOST_ARCH.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT DPKG_BUILDFLAGS)
  message(NOTICE "No dpkg-buildflags (package dpkg-dev): the programs are built without "
                 "Debian's flags, and the Debian package cannot be made here.")
  return()
endif()

set(host_arch "")
if(HELLIGKEIT_DEB_ARCH)
  set(host_arch DEB_HOST_ARCH=${HELLIGKEIT_DEB_ARCH})
endif()
set(HELLIGKEIT_DEBIAN_FLAGS "")
foreach(kind IN ITEMS CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${host_arch}
            ${DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags
    OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-f(file|debug)-prefix-map=")
  if(kind STREQUAL "LDFLAGS")
    add_link_options(${flags})
  else()
    add_compile_options(${flags})
  endif()
  list(APPEND HELLIGKEIT_DEBIAN_FLAGS ${flags})
endforeach()
list(JOIN HELLIGKEIT_DEBIAN_FLAGS " " flags)
message(STATUS "Debian's flags, for every program: ${flags}")
