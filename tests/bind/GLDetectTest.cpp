// Loading the libraries, resolving names, and detection on strings the tests hand in. None of
// this needs a display: the GL library resolves its exported names without a context.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "bind/Exceptions.h"
#include "bind/GLBind.h"
#include "render/Graph_un.h"

namespace {

using namespace GLBind;

// The strings the fake entry points answer with.
const char* fakeVersion = "";
const char* fakeExtensions = "";
const char* fakeGluVersion = "";
const char* fakeWglExt = "";
const char* fakeWglArb = "";
HDC fakeCurrentDC = reinterpret_cast<HDC>(0x1234);
HDC dcAskedFor = nullptr;
int makeCurrentCalls = 0;

const GLubyte* APIENTRY FakeGetString(GLenum name) {
  const char* text = name == GL_VERSION ? fakeVersion : name == GL_EXTENSIONS ? fakeExtensions : "";
  return reinterpret_cast<const GLubyte*>(text);
}
const GLubyte* APIENTRY NullGetString(GLenum) {
  return nullptr;
}
const GLubyte* APIENTRY FakeGluGetString(GLenum name) {
  return reinterpret_cast<const GLubyte*>(name == GLU_VERSION ? fakeGluVersion : "");
}
const char* APIENTRY FakeWglExt() {
  return fakeWglExt;
}
const char* APIENTRY FakeWglArb(HDC dc) {
  dcAskedFor = dc;
  return fakeWglArb;
}
HDC APIENTRY FakeCurrentDC() {
  return fakeCurrentDC;
}
// A driver that answers names it does not have with small numbers or -1 instead of null.
FARPROC APIENTRY SentinelGetProcAddress(const char* name) {
  const intptr_t answers[] = {1, 2, 3, -1, 0x1000};
  return reinterpret_cast<FARPROC>(answers[std::strlen(name) % 5]);
}

BOOL APIENTRY CountingMakeCurrent(HDC, HGLRC) {
  ++makeCurrentCalls;
  return TRUE;
}

bool AllNull() {
  for (const TEntryPoint& entry : EntryPointVariables())
    if (entry.Value()) return false;
  return true;
}

const TEntryPointGroup& GroupOf(TEntryPointGroupKind kind) {
  for (const TEntryPointGroup& group : EntryPointGroups())
    if (group.Kind == kind) return group;
  return EntryPointGroups().front();
}

int Resolved(const TEntryPointGroup& group) {
  int count = 0;
  for (int i = 0; i < group.Count; ++i) count += group.Members[i].Value() != nullptr;
  return count;
}

// Every test starts from a process as it was before any loading.
class GLBindTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    if (GLLibraryHandle) FreeLibrary(GLLibraryHandle);
    if (GLULibraryHandle) FreeLibrary(GLULibraryHandle);
    GLLibraryHandle = GLULibraryHandle = nullptr;
    for (const TEntryPoint& entry : EntryPointVariables()) entry.Set(nullptr);
    for (bool& flag : VersionFlags) flag = false;
    for (bool& flag : ExtensionFlags) flag = false;
  }
  static void UseFakes() {
    glGetString = &FakeGetString;
    wglGetExtensionsStringEXT = &FakeWglExt;
    wglGetExtensionsStringARB = &FakeWglArb;
    GLBind::wglGetCurrentDC = &FakeCurrentDC;
  }
};

TEST_F(GLBindTest, LoadingResolvesTheWglBaseAndGluGroupsOnly) {
  ASSERT_TRUE(LoadGLLibraries(GLLibraryName, GLULibraryName));
  EXPECT_NE(GLLibraryHandle, nullptr);
  EXPECT_NE(GLULibraryHandle, nullptr);
  EXPECT_EQ(Resolved(GroupOf(TEntryPointGroupKind::WglBase)), 21);
  EXPECT_EQ(Resolved(GroupOf(TEntryPointGroupKind::Glu)), 51);
  EXPECT_EQ(ProcAs<FARPROC>(wglUseFontBitmaps), ProcAs<FARPROC>(GLBind::wglUseFontBitmapsA));
  EXPECT_EQ(glEnable, nullptr) << "core names wait for LoadEntryPoints";

  // Names the library exports resolve before any context exists (this GL library exports
  // nearly every name, extensions included); the others go to wglGetProcAddress, which has
  // nothing to say without a current context.
  EXPECT_NE(GetEntryPoint("glEnable"), nullptr);
  EXPECT_NE(GetEntryPoint("gluBuild2DMipmaps", GLULibraryHandle), nullptr);
  EXPECT_EQ(GetEntryPoint("glDrawRangeElementsWIN"), nullptr);
  EXPECT_EQ(GetEntryPoint("wglSwapIntervalEXT"), nullptr);

  LoadCoreEntryPoints();
  EXPECT_EQ(ProcAs<FARPROC>(glEnable), GetEntryPoint("glEnable"));
  EXPECT_NE(glVertex3f, nullptr);
  // A resolution writes whatever the lookup gives, null included.
  glDrawRangeElementsWIN = reinterpret_cast<GLProc>(&FakeWglExt);
  LoadEntryPoints();
  EXPECT_EQ(glDrawRangeElementsWIN, nullptr);
}

