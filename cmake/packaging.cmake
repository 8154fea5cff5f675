# Installation and packages (CPack). The `package` target of a native build
# writes a Debian package, helligkeit_<version>_amd64.deb, and that of a
# Windows build a zip, helligkeit-<version>-win64.zip, each in its build
# folder; the `deb` and `zip` workflow presets write the same packages from
# build folders of their own without the tests (build/ and build-win64/).
# Both hold the program stripped.
include(GNUInstallDirs)

# Who answers for the Debian package. Whoever builds a package to hand on
# sets it; the default is a placeholder on a domain that can never deliver
# mail, and it takes nothing from the machine or the repository it is built
# from.
set(HELLIGKEIT_MAINTAINER "helligkeit maintainers <maintainers@helligkeit.invalid>"
    CACHE STRING "Maintainer of the Debian package: Name <address>")

if(WIN32)
  # Stripping rewrites the PE header, and strip stamps it with the current
  # time unless SOURCE_DATE_EPOCH says otherwise: for the program's install
  # (and its strip) that is set to keep the linker's zero. The install script
  # runs in one process, CPack's own included, so it is put back afterwards.
  install(CODE [[
    if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
      set(ENV{SOURCE_DATE_EPOCH} 0)
      set(helligkeit_unset_epoch TRUE)
    endif()
  ]])
  # A zip to unpack anywhere: the program, the README and the licence side
  # by side.
  install(TARGETS helligkeit RUNTIME DESTINATION .)
  install(CODE [[
    if(helligkeit_unset_epoch)
      unset(ENV{SOURCE_DATE_EPOCH})
    endif()
  ]])
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
else()
  # The dynamically linked program (calculator/CMakeLists.txt), as Debian
  # links programs. Its .comment section (the compiler's version, once per
  # object) is dropped after stripping, as Debian's own packages drop it.
  install(TARGETS helligkeit_dynamic RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(CODE "
    execute_process(
      COMMAND [==[${CMAKE_OBJCOPY}]==] --remove-section=.comment
              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/helligkeit\"
      COMMAND_ERROR_IS_FATAL ANY)
  ")

  # What Debian asks of every package beside the program: the licence as a
  # machine-readable copyright file, the changelog and a manual page, the
  # last two compressed with gzip -9n (no name, no time stamp), so that
  # they stay the same from build to build. The changelog's newest entry is
  # signed by the package's maintainer.
  set(debian_dir ${PROJECT_BINARY_DIR}/debian)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${debian_dir}/changelog @ONLY)
  find_program(GZIP gzip REQUIRED)
  add_custom_command(
    OUTPUT ${debian_dir}/changelog.gz
    COMMAND ${GZIP} -9nkf ${debian_dir}/changelog
    DEPENDS ${debian_dir}/changelog
    VERBATIM)
  add_custom_command(
    OUTPUT ${debian_dir}/helligkeit.1.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/helligkeit.1 ${debian_dir}/
    COMMAND ${GZIP} -9nf ${debian_dir}/helligkeit.1
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/helligkeit.1
    VERBATIM)
  add_custom_target(package_docs ALL
                    DEPENDS ${debian_dir}/changelog.gz ${debian_dir}/helligkeit.1.gz)

  install(FILES ${PROJECT_SOURCE_DIR}/README.md
                ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
                ${debian_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${debian_dir}/helligkeit.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
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
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  # helligkeit.exe, README.md and LICENSE in one folder named like the zip,
  # helligkeit-<version>-win64: unpacked anywhere, it adds that folder and
  # nothing else.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends is read off the program by dpkg-shlibdeps (package dpkg-dev,
  # which needs `file` too): the libraries it links and the versions of
  # them that it needs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
# Stops packaging where a tool the package needs is missing.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_project.cmake)
include(CPack)
