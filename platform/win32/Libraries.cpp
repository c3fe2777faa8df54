// The library names of this system. The libraries themselves are loaded by the system's own
// LoadLibraryA, GetProcAddress and FreeLibrary.
#include "platform/Platform.h"

const char* const GLLibraryName = "OpenGL32.dll";
const char* const GLULibraryName = "GLU32.dll";
const char* const LuaLibraryDefaultName = "Lua51.dll";

std::string LoadableLibraryName(const std::string& name) {
  // A bare name goes to the loader's search, which looks in the program's folder first: the
  // library shipped beside the program wins over any namesake elsewhere.
  return name;
}
