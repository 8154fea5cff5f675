# Read by cpack before it writes a package (CPACK_PROJECT_CONFIG_FILE).
#
# The Debian package's Depends is read off its program by dpkg-shlibdeps,
# which CPack runs after asking `file` which files are programs. Without
# dpkg-shlibdeps CPack would write a package with no Depends at all, and
# without `file` it stops naming no package to install: stop here instead,
# saying which Debian package brings the tool. The variables are the ones
# CPack's Debian generator looks the tools up in, so it runs the very tools
# found here.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(SHLIBDEPS_EXECUTABLE dpkg-shlibdeps)
  find_program(FILE_EXECUTABLE file)
  set(missing "")
  set(packages "")
  if(NOT SHLIBDEPS_EXECUTABLE)
    list(APPEND missing "dpkg-shlibdeps (package dpkg-dev)")
    list(APPEND packages dpkg-dev)
  endif()
  if(NOT FILE_EXECUTABLE)
    list(APPEND missing "file (package file)")
    list(APPEND packages file)
  endif()
  if(missing)
    list(JOIN missing " and " missing)
    list(JOIN packages " " packages)
    message(FATAL_ERROR
      "The Debian package's Depends is computed with dpkg-shlibdeps and file; "
      "not found: ${missing}. Install with `apt-get install ${packages}` (as root) "
      "and package again.")
  endif()
endif()

# Every package holds the README and the manual page in German too, which
# po4a makes when the build is configured with it.
if(NOT CPACK_HELLIGKEIT_PO4A)
  message(FATAL_ERROR "The packages hold the German README and manual page, which po4a makes: "
                      "install it with `apt-get install po4a` (as root), configure again and "
                      "package again.")
endif()

# A package for another machine (a cross build names its architecture):
# dpkg-shlibdeps reads its Depends off that machine's own Debian libraries,
# installed beside the build machine's (multiarch, the `NAME:ARCH` lines of
# debian-packages.txt), and so gives the package names and versions a build
# on that machine would. DEB_HOST_ARCH tells it the machine, as
# dpkg-buildflags is told when configuring.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  set(arch ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})
  set(ENV{DEB_HOST_ARCH} ${arch})
  file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../debian-packages.txt libraries REGEX "^[^# ]+:ARCH$")
  list(TRANSFORM libraries REPLACE ":ARCH$" ":${arch}")
  execute_process(COMMAND dpkg-query -W -f=[\${db:Status-Status}] ${libraries}
                  OUTPUT_VARIABLE states ERROR_QUIET)
  string(REGEX MATCHALL "\\[installed\\]" installed "${states}")
  list(LENGTH libraries wanted)
  list(LENGTH installed found)
  if(NOT libraries)
    message(FATAL_ERROR "debian-packages.txt lists no machine's own libraries (lines NAME:ARCH), "
                        "which the ${arch} package's Depends is read off.")
  elseif(NOT found EQUAL wanted)
    list(JOIN libraries " " libraries)
    message(FATAL_ERROR
      "The ${arch} package's Depends is read off Debian's ${arch} libraries, which are not "
      "all installed: ${libraries}. Install them with `dpkg --add-architecture ${arch} && "
      "apt-get update && apt-get install ${libraries}` (as root) and package again.")
  endif()
endif()

# The library package's Depends, read off the shared library by
# dpkg-shlibdeps as CPack reads the program's (CPack would also add scripts
# that run ldconfig, which the package's trigger does instead). It runs in a
# folder of the build's own, which it takes for a package's source, with
# the library in a package's folder there, marked as one by its DEBIAN
# folder; it needs a debian/control too, an empty one will do.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(work ${CPACK_HELLIGKEIT_BINARY_DIR}/debian/shlibdeps)
  file(REMOVE_RECURSE ${work})
  file(WRITE ${work}/debian/control "")
  cmake_path(GET CPACK_HELLIGKEIT_SHARED_LIBRARY FILENAME library)
  file(MAKE_DIRECTORY ${work}/debian/library/DEBIAN)
  file(COPY_FILE ${CPACK_HELLIGKEIT_SHARED_LIBRARY} ${work}/debian/library/${library})
  execute_process(COMMAND ${SHLIBDEPS_EXECUTABLE} -O debian/library/${library}
                  WORKING_DIRECTORY ${work}
                  OUTPUT_VARIABLE depends OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${work})
  string(REGEX REPLACE "^shlibs:Depends=" "" depends "${depends}")
  if(NOT depends MATCHES "^libc6")
    message(FATAL_ERROR "dpkg-shlibdeps gives ${CPACK_HELLIGKEIT_SHARED_LIBRARY} no Depends "
                        "on libc6 but: ${depends}")
  endif()
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "${depends}")
endif()

