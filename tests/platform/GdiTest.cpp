// Pixel formats, device contexts and rendering contexts on a real X server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "PrivateXServer.h"
#include "platform/Platform.h"

namespace {

// GL entry points, resolved through the layer itself.
typedef unsigned int GLenum;
constexpr GLenum GL_COLOR_BUFFER_BIT = 0x4000;
constexpr GLenum GL_RGBA = 0x1908;
constexpr GLenum GL_UNSIGNED_BYTE = 0x1401;
constexpr GLenum GL_BACK = 0x0405;
constexpr GLenum GL_FRONT = 0x0404;
constexpr GLenum GL_VERSION = 0x1F02;

struct GL {
  HMODULE library = nullptr;
  HGLRC (*wglCreateContext)(HDC) = nullptr;
  BOOL (*wglMakeCurrent)(HDC, HGLRC) = nullptr;
  BOOL (*wglDeleteContext)(HGLRC) = nullptr;
  HGLRC (*wglGetCurrentContext)() = nullptr;
  HDC (*wglGetCurrentDC)() = nullptr;
  FARPROC (*wglGetProcAddress)(const char*) = nullptr;
  BOOL (*wglShareLists)(HGLRC, HGLRC) = nullptr;
  BOOL (*wglUseFontOutlinesA)(HDC, DWORD, DWORD, DWORD, float, float, int, void*) = nullptr;
  void (*glClearColor)(float, float, float, float) = nullptr;
  void (*glClear)(unsigned) = nullptr;
  void (*glFinish)() = nullptr;
  void (*glReadBuffer)(GLenum) = nullptr;
  void (*glReadPixels)(int, int, int, int, GLenum, GLenum, void*) = nullptr;
  const char* (*glGetString)(GLenum) = nullptr;

  template <typename F>
  void Get(F& slot, const char* name) {
    slot = reinterpret_cast<F>(GetProcAddress(library, name));
    ASSERT_NE(slot, nullptr) << name;
  }

  void Load() {
    library = LoadLibraryA(GLLibraryName);
    ASSERT_NE(library, nullptr);
    Get(wglCreateContext, "wglCreateContext");
    Get(wglMakeCurrent, "wglMakeCurrent");
    Get(wglDeleteContext, "wglDeleteContext");
    Get(wglGetCurrentContext, "wglGetCurrentContext");
    Get(wglGetCurrentDC, "wglGetCurrentDC");
    Get(wglGetProcAddress, "wglGetProcAddress");
    Get(wglShareLists, "wglShareLists");
    Get(wglUseFontOutlinesA, "wglUseFontOutlinesA");
    Get(glClearColor, "glClearColor");
    Get(glClear, "glClear");
    Get(glFinish, "glFinish");
    Get(glReadBuffer, "glReadBuffer");
    Get(glReadPixels, "glReadPixels");
    Get(glGetString, "glGetString");
  }

  // Clears to the colour and reads the pixel at (x, y) of the given buffer.
  std::vector<unsigned char> ClearAndRead(GLenum buffer, float r, float g, float b, int x = 0,
                                          int y = 0) {
    glClearColor(r, g, b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glFinish();
    glReadBuffer(buffer);
    std::vector<unsigned char> pixel(4);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel.data());
    return pixel;
  }
};

PIXELFORMATDESCRIPTOR Request(DWORD flags, BYTE colorBits, BYTE depthBits) {
  PIXELFORMATDESCRIPTOR pfd;
  std::memset(&pfd, 0, sizeof pfd);
  pfd.nSize = sizeof pfd;
  pfd.nVersion = 1;
  pfd.dwFlags = flags;
  pfd.iPixelType = PFD_TYPE_RGBA;
  pfd.cColorBits = colorBits;
  pfd.cDepthBits = depthBits;
  pfd.iLayerType = PFD_MAIN_PLANE;
  return pfd;
}

class GdiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testx::StartPrivateServer(); }
  void SetUp() override {
    if (!testx::HaveDisplay()) GTEST_SKIP() << "no X server";
    ASSERT_TRUE(Application->Initialize());
    gl.Load();
  }
  GL gl;
};

