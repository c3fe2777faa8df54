# Recipe of scripts/windows-deps: Lua 5.1 compiled as C++, so Lua errors unwind our frames:
#   bin/Lua51.dll, include/lua5.1/   the library the program loads, and its headers
#   bin/lib*.dll                     (x86) the compiler's run-time DLLs the two modules share
# shellcheck shell=bash disable=SC2034,SC2154 # settings read and variables set by windows-deps
debian_source=lua5.1
linux_package=liblua5.1-0-dev
inputs=(scripts/windows-lib.sh packaging/windows/lua_c_api.h packaging/windows/lua_marker.cpp
  packaging/windows/lua_setprogdir.c)

# exported_names DLL: the names in a DLL's export table, one a line.
exported_names() {
  "$triple-objdump" -p "$1" | awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
    on && /^[ \t]*\[ *[0-9]+\]/ { print $NF; next } { on = 0 }'
}

# The functions of the Lua 5.1 API, all the program may bind by name.
lua_api=(
  lua_newstate lua_close lua_newthread lua_atpanic lua_gettop lua_settop lua_pushvalue lua_remove
  lua_insert lua_replace lua_checkstack lua_xmove lua_isnumber lua_isstring lua_iscfunction
  lua_isuserdata lua_type lua_typename lua_equal lua_rawequal lua_lessthan lua_tonumber
  lua_tointeger lua_toboolean lua_tolstring lua_objlen lua_tocfunction lua_touserdata
  lua_tothread lua_topointer lua_pushnil lua_pushnumber lua_pushinteger lua_pushlstring
  lua_pushstring lua_pushvfstring lua_pushfstring lua_pushcclosure lua_pushboolean
  lua_pushlightuserdata lua_pushthread lua_gettable lua_getfield lua_rawget lua_rawgeti
  lua_createtable lua_newuserdata lua_getmetatable lua_getfenv lua_settable lua_setfield
  lua_rawset lua_rawseti lua_setmetatable lua_setfenv lua_call lua_pcall lua_cpcall lua_load
  lua_dump lua_yield lua_resume lua_status lua_gc lua_error lua_next lua_concat lua_getallocf
  lua_setallocf lua_getstack lua_getinfo lua_getlocal lua_setlocal lua_getupvalue lua_setupvalue
  lua_sethook lua_gethook lua_gethookmask lua_gethookcount luaopen_base luaopen_table luaopen_io
  luaopen_os luaopen_string luaopen_math luaopen_debug luaopen_package luaL_openlibs
  luaL_register luaL_getmetafield luaL_callmeta luaL_typerror luaL_argerror luaL_checklstring
  luaL_optlstring luaL_checknumber luaL_optnumber luaL_checkinteger luaL_optinteger
  luaL_checkstack luaL_checktype luaL_checkany luaL_newmetatable luaL_checkudata luaL_where
  luaL_error luaL_checkoption luaL_ref luaL_unref luaL_loadfile luaL_loadbuffer luaL_loadstring
  luaL_newstate luaL_gsub luaL_findtable luaL_buffinit luaL_prepbuffer luaL_addlstring
  luaL_addstring luaL_addvalue luaL_pushresult
)

# The DLL must export every function of the API unmangled (the program looks the names up with
# GetProcAddress), and nothing mangled or foreign. Two more names of the headers come along:
# luaL_openlib, the old name of luaL_register, and lua_setlevel, an internal hook; and the
# marker of a Lua compiled as C++, which the program looks for.
check_lua_exports() {
  local dll=$1 actual missing=() extra=() name
  [ "${#lua_api[@]}" -eq 121 ] || { echo "the API list has ${#lua_api[@]} names" >&2; return 1; }
  actual=" $(exported_names "$dll" | tr '\n' ' ') "
  for name in "${lua_api[@]}"; do
    case "$actual" in *" $name "*) ;; *) missing+=("$name") ;; esac
  done
  for name in $actual; do
    case " ${lua_api[*]} luaL_openlib lua_setlevel kestrune_lua_unwinds_cxx_frames " in *" $name "*) ;; *) extra+=("$name") ;; esac
  done
  if [ "${#missing[@]}" -gt 0 ] || [ "${#extra[@]}" -gt 0 ]; then
    echo "$dll does not export the Lua API as it should:" >&2
    [ "${#missing[@]}" -eq 0 ] || echo "  missing: ${missing[*]}" >&2
    [ "${#extra[@]}" -eq 0 ] || echo "  unexpected: ${extra[*]}" >&2
    return 1
  fi
}

build() {
  local lua=$src/src obj=$work
  mkdir -p "$dest/bin" "$dest/include/lua5.1"
  cp "$lua"/{lua.h,luaconf.h,lauxlib.h,lualib.h} "$dest/include/lua5.1/"
  local c kind name objects=()
  for c in "$lua"/*.c; do
    case "$(basename "$c")" in lua.c | luac.c | print.c) continue ;; esac
    # Each file defines LUA_CORE or LUA_LIB and its own name (loslib_c, ...) before it includes
    # luaconf.h, which reads them; the force-included header reads it first, so the same
    # definitions are given on the command line.
    if grep -q '^#define LUA_CORE' "$c"; then kind=-DLUA_CORE=; else kind=-DLUA_LIB=; fi
    name=$(basename "$c" .c)
    if [ "$name" = loadlib ]; then
      # Lua's setprogdir takes program paths of up to MAX_PATH bytes and raises for longer
      # ones: ours takes any length. The original function is cut out whole, up to its
      # closing brace at the start of a line, and ours goes in its place.
      awk -v ours="$root/packaging/windows/lua_setprogdir.c" '
        /^static void setprogdir \(lua_State \*L\) \{$/ {
          while ((getline line < ours) > 0) print line
          skipping = 1; replaced = 1; next }
        skipping { if ($0 == "}") skipping = 0; next }
        { print }
        END { if (!replaced) exit 1 }' "$c" >"$obj/loadlib.c"
      c=$obj/loadlib.c
    fi
    objects+=("$obj/$name.o")
    "$triple-g++-posix" -x c++ -O2 -Wall -DLUA_BUILD_AS_DLL "$kind" "-D${name}_c=" -I"$lua" \
      -include "$root/packaging/windows/lua_c_api.h" -c "$c" -o "${objects[-1]}"
  done
  objects+=("$obj/lua_marker.o")
  "$triple-g++-posix" -std=c++17 -O2 -Wall -Wextra -c "$root/packaging/windows/lua_marker.cpp" \
    -o "${objects[-1]}"
  # The same run-time libraries as the program (the toolchain file says which).
  local runtime=(-static -static-libgcc -static-libstdc++)
  if [ "$arch" = x86 ]; then runtime=(-shared-libgcc); fi
  "$triple-g++-posix" -shared -s -o "$obj/Lua51.dll" "${objects[@]}" "${runtime[@]}"
  check_lua_exports "$obj/Lua51.dll"
  # shellcheck disable=SC2046 # one name a word
  check_system_imports "$arch" "$obj/Lua51.dll" $(runtime_dll_names "$arch")
  cp "$obj/Lua51.dll" "$dest/bin/Lua51.dll"
  # The compiler's run-time DLLs that the program and the DLL import, stripped as shipped.
  local dll
  for dll in $(runtime_dll_names "$arch"); do
    "$triple-strip" --strip-unneeded -o "$dest/bin/$dll" "$(runtime_dll_path "$arch" "$dll")"
  done
}
