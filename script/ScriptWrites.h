// The files a scene's interpreter writes, renames or removes through Lua's own io and os
// functions, noted so that --watch can pass over a scene's own output.
#pragma once

#include <string>
#include <vector>

#include "bind/LuaBind.h"

// Wraps io.open (for a mode with 'w', 'a' or '+'), io.output with a name, os.rename and
// os.remove of a fresh interpreter so that the paths they are given are noted; scripts see the
// same results and the same error texts as before. Runs in a protected call: false when it
// failed (out of memory), with the interpreter's stack as it was.
bool NoteScriptWrites(LuaBind::lua_State* L);

// The paths noted since the last call, each once, as the script named them (a relative one is
// relative to the working folder).
std::vector<std::string> TakeScriptWrites();