TEST_F(GLBindTest, MissingLibrariesLeaveTheirGroupsEmpty) {
  EXPECT_FALSE(LoadGLLibraries("libkestrune-no-such-gl.so.1", "libkestrune-no-such-glu.so.1"));
  EXPECT_EQ(GLLibraryHandle, nullptr);
  EXPECT_EQ(GLULibraryHandle, nullptr);
  EXPECT_TRUE(AllNull());

  // The GLU library alone still binds its own group; nothing else is there.
  EXPECT_FALSE(LoadGLLibraries("libkestrune-no-such-gl.so.1", GLULibraryName));
  EXPECT_EQ(Resolved(GroupOf(TEntryPointGroupKind::Glu)), 51);
  EXPECT_EQ(Resolved(GroupOf(TEntryPointGroupKind::WglBase)), 0);

  // A missing GLU library is not reported, and its group stays empty.
  EXPECT_TRUE(LoadGLLibraries(GLLibraryName, "libkestrune-no-such-glu.so.1"));
  EXPECT_EQ(GLULibraryHandle, nullptr);
  EXPECT_EQ(Resolved(GroupOf(TEntryPointGroupKind::WglBase)), 21);
  EXPECT_EQ(Resolved(GroupOf(TEntryPointGroupKind::Glu)), 0);
  int others = 0;
  for (const TEntryPointGroup& group : EntryPointGroups())
    if (group.Kind != TEntryPointGroupKind::WglBase) others += Resolved(group);
  EXPECT_EQ(others, 0);
}

TEST_F(GLBindTest, LoadingAgainLeavesNoAddressIntoAReleasedLibrary) {
  ASSERT_TRUE(LoadGLLibraries(GLLibraryName, GLULibraryName));
  LoadCoreEntryPoints();
  ASSERT_NE(glEnable, nullptr);
  ASSERT_NE(gluGetString, nullptr);

  EXPECT_FALSE(LoadGLLibraries("libkestrune-no-such-gl.so.1", "libkestrune-no-such-glu.so.1"));
  EXPECT_TRUE(AllNull());

  // And a good load after that binds as the first one did.
  ASSERT_TRUE(LoadGLLibraries(GLLibraryName, GLULibraryName));
  EXPECT_EQ(Resolved(GroupOf(TEntryPointGroupKind::WglBase)), 21);
  EXPECT_EQ(Resolved(GroupOf(TEntryPointGroupKind::Glu)), 51);
}

TEST_F(GLBindTest, SentinelAddressesOfTheDriverCountAsMissing) {
  GLBind::wglGetProcAddress = &SentinelGetProcAddress;
  // Names of lengths 1 to 5 are answered 2, 3, -1, 0x1000 and 1 (no library is loaded).
  EXPECT_EQ(GetEntryPoint("a"), nullptr);
  EXPECT_EQ(GetEntryPoint("ab"), nullptr);
  EXPECT_EQ(GetEntryPoint("abc"), nullptr);
  EXPECT_EQ(reinterpret_cast<intptr_t>(GetEntryPoint("abcd")), 0x1000);
  EXPECT_EQ(GetEntryPoint("abcde"), nullptr);
}

TEST_F(GLBindTest, ExtensionStringFramesEveryPart) {
  ASSERT_TRUE(LoadGLLibraries(GLLibraryName, GLULibraryName));
  UseFakes();
  fakeExtensions = "P Q";
  fakeWglExt = "R";
  fakeWglArb = "R S";
  const std::string extensions = GetExtensionString();
  EXPECT_EQ(extensions, " P Q R R S ");
  EXPECT_EQ(dcAskedFor, fakeCurrentDC) << "the ARB string is asked for the current DC";
  for (const char* name : {"P", "Q", "R", "S"}) EXPECT_TRUE(HasExtension(extensions, name));
  EXPECT_FALSE(HasExtension(extensions, "PQ"));
  EXPECT_FALSE(HasExtension(extensions, "P Q R S"));
  EXPECT_FALSE(HasExtension(extensions, nullptr));

  // Without the GL library only the GL part counts.
  FreeLibrary(GLLibraryHandle);
  GLLibraryHandle = nullptr;
  EXPECT_EQ(GetExtensionString(), " P Q ");

  // Null texts count as empty, and without glGetString there is nothing but the framing.
  glGetString = &NullGetString;
  EXPECT_EQ(GetExtensionString(), "  ");
  glGetString = nullptr;
  EXPECT_EQ(GetExtensionString(), "  ");
}

