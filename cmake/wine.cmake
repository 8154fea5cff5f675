# Tests of the Windows build run under Wine, through cmake/wine-run (the
# toolchain file makes it the emulator of every Windows program).
if(NOT WIN32 OR NOT CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()

# ctest lists each test program's cases by running it, within a time limit,
# before any test starts. A fresh Wine prefix takes several seconds to
# create, more on a busy machine, so ctest first has the emulator wrapper
# create it and start Wine, without a limit.
set(emulator_command "")
foreach(word IN LISTS CMAKE_CROSSCOMPILING_EMULATOR)
  string(APPEND emulator_command " [==[${word}]==]")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/emulator_init.cmake
     "execute_process(COMMAND${emulator_command} --init)\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/emulator_init.cmake)
