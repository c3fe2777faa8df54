// The message-box recorder of the screen tests.
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
