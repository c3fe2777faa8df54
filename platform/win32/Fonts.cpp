// The system's fonts on Windows: the fonts the registry lists, machine-wide and the user's own,
// looked through for a character in the order of the families Windows ships for its script, then
// any font whose character map has it; and the bundled folder beside the program.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/Win32Backend.h"

using win32backend::Utf8FromWide;
using win32backend::WideFromText;

namespace {

// The caller opens each candidate in turn until one has the character; beyond the first few that
// have it, none would be reached.
constexpr size_t MaxCandidates = 4;

// The families Windows ships for each script, best first, after Microsoft's "Script and font
// support in Windows". Each list starts with the newest system's font and keeps the older ones
// that Windows 7 has, which later systems still ship: Segoe UI (Latin, Greek, Cyrillic; Arabic
// and Hebrew since 7), Nirmala UI (the Indic scripts, 8) before Mangal, Vrinda, Latha... (7),
// Microsoft YaHei (Vista) and SimSun, Microsoft JhengHei (Vista) and PMingLiU, Meiryo (Vista)
// and MS Gothic, Malgun Gothic (Vista) and Gulim. Whether a listed font has the character is
// checked, so a family that lacks it (Segoe UI's Armenian before 8) only costs a look.
using Families = std::vector<const char*>;
const Families kDefault = {
    "Segoe UI", "Arial", "Tahoma", "Times New Roman", "Microsoft Sans Serif", "Segoe UI Symbol"};
const Families kArabic = {"Segoe UI", "Tahoma", "Arial", "Times New Roman", "Microsoft Sans Serif"};
const Families kHebrew = {"Segoe UI", "Arial", "Tahoma", "Times New Roman", "Microsoft Sans Serif"};
const Families kArmenianGeorgian = {"Segoe UI", "Sylfaen", "Arial"};
const Families kSyriac = {"Segoe UI Historic", "Estrangelo Edessa"};
const Families kThaana = {"MV Boli"};
const Families kNko = {"Ebrima"};
const Families kDevanagari = {"Nirmala UI", "Mangal", "Aparajita", "Kokila", "Utsaah"};
const Families kBengali = {"Nirmala UI", "Vrinda", "Shonar Bangla"};
const Families kGurmukhi = {"Nirmala UI", "Raavi"};
const Families kGujarati = {"Nirmala UI", "Shruti"};
const Families kOriya = {"Nirmala UI", "Kalinga"};
const Families kTamil = {"Nirmala UI", "Latha", "Vijaya"};
const Families kTelugu = {"Nirmala UI", "Gautami", "Vani"};
const Families kKannada = {"Nirmala UI", "Tunga"};
const Families kMalayalam = {"Nirmala UI", "Kartika"};
const Families kSinhala = {"Nirmala UI", "Iskoola Pota"};
const Families kThai = {"Leelawadee UI", "Leelawadee", "Tahoma"};
const Families kLao = {"Leelawadee UI", "Lao UI", "DokChampa"};
const Families kTibetan = {"Microsoft Himalaya"};
const Families kMyanmar = {"Myanmar Text"};
const Families kEthiopic = {"Ebrima", "Nyala"};
const Families kCherokee = {"Gadugi", "Plantagenet Cherokee"};
const Families kCanadian = {"Gadugi", "Euphemia"};
const Families kKhmer = {"Leelawadee UI", "Khmer UI", "DaunPenh", "MoolBoran"};
const Families kMongolian = {"Mongolian Baiti"};
const Families kTaiLe = {"Microsoft Tai Le"};
const Families kNewTaiLue = {"Microsoft New Tai Lue"};
const Families kYi = {"Microsoft Yi Baiti"};
const Families kTifinagh = {"Ebrima"};
const Families kSymbols = {"Segoe UI Symbol", "Segoe UI Emoji", "Segoe UI", "Arial"};
const Families kJapanese = {"Yu Gothic UI", "Meiryo UI", "Meiryo",    "Yu Gothic",
                            "MS UI Gothic", "MS Gothic", "MS PGothic"};
const Families kSimplifiedChinese = {"Microsoft YaHei UI", "Microsoft YaHei", "SimSun", "SimHei",
                                     "NSimSun"};
const Families kTraditionalChinese = {"Microsoft JhengHei UI", "Microsoft JhengHei", "PMingLiU",
                                      "MingLiU"};
const Families kKorean = {"Malgun Gothic", "Gulim", "Dotum", "Batang"};
// Han characters are shared: the language picks the country's forms, the other two follow.
enum class Han { None, Japanese, Korean, Simplified, Traditional };

struct ScriptRange {
  uint32_t first, last;
  const Families* families;  // nullptr: Han, chosen by the language
};
const ScriptRange kScripts[] = {
    {0x0530, 0x058F, &kArmenianGeorgian},
    {0x0590, 0x05FF, &kHebrew},
    {0x0600, 0x06FF, &kArabic},
    {0x0700, 0x074F, &kSyriac},
    {0x0750, 0x077F, &kArabic},
    {0x0780, 0x07BF, &kThaana},
    {0x07C0, 0x07FF, &kNko},
    {0x08A0, 0x08FF, &kArabic},
    {0x0900, 0x097F, &kDevanagari},
    {0x0980, 0x09FF, &kBengali},
    {0x0A00, 0x0A7F, &kGurmukhi},
    {0x0A80, 0x0AFF, &kGujarati},
    {0x0B00, 0x0B7F, &kOriya},
    {0x0B80, 0x0BFF, &kTamil},
    {0x0C00, 0x0C7F, &kTelugu},
    {0x0C80, 0x0CFF, &kKannada},
    {0x0D00, 0x0D7F, &kMalayalam},
    {0x0D80, 0x0DFF, &kSinhala},
    {0x0E00, 0x0E7F, &kThai},
    {0x0E80, 0x0EFF, &kLao},
    {0x0F00, 0x0FFF, &kTibetan},
    {0x1000, 0x109F, &kMyanmar},
    {0x10A0, 0x10FF, &kArmenianGeorgian},
    {0x1100, 0x11FF, &kKorean},
    {0x1200, 0x139F, &kEthiopic},
    {0x13A0, 0x13FF, &kCherokee},
    {0x1400, 0x167F, &kCanadian},
    {0x1780, 0x17FF, &kKhmer},
    {0x1800, 0x18AF, &kMongolian},
    {0x1950, 0x197F, &kTaiLe},
    {0x1980, 0x19DF, &kNewTaiLue},
    {0x19E0, 0x19FF, &kKhmer},
    {0x2000, 0x2BFF, &kSymbols},
    {0x2D30, 0x2D7F, &kTifinagh},
    {0x2E80, 0x2FDF, nullptr},
    {0x3000, 0x303F, nullptr},
    {0x3040, 0x30FF, &kJapanese},
    {0x3100, 0x312F, &kTraditionalChinese},
    {0x3130, 0x318F, &kKorean},
    {0x31A0, 0x31BF, &kTraditionalChinese},
    {0x31C0, 0x31EF, nullptr},
    {0x31F0, 0x31FF, &kJapanese},
    {0x3200, 0x4DBF, nullptr},
    {0x4E00, 0x9FFF, nullptr},
    {0xA000, 0xA4CF, &kYi},
    {0xA8E0, 0xA8FF, &kDevanagari},
    {0xA960, 0xA97F, &kKorean},
    {0xAC00, 0xD7FF, &kKorean},
    {0xF900, 0xFAFF, nullptr},
    {0xFB1D, 0xFB4F, &kHebrew},
    {0xFB50, 0xFDFF, &kArabic},
    {0xFE30, 0xFE4F, nullptr},
    {0xFE70, 0xFEFF, &kArabic},
    {0xFF00, 0xFF60, nullptr},
    {0xFF61, 0xFF9F, &kJapanese},
    {0xFFA0, 0xFFDC, &kKorean},
    {0xFFE0, 0xFFEF, nullptr},
    {0x1F000, 0x1FAFF, &kSymbols},
    {0x20000, 0x3FFFF, nullptr},
};

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

Han HanFor(const std::string& bcp47) {
  const std::string lang = Lower(bcp47);
  auto starts = [&](const char* prefix) {
    const size_t n = std::strlen(prefix);
    return lang.compare(0, n, prefix) == 0 &&
           (lang.size() == n || lang[n] == '-' || lang[n] == '_');
  };
  if (starts("ja")) return Han::Japanese;
  if (starts("ko")) return Han::Korean;
  if (starts("zh")) {
    for (const char* traditional : {"hant", "tw", "hk", "mo"}) {
      const size_t at = lang.find(traditional);
      if (at != std::string::npos && at > 2 && (lang[at - 1] == '-' || lang[at - 1] == '_'))
        return Han::Traditional;
    }
    return Han::Simplified;
  }
  return Han::None;
}

// The families to look in first for a character, best first.
Families FamiliesFor(uint32_t character, const std::string& lang) {
  const ScriptRange* range = nullptr;
  for (const ScriptRange& r : kScripts) {
    if (character >= r.first && character <= r.last) {
      range = &r;
      break;
    }
  }
  if (!range) return kDefault;
  if (range->families) return *range->families;
  // A text that names no language is in the user's.
  Han han = HanFor(lang.empty() ? UserLanguage() : lang);
  std::vector<const Families*> order;
  switch (han) {
    case Han::Japanese:
      order = {&kJapanese, &kSimplifiedChinese, &kTraditionalChinese, &kKorean};
      break;
    case Han::Korean:
      order = {&kKorean, &kTraditionalChinese, &kSimplifiedChinese, &kJapanese};
      break;
    case Han::Traditional:
      order = {&kTraditionalChinese, &kSimplifiedChinese, &kJapanese, &kKorean};
      break;
    default:
      order = {&kSimplifiedChinese, &kTraditionalChinese, &kJapanese, &kKorean};
      break;
  }
  Families families;
  for (const Families* list : order) families.insert(families.end(), list->begin(), list->end());
  return families;
}

// One value of the registry's font list: "MS Gothic & MS UI Gothic & MS PGothic (TrueType)" =
// "msgothic.ttc" names three faces of one collection, in the collection's order.
struct RegisteredFont {
  std::string path;
  std::vector<std::string> names;  // lower case
  bool collection = false;
};

bool IsOutlineFontFile(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos) return false;
  const std::string ext = Lower(path.substr(dot));
  return ext == ".ttf" || ext == ".ttc" || ext == ".otf" || ext == ".otc";
}

