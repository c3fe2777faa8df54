// Force-included into every file of Lua51.dll, which is compiled as C++: the API gets C
// linkage before Lua's own files declare it, so the DLL exports the plain names that
// GetProcAddress looks up, while errors are thrown as C++ exceptions. The C headers Lua's
// headers pull in come first, outside the linkage block.
#include <limits.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

extern "C" {
#include "lauxlib.h"
#include "lua.h"
#include "lualib.h"
}
