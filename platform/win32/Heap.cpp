// The heap's settings for the whole run: nothing to set here. The Linux backend keeps the GL
// driver's per-frame memory mapped because glibc hands the top of its heap back to the kernel
// by a threshold that adjusts itself; the C run time here allocates from the process heap,
// which has no such threshold to set while the program runs (when it gives free pages back
// follows from the program's load configuration at link time), and the GL driver is the
// vendor's or the system's, with pools of its own. Page faults per tick on a Windows machine
// (GetProcessMemoryInfo) would show whether that ever needs more.
#include <malloc.h>

#include "platform/Platform.h"

void ConfigureHeap() {}

void ReleaseFreeHeap() {
  _heapmin();
}
