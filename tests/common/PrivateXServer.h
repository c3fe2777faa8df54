// Private X servers for the tests that move a real pointer or read real windows (they must not
// share a server with other test programs that CTest runs at the same time), and ways to drive
// and wait for the program's own windows on them.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testx {

// True when nobody uses display `number`: neither a lock file here nor a listening socket
// anywhere in the network namespace (X clients try the abstract socket first, and on a shared
// machine it may belong to a server whose lock file lives in another /tmp).
bool DisplayNumberFree(int number);

// Starts Xvfb on the first free display number from `first` on (up to 40 tried) and returns its
// name (":N") once it accepts connections, with its process in *pid; empty when none started.
// The server is told to end with the process that started it. `extra` arguments go to Xvfb.
std::string StartXvfb(int first, pid_t* pid, const std::vector<std::string>& extra = {});

// Ends a server StartXvfb started.
void StopXvfb(pid_t pid);

// Starts Xvfb on a free display for the rest of the process and points $DISPLAY at it; false
// when no server can be had (the tests then run on the $DISPLAY given, if any).
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
