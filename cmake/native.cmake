# The native Linux build: the plug-in's sources against the fake game, for tests and tools.
include(ExternalProject)
enable_testing()

add_library(plugin_core STATIC ${PLUGIN_SOURCES})
target_include_directories(plugin_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(plugin_core PUBLIC simpleini)

add_library(fakegame STATIC ${SIM_GAME_SOURCES} sim/host_native.cpp)
target_include_directories(fakegame PUBLIC ${CMAKE_SOURCE_DIR}/sim ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(fakegame PUBLIC simpleini)

# The same run as game-sim.exe with the plug-in's code and the world in one process.
add_executable(sim-native sim/game_sim_main.cpp sim/launcher_native.cpp)
target_link_libraries(sim-native PRIVATE plugin_core fakegame)

option(BUILD_WINDOWS_PLUGIN "Cross-build the Windows plug-in with MinGW-w64 as well" ON)
if(BUILD_WINDOWS_PLUGIN)
  set(WINDOWS_BUILD_DIR ${CMAKE_BINARY_DIR}/windows)
  ExternalProject_Add(windows
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${WINDOWS_BUILD_DIR}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64.cmake
               -DCMAKE_BUILD_TYPE=Release
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
  set(PLUGIN_ASI ${WINDOWS_BUILD_DIR}/${PLUGIN_NAME}.asi)
  set(GAME_SIM_EXE ${WINDOWS_BUILD_DIR}/game-sim.exe)
  set(STAND_IN_HOST_DLL ${WINDOWS_BUILD_DIR}/ScriptHookRDR2.dll)
endif()

add_subdirectory(tests)
add_subdirectory(benchmarks)