TEST_F(GLBindTest, ExtensionNamesMatchOnlyAsWholeTokens) {
  EXPECT_FALSE(HasExtension(" GL_EXT_texture3D ", "GL_EXT_texture"));
  EXPECT_TRUE(HasExtension(" GL_EXT_texture3D GL_EXT_texture ", "GL_EXT_texture"));
  EXPECT_TRUE(HasExtension(" GL_EXT_texture3D GL_EXT_texture ", "GL_EXT_texture3D"));
  EXPECT_FALSE(HasExtension(" gl_ext_texture ", "GL_EXT_texture")) << "case counts";
  EXPECT_FALSE(HasExtension(" GL_A\tGL_EXT_texture\n", "GL_EXT_texture"))
      << "only single spaces separate names";
}

TEST_F(GLBindTest, ParseVersionString) {
  struct Case {
    const char* text;
    int major, minor;
  } cases[] = {
      {"4.0.0 NVIDIA 195.36", 4, 0},
      {"2.1.2", 2, 1},
      {"OpenGL 12.3", 12, 3},
      {"1.10", 1, 1},
      {"4.5 (Compatibility Profile) Mesa 22.3.6", 4, 5},
      {"3", 0, 0},
      {".5", 0, 0},
      {"a.1", 0, 0},
      {"1.", 0, 0},
      {"", 0, 0},
      {"2147483647.1", 2147483647, 1},
      {"2147483648.1", 0, 0},
      {"99999999999999999999999.9", 0, 0},
      {"x 1.a 2.3", 0, 0},
  };
  for (const Case& c : cases) {
    int major = -1, minor = -1;
    ParseVersionString(c.text, major, minor);
    EXPECT_EQ(major, c.major) << '"' << c.text << '"';
    EXPECT_EQ(minor, c.minor) << '"' << c.text << '"';
  }
  int major = -1, minor = -1;
  ParseVersionString(nullptr, major, minor);
  EXPECT_EQ(major, 0);
  EXPECT_EQ(minor, 0);
}

// The version flags set, as a string of 0 and 1 from GL 1.0 to GL 4.0.
std::string GLFlags() {
  std::string flags;
  for (int i = GLVersion1_0; i <= GLVersion4_0; ++i) flags += VersionFlags[i] ? '1' : '0';
  return flags;
}

std::string GLUFlags() {
  std::string flags;
  for (int i = GLUVersion1_1; i <= GLUVersion1_3; ++i) flags += VersionFlags[i] ? '1' : '0';
  return flags;
}

TEST_F(GLBindTest, VersionFlagsFollowTheVersionText) {
  glGetString = &FakeGetString;
  struct Case {
    const char* text;
    const char* flags;  // 1.0 1.1 1.2 1.3 1.4 1.5 2.0 2.1 3.0 3.1 3.2 3.3 4.0
  } cases[] = {
      {"1.5.0", "1111110000000"}, {"1.10", "1100000000000"}, {"1.2", "1110000000000"},
      {"2.0", "1111111000000"},   {"2.1", "1111111100000"},  {"3.0", "1111111110000"},
      {"3.3.0", "1111111111110"}, {"4.1", "1111111111111"},  {"5.0", "1111111111111"},
      {"", "1000000000000"},      {"0.9", "1000000000000"},  {"abc", "1000000000000"},
  };
  for (const Case& c : cases) {
    fakeVersion = c.text;
    // Every run starts from scratch: stale flags from a higher version must go.
    for (bool& flag : VersionFlags) flag = true;
    gluGetString = nullptr;
    ReadVersionFlags();
    EXPECT_EQ(GLFlags(), c.flags) << '"' << c.text << '"';
    EXPECT_EQ(GLUFlags(), "000") << "no GLU without gluGetString";
  }
}

