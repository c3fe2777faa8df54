// Rendering contexts on a real X server: the requests CreateGLContext makes, the failures it
// reports, and what detection finds on the system's GL.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bind/Exceptions.h"
#include "bind/GLBind.h"

namespace {

using namespace GLBind;

bool WaitUntilVisible(TForm& form) {
  for (int i = 0; i < 2000 && !form.Visible(); ++i) Application->ProcessMessagesFor(5);
  return form.Visible();
}

// The pixel at (x, y) of the read buffer after clearing to the colour.
std::vector<GLubyte> ClearAndRead(float r, float g, float b, int x, int y) {
  glClearColor(r, g, b, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glFinish();
  std::vector<GLubyte> pixel(4);
  glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel.data());
  return pixel;
}

PIXELFORMATDESCRIPTOR FormatOf(HDC dc) {
  PIXELFORMATDESCRIPTOR described{};
  DescribePixelFormat(dc, GetPixelFormat(dc), sizeof described, &described);
  return described;
}

class GLContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Application->Initialize()) GTEST_SKIP() << "no X display";
    Reset();
    ASSERT_TRUE(LoadGLLibraries(GLLibraryName, GLULibraryName));
    dc = GetDC(form.Handle());
    ASSERT_NE(dc, nullptr);
  }
  void TearDown() override {
    if (dc) {
      DeactivateGLContext();
      for (HGLRC rc : contexts) GLBind::wglDeleteContext(rc);
      ReleaseDC(form.Handle(), dc);
    }
  }
  static void Reset() {
    for (const TEntryPoint& entry : EntryPointVariables()) entry.Set(nullptr);
    for (bool& flag : VersionFlags) flag = false;
    for (bool& flag : ExtensionFlags) flag = false;
  }
  HGLRC Create(HDC target, RenderingContextOptions options, int colorBits = 32, int depthBits = 32,
               int layer = 0) {
    HGLRC rc = CreateGLContext(target, options, colorBits, depthBits, 0, 0, 0, layer);
    if (rc) contexts.push_back(rc);
    return rc;
  }
  // The code and message of the EOSError that creation raises.
  DWORD CreationError(HDC target, RenderingContextOptions options, int layer,
                      std::string* message = nullptr) {
    try {
      Create(target, options, 32, 32, layer);
    } catch (const EOSError& error) {
      if (message) *message = error.what();
      return static_cast<DWORD>(error.ErrorCode);
    }
    ADD_FAILURE() << "nothing raised";
    return 0;
  }

  TForm form;
  HDC dc = nullptr;
  std::vector<HGLRC> contexts;
};

TEST_F(GLContextTest, TheScreenRequestGivesACurrentDoubleBufferedContext) {
  HGLRC rc = Create(dc, DoubleBuffer);
  ASSERT_NE(rc, nullptr);
  PIXELFORMATDESCRIPTOR chosen = FormatOf(dc);
  EXPECT_EQ(chosen.dwFlags & 0x25u, 0x25u);
  EXPECT_EQ(chosen.iPixelType, PFD_TYPE_RGBA);
  EXPECT_EQ(chosen.cColorBits, 32);
  EXPECT_EQ(chosen.cDepthBits, 32);
  EXPECT_EQ(glEnable, nullptr);

  ActivateGLContext(dc, rc, true);
  EXPECT_EQ(GLBind::wglGetCurrentContext(), rc);
  EXPECT_EQ(GLBind::wglGetCurrentDC(), dc);
  ASSERT_NE(glEnable, nullptr);
  ASSERT_NE(glReadPixels, nullptr);

  // The binding's own entry points draw: clear the back buffer and read it back.
  form.Show();
  ASSERT_TRUE(WaitUntilVisible(form));
  glViewport(0, 0, 800, 600);
  std::vector<GLubyte> pixel = ClearAndRead(1.0f, 0.0f, 0.0f, 400, 300);
  EXPECT_EQ(pixel, (std::vector<GLubyte>{255, 0, 0, 255}));
  EXPECT_EQ(glGetError(), GL_NO_ERROR);
  EXPECT_TRUE(SwapBuffers(dc));

  // The two names that stand in two groups hold what a single resolution gives.
  EXPECT_EQ(ProcAs<FARPROC>(glGetVertexAttribPointervARB),
            GetEntryPoint("glGetVertexAttribPointervARB"));
  EXPECT_EQ(ProcAs<FARPROC>(glImageTransformParameteriHP),
            GetEntryPoint("glImageTransformParameteriHP"));

  DeactivateGLContext();
  EXPECT_EQ(GLBind::wglGetCurrentContext(), nullptr);
  EXPECT_TRUE(VersionFlags[GLVersion4_0]) << "flags stay as they are";
  EXPECT_NE(glEnable, nullptr);
  EXPECT_NO_THROW(DeactivateGLContext()) << "with nothing current";
}

