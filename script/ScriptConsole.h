// What the script host writes on the console: each print's line on standard output, and each
// script error on standard error with the Lua stack traceback of where it was raised. The
// caption keeps showing what it always showed; this is said besides.
#pragma once

#include <string>

#include "bind/LuaBind.h"

// The arguments of the running C function as Lua's own print shows them, separated by tabs,
// without calling a metamethod: strings as their bytes, numbers as Lua turns them into text,
// true, false and nil, and any other value as its type and address ("table: 0x55d0c4a8"). The
// stack is left as it is.
std::string PrintLine(LuaBind::lua_State* L);

// A number as Lua writes it ("%.14g"), without asking the interpreter.
std::string NumberText(LuaBind::lua_Number value);

// Pushes the message handler to give lua_pcall: it notes the traceback of the failing call
// where ReportScriptError finds it, and hands the error value on unchanged, so the caller sees
// exactly what it would see without one. Pushing it allocates nothing once it exists (a frame's
// reads must not); the host makes it when it makes the interpreter.
void PushTracebackHandler(LuaBind::lua_State* L);

// Writes the error value at the top of the stack, and the traceback noted for it if any, to
// standard error. A value that is neither a string nor a number is named by its type, as the
// stand-alone interpreter names it; no metamethod runs, and nothing is allocated in the
// interpreter, so it may be called outside any protected call. The stack is left as it is.
void ReportScriptError(LuaBind::lua_State* L);
