#include "script/ProtectedRead.h"

#include "script/ScriptConsole.h"

using namespace LuaBind;

namespace {

// Registry keys: the addresses are unique to this module.
char GetterKey;
char AnchoredKeysKey;

int GetTableValue(lua_State* L) {
  lua_gettable(L, 1);
  return 1;
}

void PushGetter(lua_State* L) {
  PushRegistryFunction(L, &GetterKey, GetTableValue);
}

}  // namespace

void PushRegistryFunction(lua_State* L, const void* key, lua_CFunction function) {
  lua_pushlightuserdata(L, const_cast<void*>(key));
  lua_rawget(L, LUA_REGISTRYINDEX);
  if (lua_isfunction(L, -1)) return;
  lua_pop(L, 1);
  lua_pushcfunction(L, function);
  lua_pushlightuserdata(L, const_cast<void*>(key));
  lua_pushvalue(L, -2);
  lua_rawset(L, LUA_REGISTRYINDEX);
}

bool ProtectedGetTable(lua_State* L) {
  PushTracebackHandler(L);
  lua_insert(L, -3);
  PushGetter(L);
  lua_insert(L, -3);  // [.., handler, getter, table, key]
  const int handler = lua_gettop(L) - 3;
  if (lua_pcall(L, 2, 1, handler) == 0) {
    lua_remove(L, handler);
    return true;
  }
  ReportScriptError(L);
  lua_settop(L, handler - 1);
  lua_pushnil(L);
  return false;
}

void PrepareProtectedReads(lua_State* L) {
  PushGetter(L);
  lua_pop(L, 1);
  PushTracebackHandler(L);
  lua_pop(L, 1);
  // A key string that no table holds would be made anew, and dropped, on every read.
  static const char* const keys[] = {"left", "top", "width", "height", "id"};
  lua_pushlightuserdata(L, &AnchoredKeysKey);
  lua_newtable(L);
  int position = 1;
  for (const char* key : keys) {
    lua_pushstring(L, key);
    lua_rawseti(L, -2, position++);
  }
  lua_rawset(L, LUA_REGISTRYINDEX);
}
