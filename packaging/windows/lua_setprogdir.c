/* Replaces setprogdir of Lua's loadlib.c in the program's Lua51.dll (scripts/windows-deps.d/lua.sh
 * splices it in): Lua's own asks for the program's path in a buffer of MAX_PATH bytes and
 * raises when it is longer, which ends luaL_openlibs; under the UTF-8 code page 87 CJK
 * characters are enough. Here the buffer grows until the path fits. It is a userdata, so that
 * an error while the path is used frees it with everything else. */
static void setprogdir (lua_State *L) {
  DWORD nsize = MAX_PATH + 1;
  DWORD n = 0;
  char *buff = NULL;
  char *lb;
  for (;;) {
    buff = (char *)lua_newuserdata(L, nsize);
    n = GetModuleFileNameA(NULL, buff, nsize);
    if (n < nsize) break;  /* it fits, or it failed (0) */
    lua_pop(L, 1);
    if (nsize > 0x100000) {  /* no path is this long: give up */
      n = 0;
      lua_pushnil(L);
      break;
    }
    nsize *= 2;
  }
  if (n == 0 || (lb = strrchr(buff, '\\')) == NULL)
    luaL_error(L, "unable to get ModuleFileName");
  else {
    *lb = '\0';
    luaL_gsub(L, lua_tostring(L, -2), LUA_EXECDIR, buff);
    lua_remove(L, -2);  /* remove the buffer */
    lua_remove(L, -2);  /* remove original string */
  }
}
