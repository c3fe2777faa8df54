// The display connection, X error recording and the properties every top-level window carries.
#include <X11/Xatom.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>

#include "platform/linux/X11Backend.h"

namespace xbackend {

namespace {

DisplayState state;
unsigned long errorCount = 0;

int RecordXError(Display*, XErrorEvent*) {
  ++errorCount;
  return 0;
}

int LostConnection(Display*) {
  // Xlib ends the process after this returns; say why instead of dying silently.
  std::fprintf(stderr, "kestrune: lost the connection to the display\n");
  return 0;
}

unsigned long PixelOf(const Visual* visual, unsigned r, unsigned g, unsigned b) {
  auto place = [](unsigned value, unsigned long mask) {
    if (mask == 0) return 0ul;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    int bits = 0;
    while ((mask >> (shift + bits)) & 1) ++bits;
    unsigned long scaled = bits >= 8 ? value << (bits - 8) : value >> (8 - bits);
    return (scaled << shift) & mask;
  };
  return place(r, visual->red_mask) | place(g, visual->green_mask) | place(b, visual->blue_mask);
}

}  // namespace

bool OpenDisplay() {
  if (state.display) return true;
  // A run without a display never talks to a server, even where DISPLAY names one.
  if (Headless()) return false;
  // A busy server can refuse a connection for a moment (seen with several test programs and
  // servers starting at once); a few short retries keep that from failing the whole program.
  Display* display = XOpenDisplay(nullptr);
  for (int attempt = 0; !display && attempt < 10 && std::getenv("DISPLAY") != nullptr &&
                        *std::getenv("DISPLAY") != '\0';
       ++attempt) {
    usleep(100 * 1000);
    display = XOpenDisplay(nullptr);
  }
  if (!display) return false;
  XSetErrorHandler(RecordXError);
  XSetIOErrorHandler(LostConnection);
  state.display = display;
  state.screen = DefaultScreen(display);
  state.root = RootWindow(display, state.screen);
  XVisualInfo info;
  if (XMatchVisualInfo(display, state.screen, 24, TrueColor, &info)) {
    state.visual = info.visual;
    state.depth = 24;
  } else {
    // A server without a 24-bit TrueColor visual: windows still open, GL may find no format.
    state.visual = DefaultVisual(display, state.screen);
    state.depth = DefaultDepth(display, state.screen);
  }
  state.colormap = XCreateColormap(display, state.root, state.visual, AllocNone);
  state.buttonFace = PixelOf(state.visual, 0xF0, 0xF0, 0xF0);
  state.black = PixelOf(state.visual, 0, 0, 0);
  state.white = PixelOf(state.visual, 0xFF, 0xFF, 0xFF);
  state.shadow = PixelOf(state.visual, 0xA0, 0xA0, 0xA0);
  state.wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
  state.wmDeleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  state.netWmName = XInternAtom(display, "_NET_WM_NAME", False);
  state.utf8String = XInternAtom(display, "UTF8_STRING", False);
  state.netWmPid = XInternAtom(display, "_NET_WM_PID", False);
  state.netWmWindowType = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
  state.netWmWindowTypeDialog = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
  state.motifWmHints = XInternAtom(display, "_MOTIF_WM_HINTS", False);
  OpenInputMethod(display);
  return true;
}

Display* Dpy() {
  return state.display;
}
const DisplayState& State() {
  return state;
}

std::string NoDisplayMessage() {
  const char* name = std::getenv("DISPLAY");
  std::string text = "kestrune: cannot open display";
  if (!name || !*name) return text + " (DISPLAY is not set)";
  return text + " \"" + name + "\"";
}

unsigned long XErrorCount() {
  return errorCount;
}

int64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string Utf8ToLatin1(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    unsigned code = 0;
    bool valid = length > 1 && i + length <= text.size();
    if (valid) {
      code = c & (0xFF >> (length + 1));
      for (int k = 1; k < length; ++k) {
        unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
          valid = false;
          break;
        }
        code = (code << 6) | (next & 0x3F);
      }
    }
    out += valid && code >= 0xA0 && code <= 0xFF ? static_cast<char>(code) : '?';
    i += valid ? length : 1;
  }
  return out;
}

