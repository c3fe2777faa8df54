// Keyboard messages as Windows sends them for input methods, AltGr, the emoji panel, Print Screen
// and keys whose release never came, through the translation (with a stand-in for the layout,
// the key state and the queue) and through a real window.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/Keyboard.h"

namespace {

using win32backend::TKeyboardView;
using win32backend::TKeyEvent;
using win32backend::TKeyMessage;
using win32backend::TKeyTranslator;

// A keystroke message's lParam: repeat count 1, the scan code, the extended-key flag, whether the
// key was down before, and whether it is going up.
LPARAM Flags(unsigned scanCode, bool extended, bool wasDown, bool up) {
  return static_cast<LPARAM>(1u | (scanCode << 16) | (extended ? 1u << 24 : 0u) |
                             (wasDown || up ? 1u << 30 : 0u) | (up ? 1u << 31 : 0u));
}

TKeyMessage Down(UINT key, unsigned scanCode, DWORD time, bool extended = false,
                 bool wasDown = false) {
  return {WM_KEYDOWN, key, Flags(scanCode, extended, wasDown, false), time};
}

TKeyMessage Up(UINT key, unsigned scanCode, DWORD time, bool extended = false) {
  return {WM_KEYUP, key, Flags(scanCode, extended, true, true), time};
}

TKeyMessage Char(wchar_t unit) {
  return {WM_CHAR, unit, 1, 0};
}

class KeyTranslationTest : public ::testing::Test {
 protected:
  KeyTranslationTest() {
    TKeyboardView view;
    view.scanToKey = [this](UINT scanCode) -> UINT {
      auto found = layout_.find(scanCode);
      return found == layout_.end() ? 0 : found->second;
    };
    view.keyToCharacter = [](UINT key) -> UINT { return key >= 'A' && key <= 'Z' ? key : 0; };
    view.keyIsDown = [this](UINT key) { return down_.count(key) > 0; };
    view.nextMessage = [this](TKeyMessage* next) {
      if (queue_.empty()) return false;
      *next = queue_.front();
      return true;
    };
    keys_ = TKeyTranslator(view);
  }

  // Hands the messages over one at a time, the rest still waiting in the queue as the message
  // loop leaves them, and says what the form hears: "+name" a press ("+name*" when the system
  // says the key was down already), "-name" a release, anything else typed text.
  std::string Send(std::vector<TKeyMessage> messages) {
    queue_.assign(messages.begin(), messages.end());
    std::string heard;
    while (!queue_.empty()) {
      TKeyMessage message = queue_.front();
      queue_.erase(queue_.begin());
      heard += Heard(keys_.Translate(message));
    }
    return heard;
  }

  std::string Heard(const std::vector<TKeyEvent>& events) {
    std::string heard;
    for (const TKeyEvent& event : events) {
      if (event.kind == TKeyEvent::kPress) {
        names_[event.code] = event.name;
        heard += " +" + event.name + (event.wasDown ? "*" : "");
      } else if (event.kind == TKeyEvent::kRelease) {
        heard += " -" + names_[event.code];
      } else {
        heard += " " + event.text;
      }
    }
    return heard;
  }

