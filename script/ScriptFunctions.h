// What scripts can call beyond Lua's standard libraries: the globals print and createTexture,
// the six functions every node table carries, and the routines they share for checking their
// arguments.
#pragma once

#include <exception>
#include <initializer_list>
#include <string>

#include "bind/LuaBind.h"

class CLuaNode;

namespace LuaScript {

// Every function that Lua calls runs its body through here: an exception of ours becomes a Lua
// error with its message, since it must never unwind the interpreter's own frames. Lua's own
// errors are no std::exceptions and pass through untouched.
template <typename Body>
int Guarded(LuaBind::lua_State* L, Body body) {
  std::string message;
  try {
    return body();
  } catch (const std::exception& error) {
    message = error.what();
  }
  LuaBind::lua_pushstring(L, message.c_str());
  return LuaBind::lua_error(L);
}

// A list of Lua type codes, one per expected argument.
using ArgPattern = std::initializer_list<int>;

// True when the arguments have exactly the pattern's types (a string holding a number is a
// string); with `exact` false, further arguments are allowed.
bool ArgsMatch(LuaBind::lua_State* L, bool exact, ArgPattern pattern);
// Raises the argument error for the first argument that breaks the pattern, or for the first
// one beyond it. Called only when ArgsMatch failed for this pattern or one it covers.
[[noreturn]] void RaiseArgError(LuaBind::lua_State* L, ArgPattern pattern);
// Empties the function's stack. Returns 0.
int ClearStack(LuaBind::lua_State* L);
// The node a node function was made for; null once it was removed.
CLuaNode* UpvalueNode(LuaBind::lua_State* L);
// "name N args" and one description per argument; empties the stack.
std::string DescribeArgs(const std::string& name, LuaBind::lua_State* L);
// Copies the string-keyed fields of the table below the top into the table at the top.
void CopyTableFields(LuaBind::lua_State* L);

// Globals.
int print(LuaBind::lua_State* L);
int createTexture(LuaBind::lua_State* L);

// Node functions; their one upvalue is their node's cell. Those of a removed node do nothing
// and return nothing.
int createNode(LuaBind::lua_State* L);
int getNode(LuaBind::lua_State* L);
int setAttr(LuaBind::lua_State* L);
int createPicture(LuaBind::lua_State* L);
int setPicture(LuaBind::lua_State* L);
int getPicture(LuaBind::lua_State* L);

}  // namespace LuaScript