void SetWindowTitle(Window window, const std::string& caption) {
  Display* display = state.display;
  if (!display || !window) return;
  // A script's print can put any bytes here; window managers take the title as UTF-8.
  const std::string utf8 = ReadableText(caption);
  bool ascii = true;
  for (char c : utf8)
    if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
  // WM_NAME for older tools: plain STRING when the text is ASCII, otherwise compound text
  // (Latin-1 when that fails), so nothing ever shows UTF-8 bytes as Latin-1 letters.
  XTextProperty property;
  std::string latin = Utf8ToLatin1(utf8);
  char* list[] = {const_cast<char*>(utf8.c_str())};
  int converted = XLocaleNotSupported;
  if (!ascii) {
    converted = Xutf8TextListToTextProperty(display, list, 1, XCompoundTextStyle, &property);
    // Text that is not all convertible (bytes that are no UTF-8) still gets a property made,
    // with stand-ins for what failed; it is not used, but it is ours to free.
    if (converted > 0) XFree(property.value);
  }
  if (converted == Success) {
    XSetWMName(display, window, &property);
    XSetWMIconName(display, window, &property);
    XFree(property.value);
  } else {
    XChangeProperty(display, window, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(latin.data()),
                    static_cast<int>(latin.size()));
    XChangeProperty(display, window, XA_WM_ICON_NAME, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(latin.data()),
                    static_cast<int>(latin.size()));
  }
  XChangeProperty(display, window, state.netWmName, state.utf8String, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(utf8.data()),
                  static_cast<int>(utf8.size()));
}

void SetCommonProperties(Window window) {
  Display* display = state.display;
  XClassHint classHint;
  char name[] = "kestrune";
  classHint.res_name = name;
  classHint.res_class = name;
  XSetClassHint(display, window, &classHint);
  long pid = static_cast<long>(getpid());
  XChangeProperty(display, window, state.netWmPid, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&pid), 1);
  Atom protocols[] = {state.wmDeleteWindow};
  XSetWMProtocols(display, window, protocols, 1);
  XWMHints hints;
  std::memset(&hints, 0, sizeof hints);
  hints.flags = InputHint | StateHint;
  hints.input = True;
  hints.initial_state = NormalState;
  XSetWMHints(display, window, &hints);
}

void SetFixedSize(Window window, int x, int y, int width, int height) {
  XSizeHints* hints = XAllocSizeHints();
  if (!hints) return;
  hints->flags = PPosition | USPosition | PSize | PMinSize | PMaxSize;
  hints->x = x;
  hints->y = y;
  hints->width = hints->min_width = hints->max_width = width;
  hints->height = hints->min_height = hints->max_height = height;
  XSetWMNormalHints(state.display, window, hints);
  XFree(hints);
}

// ---------------------------------------------------------------------------------------------

namespace {
std::map<Window, WindowHandler>& Handlers() {
  static std::map<Window, WindowHandler> handlers;
  return handlers;
}
}  // namespace

void RegisterWindowHandler(Window window, WindowHandler handler) {
  Handlers()[window] = std::move(handler);
}

void UnregisterWindowHandler(Window window) {
  Handlers().erase(window);
}

// Used by the pump: true when a handler took the event.
bool DispatchToHandler(XEvent& event) {
  auto found = Handlers().find(event.xany.window);
  if (found == Handlers().end()) return false;
  WindowHandler handler = found->second;  // a copy: the handler may unregister itself
  handler(event);
  return true;
}

}  // namespace xbackend

std::string Utf8FromLegacyText(const std::string& bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (byte >> 6));
      text += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return text;
}