TEST_F(GdiTest, ScreenRequestOnWindowPicksDoubleBufferedFormatAndRenders) {
  TForm form;
  form.SetCaption("gdi window");
  HDC dc = GetDC(form.Handle());
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(GetObjectType(dc), OBJ_DC);
  RECT rect{};
  ASSERT_TRUE(GetClientRect(form.Handle(), &rect));
  EXPECT_EQ(rect.right - rect.left, 800);
  EXPECT_EQ(rect.bottom - rect.top, 600);

  PIXELFORMATDESCRIPTOR request =
      Request(PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW | PFD_DOUBLEBUFFER, 32, 32);
  int format = ChoosePixelFormat(dc, &request);
  ASSERT_GT(format, 0);
  PIXELFORMATDESCRIPTOR chosen;
  int count = DescribePixelFormat(dc, format, sizeof chosen, &chosen);
  EXPECT_GE(count, format);
  EXPECT_TRUE(chosen.dwFlags & PFD_DOUBLEBUFFER);
  EXPECT_TRUE(chosen.dwFlags & PFD_DRAW_TO_WINDOW);
  EXPECT_TRUE(chosen.dwFlags & PFD_SUPPORT_OPENGL);
  EXPECT_EQ(chosen.cDepthBits, 32);
  EXPECT_EQ(chosen.cColorBits, 32);
  EXPECT_EQ(chosen.iPixelType, PFD_TYPE_RGBA);

  EXPECT_EQ(GetPixelFormat(dc), 0);
  ASSERT_TRUE(SetPixelFormat(dc, format, &chosen));
  EXPECT_EQ(GetPixelFormat(dc), format);
  // The drawable keeps its first format.
  EXPECT_TRUE(SetPixelFormat(dc, format, &chosen));
  int other = format == 1 ? 2 : format - 1;
  SetLastError(0);
  EXPECT_FALSE(SetPixelFormat(dc, other, &chosen));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PIXEL_FORMAT);
  EXPECT_EQ(GetPixelFormat(dc), format);

  EXPECT_EQ(gl.wglGetProcAddress("glGenBuffers"), nullptr) << "no context is current yet";
  HGLRC rc = gl.wglCreateContext(dc);
  ASSERT_NE(rc, nullptr);
  ASSERT_TRUE(gl.wglMakeCurrent(dc, rc));
  EXPECT_EQ(gl.wglGetCurrentContext(), rc);
  EXPECT_EQ(gl.wglGetCurrentDC(), dc);
  ASSERT_NE(gl.glGetString(GL_VERSION), nullptr);

  form.Show();
  testx::PumpUntil([&] { return form.Visible(); });
  std::vector<unsigned char> pixel = gl.ClearAndRead(GL_BACK, 1.0f, 0.0f, 0.0f, 400, 300);
  EXPECT_EQ(pixel[0], 255);
  EXPECT_EQ(pixel[1], 0);
  EXPECT_EQ(pixel[2], 0);
  EXPECT_TRUE(SwapBuffers(dc));

  auto getExtensions =
      reinterpret_cast<const char* (*)(HDC)>(gl.wglGetProcAddress("wglGetExtensionsStringARB"));
  ASSERT_NE(getExtensions, nullptr);
  EXPECT_NE(std::string(getExtensions(dc)).find("GLX_"), std::string::npos);
  EXPECT_NE(gl.wglGetProcAddress("wglGetExtensionsStringEXT"), nullptr);
  EXPECT_NE(gl.wglGetProcAddress("glGenBuffers"), nullptr);
  EXPECT_EQ(gl.wglGetProcAddress("wglSwapIntervalEXT"), nullptr);

  // A second context on the same drawable works; deleting the current one releases it.
  HGLRC second = gl.wglCreateContext(dc);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(gl.wglShareLists(rc, second));
  EXPECT_TRUE(gl.wglDeleteContext(second));
  EXPECT_TRUE(gl.wglMakeCurrent(nullptr, nullptr));
  EXPECT_EQ(gl.wglGetCurrentContext(), nullptr);
  EXPECT_EQ(gl.wglGetProcAddress("glGenBuffers"), nullptr);
  EXPECT_TRUE(gl.wglDeleteContext(rc));
  EXPECT_FALSE(gl.wglDeleteContext(rc));
  EXPECT_EQ(ReleaseDC(form.Handle(), dc), 1);
}

