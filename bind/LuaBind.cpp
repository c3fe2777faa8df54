// Loading the Lua library, resolving its entry points, and the routines of its header macros.
#include "bind/LuaBind.h"

#include "bind/Exceptions.h"

std::string LuaLibraryName = LuaLibraryDefaultName;
intptr_t LuaLibraryHandle = 0;
std::string LuaLibraryFallbackFolder;

namespace LuaBind {

#define KESTRUNE_LUA_DEFINE_ENTRY(name) decltype(&LuaHeader::name) name = nullptr;
KESTRUNE_LUA_ENTRY_POINTS(KESTRUNE_LUA_DEFINE_ENTRY)
#undef KESTRUNE_LUA_DEFINE_ENTRY

#define KESTRUNE_LUA_ENTRY_NAME(name) #name,
const char* const LuaEntryPointNames[LuaEntryPointCount] = {
    KESTRUNE_LUA_ENTRY_POINTS(KESTRUNE_LUA_ENTRY_NAME)};
#undef KESTRUNE_LUA_ENTRY_NAME

bool LuaEntryPointBound(int index) {
#define KESTRUNE_LUA_ENTRY_SET(name) name != nullptr,
  const bool bound[LuaEntryPointCount] = {KESTRUNE_LUA_ENTRY_POINTS(KESTRUNE_LUA_ENTRY_SET)};
#undef KESTRUNE_LUA_ENTRY_SET
  return index >= 0 && index < LuaEntryPointCount && bound[index];
}

}  // namespace LuaBind

namespace {

std::string Quoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) {
    result += c;
    if (c == '\'') result += '\'';
  }
  return result + "'";
}

bool HasPathDelimiter(const std::string& name) {
  for (char c : name)
    if (IsPathDelimiter(c)) return true;
  return false;
}

}  // namespace

FARPROC ResolveLuaEntry(intptr_t handle, const std::string& name, bool required) {
  FARPROC address = GetProcAddress(reinterpret_cast<HMODULE>(handle), name.c_str());
  if (address == nullptr && required)
    throw Exception("Cannot load method " + Quoted(name) + " from dynamic library.");
  return address;
}

void UnbindLuaLibrary() {
#define KESTRUNE_LUA_CLEAR_ENTRY(name) LuaBind::name = nullptr;
  KESTRUNE_LUA_ENTRY_POINTS(KESTRUNE_LUA_CLEAR_ENTRY)
#undef KESTRUNE_LUA_CLEAR_ENTRY
  if (LuaLibraryHandle != 0) {
    FreeLibrary(reinterpret_cast<HMODULE>(LuaLibraryHandle));
    LuaLibraryHandle = 0;
  }
}

