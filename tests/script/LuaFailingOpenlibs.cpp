// A Lua library whose luaL_openlibs raises, as the package library of Lua 5.1 does on Windows
// when it cannot get the program's path; every other name is the real library's, beneath it.
extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

extern "C" void luaL_openlibs(lua_State* L) {
  luaL_error(L, "unable to get ModuleFileName");
}
