// Display numbers for the tests' private X servers.
#pragma once

namespace testx {

// True when nobody uses display `number`: neither a lock file here nor a listening socket
// anywhere in the network namespace (X clients try the abstract socket first, and on a shared
// machine it may belong to a server whose lock file lives in another /tmp).
bool DisplayNumberFree(int number);

// The first free display number from `first` on (up to 40 tried); -1 when none is free.
int FreeDisplayNumber(int first);

}  // namespace testx