TEST_F(GLContextTest, DetectionOnTheSystemGL) {
  HGLRC rc = Create(dc, DoubleBuffer);
  ActivateGLContext(dc, rc, false);
  for (int i = GLVersion1_0; i <= GLVersion4_0; ++i) EXPECT_TRUE(VersionFlags[i]) << i;
  for (int i = GLUVersion1_1; i <= GLUVersion1_3; ++i) EXPECT_TRUE(VersionFlags[i]) << i;
  // Without resolution only what detection needs was looked up.
  EXPECT_NE(glGetString, nullptr);
  EXPECT_EQ(glEnable, nullptr);
  EXPECT_EQ(glActiveTextureARB, nullptr);

  // Every flag tells whether the implementation names the extension.
  std::set<std::string> advertised;
  std::istringstream words(reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)) +
                           std::string(" ") + wglGetExtensionsStringARB(dc));
  for (std::string word; words >> word;) advertised.insert(word);
  int set = 0;
  for (int i = 0; i < ExtensionCount; ++i) {
    EXPECT_EQ(ExtensionFlags[i], advertised.count(ExtensionNames[i]) == 1) << ExtensionNames[i];
    set += ExtensionFlags[i];
  }
  EXPECT_GT(set, 50);
  EXPECT_TRUE(ExtensionFlags[Ext_GL_ARB_multitexture]);
  EXPECT_TRUE(ExtensionFlags[Ext_GL_ARB_texture_non_power_of_two]);
  EXPECT_TRUE(ExtensionFlags[Ext_GL_ARB_framebuffer_object]);
  EXPECT_FALSE(ExtensionFlags[Ext_GL_3DFX_tbuffer]);
  std::cout << "[ info ] " << glGetString(GL_VERSION) << ": " << set << " of " << ExtensionCount
            << " extension flags set\n";

  ActivateGLContext(dc, rc, true);
  EXPECT_NE(glEnable, nullptr);
  EXPECT_NE(glActiveTextureARB, nullptr);
  EXPECT_NE(glGenFramebuffers, nullptr);
}

TEST_F(GLContextTest, AMemoryDeviceContextDrawsToItsBitmap) {
  HDC memory = CreateCompatibleDC(nullptr);
  ASSERT_NE(memory, nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(memory, 64, 32);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  HGLRC rc = Create(memory, 0, 32, 16);
  ASSERT_NE(rc, nullptr);
  EXPECT_TRUE(FormatOf(memory).dwFlags & PFD_DRAW_TO_BITMAP);
  ActivateGLContext(memory, rc, true);
  glReadBuffer(GL_FRONT);
  EXPECT_EQ(ClearAndRead(0.0f, 0.0f, 1.0f, 63, 31), (std::vector<GLubyte>{0, 0, 255, 255}));
  DeactivateGLContext();
  GLBind::wglDeleteContext(rc);
  contexts.clear();
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

TEST_F(GLContextTest, RequestsThatNothingMatchesRaiseTheSystemError) {
  std::string message;
  const RenderingContextOptions all = DoubleBuffer | GdiSupport | Stereo;
  EXPECT_EQ(CreationError(dc, all, 0, &message), ERROR_INVALID_PIXEL_FORMAT);
  EXPECT_EQ(message, "System Error.  Code: 2000.\n" + SysErrorMessage(ERROR_INVALID_PIXEL_FORMAT));
  EXPECT_EQ(CreationError(dc, DoubleBuffer, 5), ERROR_INVALID_PIXEL_FORMAT) << "no overlay plane";
  EXPECT_EQ(CreationError(dc, DoubleBuffer, -3), ERROR_INVALID_PIXEL_FORMAT) << "no underlay";
  EXPECT_EQ(GetPixelFormat(dc), 0) << "nothing was set on the device context";

  int bogus = 0;
  EXPECT_EQ(CreationError(reinterpret_cast<HDC>(&bogus), DoubleBuffer, 0, &message),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(message.rfind("System Error.  Code: 6.\n", 0), 0u) << message;
}

TEST_F(GLContextTest, CountsAreCheckedBeforeAnyPixelFormatCall) {
  EXPECT_THROW(Create(dc, DoubleBuffer, 256), ERangeError);
  EXPECT_THROW(Create(dc, DoubleBuffer, 32, -1), ERangeError);
  EXPECT_EQ(GetPixelFormat(dc), 0);
  HGLRC rc = nullptr;
  EXPECT_NO_THROW(rc = Create(dc, DoubleBuffer, 255)) << "255 is a valid count";
  EXPECT_NE(rc, nullptr);
}

TEST_F(GLContextTest, ASecondContextOnTheSameDeviceContext) {
  HGLRC first = Create(dc, DoubleBuffer);
  const int format = GetPixelFormat(dc);
  HGLRC second = Create(dc, DoubleBuffer);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  EXPECT_EQ(GetPixelFormat(dc), format);

  form.Show();
  ASSERT_TRUE(WaitUntilVisible(form));
  ActivateGLContext(dc, second, true);
  EXPECT_EQ(GLBind::wglGetCurrentContext(), second);
  EXPECT_EQ(ClearAndRead(0.0f, 1.0f, 0.0f, 10, 10), (std::vector<GLubyte>{0, 255, 0, 255}));
  ActivateGLContext(dc, first, true);
  EXPECT_EQ(GLBind::wglGetCurrentContext(), first);

  // A request that needs another format cannot change the one the window has.
  EXPECT_EQ(CreationError(dc, 0, 0), ERROR_INVALID_PIXEL_FORMAT);
  EXPECT_EQ(GetPixelFormat(dc), format);
}

TEST_F(GLContextTest, CreationLoadsTheLibrariesAndNeverCallsAMissingFunction) {
  // A library without GLBind::wglCreateContext stands in for the GL library: creation fails with
  // the system's error and leaves the window as it was.
  ASSERT_TRUE(LoadGLLibraries(GLULibraryName, GLULibraryName));
  EXPECT_EQ(CreationError(dc, DoubleBuffer, 0), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(GetPixelFormat(dc), 0);

  // With no GL library loaded, creation loads it first.
  EXPECT_FALSE(LoadGLLibraries("libkestrune-no-such-gl.so.1", "libkestrune-no-such-glu.so.1"));
  HGLRC rc = Create(dc, DoubleBuffer);
  EXPECT_NE(rc, nullptr);
  EXPECT_NE(GLLibraryHandle, nullptr);
  EXPECT_NE(gluGetString, nullptr);
}

}  // namespace
