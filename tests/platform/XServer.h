// A private X server for the window tests: pointer and keyboard tests must not share a server
// with other test programs that CTest runs at the same time.
#pragma once

#include <functional>
#include <string>

namespace testx {

// Starts Xvfb on a free display and points $DISPLAY at it; false when no server can be had (the
// tests then run on the $DISPLAY given, if any).
bool StartPrivateServer();
bool HaveDisplay();

// Runs a shell command with the test's $DISPLAY and returns its standard output (trimmed) and
// exit status.
std::string Run(const std::string& command, int* status = nullptr);

// Pumps the application's events until `done` holds or `timeoutMs` passes.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 3000);

// Runs a command in the background while the loop keeps dispatching, so that tools that wait
// for our windows (xdotool search --sync) get their answers; returns its output.
std::string RunWhilePumping(const std::string& command, int timeoutMs = 5000);

}  // namespace testx
