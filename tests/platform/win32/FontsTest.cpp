// The Windows backend's font lookup: the registry's fonts, machine-wide and the user's own, the
// families Windows ships for a script before the others, and the character maps of the rest.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScratchFolder.h"
#include "platform/Platform.h"
#include "platform/win32/Win32Backend.h"

namespace {

// Debian's fonts, which the test set-up installs and registers in Wine's prefix (scripts/setup
// --tests, scripts/wine-run).
const char kCjkFont[] = "Z:\\usr\\share\\fonts\\truetype\\droid\\DroidSansFallbackFull.ttf";
const char kDevanagariFile[] = "Lohit-Devanagari.ttf";

const wchar_t kFontsKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

// A value of the user's own font list, as Windows writes it for a font installed for one user
// (a full path), for as long as this lives.
class UserFont {
 public:
  UserFont(const std::string& name, const std::string& path)
      : name_(win32backend::WideFromText(name)) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kFontsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring value = win32backend::WideFromText(path);
    EXPECT_EQ(
        RegSetValueExW(key, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       DWORD((value.size() + 1) * sizeof(wchar_t))),
        ERROR_SUCCESS);
    RegCloseKey(key);
  }
  ~UserFont() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kFontsKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
      return;
    RegDeleteValueW(key, name_.c_str());
    RegCloseKey(key);
  }

 private:
  std::wstring name_;
};

std::string CopyOf(const char* from, const testfs::ScratchFolder& folder, const char* name) {
  const std::string to = folder.File(name);
  EXPECT_TRUE(CopyFileW(win32backend::WideFromText(from).c_str(),
                        win32backend::WideFromText(to).c_str(), FALSE))
      << from << " is missing: scripts/setup --tests installs it";
  return to;
}

std::string BaseName(const std::string& path) {
  return path.substr(path.find_last_of("\\/") + 1);
}

// Two fonts under the names of the families Windows ships for Japanese and for Simplified
// Chinese (copies of one font with both): the text's language decides which comes first, kana
// go to the Japanese one whatever the language, and a user's font is found by its full path.
TEST(SystemFontsTest, TheLanguageOrdersTheCountriesFamiliesForHan) {
  testfs::ScratchFolder folder("kestrune-fonts");
  const std::string japanese = CopyOf(kCjkFont, folder, "japanese.ttf");
  const std::string chinese = CopyOf(kCjkFont, folder, "chinese.ttf");
  UserFont meiryo("Meiryo & Meiryo Italic (TrueType)", japanese);
  UserFont yahei("Microsoft YaHei (TrueType)", chinese);

  const uint32_t han = 0x6F22, hiragana = 0x3042;
  std::vector<TFontFile> files = FallbackFontFiles(han, "ja-JP");
  ASSERT_GE(files.size(), 2u);
  EXPECT_EQ(files[0].path, japanese);
  EXPECT_EQ(files[0].index, 0);
  EXPECT_EQ(files[1].path, chinese);

  files = FallbackFontFiles(han, "zh-Hans");
  ASSERT_GE(files.size(), 2u);
  EXPECT_EQ(files[0].path, chinese);
  EXPECT_EQ(files[1].path, japanese);

  files = FallbackFontFiles(hiragana, "zh-CN");
  ASSERT_FALSE(files.empty());
  EXPECT_EQ(files[0].path, japanese);
}

// No family of the Devanagari list (Nirmala UI, Mangal...) is installed: the font whose
// character map has the character is found all the same, through the machine's list (its file
// named in the Fonts folder), and a character no font has gives none.
TEST(SystemFontsTest, AnyFontWithTheCharacterComesAfterTheScriptsFamilies) {
  const std::vector<TFontFile> files = FallbackFontFiles(0x0915, "hi");
  bool found = false;
  for (const TFontFile& file : files) {
    if (BaseName(file.path) != kDevanagariFile) continue;
    found = true;
    HANDLE handle = CreateFileW(win32backend::WideFromText(file.path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE) << file.path;
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  EXPECT_TRUE(found) << "no " << kDevanagariFile << " among " << files.size() << " files";

  EXPECT_TRUE(FallbackFontFiles(0x10FFFD, "").empty());
}

TEST(SystemFontsTest, NoneWhileTheSystemsFontsAreOff) {
  SetSystemFontFallback(false);
  const std::vector<TFontFile> files = FallbackFontFiles(0x0915, "");
  SetSystemFontFallback(true);
  EXPECT_TRUE(files.empty());
  EXPECT_FALSE(FallbackFontFiles(0x0915, "").empty());
}

}  // namespace
