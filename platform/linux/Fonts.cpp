// The system's fonts on Linux: fontconfig's choice for a character, and Debian's DejaVu folder.
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace {

// The caller opens each candidate in turn until one has the character; beyond the first few that
// claim it, none would be reached.
constexpr size_t MaxCandidates = 4;

// fontconfig names languages in lower case with '-' ("zh-tw"); BCP 47 also writes '_'.
std::string FontconfigLanguage(const std::string& lang) {
  std::string result;
  for (char c : lang) {
    if (c == '_') c = '-';
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    result += c;
  }
  return result;
}

}  // namespace

std::vector<TFontFile> FallbackFontFiles(uint32_t character, const std::string& lang) {
  std::vector<TFontFile> files;
  if (!SystemFontFallback()) return files;
  // Set up on the first call only: a scene without text never reads the font configuration.
  if (!FcInit()) return files;
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
  const std::string language = FontconfigLanguage(lang);
  if (!language.empty()) {
    FcLangSet* langs = FcLangSetCreate();
    FcLangSetAdd(langs, reinterpret_cast<const FcChar8*>(language.c_str()));
    FcPatternAddLangSet(pattern, FC_LANG, langs);
    FcLangSetDestroy(langs);
  }
  FcCharSet* wanted = FcCharSetCreate();
  FcCharSetAddChar(wanted, character);
  FcPatternAddCharSet(pattern, FC_CHARSET, wanted);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcFontSet* sorted = FcFontSort(nullptr, pattern, FcTrue, nullptr, &result);
  if (sorted) {
    for (int i = 0; i < sorted->nfont && files.size() < MaxCandidates; ++i) {
      FcPattern* font = sorted->fonts[i];
      FcCharSet* charset = nullptr;
      FcChar8* file = nullptr;
      int index = 0;
      FcBool scalable = FcTrue;
      // Bitmap fonts come in fixed sizes only; text is drawn at any.
      if (FcPatternGetBool(font, FC_SCALABLE, 0, &scalable) == FcResultMatch && !scalable) continue;
      // The sort puts the closest style first, not the fonts that have the character.
      if (FcPatternGetCharSet(font, FC_CHARSET, 0, &charset) != FcResultMatch ||
          !FcCharSetHasChar(charset, character))
        continue;
      if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) continue;
      FcPatternGetInteger(font, FC_INDEX, 0, &index);
      files.push_back({reinterpret_cast<const char*>(file), index});
    }
    FcFontSetDestroy(sorted);
  }
  FcCharSetDestroy(wanted);
  FcPatternDestroy(pattern);
  return files;
}

std::string BundledFontFolder() {
  return "/usr/share/fonts/truetype/dejavu/";
}

std::string UserLanguage() {
  // The variables in the order the C library reads them for the character type.
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    std::string tag(value);
    tag.erase(std::min(tag.find('.'), tag.find('@')));  // "ja_JP.UTF-8@mod"
    if (tag == "C" || tag == "POSIX") return "";
    for (char& c : tag)
      if (c == '_') c = '-';
    return tag;
  }
  return "";
}
