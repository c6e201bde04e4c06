# The native Linux build: the plug-in's sources against the fake game, for tests and tools.
include(ExternalProject)
enable_testing()

# The fuzzing configuration: everything it builds carries libFuzzer's coverage hooks and the
# sanitizers, and fuzz/ adds the targets. Only clang has libFuzzer.
option(FUZZ "Build the libFuzzer targets in fuzz/ (clang only)" OFF)
set(FUZZ_INSTRUMENTED OFF)
if(FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(FUZZ_INSTRUMENTED ON)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined,float-cast-overflow
                      -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined,float-cast-overflow)
elseif(FUZZ)
  message(WARNING "FUZZ needs clang; no fuzz targets in this configuration")
endif()

add_library(plugin_core STATIC ${PLUGIN_SOURCES})
target_include_directories(plugin_core PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
target_compile_definitions(plugin_core PUBLIC ${PLUGIN_DEFINITIONS})
target_link_libraries(plugin_core PUBLIC simpleini)

# The capture flavour of the same sources, for its round-trip test.
set(capture_core_sources ${PLUGIN_SOURCES} ${CAPTURE_SOURCES})
list(REMOVE_DUPLICATES capture_core_sources)
add_library(plugin_core_capture STATIC ${capture_core_sources})
target_include_directories(plugin_core_capture PUBLIC ${CMAKE_SOURCE_DIR}/src
                                                      ${CMAKE_BINARY_DIR}/generated)
target_compile_definitions(plugin_core_capture PUBLIC PLUGIN_CAPTURE)
target_link_libraries(plugin_core_capture PUBLIC simpleini)

add_library(fakegame STATIC ${SIM_GAME_SOURCES} sim/host/host_native.cpp)
target_include_directories(fakegame PUBLIC ${SIM_INCLUDE_DIRS} ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(fakegame PUBLIC simpleini nlohmann_json_headers)

# The same run as game-sim.exe with the plug-in's code and the world in one process. Its symbols
# are exported so that a crash can name the function it happened in.
set(SIM_NATIVE_SOURCES ${CMAKE_SOURCE_DIR}/sim/runner/game_sim_main.cpp
                       ${CMAKE_SOURCE_DIR}/sim/runner/game_sim_options.cpp
                       ${CMAKE_SOURCE_DIR}/sim/runner/launcher_native.cpp
                       ${CMAKE_SOURCE_DIR}/sim/runner/stop_line.cpp)
add_executable(sim-native ${SIM_NATIVE_SOURCES})
target_link_libraries(sim-native PRIVATE plugin_core fakegame ${CMAKE_DL_LIBS})
set_target_properties(sim-native PROPERTIES ENABLE_EXPORTS ON)

# The same with the capture flavour: a capture of a scene, written as the capture DLL writes it.
add_executable(sim-native-capture ${SIM_NATIVE_SOURCES})
target_link_libraries(sim-native-capture PRIVATE plugin_core_capture fakegame ${CMAKE_DL_LIBS})
set_target_properties(sim-native-capture PROPERTIES ENABLE_EXPORTS ON)

# docs/tuning.svg: what the Angle setting does, from the plug-in's own accuracy code.
add_executable(tuning-chart tools/tuning_chart.cpp)
target_link_libraries(tuning-chart PRIVATE plugin_core fakegame)

# The arc cosine against the correctly rounded one, every float of [0, 1] with the argument 1
# (docs/performance.md). Its quadruple-precision reference comes with GCC only.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_executable(arc-cosine-check tests/accuracy/arc_cosine_check.cpp)
  target_link_libraries(arc-cosine-check PRIVATE plugin_core quadmath)
endif()

option(BUILD_WINDOWS_PLUGIN "Cross-build the Windows plug-in with MinGW-w64 as well" ON)
if(BUILD_WINDOWS_PLUGIN)
  set(WINDOWS_BUILD_DIR ${CMAKE_BINARY_DIR}/windows)
  ExternalProject_Add(windows
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${WINDOWS_BUILD_DIR}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64.cmake
               -DCMAKE_BUILD_TYPE=Release
               -DWARNINGS_AS_ERRORS=${WARNINGS_AS_ERRORS}
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
  # The capture flavour's DLL beside it, under the same file name: only the plug-in is built.
  set(WINDOWS_CAPTURE_BUILD_DIR ${CMAKE_BINARY_DIR}/windows-capture)
  # Under make, $(MAKE) shares the parent's job slots; other generators build it on their own.
  set(capture_build_command ${CMAKE_COMMAND} --build <BINARY_DIR> --target plugin)
  if(CMAKE_GENERATOR MATCHES "Makefiles")
    set(capture_build_command "$(MAKE)" plugin)
  endif()
  ExternalProject_Add(windows-capture
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${WINDOWS_CAPTURE_BUILD_DIR}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64.cmake
               -DCMAKE_BUILD_TYPE=Release
               -DWARNINGS_AS_ERRORS=${WARNINGS_AS_ERRORS}
               -DCAPTURE=ON
    BUILD_COMMAND ${capture_build_command}
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
  set(CAPTURE_PLUGIN_ASI ${WINDOWS_CAPTURE_BUILD_DIR}/${PLUGIN_NAME}.asi)
  set(PLUGIN_ASI ${WINDOWS_BUILD_DIR}/${PLUGIN_NAME}.asi)
  set(GAME_SIM_EXE ${WINDOWS_BUILD_DIR}/game-sim.exe)
  set(STAND_IN_HOST_DLL ${WINDOWS_BUILD_DIR}/ScriptHookRDR2.dll)
endif()

add_subdirectory(tests)
add_subdirectory(fuzz)
add_subdirectory(benchmarks)
