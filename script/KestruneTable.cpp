// The functions of the `kestrune` table and their registration.
#include "script/KestruneTable.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "script/Lua_un.h"
#include "script/SceneWindow.h"
#include "script/ScriptFunctions.h"

using namespace LuaBind;
using LuaScript::ArgsMatch;
using LuaScript::ClearStack;
using LuaScript::Guarded;
using LuaScript::RaiseArgError;

namespace {

CLua* UpvalueHost(lua_State* L) {
  return static_cast<CLua*>(lua_touserdata(L, lua_upvalueindex(1)));
}

// Room for one more, so that nothing can fail once a registry reference is taken for it; grown
// by doubling like push_back, not one at a time.
template <typename List>
void RoomForOne(List& list) {
  if (list.size() == list.capacity()) list.reserve(list.empty() ? 16 : list.size() * 2);
}

[[noreturn]] void RaiseArgText(lua_State* L, int position, const char* text) {
  ClearStack(L);
  luaL_argerror(L, position, text);
  std::terminate();  // luaL_argerror does not return
}

int Time(lua_State* L) {
  return Guarded(L, [L] {
    if (!ArgsMatch(L, true, {})) RaiseArgError(L, {});
    lua_pushnumber(L, UpvalueHost(L)->Clock.Seconds());
    return 1;
  });
}

// after and every: (seconds, function) -> handle.
int AddTimer(lua_State* L, bool repeat) {
  if (!ArgsMatch(L, true, {LUA_TNUMBER, LUA_TFUNCTION}))
    RaiseArgError(L, {LUA_TNUMBER, LUA_TFUNCTION});
  const lua_Number seconds = lua_tonumber(L, 1);
  if (repeat && !(seconds > 0)) RaiseArgText(L, 1, "should be a number of seconds above 0");
  if (!repeat && !(seconds >= 0)) RaiseArgText(L, 1, "should be a number of seconds from 0");
  CSceneClock& clock = UpvalueHost(L)->Clock;
  RoomForOne(clock.Timers);
  lua_settop(L, 2);
  const int function = luaL_ref(L, LUA_REGISTRYINDEX);
  ClearStack(L);
  PushSceneHandle(L, clock.AddTimer(MicrosOf(seconds), repeat, function));
  return 1;
}

int After(lua_State* L) {
  return Guarded(L, [L] { return AddTimer(L, false); });
}

int Every(lua_State* L) {
  return Guarded(L, [L] { return AddTimer(L, true); });
}

int Cancel(lua_State* L) {
  return Guarded(L, [L] {
    if (!ArgsMatch(L, true, {LUA_TLIGHTUSERDATA})) RaiseArgError(L, {LUA_TLIGHTUSERDATA});
    const auto handle = reinterpret_cast<uintptr_t>(lua_touserdata(L, 1));
    ClearStack(L);
    const int ref = UpvalueHost(L)->Clock.Cancel(handle);
    if (ref != LUA_NOREF) luaL_unref(L, LUA_REGISTRYINDEX, ref);
    return 0;
  });
}

bool EasingOf(const char* name, TEasing* easing) {
  static const struct {
    const char* name;
    TEasing easing;
  } names[] = {{"linear", TEasing::Linear},
               {"in", TEasing::In},
               {"out", TEasing::Out},
               {"inout", TEasing::InOut}};
  for (const auto& entry : names) {
    if (std::strcmp(name, entry.name) == 0) {
      *easing = entry.easing;
      return true;
    }
  }
  return false;
}

// animate(table, seconds, targets [, easing [, done]]) -> handle.
int Animate(lua_State* L) {
  return Guarded(L, [L] {
    const int top = lua_gettop(L);
    const int types[] = {LUA_TTABLE, LUA_TNUMBER, LUA_TTABLE, LUA_TSTRING, LUA_TFUNCTION};
    if (top < 3) RaiseArgError(L, {LUA_TTABLE, LUA_TNUMBER, LUA_TTABLE});
    if (top > 5)
      RaiseArgError(L, {LUA_TTABLE, LUA_TNUMBER, LUA_TTABLE, LUA_TSTRING, LUA_TFUNCTION});
    for (int i = 1; i <= top; ++i) {
      // The easing may be left out with a nil when a done function follows.
      if (lua_type(L, i) == types[i - 1] || (i >= 4 && lua_isnil(L, i))) continue;
      const std::string text =
          std::string("should be a ") + AnsiLowerCase(lua_typename(L, types[i - 1]));
      RaiseArgText(L, i, text.c_str());
    }
    const lua_Number seconds = lua_tonumber(L, 2);
    if (!(seconds >= 0)) RaiseArgText(L, 2, "should be a number of seconds from 0");
    TEasing easing = TEasing::Linear;
    if (top >= 4 && !lua_isnil(L, 4) && !EasingOf(lua_tostring(L, 4), &easing))
      RaiseArgText(L, 4, "should be \"linear\", \"in\", \"out\" or \"inout\"");
    const bool hasDone = top == 5 && lua_isfunction(L, 5);

    CLua* host = UpvalueHost(L);
    TSceneAnimation animation;
    animation.Target = lua_topointer(L, 1);
    animation.Start = host->Clock.Now();
    animation.Duration = MicrosOf(seconds);
    animation.Easing = easing;
    animation.HasDone = hasDone;
    // The record: [1] the table, [2] done, then the keys. The targets are taken down first, so
    // that reading the table's fields (which may run its metamethods) cannot change them.
    lua_settop(L, 5);
    lua_newtable(L);  // record at 6
    lua_pushvalue(L, 1);
    lua_rawseti(L, 6, 1);
    lua_pushvalue(L, 5);
    lua_rawseti(L, 6, 2);
    int slot = 3;
    lua_pushnil(L);
    while (lua_next(L, 3) != 0) {  // [..., record, key, target]
      if (lua_type(L, -2) != LUA_TSTRING || lua_type(L, -1) != LUA_TNUMBER)
        RaiseArgText(L, 3, "should map field names to numbers");
      TAnimatedField field;
      field.Key = lua_tostring(L, -2);
      field.Slot = slot;
      field.From = 0;
      field.To = lua_tonumber(L, -1);
      animation.Fields.push_back(field);
      lua_pop(L, 1);
      lua_pushvalue(L, -1);
      lua_rawseti(L, 6, slot++);
    }
    for (TAnimatedField& field : animation.Fields) {
      lua_rawgeti(L, 6, field.Slot);
      ReadAnimatedField(L, 1, lua_gettop(L));
      if (lua_type(L, -1) != LUA_TNUMBER) {
        const std::string text = "should name fields that hold numbers: " + field.Key + " is " +
                                 AnsiLowerCase(luaL_typename(L, -1));
        RaiseArgText(L, 3, text.c_str());
      }
      field.From = lua_tonumber(L, -1);
      lua_pop(L, 2);
    }
    CSceneClock& clock = host->Clock;
    animation.Handle = clock.NewHandle();
    RoomForOne(clock.Animations);
    lua_settop(L, 6);
    animation.RecordRef = luaL_ref(L, LUA_REGISTRYINDEX);
    ClearStack(L);
    const uint64_t handle = animation.Handle;
    clock.AddAnimation(std::move(animation));
    PushSceneHandle(L, handle);
    return 1;
  });
}

int SetTickInterval(lua_State* L) {
  return Guarded(L, [L] {
    if (!ArgsMatch(L, true, {LUA_TNUMBER})) RaiseArgError(L, {LUA_TNUMBER});
    const double ms = lua_tonumber(L, 1) * 1000;
    const double whole = std::round(ms);
    if (!(whole >= ShortestTickMs && whole <= LongestTickMs && std::fabs(ms - whole) < 1e-6))
      RaiseArgText(L, 1, "should be a number of seconds from 0.01 to 1 in whole milliseconds");
    ClearStack(L);
    const unsigned interval = static_cast<unsigned>(whole);
    UpvalueHost(L)->Clock.TickMs = interval;
    if (SceneWindow.SetTickInterval) SceneWindow.SetTickInterval(interval);
    return 0;
  });
}

int GetTickInterval(lua_State* L) {
  return Guarded(L, [L] {
    if (!ArgsMatch(L, true, {})) RaiseArgError(L, {});
    lua_pushnumber(L, UpvalueHost(L)->Clock.TickMs / 1000.0);
    return 1;
  });
}

// The table's functions. Each is a closure over the host: a new one is added here.
const struct {
  const char* name;
  lua_CFunction function;
} KestruneFunctions[] = {
    {"time", Time},
    {"after", After},
    {"every", Every},
    {"cancel", Cancel},
    {"animate", Animate},
    {"setTickInterval", SetTickInterval},
    {"getTickInterval", GetTickInterval},
};

}  // namespace

void RegisterKestruneTable(lua_State* L, CLua* host) {
  lua_newtable(L);
  for (const auto& entry : KestruneFunctions) {
    lua_pushlightuserdata(L, host);
    lua_pushcclosure(L, entry.function, 1);
    lua_setfield(L, -2, entry.name);
  }
  lua_getglobal(L, "package");
  if (lua_istable(L, -1)) {
    lua_getfield(L, -1, "loaded");
    if (lua_istable(L, -1)) {
      lua_pushvalue(L, -3);
      lua_setfield(L, -2, "kestrune");
    }
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  lua_setglobal(L, "kestrune");
}

void PushSceneHandle(lua_State* L, uint64_t handle) {
  lua_pushlightuserdata(L, reinterpret_cast<void*>(static_cast<uintptr_t>(handle)));
}

void ReadAnimatedField(lua_State* L, int table, int key) {
  lua_pushvalue(L, key);
  lua_gettable(L, table);
}

void WriteAnimatedField(lua_State* L, int table, int key, lua_Number value) {
  lua_pushvalue(L, key);
  lua_pushnumber(L, value);
  lua_settable(L, table);
}
