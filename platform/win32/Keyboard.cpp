// The translation of keyboard messages: key names by the user's layout (the system's virtual
// keys follow the layout: AZERTY's A key is VK_A, and a key outside the table of names is named
// by the character it types unshifted), with the system's own quirks undone: keys an input
// method took, AltGr's synthetic Ctrl, characters sent as VK_PACKET, and Print Screen's lone
// release.
#include "platform/win32/Keyboard.h"

#include <utility>

#include "platform/FormFramework.h"
#include "platform/win32/Win32Backend.h"

namespace win32backend {

namespace {

struct TNamedKey {
  UINT key;
  const char* name;
};

// The keys that type nothing, or whose character is no good name. The keypad's keys are named
// by their digit whatever Num Lock says (see KeyName for those that share a virtual key).
const TNamedKey kNamedKeys[] = {
    {VK_SPACE, "space"},
    {VK_RETURN, "return"},
    {VK_ESCAPE, "escape"},
    {VK_TAB, "tab"},
    {VK_BACK, "backspace"},
    {VK_DELETE, "delete"},
    {VK_INSERT, "insert"},
    {VK_LEFT, "left"},
    {VK_RIGHT, "right"},
    {VK_UP, "up"},
    {VK_DOWN, "down"},
    {VK_HOME, "home"},
    {VK_END, "end"},
    {VK_PRIOR, "pageup"},
    {VK_NEXT, "pagedown"},
    {VK_SHIFT, "shift"},
    {VK_LSHIFT, "shift"},
    {VK_RSHIFT, "shift"},
    {VK_CONTROL, "control"},
    {VK_LCONTROL, "control"},
    {VK_RCONTROL, "control"},
    {VK_MENU, "alt"},
    {VK_LMENU, "alt"},
    {VK_RMENU, "alt"},
    {VK_LWIN, "super"},
    {VK_RWIN, "super"},
    {VK_APPS, "menu"},
    {VK_CAPITAL, "capslock"},
    {VK_NUMLOCK, "numlock"},
    {VK_SCROLL, "scrolllock"},
    {VK_SNAPSHOT, "printscreen"},
    {VK_PAUSE, "pause"},
    {VK_ADD, "kp+"},
    {VK_SUBTRACT, "kp-"},
    {VK_MULTIPLY, "kp*"},
    {VK_DIVIDE, "kp/"},
    {VK_DECIMAL, "kp."},
    {VK_SEPARATOR, "kp."},
    {VK_CLEAR, "kp5"},
};

// The keypad's digits without Num Lock arrive as the navigation keys, told apart from those by
// not being extended keys.
const char* KeypadName(UINT key) {
  switch (key) {
    case VK_INSERT:
      return "kp0";
    case VK_END:
      return "kp1";
    case VK_DOWN:
      return "kp2";
    case VK_NEXT:
      return "kp3";
    case VK_LEFT:
      return "kp4";
    case VK_RIGHT:
      return "kp6";
    case VK_HOME:
      return "kp7";
    case VK_UP:
      return "kp8";
    case VK_PRIOR:
      return "kp9";
    case VK_DELETE:
      return "kp.";
    default:
      return nullptr;
  }
}

bool Extended(LPARAM lParam) {
  return (lParam >> 24) & 1;
}

bool IsDown(const TKeyMessage& message) {
  return message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN;
}

bool IsLeftControl(const TKeyMessage& message) {
  return (message.wParam == VK_CONTROL || message.wParam == VK_LCONTROL) &&
         !Extended(message.lParam);
}

bool IsRightAlt(const TKeyMessage& message) {
  return (message.wParam == VK_MENU || message.wParam == VK_RMENU) && Extended(message.lParam);
}

// The key as GetKeyState tells its side: the messages name both Shift, Ctrl and Alt keys alike.
UINT StateKey(UINT key, LPARAM lParam) {
  switch (key) {
    case VK_SHIFT:
      return ((lParam >> 16) & 0xFF) == 0x36 ? VK_RSHIFT : VK_LSHIFT;
    case VK_CONTROL:
      return Extended(lParam) ? VK_RCONTROL : VK_LCONTROL;
    case VK_MENU:
      return Extended(lParam) ? VK_RMENU : VK_LMENU;
    default:
      return key;
  }
}

}  // namespace

unsigned KeyCode(LPARAM lParam) {
  return static_cast<unsigned>((lParam >> 16) & 0x1FF);
}

TKeyboardView SystemKeyboard(HWND window) {
  TKeyboardView view;
  view.scanToKey = [](UINT scanCode) { return MapVirtualKeyW(scanCode, MAPVK_VSC_TO_VK_EX); };
  view.keyToCharacter = [](UINT key) { return MapVirtualKeyW(key, MAPVK_VK_TO_CHAR); };
  view.keyIsDown = [](UINT key) { return GetKeyState(static_cast<int>(key)) < 0; };
  view.nextMessage = [window](TKeyMessage* next) {
    MSG message;
    if (!PeekMessageW(&message, window, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE | PM_NOYIELD))
      return false;
    *next = TKeyMessage{message.message, message.wParam, message.lParam, message.time};
    return true;
  };
  return view;
}

std::string TKeyTranslator::KeyName(UINT key, LPARAM lParam) const {
  const bool extended = Extended(lParam);
  if (key == VK_RETURN && extended) return "kpenter";
  if (!extended)
    if (const char* keypad = KeypadName(key)) return keypad;
  for (const TNamedKey& named : kNamedKeys)
    if (named.key == key) return named.name;
  if (key >= VK_F1 && key <= VK_F24) return "f" + std::to_string(key - VK_F1 + 1);
  if (key >= VK_NUMPAD0 && key <= VK_NUMPAD9) return "kp" + std::to_string(key - VK_NUMPAD0);
  // Any other key by the character it types unshifted, in lower case: letters and digits, and
  // also the digit row of a French layout, which types "é" where others type "2" (the high bit
  // marks a dead key, named by its accent).
  UINT character = view_.keyToCharacter ? view_.keyToCharacter(key) & 0x7FFFFFFF : 0;
  if (character != 0) {
    wchar_t lower[2] = {static_cast<wchar_t>(character), 0};
    CharLowerBuffW(lower, 1);
    std::string name = formframework::CharacterText(static_cast<uint32_t>(lower[0]));
    if (!name.empty()) return name;
  }
  if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9'))
    return std::string(1, static_cast<char>(key >= 'A' && key <= 'Z' ? key - 'A' + 'a' : key));
  return "unknown";
}

const TKeyTranslator::THeld* TKeyTranslator::Held(unsigned code) const {
  for (const THeld& held : held_)
    if (held.code == code) return &held;
  return nullptr;
}

bool TKeyTranslator::AltGrHeld() const {
  for (const THeld& held : held_)
    if (held.altGr) return true;
  return false;
}

// On layouts with AltGr the system makes the right Alt's press a left Ctrl's press followed by
// the right Alt's, both with the same message time, and its release the same way (and so for
// each auto-repeat). The Ctrl is none of the user's: a Ctrl shortcut of the scene would fire on
// every @ or € typed.
bool TKeyTranslator::IsAltGrControl(const TKeyMessage& message, bool down) const {
  if (!IsLeftControl(message)) return false;
  TKeyMessage next;
  if (view_.nextMessage && view_.nextMessage(&next) && next.time == message.time &&
      IsRightAlt(next) && IsDown(next) == down)
    return true;
  // While AltGr is held its Ctrl repeats, on some systems at other times than the Alt's.
  const bool repeatOrRelease = !down || ((message.lParam >> 30) & 1);
  return repeatOrRelease && AltGrHeld() && !Held(KeyCode(message.lParam));
}

std::vector<TKeyEvent> TKeyTranslator::Translate(const TKeyMessage& message) {
  const bool afterAltGrControl = altGrControl_;
  altGrControl_ = false;
  switch (message.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      return KeyDown(message, afterAltGrControl);
    case WM_KEYUP:
    case WM_SYSKEYUP:
      return KeyUp(message);
    case WM_CHAR:
      return Character(static_cast<wchar_t>(message.wParam));
    default:
      return {};
  }
}

std::vector<TKeyEvent> TKeyTranslator::KeyDown(const TKeyMessage& message, bool afterAltGrControl) {
  const UINT key = static_cast<UINT>(message.wParam);
  // Characters of the emoji panel, the touch keyboard and other input without keys: WM_CHAR
  // carries them.
  if (key == VK_PACKET) return {};
  if (IsAltGrControl(message, true)) {
    altGrControl_ = true;
    return {};
  }
  const unsigned code = KeyCode(message.lParam);
  const THeld* held = Held(code);
  const bool altGr = IsRightAlt(message) && (afterAltGrControl || (held && held->altGr));
  std::string name;
  UINT stateKey = StateKey(key, message.lParam);
  if (altGr) {
    name = "altgr";
  } else if (key == VK_PROCESSKEY) {
    // An input method took the key; the window procedure runs after TranslateMessage, when
    // ImmGetVirtualKey no longer knows the key either, but the scan code still tells it.
    const UINT scanCode = ((message.lParam >> 16) & 0xFF) | (Extended(message.lParam) ? 0xE000 : 0);
    const UINT original = view_.scanToKey ? view_.scanToKey(scanCode) : 0;
    name = original ? KeyName(original, message.lParam) : "unknown";
    // The key state of such keys is the input method's business.
    stateKey = 0;
  } else {
    name = KeyName(key, message.lParam);
  }
  if (!held) held_.push_back(THeld{code, stateKey, altGr});
  TKeyEvent press;
  press.kind = TKeyEvent::kPress;
  press.code = code;
  press.name = name;
  press.wasDown = (message.lParam >> 30) & 1;
  return {press};
}

std::vector<TKeyEvent> TKeyTranslator::KeyUp(const TKeyMessage& message) {
  const UINT key = static_cast<UINT>(message.wParam);
  if (key == VK_PACKET || IsAltGrControl(message, false)) return {};
  const unsigned code = KeyCode(message.lParam);
  TKeyEvent release;
  release.kind = TKeyEvent::kRelease;
  release.code = code;
  if (key == VK_SNAPSHOT && !Held(code)) {
    // The system keeps Print Screen's press for its screenshot and sends only the release.
    TKeyEvent press;
    press.kind = TKeyEvent::kPress;
    press.code = code;
    press.name = KeyName(key, message.lParam);
    return {press, release};
  }
  for (auto held = held_.begin(); held != held_.end(); ++held)
    if (held->code == code) {
      held_.erase(held);
      break;
    }
  return {release};
}

std::vector<TKeyEvent> TKeyTranslator::Character(wchar_t unit) {
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    highSurrogate_ = unit;
    return {};
  }
  uint32_t character = unit;
  if (unit >= 0xDC00 && unit <= 0xDFFF) {
    if (!highSurrogate_) return {};
    character = 0x10000 + ((highSurrogate_ - 0xD800u) << 10) + (unit - 0xDC00u);
  }
  highSurrogate_ = 0;
  TKeyEvent text;
  text.kind = TKeyEvent::kText;
  text.text = formframework::CharacterText(character);
  if (text.text.empty()) return {};
  return {text};
}

void TKeyTranslator::KeyboardLost() {
  held_.clear();
  highSurrogate_ = 0;
  altGrControl_ = false;
}

std::vector<TKeyEvent> TKeyTranslator::KeyboardBack() {
  std::vector<TKeyEvent> releases;
  // Latest first, as fingers come off.
  for (size_t i = held_.size(); i-- > 0;) {
    if (held_[i].key == 0 || !view_.keyIsDown || view_.keyIsDown(held_[i].key)) continue;
    TKeyEvent release;
    release.kind = TKeyEvent::kRelease;
    release.code = held_[i].code;
    releases.push_back(release);
    held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
  }
  return releases;
}

}  // namespace win32backend
