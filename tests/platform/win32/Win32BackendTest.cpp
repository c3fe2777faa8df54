// The Windows backend: mouse capture and delivery, the code page's lower case, path
// delimiters, the text of captions, the floating-point control word, where the Lua library is
// loaded from and which build of it is taken.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <optional>
#include <vector>

#include "ScratchFolder.h"
#include "app/Util_un.h"
#include "bind/LuaBind.h"
#include "platform/Platform.h"
#include "platform/win32/Win32Backend.h"

namespace {

struct Event {
  bool press;
  TMouseButton button;
  int x, y;
};

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = new TForm();
    form_->OnMouseDown = [this](TMouseButton b, int x, int y) {
      events_.push_back({true, b, x, y});
    };
    form_->OnMouseUp = [this](TMouseButton b, int x, int y) {
      events_.push_back({false, b, x, y});
    };
    form_->Show();
    window_ = form_->Handle();
  }
  void TearDown() override { delete form_; }
  void Send(UINT message, int x, int y) {
    SendMessageA(window_, message, 0, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
  }
  TForm* form_ = nullptr;
  HWND window_ = nullptr;
  std::vector<Event> events_;
};

TEST_F(CaptureTest, ALeftPressCapturesAndItsReleaseArrivesWhereverItHappens) {
  Send(WM_LBUTTONDOWN, 10, 20);
  EXPECT_EQ(GetCapture(), window_);
  Send(WM_LBUTTONUP, -5, 700);
  EXPECT_EQ(GetCapture(), nullptr);
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_TRUE(events_[0].press);
  EXPECT_EQ(events_[0].button, mbLeft);
  EXPECT_EQ(events_[0].x, 10);
  EXPECT_EQ(events_[0].y, 20);
  EXPECT_FALSE(events_[1].press);
  EXPECT_EQ(events_[1].x, -5) << "client coordinates keep their sign";
  EXPECT_EQ(events_[1].y, 700);
}

TEST_F(CaptureTest, ReleasesOutsideWithoutOurLeftPressAreNotOurs) {
  Send(WM_LBUTTONUP, 900, 10);   // the press happened elsewhere
  Send(WM_RBUTTONDOWN, 30, 40);  // right presses take no capture...
  EXPECT_EQ(GetCapture(), nullptr);
  Send(WM_RBUTTONUP, 850, 40);  // ...so a right release outside is not delivered
  Send(WM_MBUTTONUP, 5, 5);     // inside: delivered without a press
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[0].button, mbRight);
  EXPECT_TRUE(events_[0].press);
  EXPECT_EQ(events_[1].button, mbMiddle);
  EXPECT_FALSE(events_[1].press);
}

TEST(Win32Text, LowerCaseFollowsTheCodePageAndDelimitersAreTheSystems) {
  EXPECT_EQ(AnsiLowerCase("C:\\Data\\LOGO.BMP"), "c:\\data\\logo.bmp");
  if (GetACP() == 1252) {
    EXPECT_EQ(AnsiLowerCase("\xC0\xC9\xD6"), "\xE0\xE9\xF6")
        << "Latin-1 capitals of code page 1252";
  }
  for (char c : std::string("\\/:")) EXPECT_TRUE(IsPathDelimiter(c)) << c;
  for (char c : std::string("a.-_ ")) EXPECT_FALSE(IsPathDelimiter(c)) << c;

  InitProgramFolder();
  ASSERT_FALSE(ProgramFolder.empty());
  EXPECT_EQ(ProgramFolder.back(), '\\');
  EXPECT_EQ(ProgramFolder[1], ':') << "a drive path";
  DoneProgramFolder();
}

