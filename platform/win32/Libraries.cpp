// The library names of this system. The libraries themselves are loaded by the system's own
// loader, by wide-character name, and resolved with GetProcAddress.
#include "platform/Platform.h"
#include "platform/win32/Win32Backend.h"

using namespace win32backend;

const char* const GLLibraryName = "OpenGL32.dll";
const char* const GLULibraryName = "GLU32.dll";
const char* const LuaLibraryDefaultName = "Lua51.dll";

std::string LoadableLibraryName(const std::string& name) {
  // A bare name goes to the loader's search, which looks in the program's folder first: the
  // library shipped beside the program wins over any namesake elsewhere.
  return name;
}

HMODULE Utf8LoadLibraryA(const char* fileName) {
  if (!fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return LoadLibraryW(WideFromText(fileName).c_str());
}

bool LuaLibraryUnwindsOurFrames(HMODULE library) {
  // Lua51.dll as the Windows build makes it exports this marker: it is Lua compiled as C++,
  // whose errors are exceptions that unwind the program's frames. A C build of Lua would
  // longjmp over them, skipping their destructors and guards.
  return GetProcAddress(library, "kestrune_lua_unwinds_cxx_frames") != nullptr;
}
