# Installation and packages (CPack). The `package` target of a Linux build
# writes the Debian packages for its machine (amd64 natively, another
# machine's cross-compiled), and that of a Windows build a zip,
# helligkeit-<version>-win64.zip, each in its build folder; the `deb`,
# `deb-<arch>`, `zip` and `zip-dev` workflow presets write the same packages
# from build folders of their own without the tests (into build/ and
# build-win64/). `make release` (cmake/release.sh) builds every package of a
# release into dist/.
#
# What each package holds is installed as a component of its own:
#   program      helligkeit_<version>_<arch>.deb, and the Windows zip and
#                installer: the program and its documents
#   library      libhelligkeit1_<version>_<arch>.deb: the shared library
#   development  libhelligkeit-dev_<version>_<arch>.deb: the header, the
#                static library, the link to the shared one, helligkeit.pc,
#                the CMake package and the manual page helligkeit(3)
#   python       python3-helligkeit_<version>_<arch>.deb: the Python module
#                and its extension (native builds only, python/)
#   dev_zip      helligkeit-<version>-win64-dev.zip, for C and C++ on
#                Windows: helligkeit.dll, its import libraries, the header
# Every package holds its programs and libraries stripped.
include(GNUInstallDirs)

# Who answers for the Debian package, and where the program comes from.
# Whoever builds a package to hand on sets them; the defaults are
# placeholders on the domain .invalid, which never exists (a maintainer's
# address there can never receive mail), and take nothing from the machine
# or the repository the package is built from.
set(HELLIGKEIT_MAINTAINER "helligkeit maintainers <maintainers@helligkeit.invalid>"
    CACHE STRING "Maintainer of the Debian package: Name <address>")
