// The translation of the system's keyboard messages into the form's key presses, releases and
// text, fed one message at a time with what the system tells the window procedure; what it asks
// of the layout and the key state goes through a view that tests can stand in for.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"

namespace win32backend {

// A keyboard message as the window procedure has it, with its message time.
struct TKeyMessage {
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  DWORD time = 0;
};

// What the translation asks of the system.
struct TKeyboardView {
  // MapVirtualKeyW(code, MAPVK_VSC_TO_VK_EX): the virtual key of a scan code, with 0xE0 in the
  // high byte for extended keys, told left from right.
  std::function<UINT(UINT scanCode)> scanToKey;
  // MapVirtualKeyW(key, MAPVK_VK_TO_CHAR): the character a key types unshifted (the high bit
  // marks a dead key), 0 for none.
  std::function<UINT(UINT key)> keyToCharacter;
  // GetKeyState: whether the key is down as of the message being handled.
  std::function<bool(UINT key)> keyIsDown;
  // The keyboard message after this one, if one is already waiting in the queue (left there).
  std::function<bool(TKeyMessage* next)> nextMessage;
};

// The view of the system itself, for a window's messages.
TKeyboardView SystemKeyboard(HWND window);

// What the form hears: a press (code and name, and whether the system says the key was down
// already), a release (by code), or typed text (UTF-8).
struct TKeyEvent {
  enum TKind { kPress, kRelease, kText };
  TKind kind = kPress;
  unsigned code = 0;
  std::string name;
  bool wasDown = false;
  std::string text;
};

class TKeyTranslator {
 public:
  TKeyTranslator() = default;
  explicit TKeyTranslator(TKeyboardView view) : view_(std::move(view)) {}

  // WM_KEYDOWN, WM_SYSKEYDOWN, WM_KEYUP, WM_SYSKEYUP and WM_CHAR; other messages give nothing.
  std::vector<TKeyEvent> Translate(const TKeyMessage& message);
  // The window lost the keyboard: the form lets go of every key itself.
  void KeyboardLost();
  // The window has the keyboard again: keys the form still holds that the system shows up
  // went up meanwhile without a message, and are released.
  std::vector<TKeyEvent> KeyboardBack();

  // The name of a key by its virtual key, for the messages' lParam (extended-key flag).
  std::string KeyName(UINT key, LPARAM lParam) const;

 private:
  struct THeld {
    unsigned code;
    UINT key;  // the key as GetKeyState knows it, 0 when it cannot be asked
    bool altGr;
  };
  std::vector<TKeyEvent> KeyDown(const TKeyMessage& message, bool afterAltGrControl);
  std::vector<TKeyEvent> KeyUp(const TKeyMessage& message);
  std::vector<TKeyEvent> Character(wchar_t unit);
  bool IsAltGrControl(const TKeyMessage& message, bool down) const;
  const THeld* Held(unsigned code) const;
  bool AltGrHeld() const;

  TKeyboardView view_;
  std::vector<THeld> held_;
  wchar_t highSurrogate_ = 0;  // the first half of a character beyond the 16-bit range
  bool altGrControl_ = false;  // the last message was AltGr's own Ctrl, left out
};

// Tells keys apart: the scan code and the extended-key flag (the two Shift keys share one
// virtual key).
unsigned KeyCode(LPARAM lParam);

}  // namespace win32backend
