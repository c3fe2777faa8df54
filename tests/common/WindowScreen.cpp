// The window-and-screen pair that drawing tests and benchmarks open.
#include "WindowScreen.h"

bool TWindowScreen::OpenScreen(int clientWidth, int clientHeight) {
  CloseScreen();
  if (!Application->Initialize()) return false;
  Form = std::make_unique<TForm>();
  Form->ClientWidth = clientWidth;
  Form->ClientHeight = clientHeight;
  Screen = std::make_unique<CGLScreen>(Form->Handle());
  GLScreen = Screen.get();
  return true;
}

void TWindowScreen::ShowWindow() {
  Form->Show();
  Application->ProcessMessages();
}

void TWindowScreen::CloseScreen() {
  if (GLScreen == Screen.get()) GLScreen = nullptr;
  Screen.reset();
  Form.reset();
}
