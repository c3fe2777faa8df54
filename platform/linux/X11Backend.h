// Shared state of the Linux backend: the display connection, the registries that make every
// handle checkable before use, and the event pump that the main loop and the message box share.
// Only files in platform/linux include this header.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format off
#include <GL/glx.h>
// clang-format on

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace xbackend {

// Error codes used inside the backend beyond those the interface names.
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_FLAGS = 1004;
constexpr DWORD ERROR_NO_SYSTEM_RESOURCES = 1450;

// ---------------------------------------------------------------------------------------------
// Display

struct DisplayState {
  Display* display = nullptr;
  int screen = 0;
  Window root = 0;
  Visual* visual = nullptr;  // 24-bit TrueColor: GL configs of that depth can draw into it
  int depth = 24;
  Colormap colormap = 0;
  unsigned long buttonFace = 0;  // #F0F0F0 in the visual's pixel layout
  unsigned long black = 0;
  unsigned long white = 0;
  unsigned long shadow = 0;  // #A0A0A0, the box button's frame
  Atom wmProtocols = 0;
  Atom wmDeleteWindow = 0;
  Atom netWmName = 0;
  Atom utf8String = 0;
  Atom netWmPid = 0;
  Atom netWmWindowType = 0;
  Atom netWmWindowTypeDialog = 0;
  Atom motifWmHints = 0;
};

// Opens the display on first use; false (and nothing changed) when there is none.
bool OpenDisplay();
// The open connection, or null.
Display* Dpy();
const DisplayState& State();
// Text for the user when the display cannot be opened.
std::string NoDisplayMessage();

// X errors are recorded instead of ending the process, so that releasing a window that was
// destroyed from outside is harmless. The counter lets a caller see whether its own request
// failed (after XSync).
unsigned long XErrorCount();

// Monotonic milliseconds.
int64_t NowMs();

// Sets WM_NAME (Latin-1 or compound text) and _NET_WM_NAME (UTF-8).
void SetWindowTitle(Window window, const std::string& caption);
// WM_CLASS "kestrune", _NET_WM_PID, WM_PROTOCOLS with WM_DELETE_WINDOW.
void SetCommonProperties(Window window);
// Minimum and maximum size equal, at the given position.
void SetFixedSize(Window window, int x, int y, int width, int height);

// ---------------------------------------------------------------------------------------------
// Monitors and full screen

struct MonitorRect {
  int x, y, width, height;
};
// The monitor holding the point on the root window, else the nearest one; the whole screen where
// RandR names none.
MonitorRect MonitorAt(int x, int y);
// Whether a window manager that follows the desktop conventions (_NET_SUPPORTING_WM_CHECK) runs.
bool WindowManagerRunning();
// What the window manager may do with the window: with `resizable`, make it any size (full
// screen); otherwise only move it, its size fixed at the given one.
void SetWindowFunctions(Window window, bool resizable, int x, int y, int width, int height);
// Show's part: a form asked for full screen before it was shown takes the monitor under the
// pointer; and once it is mapped without a window manager, the keyboard.
void ShowFullScreen(TForm::Native* native);
void FullScreenMapped(TForm::Native* native);

// The desktop's scale from the value of GDK_SCALE (null when unset) and the resource database's
// text (null when the server holds none): GDK_SCALE when it is a positive number, else Xft.dpi
// over 96, else 1.
double ScaleFromSettings(const char* gdkScale, const char* resources);

// ---------------------------------------------------------------------------------------------
// Windows other than forms (the message box) take their events through a handler.

using WindowHandler = std::function<void(XEvent& event)>;
void RegisterWindowHandler(Window window, WindowHandler handler);
void UnregisterWindowHandler(Window window);
// True when a registered handler took the event.
bool DispatchToHandler(XEvent& event);

// One round of the loop: waits up to `maxWaitMs` (negative: until something happens) or until
// the next timer is due, dispatches every pending X event, then fires the due timers.
void PumpEvents(int maxWaitMs);

// ---------------------------------------------------------------------------------------------
// Pixel formats and device contexts

struct Bitmap;

struct DeviceContext {
  bool memory = false;
  TForm::Native* window = nullptr;  // window DC
  Bitmap* stock = nullptr;          // memory DC: its own 1x1 surface
  Bitmap* selected = nullptr;       // memory DC: the surface that drawing goes to
};

struct Bitmap {
  Pixmap pixmap = 0;
  int width = 0;
  int height = 0;
  int depth = 0;
  int pixelFormat = 0;
  GLXPixmap glxPixmap = 0;
  DeviceContext* selectedInto = nullptr;
};

// Checks a handle against the live objects.
DeviceContext* FindDC(HDC dc);
Bitmap* FindBitmap(HGDIOBJ object);
TForm::Native* FindWindow(HWND window);

// The drawable behind a device context and its pixel format (0 when none is set yet).
// False, with the error code set, when the device context has no live drawable.
bool DrawableOf(DeviceContext* dc, GLXDrawable* drawable, int** pixelFormat);

// The configs behind the 1-based pixel formats.
const std::vector<GLXFBConfig>& PixelFormats();
GLXFBConfig PixelFormatConfig(int format);

// Called when a form's window goes away: its device context is released and its GL drawable
// forgotten.
void ForgetWindowDC(TForm::Native* window);
// Releases the current context when it draws into `drawable`, which is about to vanish.
void ReleaseContextsOn(GLXDrawable drawable);
// Handles the notice of the window's destruction if one has arrived, after a round trip so that
// a destruction the server has made is among them. Mesa's software renderer sizes its buffers
// from a geometry request that fails on a destroyed window and then crashes: the window must be
// known dead before a frame draws into it.
void NoticeDestruction(Window window);

// ---------------------------------------------------------------------------------------------
// WGL: the functions handed out by GetProcAddress on the GL library's handle.

FARPROC WglBaseFunction(const char* name);

// UTF-8 to Latin-1 for the core fonts; characters outside Latin-1 become '?'.
std::string Utf8ToLatin1(const std::string& text);

// The drawable the current context draws into, 0 when none is current.
GLXDrawable CurrentDrawable();

// ---------------------------------------------------------------------------------------------
// Running without a display (Headless.cpp): Mesa's EGL on the surfaceless platform, each form
// drawn into a framebuffer object of its client size by whichever context is made current on
// it. Forms then have no X window; a number of their own stands for it as their drawable.

// Whether this run has no display (TApplication::InitializeHeadless).
bool Headless();
// Loads EGL and starts its software renderer; false with the reason for the user.
bool StartHeadless(std::string* reason);
// What stands for a new form's window.
Window NewHeadlessDrawable();
// The pixel formats offered without a display (there are no GLX configs then).
const std::vector<PIXELFORMATDESCRIPTOR>& HeadlessPixelFormats();

struct HeadlessContext;
// A context for the 1-based format, sharing objects with `share` when given; null with the
// error code set when EGL refuses.
HeadlessContext* CreateHeadlessContext(int pixelFormat, HeadlessContext* share);
void DeleteHeadlessContext(HeadlessContext* context);
// Makes the context current drawing into the form's buffer, made or resized to the client
// area as needed; false with the error code set.
bool MakeHeadlessCurrent(HeadlessContext* context, TForm::Native* target);
void MakeNoHeadlessCurrent();
FARPROC HeadlessProcAddress(const char* name);
// The frame in the form's buffer is finished (SwapBuffers).
void HeadlessFrameDone(TForm::Native* target);
// The form goes away: the contexts forget its buffer.
void ForgetHeadlessTarget(TForm::Native* target);
// The last finished frame of the form, bottom row first, RGB; false when there is none.
bool ReadHeadlessFrame(TForm::Native* target, std::vector<unsigned char>* rgb, int* width,
                       int* height);

// ---------------------------------------------------------------------------------------------
// The frame's pixels in a window (FramePixels.cpp)

// Called just before the window's buffers are swapped: keeps a copy of the back buffer when
// the form's frames are asked for and the current context draws into the window.
void KeepFrameBeforeSwap(TForm::Native* window, GLXDrawable drawable);

// ---------------------------------------------------------------------------------------------
// Keyboard

// Sets the character type from the environment and opens the input method; OpenDisplay calls it.
void OpenInputMethod(Display* display);
void CloseInputMethod();
// The input context of a window, or null when there is no input method.
XIC CreateInputContext(Window window);
// The name of the key of a key event, as the layout labels it.
std::string KeyName(Display* display, XIC context, const XKeyEvent& event);
// The text a key press typed (through the input method when there is one), UTF-8.
std::string TypedText(XIC context, XKeyEvent& event);

}  // namespace xbackend

// The backend's view of a form's native window.
struct TForm::Native {
  TForm* form = nullptr;
  Window window = 0;
  bool alive = true;  // false once the window was destroyed from outside
  bool mapped = false;
  bool positioned = false;  // centred on its first showing
  int pixelFormat = 0;
  xbackend::DeviceContext* dc = nullptr;
  XIC inputContext = nullptr;
  bool fullScreen = false;         // as last asked
  bool managedFullScreen = false;  // the window manager made it so (else it was moved and sized)
  // The window's place and client size to give back when it leaves full screen.
  int normalX = 0;
  int normalY = 0;
  int normalWidth = 0;
  int normalHeight = 0;
  bool cursorHidden = false;
  Cursor emptyCursor = 0;  // made when the pointer is first hidden
  // Without a display: the context that last drew into the form's buffer, and whether a frame
  // of it was finished since that buffer was made.
  xbackend::HeadlessContext* drawnBy = nullptr;
  bool frameDone = false;
  // In a window: a copy of the back buffer taken before each swap once the frames are asked
  // for, bottom row first, RGB.
  bool keepFrames = false;
  std::vector<unsigned char> frame;
  int frameWidth = 0;
  int frameHeight = 0;
};
