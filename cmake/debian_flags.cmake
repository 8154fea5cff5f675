# Debian's build flags for the program the Debian package installs.
#
# Debian builds every package with the flags that dpkg-buildflags gives; with
# DEB_BUILD_MAINT_OPTIONS=hardening=+all they add to what the compiler does by
# default (position-independent executables) a stack protector,
# _FORTIFY_SOURCE, and immediate binding with read-only relocations. They are
# asked of dpkg-buildflags when configuring, so that the package follows the
# Debian release it is built on, with any DEB_*FLAGS_* settings of the
# machine.
#
# The stack protector and the fortified calls cost instructions on every
# run. build/helligkeit, which `make run` and the benchmark start, and the
# tests keep the project's flags, and the Debian program is compiled from
# copies of the project libraries it links, with Debian's flags added.
#
# Left out of dpkg-buildflags' output: -ffile-prefix-map and
# -fdebug-prefix-map, which map the folder that CMake was started from. The
# project maps its source and build folders itself (CMakeLists.txt), which
# keeps the build reproducible wherever it is configured from.
function(helligkeit_debian_flags out_compile out_link)
  find_program(DPKG_BUILDFLAGS dpkg-buildflags)
  if(NOT DPKG_BUILDFLAGS)
    set(${out_compile} "" PARENT_SCOPE)
    set(${out_link} "" PARENT_SCOPE)
    return()
  endif()
  foreach(kind IN ITEMS CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE flags
      OUTPUT_STRIP_TRAILING_WHITESPACE
      COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^-f(file|debug)-prefix-map=")
    set(${kind} ${flags})
  endforeach()
  set(${out_compile} ${CPPFLAGS} ${CXXFLAGS} PARENT_SCOPE)
  set(${out_link} ${LDFLAGS} PARENT_SCOPE)
endfunction()

# Properties that make a library what it is, copied as they are.
set(helligkeit_copied_properties
    INCLUDE_DIRECTORIES COMPILE_DEFINITIONS COMPILE_OPTIONS COMPILE_FEATURES
    CXX_STANDARD CXX_STANDARD_REQUIRED CXX_EXTENSIONS
    INTERFACE_INCLUDE_DIRECTORIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES
    INTERFACE_COMPILE_DEFINITIONS INTERFACE_COMPILE_OPTIONS INTERFACE_COMPILE_FEATURES
    INTERFACE_LINK_OPTIONS INTERFACE_LINK_DIRECTORIES)

# helligkeit_debian_copies(OUT ITEM...): ITEM..., link items of a target, with
# each static or object library of the project replaced by a copy of it
# (named <library>_debian) compiled with the flags in
# helligkeit_debian_compile_flags, made on first use. Everything else
# (system libraries, imported targets, flags) stays as it is.
function(helligkeit_debian_copies out)
  set(items "")
  foreach(item IN LISTS ARGN)
    # A static library's private dependencies reach its users as
    # $<LINK_ONLY:library>.
    if(item MATCHES "^\\$<LINK_ONLY:(.+)>$")
      helligkeit_debian_copies(inner ${CMAKE_MATCH_1})
      list(APPEND items "$<LINK_ONLY:${inner}>")
      continue()
    endif()
    if(NOT TARGET ${item})
      list(APPEND items ${item})
      continue()
    endif()
    get_target_property(imported ${item} IMPORTED)
    get_target_property(type ${item} TYPE)
    if(imported OR NOT type MATCHES "^(STATIC|OBJECT)_LIBRARY$")
      list(APPEND items ${item})
      continue()
    endif()
    set(copy ${item}_debian)
    list(APPEND items ${copy})
    if(TARGET ${copy})
      continue()
    endif()

    get_target_property(source_dir ${item} SOURCE_DIR)
    get_target_property(binary_dir ${item} BINARY_DIR)
    get_target_property(sources ${item} SOURCES)
    set(absolute_sources "")
    foreach(source IN LISTS sources)
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${source_dir} OUTPUT_VARIABLE in_source)
      if(NOT EXISTS ${in_source})
        # Generated in the build tree.
        cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${binary_dir} OUTPUT_VARIABLE in_source)
      endif()
      list(APPEND absolute_sources ${in_source})
    endforeach()
    string(REGEX REPLACE "_LIBRARY$" "" kind ${type})
    add_library(${copy} ${kind} ${absolute_sources})
    foreach(property IN LISTS helligkeit_copied_properties)
      get_target_property(value ${item} ${property})
      if(value STREQUAL "value-NOTFOUND")
        set(value "")
      endif()
      set_property(TARGET ${copy} PROPERTY ${property} "${value}")
    endforeach()
    target_compile_options(${copy} PRIVATE ${helligkeit_debian_compile_flags})
    # Beside the program, not at the top of the build tree.
    set_property(TARGET ${copy} PROPERTY ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/dynamic)
    foreach(property IN ITEMS LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(value ${item} ${property})
      if(value)
        helligkeit_debian_copies(value ${value})
        set_property(TARGET ${copy} PROPERTY ${property} "${value}")
      endif()
    endforeach()
  endforeach()
  set(${out} "${items}" PARENT_SCOPE)
endfunction()

# helligkeit_build_like_debian(TARGET): compiles and links TARGET with
# Debian's flags, against copies of the project libraries it links, made
# with those flags too. Returns the flags in HELLIGKEIT_DEBIAN_FLAGS, empty
# where dpkg-buildflags is missing; TARGET is then left as it is.
macro(helligkeit_build_like_debian target)
  helligkeit_debian_flags(helligkeit_debian_compile_flags helligkeit_debian_link_flags)
  set(HELLIGKEIT_DEBIAN_FLAGS ${helligkeit_debian_compile_flags} ${helligkeit_debian_link_flags})
  if(HELLIGKEIT_DEBIAN_FLAGS)
    target_compile_options(${target} PRIVATE ${helligkeit_debian_compile_flags})
    target_link_options(${target} PRIVATE ${helligkeit_debian_link_flags})
    get_target_property(helligkeit_libraries ${target} LINK_LIBRARIES)
    if(helligkeit_libraries)
      helligkeit_debian_copies(helligkeit_libraries ${helligkeit_libraries})
      set_property(TARGET ${target} PROPERTY LINK_LIBRARIES "${helligkeit_libraries}")
    endif()
  endif()
endmacro()
