// Table reads that may run a script's metamethods outside any script call (while drawing, and
// while looking for an event's handler). A metamethod that raises there must not end the
// program: the read runs protected, its failure reads as nil, and the error with its traceback
// goes to standard error.
#pragma once

#include "bind/LuaBind.h"

// [.., table, key] -> [.., value], an ordinary read (metatables apply). When it raises, the
// value is nil and the result false.
bool ProtectedGetTable(LuaBind::lua_State* L);

// Pushes the C function kept in the registry under `key` (the address of a variable of the
// caller's), putting it there on first use: unlike lua_pushcfunction, pushing it again and again
// allocates nothing.
void PushRegistryFunction(LuaBind::lua_State* L, const void* key, LuaBind::lua_CFunction function);

// Creates what ProtectedGetTable needs and keeps the keys that drawing reads alive, so that the
// reads of a frame allocate nothing. The host calls it once; without it the first read does it.
void PrepareProtectedReads(LuaBind::lua_State* L);
