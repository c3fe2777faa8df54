// The main window: it owns the screen and the script host, runs the scene and draws a frame on
// every tick of its timer (55 ms unless the scene asks otherwise) and hands mouse presses and
// releases, pointer movements, wheel notches and keys to the host as named events.
#pragma once

#include <chrono>
#include <memory>

#include "platform/Platform.h"

class CGLScreen;
class CLua;

class TMain : public TForm {
 public:
  TMain();
  ~TMain() override;

  TTimer Timer1{this};
  // Device pixels per logical unit, chosen when the window is made: its client area is the
  // scene's 800 by 600 units at this scale. A window of another size (full screen) shows the
  // scene at the largest scale that fits it.
  double Scale = 1;

  void FormCreate();
  void FormDestroy();
  void FormClick();
  void FormMouseDown(TMouseButton button, float x, float y);
  void FormMouseUp(TMouseButton button, float x, float y);
  void FormMouseMove(float x, float y);
  void FormMouseLeave();
  void FormMouseWheel(TWheelDirection direction, float x, float y);
  void FormKeyDown(const std::string& key, bool repeat);
  void FormKeyUp(const std::string& key);
  void FormTextInput(const std::string& text);
  // The client area took a new size: the scene at the largest scale that fits, centred, the
  // rest black.
  void FormResize();
  // The client size the window wants on a monitor of that scale; false when --scale holds it.
  // Only a question: nothing changes until the window has that size.
  bool FormDesktopScaleChanged(double desktopScale, int* clientWidth, int* clientHeight) const;
  void Timer1Timer();
  // One tick of the scene, as the timer runs it (the reload check aside): the scene's part with
  // `seconds` of elapsed time, the frame, and the pointer's look after it. False when a script
  // call was running, so that the tick only drew.
  bool StepScene(double seconds);
  // The next tick follows `ms` milliseconds from now, and the ticks after it as often.
  void SetTickInterval(unsigned ms);
  // A scene has just been started: its first tick's time counts from now.
  void SceneStarted();

 private:
  void MouseEvent(TMouseButton button, const char* action, float x, float y);

  // When the last tick that ran the scene (not only drew it) began.
  std::chrono::steady_clock::time_point LastSceneTick;
};

extern TMain* Main;
// The ticks are stepped by the caller (scene tests), never by Timer1, and the scale is 1.
extern bool TicksStepped;
extern CLua* LuaHost;

// The event name of a button and an action word: "LeftPress", "RightRelease", "Press", ...
std::string MouseEventName(TMouseButton button, const char* action);
// The event name of a wheel's notch: "WheelUp", "WheelDown", "WheelLeft", "WheelRight".
std::string WheelEventName(TWheelDirection direction);
