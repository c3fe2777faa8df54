// The keyboard: key names by the user's layout, and text through the input method, so that dead
// keys and compose sequences give the characters they make. The input method reads the character
// type from the locale; only LC_CTYPE is taken from the environment, so number formatting (and
// with it everything Lua prints) stays that of the C locale.
#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <cwctype>

#include "platform/FormFramework.h"
#include "platform/linux/X11Backend.h"

namespace xbackend {

namespace {

XIM inputMethod = nullptr;

struct TNamedKey {
  KeySym sym;
  const char* name;
};

// The keys that type nothing, or whose character is no good name, by their unshifted keysym.
// The keypad's keys are named by their digit whatever Num Lock says.
const TNamedKey kNamedKeys[] = {
    {XK_space, "space"},
    {XK_Return, "return"},
    {XK_Escape, "escape"},
    {XK_Tab, "tab"},
    {XK_ISO_Left_Tab, "tab"},
    {XK_BackSpace, "backspace"},
    {XK_Delete, "delete"},
    {XK_Insert, "insert"},
    {XK_Left, "left"},
    {XK_Right, "right"},
    {XK_Up, "up"},
    {XK_Down, "down"},
    {XK_Home, "home"},
    {XK_End, "end"},
    {XK_Page_Up, "pageup"},
    {XK_Page_Down, "pagedown"},
    {XK_Shift_L, "shift"},
    {XK_Shift_R, "shift"},
    {XK_Control_L, "control"},
    {XK_Control_R, "control"},
    {XK_Alt_L, "alt"},
    {XK_Alt_R, "alt"},
    {XK_Meta_L, "alt"},
    {XK_Meta_R, "alt"},
    {XK_ISO_Level3_Shift, "altgr"},
    {XK_Mode_switch, "altgr"},
    {XK_Super_L, "super"},
    {XK_Super_R, "super"},
    {XK_Menu, "menu"},
    {XK_Caps_Lock, "capslock"},
    {XK_Num_Lock, "numlock"},
    {XK_Scroll_Lock, "scrolllock"},
    {XK_Print, "printscreen"},
    {XK_Pause, "pause"},
    {XK_KP_Enter, "kpenter"},
    {XK_KP_Add, "kp+"},
    {XK_KP_Subtract, "kp-"},
    {XK_KP_Multiply, "kp*"},
    {XK_KP_Divide, "kp/"},
    {XK_KP_Decimal, "kp."},
    {XK_KP_Delete, "kp."},
    {XK_KP_Separator, "kp."},
    {XK_KP_Equal, "kp="},
    {XK_KP_Insert, "kp0"},
    {XK_KP_End, "kp1"},
    {XK_KP_Down, "kp2"},
    {XK_KP_Next, "kp3"},
    {XK_KP_Left, "kp4"},
    {XK_KP_Begin, "kp5"},
    {XK_KP_Right, "kp6"},
    {XK_KP_Home, "kp7"},
    {XK_KP_Up, "kp8"},
    {XK_KP_Prior, "kp9"},
};

// Dead keys type nothing by themselves: they are named by the accent they put on the next key.
const TNamedKey kDeadKeys[] = {
    {XK_dead_grave, "`"},
    {XK_dead_acute, "\xC2\xB4"},
    {XK_dead_circumflex, "^"},
    {XK_dead_tilde, "~"},
    {XK_dead_macron, "\xC2\xAF"},
    {XK_dead_breve, "\xCB\x98"},
    {XK_dead_abovedot, "\xCB\x99"},
    {XK_dead_diaeresis, "\xC2\xA8"},
    {XK_dead_abovering, "\xCB\x9A"},
    {XK_dead_doubleacute, "\xCB\x9D"},
    {XK_dead_caron, "\xCB\x87"},
    {XK_dead_cedilla, "\xC2\xB8"},
    {XK_dead_ogonek, "\xCB\x9B"},
};

// The first character of UTF-8 text, or 0.
uint32_t FirstCharacter(const char* text, int length) {
  if (length <= 0) return 0;
  const unsigned char c = static_cast<unsigned char>(text[0]);
  int count = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
  if (count == 0 || count > length) return 0;
  uint32_t code = count == 1 ? c : c & (0xFF >> (count + 1));
  for (int i = 1; i < count; ++i) code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
  return code;
}

// The characters of UTF-8 text that are Unicode scalar values, without control characters;
// whatever else is there (a surrogate's three bytes, sequences of five bytes or past U+10FFFF,
// overlong forms, stray bytes) is left out a byte at a time.
std::string ValidText(const std::string& text) {
  std::string valid;
  for (size_t at = 0; at < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const size_t count = lead < 0x80   ? 1
                         : lead < 0xC2 ? 0
                         : lead < 0xE0 ? 2
                         : lead < 0xF0 ? 3
                         : lead < 0xF5 ? 4
                                       : 0;
    uint32_t code = count == 1 ? lead : lead & (0xFF >> (count + 1));
    bool whole = count != 0 && at + count <= text.size();
    for (size_t i = 1; whole && i < count; ++i) {
      const unsigned char next = static_cast<unsigned char>(text[at + i]);
      whole = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms of three and four bytes; CharacterText refuses surrogates and what lies
    // past U+10FFFF, and the control characters.
    if (whole && ((count == 3 && code < 0x800) || (count == 4 && code < 0x10000))) whole = false;
    if (!whole) {
      ++at;
      continue;
    }
    valid += formframework::CharacterText(code);
    at += count;
  }
  return valid;
}

// The text a key event types through the input method, always valid. For keysyms that name a
// Unicode character the X library's conversion may give no UTF-8 at all (é's as the one Latin-1
// byte E9, a C1 control as its lone byte): then the keysym's own character is the text.
std::string LookupText(XIC context, XKeyEvent& event) {
  std::string text(64, '\0');
  KeySym sym = NoSymbol;
  Status status = 0;
  int length =
      Xutf8LookupString(context, &event, &text[0], static_cast<int>(text.size()), &sym, &status);
  if (status == XBufferOverflow) {
    text.assign(static_cast<size_t>(length), '\0');
    length = Xutf8LookupString(context, &event, &text[0], length, &sym, &status);
  }
  if (status != XLookupChars && status != XLookupBoth) return std::string();
  text.resize(static_cast<size_t>(std::max(length, 0)));
  std::string valid = ValidText(text);
  if (valid != text && status == XLookupBoth && (sym & 0xFF000000) == 0x01000000)
    return formframework::CharacterText(static_cast<uint32_t>(sym & 0x00FFFFFF));
  return valid;
}

}  // namespace

void OpenInputMethod(Display* display) {
  // The environment's character type when it has one the X library knows, else UTF-8.
  if (!std::setlocale(LC_CTYPE, "") || !XSupportsLocale()) std::setlocale(LC_CTYPE, "C.UTF-8");
  XSetLocaleModifiers("");
  inputMethod = XOpenIM(display, nullptr, nullptr, nullptr);
  if (!inputMethod) {
    // No input method server: the library's own, which still composes.
    XSetLocaleModifiers("@im=none");
    inputMethod = XOpenIM(display, nullptr, nullptr, nullptr);
  }
  // Held keys repeat as presses without releases between them.
  Bool supported = False;
  XkbSetDetectableAutoRepeat(display, True, &supported);
}

void CloseInputMethod() {
  if (inputMethod) XCloseIM(inputMethod);
  inputMethod = nullptr;
}

XIC CreateInputContext(Window window) {
  if (!inputMethod) return nullptr;
  return XCreateIC(inputMethod, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow,
                   window, XNFocusWindow, window, nullptr);
}

std::string KeyName(Display* display, XIC context, const XKeyEvent& event) {
  // The key's own symbol in the layout now in use, without Shift, Caps Lock or the others.
  const KeySym sym = XkbKeycodeToKeysym(display, static_cast<KeyCode>(event.keycode),
                                        XkbGroupForCoreState(event.state), 0);
  for (const TNamedKey& key : kNamedKeys)
    if (key.sym == sym) return key.name;
  if (sym >= XK_F1 && sym <= XK_F35) return "f" + std::to_string(sym - XK_F1 + 1);
  if (sym >= XK_KP_0 && sym <= XK_KP_9) return "kp" + std::to_string(sym - XK_KP_0);
  for (const TNamedKey& key : kDeadKeys)
    if (key.sym == sym) return key.name;
  // Any other key by the character it types unshifted, in lower case.
  uint32_t character = 0;
  if (context) {
    XKeyEvent plain = event;
    plain.state &= 0x6000;  // the layout group only
    const std::string text = LookupText(context, plain);
    character = FirstCharacter(text.data(), static_cast<int>(text.size()));
  } else if (sym >= 0x20 && sym <= 0xFF) {
    character = static_cast<uint32_t>(sym);
  } else if ((sym & 0xFF000000) == 0x01000000) {
    character = static_cast<uint32_t>(sym & 0x00FFFFFF);
  }
  if (character > 0x7F) character = static_cast<uint32_t>(std::towlower(character));
  if (character >= 'A' && character <= 'Z') character += 'a' - 'A';
  std::string name = formframework::CharacterText(character);
  return name.empty() ? "unknown" : name;
}

std::string TypedText(XIC context, XKeyEvent& event) {
  if (context) return LookupText(context, event);
  // Latin-1 without an input method.
  char buffer[64];
  KeySym ignored = NoSymbol;
  int length = XLookupString(&event, buffer, sizeof buffer, &ignored, nullptr);
  std::string text;
  for (int i = 0; i < length; ++i)
    text += formframework::CharacterText(static_cast<unsigned char>(buffer[i]));
  return text;
}

}  // namespace xbackend
