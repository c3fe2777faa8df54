// The scene's time as plain data: the clock a tick advances, the timers and animations that
// scripts start, and the tick interval the scene asked for. Nothing here calls the interpreter;
// the Lua values a timer or an animation needs are held by registry references noted here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The interval a scene starts with, in milliseconds.
constexpr unsigned DefaultTickMs = 55;
constexpr unsigned ShortestTickMs = 10;
constexpr unsigned LongestTickMs = 1000;
// The most time one tick hands the scene, unless its tick interval is longer: a long stall (a
// dragged window, a message box) must not make animations jump, while a scene that asked for
// slower ticks must still have its time keep pace.
constexpr double LongestStepSeconds = 0.25;

// Seconds as the clock's whole microseconds; negative, NaN and unreasonably long times are
// brought to what the clock can hold (NaN counts as 0).
int64_t MicrosOf(double seconds);

enum class TEasing { Linear, In, Out, InOut };

// The eased share of an animation done, for a share `p` of its time from 0 to 1 (quadratic).
double Eased(TEasing easing, double p);

struct TSceneTimer {
  uint64_t Handle;
  int64_t Created;  // µs of scene time
  int64_t Period;   // µs; 0 for a timer that runs once
  int64_t Due;      // µs
  int FunctionRef;  // registry reference of the function to call
  bool Gone = false;
};

struct TAnimatedField {
  std::string Key;
  int Slot;  // where the record table keeps the key
  double From;
  double To;
};

struct TSceneAnimation {
  uint64_t Handle;
  const void* Target;  // the animated table's identity, for take-overs
  int64_t Start;       // µs
  int64_t Duration;    // µs
  TEasing Easing;
  // Registry reference of a table holding the animated table at 1, the done function (or
  // nothing) at 2, and each field's key at its Slot.
  int RecordRef;
  bool HasDone;
  std::vector<TAnimatedField> Fields;
  bool Gone = false;
};

class CSceneClock {
 public:
  // Scene time in µs: the sum of the steps handed to Advance.
  int64_t Now() const { return Micros; }
  double Seconds() const { return static_cast<double>(Micros) / 1e6; }
  // Adds one tick's time, capped at LongestStepSeconds or the tick interval, whichever is
  // longer; returns the step taken, in µs.
  int64_t Advance(double seconds);

  uint64_t NewHandle() { return ++LastHandle; }

  // A timer due `delay` µs from now; with `repeat`, again every `delay` µs after that.
  uint64_t AddTimer(int64_t delay, bool repeat, int functionRef);
  // The handles of the timers due now, earliest first (then in the order they were made).
  std::vector<uint64_t> DueTimers() const;
  // The timer of that handle, or null when it is gone.
  TSceneTimer* FindTimer(uint64_t handle);
  // After a timer was taken to run: a repeating one is due again at the first of its periods
  // after now; one that runs once is gone.
  void Reschedule(TSceneTimer& timer);

  // Adds an animation, taking each of its fields over from any older animation of the same
  // table that moves it.
  TSceneAnimation& AddAnimation(TSceneAnimation animation);
  TSceneAnimation* FindAnimation(uint64_t handle);

  // Marks the timer or animation of that handle gone and gives the registry reference it held,
  // for the caller to free; LUA_NOREF's value (-2) when there is none. Gone entries stay in
  // their lists until Compact, so that a tick walking a list by position is not shifted under
  // by a script that cancels.
  int Cancel(uint64_t handle);
  // Drops the gone entries. Only between the steps of a tick, or outside one.
  void Compact();

  std::vector<TSceneTimer> Timers;
  std::vector<TSceneAnimation> Animations;
  unsigned TickMs = DefaultTickMs;

 private:
  int64_t Micros = 0;
  uint64_t LastHandle = 0;
};