TEST_F(GLBindTest, GluFlagsFollowTheGluVersion) {
  glGetString = &FakeGetString;
  gluGetString = &FakeGluGetString;
  fakeVersion = "1.1";
  struct Case {
    const char* text;
    const char* flags;
  } cases[] = {{"1.2.2", "110"}, {"1.3", "111"}, {"1.1", "100"}, {"unknown", "100"}, {"", "100"}};
  for (const Case& c : cases) {
    fakeGluVersion = c.text;
    ReadVersionFlags();
    EXPECT_EQ(GLUFlags(), c.flags) << '"' << c.text << '"';
  }
}

TEST_F(GLBindTest, DetectionWithoutGetStringSetsOnlyGL10) {
  for (bool& flag : ExtensionFlags) flag = true;
  DetectVersionAndExtensions();
  EXPECT_EQ(GLFlags(), "1000000000000");
  for (int i = 0; i < ExtensionCount; ++i) EXPECT_FALSE(ExtensionFlags[i]) << ExtensionNames[i];
}

TEST_F(GLBindTest, DetectionSetsTheFlagsOfTheNamesFound) {
  ASSERT_TRUE(LoadGLLibraries(GLLibraryName, GLULibraryName));
  UseFakes();
  fakeVersion = "2.1 Mesa";
  fakeExtensions = "GL_ARB_multitexture GL_EXT_texture3D GL_NV_fence";
  fakeWglExt = "WGL_EXT_swap_control";
  fakeWglArb = "WGL_ARB_extensions_string WIN_swap_hint";
  DetectVersionAndExtensions();
  EXPECT_EQ(GLFlags(), "1111111100000");
  EXPECT_EQ(GLUFlags(), "111") << "the real GLU library answers 1.3";
  int set = 0;
  for (bool flag : ExtensionFlags) set += flag;
  EXPECT_EQ(set, 6);
  EXPECT_TRUE(ExtensionFlags[Ext_GL_ARB_multitexture]);
  EXPECT_TRUE(ExtensionFlags[Ext_GL_EXT_texture3D]);
  EXPECT_FALSE(ExtensionFlags[Ext_GL_EXT_texture]);
  EXPECT_TRUE(ExtensionFlags[Ext_GL_NV_fence]);
  EXPECT_TRUE(ExtensionFlags[Ext_WGL_EXT_swap_control]);
  EXPECT_TRUE(ExtensionFlags[Ext_WGL_ARB_extensions_string]);
  EXPECT_TRUE(ExtensionFlags[Ext_WIN_swap_hint]);

  // Detection again reads everything afresh.
  fakeExtensions = "";
  fakeWglExt = "";
  fakeWglArb = "";
  DetectVersionAndExtensions();
  for (bool flag : ExtensionFlags) EXPECT_FALSE(flag);
}

TEST_F(GLBindTest, ActivationChecksBothHandlesBeforeAnything) {
  GLBind::wglMakeCurrent = &CountingMakeCurrent;
  makeCurrentCalls = 0;
  HDC dc = reinterpret_cast<HDC>(0x10);
  HGLRC rc = reinterpret_cast<HGLRC>(0x20);
  auto message = [](HDC d, HGLRC r) {
    try {
      ActivateGLContext(d, r, true);
    } catch (const EAssertionFailed& error) {
      return std::string(error.what());
    }
    return std::string("nothing raised");
  };
  const std::string both = message(nullptr, nullptr);
  EXPECT_EQ(both.rfind("DC must not be 0 (", 0), 0u) << both;
  EXPECT_NE(both.find(" (GLContext.cpp, line "), std::string::npos) << both;
  EXPECT_EQ(both.back(), ')');
  EXPECT_EQ(message(nullptr, rc).rfind("DC must not be 0 (", 0), 0u);
  const std::string noRC = message(dc, nullptr);
  EXPECT_EQ(noRC.rfind("RC must not be 0 (", 0), 0u) << noRC;
  EXPECT_NE(noRC.find("GLContext.cpp, line "), std::string::npos) << noRC;
  EXPECT_EQ(makeCurrentCalls, 0);
}

TEST_F(GLBindTest, CreationWithoutTheContextFunctionFailsBeforeTouchingTheDC) {
  // A library that is not the GL library loads, but offers no wglCreateContext.
  ASSERT_TRUE(LoadGLLibraries(GLULibraryName, GLULibraryName));
  ASSERT_EQ(GLBind::wglCreateContext, nullptr);
  try {
    CreateGLContext(nullptr, DoubleBuffer, 32, 32, 0, 0, 0, 0);
    FAIL() << "nothing raised";
  } catch (const EOSError& error) {
    EXPECT_EQ(error.ErrorCode, ERROR_PROC_NOT_FOUND) << "reported before the DC is looked at";
    EXPECT_EQ(std::string(error.what()).rfind("System Error.  Code: 127.\n", 0), 0u)
        << error.what();
  }
  EXPECT_NO_THROW(DeactivateGLContext()) << "with no wglMakeCurrent either";
}

