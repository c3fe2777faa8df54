// The form framework's shared half: the registries, the rules for ticks, the mouse, the keyboard
// and message boxes, and the parts of the timer, form and application classes that no window
// system changes.
#include "platform/FormFramework.h"

#include <algorithm>
#include <cstdio>

namespace formframework {

std::vector<TTimer*>& Timers() {
  static std::vector<TTimer*> timers;
  return timers;
}

std::set<TTimer*>& TimersRunning() {
  static std::set<TTimer*> running;
  return running;
}

std::vector<TForm*>& Forms() {
  static std::vector<TForm*> forms;
  return forms;
}

std::set<TForm*>& FormsGoing() {
  static std::set<TForm*> going;
  return going;
}

bool TimerLive(TTimer* timer) {
  return std::find(Timers().begin(), Timers().end(), timer) != Timers().end();
}

bool FormLive(TForm* form) {
  return !FormsGoing().count(form);
}

void FireTimer(TTimer* timer) {
  if (!TimerLive(timer) || !timer->Enabled() || TimersRunning().count(timer)) return;
  if (!timer->OnTimer) return;
  TimersRunning().insert(timer);
  Application->SafeCall(timer->OnTimer);
  TimersRunning().erase(timer);
}

namespace {

// The scene's rectangle, with the whole client area standing in for one that was never set.
TForm::TSceneArea SceneOf(const TForm& form) {
  TForm::TSceneArea area = form.SceneArea;
  if (area.Width > 0 && area.Height > 0) return area;
  area = TForm::TSceneArea();
  area.Width = form.ClientWidth;
  area.Height = form.ClientHeight;
  area.LogicalWidth = float(form.ClientWidth);
  area.LogicalHeight = float(form.ClientHeight);
  return area;
}

}  // namespace

void SceneUnits(const TForm& form, int x, int y, float* logicalX, float* logicalY) {
  const TForm::TSceneArea area = SceneOf(form);
  // In double, so that a whole scale's positions (multiples of 1/8 of a unit at most) come out
  // exact, and one unit per pixel gives the pixel's own number.
  *logicalX = float(double(x - area.Left) * area.LogicalWidth / area.Width);
  *logicalY = float(double(y - area.Top) * area.LogicalHeight / area.Height);
}

bool InsideScene(const TForm& form, int x, int y) {
  const TForm::TSceneArea area = SceneOf(form);
  return x >= area.Left && y >= area.Top && x < area.Left + area.Width &&
         y < area.Top + area.Height;
}

namespace {

void SetCapture(TForm* form, bool capture) {
  TForm::Input& input = form->InputData();
  input.leftCaptured = capture;
  if (form->HandleAllocated()) CaptureNative(form->NativeData(), capture);
}

}  // namespace

void MouseButtonDown(TForm* form, TMouseButton button, int x, int y) {
  if (!FormLive(form)) return;
  const bool inside = InsideScene(*form, x, y);
  // Only a left press over the scene captures the pointer. A left press outside arrives
  // only while another button holds the pointer, and it ends any capture whose release the
  // window system lost.
  if (button == mbLeft) SetCapture(form, inside);
  if (!inside) return;
  float logicalX = 0, logicalY = 0;
  SceneUnits(*form, x, y, &logicalX, &logicalY);
  if (form->OnMouseDown)
    Application->SafeCall([&] { form->OnMouseDown(button, logicalX, logicalY); });
}

void MouseButtonUp(TForm* form, TMouseButton button, int x, int y) {
  if (!FormLive(form)) return;
  const bool inside = InsideScene(*form, x, y);
  const bool captured = button == mbLeft && form->InputData().leftCaptured;
  if (button == mbLeft) SetCapture(form, false);
  // A release outside whose press this form never heard is not ours.
  if (!inside && !captured) return;
  if (captured && inside && form->OnClick) Application->SafeCall(form->OnClick);
  float logicalX = 0, logicalY = 0;
  SceneUnits(*form, x, y, &logicalX, &logicalY);
  if (FormLive(form) && form->OnMouseUp)
    Application->SafeCall([&] { form->OnMouseUp(button, logicalX, logicalY); });
  // The pointer was followed outside until now.
  if (!inside) MouseLeft(form);
}

void MouseCaptureLost(TForm* form) {
  form->InputData().leftCaptured = false;
}

void MouseMoved(TForm* form, int x, int y) {
  if (!FormLive(form)) return;
  TForm::Input& input = form->InputData();
  if (!InsideScene(*form, x, y) && !input.leftCaptured) {
    MouseLeft(form);
    return;
  }
  // The window system may report one place twice (coming in, then moving there).
  if (input.pointerIn && x == input.pointerX && y == input.pointerY) return;
  input.pointerIn = true;
  input.pointerX = x;
  input.pointerY = y;
  SceneUnits(*form, x, y, &input.logicalX, &input.logicalY);
  const float logicalX = input.logicalX, logicalY = input.logicalY;
  if (form->OnMouseMove) Application->SafeCall([&] { form->OnMouseMove(logicalX, logicalY); });
}

void MouseLeft(TForm* form) {
  if (!FormLive(form)) return;
  TForm::Input& input = form->InputData();
  if (input.leftCaptured || !input.pointerIn) return;
  input.pointerIn = false;
  if (form->OnMouseLeave) Application->SafeCall(form->OnMouseLeave);
}

void MouseWheel(TForm* form, TWheelDirection direction, int x, int y) {
  if (!FormLive(form) || !InsideScene(*form, x, y)) return;
  float logicalX = 0, logicalY = 0;
  SceneUnits(*form, x, y, &logicalX, &logicalY);
  if (form->OnMouseWheel)
    Application->SafeCall([&] { form->OnMouseWheel(direction, logicalX, logicalY); });
}

void KeyDown(TForm* form, unsigned code, const std::string& name, bool wasDown) {
  if (!FormLive(form)) return;
  auto& held = form->InputData().heldKeys;
  bool repeat = false;
  for (const auto& key : held) repeat = repeat || key.first == code;
  if (!repeat) held.emplace_back(code, name);
  repeat = repeat && wasDown;
  if (form->OnKeyDown) Application->SafeCall([&] { form->OnKeyDown(name, repeat); });
}

void KeyUp(TForm* form, unsigned code) {
  if (!FormLive(form)) return;
  auto& held = form->InputData().heldKeys;
  for (auto key = held.begin(); key != held.end(); ++key) {
    if (key->first != code) continue;
    // Named as it was when it went down, whatever the layout is now.
    const std::string name = key->second;
    held.erase(key);
    if (form->OnKeyUp) Application->SafeCall([&] { form->OnKeyUp(name); });
    return;
  }
}

void TextTyped(TForm* form, const std::string& text) {
  if (!FormLive(form)) return;
  // Backspace, Return, Tab and Escape (and what else is no text) come only as keys.
  std::string printable;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) continue;
    // The C1 controls, U+0080 to U+009F, are C2 80 to C2 9F in UTF-8.
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      ++i;
      continue;
    }
    printable += text[i];
  }
  if (printable.empty()) return;
  if (form->OnTextInput) Application->SafeCall([&] { form->OnTextInput(printable); });
}

