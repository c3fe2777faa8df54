// Files, libraries, error texts and the floating-point word: everything that needs no display.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "ScratchFolder.h"
#include "platform/Platform.h"

namespace {

TEST(FilesTest, FileExistsCountsOnlyFiles) {
  testfs::ScratchFolder folder("kestrune-platform-");
  std::string file = folder.Write("a.lua", "x");
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(folder.Path()));
  EXPECT_FALSE(FileExists(folder.Path() + "/"));
  EXPECT_FALSE(FileExists(folder.Path() + "/missing.lua"));
  EXPECT_FALSE(FileExists(""));
}

TEST(FilesTest, LowerCasingTouchesAsciiLettersOnly) {
  EXPECT_EQ(AnsiLowerCase("DATA/Tex.BMP"), "data/tex.bmp");
  // "ÄÖÜ.JPG" in UTF-8: the multi-byte letters stay byte for byte.
  EXPECT_EQ(AnsiLowerCase("\xC3\x84\xC3\x96\xC3\x9C.JPG"), "\xC3\x84\xC3\x96\xC3\x9C.jpg");
  EXPECT_EQ(AnsiLowerCase(std::string("A\0B", 3)), std::string("a\0b", 3));
  EXPECT_TRUE(IsPathDelimiter('/'));
  EXPECT_FALSE(IsPathDelimiter('\\'));
  EXPECT_FALSE(IsPathDelimiter(':'));
}

TEST(FilesTest, ReadingReportsShortReadsAndSize) {
  testfs::ScratchFolder folder("kestrune-platform-");
  std::string file = folder.Write("data.bin", "0123456789");
  HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize64(handle), 10);
  char buffer[16] = {};
  DWORD read = 99;
  ASSERT_TRUE(ReadFile(handle, buffer, 4, &read, nullptr));
  EXPECT_EQ(read, 4u);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  ASSERT_TRUE(ReadFile(handle, buffer, 16, &read, nullptr));
  EXPECT_EQ(read, 6u) << "a read past the end reports what arrived";
  EXPECT_EQ(std::string(buffer, 6), "456789");
  ASSERT_TRUE(ReadFile(handle, buffer, 16, &read, nullptr));
  EXPECT_EQ(read, 0u);
  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_FALSE(CloseHandle(handle));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReadFile(handle, buffer, 1, &read, nullptr));
  EXPECT_EQ(GetFileSize64(handle), -1);
}

