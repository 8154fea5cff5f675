# helligkeit_version_resource(TARGET FILE_NAME DESCRIPTION [ICON FILE])
# gives the Windows program or DLL TARGET, FILE_NAME once built, the version
# resource that Explorer's Properties show, with the project's version
# (cmake/version.rc.in): DESCRIPTION is its FileDescription (German, as the
# program speaks), and ICON the .ico of its first icon group, the one
# Explorer shows for a program. A build of uncommitted changes
# (HELLIGKEIT_DIRTY) is a private build: the flag asks for a string that
# says what it is.
function(helligkeit_version_resource target file_name file_description)
  cmake_parse_arguments(PARSE_ARGV 3 resource "" "ICON" "")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(file_type VFT_DLL)
  else()
    set(file_type VFT_APP)
  endif()
  set(file_flags 0)
  set(private_build "")
  if(HELLIGKEIT_DIRTY)
    set(file_flags VS_FF_PRIVATEBUILD)
    set(private_build "VALUE \"PrivateBuild\", \"mit nicht eingecheckten Änderungen\"")
  endif()
  set(icon "")
  if(resource_ICON)
    set(icon "// The curve drawn small (tools/plot_curve.py).\n1 ICON \"${resource_ICON}\"")
  endif()
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${script} @ONLY)
  if(resource_ICON)
    set_source_files_properties(${script} PROPERTIES OBJECT_DEPENDS ${resource_ICON})
  endif()
  target_sources(${target} PRIVATE ${script})
endfunction()
