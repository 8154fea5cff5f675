# Run by cpack once it has staged what a package holds, before it packs it
# (CPACK_PRE_BUILD_SCRIPTS): every staged folder open to all to read
# (0755). The install makes folders as mkdir does, under the umask of
# whoever builds, which may be stricter. Folders alone.
file(GLOB_RECURSE staged LIST_DIRECTORIES true ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*)
set(folders ${CPACK_TEMPORARY_INSTALL_DIRECTORY})
foreach(path IN LISTS staged)
  if(IS_DIRECTORY ${path} AND NOT IS_SYMLINK ${path})
    list(APPEND folders ${path})
  endif()
endforeach()
file(CHMOD ${folders} DIRECTORY_PERMISSIONS
     OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