# The Python module's Depends (native builds, which build its extension):
# the numpy ABI and the Python version it is built for, then the libraries
# the extension links, read off it by dpkg-shlibdeps, which learns that
# libhelligkeit.so.1 comes from the library's package, and from which
# version of it each function, from that package's symbols file: the
# library lies in a package's folder of its own with that file.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_HELLIGKEIT_PYTHON_EXTENSION)
  set(work ${CPACK_HELLIGKEIT_BINARY_DIR}/debian/shlibdeps)
  file(REMOVE_RECURSE ${work})
  file(WRITE ${work}/debian/control "")
  set(library_package ${work}/debian/${CPACK_HELLIGKEIT_LIBRARY_PACKAGE})
  execute_process(COMMAND dpkg-architecture -qDEB_HOST_MULTIARCH
                  OUTPUT_VARIABLE triplet OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  file(MAKE_DIRECTORY ${library_package}/DEBIAN ${work}/debian/python/DEBIAN)
  file(COPY ${CPACK_HELLIGKEIT_LIBRARY_CONTROL}/shlibs ${CPACK_HELLIGKEIT_LIBRARY_CONTROL}/symbols
       DESTINATION ${library_package}/DEBIAN)
  cmake_path(GET CPACK_HELLIGKEIT_SHARED_LIBRARY FILENAME library)
  set(libdir ${library_package}/usr/lib/${triplet})
  file(MAKE_DIRECTORY ${libdir})
  file(COPY_FILE ${CPACK_HELLIGKEIT_SHARED_LIBRARY} ${libdir}/${library})
  cmake_path(GET CPACK_HELLIGKEIT_PYTHON_EXTENSION FILENAME extension)
  file(COPY_FILE ${CPACK_HELLIGKEIT_PYTHON_EXTENSION} ${work}/debian/python/${extension})
  execute_process(COMMAND ${SHLIBDEPS_EXECUTABLE} -O
                          -Sdebian/${CPACK_HELLIGKEIT_LIBRARY_PACKAGE} debian/python/${extension}
                  WORKING_DIRECTORY ${work}
                  OUTPUT_VARIABLE depends OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${work})
  string(REGEX REPLACE "^shlibs:Depends=" "" depends "${depends}")
  if(NOT depends MATCHES "${CPACK_HELLIGKEIT_LIBRARY_PACKAGE} \\(>= ")
    message(FATAL_ERROR "dpkg-shlibdeps gives ${CPACK_HELLIGKEIT_PYTHON_EXTENSION} no Depends "
                        "on ${CPACK_HELLIGKEIT_LIBRARY_PACKAGE} but: ${depends}")
  endif()
  if(NOT CPACK_HELLIGKEIT_PYTHON_DEPENDS)
    message(FATAL_ERROR "No /usr/share/numpy3/versions, from which the Python module's "
                        "Depends on numpy's ABI is read: install python3-numpy and configure "
                        "again.")
  endif()
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${CPACK_HELLIGKEIT_PYTHON_DEPENDS}, ${depends}")
endif()

# The Windows developers' zip (package preset zip-dev, which sets
# CPACK_HELLIGKEIT_DEV_ZIP): the component dev_zip alone, in a folder and
# zip named helligkeit-<version>-win64-dev.
if(CPACK_HELLIGKEIT_DEV_ZIP)
  list(GET CPACK_INSTALL_CMAKE_PROJECTS 0 build)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${build};helligkeit;dev_zip;/")
  string(APPEND CPACK_PACKAGE_FILE_NAME -dev)
endif()
