# Installation and packages (CPack). The `package` target of a Linux build
# writes a Debian package for its machine, helligkeit_<version>_<arch>.deb
# (amd64 natively, arm64 or armhf cross-compiled), and that of a Windows
# build a zip, helligkeit-<version>-win64.zip, each in its build folder; the
# `deb`, `deb-arm64`, `deb-armhf` and `zip` workflow presets write the same
# packages from build folders of their own without the tests (into build/
# and build-win64/).
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

# The README and the manual page as the packages hold them: the sources show
# the placeholders, the packages the addresses set, and once no placeholder
# is left they drop each line that speaks of placeholders (and an empty line
# after it).
set(packaged ${PROJECT_BINARY_DIR}/packaged)
foreach(document README.md docs/helligkeit.1)
  file(READ ${PROJECT_SOURCE_DIR}/${document} text)
  set(placeholder_left FALSE)
  foreach(name HOMEPAGE SOURCE_URL BUG_URL)
    string(REPLACE "${${name}_placeholder}" "${HELLIGKEIT_${name}}" text "${text}")
    if("${HELLIGKEIT_${name}}" STREQUAL "${${name}_placeholder}")
      set(placeholder_left TRUE)
    endif()
  endforeach()
  if(NOT placeholder_left)
    string(REGEX REPLACE "[^\n]*[Pp]laceholder[^\n]*\n\n?" "" text "${text}")
  endif()
  # Rewritten only where it changes (configure_file copies only then).
  cmake_path(GET document FILENAME name)
  file(WRITE ${packaged}/${name}.new "${text}")
  configure_file(${packaged}/${name}.new ${packaged}/${name} COPYONLY)
endforeach()

# NEWS.md, the changelog for users, newest version first, one section a
# version headed `## VERSION (YYYY-MM-DD)` and holding list items: its newest
# section is for the project's version.
file(READ ${PROJECT_SOURCE_DIR}/NEWS.md news)
string(REGEX MATCH "\n## ([^ \n]*)" newest "${news}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "NEWS.md's newest section is for version '${CMAKE_MATCH_1}', not for "
                      "${PROJECT_VERSION}, the project's version: add a section for it at the top")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/helligkeit.1
             ${PROJECT_SOURCE_DIR}/NEWS.md)

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
  # A zip to unpack anywhere: the program, the README, the changelog and the
  # licence side by side. The program is signed where the environment names
  # a certificate (cmake/authenticode.cmake), before the zip or the
  # installer takes it.
  install(TARGETS helligkeit RUNTIME DESTINATION . COMPONENT program)
  install(CODE "
    set(ENV{SOURCE_DATE_EPOCH} \"\${helligkeit_epoch}\")
    include([==[${CMAKE_CURRENT_LIST_DIR}/authenticode.cmake]==])
    helligkeit_sign(\"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/helligkeit.exe\"
                    [==[${HELLIGKEIT_HOMEPAGE}]==])
  " COMPONENT program)
  install(FILES ${packaged}/README.md ${PROJECT_SOURCE_DIR}/NEWS.md ${PROJECT_SOURCE_DIR}/LICENSE
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
  # last two compressed with gzip -9n (no name, no time stamp), so that
  # they stay the same from build to build.
  #
  # A native package has one changelog, changelog.gz in Debian's format: it
  # is made from NEWS.md, an entry for each section with the same items,
  # dated at noon (UTC) of the section's day and signed by the maintainer.
  set(debian_dir ${PROJECT_BINARY_DIR}/debian)
  set(changelog "")
  string(APPEND news "\n## ") # a last heading ends the last section
  string(FIND "${news}" "\n## " start)
  while(TRUE)
    math(EXPR start "${start} + 4")
    string(SUBSTRING "${news}" ${start} -1 news)
    string(FIND "${news}" "\n## " end)
    if(end EQUAL -1)
      break()
    endif()
    string(SUBSTRING "${news}" 0 ${end} section)
    if(NOT section MATCHES "^([^ \n]+) \\(([0-9]+-[0-9]+-[0-9]+)\\)\n(.*)$")
      message(FATAL_ERROR "NEWS.md: a section's heading is not `## VERSION (YYYY-MM-DD)`: ${section}")
    endif()
    set(version ${CMAKE_MATCH_1})
    string(STRIP "${CMAKE_MATCH_3}" items)
    execute_process(COMMAND date -u -R -d "${CMAKE_MATCH_2} 12:00" OUTPUT_VARIABLE date
                    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    # `- ` starts an item and two spaces continue it; Debian's changelog
    # indents both by two more and starts an item with `* `.
    string(REPLACE "\n" "\n  " items "\n${items}")
    string(REPLACE "\n  - " "\n  * " items "${items}")
    if(items MATCHES "\n  [^ *\n]")
      message(FATAL_ERROR "NEWS.md: the section for ${version} holds more than list items")
    endif()
    string(REGEX REPLACE "\n  \n" "\n\n" items "${items}")
    string(APPEND changelog "helligkeit (${version}) unstable; urgency=medium\n${items}\n\n"
                            " -- ${HELLIGKEIT_MAINTAINER}  ${date}\n\n")
    set(start ${end})
  endwhile()
  string(STRIP "${changelog}" changelog)
  file(WRITE ${debian_dir}/changelog.new "${changelog}\n")
  configure_file(${debian_dir}/changelog.new ${debian_dir}/changelog COPYONLY)
  find_program(GZIP gzip REQUIRED)
  add_custom_command(
    OUTPUT ${debian_dir}/changelog.gz
    COMMAND ${GZIP} -9nkf ${debian_dir}/changelog
    DEPENDS ${debian_dir}/changelog
    VERBATIM)
  add_custom_command(
    OUTPUT ${debian_dir}/helligkeit.1.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${packaged}/helligkeit.1 ${debian_dir}/
    COMMAND ${GZIP} -9nf ${debian_dir}/helligkeit.1
    DEPENDS ${packaged}/helligkeit.1
    VERBATIM)
  add_custom_target(package_docs ALL
                    DEPENDS ${debian_dir}/changelog.gz ${debian_dir}/helligkeit.1.gz)

  install(FILES ${packaged}/README.md
                ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
                ${debian_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT program)
  install(FILES ${debian_dir}/helligkeit.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT program)
  # The library's manual page, for those who build against it.
  add_custom_command(
    OUTPUT ${debian_dir}/helligkeit.3.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/helligkeit.3 ${debian_dir}/
    COMMAND ${GZIP} -9nf ${debian_dir}/helligkeit.3
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/helligkeit.3
    VERBATIM)
  add_custom_target(library_docs ALL DEPENDS ${debian_dir}/helligkeit.3.gz)
  install(FILES ${debian_dir}/helligkeit.3.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man3
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
  # helligkeit.exe, README.md, NEWS.md and LICENSE in one folder named like the zip,
  # helligkeit-<version>-win64: unpacked anywhere, it adds that folder and
  # nothing else.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
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
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_project.cmake)
# The staged folders open to all to read, whatever the umask.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_folders.cmake)
include(CPack)
