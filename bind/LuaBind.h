// Run-time binding of the Lua 5.1 library: the library is loaded by file name, its whole
// programming interface is resolved by name into typed entry points, and the routines of the
// header macros are offered beside them.
//
// Lua's own headers are read inside namespace LuaHeader only for their types; nothing of them
// is linked. The entry points live in namespace LuaBind under the exact API names (at link
// level they must not look like the library's functions), so script code says
// `using namespace LuaBind;` and reads like ordinary Lua C code.
#pragma once

#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/Platform.h"

namespace LuaHeader {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}  // namespace LuaHeader

// The header's function-like macros would swallow the routines of the same names below.
#undef lua_upvalueindex
#undef lua_pop
#undef lua_newtable
#undef lua_register
#undef lua_pushcfunction
#undef lua_strlen
#undef lua_isfunction
#undef lua_istable
#undef lua_islightuserdata
#undef lua_isnil
#undef lua_isboolean
#undef lua_isthread
#undef lua_isnone
#undef lua_isnoneornil
#undef lua_pushliteral
#undef lua_setglobal
#undef lua_getglobal
#undef lua_tostring
#undef lua_open
#undef lua_getregistry
#undef lua_getgccount
#undef luaL_getn
#undef luaL_setn
#undef luaL_argcheck
#undef luaL_checkstring
#undef luaL_optstring
#undef luaL_checkint
#undef luaL_optint
#undef luaL_checklong
#undef luaL_optlong
#undef luaL_typename
#undef luaL_dofile
#undef luaL_dostring
#undef luaL_getmetatable
#undef luaL_opt
#undef luaL_addchar
#undef luaL_putchar
#undef luaL_addsize
#undef lua_ref
#undef lua_unref
#undef lua_getref
#undef luaI_openlib
#undef lua_assert

// The 121 names of the interface, in the order of resolution: a missing name earlier in this
// list is the one reported.
// clang-format off
#define KESTRUNE_LUA_ENTRY_POINTS(X) \
  /* core functions (79) */ \
  X(lua_newstate) X(lua_close) X(lua_newthread) X(lua_atpanic) X(lua_gettop) X(lua_settop) \
  X(lua_pushvalue) X(lua_remove) X(lua_insert) X(lua_replace) X(lua_checkstack) X(lua_xmove) \
  X(lua_isnumber) X(lua_isstring) X(lua_iscfunction) X(lua_isuserdata) X(lua_type) \
  X(lua_typename) X(lua_equal) X(lua_rawequal) X(lua_lessthan) X(lua_tonumber) X(lua_tointeger) \
  X(lua_toboolean) X(lua_tolstring) X(lua_objlen) X(lua_tocfunction) X(lua_touserdata) \
  X(lua_tothread) X(lua_topointer) X(lua_pushnil) X(lua_pushnumber) X(lua_pushinteger) \
  X(lua_pushlstring) X(lua_pushstring) X(lua_pushvfstring) X(lua_pushfstring) \
  X(lua_pushcclosure) X(lua_pushboolean) X(lua_pushlightuserdata) X(lua_pushthread) \
  X(lua_gettable) X(lua_getfield) X(lua_rawget) X(lua_rawgeti) X(lua_createtable) \
  X(lua_newuserdata) X(lua_getmetatable) X(lua_getfenv) X(lua_settable) X(lua_setfield) \
  X(lua_rawset) X(lua_rawseti) X(lua_setmetatable) X(lua_setfenv) X(lua_call) X(lua_pcall) \
  X(lua_cpcall) X(lua_load) X(lua_dump) X(lua_yield) X(lua_resume) X(lua_status) X(lua_gc) \
  X(lua_error) X(lua_next) X(lua_concat) X(lua_getallocf) X(lua_setallocf) X(lua_getstack) \
  X(lua_getinfo) X(lua_getlocal) X(lua_setlocal) X(lua_getupvalue) X(lua_setupvalue) \
  X(lua_sethook) X(lua_gethook) X(lua_gethookmask) X(lua_gethookcount) \
  /* standard-library openers (8) */ \
  X(luaopen_base) X(luaopen_table) X(luaopen_io) X(luaopen_os) X(luaopen_string) \
  X(luaopen_math) X(luaopen_debug) X(luaopen_package) \
  /* auxiliary library (34) */ \
  X(luaL_openlibs) X(luaL_register) X(luaL_getmetafield) X(luaL_callmeta) X(luaL_typerror) \
  X(luaL_argerror) X(luaL_checklstring) X(luaL_optlstring) X(luaL_checknumber) \
  X(luaL_optnumber) X(luaL_checkinteger) X(luaL_optinteger) X(luaL_checkstack) \
  X(luaL_checktype) X(luaL_checkany) X(luaL_newmetatable) X(luaL_checkudata) X(luaL_where) \
  X(luaL_error) X(luaL_checkoption) X(luaL_ref) X(luaL_unref) X(luaL_loadfile) \
  X(luaL_loadbuffer) X(luaL_loadstring) X(luaL_newstate) X(luaL_gsub) X(luaL_findtable) \
  X(luaL_buffinit) X(luaL_prepbuffer) X(luaL_addlstring) X(luaL_addstring) X(luaL_addvalue) \
  X(luaL_pushresult)