set(HOMEPAGE_placeholder https://helligkeit.invalid/)
set(SOURCE_URL_placeholder https://source.helligkeit.invalid/)
set(BUG_URL_placeholder https://bugs.helligkeit.invalid/)
set(HELLIGKEIT_HOMEPAGE ${HOMEPAGE_placeholder} CACHE STRING "The program's home page")
set(HELLIGKEIT_SOURCE_URL ${SOURCE_URL_placeholder} CACHE STRING "Where its source code is")
set(HELLIGKEIT_BUG_URL ${BUG_URL_placeholder} CACHE STRING "Where to report a bug")

# The README and the manual page, in English and German, with the version,
# the release's date and these addresses filled in, and the Debian
# changelog: the `documents` target makes them in documents/.
include(${CMAKE_CURRENT_LIST_DIR}/documents.cmake)
set(readmes ${documents}/README.md)
if(PO4A)
  list(APPEND readmes ${documents}/LIESMICH.md)
endif()

if(WIN32)
  # Stripping rewrites the PE header, and strip stamps it with
  # SOURCE_DATE_EPOCH, else the current time: for the program's install (and
  # its strip) the epoch is 0, to keep the linker's zero. The install script
  # runs in one process, CPack's own included, so the epoch is put back
  # afterwards (an empty one is unset), for the dates of the packaged files.
  install(CODE [[
    set(helligkeit_epoch "$ENV{SOURCE_DATE_EPOCH}")
    set(ENV{SOURCE_DATE_EPOCH} 0)
  ]] COMPONENT program)
  # A zip to unpack anywhere: the program, the README in English and in
  # German, the changelog and the licence side by side. The program is
  # signed where the environment names a certificate
  # (cmake/authenticode.cmake), before the zip or the installer takes it.
  install(TARGETS helligkeit RUNTIME DESTINATION . COMPONENT program)
  install(CODE "
    set(ENV{SOURCE_DATE_EPOCH} \"\${helligkeit_epoch}\")
    include([==[${CMAKE_CURRENT_LIST_DIR}/authenticode.cmake]==])
    helligkeit_sign(\"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/helligkeit.exe\"
                    [==[${HELLIGKEIT_HOMEPAGE}]==])
  " COMPONENT program)
  install(FILES ${readmes} ${PROJECT_SOURCE_DIR}/NEWS.md ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION . COMPONENT program)
  # The manual in HTML, English and German, for the zip (the installer
  # takes only the files it names).
  set(manual ${documents}/html/helligkeit.1.html)
  if(PO4A)
    list(APPEND manual ${documents}/html/helligkeit.1.de.html)
  endif()
  install(FILES ${manual} DESTINATION . COMPONENT program)
else()
  # The dynamically linked program (calculator/CMakeLists.txt), as Debian
  # links programs. Its .comment section (the compiler's version, once per
  # object) is dropped after stripping, as Debian's own packages drop it.
  install(TARGETS helligkeit_dynamic RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
  install(CODE "
    execute_process(
      COMMAND [==[${CMAKE_OBJCOPY}]==] --remove-section=.comment
              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/helligkeit\"
      COMMAND_ERROR_IS_FATAL ANY)
  " COMPONENT program)

  # What Debian asks of every package beside the program: the licence as a
  # machine-readable copyright file, the changelog and a manual page, the
  # German one where the language is German. The copyright file names
  # where the sources are (Source:).
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${documents}/copyright @ONLY)
  install(FILES ${readmes} ${documents}/copyright ${documents}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT program)
  install(FILES ${documents}/man/helligkeit.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT program)
  if(PO4A)
    install(FILES ${documents}/man/de/helligkeit.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/de/man1
            COMPONENT program)
  endif()
  # The library's manual page, for those who build against it.
  install(FILES ${documents}/man/helligkeit.3.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man3
          COMPONENT development)
endif()

if(NOT WIN32)
  # The library's Debian packages, by component, named as Debian names a
  # library's: the shared library by its ABI version (libhelligkeit1, for
  # libhelligkeit.so.1), so that a new ABI is a new package that programs
  # built against the old one can keep beside it. Each holds the copyright
  # file and the changelog in its own folder of /usr/share/doc, as every
  # Debian package must.
  set(deb_library libhelligkeit${HELLIGKEIT_SOVERSION})
  set(packages LIBRARY ${deb_library} DEVELOPMENT libhelligkeit-dev)
  if(HELLIGKEIT_PYTHON_MODULE)
    list(APPEND packages PYTHON python3-helligkeit)
  endif()
  while(packages)
    list(POP_FRONT packages component package)
    set(CPACK_DEBIAN_${component}_PACKAGE_NAME ${package})
    string(TOLOWER ${component} component)
    install(FILES ${documents}/copyright ${documents}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  endwhile()
else()
  # The zip for C and C++ on Windows (package preset zip-dev, set up in
  # cmake/cpack_project.cmake), a folder helligkeit-<version>-win64-dev:
  # helligkeit.dll, signed as the program is; its import library for
  # MinGW-w64, libhelligkeit.dll.a, and for Microsoft's linker,
  # helligkeit.lib; the list of exports those are made from, helligkeit.def;
  # the static library for MinGW-w64, libhelligkeit_static.a (so named that
  # -lhelligkeit still finds the import library), its debug information
  # stripped as the Debian package's is; the header; the licence, and a
  # README that says how to build with them.
  # Only that package installs them (EXCLUDE_FROM_ALL). The DLL's PE header
  # keeps the linker's zero time stamp through strip, as the program's does.
  install(CODE [[
    set(helligkeit_epoch "$ENV{SOURCE_DATE_EPOCH}")
    set(ENV{SOURCE_DATE_EPOCH} 0)
  ]] COMPONENT dev_zip EXCLUDE_FROM_ALL)
  install(TARGETS helligkeit_shared
          RUNTIME DESTINATION . COMPONENT dev_zip EXCLUDE_FROM_ALL
          ARCHIVE DESTINATION . COMPONENT dev_zip EXCLUDE_FROM_ALL)
  install(CODE "
    set(ENV{SOURCE_DATE_EPOCH} \"\${helligkeit_epoch}\")
    include([==[${CMAKE_CURRENT_LIST_DIR}/authenticode.cmake]==])
    helligkeit_sign(\"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/helligkeit.dll\"
                    [==[${HELLIGKEIT_HOMEPAGE}]==])
  " COMPONENT dev_zip EXCLUDE_FROM_ALL)
  install(FILES ${HELLIGKEIT_MSVC_IMPORT_LIBRARY} ${HELLIGKEIT_DEF_FILE}
                ${PROJECT_SOURCE_DIR}/curve/helligkeit.h ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION . COMPONENT dev_zip EXCLUDE_FROM_ALL)
  install(FILES ${documents}/library-windows.md DESTINATION . RENAME README.md
          COMPONENT dev_zip EXCLUDE_FROM_ALL)
  install(FILES $<TARGET_FILE:helligkeit_static> DESTINATION . RENAME libhelligkeit_static.a
          COMPONENT dev_zip EXCLUDE_FROM_ALL)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND [==[${CMAKE_STRIP}]==] --strip-debug --enable-deterministic-archives
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/libhelligkeit_static.a\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
  " COMPONENT dev_zip EXCLUDE_FROM_ALL)
  install(FILES ${documents}/html/helligkeit.3.html DESTINATION . COMPONENT dev_zip
          EXCLUDE_FROM_ALL)
endif()

set(CPACK_PACKAGE_NAME helligkeit)
set(CPACK_PACKAGE_VENDOR "the helligkeit authors")
set(CPACK_PACKAGE_CONTACT "${HELLIGKEIT_MAINTAINER}")
# What the program's package says of it: the summary, then the long
# description in lines as the Debian control file shows them.
set(summary "brightness of a full colour at a spectral wavelength")
string(CONCAT description
       "A console program that asks for a spectral wavelength in nanometres\n"
       "and prints the brightness of a full colour at that wavelength, read\n"
       "off a stored curve of cubic segments spanning 380-780 nm. The dialogue\n"
       "is in German.")
set(CPACK_STRIP_FILES TRUE)
if(WIN32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${summary})
  set(CPACK_PACKAGE_DESCRIPTION ${description})
  # The zip and the installer hold the program's component alone (build
  # folder, project, component, where): CPACK_COMPONENTS_ALL does not
  # restrict a package of all components.
  set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};program;/")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  # The zip and the installer named with HELLIGKEIT_VERSION (VERSION-dirty
  # for uncommitted changes); the installer's own version stays the
  # project's, since Windows Installer takes numbers only.
  set(CPACK_PACKAGE_FILE_NAME helligkeit-${HELLIGKEIT_VERSION}-win64)
  # helligkeit.exe, README.md, LIESMICH.md, NEWS.md and LICENSE in one
  # folder named like the zip, helligkeit-<version>-win64: unpacked
  # anywhere, it adds that folder and nothing else.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  # A package for each component (the list at the top), each named
  # NAME_VERSION_ARCH.deb.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL program library development)
  if(HELLIGKEIT_PYTHON_MODULE)
    list(APPEND CPACK_COMPONENTS_ALL python)
  endif()
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # Uncommitted changes in the version as VERSION~dirty, which dpkg puts
  # before VERSION itself, so the package of the commit replaces it.
  string(REPLACE "-" "~" version ${HELLIGKEIT_VERSION})
  set(CPACK_DEBIAN_PACKAGE_VERSION ${version})
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${HELLIGKEIT_HOMEPAGE})
  # A cross build's packages are for the machine it builds for (its
  # toolchain file names the Debian architecture); CPack would take the
  # build machine's from dpkg.
  if(HELLIGKEIT_DEB_ARCH)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${HELLIGKEIT_DEB_ARCH})
  endif()
  # Depends is read off the programs and libraries by dpkg-shlibdeps
  # (package dpkg-dev, which needs `file` too): the libraries they link and
  # the versions of them that they need.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

  # Each package's summary and long description. CPack puts the project's
  # summary, CPACK_PACKAGE_DESCRIPTION_SUMMARY, before every component's
  # description unless it is CPack's default: it is left unset, and each
  # description starts with its own summary.
  set(library_words
      "The helligkeit library gives the brightness of a full colour at a\n"
      "spectral wavelength in nanometres, read off a stored curve of cubic\n"
      "segments spanning 380-780 nm: the numbers of the helligkeit program,\n"
      "for programs in C, C++ and Python.\n.\n")
  set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME helligkeit)
  set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PROGRAM_DESCRIPTION "${summary}\n${description}")

  # The library and its development files come from the same sources as
  # the program, and are co-installable with those of other machines
  # (Multi-Arch: same), as each installs its machine's files in that
  # machine's own folder, /usr/lib/TRIPLET, and the rest the same on every
  # machine. CPack has no setting for Multi-Arch: the field follows Source
  # in the same value, a line of its own in the control file.
  set(same_source "helligkeit\nMulti-Arch: same")
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SOURCE ${same_source})
  string(CONCAT CPACK_DEBIAN_LIBRARY_DESCRIPTION "${summary} - library\n" ${library_words}
                "This package holds the shared library.")
  # What dpkg and other packages learn of the shared library: the ldconfig
  # trigger that brings the loader's cache up to date when it comes or
  # goes, and what a program built against it depends on, read off the
  # program by dpkg-shlibdeps: the version of this package that first had
  # each function it calls (the symbols file: cmake/debian/symbols with a
  # line for each function of helligkeit.h and the version it came in), or
  # this version (shlibs).
  # CPack would run ldconfig from scripts of the package where it reads
  # the Depends off the library itself: Depends is read off it before
  # packaging instead, by cmake/cpack_project.cmake.
  set(control ${PROJECT_BINARY_DIR}/debian/${deb_library})
  file(WRITE ${control}/triggers "activate-noawait ldconfig\n")
  file(WRITE ${control}/shlibs
       "libhelligkeit ${HELLIGKEIT_SOVERSION} ${deb_library} (>= ${version})\n")
  set(symbols "")
  foreach(line IN LISTS HELLIGKEIT_EXPORTS)
    string(REPLACE " " ";" line "${line}")
    list(GET line 0 name)
    list(GET line 1 since)
    string(APPEND symbols " ${name}@Base ${since}\n")
  endforeach()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/symbols ${control}/symbols @ONLY)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA
      ${control}/shlibs ${control}/symbols ${control}/triggers)
  # Mode 0644 whatever the umask.
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_HELLIGKEIT_SHARED_LIBRARY ${HELLIGKEIT_SHARED_LIBRARY})
  set(CPACK_HELLIGKEIT_BINARY_DIR ${PROJECT_BINARY_DIR})

  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SOURCE ${same_source})
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${deb_library} (= ${version})")
  string(CONCAT CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "${summary} - development files\n"
                ${library_words} "This package holds what programs in C and C++ are built "
                "with:\nthe header helligkeit.h, the static library, helligkeit.pc for\n"
                "pkg-config, the CMake package and the manual page helligkeit(3).")

  # The module's extension is built for this machine's Python and numpy
  # (python/CMakeLists.txt): Depends names the numpy ABI and the Python
  # version it is built for, and the libraries it links, read off it by
  # dpkg-shlibdeps as the library's are (cmake/cpack_project.cmake).
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SOURCE helligkeit)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_HELLIGKEIT_PYTHON_DEPENDS "${HELLIGKEIT_PYTHON_DEPENDS}")
  set(CPACK_HELLIGKEIT_PYTHON_EXTENSION "${HELLIGKEIT_PYTHON_EXTENSION}")
  set(CPACK_HELLIGKEIT_LIBRARY_CONTROL ${control})
  set(CPACK_HELLIGKEIT_LIBRARY_PACKAGE ${deb_library})
  string(CONCAT CPACK_DEBIAN_PYTHON_DESCRIPTION "${summary} - Python 3 module\n" ${library_words}
                "This package holds the Python 3 module helligkeit, whose\n"
                "brightness is a numpy ufunc: it takes wavelengths as numbers,\n"
                "sequences and numpy arrays of any shape.")
endif()
# The Windows installer, set up before CPack writes its settings.
include(${CMAKE_CURRENT_LIST_DIR}/installer.cmake)
# Stops packaging where a tool the package needs is missing.
set(CPACK_HELLIGKEIT_PO4A ${PO4A})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_project.cmake)
# The staged folders open to all to read, whatever the umask.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_folders.cmake)
include(CPack)
