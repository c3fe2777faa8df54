// The message box: a small modal X window with the text, the caption as its title and an OK
// button. It has no owner, so its loop keeps dispatching the other windows' events and ticks.
#include <X11/Xatom.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>

#include "platform/FormFramework.h"
#include "platform/Platform.h"
#include "platform/linux/X11Backend.h"

using namespace xbackend;

namespace {

constexpr int kMargin = 16;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 26;

// Splits at line breaks ("\r\n", "\n" or "\r") and wraps lines wider than `maxWidth` pixels at
// spaces where possible.
std::vector<std::string> Layout(const std::string& text, XFontStruct* font, int maxWidth) {
  auto width = [font](const std::string& line) {
    return font ? XTextWidth(font, line.data(), static_cast<int>(line.size()))
                : static_cast<int>(line.size()) * 6;
  };
  std::vector<std::string> raw;
  std::string current;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      raw.push_back(current);
      current.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current += c;
    }
  }
  raw.push_back(current);
  std::vector<std::string> lines;
  for (std::string line : raw) {
    while (width(line) > maxWidth && line.size() > 1) {
      size_t fit = line.size();
      while (fit > 1 && width(line.substr(0, fit)) > maxWidth) --fit;
      size_t cut = line.rfind(' ', fit);
      if (cut == std::string::npos || cut == 0) cut = fit;
      lines.push_back(line.substr(0, cut));
      line = line.substr(cut < line.size() && line[cut] == ' ' ? cut + 1 : cut);
    }
    lines.push_back(line);
  }
  return lines;
}

