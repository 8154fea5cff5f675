# The Windows installer: `cmake --workflow --preset msi` writes
# build-win64/helligkeit-<version>-win64.msi. CPack's External generator
# installs what the zip holds into a staging folder and hands it to
# installer/cpack_msi.cmake, which builds the installer from it with wixl
# (Debian packages wixl and msitools). Included by cmake/packaging.cmake
# before its include(CPack), which writes these settings into
# CPackConfig.cmake.
if(NOT WIN32)
  return()
endif()

find_program(WIXL wixl)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/installer/cpack_msi.cmake)
# What that script needs besides CPack's own settings.
set(CPACK_HELLIGKEIT_WIXL ${WIXL})
set(CPACK_HELLIGKEIT_ICON ${HELLIGKEIT_ICON})
set(CPACK_HELLIGKEIT_SOURCE_DIR ${PROJECT_SOURCE_DIR})
# Installed apps links the home page (about) and the bug reports (help).
set(CPACK_HELLIGKEIT_HOMEPAGE ${HELLIGKEIT_HOMEPAGE})
set(CPACK_HELLIGKEIT_BUG_URL ${HELLIGKEIT_BUG_URL})
