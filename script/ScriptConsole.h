// What the script host writes on the console: each print's line on standard output, and each
// script error on standard error with the Lua stack traceback of where it was raised. The
// caption keeps showing what it always showed; this is said besides.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// Told of every script error that is written (ReportScriptError, CRepeatedErrors::Report, each
// repeat included), with its report, when set: a scene's test fails on a handler's error.
extern std::function<void(const std::string& report)> ScriptErrorSeen;

// What ReportScriptError writes, without writing it; the noted traceback is used up the same way.
std::string ScriptErrorReport(LuaBind::lua_State* L);

// The errors of the scene's ticks. A failing onTick or timer fails again on every tick, 18 to
// 100 times a second: it is written once, then as a count every few seconds while it goes on.
class CRepeatedErrors {
 public:
  // An error's report (its message and traceback) at `now`, in µs of scene time.
  void Report(const std::string& report, int64_t now);
  // Writes the count of the repeats not yet written once it is due.
  void Flush(int64_t now);

 private:
  struct TSeen {
    std::string Report;
    int64_t WrittenAt;  // when a line about it was last written
    uint64_t Repeats;   // since then
  };
  // The errors seen lately, the last seen last: a failing onTick and a failing timer alternate.
  std::vector<TSeen> Seen;
};