std::vector<std::string> FamilyNames(std::string entry) {
  // The kind in parentheses at the end: "(TrueType)", "(OpenType)".
  const size_t open = entry.rfind(" (");
  if (open != std::string::npos && !entry.empty() && entry.back() == ')') entry.erase(open);
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= entry.size()) {
    size_t end = entry.find(" & ", start);
    if (end == std::string::npos) end = entry.size();
    std::string name = entry.substr(start, end - start);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    while (!name.empty() && name.front() == ' ') name.erase(0, 1);
    if (!name.empty()) names.push_back(Lower(name));
    start = end + 3;
  }
  return names;
}

std::string FontsFolder() {
  wchar_t windows[MAX_PATH + 1] = {};
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return "C:\\Windows\\Fonts\\";
  return Utf8FromWide(windows, length) + "\\Fonts\\";
}

const wchar_t kFontsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

// The last time each list was written, to notice fonts installed while the program runs.
struct ListStamp {
  FILETIME machine = {}, user = {};
  bool operator==(const ListStamp& o) const {
    return std::memcmp(&machine, &o.machine, sizeof machine) == 0 &&
           std::memcmp(&user, &o.user, sizeof user) == 0;
  }
};

FILETIME KeyStamp(HKEY root) {
  FILETIME stamp = {};
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, kFontsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return stamp;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, &stamp);
  RegCloseKey(key);
  return stamp;
}

