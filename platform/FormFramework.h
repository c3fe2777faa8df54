// What both backends' form frameworks share: the registries of timers and forms, and the parts
// of the form and application objects that do not depend on the window system. Only platform/
// includes this header.
#pragma once

#include <set>
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

// Each backend: takes down a form's window and frees the backend state behind it.
void DestroyNative(TForm::Native* native);

// Each backend: waits for the next event or tick and dispatches what is there; false when the
// system asks the program to end.
bool WaitAndDispatch();

}  // namespace formframework
