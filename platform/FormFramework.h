// What both backends' form frameworks share: the registries of timers and forms, and everything
// about forms, ticks, the mouse and message boxes that does not depend on the window system.
// A backend reports what its window system says (a button went down at a client position, the
// capture was taken away, a timer is due) and the rules here decide what the form's handlers
// hear; the backend only answers the few calls declared at the end. Only platform/ includes
// this header.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace formframework {

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
// Reports from the backends

// A timer is due: its handler runs unless the timer is gone, disabled or already running.
void FireTimer(TTimer* timer);

// A mouse button went down or up at a client position (which may lie outside the client area
// while the pointer is held). Presses count only over the client area; a left press there
// takes the capture, and that button's release is then delivered wherever it happens. Other
// releases count only over the client area. A left release over the client area whose press was
// delivered is also a click.
void MouseButtonDown(TForm* form, TMouseButton button, int x, int y);
void MouseButtonUp(TForm* form, TMouseButton button, int x, int y);
// The system took the capture away (another window, a message box): the left button's release
// is no longer followed outside.
void MouseCaptureLost(TForm* form);

// Every message box of the program: the test hook when one is set; once the program is ending,
// the text on standard error instead of a box; otherwise the backend's box.
int ShowMessageBox(const std::string& text, const std::string& caption);

// ---------------------------------------------------------------------------------------------
// What each backend answers

// Takes down a form's window and frees the backend state behind it.
void DestroyNative(TForm::Native* native);
// Hides a form's window.
void HideNative(TForm::Native* native);
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

}  // namespace formframework

// The framework's own state of a form.
struct TForm::Input {
  bool leftCaptured = false;  // a left press over the client area was delivered, not yet released
};
