# Read by cpack before it writes a package (CPACK_PROJECT_CONFIG_FILE).

# The zip and the installer hold the German README too, which po4a makes
# when the build is configured with it.
if(NOT CPACK_HELLIGKEIT_PO4A)
  message(FATAL_ERROR "The packages hold the German README and manual page, which po4a makes: "
                      "install it with `apt-get install po4a` (as root), configure again and "
                      "package again.")
endif()

# The Windows developers' zip (package preset zip-dev, which sets
# CPACK_HELLIGKEIT_DEV_ZIP): the component dev_zip alone, in a folder and
# zip named helligkeit-<version>-win64-dev.
if(CPACK_HELLIGKEIT_DEV_ZIP)
  list(GET CPACK_INSTALL_CMAKE_PROJECTS 0 build)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${build};helligkeit;dev_zip;/")
  string(APPEND CPACK_PACKAGE_FILE_NAME -dev)
endif()
