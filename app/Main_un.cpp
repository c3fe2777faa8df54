// The main window's handlers: creating and freeing the screen and the host, the scene's time
// and the frame of each tick, and the names under which pointer, wheel and key events reach the
// host.
#include "app/Main_un.h"

#include <cmath>

#include "app/Scale.h"
#include "app/Scene.h"
#include "render/Graph_un.h"
#include "script/Lua_un.h"
#include "script/SceneWindow.h"

TMain* Main = nullptr;
CLua* LuaHost = nullptr;
bool TicksStepped = false;

TMain::TMain() {
  Scale = TicksStepped ? 1 : SceneScale();
  ClientWidth = int(std::lround(LogicalScreenWidth * Scale));
  ClientHeight = int(std::lround(LogicalScreenHeight * Scale));
  SceneArea.Width = ClientWidth;
  SceneArea.Height = ClientHeight;
  SceneArea.LogicalWidth = LogicalScreenWidth;
  SceneArea.LogicalHeight = LogicalScreenHeight;
  BorderStyle = bsSingle;
  Position = poScreenCenter;
  SetCaption("Main");
  Timer1.Interval = DefaultTickMs;
  Timer1.SetEnabled(false);
  Timer1.OnTimer = [this] { Timer1Timer(); };
  OnCreate = [this] { FormCreate(); };
  OnDestroy = [this] { FormDestroy(); };
  OnClick = [this] { FormClick(); };
  OnMouseDown = [this](TMouseButton b, float x, float y) { FormMouseDown(b, x, y); };
  OnMouseUp = [this](TMouseButton b, float x, float y) { FormMouseUp(b, x, y); };
  OnMouseMove = [this](float x, float y) { FormMouseMove(x, y); };
  OnMouseLeave = [this] { FormMouseLeave(); };
  OnMouseWheel = [this](TWheelDirection d, float x, float y) { FormMouseWheel(d, x, y); };
  OnKeyDown = [this](const std::string& key, bool repeat) { FormKeyDown(key, repeat); };
  OnKeyUp = [this](const std::string& key) { FormKeyUp(key); };
  OnTextInput = [this](const std::string& text) { FormTextInput(text); };
  OnResize = [this] { FormResize(); };
  OnDesktopScaleChanged = [this](double scale, int* width, int* height) {
    return FormDesktopScaleChanged(scale, width, height);
  };
  SceneWindow.SetCaption = [this](const std::string& text) { SetCaption(text); };
  SceneWindow.SetTickInterval = [this](unsigned ms) { SetTickInterval(ms); };
  // A scene's tests see the scene as a plain window at scale 1 whatever they ask, so that their
  // pictures are the same on every machine; and there is no monitor or pointer to change.
  SceneWindow.SetFullScreen = [this](bool on) {
    if (!TicksStepped) SetFullScreen(on);
  };
  SceneWindow.FullScreen = [this] { return !TicksStepped && FullScreen(); };
  SceneWindow.SetCursorVisible = [this](bool visible) {
    if (!TicksStepped) SetCursorVisible(visible);
  };
}

TMain::~TMain() {
  DoDestroy();
  SceneWindow = TSceneWindow();
}

void TMain::FormCreate() {
  GLScreen = new CGLScreen(Handle());
  GLScreen->Scale = float(Scale);
  StartScene(*this);
  SceneStarted();
  if (!TicksStepped) Timer1.SetEnabled(true);
}

void TMain::FormDestroy() {
  Timer1.SetEnabled(false);
  delete LuaHost;
  LuaHost = nullptr;
  delete GLScreen;
  GLScreen = nullptr;
}

void TMain::FormClick() {}

void TMain::FormResize() {
  // A minimised window has no client area; the scene keeps its place for when it comes back.
  if (ClientWidth <= 0 || ClientHeight <= 0) return;
  Scale = FittingScale(ClientWidth, ClientHeight);
  const int width = int(std::lround(LogicalScreenWidth * Scale));
  const int height = int(std::lround(LogicalScreenHeight * Scale));
  SceneArea.Left = (ClientWidth - width) / 2;
  SceneArea.Top = (ClientHeight - height) / 2;
  SceneArea.Width = width;
  SceneArea.Height = height;
  if (GLScreen == nullptr) return;
  // The frame clears the whole window black and draws into the scene's rectangle only.
  GLScreen->UpdateClientSize();
  GLScreen->SetSceneRect(SceneArea.Left, SceneArea.Top, width, height);
  GLScreen->Scale = float(Scale);
}

