// The scene's part of a tick: its clock, its due timers, its animations and the root's onTick.
#include <cmath>

#include "script/KestruneTable.h"
#include "script/Lua_un.h"
#include "script/ProtectedRead.h"

using namespace LuaBind;

template <typename Body>
void CLua::TickCall(Body& body) {
  std::string report;
  if (!RunProtected(LuaState, body, nullptr, &report) && !report.empty())
    TickErrors.Report(report, Clock.Now());
}

bool CLua::Tick(double seconds) {
  if (LuaState == nullptr) return true;
  // A call is waiting for its message box: the scene stands still until it returns.
  if (ScriptRunning()) return false;
  Clock.Compact();
  const int64_t step = Clock.Advance(seconds);
  RunDueTimers();
  MoveAnimations();
  Clock.Compact();
  const lua_Number dt = static_cast<lua_Number>(step) / 1e6;
  std::string report;
  Root->CallHandler(
      LuaState, "Tick",
      [dt](lua_State* L) {
        lua_pushnumber(L, dt);
        return 1;
      },
      &report);
  if (!report.empty()) TickErrors.Report(report, Clock.Now());
  TickErrors.Flush(Clock.Now());
  DeleteRemovedNodes();
  return true;
}

void CLua::RunDueTimers() {
  for (const uint64_t handle : Clock.DueTimers()) {
    // An earlier timer of this tick may have cancelled it.
    TSceneTimer* timer = Clock.FindTimer(handle);
    if (timer == nullptr) continue;
    const int function = timer->FunctionRef;
    const bool once = timer->Period == 0;
    Clock.Reschedule(*timer);
    auto call = [&](lua_State* L) {
      lua_rawgeti(L, LUA_REGISTRYINDEX, function);
      if (once) luaL_unref(L, LUA_REGISTRYINDEX, function);
      PushSceneHandle(L, handle);
      lua_call(L, 1, 0);
    };
    TickCall(call);
  }
}

void CLua::MoveAnimations() {
  const int64_t now = Clock.Now();
  // Animations made during the moves (by a metamethod) start at the next tick.
  const size_t count = Clock.Animations.size();
  size_t index = 0;
  Finished.clear();
  auto move = [&](lua_State* L) {
    for (; index < count; ++index) {
      TSceneAnimation& animation = Clock.Animations[index];
      if (animation.Gone) continue;
      const int64_t elapsed = now - animation.Start;
      const bool last = elapsed >= animation.Duration;
      const double share =
          last ? 1.0
               : Eased(animation.Easing,
                       static_cast<double>(elapsed) / static_cast<double>(animation.Duration));
      // Taken down before a write can run script code that changes the animation.
      FieldWrites.clear();
      for (const TAnimatedField& field : animation.Fields)
        FieldWrites.emplace_back(field.Slot,
                                 last ? field.To : field.From + (field.To - field.From) * share);
      const int record = animation.RecordRef;
      if (last) {
        animation.Gone = true;
        Finished.push_back(index);
      }
      lua_rawgeti(L, LUA_REGISTRYINDEX, record);  // [record]
      lua_rawgeti(L, -1, 1);                      // [record, table]
      const int table = lua_gettop(L);
      for (const auto& write : FieldWrites) {
        lua_rawgeti(L, table - 1, write.first);  // [record, table, key]
        WriteAnimatedField(L, table, table + 1, write.second);
        lua_pop(L, 1);
      }
      lua_pop(L, 2);
    }
  };
  // One protected call for all of them while nothing raises; a write that raised costs the rest
  // of its animation's writes for this tick.
  std::string report;
  while (!RunProtected(LuaState, move, nullptr, &report)) {
    if (!report.empty()) TickErrors.Report(report, now);
    report.clear();
    if (index >= count) break;
    ++index;
  }

  for (const size_t position : Finished) {
    const TSceneAnimation& animation = Clock.Animations[position];
    const uint64_t handle = animation.Handle;
    const int record = animation.RecordRef;
    const bool hasDone = animation.HasDone;
    auto done = [&](lua_State* L) {
      lua_rawgeti(L, LUA_REGISTRYINDEX, record);
      lua_rawgeti(L, -1, 2);
      lua_remove(L, -2);
      luaL_unref(L, LUA_REGISTRYINDEX, record);
      if (!hasDone) return;
      PushSceneHandle(L, handle);
      lua_call(L, 1, 0);
    };
    TickCall(done);
  }
}
