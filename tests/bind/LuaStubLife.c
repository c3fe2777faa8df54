/* Lets a test see when a stand-in Lua library is loaded and released: the counts are kept in
   the environment, which outlives the library. */
#include <stdio.h>
#include <stdlib.h>

static void Bump(const char* name) {
  const char* value = getenv(name);
  char text[32];
  snprintf(text, sizeof text, "%d", (value ? atoi(value) : 0) + 1);
  setenv(name, text, 1);
}

__attribute__((constructor)) static void Loaded(void) { Bump("KESTRUNE_LUA_STUB_LOADS"); }

__attribute__((destructor)) static void Released(void) { Bump("KESTRUNE_LUA_STUB_RELEASES"); }
