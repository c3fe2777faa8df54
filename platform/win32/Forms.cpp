// The form framework on the system's windows: one Unicode window class, window timers and the
// message loop. Ticks are the system's WM_TIMER, which is made only when the queue is otherwise
// empty and never stands in it twice, so missed ticks are dropped by the system itself; message
// boxes run their own loop and keep dispatching ticks and clicks to the form while they are
// open. While a timer runs, the system's timer resolution is 1 ms: at its default of 15.6 ms a
// 55 ms timer would tick every 62.5 ms.
//
// The program declares itself DPI-aware per monitor (its manifest): the client area is in the
// screen's own pixels, the frame around it follows the monitor's scale, and the main window is
// asked which client size it wants when the window moves to a monitor of another scale.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/FormFramework.h"
#include "platform/Platform.h"
#include "platform/win32/Keyboard.h"
#include "platform/win32/Win32Backend.h"
// After <windows.h>, which it needs.
#include <mmsystem.h>
#include <shellscalingapi.h>

using namespace formframework;
using namespace win32backend;

struct TForm::Native {
  TForm* form = nullptr;
  HWND window = nullptr;
  bool positioned = false;     // centred on its first showing
  bool trackingLeave = false;  // the system is asked to tell when the pointer leaves
  int wheel[2] = {0, 0};       // parts of a notch turned so far, vertical and horizontal
  TKeyTranslator keys;
  bool sceneDrawn = false;  // a tick has drawn with a rendering context: GL owns the pixels
  bool cursorHidden = false;
  // Full screen as last asked, and whether the window has been made to cover a monitor (not
  // before it is first shown).
  bool fullScreen = false;
  bool covering = false;
  // The framed window to go back to: its client size, and where it was when it had been shown.
  int framedWidth = 0;
  int framedHeight = 0;
  bool framedPlaced = false;
  POINT framedAt = {0, 0};
};

namespace {

const wchar_t* const kWindowClass = kFormClassName;

constexpr DWORD kStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
// Full screen: no frame. The system menu stays for Alt+F4 and the taskbar's menu.
constexpr DWORD kFullScreenStyle =
    WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;

// The per-monitor calls of Windows 10 (1607 and later); earlier systems scale by the system's
// DPI alone, for which the plain calls are right.
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

template <typename Fn>
Fn User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? ProcAs<Fn>(GetProcAddress(user32, name)) : nullptr;
}

// The window's outer size for a client area of the given size at `dpi` (0: the window's own).
SIZE OuterSize(HWND window, int clientWidth, int clientHeight, UINT dpi = 0) {
  static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  static const auto adjustForDpi =
      User32Function<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
  RECT rect = {0, 0, clientWidth, clientHeight};
  if (dpi == 0 && window && getDpiForWindow) dpi = getDpiForWindow(window);
  if (adjustForDpi && dpi != 0)
    adjustForDpi(&rect, kStyle, FALSE, 0, dpi);
  else
    AdjustWindowRectEx(&rect, kStyle, FALSE, 0);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

// The DPI a monitor's settings give it. The per-monitor call (Windows 8.1 and later) lives in a
// library that Windows 7 does not have; there every monitor has the screen's one DPI.
UINT MonitorDpi(HMONITOR monitor) {
  using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, MONITOR_DPI_TYPE, UINT*, UINT*);
  static const auto getDpiForMonitor = [] {
    HMODULE shcore = LoadLibraryW(L"shcore.dll");
    return shcore ? ProcAs<GetDpiForMonitorFn>(GetProcAddress(shcore, "GetDpiForMonitor"))
                  : nullptr;
  }();
  UINT dpiX = 0, dpiY = 0;
  if (getDpiForMonitor && monitor &&
      SUCCEEDED(getDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpiX, &dpiY)) && dpiX > 0)
    return dpiX;
  int dpi = 0;
  if (HDC screen = GetDC(nullptr)) {
    dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
  }
  return dpi > 0 ? UINT(dpi) : USER_DEFAULT_SCREEN_DPI;
}

