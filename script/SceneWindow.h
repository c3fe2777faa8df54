// The main window as the script functions reach it: callbacks that the window showing the scene
// installs, so that this library never depends on the one that holds the window.
#pragma once

#include <functional>
#include <string>

struct TSceneWindow {
  // Shows the text as the window's caption (print does). Empty while no window shows a scene.
  std::function<void(const std::string&)> SetCaption;
  // Makes the window's tick come every `ms` milliseconds (10 to 1000) from the next tick on.
  std::function<void(unsigned ms)> SetTickInterval;
  // Puts the window on the whole monitor it is on, or gives back the window it was; and whether
  // it was last asked to be there.
  std::function<void(bool on)> SetFullScreen;
  std::function<bool()> FullScreen;
  // Shows or hides the pointer over the scene.
  std::function<void(bool visible)> SetCursorVisible;
  // Where print's line goes instead of standard output when set: a scene's tests keep standard
  // output for their verdicts.
  std::function<void(const std::string&)> PrintLine;
};

extern TSceneWindow SceneWindow;