void KeyboardLost(TForm* form) {
  if (!FormLive(form)) return;
  // Latest first, as fingers come off; a handler may loop messages meanwhile.
  std::vector<unsigned> codes;
  for (const auto& key : form->InputData().heldKeys) codes.insert(codes.begin(), key.first);
  for (unsigned code : codes) KeyUp(form, code);
}

std::string CharacterText(uint32_t character) {
  if (character < 0x20 || (character >= 0x7F && character <= 0x9F)) return std::string();
  if ((character >= 0xD800 && character <= 0xDFFF) || character > 0x10FFFF) return std::string();
  std::string text;
  if (character < 0x80) {
    text += static_cast<char>(character);
  } else if (character < 0x800) {
    text += static_cast<char>(0xC0 | (character >> 6));
    text += static_cast<char>(0x80 | (character & 0x3F));
  } else if (character < 0x10000) {
    text += static_cast<char>(0xE0 | (character >> 12));
    text += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (character & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (character >> 18));
    text += static_cast<char>(0x80 | ((character >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (character & 0x3F));
  }
  return text;
}

namespace {
MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}
}  // namespace

int ShowMessageBox(const std::string& text, const std::string& caption) {
  if (Hook()) return Hook()(text, caption);
  // The user asked the program to end while a script was still running: a box now would keep
  // it open, so the text goes where the user can still find it. A run without a window system
  // has nobody to answer a box.
  if (Application->Terminated() || Application->Headless()) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    return IDOK;
  }
  return NativeMessageBox(text, caption);
}

}  // namespace formframework