// The monitor a new window shows up on: the system puts a window made at its default position
// on the primary one.
HMONITOR StartMonitor() {
  const POINT origin = {0, 0};
  return MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
}

// The whole monitor, or the part of it that the taskbar leaves free.
RECT MonitorArea(HMONITOR monitor, bool workArea) {
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  if (monitor && GetMonitorInfoW(monitor, &info)) return workArea ? info.rcWork : info.rcMonitor;
  return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

// Where a window of that outer size stands centred on the free part of the monitor it is on.
POINT CentredPlace(HWND window, SIZE outer) {
  const RECT work = MonitorArea(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), true);
  return POINT{work.left + std::max(0, static_cast<int>(work.right - work.left - outer.cx) / 2),
               work.top + std::max(0, static_cast<int>(work.bottom - work.top - outer.cy) / 2)};
}

// While the form is asked about a monitor's scale, that monitor: DesktopWorkArea answers for
// it rather than for the monitor a new window shows up on.
HMONITOR askedMonitor = nullptr;

// Asks the form which client size it wants at a monitor's DPI; false when it keeps its own.
bool AskClientSize(TForm* form, UINT dpi, HMONITOR monitor, int* width, int* height) {
  if (!form->OnDesktopScaleChanged || dpi == 0) return false;
  int wantedWidth = 0, wantedHeight = 0;
  bool wanted = false;
  askedMonitor = monitor;
  Application->SafeCall([&] {
    wanted = form->OnDesktopScaleChanged(double(dpi) / USER_DEFAULT_SCREEN_DPI, &wantedWidth,
                                         &wantedHeight);
  });
  askedMonitor = nullptr;
  if (!wanted || wantedWidth <= 0 || wantedHeight <= 0) return false;
  *width = wantedWidth;
  *height = wantedHeight;
  return true;
}

// The monitor a window being dragged goes to is the one under the pointer, when that monitor
// has the DPI in question; otherwise the window's own monitor changed its setting.
HMONITOR MonitorOfDpi(HWND window, UINT dpi) {
  POINT pointer;
  if (GetCursorPos(&pointer)) {
    HMONITOR under = MonitorFromPoint(pointer, MONITOR_DEFAULTTONEAREST);
    if (MonitorDpi(under) == dpi) return under;
  }
  return MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
}

// Full screen: the window without its frame over the whole monitor. It stays below topmost
// windows, so message boxes show above it.
void CoverMonitor(TForm::Native* native, HMONITOR monitor) {
  HWND window = native->window;
  const RECT area = MonitorArea(monitor, false);
  native->covering = true;
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  SetWindowLongPtrW(window, GWL_STYLE, (style & ~LONG_PTR(kStyle)) | kFullScreenStyle);
  SetWindowPos(window, HWND_TOP, area.left, area.top, area.right - area.left,
               area.bottom - area.top, SWP_FRAMECHANGED | SWP_NOOWNERZORDER);
}

// Back to the framed window: its client size, where it was (centred when it never stood
// anywhere framed, or where it stood is no monitor any more).
void UncoverMonitor(TForm::Native* native) {
  HWND window = native->window;
  native->covering = false;
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  SetWindowLongPtrW(window, GWL_STYLE, (style & ~LONG_PTR(kFullScreenStyle)) | kStyle);
  const SIZE outer = OuterSize(window, native->framedWidth, native->framedHeight);
  POINT place = native->framedAt;
  if (!native->framedPlaced || !MonitorFromPoint(place, MONITOR_DEFAULTTONULL))
    place = CentredPlace(window, outer);
  SetWindowPos(window, nullptr, place.x, place.y, outer.cx, outer.cy,
               SWP_FRAMECHANGED | SWP_NOZORDER | SWP_NOOWNERZORDER);
}

