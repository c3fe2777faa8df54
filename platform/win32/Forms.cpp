// The form framework on the system's windows: one window class, window timers and the message
// loop. Ticks are the system's WM_TIMER, which is made only when the queue is otherwise empty and
// never stands in it twice, so missed ticks are dropped by the system itself; message boxes run
// their own loop and keep dispatching ticks and clicks to the form while they are open.
#include <algorithm>
#include <cstdio>
#include <set>
#include <stdexcept>
#include <vector>

#include "platform/FormFramework.h"
#include "platform/Platform.h"

using namespace formframework;

struct TForm::Native {
  TForm* form = nullptr;
  HWND window = nullptr;
  bool positioned = false;  // centred on its first showing
  bool leftDownInside = false;
};

namespace {

const char* const kWindowClass = "KestruneForm";

std::wstring WideFromUtf8(const std::string& text, bool* valid) {
  int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                   static_cast<int>(text.size()), nullptr, 0);
  *valid = length > 0 || text.empty();
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      &wide[0], length);
  return wide;
}

// Scripts are written in UTF-8 far more often than in the code page; bytes that are not UTF-8
// are shown in the code page, as the system would.
void SetWindowCaption(HWND window, const std::string& caption) {
  bool utf8 = false;
  std::wstring wide = WideFromUtf8(caption, &utf8);
  if (utf8)
    SetWindowTextW(window, wide.c_str());
  else
    SetWindowTextA(window, caption.c_str());
}

constexpr DWORD kStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;

SIZE OuterSize(int clientWidth, int clientHeight) {
  RECT rect = {0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&rect, kStyle, FALSE, 0);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void FireTimer(TTimer* timer) {
  if (!TimerLive(timer) || !timer->Enabled() || TimersRunning().count(timer)) return;
  if (!timer->OnTimer) return;
  TimersRunning().insert(timer);
  Application->SafeCall(timer->OnTimer);
  TimersRunning().erase(timer);
}

TMouseButton ButtonOf(UINT message, WPARAM wParam) {
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
      (void)wParam;
      return mbOther;
  }
}

void MouseMessage(TForm::Native* native, UINT message, WPARAM wParam, LPARAM lParam) {
  TForm* form = native->form;
  if (!FormLive(form)) return;
  bool press = message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN ||
               message == WM_MBUTTONDOWN || message == WM_XBUTTONDOWN;
  TMouseButton which = ButtonOf(message, wParam);
  // Signed: during the capture a release left of or above the window has negative coordinates.
  int x = static_cast<short>(LOWORD(lParam));
  int y = static_cast<short>(HIWORD(lParam));
  bool inside = x >= 0 && y >= 0 && x < form->ClientWidth && y < form->ClientHeight;
  if (press) {
    // Presses outside arrive only while the left button holds the capture.
    if (!inside) return;
    if (which == mbLeft) {
      native->leftDownInside = true;
      SetCapture(native->window);
    }
    if (form->OnMouseDown) Application->SafeCall([&] { form->OnMouseDown(which, x, y); });
    return;
  }
  // Only the left button keeps the pointer captured: its release is delivered wherever it
  // happens, the others only inside the client area.
  if (!inside && which != mbLeft) return;
  bool captured = native->leftDownInside;
  bool click = which == mbLeft && inside && captured;
  if (which == mbLeft) {
    native->leftDownInside = false;
    if (GetCapture() == native->window) ReleaseCapture();
    // A release outside whose press this window never saw is not ours.
    if (!inside && !captured) return;
  }
  if (click && form->OnClick) Application->SafeCall(form->OnClick);
  if (FormLive(form) && form->OnMouseUp)
    Application->SafeCall([&] { form->OnMouseUp(which, x, y); });
}

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* native = reinterpret_cast<TForm::Native*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!native) return DefWindowProcA(window, message, wParam, lParam);
  switch (message) {
    case WM_TIMER:
      FireTimer(reinterpret_cast<TTimer*>(wParam));
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      MouseMessage(native, message, wParam, lParam);
      return 0;
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
      MouseMessage(native, message, wParam, lParam);
      return TRUE;
    case WM_CAPTURECHANGED:
      // Taken away (another window, a message box): the next left release is not a click.
      if (reinterpret_cast<HWND>(lParam) != window) native->leftDownInside = false;
      return 0;
    case WM_CLOSE:
      native->form->Close();
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      native->window = nullptr;
      if (native->form == Application->MainForm()) Application->Terminate();
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterFormClass() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  // One device context for the window's life: the rendering context is made on it.
  windowClass.style = CS_OWNDC;
  windowClass.lpfnWndProc = FormProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error("The main window could not be registered: " +
                             SysErrorMessage(GetLastError()));
  registered = true;
}

