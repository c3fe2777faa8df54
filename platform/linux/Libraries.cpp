// Dynamic libraries over the dynamic loader. The GL library's handle also answers the WGL base
// names, which the GL library of this platform does not have.
#include <dlfcn.h>
#include <link.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/Platform.h"
#include "platform/linux/X11Backend.h"

const char* const GLLibraryName = "libGL.so.1";
const char* const GLULibraryName = "libGLU.so.1";
const char* const LuaLibraryDefaultName = KESTRUNE_LUA_LIBRARY;

std::string LoadableLibraryName(const std::string& name) {
  for (char c : name)
    if (IsPathDelimiter(c)) return name;
  return "./" + name;
}

bool LuaLibraryUnwindsOurFrames(HMODULE) {
  return true;
}

namespace {

// Handles given out and not yet released, with their counts: FreeLibrary on anything else is
// refused instead of handing a stray pointer to the loader.
std::map<void*, int>& LoadedLibraries() {
  static std::map<void*, int> libraries;
  return libraries;
}

std::string PathOfHandle(void* handle) {
  link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return std::string();
  return map->l_name;
}

// True when the library behind `handle` is itself the GL library (not merely something that
// depends on it, as the GLU library does).
bool IsGLLibraryUncached(void* handle) {
  void* symbol = dlsym(handle, "glXGetProcAddressARB");
  if (!symbol) return false;
  Dl_info info;
  if (!dladdr(symbol, &info) || !info.dli_fname) return false;
  std::string own = PathOfHandle(handle);
  if (own.empty()) return false;
  char a[PATH_MAX], b[PATH_MAX];
  const char* left = realpath(own.c_str(), a) ? a : own.c_str();
  const char* right = realpath(info.dli_fname, b) ? b : info.dli_fname;
  return std::strcmp(left, right) == 0;
}

std::map<void*, bool>& KnownGLLibraries() {
  static std::map<void*, bool> known;
  return known;
}

void ForgetLibrary(void* handle) {
  KnownGLLibraries().erase(handle);
}

bool IsGLLibrary(void* handle) {
  // The binding asks for over a hundred WGL names; the answer per handle does not change.
  auto found = KnownGLLibraries().find(handle);
  if (found != KnownGLLibraries().end()) return found->second;
  bool result = IsGLLibraryUncached(handle);
  KnownGLLibraries()[handle] = result;
  return result;
}

}  // namespace

HMODULE LoadLibraryA(const char* fileName) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++LoadedLibraries()[handle];
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  void* handle = reinterpret_cast<void*>(module);
  if (!handle || !LoadedLibraries().count(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // Small values stand for ordinals on Windows; there are none here.
  if (reinterpret_cast<uintptr_t>(procName) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  dlerror();
  void* symbol = dlsym(handle, procName);
  if (symbol) {
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<FARPROC>(symbol);
  }
  if (std::strncmp(procName, "wgl", 3) == 0 && IsGLLibrary(handle)) {
    if (FARPROC own = xbackend::WglBaseFunction(procName)) {
      SetLastError(ERROR_SUCCESS);
      return own;
    }
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
  void* handle = reinterpret_cast<void*>(module);
  auto found = LoadedLibraries().find(handle);
  if (!handle || found == LoadedLibraries().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (--found->second == 0) {
    LoadedLibraries().erase(found);
    // A later load may put another library at the same address.
    ForgetLibrary(handle);
  }
  dlclose(handle);
  return TRUE;
}