// clang-format on

constexpr int LuaEntryPointCount = 121;

// File name of the Lua library; LuaLibraryDefaultName from module start-up on, replaced by a
// non-empty name given to BindLuaLibrary, emptied at module shut-down.
extern std::string LuaLibraryName;
// Handle of the loaded library, 0 when none is loaded.
extern intptr_t LuaLibraryHandle;
// Where a bare LuaLibraryName is looked for when the working folder has no such file, with its
// trailing separator; empty (the default) for nowhere else. The program sets its own folder when
// a scene's folder became the working folder.
extern std::string LuaLibraryFallbackFolder;

// Unbinds, then loads LuaLibraryName (replaced first by `fileName` when that is not empty) and
// resolves every entry point. Returns -1 when no such file exists (a bare name is looked for in
// the working folder, then in LuaLibraryFallbackFolder), -2 when it cannot be loaded, -3 when it is
// a build of Lua whose errors would jump over the program's C++ frames (it is released again,
// nothing is bound), else the handle. A missing entry point raises Exception; the ones before it
// stay bound and the library stays loaded.
intptr_t BindLuaLibrary(const std::string& fileName);
// Empties every entry point and releases the library.
void UnbindLuaLibrary();
// The address of `name` in the library, or null when it is missing and not required; raises
// Exception "Cannot load method 'name' from dynamic library." when it is missing and required.
FARPROC ResolveLuaEntry(intptr_t handle, const std::string& name, bool required);

namespace LuaBind {

using LuaHeader::lua_Alloc;
using LuaHeader::lua_CFunction;
using LuaHeader::lua_Debug;
using LuaHeader::lua_Hook;
using LuaHeader::lua_Integer;
using LuaHeader::lua_Number;
using LuaHeader::lua_Reader;
using LuaHeader::lua_State;
using LuaHeader::lua_Writer;
using LuaHeader::luaL_Buffer;
using LuaHeader::luaL_Reg;

#define KESTRUNE_LUA_DECLARE_ENTRY(name) extern decltype(&LuaHeader::name) name;
KESTRUNE_LUA_ENTRY_POINTS(KESTRUNE_LUA_DECLARE_ENTRY)
#undef KESTRUNE_LUA_DECLARE_ENTRY

// The names in the order of resolution, and which of them are bound right now.
extern const char* const LuaEntryPointNames[LuaEntryPointCount];
bool LuaEntryPointBound(int index);

// The routines of the header macros; each does what the macro of the same name does.
lua_State* lua_open();
int lua_upvalueindex(int i);
void lua_pop(lua_State* L, int n);
void lua_newtable(lua_State* L);
void lua_pushcfunction(lua_State* L, lua_CFunction f);
void lua_register(lua_State* L, const char* name, lua_CFunction f);
void lua_setglobal(lua_State* L, const char* name);
void lua_getglobal(lua_State* L, const char* name);
size_t lua_strlen(lua_State* L, int i);
bool lua_isfunction(lua_State* L, int n);
bool lua_istable(lua_State* L, int n);
bool lua_islightuserdata(lua_State* L, int n);
bool lua_isnil(lua_State* L, int n);
bool lua_isboolean(lua_State* L, int n);
bool lua_isthread(lua_State* L, int n);
bool lua_isnone(lua_State* L, int n);
bool lua_isnoneornil(lua_State* L, int n);
const char* lua_tostring(lua_State* L, int i);
void lua_getregistry(lua_State* L);
int lua_getgccount(lua_State* L);
int luaL_getn(lua_State* L, int i);
void luaL_setn(lua_State* L, int i, int j);
void luaL_argcheck(lua_State* L, bool cond, int numarg, const char* extramsg);
const char* luaL_checkstring(lua_State* L, int n);
const char* luaL_optstring(lua_State* L, int n, const char* d);
int luaL_checkint(lua_State* L, int n);
int luaL_optint(lua_State* L, int n, int d);
long luaL_checklong(lua_State* L, int n);
long luaL_optlong(lua_State* L, int n, long d);
const char* luaL_typename(lua_State* L, int i);
int luaL_dofile(lua_State* L, const char* fn);
int luaL_dostring(lua_State* L, const char* s);
void luaL_getmetatable(lua_State* L, const char* n);
void luaL_addchar(luaL_Buffer* B, char c);
void luaL_putchar(luaL_Buffer* B, char c);
void luaL_addsize(luaL_Buffer* B, size_t n);
// Lock true pops the top value into the registry and returns its reference; lock false raises
// the Lua error "unlocked references are obsolete".
int lua_ref(lua_State* L, bool lock);
void lua_unref(lua_State* L, int ref);
void lua_getref(lua_State* L, int ref);

template <size_t N>
void lua_pushliteral(lua_State* L, const char (&s)[N]) {
  lua_pushlstring(L, s, N - 1);
}

template <typename T, typename F>
T luaL_opt(lua_State* L, F f, int n, T d) {
  return lua_isnoneornil(L, n) ? d : f(L, n);
}

}  // namespace LuaBind
