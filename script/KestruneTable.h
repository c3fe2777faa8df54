// The global table `kestrune`: the functions a scene calls for its time, its timers, its
// animations, its tick interval and its window (full screen, the pointer), with the list they
// are registered from.
#pragma once

#include <cstdint>
#include <vector>

#include "bind/LuaBind.h"

class CLua;

// Makes the table, with each function a closure over the host, and sets it as the global
// `kestrune` and as package.loaded.kestrune. Runs inside the host's protected set-up. The
// program never reads the global back: a scene that replaces it only loses the functions.
void RegisterKestruneTable(LuaBind::lua_State* L, CLua* host);

// A function of a table that another part of the program adds to `kestrune`.
struct TKestruneFunction {
  const char* Name;
  LuaBind::lua_CFunction Function;
};

// Sets kestrune[name] to a new table of these functions, each a closure over `upvalue`, inside a
// protected call of the host's. False when the host has no interpreter or the call raised.
bool AddKestruneFunctions(CLua& host, const char* name,
                          const std::vector<TKestruneFunction>& functions, void* upvalue);

// A handle as scripts hold it, and back; 0 for a value that is no handle.
void PushSceneHandle(LuaBind::lua_State* L, uint64_t handle);

// The one place where an animation reads a field's value at its start (pushing it) and writes
// its values, the table and the key being at those stack positions: a field that the host keeps
// for a node rather than in its table is to be read and set here.
void ReadAnimatedField(LuaBind::lua_State* L, int table, int key);
void WriteAnimatedField(LuaBind::lua_State* L, int table, int key, LuaBind::lua_Number value);
