// The current context's back buffer read into memory.
#include "platform/BackBuffer.h"

#include <GL/gl.h>

#include <cstddef>

void ReadBackBuffer(int width, int height, std::vector<unsigned char>* rows) {
  GLint readBuffer = GL_BACK, alignment = 4;
  glGetIntegerv(GL_READ_BUFFER, &readBuffer);
  glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  rows->resize(static_cast<std::size_t>(width) * height * 3);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rows->data());
  glPixelStorei(GL_PACK_ALIGNMENT, alignment);
  glReadBuffer(static_cast<GLenum>(readBuffer));
}
