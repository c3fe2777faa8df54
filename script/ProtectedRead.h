// Protected calls for the host's own work in the interpreter. Outside a script call nothing may
// raise unprotected: a metamethod may raise during a table read, a collection step that an
// allocation starts may run a finaliser that raises, and memory may run out; unprotected, any of
// them would end the program with a Lua panic. So everything the host does in the interpreter
// (drawing's reads, the lookup of a handler and the pushing of its arguments, compiling the start
// script, opening the libraries) runs inside one of these, and a raise there is reported where a
// handler's error goes and costs only what it interrupted.
#pragma once

#include <string>

#include "bind/LuaBind.h"

// What a protected call runs: `context` is the caller's, `L` the state.
using TProtectedBody = void (*)(void* context, LuaBind::lua_State* L);

// Runs `body` inside lua_pcall with the traceback handler. True when it ran to its end. When the
// interpreter raised inside it, the error and its traceback go to standard error, *error (when
// given) gets the error value as text (empty when it is neither a string nor a number), and the
// result is false. Either way the stack is back at its height before the call. A C++ exception
// that leaves `body` is carried past the interpreter and raised again here. Nothing is allocated
// in the interpreter outside the protected part once PrepareProtectedReads made what it needs.
// With `report` given, the error and its traceback are put there instead of being written.
bool RunProtected(LuaBind::lua_State* L, TProtectedBody body, void* context,
                  std::string* error = nullptr, std::string* report = nullptr);

template <typename Body>
bool RunProtected(LuaBind::lua_State* L, Body& body, std::string* error = nullptr,
                  std::string* report = nullptr) {
  return RunProtected(
      L, [](void* context, LuaBind::lua_State* state) { (*static_cast<Body*>(context))(state); },
      &body, error, report);
}

// The same through lua_cpcall, for a state where nothing is prepared yet (the host's set-up).
// It reports nothing: *error gets the text as above.
template <typename Body>
bool RunProtectedOnce(LuaBind::lua_State* L, Body& body, std::string* error);

// Pushes the C function kept in the registry under `key` (the address of a variable of the
// caller's), putting it there on first use: unlike lua_pushcfunction, pushing it again and again
// allocates nothing.
void PushRegistryFunction(LuaBind::lua_State* L, const void* key, LuaBind::lua_CFunction function);

// Creates what RunProtected needs and keeps the keys that drawing reads alive, so that the reads
// of a frame allocate nothing. The host calls it once, inside its protected set-up.
void PrepareProtectedReads(LuaBind::lua_State* L);

// The error value at `index` as text without calling into anything that allocates: a string as
// it is, a number as Lua writes it, anything else empty.
std::string ErrorValueText(LuaBind::lua_State* L, int index);

// -- implementation of the template above --------------------------------------------------------

namespace ProtectedDetail {
bool RunOnce(LuaBind::lua_State* L, TProtectedBody body, void* context, std::string* error);
}

template <typename Body>
bool RunProtectedOnce(LuaBind::lua_State* L, Body& body, std::string* error) {
  return ProtectedDetail::RunOnce(
      L, [](void* context, LuaBind::lua_State* state) { (*static_cast<Body*>(context))(state); },
      &body, error);
}