class Box {
 public:
  Box(const std::string& text, const std::string& caption) {
    Display* display = Dpy();
    const DisplayState& displayState = State();
    font_ = XLoadQueryFont(display, "fixed");
    int screenWidth = DisplayWidth(display, displayState.screen);
    int screenHeight = DisplayHeight(display, displayState.screen);
    lines_ = Layout(Utf8ToLatin1(text), font_, std::max(200, std::min(900, screenWidth - 100)));
    lineHeight_ = font_ ? font_->ascent + font_->descent + 2 : 15;
    int textWidth = 0;
    for (const std::string& line : lines_)
      textWidth =
          std::max(textWidth, font_ ? XTextWidth(font_, line.data(), static_cast<int>(line.size()))
                                    : static_cast<int>(line.size()) * 6);
    width_ = std::max({textWidth + 2 * kMargin, kButtonWidth + 2 * kMargin, 240});
    height_ =
        kMargin + static_cast<int>(lines_.size()) * lineHeight_ + kMargin + kButtonHeight + kMargin;
    buttonX_ = (width_ - kButtonWidth) / 2;
    buttonY_ = height_ - kMargin - kButtonHeight;
    int left = std::max(0, (screenWidth - width_) / 2);
    int top = std::max(0, (screenHeight - height_) / 2);

    XSetWindowAttributes attributes;
    attributes.background_pixel = displayState.buttonFace;
    attributes.border_pixel = displayState.black;
    attributes.colormap = displayState.colormap;
    attributes.event_mask =
        ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
    // A one-pixel frame keeps the box apart from a window of the same grey behind it when no
    // window manager decorates it.
    window_ = XCreateWindow(display, displayState.root, left, top, static_cast<unsigned>(width_),
                            static_cast<unsigned>(height_), 1, displayState.depth, InputOutput,
                            displayState.visual,
                            CWBackPixel | CWBorderPixel | CWColormap | CWEventMask, &attributes);
    SetCommonProperties(window_);
    SetWindowTitle(window_, caption);
    SetFixedSize(window_, left, top, width_, height_);
    Atom dialog = displayState.netWmWindowTypeDialog;
    XChangeProperty(display, window_, displayState.netWmWindowType, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&dialog), 1);
    // Kept above the main window by the window manager, which stays usable all the same.
    if (TForm* main = Application->MainForm())
      if (main->HandleAllocated() && main->Visible())
        XSetTransientForHint(display, window_, main->NativeData()->window);
    gc_ = XCreateGC(display, window_, 0, nullptr);
    if (font_) XSetFont(display, gc_, font_->fid);
    RegisterWindowHandler(window_, [this](XEvent& event) { Handle(event); });
    XMapRaised(display, window_);
    XFlush(display);
  }

  ~Box() {
    Display* display = Dpy();
    UnregisterWindowHandler(window_);
    if (alive_) XDestroyWindow(display, window_);
    XFreeGC(display, gc_);
    if (font_) XFreeFont(display, font_);
    XFlush(display);
  }

  void Run() {
    // The user asking the program to end closes the box, as it ends a modal loop on Windows.
    while (!done_ && !Application->Terminated()) PumpEvents(-1);
  }

 private:
  bool InButton(int px, int py) const {
    return px >= buttonX_ && px < buttonX_ + kButtonWidth && py >= buttonY_ &&
           py < buttonY_ + kButtonHeight;
  }

  void Handle(XEvent& event) {
    Display* display = Dpy();
    switch (event.type) {
      case Expose:
        if (event.xexpose.count == 0) Draw();
        break;
      case MapNotify:
        // The box takes the keyboard so that Enter and Escape reach it.
        XSetInputFocus(display, window_, RevertToPointerRoot, CurrentTime);
        break;
      case KeyPress: {
        KeySym key = XLookupKeysym(&event.xkey, 0);
        if (key == XK_Return || key == XK_KP_Enter || key == XK_Escape || key == XK_space)
          done_ = true;
        break;
      }
      case ButtonPress:
        if (event.xbutton.button == 1 && InButton(event.xbutton.x, event.xbutton.y)) {
          pressed_ = true;
          Draw();
        }
        break;
      case ButtonRelease:
        if (event.xbutton.button == 1) {
          if (pressed_ && InButton(event.xbutton.x, event.xbutton.y)) done_ = true;
          pressed_ = false;
          Draw();
        }
        break;
      case ClientMessage:
        if (event.xclient.message_type == State().wmProtocols &&
            static_cast<Atom>(event.xclient.data.l[0]) == State().wmDeleteWindow)
          done_ = true;
        break;
      case DestroyNotify:
        if (event.xdestroywindow.window == window_) {
          alive_ = false;
          done_ = true;
        }
        break;
      default:
        break;
    }
  }

  void Draw() {
    if (!alive_) return;
    Display* display = Dpy();
    const DisplayState& displayState = State();
    int ascent = font_ ? font_->ascent : 11;
    XSetForeground(display, gc_, displayState.black);
    for (size_t i = 0; i < lines_.size(); ++i)
      XDrawString(display, window_, gc_, kMargin,
                  kMargin + static_cast<int>(i) * lineHeight_ + ascent, lines_[i].data(),
                  static_cast<int>(lines_[i].size()));
    XSetForeground(display, gc_, pressed_ ? displayState.shadow : displayState.white);
    XFillRectangle(display, window_, gc_, buttonX_, buttonY_, kButtonWidth, kButtonHeight);
    XSetForeground(display, gc_, displayState.black);
    XDrawRectangle(display, window_, gc_, buttonX_, buttonY_, kButtonWidth - 1, kButtonHeight - 1);
    const char label[] = "OK";
    int labelWidth = font_ ? XTextWidth(font_, label, 2) : 12;
    int descent = font_ ? font_->descent : 2;
    XDrawString(display, window_, gc_, buttonX_ + (kButtonWidth - labelWidth) / 2,
                buttonY_ + (kButtonHeight + ascent - descent) / 2, label, 2);
    XFlush(display);
  }

  Window window_ = 0;
  GC gc_ = nullptr;
  XFontStruct* font_ = nullptr;
  std::vector<std::string> lines_;
  int lineHeight_ = 15;
  int width_ = 0, height_ = 0, buttonX_ = 0, buttonY_ = 0;
  bool pressed_ = false;
  bool done_ = false;
  bool alive_ = true;
};

}  // namespace

int formframework::NativeMessageBox(const std::string& text, const std::string& caption) {
  if (!OpenDisplay()) {
    // Nowhere to show it: the text still reaches the user.
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return IDOK;
  }
  Box box(text, caption);
  box.Run();
  return IDOK;
}