// Window timers need the owner's window; a form without one yet gets it made.
void StartTimer(TTimer* timer) {
  TForm* owner = timer->Owner();
  if (!owner) return;
  HWND window = owner->Handle();
  SetTimer(window, reinterpret_cast<UINT_PTR>(timer), std::max<UINT>(timer->Interval, 1), nullptr);
}

void StopTimer(TTimer* timer) {
  TForm* owner = timer->Owner();
  if (!owner || !owner->HandleAllocated()) return;
  if (HWND window = owner->NativeData()->window)
    KillTimer(window, reinterpret_cast<UINT_PTR>(timer));
}

void WakeLoop() {
  PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TTimer

TTimer::~TTimer() {
  if (enabled_) StopTimer(this);
  Timers().erase(std::remove(Timers().begin(), Timers().end(), this), Timers().end());
  TimersRunning().erase(this);
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (enabled)
    StartTimer(this);
  else
    StopTimer(this);
}

// ---------------------------------------------------------------------------------------------
// TForm

void formframework::DestroyNative(TForm::Native* native) {
  if (native->window) {
    SetWindowLongPtrA(native->window, GWLP_USERDATA, 0);
    DestroyWindow(native->window);
  }
  delete native;
}

HWND TForm::Handle() {
  if (handle_) return handle_->window;
  RegisterFormClass();
  SIZE outer = OuterSize(std::max(ClientWidth, 1), std::max(ClientHeight, 1));
  HWND window =
      CreateWindowExA(0, kWindowClass, caption_.c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                      outer.cx, outer.cy, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!window)
    throw std::runtime_error("The main window could not be created: " +
                             SysErrorMessage(GetLastError()));
  auto* native = new Native;
  native->form = this;
  native->window = window;
  handle_ = native;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(native));
  SetWindowCaption(window, caption_);
  return window;
}

std::string TForm::Caption() const {
  return caption_;
}

void TForm::SetCaption(const std::string& caption) {
  caption_ = caption;
  if (handle_ && handle_->window) SetWindowCaption(handle_->window, caption_);
}

void TForm::Show() {
  HWND window = Handle();
  if (!handle_->positioned) {
    handle_->positioned = true;
    SIZE outer = OuterSize(ClientWidth, ClientHeight);
    int x = 0, y = 0;
    if (Position == poScreenCenter) {
      x = std::max(0, (GetSystemMetrics(SM_CXSCREEN) - static_cast<int>(outer.cx)) / 2);
      y = std::max(0, (GetSystemMetrics(SM_CYSCREEN) - static_cast<int>(outer.cy)) / 2);
    }
    SetWindowPos(window, nullptr, x, y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  UpdateWindow(window);
}

void TForm::Close() {
  if (Application->MainForm() == this) {
    Application->Terminate();
    return;
  }
  if (handle_ && handle_->window) ShowWindow(handle_->window, SW_HIDE);
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
  if (GetMessageA(&message, nullptr, 0, 0) <= 0) return false;
  TranslateMessage(&message);
  DispatchMessageA(&message);
  return true;
}

void TApplication::ProcessMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      terminated_ = true;
      break;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
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

void TApplication::Terminate() {
  terminated_ = true;
  WakeLoop();
}
