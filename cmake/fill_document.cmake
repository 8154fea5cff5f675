# Fills a document in for the packages (cmake/documents.cmake runs it):
#
#   cmake -D SETTINGS=documents/settings.cmake -D IN=SOURCE -D OUT=DOCUMENT -P fill_document.cmake
#
# @VERSION@ and @DATE@ become the version and the release's date. Each
# address that is configured takes the place of its placeholder, and the
# note in parentheses after the placeholder, which says what it is, goes;
# the note stays beside each address that is still a placeholder. In a
# manual page, spaces at the ends of lines (which po4a leaves after some
# requests) go too.
cmake_minimum_required(VERSION 3.25)
include(${SETTINGS})
file(READ ${IN} text)

set(pairs ${ADDRESSES})
while(pairs)
  list(POP_FRONT pairs placeholder address)
  if(NOT address STREQUAL placeholder)
    string(REGEX REPLACE "[][\\.*+?^$()|]" "\\\\\\0" pattern "${placeholder}")
    string(REGEX REPLACE "(${pattern}>?)[ \n]+\\([^)]*\\)" "\\1" text "${text}")
    string(REPLACE "${placeholder}" "${address}" text "${text}")
  endif()
endwhile()

string(REPLACE "@VERSION@" "${VERSION}" text "${text}")
string(REPLACE "@DATE@" "${DATE}" text "${text}")
if(OUT MATCHES "\\.[1-9]$")
  string(REGEX REPLACE "[ \t]+\n" "\n" text "${text}")
endif()
if(text MATCHES "@[A-Z_]+@")
  message(FATAL_ERROR "${IN}: ${CMAKE_MATCH_0} is not known to cmake/fill_document.cmake")
endif()
file(WRITE ${OUT} "${text}")