// The outline fonts of one list; a name without a folder is in the system's Fonts folder (the
// machine's list), a user's own fonts are listed by their full path.
void ReadFontList(HKEY root, const std::string& fontsFolder, std::vector<RegisteredFont>* fonts) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, kFontsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD count = 0, maxName = 0, maxData = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxName,
                       &maxData, nullptr, nullptr) == ERROR_SUCCESS) {
    std::vector<wchar_t> name(maxName + 2);
    std::vector<BYTE> data(maxData + 2 * sizeof(wchar_t));
    for (DWORD i = 0; i < count; ++i) {
      DWORD nameLength = DWORD(name.size()), dataSize = DWORD(data.size() - sizeof(wchar_t)),
            type = 0;
      if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize) !=
          ERROR_SUCCESS)
        continue;
      if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
      std::wstring value(reinterpret_cast<const wchar_t*>(data.data()), dataSize / sizeof(wchar_t));
      while (!value.empty() && value.back() == L'\0') value.pop_back();
      if (type == REG_EXPAND_SZ) {
        wchar_t expanded[32768];
        const DWORD n = ExpandEnvironmentStringsW(value.c_str(), expanded, 32768);
        if (n > 0 && n <= 32768) value = expanded;
      }
      std::string path = Utf8FromWide(value);
      if (path.empty() || !IsOutlineFontFile(path)) continue;
      const bool absolute = (path.size() > 1 && path[1] == ':') || path[0] == '\\';
      if (!absolute) path = fontsFolder + path;
      RegisteredFont font;
      font.names = FamilyNames(Utf8FromWide(name.data(), nameLength));
      const std::string ext = Lower(path.substr(path.size() - 4));
      font.collection = ext == ".ttc" || ext == ".otc";
      font.path = std::move(path);
      fonts->push_back(std::move(font));
    }
  }
  RegCloseKey(key);
}

// The characters of one face, as ranges of its Unicode character map.
struct Coverage {
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
  int faces = 0;        // of the file, read with face 0
  bool regular = true;  // neither bold nor italic
  bool Has(uint32_t c) const {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), std::make_pair(c, UINT32_MAX));
    return it != ranges.begin() && std::prev(it)->second >= c;
  }
};

