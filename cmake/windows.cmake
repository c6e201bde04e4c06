# The Windows plug-in, vok.quillmarrowfendcask.asi, importing the host by its decorated names.
set(HOST_DEF ${CMAKE_SOURCE_DIR}/src/host/ScriptHookRDR2.def)

# MSVC's windows.h defines min and max as macros in C++ too, which breaks std::min and std::max;
# and the parts of it that nothing here uses stay out.
add_compile_definitions(NOMINMAX WIN32_LEAN_AND_MEAN)

if(MSVC)
  # A plug-in that needs the Visual C++ run-time DLLs fails to load where they are missing.
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  # MSVC emits the decorated names itself; lib /def wants them listed as they are. The list is
  # made at build time, so that an edit of the .def reaches the import library without
  # re-configuring. "link /lib" is lib.exe, found wherever the linker is.
  set(msvc_def ${CMAKE_BINARY_DIR}/ScriptHookRDR2.msvc.def)
  add_custom_command(OUTPUT ${msvc_def}
    COMMAND ${CMAKE_COMMAND} -DIN=${HOST_DEF} -DOUT=${msvc_def}
            -P ${CMAKE_SOURCE_DIR}/cmake/msvc_def.cmake
    DEPENDS ${HOST_DEF} ${CMAKE_SOURCE_DIR}/cmake/msvc_def.cmake VERBATIM)
  set(HOST_IMPORT_LIB ${CMAKE_BINARY_DIR}/ScriptHookRDR2.lib)
  add_custom_command(OUTPUT ${HOST_IMPORT_LIB}
    COMMAND ${CMAKE_LINKER} /lib /nologo /machine:x64 /def:${msvc_def} /out:${HOST_IMPORT_LIB}
    DEPENDS ${msvc_def} VERBATIM)
else()
  set(HOST_IMPORT_LIB ${CMAKE_BINARY_DIR}/libScriptHookRDR2.a)
  add_custom_command(OUTPUT ${HOST_IMPORT_LIB}
    COMMAND ${CMAKE_DLLTOOL} -d ${HOST_DEF} -l ${HOST_IMPORT_LIB}
    DEPENDS ${HOST_DEF})
endif()
add_custom_target(host_import_lib DEPENDS ${HOST_IMPORT_LIB})

enable_language(RC)
set(VERSION_MAJOR ${PROJECT_VERSION_MAJOR})
set(VERSION_MINOR ${PROJECT_VERSION_MINOR})
set(VERSION_PATCH ${PROJECT_VERSION_PATCH})
configure_file(src/script/version.rc.in ${CMAKE_BINARY_DIR}/version.rc @ONLY)

add_library(plugin SHARED ${PLUGIN_SOURCES} src/script/dll_main.cpp src/host/platform_windows.cpp
                          ${CMAKE_BINARY_DIR}/version.rc)
set_target_properties(plugin PROPERTIES OUTPUT_NAME ${PLUGIN_NAME} PREFIX "" SUFFIX ".asi")
target_include_directories(plugin PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
target_compile_definitions(plugin PRIVATE ${PLUGIN_DEFINITIONS})
add_dependencies(plugin host_import_lib)
target_link_libraries(plugin PRIVATE simpleini ${HOST_IMPORT_LIB})
if(NOT MSVC)
  # A plug-in that needs libstdc++-6.dll or libgcc_s_seh-1.dll does not load from a game folder.
  # Players get it without symbols and without a link time stamp, so that a rebuild from the
  # same sources gives the same file.
  target_link_options(plugin PRIVATE -static -static-libgcc -static-libstdc++
                      -Wl,--exclude-all-symbols -s -Wl,--no-insert-timestamp)
  target_sources(plugin PRIVATE src/host/mingw_terminate.cpp src/host/mingw_pool_release.cpp)
endif()

if(NOT MSVC)
  # The simulated game for Wine: game-sim.exe stands where the game's executable stands and
  # loads the stand-in ScriptHookRDR2.dll, which carries the fake game and runs scripts in fibers.
  set(static_runtime -static -static-libgcc -static-libstdc++)
  add_library(stand_in_host SHARED ${SIM_GAME_SOURCES} sim/host/host_dll.cpp
                                   sim/host/stand_in_host.def sim/host/stand_in_host.rc)
  set_target_properties(stand_in_host PROPERTIES OUTPUT_NAME ScriptHookRDR2 PREFIX ""
                        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/stand_in_host)
  target_include_directories(stand_in_host PRIVATE ${SIM_INCLUDE_DIRS} ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(stand_in_host PRIVATE simpleini nlohmann_json_headers)
  target_link_options(stand_in_host PRIVATE ${static_runtime})

  add_executable(game-sim sim/runner/game_sim_main.cpp sim/runner/game_sim_options.cpp
                          sim/runner/launcher_windows.cpp sim/runner/stop_line.cpp sim/runner/output_file.cpp
                          sim/runner/files.cpp sim/host/heap_watch.cpp sim/runner/game_sim.rc
                          sim/capture/capture_file.cpp sim/capture/capture_input.cpp
                          sim/capture/capture_dump.cpp)
  target_include_directories(game-sim PRIVATE ${SIM_INCLUDE_DIRS} ${CMAKE_SOURCE_DIR}/src)
  # wmain: the command line in Unicode, so that paths in any script reach it whole.
  target_link_options(game-sim PRIVATE ${static_runtime} -municode)

  # A plug-in that faults or never yields on purpose: the end-to-end tests of a crashed or hung run.
  add_library(misbehaving_plugin SHARED tests/sim/misbehaving_plugin.cpp)
  set_target_properties(misbehaving_plugin PROPERTIES PREFIX "" SUFFIX ".asi")
  target_include_directories(misbehaving_plugin PRIVATE ${CMAKE_SOURCE_DIR}/src)
  add_dependencies(misbehaving_plugin host_import_lib)
  target_link_libraries(misbehaving_plugin PRIVATE ${HOST_IMPORT_LIB})
  target_link_options(misbehaving_plugin PRIVATE ${static_runtime})

  # ./bench times the plug-in as shipped with this: it loads the stand-in host and the plug-in
  # from its own folder, as game-sim.exe does, and runs the script and its floor in fibers.
  add_executable(dll-bench benchmarks/dll_bench_windows.cpp)
  target_include_directories(dll-bench PRIVATE ${SIM_INCLUDE_DIRS} ${CMAKE_SOURCE_DIR}/src)
  target_link_options(dll-bench PRIVATE ${static_runtime})

  # The arc cosine against the correctly rounded one and this run-time's acosf, under Wine.
  add_executable(arc-cosine-check tests/accuracy/arc_cosine_check.cpp src/accuracy/arc_cosine.cpp)
  target_include_directories(arc-cosine-check PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(arc-cosine-check PRIVATE quadmath)
  target_link_options(arc-cosine-check PRIVATE ${static_runtime})
endif()
