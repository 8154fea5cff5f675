# The documents the packages hold, made at build time (target `documents`)
# in documents/ of the build folder:
#
#   README.md, man/helligkeit.1            from README.md and docs/helligkeit.1
#   LIESMICH.md, man/de/helligkeit.1       the same in German: po4a translates
#                                          them with po/de.po (po/po4a.cfg)
#   man/helligkeit.3, library-windows.md   from docs/: the library's manual
#                                          page, and the README of the
#                                          Windows zip for C and C++
#   html/helligkeit.1.html, …              for the Windows zips: the manual
#                                          pages rendered by mandoc
#
# The sources name the version as @VERSION@ and the release's date as
# @DATE@, and each address by its placeholder on .invalid followed by a note
# in parentheses that it is one. tools/fill_document.py puts in the
# version, the date and the configured addresses, and drops the note of each
# address that is set, after translating: the .po files hold no version and
# no configured address, so a new version or address changes no
# translation. Included by cmake/packaging.cmake, which sets the addresses.

# NEWS.md, the changelog for users, newest version first, one section a
# version headed `## VERSION (YYYY-MM-DD)` and holding list items: its newest
# section is for the project's version.
file(READ ${PROJECT_SOURCE_DIR}/NEWS.md news)
string(REGEX MATCH "\n## ([^ \n]*) \\(([0-9-]*)\\)" newest "${news}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "NEWS.md's newest section is for version '${CMAKE_MATCH_1}', not for "
                      "${PROJECT_VERSION}, the project's version: add a section for it at the top")
endif()
set(news_date ${CMAKE_MATCH_2})

# When the sources were last changed: SOURCE_DATE_EPOCH (`make release` sets
# it to the last commit's time), else the last commit's time where the
# sources are a git checkout. No date in the documents is later: a version
# that NEWS.md dates after its last commit is dated by that commit.
set(source_epoch "$ENV{SOURCE_DATE_EPOCH}")
if(EXISTS ${PROJECT_SOURCE_DIR}/.git)
  find_package(Git QUIET)
endif()
if(source_epoch STREQUAL "")
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                    OUTPUT_VARIABLE source_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()
if(NOT source_epoch MATCHES "^[0-9]+$")
  set(source_epoch "")
endif()

# helligkeit_release_time(DAY VARIABLE): the time (seconds since 1970) at
# which a version of NEWS.md's day DAY counts as released: noon UTC of that
# day, or the sources' time where that is earlier.
function(helligkeit_release_time day variable)
  execute_process(COMMAND date -u -d "${day} 12:00" +%s OUTPUT_VARIABLE time
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  if(source_epoch AND source_epoch LESS time)
    set(time ${source_epoch})
  endif()
  set(${variable} ${time} PARENT_SCOPE)
endfunction()

helligkeit_release_time(${news_date} release_time)
execute_process(COMMAND date -u -d @${release_time} +%F OUTPUT_VARIABLE release_date
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
if(NOT release_date STREQUAL news_date)
  message(STATUS "NEWS.md dates ${PROJECT_VERSION} ${news_date}, after its last change: "
                 "the documents date it ${release_date}")
endif()

set(documents ${PROJECT_BINARY_DIR}/documents)
# What the filling takes, rewritten only when it changes: a new version,
# date or address remakes the documents.
file(CONFIGURE OUTPUT ${documents}/settings @ONLY CONTENT [[
VERSION @PROJECT_VERSION@
DATE @release_date@
ADDRESS @HOMEPAGE_placeholder@ @HELLIGKEIT_HOMEPAGE@
ADDRESS @SOURCE_URL_placeholder@ @HELLIGKEIT_SOURCE_URL@
ADDRESS @BUG_URL_placeholder@ @HELLIGKEIT_BUG_URL@
]])

# The translations: po4a writes each language's documents from the English
# ones and its .po file, without changing the .po files. Every paragraph is
# written, a stale one in English: the test translations_are_current fails
# while any is.
find_program(PO4A po4a)
set(translated ${documents}/po4a)
set(english_sources ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/helligkeit.1)
file(GLOB po_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/po/*.po ${PROJECT_SOURCE_DIR}/po/*.add)
# Source, then the document filled in from it.
set(fills ${PROJECT_SOURCE_DIR}/README.md README.md
          ${PROJECT_SOURCE_DIR}/docs/helligkeit.1 man/helligkeit.1
          ${PROJECT_SOURCE_DIR}/docs/helligkeit.3 man/helligkeit.3
          ${PROJECT_SOURCE_DIR}/docs/library-windows.md library-windows.md)
if(PO4A)
  add_custom_command(
    OUTPUT ${translated}/LIESMICH.md ${translated}/man/de/helligkeit.1
    COMMAND ${PO4A} --no-update --force --keep 0 --quiet --srcdir ${PROJECT_SOURCE_DIR}
            --destdir ${translated} ${PROJECT_SOURCE_DIR}/po/po4a.cfg
    DEPENDS ${PROJECT_SOURCE_DIR}/po/po4a.cfg ${po_files} ${english_sources}
    WORKING_DIRECTORY ${translated}
    VERBATIM)
  list(APPEND fills ${translated}/LIESMICH.md LIESMICH.md
                    ${translated}/man/de/helligkeit.1 man/de/helligkeit.1)
  file(MAKE_DIRECTORY ${translated})
else()
  message(NOTICE "po4a not found (package po4a): the German README and manual page are not "
                 "made, and no package can be built")
endif()

set(fill ${PROJECT_SOURCE_DIR}/tools/fill_document.py)
set(documents_made "")
while(fills)
  list(POP_FRONT fills source document)
  add_custom_command(
    OUTPUT ${documents}/${document}
    COMMAND ${Python3_EXECUTABLE} ${fill} ${documents}/settings ${source} ${documents}/${document}
    DEPENDS ${source} ${documents}/settings ${fill}
    VERBATIM)
  list(APPEND documents_made ${documents}/${document})
endwhile()

if(WIN32)
  # The Windows zips hold the manual pages as HTML, which any browser opens:
  # mandoc renders each filled-in page as html/helligkeit.SECTION.html, the
  # German one as helligkeit.SECTION.de.html.
  find_program(MANDOC mandoc REQUIRED)
  foreach(page IN LISTS documents_made)
    if(page MATCHES "/man/(de/)?helligkeit\\.([1-9])$")
      string(REPLACE "de/" ".de" language "${CMAKE_MATCH_1}")
      set(html ${documents}/html/helligkeit.${CMAKE_MATCH_2}${language}.html)
      add_custom_command(
        OUTPUT ${html}
        COMMAND sh -c [["$0" -K utf-8 -T html "$1" > "$2"]] ${MANDOC} ${page} ${html}
        DEPENDS ${page}
        VERBATIM)
      list(APPEND documents_made ${html})
    endif()
  endforeach()
  file(MAKE_DIRECTORY ${documents}/html)
endif()
add_custom_target(documents ALL DEPENDS ${documents_made})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/NEWS.md)
