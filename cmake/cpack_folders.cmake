# Run by cpack once it has staged what a package holds, before it packs it
# (CPACK_PRE_BUILD_SCRIPTS): every staged folder open to all to read (0755),
# as a Debian package's folders are. The install makes folders as mkdir
# does, under the umask of whoever builds, which may be stricter.
file(CHMOD_RECURSE ${CPACK_TEMPORARY_INSTALL_DIRECTORY} DIRECTORY_PERMISSIONS
     OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
