// Key names by the user's layout: the system's virtual keys follow the layout (AZERTY's A key is
// VK_A), and a key outside the table of names is named by the character it types unshifted.
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

}  // namespace

unsigned KeyCode(LPARAM lParam) {
  // The scan code and the extended-key flag: the two Shift keys have one virtual key.
  return static_cast<unsigned>((lParam >> 16) & 0x1FF);
}

std::string KeyName(WPARAM virtualKey, LPARAM lParam) {
  const UINT key = static_cast<UINT>(virtualKey);
  const bool extended = (lParam >> 24) & 1;
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
  UINT character = MapVirtualKeyW(key, MAPVK_VK_TO_CHAR) & 0x7FFFFFFF;
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

}  // namespace win32backend
