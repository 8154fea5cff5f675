# CPack's External generator runs this once it has installed what the
# package holds into CPACK_TEMPORARY_DIRECTORY (cmake/installer.cmake sets
# it up): installer/make_msi.py builds the .msi from there, and CPack copies
# it to the package directory.
if(NOT CPACK_HELLIGKEIT_WIXL)
  message(FATAL_ERROR "wixl was not found when the build was configured: "
                      "install the Debian packages wixl and msitools and configure again")
endif()

# The program's folder in the staged tree, wherever CPack puts it.
file(GLOB_RECURSE staged_program "${CPACK_TEMPORARY_DIRECTORY}/helligkeit.exe")
if(NOT staged_program)
  message(FATAL_ERROR "no helligkeit.exe under ${CPACK_TEMPORARY_DIRECTORY}")
endif()
cmake_path(GET staged_program PARENT_PATH stage)

set(msi ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.msi)
execute_process(
  # By its own first line: Debian's Python, which python3-olefile is for.
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/make_msi.py
          --wixl ${CPACK_HELLIGKEIT_WIXL} --stage ${stage} --icon ${CPACK_HELLIGKEIT_ICON}
          --version ${CPACK_PACKAGE_VERSION} --manufacturer ${CPACK_PACKAGE_VENDOR}
          --source-dir ${CPACK_HELLIGKEIT_SOURCE_DIR} --out ${msi}
          --about-link ${CPACK_HELLIGKEIT_HOMEPAGE} --help-link ${CPACK_HELLIGKEIT_BUG_URL}
  COMMAND_ERROR_IS_FATAL ANY)
# Signed where the environment names a certificate; its program is already.
include(${CPACK_HELLIGKEIT_SOURCE_DIR}/cmake/authenticode.cmake)
helligkeit_sign(${msi} ${CPACK_HELLIGKEIT_HOMEPAGE})
set(CPACK_EXTERNAL_BUILT_PACKAGES ${msi})
