// The Windows backend's window sizes: the client size asked for on a monitor of another scale,
// full screen and back, and the pointer hidden over the client area.
#include <gtest/gtest.h>

#include <vector>

#include "platform/Platform.h"

namespace {

struct Size {
  int width, height;
};

// The window's outer size for a client area at a DPI, as the system frames it.
SIZE Framed(HWND window, int width, int height, UINT dpi) {
  using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  const DWORD style = DWORD(GetWindowLongPtrW(window, GWL_STYLE)) & ~DWORD(WS_VISIBLE);
  RECT rect = {0, 0, width, height};
  const auto adjust = ProcAs<AdjustForDpiFn>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi"));
  if (adjust)
    adjust(&rect, style, FALSE, 0, dpi);
  else
    AdjustWindowRectEx(&rect, style, FALSE, 0);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

Size ClientOf(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  return Size{int(client.right - client.left), int(client.bottom - client.top)};
}

class WindowSizeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = new TForm();
    form_->OnResize = [this] { resized_.push_back({form_->ClientWidth, form_->ClientHeight}); };
    window_ = form_->Handle();
  }
  void TearDown() override { delete form_; }
  TForm* form_ = nullptr;
  HWND window_ = nullptr;
  std::vector<Size> resized_;
};

// The window's own DPI, which the frame it has now is drawn at.
UINT WindowDpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  const auto get =
      ProcAs<GetDpiForWindowFn>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow"));
  return get ? get(window) : 96;
}

TEST_F(WindowSizeTest, OnAMonitorOfAnotherScaleTheWindowTakesTheClientSizeTheFormWants) {
  std::vector<double> asked;
  bool wants = true;
  form_->OnDesktopScaleChanged = [&](double scale, int* width, int* height) {
    asked.push_back(scale);
    *width = 1200;
    *height = 900;
    return wants;
  };
  form_->Show();

  // Before the move: the size that keeps the window under the pointer, frame included.
  SIZE pending = {1000, 800};
  EXPECT_TRUE(SendMessageW(window_, WM_GETDPISCALEDSIZE, 144, reinterpret_cast<LPARAM>(&pending)));
  EXPECT_EQ(pending.cx, Framed(window_, 1200, 900, 144).cx);
  EXPECT_EQ(pending.cy, Framed(window_, 1200, 900, 144).cy);
  EXPECT_TRUE(resized_.empty()) << "a question changes nothing";
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], 1.5);

  // The move itself, told at the DPI the window's frame really has here (one monitor).
  const UINT dpi = WindowDpi(window_);
  const SIZE framed = Framed(window_, 1200, 900, dpi);
  RECT suggested = {40, 30, 40 + framed.cx, 30 + framed.cy};
  SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(ClientOf(window_).width, 1200);
  EXPECT_EQ(ClientOf(window_).height, 900);
  EXPECT_EQ(form_->ClientWidth, 1200);
  EXPECT_EQ(form_->ClientHeight, 900);
  ASSERT_EQ(resized_.size(), 1u);
  EXPECT_EQ(resized_[0].width, 1200);
  EXPECT_EQ(resized_[0].height, 900);
  RECT outer;
  GetWindowRect(window_, &outer);
  EXPECT_EQ(outer.left, 40);
  EXPECT_EQ(outer.top, 30);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1], dpi / 96.0);

  // A form that keeps its size (a scale given on the command line) keeps it on any monitor.
  wants = false;
  pending = SIZE{10, 10};
  SendMessageW(window_, WM_GETDPISCALEDSIZE, 192, reinterpret_cast<LPARAM>(&pending));
  EXPECT_EQ(pending.cx, Framed(window_, 1200, 900, 192).cx);
  suggested = RECT{0, 0, 10, 10};
  SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(ClientOf(window_).width, 1200);
  EXPECT_EQ(ClientOf(window_).height, 900);
  EXPECT_EQ(resized_.size(), 1u);
}

TEST_F(WindowSizeTest, FullScreenCoversTheMonitorBelowTopmostWindowsAndGivesTheFramedWindowBack) {
  // Asked before the first showing, it covers the monitor from the start.
  form_->SetFullScreen(true);
  EXPECT_TRUE(form_->FullScreen());
  EXPECT_TRUE(resized_.empty());
  form_->Show();
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &monitor));
  const int width = monitor.rcMonitor.right - monitor.rcMonitor.left;
  const int height = monitor.rcMonitor.bottom - monitor.rcMonitor.top;
  RECT outer;
  GetWindowRect(window_, &outer);
  EXPECT_EQ(outer.left, monitor.rcMonitor.left);
  EXPECT_EQ(outer.top, monitor.rcMonitor.top);
  EXPECT_EQ(ClientOf(window_).width, width) << "no frame";
  EXPECT_EQ(ClientOf(window_).height, height);
  ASSERT_EQ(resized_.size(), 1u);
  EXPECT_EQ(resized_[0].width, width);
  EXPECT_EQ(resized_[0].height, height);
  EXPECT_EQ(GetWindowLongPtrW(window_, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  // Alt+F4 goes through the system menu.
  EXPECT_NE(GetWindowLongPtrW(window_, GWL_STYLE) & WS_SYSMENU, 0);

  form_->SetFullScreen(false);
  EXPECT_FALSE(form_->FullScreen());
  EXPECT_EQ(ClientOf(window_).width, 800);
  EXPECT_EQ(ClientOf(window_).height, 600);
  EXPECT_NE(GetWindowLongPtrW(window_, GWL_STYLE) & WS_CAPTION, 0);
  ASSERT_EQ(resized_.size(), 2u);
  EXPECT_EQ(resized_[1].width, 800);

  // Once shown framed, full screen and back return it to where it stood.
  SetWindowPos(window_, nullptr, 20, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  GetWindowRect(window_, &outer);
  form_->SetFullScreen(true);
  EXPECT_EQ(ClientOf(window_).width, width);
  form_->SetFullScreen(false);
  RECT back;
  GetWindowRect(window_, &back);
  EXPECT_EQ(back.left, outer.left);
  EXPECT_EQ(back.top, outer.top);
  EXPECT_EQ(ClientOf(window_).width, 800);
  EXPECT_EQ(resized_.size(), 4u);
}

TEST_F(WindowSizeTest, AHiddenPointerShowsNoCursorOverTheClientAreaOnly) {
  form_->Show();
  const auto cursorFor = [this](WORD hit) {
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
    SendMessageW(window_, WM_SETCURSOR, reinterpret_cast<WPARAM>(window_),
                 MAKELPARAM(hit, WM_MOUSEMOVE));
    return GetCursor();
  };
  form_->SetCursorVisible(false);
  EXPECT_EQ(cursorFor(HTCLIENT), nullptr);
  EXPECT_NE(cursorFor(HTCAPTION), nullptr);
  form_->SetCursorVisible(true);
  EXPECT_EQ(cursorFor(HTCLIENT), LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
}

}  // namespace
