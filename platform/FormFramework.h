// The form framework's side of the backend contract (Platform.h says how it is marked). What
// both backends share [shared] (platform/FormFramework.cpp): the registries of timers and forms,
// and everything about forms, ticks, the mouse, the keyboard and message boxes that does not
// depend on the window system. A backend reports what its window system says (a button went
// down at a client position, the capture was taken away, a timer is due) and the rules here
// decide what the form's handlers hear; the backend answers only the natives [backend] declared
// at the end. Only platform/ includes this header, and the scene tests' runner
// (app/SceneTests.cpp), which reports a test's input through the reports below as a backend
// reports its window system's.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"

namespace formframework {

// ---------------------------------------------------------------------------------------------
// Registries [shared]

std::vector<TTimer*>& Timers();
// Timers whose handler is running: a tick never re-enters its own handler (a handler that shows
// a message box would otherwise get a new box every interval while the first is open).
std::set<TTimer*>& TimersRunning();
// Forms in creation order, and those whose destruction has begun: they get no more events.
std::vector<TForm*>& Forms();
std::set<TForm*>& FormsGoing();

bool TimerLive(TTimer* timer);
// Forms made without the application object count too; only those being destroyed do not.
bool FormLive(TForm* form);

// ---------------------------------------------------------------------------------------------
// Reports from the backends [shared]

// A timer is due: its handler runs unless the timer is gone, disabled or already running.
void FireTimer(TTimer* timer);

// A mouse button went down or up at a client position in device pixels (which may lie outside
// the client area while the pointer is held); the handlers hear it in the scene's units
// (TForm::SceneArea). Presses count only over the scene; a left press there takes the capture,
// and that button's release is then delivered wherever it happens. Other releases count only
// over the scene. A left release over the scene whose press was delivered is also a click.
void MouseButtonDown(TForm* form, TMouseButton button, int x, int y);
void MouseButtonUp(TForm* form, TMouseButton button, int x, int y);
// The system took the capture away (another window, a message box): the left button's release
// is no longer followed outside.
void MouseCaptureLost(TForm* form);
// The pointer is at a client position (outside the scene it counts only while the left button
// holds the pointer, and otherwise as leaving).
void MouseMoved(TForm* form, int x, int y);
// The pointer left the window. While the left button holds it, it is followed until its release.
void MouseLeft(TForm* form);
// One notch of a wheel at a client position; it counts only over the scene.
void MouseWheel(TForm* form, TWheelDirection direction, int x, int y);

// A key went down or up. `code` tells the keys apart (both Shift keys have one name); `name` is
// how the form's handlers know it. A press of a key already down is its auto-repeat, unless the
// system says the key was up before (`wasDown`: Windows can leave a key down here whose release
// it never sent); a release of a key whose press the form never had (one that closed a message
// box) is not the form's.
void KeyDown(TForm* form, unsigned code, const std::string& name, bool wasDown = true);
void KeyUp(TForm* form, unsigned code);
// Text the keys produced, UTF-8; control characters are dropped (those keys arrive as keys).
void TextTyped(TForm* form, const std::string& text);
// The window lost the keyboard: every key it holds goes up.
void KeyboardLost(TForm* form);

// [shared] A client position in device pixels as the scene's logical units: unrounded, and the
// pixel's own position where the scene is the whole client area at one unit per pixel.
void SceneUnits(const TForm& form, int x, int y, float* logicalX, float* logicalY);
// [shared] Whether a client position lies on the scene (not on the bars around it).
bool InsideScene(const TForm& form, int x, int y);

// [shared] UTF-8 of a Unicode code point; nothing for control characters and what is no character.
// Keys outside the table of names are named so, by what they type unshifted (in lower case).
std::string CharacterText(uint32_t character);

// [shared] Every message box of the program (HookedMessageBoxA): the test hook when one is set;
// once the program is ending, or in a run without a window system, the text on standard error
// instead of a box; otherwise the backend's box.
int ShowMessageBox(const std::string& text, const std::string& caption);

// ---------------------------------------------------------------------------------------------
// Natives: what each backend answers [backend], besides the members of TTimer, TForm and
// TApplication that Platform.h marks so

// Takes down a form's window and frees the backend state behind it.
void DestroyNative(TForm::Native* native);
// Hides a form's window.
void HideNative(TForm::Native* native);
// Shows the caption, which the framework keeps, as the title of a form's window.
void CaptionNative(TForm::Native* native, const std::string& caption);
// Takes the pointer for the left button while it is held over the form, or gives it back.
void CaptureNative(TForm::Native* native, bool capture);
// Waits for the next event or tick and dispatches what is there; false when the system asks the
// program to end.
bool WaitAndDispatch();
// The program is ending: a loop that waits (the main loop, a message box's own loop) must
// notice. WithdrawQuit takes back what is still pending of that once the forms are gone.
void WakeForQuit();
void WithdrawQuit();
// The system's own modal box with an OK button and no owner; the texts are UTF-8.
int NativeMessageBox(const std::string& text, const std::string& caption);
// A timer was enabled, or disabled (also by its destruction while enabled): its ticks start
// an interval from now, or stop.
void StartTimerNative(TTimer* timer);
void StopTimerNative(TTimer* timer);

}  // namespace formframework

// [shared] The framework's own state of a form.
struct TForm::Input {
  bool leftCaptured = false;  // a left press over the client area was delivered, not yet released
  bool pointerIn = false;     // moves were delivered since the pointer last left
  int pointerX = 0;           // where the last one was, in device pixels
  int pointerY = 0;
  float logicalX = 0;  // and in the scene's units
  float logicalY = 0;
  // Keys down, in the order they went down: code and name.
  std::vector<std::pair<unsigned, std::string>> heldKeys;
};