TEST(FilesTest, OpeningFailuresCarryCodes) {
  testfs::ScratchFolder folder("kestrune-platform-");
  std::string missing = folder.Path() + "/missing.bmp";
  EXPECT_EQ(CreateFileA(missing.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CreateFileA(folder.Path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE)
      << "a folder is not a file";
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(FilesTest, ModuleFileNameIsTheRunningProgram) {
  char buffer[1024];
  DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  ASSERT_GT(length, 0u);
  std::string path(buffer, length);
  EXPECT_EQ(path, std::string(KESTRUNE_BINARY_DIR) + "/platform_files_test");
  EXPECT_TRUE(FileExists(path));
  // Too small a buffer: cut and terminated, never overrun.
  char small[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, 5), 5u);
  EXPECT_EQ(std::string(small), path.substr(0, 4));
  EXPECT_EQ(small[5], 'x');
}

TEST(FilesTest, LibrariesLoadAndResolveByName) {
  HMODULE libm = LoadLibraryA("libm.so.6");
  ASSERT_NE(libm, nullptr);
  auto cosine = reinterpret_cast<double (*)(double)>(GetProcAddress(libm, "cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(GetProcAddress(libm, "no_such_function_here"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(GetProcAddress(libm, "wglCreateContext"), nullptr) << "only the GL library has them";
  EXPECT_TRUE(FreeLibrary(libm));

  EXPECT_EQ(LoadLibraryA("libkestrune-does-not-exist.so"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  int bogus = 0;
  EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(&bogus)));
  EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(&bogus), "cos"), nullptr);

  EXPECT_EQ(LuaLibraryDefaultName[0], '/');
  EXPECT_TRUE(FileExists(LuaLibraryDefaultName));
}

TEST(FilesTest, GLLibraryAnswersTheWglBaseNames) {
  HMODULE gl = LoadLibraryA(GLLibraryName);
  ASSERT_NE(gl, nullptr);
  const char* names[] = {
      "wglCopyContext",     "wglCreateLayerContext",     "wglCreateContext",
      "wglDeleteContext",   "wglDescribeLayerPlane",     "wglGetCurrentContext",
      "wglGetCurrentDC",    "wglGetLayerPaletteEntries", "wglGetProcAddress",
      "wglMakeCurrent",     "wglRealizeLayerPalette",    "wglSetLayerPaletteEntries",
      "wglShareLists",      "wglSwapLayerBuffers",       "wglSwapMultipleBuffers",
      "wglUseFontBitmapsA", "wglUseFontOutlinesA",       "wglUseFontBitmapsW",
      "wglUseFontOutlinesW"};
  for (const char* name : names) EXPECT_NE(GetProcAddress(gl, name), nullptr) << name;
  EXPECT_NE(GetProcAddress(gl, "glClear"), nullptr);
  EXPECT_EQ(GetProcAddress(gl, "wglNoSuchFunction"), nullptr);
  EXPECT_EQ(GetProcAddress(gl, "wglGetExtensionsStringARB"), nullptr)
      << "an extension: only through wglGetProcAddress";
  // Without a current context there is nothing to ask.
  auto getProc =
      reinterpret_cast<FARPROC (*)(const char*)>(GetProcAddress(gl, "wglGetProcAddress"));
  EXPECT_EQ(getProc("glGenBuffers"), nullptr);
  auto current = reinterpret_cast<HGLRC (*)()>(GetProcAddress(gl, "wglGetCurrentContext"));
  EXPECT_EQ(current(), nullptr);

  HMODULE glu = LoadLibraryA(GLULibraryName);
  ASSERT_NE(glu, nullptr);
  EXPECT_NE(GetProcAddress(glu, "gluBuild2DMipmaps"), nullptr);
  EXPECT_EQ(GetProcAddress(glu, "wglCreateContext"), nullptr);
}

TEST(FilesTest, ErrorTextsHaveNoTrailingLineBreak) {
  for (DWORD code :
       {ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE,
        ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_PARAMETER, ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND,
        ERROR_INVALID_PIXEL_FORMAT, ERROR_INVALID_WINDOW_HANDLE}) {
    std::string text = SysErrorMessage(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_NE(text.back(), '\n');
  }
  EXPECT_EQ(SysErrorMessage(987654), "");
  SetLastError(ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(FilesTest, MaskedFloatingPointGivesInfinitiesAndNaNs) {
  Set8087CW(0x133F);
  volatile double zero = 0.0, big = 1e308;
  EXPECT_TRUE(std::isinf(1.0 / zero));
  EXPECT_TRUE(std::isinf(big * 10.0));
  EXPECT_TRUE(std::isnan(zero / zero));
  volatile long double extended = 1.0L / static_cast<long double>(zero);  // the x87 unit
  EXPECT_TRUE(std::isinf(static_cast<double>(extended)));
}

TEST(FilesTest, NoDisplayIsReportedNotFatal) {
  // Run in a child so this process keeps its environment.
  std::string command =
      "env -u DISPLAY " + std::string(KESTRUNE_BINARY_DIR) +
      "/platform_files_test --gtest_filter=FilesTest.DISABLED_InitializeWithoutDisplay "
      "--gtest_also_run_disabled_tests 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[512];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  EXPECT_EQ(pclose(pipe), 0) << output;
  EXPECT_NE(output.find("kestrune: cannot open display"), std::string::npos) << output;
}

// Run only by the test above, in a child process without $DISPLAY.
TEST(FilesTest, DISABLED_InitializeWithoutDisplay) {
  EXPECT_FALSE(Application->Initialize());
  // A message box without a display goes to stderr instead.
  EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), IDOK);
  TForm form;
  EXPECT_THROW(form.Handle(), std::runtime_error);
}

}  // namespace
