// The scene's clock, its timers' schedule and its animations' bookkeeping.
#include "script/SceneClock.h"

#include <algorithm>
#include <cmath>

namespace {

// About 31,700 years: a timer that far off never runs, and sums of such times still fit.
constexpr double LongestSeconds = 1e12;

}  // namespace

int64_t MicrosOf(double seconds) {
  if (!(seconds > 0)) return 0;
  if (seconds > LongestSeconds) seconds = LongestSeconds;
  return static_cast<int64_t>(std::llround(seconds * 1e6));
}

double Eased(TEasing easing, double p) {
  switch (easing) {
    case TEasing::In:
      return p * p;
    case TEasing::Out:
      return 1 - (1 - p) * (1 - p);
    case TEasing::InOut:
      return p < 0.5 ? 2 * p * p : 1 - 2 * (1 - p) * (1 - p);
    default:
      return p;
  }
}

int64_t CSceneClock::Advance(double seconds) {
  const double longest = std::max(LongestStepSeconds, TickMs / 1000.0);
  const int64_t step = MicrosOf(std::min(seconds, longest));
  Micros += step;
  return step;
}

uint64_t CSceneClock::AddTimer(int64_t delay, bool repeat, int functionRef) {
  TSceneTimer timer;
  timer.Handle = NewHandle();
  timer.Created = Micros;
  // A period too short for the clock to tell would be due again at once, for ever.
  timer.Period = repeat ? std::max<int64_t>(delay, 1) : 0;
  timer.Due = Micros + (repeat ? timer.Period : delay);
  timer.FunctionRef = functionRef;
  Timers.push_back(timer);
  return timer.Handle;
}

std::vector<uint64_t> CSceneClock::DueTimers() const {
  std::vector<const TSceneTimer*> due;
  for (const TSceneTimer& timer : Timers)
    if (!timer.Gone && timer.Due <= Micros) due.push_back(&timer);
  // Handles grow with every timer made, so they break ties in the order of making.
  std::sort(due.begin(), due.end(), [](const TSceneTimer* a, const TSceneTimer* b) {
    return a->Due != b->Due ? a->Due < b->Due : a->Handle < b->Handle;
  });
  std::vector<uint64_t> handles;
  handles.reserve(due.size());
  for (const TSceneTimer* timer : due) handles.push_back(timer->Handle);
  return handles;
}

TSceneTimer* CSceneClock::FindTimer(uint64_t handle) {
  for (TSceneTimer& timer : Timers)
    if (timer.Handle == handle && !timer.Gone) return &timer;
  return nullptr;
}

void CSceneClock::Reschedule(TSceneTimer& timer) {
  if (timer.Period == 0) {
    timer.Gone = true;
    return;
  }
  // Counted from when it was made, not from when it last ran: a slow tick neither shifts it
  // nor makes it catch up in a burst.
  const int64_t periods = (Micros - timer.Created) / timer.Period + 1;
  timer.Due = timer.Created + periods * timer.Period;
}

TSceneAnimation& CSceneClock::AddAnimation(TSceneAnimation animation) {
  for (TSceneAnimation& older : Animations) {
    if (older.Gone || older.Target != animation.Target) continue;
    // The older animation keeps its time and its done; it just no longer moves these fields.
    auto taken = [&animation](const TAnimatedField& field) {
      for (const TAnimatedField& mine : animation.Fields)
        if (mine.Key == field.Key) return true;
      return false;
    };
    older.Fields.erase(std::remove_if(older.Fields.begin(), older.Fields.end(), taken),
                       older.Fields.end());
  }
  Animations.push_back(std::move(animation));
  return Animations.back();
}

TSceneAnimation* CSceneClock::FindAnimation(uint64_t handle) {
  for (TSceneAnimation& animation : Animations)
    if (animation.Handle == handle && !animation.Gone) return &animation;
  return nullptr;
}

int CSceneClock::Cancel(uint64_t handle) {
  if (TSceneTimer* timer = FindTimer(handle)) {
    timer->Gone = true;
    return timer->FunctionRef;
  }
  if (TSceneAnimation* animation = FindAnimation(handle)) {
    animation->Gone = true;
    return animation->RecordRef;
  }
  return -2;
}

void CSceneClock::Compact() {
  Timers.erase(std::remove_if(Timers.begin(), Timers.end(),
                              [](const TSceneTimer& timer) { return timer.Gone; }),
               Timers.end());
  Animations.erase(std::remove_if(Animations.begin(), Animations.end(),
                                  [](const TSceneAnimation& animation) { return animation.Gone; }),
                   Animations.end());
}
