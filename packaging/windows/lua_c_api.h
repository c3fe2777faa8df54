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

// Numbers become integers by truncation, as in the Linux program's Lua and the 64-bit DLL:
// luaconf.h rounds instead on 32-bit x86 built without SSE2, so the same script would pass
// 2.75 on as 3 here and as 2 everywhere else. (luaconf.h is read once, above; these stay.)
#undef lua_number2int
#undef lua_number2integer
#define lua_number2int(i, d) ((i) = (int)(d))
#define lua_number2integer(i, d) ((i) = (lua_Integer)(d))
