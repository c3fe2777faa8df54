// The frame's pixels for tests and screenshots: read from a form's off-screen buffer without a
// display, and in a window from the copy of the back buffer kept before each swap (the front
// buffer holds what the window system let through: nothing of a covered or unmapped window).
#include <algorithm>

#include "platform/BackBuffer.h"
#include "platform/Platform.h"
#include "platform/linux/X11Backend.h"

namespace xbackend {

void KeepFrameBeforeSwap(TForm::Native* window, GLXDrawable drawable) {
  if (!window->keepFrames || CurrentDrawable() != drawable) return;
  const int width = window->form->ClientWidth, height = window->form->ClientHeight;
  if (width <= 0 || height <= 0) return;
  ReadBackBuffer(width, height, &window->frame);
  window->frameWidth = width;
  window->frameHeight = height;
}

}  // namespace xbackend

using namespace xbackend;

bool ReadFramePixels(TForm& form, std::vector<unsigned char>* rgb) {
  rgb->clear();
  TForm::Native* native = form.NativeData();
  if (!native) return false;
  std::vector<unsigned char> bottomUp;
  int width = 0, height = 0;
  if (Headless()) {
    if (!ReadHeadlessFrame(native, &bottomUp, &width, &height)) return false;
  } else {
    native->keepFrames = true;
    bottomUp = native->frame;
    width = native->frameWidth;
    height = native->frameHeight;
  }
  // A frame of another size than the client area's is not the frame of this client area.
  if (bottomUp.empty() || width != form.ClientWidth || height != form.ClientHeight) return false;
  const size_t row = static_cast<size_t>(width) * 3;
  rgb->resize(bottomUp.size());
  for (int y = 0; y < height; ++y)
    std::copy_n(bottomUp.data() + (height - 1 - y) * row, row, rgb->data() + y * row);
  return true;
}
