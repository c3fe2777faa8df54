// Which GL and GLU versions and which extensions the current context offers.
#include <algorithm>
#include <climits>
#include <cstring>

#include "bind/GLBind.h"

namespace GLBind {

namespace {

// Detection works before LoadEntryPoints has run: the few functions it needs are looked up
// when their variables are still empty.
template <typename F>
void ResolveIfNull(F& variable, const char* name) {
  if (!variable) variable = ProcAs<F>(GetEntryPoint(name, nullptr));
}

// A null text (as glGetString gives without a current context) counts as empty.
const char* Text(const void* text) {
  return text ? static_cast<const char*>(text) : "";
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::string GetExtensionString() {
  ResolveIfNull(glGetString, "glGetString");
  std::string extensions = glGetString ? Text(glGetString(GL_EXTENSIONS)) : "";
  if (GLLibraryHandle) {
    ResolveIfNull(wglGetExtensionsStringEXT, "wglGetExtensionsStringEXT");
    if (wglGetExtensionsStringEXT) {
      extensions += ' ';
      extensions += Text(wglGetExtensionsStringEXT());
    }
    ResolveIfNull(wglGetExtensionsStringARB, "wglGetExtensionsStringARB");
    if (wglGetExtensionsStringARB) {
      HDC dc = wglGetCurrentDC ? wglGetCurrentDC() : nullptr;
      extensions += ' ';
      extensions += Text(wglGetExtensionsStringARB(dc));
    }
  }
  return ' ' + extensions + ' ';
}

bool HasExtension(const std::string& extensions, const char* name) {
  if (!name) return false;
  std::string token = ' ' + std::string(name) + ' ';
  return extensions.find(token) != std::string::npos;
}

void ParseVersionString(const char* text, int& major, int& minor) {
  major = 0;
  minor = 0;
  if (!text) return;
  const char* dot = std::strchr(text, '.');
  if (!dot || dot == text || !IsDigit(dot[-1]) || !IsDigit(dot[1])) return;
  const char* start = dot;
  while (start > text && IsDigit(start[-1])) --start;
  long long value = 0;
  for (const char* digit = start; digit < dot; ++digit) {
    value = value * 10 + (*digit - '0');
    if (value > INT_MAX) return;  // too long for the major number: no version at all
  }
  major = static_cast<int>(value);
  minor = dot[1] - '0';
}

void ReadVersionFlags() {
  ResolveIfNull(glGetString, "glGetString");
  int major, minor;
  ParseVersionString(glGetString ? Text(glGetString(GL_VERSION)) : "", major, minor);

  bool* flags = VersionFlags;
  std::fill(flags, flags + GLVersion4_0 + 1, false);
  flags[GLVersion1_0] = true;
  if (major == 1) {
    flags[GLVersion1_1] = minor >= 1;
    flags[GLVersion1_2] = minor >= 2;
    flags[GLVersion1_3] = minor >= 3;
    flags[GLVersion1_4] = minor >= 4;
    flags[GLVersion1_5] = minor >= 5;
  }
  if (major >= 2) {
    std::fill(flags + GLVersion1_1, flags + GLVersion2_0 + 1, true);
    if (minor >= 1) flags[GLVersion2_1] = true;
  }
  if (major >= 3) {
    flags[GLVersion2_1] = true;
    flags[GLVersion3_0] = true;
    if (minor >= 1) flags[GLVersion3_1] = true;
    if (minor >= 2) flags[GLVersion3_2] = true;
    if (minor >= 3) flags[GLVersion3_3] = true;
  }
  if (major >= 4) std::fill(flags + GLVersion3_1, flags + GLVersion4_0 + 1, true);

  // The GLU major number is not consulted: any GLU that answers is at least 1.1.
  flags[GLUVersion1_1] = flags[GLUVersion1_2] = flags[GLUVersion1_3] = false;
  if (gluGetString) {
    ParseVersionString(Text(gluGetString(GLU_VERSION)), major, minor);
    flags[GLUVersion1_1] = true;
    flags[GLUVersion1_2] = minor >= 2;
    flags[GLUVersion1_3] = minor >= 3;
  }
}

void DetectVersionAndExtensions() {
  ReadVersionFlags();
  const std::string extensions = GetExtensionString();
  for (int i = 0; i < ExtensionCount; ++i)
    ExtensionFlags[i] = HasExtension(extensions, ExtensionNames[i]);
}

}  // namespace GLBind