  std::map<UINT, UINT> layout_;  // scan codes (0xE0 before extended ones) to virtual keys
  std::set<UINT> down_;          // what GetKeyState shows down
  std::vector<TKeyMessage> queue_;
  std::map<unsigned, std::string> names_;
  TKeyTranslator keys_;
};

TEST_F(KeyTranslationTest, AltGrIsOneKeyWithoutTheControlTheSystemAddsToIt) {
  // The left Ctrl comes first, at the right Alt's message time, for the press, each repeat and
  // the release; a repeat of that Ctrl may also come at a time of its own.
  EXPECT_EQ(Send({Down(VK_CONTROL, 0x1D, 100), Down(VK_MENU, 0x38, 100, true),
                  Down(VK_CONTROL, 0x1D, 600, false, true), Down(VK_MENU, 0x38, 600, true, true),
                  Down(VK_CONTROL, 0x1D, 633, false, true), Down(VK_MENU, 0x38, 640, true, true),
                  Down('Q', 0x10, 700), Char(L'@'), Up('Q', 0x10, 750), Up(VK_CONTROL, 0x1D, 900),
                  Up(VK_MENU, 0x38, 900, true)}),
            " +altgr +altgr* +altgr* +q @ -q -altgr");
  // The user's own Ctrl and right Alt are two keys, even pressed together.
  EXPECT_EQ(Send({Down(VK_CONTROL, 0x1D, 1000), Down(VK_MENU, 0x38, 1000 + 30, true),
                  Up(VK_MENU, 0x38, 1100, true), Up(VK_CONTROL, 0x1D, 1100)}),
            " +control +alt -alt -control");
}

TEST_F(KeyTranslationTest, KeysAnInputMethodTookAreNamedByTheirScanCode) {
  layout_ = {{0x1E, 'A'}, {0x4B, VK_LEFT}, {0xE04B, VK_LEFT}, {0xE01D, VK_RCONTROL}};
  // The releases come with the key's own virtual key.
  EXPECT_EQ(Send({Down(VK_PROCESSKEY, 0x1E, 1), Up('A', 0x1E, 2), Down(VK_PROCESSKEY, 0x4B, 3),
                  Down(VK_PROCESSKEY, 0x4B, 4, true), Down(VK_PROCESSKEY, 0x1D, 5, true),
                  Down(VK_PROCESSKEY, 0x70, 6)}),
            " +a -a +kp4 +left +control +unknown");
}

TEST_F(KeyTranslationTest, HalvesOfACharacterAreTextOnlyTogether) {
  // The emoji panel sends a character beyond the 16-bit range as two packets; a half without
  // the other is no text.
  EXPECT_EQ(Send({Down(VK_PACKET, 0, 1), Char(0xD83D), Up(VK_PACKET, 0, 2), Down(VK_PACKET, 0, 3),
                  Char(0xDE00), Up(VK_PACKET, 0, 4), Char(0xDC00), Char(0xD800), Char(L'x'),
                  Char(0xDFFF)}),
            " \xF0\x9F\x98\x80 x");
}

TEST_F(KeyTranslationTest, KeysTheSystemShowsUpAreReleasedWhenTheKeyboardComesBack) {
  layout_ = {{0x1E, 'A'}};
  down_ = {VK_LSHIFT, VK_RCONTROL, 'B'};
  EXPECT_EQ(Send({Down(VK_SHIFT, 0x2A, 1), Down(VK_CONTROL, 0x1D, 2, true), Down('B', 0x30, 3),
                  Down(VK_PROCESSKEY, 0x1E, 4)}),
            " +shift +control +b +a");
  // Ctrl+Alt+Del took the releases of Shift and Ctrl; the key the input method holds is its own.
  down_ = {'B'};
  EXPECT_EQ(Heard(keys_.KeyboardBack()), " -control -shift");
  EXPECT_EQ(Heard(keys_.KeyboardBack()), "");
}

// Through a real window, with the system's own layout.
TEST(Win32Keys, TheSystemsKeyMessagesReachTheForm) {
  TForm form;
  std::vector<std::string> heard;
  form.OnKeyDown = [&](const std::string& key, bool repeat) {
    heard.push_back("+" + key + (repeat ? "*" : ""));
  };
  form.OnKeyUp = [&](const std::string& key) { heard.push_back("-" + key); };
  form.Show();
  HWND window = form.Handle();
  auto send = [&](UINT message, UINT key, LPARAM flags) {
    SendMessageW(window, message, key, flags);
  };
  // A key an input method took, a character of the emoji panel, Print Screen's lone release.
  send(WM_KEYDOWN, VK_PROCESSKEY, Flags(0x1E, false, false, false));
  send(WM_KEYUP, 'A', Flags(0x1E, false, true, true));
  send(WM_KEYDOWN, VK_PACKET, Flags(0, false, false, false));
  send(WM_KEYUP, VK_PACKET, Flags(0, false, true, true));
  send(WM_KEYUP, VK_SNAPSHOT, Flags(0x37, true, true, true));
  // Windows sends no release for the first of both Shift keys let go: the next press of it is
  // no auto-repeat, as the message's previous-state bit says.
  send(WM_KEYDOWN, VK_SHIFT, Flags(0x2A, false, false, false));
  send(WM_KEYDOWN, VK_SHIFT, Flags(0x36, false, false, false));
  send(WM_KEYUP, VK_SHIFT, Flags(0x36, false, true, true));
  send(WM_KEYDOWN, VK_SHIFT, Flags(0x2A, false, false, false));
  send(WM_KEYDOWN, VK_SHIFT, Flags(0x2A, false, true, false));
  EXPECT_EQ(heard, (std::vector<std::string>{"+a", "-a", "+printscreen", "-printscreen", "+shift",
                                             "+shift", "-shift", "+shift", "+shift*"}));
}

}  // namespace
