# Stand-ins for the Lua library, made from the binding's own list of names so they can never
# drift from it: kestrune_lua_stub(NAME [NO_MARKER] [MISSING name...]) builds NAME.so exporting
# every name but the missing ones, and the marker of a Lua built as C++ unless told not to.
file(READ ${PROJECT_SOURCE_DIR}/bind/LuaBind.h kestrune_lua_bind_header)
string(REGEX MATCHALL "X\\(lua[A-Za-z_]*\\)" kestrune_lua_entries "${kestrune_lua_bind_header}")
string(REGEX REPLACE "X\\(([A-Za-z_]+)\\)" "\\1" kestrune_lua_entries "${kestrune_lua_entries}")
list(LENGTH kestrune_lua_entries kestrune_lua_entry_count)
if(NOT kestrune_lua_entry_count EQUAL 121)
  message(FATAL_ERROR "expected 121 Lua entry points in bind/LuaBind.h, found ${kestrune_lua_entry_count}")
endif()

function(kestrune_lua_stub name)
  cmake_parse_arguments(ARG "NO_MARKER" "" "MISSING" ${ARGN})
  set(content "/* Generated from bind/LuaBind.h. */\n")
  if(NOT ARG_NO_MARKER)
    string(APPEND content "void kestrune_lua_unwinds_cxx_frames(void) {}\n")
  endif()
  foreach(entry ${kestrune_lua_entries})
    if(NOT entry IN_LIST ARG_MISSING)
      string(APPEND content "void ${entry}(void) {}\n")
    endif()
  endforeach()
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${name}.c CONTENT "${content}")
  add_library(${name} SHARED ${CMAKE_CURRENT_BINARY_DIR}/${name}.c
    ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/LuaStubLife.c)
  set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY
    ${CMAKE_CURRENT_BINARY_DIR}/lua_stubs RUNTIME_OUTPUT_DIRECTORY
    ${CMAKE_CURRENT_BINARY_DIR}/lua_stubs)
  if(WIN32)
    target_compile_options(${name} PRIVATE -include ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/WindowsEnv.h)
  endif()
endfunction()
