// The system's fonts on Windows: the bundled folder beside the program; the registry's fonts as
// fallback are still to come.
#include <string>
#include <vector>

#include "platform/Platform.h"

std::vector<TFontFile> FallbackFontFiles(uint32_t, const std::string&) {
  return {};
}

std::string BundledFontFolder() {
  char buffer[32768];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, DWORD(sizeof buffer));
  if (length == 0 || length >= sizeof buffer) return "fonts\\";
  std::string folder(buffer, length);
  const size_t slash = folder.find_last_of("\\/");
  folder.erase(slash == std::string::npos ? 0 : slash + 1);
  return folder + "fonts\\";
}