TEST(Win32Arguments, SplitAsTheSystemDoesButAFoldersTrailingBackslashKeepsItsQuote) {
  using Args = std::vector<std::wstring>;
  auto split = win32backend::SplitCommandLine;
  // The system's own rules, which scripts and shortcuts rely on.
  EXPECT_EQ(
      split(LR"("C:\Program Files\k.exe" a\\b "c d" e\"f "g\\" h "")"),
      (Args{LR"(C:\Program Files\k.exe)", LR"(a\\b)", L"c d", LR"(e"f)", LR"(g\)", L"h", L""}));
  // A folder completed with its trailing backslash and quoted: the quote ends the argument.
  EXPECT_EQ(split(LR"(k.exe "C:\scenes\menu\")"), (Args{L"k.exe", LR"(C:\scenes\menu\)"}));
  EXPECT_EQ(split(LR"(k.exe --watch "C:\my scenes\menu\" --console)"),
            (Args{L"k.exe", L"--watch", LR"(C:\my scenes\menu\)", L"--console"}));
  // Inside a quoted part, an escaped quote that does not end the argument stays a quote.
  EXPECT_EQ(split(LR"(k.exe "a\"b c")"), (Args{L"k.exe", LR"(a"b c)"}));
}

// The caption as the window shows it, for bytes a script printed.
std::wstring ShownCaption(const std::string& bytes) {
  TForm form;
  HWND window = form.Handle();
  form.SetCaption(bytes);
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

TEST(Win32Text, CaptionsAreUtf8WithBrokenPiecesMarkedAndOnlyTextWithoutUtf8IsLegacy) {
  // Lua shortens a long chunk name to "..." and its last bytes, which here begin in the middle
  // of the "Д" of "Дмитрий" (D0 94): the rest is still UTF-8, not text of the code page.
  EXPECT_EQ(ShownCaption("...\x94\xD0\xBC\xD0\xB8\xD1\x82\\test.lua:8: boom"),
            L"...\uFFFD\u043C\u0438\u0442\\test.lua:8: boom");
  // A character cut at the end, and a stray byte beside a whole one.
  EXPECT_EQ(ShownCaption("\xC3\xA9t\xE9 \xE2\x82"), L"\u00E9t\uFFFD \uFFFD");
  if (GetACP() == 1252) {
    EXPECT_EQ(ShownCaption("caf\xE9 \x80"), L"caf\u00E9 \u20AC")
        << "no UTF-8 sequence at all: an older editor's code page";
  }
}

TEST(Win32Fpu, TheControlWordMasksEveryExceptionOnBothUnits) {
  Set8087CW(0x133F);
  unsigned short word = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(word));
  // Bit 6 is reserved and reads as set on many processors.
  EXPECT_EQ(word & ~0x40, 0x133F);
  unsigned int mxcsr = 0;
  __asm__ __volatile__("stmxcsr %0" : "=m"(mxcsr));
  EXPECT_EQ(mxcsr & 0x1F80u, 0x1F80u);
  volatile double zero = 0.0;
  EXPECT_TRUE(std::isinf(1.0 / zero));
  EXPECT_TRUE(std::isnan(zero / zero));
}

class LuaSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitProgramFolder();
    scratch_.emplace("kestrune-luasearch-");
    ASSERT_TRUE(scratch_->Entered());
  }
  void TearDown() override {
    UnbindLuaLibrary();
    LuaLibraryName = LuaLibraryDefaultName;
    scratch_.reset();
    DoneProgramFolder();
  }
  std::optional<testfs::ScratchWorkingFolder> scratch_;
};

TEST_F(LuaSearchTest, TheLibraryBesideTheProgramIsLoadedOnceTheWorkingFolderHasOne) {
  EXPECT_EQ(LuaLibraryDefaultName, std::string("Lua51.dll"));
  // The working folder decides whether there is a library at all...
  EXPECT_EQ(BindLuaLibrary(""), -1);
  // ...and the loader's search, the program's folder first, which file is loaded: a copy here
  // that is no library at all does not stand in the way.
  std::ofstream("Lua51.dll") << "not a library";
  intptr_t handle = BindLuaLibrary("");
  ASSERT_GT(handle, 0);
  char path[1024];
  DWORD length = GetModuleFileNameA(reinterpret_cast<HMODULE>(handle), path, sizeof path);
  EXPECT_EQ(AnsiLowerCase(std::string(path, length)), AnsiLowerCase(ProgramFolder + "Lua51.dll"));
  EXPECT_NE(LuaBind::luaL_newstate, nullptr);
}

TEST_F(LuaSearchTest, ALuaBuiltAsCIsRefusedBeforeAnythingIsBound) {
  // Its errors would longjmp over the program's frames; the program's own build carries a mark.
  EXPECT_EQ(BindLuaLibrary(LUA_STUB_C_BUILD), -3);
  EXPECT_EQ(LuaLibraryHandle, 0);
  EXPECT_EQ(LuaBind::luaL_newstate, nullptr);
  EXPECT_EQ(GetModuleHandleW(L"lua_stub_c_build.dll"), nullptr) << "released again";
}

}  // namespace
