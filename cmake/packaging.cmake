# Installation, and the Windows packages (CPack). `cmake --install` installs
# everything, in components: on Linux that is what debian/rules packages
# (dpkg-buildpackage, debian/*.install); for Windows the `zip`, `zip-dev`
# and `msi` presets write helligkeit-<version>-win64.zip, the developers'
# zip and the installer in build-win64/. `make release` (cmake/release.sh)
# builds every package of a release into dist/.
#
# The components:
#   program      the program and its documents (on Windows: the zip and the
#                installer)
#   library      the shared library
#   development  the header, the static library, the link to the shared
#                one, helligkeit.pc, the CMake package and the manual page
#                helligkeit(3)
#   python       the Python module
#   dev_zip      helligkeit-<version>-win64-dev.zip, for C and C++ on
#                Windows: helligkeit.dll, its import libraries, the header
include(GNUInstallDirs)

# Where the program comes from. Whoever builds a package to hand on sets
# them; the defaults are placeholders on the domain .invalid, which never
# exists, and take nothing from the machine or the repository the package
# is built from.
set(HOMEPAGE_placeholder https://helligkeit.invalid/)
set(SOURCE_URL_placeholder https://source.helligkeit.invalid/)
set(BUG_URL_placeholder https://bugs.helligkeit.invalid/)
set(HELLIGKEIT_HOMEPAGE ${HOMEPAGE_placeholder} CACHE STRING "The program's home page")
set(HELLIGKEIT_SOURCE_URL ${SOURCE_URL_placeholder} CACHE STRING "Where its source code is")
set(HELLIGKEIT_BUG_URL ${BUG_URL_placeholder} CACHE STRING "Where to report a bug")

# The README and the manual page, in English and German, with the version,
# the release's date and these addresses filled in: the `documents` target
# makes them in documents/.
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
  # links programs, with the READMEs and the manual pages, the German one
  # where the language is German.
  install(TARGETS helligkeit_dynamic RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
  install(FILES ${readmes} DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT program)
  install(FILES ${documents}/man/helligkeit.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT program)
  if(PO4A)
    install(FILES ${documents}/man/de/helligkeit.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/de/man1
            COMPONENT program)
  endif()
  # The library's manual page, for those who build against it.
  install(FILES ${documents}/man/helligkeit.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3
          COMPONENT development)
endif()

if(WIN32)
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

# The Debian packages are debhelper's (debian/): CPack makes the Windows
# packages alone.
if(NOT WIN32)
  return()
endif()

set(CPACK_PACKAGE_NAME helligkeit)
set(CPACK_PACKAGE_VENDOR "the helligkeit authors")
# What the program's packages say of it: the summary, then the long
# description.
set(summary "brightness of a full colour at a spectral wavelength")
string(CONCAT description
       "A console program that asks for a spectral wavelength in nanometres\n"
       "and prints the brightness of a full colour at that wavelength, read\n"
       "off a stored curve of cubic segments spanning 380-780 nm. The dialogue\n"
       "is in German.")
set(CPACK_STRIP_FILES TRUE)
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
# The Windows installer, set up before CPack writes its settings.
include(${CMAKE_CURRENT_LIST_DIR}/installer.cmake)
# Stops packaging where a tool the package needs is missing.
set(CPACK_HELLIGKEIT_PO4A ${PO4A})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_project.cmake)
# The staged folders open to all to read, whatever the umask.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_folders.cmake)
include(CPack)