// The client area took a size: the form places its scene in it. A minimised window keeps the
// size it had.
void ClientSized(TForm::Native* native, int width, int height) {
  TForm* form = native->form;
  if (width <= 0 || height <= 0 || (width == form->ClientWidth && height == form->ClientHeight))
    return;
  form->ClientWidth = width;
  form->ClientHeight = height;
  if (form->OnResize) Application->SafeCall(form->OnResize);
}

void SetWindowCaption(HWND window, const std::string& caption) {
  SetWindowTextW(window, ReadableWide(caption).c_str());
}

TMouseButton ButtonOf(UINT message) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      return mbLeft;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      return mbRight;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      return mbMiddle;
    default:
      return mbOther;
  }
}

void MouseMessage(TForm::Native* native, UINT message, LPARAM lParam) {
  // Signed: during the capture a release left of or above the window has negative coordinates.
  const int x = static_cast<short>(LOWORD(lParam));
  const int y = static_cast<short>(HIWORD(lParam));
  const bool press = message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN ||
                     message == WM_MBUTTONDOWN || message == WM_XBUTTONDOWN;
  if (press)
    MouseButtonDown(native->form, ButtonOf(message), x, y);
  else
    MouseButtonUp(native->form, ButtonOf(message), x, y);
}

void MouseMoveMessage(TForm::Native* native, LPARAM lParam) {
  if (!native->trackingLeave) {
    TRACKMOUSEEVENT track = {};
    track.cbSize = sizeof track;
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = native->window;
    native->trackingLeave = TrackMouseEvent(&track) != FALSE;
  }
  MouseMoved(native->form, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
}

// The wheel's messages come to the window with the keyboard, in parts of a notch on smooth
// wheels: whole notches are handed on, the rest is kept for the next message. Where the pointer
// was is taken from the message queue's own record, in screen coordinates: the messages carry
// screen coordinates too, but not every implementation of them agrees on that for the
// horizontal one.
void WheelMessage(TForm::Native* native, bool horizontal, WPARAM wParam) {
  const DWORD position = GetMessagePos();
  POINT at = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
  ScreenToClient(native->window, &at);
  int& turned = native->wheel[horizontal ? 1 : 0];
  turned += GET_WHEEL_DELTA_WPARAM(wParam);
  const int notches = turned / WHEEL_DELTA;
  turned -= notches * WHEEL_DELTA;
  // Positive is away from the user on the usual wheel, and to the right on a horizontal one.
  const TWheelDirection direction =
      horizontal ? (notches > 0 ? wdRight : wdLeft) : (notches > 0 ? wdUp : wdDown);
  for (int i = 0; i < std::abs(notches) && FormLive(native->form); ++i)
    MouseWheel(native->form, direction, at.x, at.y);
}

// A handler may close the form, or open a box whose own loop brings more keys.
void DeliverKeys(TForm* form, const std::vector<TKeyEvent>& events) {
  for (const TKeyEvent& event : events) {
    if (!FormLive(form)) return;
    if (event.kind == TKeyEvent::kPress)
      KeyDown(form, event.code, event.name, event.wasDown);
    else if (event.kind == TKeyEvent::kRelease)
      KeyUp(form, event.code);
    else
      TextTyped(form, event.text);
  }
}

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* native = reinterpret_cast<TForm::Native*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!native) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_TIMER:
      FireTimer(reinterpret_cast<TTimer*>(wParam));
      // A context stays current from the screen's making to its end, so a tick that ran with one
      // has drawn a frame. The window may have gone during the tick: look it up again.
      if (wglGetCurrentContext() != nullptr) {
        auto* still = reinterpret_cast<TForm::Native*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (still) still->sceneDrawn = true;
      }
      return 0;
    case WM_ERASEBKGND:
      // Grey only until the scene draws: after that, erasing would flash grey over the last
      // frame each time the window is restored or uncovered, until the next tick. Without GL
      // nothing ever draws, and the window keeps its grey.
      if (!native->sceneDrawn) {
        RECT area;
        GetClientRect(window, &area);
        FillRect(reinterpret_cast<HDC>(wParam), &area, GetSysColorBrush(COLOR_BTNFACE));
      }
      return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      MouseMessage(native, message, lParam);
      return 0;
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
      MouseMessage(native, message, lParam);
      return TRUE;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lParam) != window) MouseCaptureLost(native->form);
      return 0;
    case WM_MOUSEMOVE:
      MouseMoveMessage(native, lParam);
      return 0;
    case WM_MOUSELEAVE:
      native->trackingLeave = false;
      MouseLeft(native->form);
      return 0;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      WheelMessage(native, message == WM_MOUSEHWHEEL, wParam);
      return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP:
    case WM_CHAR:
      DeliverKeys(native->form,
                  native->keys.Translate(
                      TKeyMessage{message, wParam, lParam, static_cast<DWORD>(GetMessageTime())}));
      // Alt+F4 and the other keys the system handles itself still reach it.
      if (message == WM_SYSKEYDOWN || message == WM_SYSKEYUP) break;
      return 0;
    case WM_SYSCHAR:
      // Alt with a letter types nothing, and has no menu to open; Alt+Space opens the window's.
      if (wParam != L' ') return 0;
      break;
    case WM_SYSCOMMAND:
      // Alt or F10 alone would take the keyboard into the window's menu until pressed again.
      if ((wParam & 0xFFF0) == SC_KEYMENU && lParam == 0) return 0;
      break;
    case WM_KILLFOCUS:
      native->keys.KeyboardLost();
      KeyboardLost(native->form);
      return 0;
    case WM_SETFOCUS:
      DeliverKeys(native->form, native->keys.KeyboardBack());
      break;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED)
        ClientSized(native, static_cast<int>(LOWORD(lParam)), static_cast<int>(HIWORD(lParam)));
      return 0;
    case WM_SETCURSOR:
      if (native->cursorHidden && LOWORD(lParam) == HTCLIENT) {
        SetCursor(nullptr);
        return TRUE;
      }
      break;
    case WM_GETDPISCALEDSIZE: {
      // Asked before the window goes to a monitor of another scale (dragged there, mostly): the
      // size given here is the one the move suggests, so the window stays under the pointer.
      // Not asked for a window covering its monitor: it covers the next one whatever its size.
      if (native->covering) return FALSE;
      const UINT dpi = static_cast<UINT>(wParam);
      TForm* form = native->form;
      int width = form->ClientWidth, height = form->ClientHeight;
      AskClientSize(form, dpi, MonitorOfDpi(window, dpi), &width, &height);
      *reinterpret_cast<SIZE*>(lParam) = OuterSize(window, width, height, dpi);
      return TRUE;
    }
    case WM_DPICHANGED: {
      // On a monitor of another scale: the frame takes that scale and the client area the size
      // the form wants there (else the size it had), at the place the system suggests.
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      const UINT dpi = HIWORD(wParam);
      HMONITOR monitor = MonitorFromRect(suggested, MONITOR_DEFAULTTONEAREST);
      TForm* form = native->form;
      if (native->covering) {
        // Full screen covers that monitor; the framed window it goes back to is sized for it.
        AskClientSize(form, dpi, monitor, &native->framedWidth, &native->framedHeight);
        CoverMonitor(native, monitor);
        return 0;
      }
      int width = form->ClientWidth, height = form->ClientHeight;
      AskClientSize(form, dpi, monitor, &width, &height);
      const SIZE outer = OuterSize(window, width, height, dpi);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, outer.cx, outer.cy,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CLOSE:
      native->form->Close();
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      native->window = nullptr;
      if (native->form == Application->MainForm()) Application->Terminate();
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterFormClass() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  // One device context for the window's life: the rendering context is made on it.
  windowClass.style = CS_OWNDC;
  windowClass.lpfnWndProc = FormProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  // No background brush: the window erases itself (WM_ERASEBKGND).
  windowClass.hbrBackground = nullptr;
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error("The main window could not be registered: " +
                             SysErrorMessage(GetLastError()));
  registered = true;
}

