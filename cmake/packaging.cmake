# Installation and packages (CPack). The `package` target of a Linux build
# writes a Debian package for its machine, helligkeit_<version>_<arch>.deb
# (amd64 natively, another machine's cross-compiled), and that of a Windows
# build a zip, helligkeit-<version>-win64.zip, each in its build folder; the
# `deb`, `deb-<arch>` and `zip` workflow presets write the same packages
# from build folders of their own without the tests (into build/ and
# build-win64/).
# Both hold the program stripped. `make release` (cmake/release.sh) builds
# every package of a release into dist/. Everything the program's packages
# hold is installed as the component `program`.
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

set(CPACK_PACKAGE_NAME helligkeit)
set(CPACK_PACKAGE_VENDOR "the helligkeit authors")
set(CPACK_PACKAGE_CONTACT "${HELLIGKEIT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "brightness of a full colour at a spectral wavelength")
# The long description, in lines as the Debian control file shows them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "A console program that asks for a spectral wavelength in nanometres\n"
       "and prints the brightness of a full colour at that wavelength, read\n"
       "off a stored curve of cubic segments spanning 380-780 nm. The dialogue\n"
       "is in German.")
set(CPACK_STRIP_FILES TRUE)
# The packages hold the program's component alone (build folder, project,
# component, where): the library's components (curve/CMakeLists.txt) are
# installed by `cmake --install`, not packaged.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};program;/")
if(WIN32)
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
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # Uncommitted changes in the version as VERSION~dirty, which dpkg puts
  # before VERSION itself, so the package of the commit replaces it.
  string(REPLACE "-" "~" CPACK_DEBIAN_PACKAGE_VERSION ${HELLIGKEIT_VERSION})
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${HELLIGKEIT_HOMEPAGE})
  # A cross build's package is for the machine it builds for (its toolchain
  # file names the Debian architecture); CPack would take the build
  # machine's from dpkg.
  if(HELLIGKEIT_DEB_ARCH)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${HELLIGKEIT_DEB_ARCH})
  endif()
  # Depends is read off the program by dpkg-shlibdeps (package dpkg-dev,
  # which needs `file` too): the libraries it links and the versions of
  # them that it needs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
# The Windows installer, set up before CPack writes its settings.
include(${CMAKE_CURRENT_LIST_DIR}/installer.cmake)
# Stops packaging where a tool the package needs is missing.
set(CPACK_HELLIGKEIT_PO4A ${PO4A})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_project.cmake)
# The staged folders open to all to read, whatever the umask.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_folders.cmake)
include(CPack)