using namespace formframework;

void SetMessageBoxHook(MessageBoxHook hook) {
  formframework::Hook() = std::move(hook);
}

int HookedMessageBoxA(HWND /*owner*/, const char* text, const char* caption, UINT /*type*/) {
  return ShowMessageBox(text ? text : "", caption ? caption : "Error");
}

TTimer::TTimer(TForm* owner) : owner_(owner) {
  Timers().push_back(this);
}

TTimer::~TTimer() {
  if (enabled_) StopTimerNative(this);
  Timers().erase(std::remove(Timers().begin(), Timers().end(), this), Timers().end());
  TimersRunning().erase(this);
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (enabled)
    StartTimerNative(this);
  else
    StopTimerNative(this);
}

TForm::TForm() : input_(std::make_unique<Input>()) {}

TForm::~TForm() {
  DoDestroy();
  Forms().erase(std::remove(Forms().begin(), Forms().end(), this), Forms().end());
  FormsGoing().erase(this);
  if (!handle_) return;
  Native* native = handle_;
  handle_ = nullptr;
  DestroyNative(native);
}

std::string TForm::Caption() const {
  return caption_;
}

void TForm::SetCaption(const std::string& caption) {
  caption_ = caption;
  if (handle_) CaptionNative(handle_, caption_);
}

bool TForm::PointerPosition(float* x, float* y) const {
  if (!input_->pointerIn) return false;
  *x = input_->logicalX;
  *y = input_->logicalY;
  return true;
}

void TForm::DoCreate() {
  if (OnCreate) OnCreate();
}

void TForm::DoDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  // From here on the form gets no tick and no mouse event, even if OnDestroy opens a box.
  FormsGoing().insert(this);
  for (TTimer* timer : Timers())
    if (timer->Owner() == this) timer->SetEnabled(false);
  if (OnDestroy) OnDestroy();
}

void TForm::Close() {
  if (Application->MainForm() == this) {
    Application->Terminate();
    return;
  }
  if (handle_) HideNative(handle_);
}

namespace {
TApplication application;
}
TApplication* Application = &application;

TApplication::TApplication() {}

TApplication::~TApplication() {}

void TApplication::AddForm(TForm* form) {
  Forms().push_back(form);
  if (!mainForm_) mainForm_ = form;
}

void TApplication::RunCreate(TForm* form) {
  SafeCall([form] { form->DoCreate(); });
}

void TApplication::Run() {
  if (!mainForm_) return;
  SafeCall([this] { mainForm_->Show(); });
  // Without a window there is nothing that could ever end the loop.
  if (!mainForm_->Visible()) {
    terminated_ = true;
    return;
  }
  while (!terminated_)
    if (!WaitAndDispatch()) terminated_ = true;
}

void TApplication::Terminate() {
  terminated_ = true;
  WakeForQuit();
}

void TApplication::DestroyForms() {
  std::vector<TForm*> order(Forms().rbegin(), Forms().rend());
  if (mainForm_) {
    order.erase(std::remove(order.begin(), order.end(), mainForm_), order.end());
    order.push_back(mainForm_);
  }
  for (TForm* form : order) {
    SafeCall([form] { form->DoDestroy(); });
    delete form;
  }
  Forms().clear();
  // Ready for another round (tests build several main forms in one process).
  mainForm_ = nullptr;
  terminated_ = false;
  WithdrawQuit();
}

void TApplication::ShowException(const std::exception& error) {
  MessageBoxA(nullptr, error.what(), "Kestrune", MB_OK);
}

void TApplication::SafeCall(const std::function<void()>& handler) {
  if (!handler) return;
  try {
    handler();
  } catch (const std::exception& error) {
    try {
      ShowException(error);
    } catch (...) {
      std::fprintf(stderr, "kestrune: %s\n", error.what());
    }
  } catch (...) {
    try {
      MessageBoxA(nullptr, "An unexpected error occurred.", "Kestrune", MB_OK);
    } catch (...) {
      std::fprintf(stderr, "kestrune: an unexpected error occurred\n");
    }
  }
}