TEST_F(GLBindTest, PixelFormatRequests) {
  PIXELFORMATDESCRIPTOR screen =
      BuildPixelFormatDescriptor(OBJ_DC, DoubleBuffer, ScreenColorBits, ScreenDepthBits,
                                 ScreenStencilBits, ScreenAccumBits, ScreenAuxBuffers, ScreenLayer);
  EXPECT_EQ(screen.nSize, 40);
  EXPECT_EQ(screen.nVersion, 1);
  EXPECT_EQ(screen.dwFlags, 0x25u);
  EXPECT_EQ(screen.iPixelType, PFD_TYPE_RGBA);
  EXPECT_EQ(screen.cColorBits, 32);
  EXPECT_EQ(screen.cDepthBits, 32);
  EXPECT_EQ(screen.iLayerType, PFD_MAIN_PLANE);
  // Everything else stays zero.
  PIXELFORMATDESCRIPTOR rest = screen;
  rest.nSize = rest.nVersion = 0;
  rest.dwFlags = 0;
  rest.cColorBits = rest.cDepthBits = 0;
  const PIXELFORMATDESCRIPTOR zero{};
  EXPECT_EQ(std::memcmp(&rest, &zero, sizeof zero), 0);

  EXPECT_EQ(BuildPixelFormatDescriptor(OBJ_MEMDC, DoubleBuffer, 32, 32, 0, 0, 0, 0).dwFlags, 0x29u);
  EXPECT_EQ(BuildPixelFormatDescriptor(OBJ_METADC, 0, 32, 32, 0, 0, 0, 0).dwFlags, 0x28u);
  EXPECT_EQ(BuildPixelFormatDescriptor(OBJ_ENHMETADC, 0, 32, 32, 0, 0, 0, 0).dwFlags, 0x28u);
  EXPECT_EQ(BuildPixelFormatDescriptor(OBJ_BITMAP, 0, 32, 32, 0, 0, 0, 0).dwFlags, 0x24u)
      << "any other kind draws to a window";
  const RenderingContextOptions all = DoubleBuffer | GdiSupport | Stereo;
  EXPECT_EQ(BuildPixelFormatDescriptor(OBJ_DC, all, 32, 32, 0, 0, 0, 0).dwFlags, 0x24u | 0x13u);
  EXPECT_EQ(BuildPixelFormatDescriptor(OBJ_DC, Stereo, 32, 32, 0, 0, 0, 0).dwFlags, 0x26u);
  EXPECT_EQ(BuildPixelFormatDescriptor(OBJ_DC, GdiSupport, 32, 32, 0, 0, 0, 0).dwFlags, 0x34u);

  PIXELFORMATDESCRIPTOR counts = BuildPixelFormatDescriptor(OBJ_DC, 0, 1, 2, 3, 4, 5, 0);
  EXPECT_EQ(counts.cColorBits, 1);
  EXPECT_EQ(counts.cDepthBits, 2);
  EXPECT_EQ(counts.cStencilBits, 3);
  EXPECT_EQ(counts.cAccumBits, 4);
  EXPECT_EQ(counts.cAuxBuffers, 5);
  EXPECT_EQ(BuildPixelFormatDescriptor(OBJ_DC, 0, 32, 32, 0, 0, 0, 5).iLayerType, 1);
  EXPECT_EQ(BuildPixelFormatDescriptor(OBJ_DC, 0, 32, 32, 0, 0, 0, -3).iLayerType, 0xFF);
  EXPECT_EQ(BuildPixelFormatDescriptor(OBJ_DC, 0, 255, 255, 255, 255, 255, 0).cAuxBuffers, 255);
  for (int field = 0; field < 5; ++field) {
    for (int bad : {256, -1}) {
      int values[5] = {32, 32, 0, 0, 0};
      values[field] = bad;
      try {
        BuildPixelFormatDescriptor(OBJ_DC, 0, values[0], values[1], values[2], values[3], values[4],
                                   0);
        ADD_FAILURE() << "field " << field << " took " << bad;
      } catch (const ERangeError& error) {
        EXPECT_STREQ(error.what(), "Range check error");
      }
    }
  }
}

}  // namespace