// While any timer runs the system clock ticks every millisecond.
int runningTimers = 0;

void TimerStarted() {
  if (runningTimers++ == 0) timeBeginPeriod(1);
}

void TimerStopped() {
  if (runningTimers > 0 && --runningTimers == 0) timeEndPeriod(1);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TTimer

// Window timers need the owner's window; a form without one yet gets it made.
void formframework::StartTimerNative(TTimer* timer) {
  TForm* owner = timer->Owner();
  // Without a window system the caller runs the ticks, on a clock of its own.
  if (!owner || Application->Headless()) return;
  HWND window = owner->Handle();
  if (SetTimer(window, reinterpret_cast<UINT_PTR>(timer), std::max<UINT>(timer->Interval, 1),
               nullptr))
    TimerStarted();
}

void formframework::StopTimerNative(TTimer* timer) {
  TForm* owner = timer->Owner();
  if (!owner || !owner->HandleAllocated()) return;
  if (HWND window = owner->NativeData()->window)
    if (KillTimer(window, reinterpret_cast<UINT_PTR>(timer))) TimerStopped();
}

// ---------------------------------------------------------------------------------------------
// TForm

void formframework::DestroyNative(TForm::Native* native) {
  if (native->window) {
    // Its timers go with the window; the clock's resolution goes back with the last of them.
    for (TTimer* timer : Timers())
      if (timer->Enabled() && timer->Owner() == native->form &&
          KillTimer(native->window, reinterpret_cast<UINT_PTR>(timer)))
        TimerStopped();
    ForgetKeptFrames(native->window);
    SetWindowLongPtrW(native->window, GWLP_USERDATA, 0);
    DestroyWindow(native->window);
  }
  delete native;
}

void formframework::HideNative(TForm::Native* native) {
  if (native->window) ShowWindow(native->window, SW_HIDE);
}

void formframework::CaptureNative(TForm::Native* native, bool capture) {
  if (!native->window) return;
  if (capture)
    SetCapture(native->window);
  else if (GetCapture() == native->window)
    ReleaseCapture();
}

HWND TForm::Handle() {
  if (handle_) return handle_->window;
  RegisterFormClass();
  SIZE outer = OuterSize(nullptr, std::max(ClientWidth, 1), std::max(ClientHeight, 1));
  HWND window = CreateWindowExW(0, kWindowClass, ReadableWide(caption_).c_str(), kStyle,
                                CW_USEDEFAULT, CW_USEDEFAULT, outer.cx, outer.cy, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  if (!window)
    throw std::runtime_error("The main window could not be created: " +
                             SysErrorMessage(GetLastError()));
  auto* native = new Native;
  native->form = this;
  native->window = window;
  native->keys = TKeyTranslator(SystemKeyboard(window));
  handle_ = native;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(native));
  // The frame's size depends on the scale of the monitor the window was made on, which is known
  // only now; the client area must have its size before anything draws into it. The system may
  // have made it on another monitor than the one whose scale the form was sized for (started
  // from a taskbar on another monitor): the form says which size it wants there, and the
  // resize runs OnResize.
  int width = std::max(ClientWidth, 1), height = std::max(ClientHeight, 1);
  HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
  const UINT dpi = MonitorDpi(monitor);
  if (dpi != MonitorDpi(StartMonitor())) AskClientSize(this, dpi, monitor, &width, &height);
  outer = OuterSize(window, width, height);
  SetWindowPos(window, nullptr, 0, 0, outer.cx, outer.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return window;
}

void formframework::CaptionNative(TForm::Native* native, const std::string& caption) {
  if (native->window) SetWindowCaption(native->window, caption);
}

void TForm::Show() {
  HWND window = Handle();
  if (Application->Headless()) return;  // never shown
  if (!handle_->positioned) {
    handle_->positioned = true;
    if (handle_->fullScreen) {
      // Full screen from the start: on the monitor where the user is.
      POINT pointer = {0, 0};
      GetCursorPos(&pointer);
      CoverMonitor(handle_, MonitorFromPoint(pointer, MONITOR_DEFAULTTONEAREST));
    } else {
      SIZE outer = OuterSize(window, ClientWidth, ClientHeight);
      RECT place;
      GetWindowRect(window, &place);
      POINT at = {place.left, place.top};
      if (Position == poScreenCenter) at = CentredPlace(window, outer);
      SetWindowPos(window, nullptr, at.x, at.y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  UpdateWindow(window);
}

bool TForm::Visible() const {
  return handle_ && handle_->window && IsWindowVisible(handle_->window);
}

// ---------------------------------------------------------------------------------------------
// TApplication

bool TApplication::Initialize() {
  return true;
}

bool formframework::WaitAndDispatch() {
  MSG message;
  if (GetMessageW(&message, nullptr, 0, 0) <= 0) return false;
  TranslateMessage(&message);
  DispatchMessageW(&message);
  return true;
}

void formframework::WakeForQuit() {
  // The quit message ends whichever loop takes it: a message box's own loop closes its box and
  // posts it again for the next loop out, until the main loop ends.
  PostQuitMessage(0);
}

void formframework::WithdrawQuit() {
  MSG message;
  while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

void TApplication::ProcessMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      terminated_ = true;
      break;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void TApplication::ProcessMessagesFor(int milliseconds) {
  DWORD end = GetTickCount() + static_cast<DWORD>(std::max(milliseconds, 0));
  for (;;) {
    ProcessMessages();
    DWORD now = GetTickCount();
    if (static_cast<LONG>(end - now) <= 0) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
  }
}

// ---------------------------------------------------------------------------------------------
// The desktop's scale

double DesktopScale() {
  return double(MonitorDpi(StartMonitor())) / USER_DEFAULT_SCREEN_DPI;
}

bool DesktopWorkArea(int* width, int* height) {
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoW(askedMonitor ? askedMonitor : StartMonitor(), &info)) return false;
  *width = int(info.rcWork.right - info.rcWork.left);
  *height = int(info.rcWork.bottom - info.rcWork.top);
  return *width > 0 && *height > 0;
}

// ---------------------------------------------------------------------------------------------
// Full screen and the pointer

void TForm::SetFullScreen(bool on) {
  HWND window = Handle();
  Native* native = handle_;
  if (native->fullScreen == on) return;
  native->fullScreen = on;
  if (!on) {
    if (native->covering) UncoverMonitor(native);
    return;
  }
  native->framedWidth = ClientWidth;
  native->framedHeight = ClientHeight;
  // Before its first showing the window has stood nowhere yet: Show covers a monitor then.
  if (!native->positioned) return;
  RECT place;
  GetWindowRect(window, &place);
  native->framedPlaced = true;
  native->framedAt = POINT{place.left, place.top};
  CoverMonitor(native, MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST));
}

bool TForm::FullScreen() const {
  return handle_ && handle_->fullScreen;
}

void TForm::SetCursorVisible(bool visible) {
  HWND window = Handle();
  handle_->cursorHidden = !visible;
  // A pointer resting over the client area changes now, not at its next movement.
  POINT at;
  if (!GetCursorPos(&at) || WindowFromPoint(at) != window) return;
  ScreenToClient(window, &at);
  RECT client;
  GetClientRect(window, &client);
  if (PtInRect(&client, at))
    SetCursor(visible ? LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)) : nullptr);
}
