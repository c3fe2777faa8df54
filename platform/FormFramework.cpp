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

}  // namespace formframework

using namespace formframework;

TTimer::TTimer(TForm* owner) : owner_(owner) {
  Timers().push_back(this);
}

TForm::TForm() {}

TForm::~TForm() {
  DoDestroy();
  Forms().erase(std::remove(Forms().begin(), Forms().end(), this), Forms().end());
  FormsGoing().erase(this);
  if (!handle_) return;
  Native* native = handle_;
  handle_ = nullptr;
  DestroyNative(native);
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