bool TMain::FormDesktopScaleChanged(double desktopScale, int* clientWidth,
                                    int* clientHeight) const {
  if (ScaleAsked > 0) return false;
  int workWidth = 0, workHeight = 0;
  if (!DesktopWorkArea(&workWidth, &workHeight)) workWidth = workHeight = 0;
  const double scale = ChooseScale(0, desktopScale, workWidth, workHeight);
  *clientWidth = int(std::lround(LogicalScreenWidth * scale));
  *clientHeight = int(std::lround(LogicalScreenHeight * scale));
  return true;
}

void TMain::Timer1Timer() {
  ReloadSceneWhenChanged();
  // A failed creation leaves the timer disabled, but a half-made pair must still never be used.
  if (GLScreen == nullptr || LuaHost == nullptr) return;
  // The time since the last tick that ran the scene: while a call waits for its message box,
  // ticks only draw and the scene's time stands still. The host caps what it takes of it.
  const auto now = std::chrono::steady_clock::now();
  const std::chrono::duration<double> elapsed = now - LastSceneTick;
  if (StepScene(elapsed.count())) LastSceneTick = now;
}

bool TMain::StepScene(double seconds) {
  if (GLScreen == nullptr || LuaHost == nullptr) return false;
  const bool ran = LuaHost->Tick(seconds);
  GLScreen->BeginFrame();
  LuaHost->DrawNodes();
  DrawStartErrorBand();
  GLScreen->EndFrame();
  // Nodes that moved under a still pointer are entered and left by the frame that moved them.
  LuaHost->PointerAfterFrame();
  return ran;
}

void TMain::SetTickInterval(unsigned ms) {
  if (Timer1.Interval == ms) return;
  Timer1.Interval = ms;
  // Started again, so that the new interval counts from now rather than after the tick already
  // scheduled; a timer never queues up ticks, whatever its interval.
  if (Timer1.Enabled() && !TicksStepped) {
    Timer1.SetEnabled(false);
    Timer1.SetEnabled(true);
  }
}

void TMain::SceneStarted() {
  LastSceneTick = std::chrono::steady_clock::now();
}

std::string MouseEventName(TMouseButton button, const char* action) {
  const char* word = "";
  switch (button) {
    case mbLeft:
      word = "Left";
      break;
    case mbRight:
      word = "Right";
      break;
    case mbMiddle:
      word = "Middle";
      break;
    default:
      break;
  }
  return std::string(word) + action;
}

void TMain::MouseEvent(TMouseButton button, const char* action, float x, float y) {
  if (LuaHost == nullptr) return;
  LuaHost->MouseEvent(TFloatPoint{x, y}, MouseEventName(button, action));
}

void TMain::FormMouseDown(TMouseButton button, float x, float y) {
  MouseEvent(button, "Press", x, y);
}

void TMain::FormMouseUp(TMouseButton button, float x, float y) {
  MouseEvent(button, "Release", x, y);
}

std::string WheelEventName(TWheelDirection direction) {
  switch (direction) {
    case wdUp:
      return "WheelUp";
    case wdDown:
      return "WheelDown";
    case wdLeft:
      return "WheelLeft";
    default:
      return "WheelRight";
  }
}

void TMain::FormMouseMove(float x, float y) {
  if (LuaHost == nullptr) return;
  LuaHost->PointerMoved(TFloatPoint{x, y});
}

void TMain::FormMouseLeave() {
  if (LuaHost == nullptr) return;
  LuaHost->PointerLeft();
}

void TMain::FormMouseWheel(TWheelDirection direction, float x, float y) {
  if (LuaHost == nullptr) return;
  LuaHost->WheelEvent(TFloatPoint{x, y}, WheelEventName(direction));
}

void TMain::FormKeyDown(const std::string& key, bool repeat) {
  if (LuaHost == nullptr) return;
  LuaHost->KeyEvent("KeyPress", key, repeat);
}

void TMain::FormKeyUp(const std::string& key) {
  if (LuaHost == nullptr) return;
  LuaHost->KeyEvent("KeyRelease", key, false);
}

void TMain::FormTextInput(const std::string& text) {
  if (LuaHost == nullptr) return;
  LuaHost->TextEvent(text);
}
