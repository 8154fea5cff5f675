# Installation and packages (CPack): the program and the README. On Linux,
# `cmake --workflow --preset deb` writes a Debian package,
# build/helligkeit_<version>_amd64.deb; for Windows, `--preset zip` writes
# build-win64/helligkeit-<version>-win64.zip. Both hold the program stripped.
include(GNUInstallDirs)
# Installing (and so packaging) needs only what is installed to be built,
# not the tests: the deb and zip build presets build just that.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
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
  # A zip to unpack anywhere: the program and the README side by side.
  install(TARGETS helligkeit RUNTIME DESTINATION .)
  install(CODE [[
    if(helligkeit_unset_epoch)
      unset(ENV{SOURCE_DATE_EPOCH})
    endif()
  ]])
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
else()
  install(TARGETS helligkeit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME helligkeit)
set(CPACK_PACKAGE_VENDOR "helligkeit maintainers")
set(CPACK_PACKAGE_CONTACT "helligkeit maintainers <maintainers@users.noreply.c-seed-17d6a99f.example>")
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
  # helligkeit.exe and README.md at the top of the zip, with no folder
  # around them: Windows' "Extract all" makes that folder already.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  if(HELLIGKEIT_STATIC)
    # The program is linked statically: it depends on no other package.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
  else()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
endif()
include(CPack)