intptr_t BindLuaLibrary(const std::string& fileName) {
  UnbindLuaLibrary();
  if (!fileName.empty()) LuaLibraryName = fileName;
  std::string file = LuaLibraryName;
  if (!FileExists(file) && !LuaLibraryFallbackFolder.empty() && !HasPathDelimiter(file))
    file = LuaLibraryFallbackFolder + file;
  if (!FileExists(file)) return -1;
  LuaLibraryHandle = reinterpret_cast<intptr_t>(LoadLibraryA(LoadableLibraryName(file).c_str()));
  if (LuaLibraryHandle == 0) return -2;
  if (!LuaLibraryUnwindsOurFrames(reinterpret_cast<HMODULE>(LuaLibraryHandle))) {
    FreeLibrary(reinterpret_cast<HMODULE>(LuaLibraryHandle));
    LuaLibraryHandle = 0;
    return -3;
  }
#define KESTRUNE_LUA_RESOLVE_ENTRY(name) \
  LuaBind::name = ProcAs<decltype(LuaBind::name)>(ResolveLuaEntry(LuaLibraryHandle, #name, true));
  KESTRUNE_LUA_ENTRY_POINTS(KESTRUNE_LUA_RESOLVE_ENTRY)
#undef KESTRUNE_LUA_RESOLVE_ENTRY
  return LuaLibraryHandle;
}

namespace LuaBind {

lua_State* lua_open() {
  return luaL_newstate();
}

int lua_upvalueindex(int i) {
  return LUA_GLOBALSINDEX - i;
}

void lua_pop(lua_State* L, int n) {
  lua_settop(L, -n - 1);
}

void lua_newtable(lua_State* L) {
  lua_createtable(L, 0, 0);
}

void lua_pushcfunction(lua_State* L, lua_CFunction f) {
  lua_pushcclosure(L, f, 0);
}

void lua_register(lua_State* L, const char* name, lua_CFunction f) {
  lua_pushcfunction(L, f);
  lua_setglobal(L, name);
}

void lua_setglobal(lua_State* L, const char* name) {
  lua_setfield(L, LUA_GLOBALSINDEX, name);
}

void lua_getglobal(lua_State* L, const char* name) {
  lua_getfield(L, LUA_GLOBALSINDEX, name);
}

size_t lua_strlen(lua_State* L, int i) {
  return lua_objlen(L, i);
}

bool lua_isfunction(lua_State* L, int n) {
  return lua_type(L, n) == LUA_TFUNCTION;
}
bool lua_istable(lua_State* L, int n) {
  return lua_type(L, n) == LUA_TTABLE;
}
bool lua_islightuserdata(lua_State* L, int n) {
  return lua_type(L, n) == LUA_TLIGHTUSERDATA;
}
bool lua_isnil(lua_State* L, int n) {
  return lua_type(L, n) == LUA_TNIL;
}
bool lua_isboolean(lua_State* L, int n) {
  return lua_type(L, n) == LUA_TBOOLEAN;
}
bool lua_isthread(lua_State* L, int n) {
  return lua_type(L, n) == LUA_TTHREAD;
}
bool lua_isnone(lua_State* L, int n) {
  return lua_type(L, n) == LUA_TNONE;
}
bool lua_isnoneornil(lua_State* L, int n) {
  return lua_type(L, n) <= 0;
}

const char* lua_tostring(lua_State* L, int i) {
  size_t length;  // asked for and dropped: the string ends at its first zero byte for us
  return lua_tolstring(L, i, &length);
}

void lua_getregistry(lua_State* L) {
  lua_pushvalue(L, LUA_REGISTRYINDEX);
}

int lua_getgccount(lua_State* L) {
  return lua_gc(L, LUA_GCCOUNT, 0);
}

int luaL_getn(lua_State* L, int i) {
  return static_cast<int>(lua_objlen(L, i));
}

void luaL_setn(lua_State*, int, int) {}

void luaL_argcheck(lua_State* L, bool cond, int numarg, const char* extramsg) {
  if (!cond) luaL_argerror(L, numarg, extramsg);
}

const char* luaL_checkstring(lua_State* L, int n) {
  return luaL_checklstring(L, n, nullptr);
}

const char* luaL_optstring(lua_State* L, int n, const char* d) {
  return luaL_optlstring(L, n, d, nullptr);
}

int luaL_checkint(lua_State* L, int n) {
  return static_cast<int>(luaL_checkinteger(L, n));
}

int luaL_optint(lua_State* L, int n, int d) {
  return static_cast<int>(luaL_optinteger(L, n, d));
}

long luaL_checklong(lua_State* L, int n) {
  return static_cast<long>(luaL_checkinteger(L, n));
}

long luaL_optlong(lua_State* L, int n, long d) {
  return static_cast<long>(luaL_optinteger(L, n, d));
}

const char* luaL_typename(lua_State* L, int i) {
  return lua_typename(L, lua_type(L, i));
}

int luaL_dofile(lua_State* L, const char* fn) {
  return luaL_loadfile(L, fn) || lua_pcall(L, 0, LUA_MULTRET, 0);
}

int luaL_dostring(lua_State* L, const char* s) {
  return luaL_loadstring(L, s) || lua_pcall(L, 0, LUA_MULTRET, 0);
}

void luaL_getmetatable(lua_State* L, const char* n) {
  lua_getfield(L, LUA_REGISTRYINDEX, n);
}

void luaL_addchar(luaL_Buffer* B, char c) {
  if (B->p >= B->buffer + LUAL_BUFFERSIZE) luaL_prepbuffer(B);
  *B->p++ = c;
}

void luaL_putchar(luaL_Buffer* B, char c) {
  luaL_addchar(B, c);
}

void luaL_addsize(luaL_Buffer* B, size_t n) {
  B->p += n;
}

int lua_ref(lua_State* L, bool lock) {
  if (lock) return luaL_ref(L, LUA_REGISTRYINDEX);
  lua_pushstring(L, "unlocked references are obsolete");
  lua_error(L);
  return 0;
}

void lua_unref(lua_State* L, int ref) {
  luaL_unref(L, LUA_REGISTRYINDEX, ref);
}

void lua_getref(lua_State* L, int ref) {
  lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
}

}  // namespace LuaBind
