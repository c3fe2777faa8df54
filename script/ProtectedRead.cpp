// Running the host's own work in the interpreter inside protected calls.
#include "script/ProtectedRead.h"

#include <cstdio>
#include <exception>

#include "script/ScriptConsole.h"

using namespace LuaBind;

namespace {

// Registry keys: the addresses are unique to this module.
char RunnerKey;
char AnchoredKeysKey;

struct TCall {
  TProtectedBody Body;
  void* Context;
  std::exception_ptr Failure;
};

// The C function the protected call runs: [call] -> []. A C++ exception must not unwind the
// interpreter's frames; it is kept and raised again once the call is over. Lua's own errors are
// no std::exception and go by.
int RunBody(lua_State* L) {
  TCall* call = static_cast<TCall*>(lua_touserdata(L, 1));
  lua_settop(L, 0);
  try {
    call->Body(call->Context, L);
  } catch (const std::exception&) {
    call->Failure = std::current_exception();
  }
  return 0;
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

bool RunProtected(lua_State* L, TProtectedBody body, void* context, std::string* error,
                  std::string* report) {
  const int base = lua_gettop(L);
  TCall call{body, context, nullptr};
  PushTracebackHandler(L);
  PushRegistryFunction(L, &RunnerKey, RunBody);
  lua_pushlightuserdata(L, &call);
  const bool ran = lua_pcall(L, 1, 0, base + 1) == 0;
  if (!ran) {
    if (report != nullptr)
      *report = ScriptErrorReport(L);
    else
      ReportScriptError(L);
    if (error != nullptr) *error = ErrorValueText(L, -1);
  }
  lua_settop(L, base);
  if (call.Failure) std::rethrow_exception(call.Failure);
  return ran;
}

namespace ProtectedDetail {

bool RunOnce(lua_State* L, TProtectedBody body, void* context, std::string* error) {
  const int base = lua_gettop(L);
  TCall call{body, context, nullptr};
  const bool ran = lua_cpcall(L, RunBody, &call) == 0;
  if (!ran && error != nullptr) *error = ErrorValueText(L, -1);
  lua_settop(L, base);
  if (call.Failure) std::rethrow_exception(call.Failure);
  return ran;
}

}  // namespace ProtectedDetail

void PrepareProtectedReads(lua_State* L) {
  PushRegistryFunction(L, &RunnerKey, RunBody);
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

std::string ErrorValueText(lua_State* L, int index) {
  switch (lua_type(L, index)) {
    case LUA_TSTRING: {
      size_t length = 0;
      const char* text = lua_tolstring(L, index, &length);
      return std::string(text, length);
    }
    case LUA_TNUMBER:
      return NumberText(lua_tonumber(L, index));
    default:
      return std::string();
  }
}
