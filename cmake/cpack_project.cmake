# Read by cpack before it writes a package (CPACK_PROJECT_CONFIG_FILE).
#
# The Debian package's Depends is read off its program by dpkg-shlibdeps,
# which CPack runs after asking `file` which files are programs. Without
# dpkg-shlibdeps CPack would write a package with no Depends at all, and
# without `file` it stops naming no package to install: stop here instead,
# saying which Debian package brings the tool. The variables are the ones
# CPack's Debian generator looks the tools up in, so it runs the very tools
# found here.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(SHLIBDEPS_EXECUTABLE dpkg-shlibdeps)
  find_program(FILE_EXECUTABLE file)
  set(missing "")
  set(packages "")
  if(NOT SHLIBDEPS_EXECUTABLE)
    list(APPEND missing "dpkg-shlibdeps (package dpkg-dev)")
    list(APPEND packages dpkg-dev)
  endif()
  if(NOT FILE_EXECUTABLE)
    list(APPEND missing "file (package file)")
    list(APPEND packages file)
  endif()
  if(missing)
    list(JOIN missing " and " missing)
    list(JOIN packages " " packages)
    message(FATAL_ERROR
      "The Debian package's Depends is computed with dpkg-shlibdeps and file; "
      "not found: ${missing}. Install with `apt-get install ${packages}` (as root) "
      "and package again.")
  endif()
endif()