// A font file mapped into memory: FreeType reads only the tables it needs, and the file is
// named in UTF-16, which FreeType's own file calls would not do.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    file_ = CreateFileW(WideFromText(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file_, &size) || size.QuadPart <= 0 || size.QuadPart > (1LL << 31)) return;
    mapping_ = CreateFileMappingW(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping_) return;
    view_ = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0);
    if (view_) size_ = size_t(size.QuadPart);
  }
  ~MappedFile() {
    if (view_) UnmapViewOfFile(view_);
    if (mapping_) CloseHandle(mapping_);
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  const FT_Byte* Bytes() const { return static_cast<const FT_Byte*>(view_); }
  size_t Size() const { return size_; }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE mapping_ = nullptr;
  void* view_ = nullptr;
  size_t size_ = 0;
};

struct FontLookup {
  std::mutex mutex;
  bool listed = false;
  ListStamp stamp;
  std::vector<RegisteredFont> fonts;
  FT_Library library = nullptr;
  std::map<std::pair<std::string, int>, Coverage> coverage;

  void ListFonts() {
    const ListStamp now = {KeyStamp(HKEY_LOCAL_MACHINE), KeyStamp(HKEY_CURRENT_USER)};
    if (listed && now == stamp) return;
    fonts.clear();
    const std::string folder = FontsFolder();
    ReadFontList(HKEY_LOCAL_MACHINE, folder, &fonts);
    ReadFontList(HKEY_CURRENT_USER, folder, &fonts);
    stamp = now;
    listed = true;
  }

  // A face's characters, read on first request; a file that cannot be read or is no font has
  // none.
  const Coverage& CoverageOf(const std::string& path, int index) {
    auto key = std::make_pair(path, index);
    auto found = coverage.find(key);
    if (found != coverage.end()) return found->second;
    Coverage& result = coverage[key];
    if (!library && FT_Init_FreeType(&library) != 0) library = nullptr;
    if (!library) return result;
    MappedFile file(path);
    if (!file.Bytes()) return result;
    FT_Face face = nullptr;
    if (FT_New_Memory_Face(library, file.Bytes(), FT_Long(file.Size()), index, &face) != 0)
      return result;
    result.faces = int(face->num_faces);
    result.regular = (face->style_flags & (FT_STYLE_FLAG_BOLD | FT_STYLE_FLAG_ITALIC)) == 0;
    if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) == 0) {
      FT_UInt glyph = 0;
      FT_ULong c = FT_Get_First_Char(face, &glyph);
      while (glyph != 0) {
        const uint32_t u = uint32_t(c);
        if (!result.ranges.empty() && result.ranges.back().second + 1 == u)
          result.ranges.back().second = u;
        else
          result.ranges.emplace_back(u, u);
        c = FT_Get_Next_Char(face, c, &glyph);
      }
    }
    FT_Done_Face(face);
    return result;
  }

  std::vector<TFontFile> Find(uint32_t character, const std::string& lang) {
    ListFonts();
    std::vector<TFontFile> files;
    auto add = [&](const std::string& path, int index) {
      for (const TFontFile& f : files)
        if (f.path == path && f.index == index) return;
      if (CoverageOf(path, index).Has(character)) files.push_back({path, index});
    };
    for (const char* family : FamiliesFor(character, lang)) {
      const std::string wanted = Lower(family);
      for (const RegisteredFont& font : fonts) {
        for (size_t i = 0; i < font.names.size() && files.size() < MaxCandidates; ++i)
          if (font.names[i] == wanted) add(font.path, font.collection ? int(i) : 0);
      }
    }
    // Then any face that has it, upright faces of regular weight before the others. The first
    // time, this reads every font's character map.
    for (bool regular : {true, false}) {
      for (const RegisteredFont& font : fonts) {
        const int faces = std::max(1, CoverageOf(font.path, 0).faces);
        for (int index = 0; index < faces; ++index) {
          if (files.size() >= MaxCandidates) return files;
          if (CoverageOf(font.path, index).regular == regular) add(font.path, index);
        }
      }
    }
    return files;
  }
};

FontLookup& Lookup() {
  static FontLookup* lookup = new FontLookup();  // kept to the end: fonts outlive every scene
  return *lookup;
}

}  // namespace

std::vector<TFontFile> FallbackFontFiles(uint32_t character, const std::string& lang) {
  if (!SystemFontFallback()) return {};
  FontLookup& lookup = Lookup();
  std::lock_guard<std::mutex> lock(lookup.mutex);
  return lookup.Find(character, lang);
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
