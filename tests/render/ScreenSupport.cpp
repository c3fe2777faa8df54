#include "ScreenSupport.h"

TBoxRecorder::TBoxRecorder() {
  SetMessageBoxHook([this](const std::string& text, const std::string& caption) {
    Boxes.emplace_back(text, caption);
    if (OnBox) OnBox();
    return IDOK;
  });
}

TBoxRecorder::~TBoxRecorder() {
  SetMessageBoxHook(MessageBoxHook());
}

void ScreenTest::OpenScreen(int clientWidth, int clientHeight) {
  Screen.reset();
  Form.reset();
  if (!Application->Initialize()) GTEST_SKIP() << "no X display";
  Form = std::make_unique<TForm>();
  Form->ClientWidth = clientWidth;
  Form->ClientHeight = clientHeight;
  Screen = std::make_unique<CGLScreen>(Form->Handle());
}

void ScreenTest::TearDown() {
  Screen.reset();
  Form.reset();
}
