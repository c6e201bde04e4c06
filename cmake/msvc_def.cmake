# Run as a build step (cmake -DIN=... -DOUT=... -P msvc_def.cmake): the .def that "link /lib"
# wants from ScriptHookRDR2.def, whose lines alias plain names to the decorated ones for MinGW.
# lib /def lists the decorated names as they are: MSVC's objects already refer to them.
file(STRINGS "${IN}" host_def_lines)
set(msvc_def "LIBRARY ScriptHookRDR2.dll\nEXPORTS\n")
foreach(line IN LISTS host_def_lines)
  if(line MATCHES "== *(.+)$")
    string(APPEND msvc_def "${CMAKE_MATCH_1}\n")
  endif()
endforeach()
file(WRITE "${OUT}" "${msvc_def}")