TEST_F(GdiTest, RequestsThatNothingMatchesAndBadHandlesFailWithCodes) {
  TForm form;
  HDC dc = GetDC(form.Handle());
  PIXELFORMATDESCRIPTOR stereo =
      Request(PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW | PFD_STEREO, 32, 24);
  EXPECT_EQ(ChoosePixelFormat(dc, &stereo), 0);
  PIXELFORMATDESCRIPTOR overlay = Request(PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW, 32, 24);
  overlay.iLayerType = PFD_OVERLAY_PLANE;
  EXPECT_EQ(ChoosePixelFormat(dc, &overlay), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PIXEL_FORMAT);
  EXPECT_FALSE(SysErrorMessage(ERROR_INVALID_PIXEL_FORMAT).empty());

  // A format that cannot draw to a window is refused on a window.
  PIXELFORMATDESCRIPTOR bitmap = Request(PFD_SUPPORT_OPENGL | PFD_DRAW_TO_BITMAP, 24, 0);
  int bitmapFormat = ChoosePixelFormat(dc, &bitmap);
  ASSERT_GT(bitmapFormat, 0);
  PIXELFORMATDESCRIPTOR described;
  DescribePixelFormat(dc, bitmapFormat, sizeof described, &described);
  if (!(described.dwFlags & PFD_DRAW_TO_WINDOW)) {
    EXPECT_FALSE(SetPixelFormat(dc, bitmapFormat, &described));
  }
  EXPECT_EQ(DescribePixelFormat(dc, 0, sizeof described, &described), 0);

  // Without a pixel format there is no context.
  EXPECT_EQ(gl.wglCreateContext(dc), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PIXEL_FORMAT);

  int bogus = 0;
  HDC invalid = reinterpret_cast<HDC>(&bogus);
  EXPECT_EQ(GetObjectType(invalid), 0);
  EXPECT_EQ(GetObjectType(nullptr), 0);
  EXPECT_EQ(ChoosePixelFormat(invalid, &bitmap), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(gl.wglCreateContext(invalid), nullptr);
  EXPECT_FALSE(gl.wglMakeCurrent(invalid, reinterpret_cast<HGLRC>(&bogus)));
  EXPECT_EQ(GetDC(reinterpret_cast<HWND>(&bogus)), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(gl.wglUseFontOutlinesA(dc, 0, 1, 0, 0, 0, 0, nullptr));
}

TEST_F(GdiTest, MemoryDeviceContextRendersIntoItsBitmap) {
  HDC memory = CreateCompatibleDC(nullptr);
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(GetObjectType(memory), OBJ_MEMDC);
  HBITMAP bitmap = CreateCompatibleBitmap(memory, 64, 32);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(GetObjectType(bitmap), OBJ_BITMAP);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  ASSERT_NE(previous, nullptr);

  PIXELFORMATDESCRIPTOR request = Request(PFD_SUPPORT_OPENGL | PFD_DRAW_TO_BITMAP, 32, 16);
  int format = ChoosePixelFormat(memory, &request);
  ASSERT_GT(format, 0);
  PIXELFORMATDESCRIPTOR chosen;
  DescribePixelFormat(memory, format, sizeof chosen, &chosen);
  EXPECT_TRUE(chosen.dwFlags & PFD_DRAW_TO_BITMAP);
  EXPECT_FALSE(chosen.dwFlags & PFD_DOUBLEBUFFER);
  ASSERT_TRUE(SetPixelFormat(memory, format, &chosen));
  HGLRC rc = gl.wglCreateContext(memory);
  ASSERT_NE(rc, nullptr);
  ASSERT_TRUE(gl.wglMakeCurrent(memory, rc));
  std::vector<unsigned char> pixel = gl.ClearAndRead(GL_FRONT, 0.0f, 0.0f, 1.0f, 63, 31);
  EXPECT_EQ(pixel[0], 0);
  EXPECT_EQ(pixel[1], 0);
  EXPECT_EQ(pixel[2], 255);
  EXPECT_TRUE(gl.wglMakeCurrent(nullptr, nullptr));
  EXPECT_TRUE(gl.wglDeleteContext(rc));

  EXPECT_FALSE(DeleteObject(bitmap)) << "still selected";
  EXPECT_EQ(SelectObject(memory, previous), bitmap);
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_TRUE(DeleteDC(memory));
  EXPECT_EQ(GetObjectType(memory), 0);
}

}  // namespace
