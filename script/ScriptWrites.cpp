// Lua's io.open, io.output, os.rename and os.remove behind C closures that note the paths they
// are given, then hand the call to Lua's own function.
#include "script/ScriptWrites.h"

#include <cstring>
#include <exception>
#include <set>

using namespace LuaBind;

namespace {

// Each path once: a scene that writes its log on every tick, with nobody taking the notes
// (without --watch), must not grow this.
std::set<std::string> Noted;

// Notes the string at `index`. A note lost to a lack of memory costs at most one start of the
// scene again, while a C++ exception must never cross into Lua.
void Note(lua_State* L, int index) {
  size_t length = 0;
  const char* text = lua_tolstring(L, index, &length);
  if (text == nullptr) return;
  try {
    Noted.emplace(text, length);
  } catch (const std::exception&) {
  }
}

// Calls the wrapped function, the closure's upvalue, with the arguments as they are.
int CallWrapped(lua_State* L) {
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
  return lua_gettop(L);
}

// The arguments are checked here first, as the wrapped function checks them: an error raised
// there would name the function '?' (its caller is C code), while here Lua names it after the
// script's own call, as it always did.
int Open(lua_State* L) {
  luaL_checkstring(L, 1);
  const char* mode = luaL_optstring(L, 2, "r");
  if (std::strpbrk(mode, "wa+") != nullptr) Note(L, 1);
  return CallWrapped(L);
}

int Output(lua_State* L) {
  const int type = lua_type(L, 1);
  if (type != LUA_TSTRING && type != LUA_TNUMBER) {
    if (!lua_isnoneornil(L, 1)) luaL_checkudata(L, 1, "FILE*");
    return CallWrapped(L);
  }
  Note(L, 1);
  // A file that cannot be opened is an argument error, raised by Lua's function only once it
  // has tried: it is raised again from here under the script's name for the function.
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  const int status = lua_pcall(L, lua_gettop(L) - 1, LUA_MULTRET, 0);
  if (status == 0) return lua_gettop(L);
  size_t length = 0;
  const char* text = lua_tolstring(L, -1, &length);
  static const char kNameless[] = "bad argument #1 to '?' (";
  const size_t prefix = sizeof kNameless - 1;
  if (text != nullptr && length > prefix && std::strncmp(text, kNameless, prefix) == 0 &&
      text[length - 1] == ')') {
    lua_pushlstring(L, text + prefix, length - prefix - 1);
    return luaL_argerror(L, 1, lua_tostring(L, -1));
  }
  return lua_error(L);
}

int Rename(lua_State* L) {
  luaL_checkstring(L, 1);
  luaL_checkstring(L, 2);
  Note(L, 1);
  Note(L, 2);
  return CallWrapped(L);
}

int Remove(lua_State* L) {
  luaL_checkstring(L, 1);
  Note(L, 1);
  return CallWrapped(L);
}

void Wrap(lua_State* L, const char* library, const char* name, lua_CFunction wrapper) {
  lua_getglobal(L, library);
  if (lua_istable(L, -1)) {
    lua_getfield(L, -1, name);
    if (lua_isfunction(L, -1)) {
      lua_pushcclosure(L, wrapper, 1);
      lua_setfield(L, -2, name);
    } else {
      lua_pop(L, 1);
    }
  }
  lua_pop(L, 1);
}

int WrapAll(lua_State* L) {
  Wrap(L, "io", "open", Open);
  Wrap(L, "io", "output", Output);
  Wrap(L, "os", "rename", Rename);
  Wrap(L, "os", "remove", Remove);
  return 0;
}

}  // namespace

bool NoteScriptWrites(lua_State* L) {
  if (lua_cpcall(L, WrapAll, nullptr) == 0) return true;
  lua_pop(L, 1);
  return false;
}

std::vector<std::string> TakeScriptWrites() {
  std::vector<std::string> taken(Noted.begin(), Noted.end());
  Noted.clear();
  return taken;
}
