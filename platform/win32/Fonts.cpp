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

std::string UserLanguage() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH];
  const int length = GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH);
  std::string tag;
  // Locale names are ASCII ("ja-JP", "sr-Latn-RS").
  for (int i = 0; i + 1 < length; ++i)
    if (name[i] < 0x80) tag += char(name[i]);
  return tag;
}
