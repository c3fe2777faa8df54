// Private X servers for the tests that move a real pointer or read real windows: they must not
// share a server with other test programs that CTest runs at the same time.
#pragma once

#include <sys/types.h>

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

}  // namespace testx
