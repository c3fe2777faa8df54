// Standard output and error of a program with a window of its own, which the system starts
// without a console: the handles it inherited when its output was redirected, else the console
// of the program that started it, else (--console) one of its own. Text is UTF-8 throughout:
// to a console it goes as UTF-16, whatever the console's code page; to pipes and files as
// UTF-8 bytes, with the system's line breaks.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/Win32Backend.h"
// After <windows.h>, which it needs.
#include <shellapi.h>

using namespace win32backend;

namespace {

HANDLE outputHandle = nullptr;
HANDLE errorHandle = nullptr;

bool Usable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

void WriteLine(HANDLE handle, const std::string& text) {
  if (handle == nullptr) return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    const std::wstring wide = WideFromText(text) + L"\n";
    // In pieces: older consoles refuse a single write of more than 64 KiB.
    constexpr size_t kPiece = 8192;
    for (size_t at = 0; at < wide.size();) {
      DWORD written = 0;
      const DWORD count = static_cast<DWORD>(std::min(kPiece, wide.size() - at));
      if (!WriteConsoleW(handle, wide.data() + at, count, &written, nullptr) || written == 0)
        return;
      at += written;
    }
    return;
  }
  const std::string line = text + "\r\n";
  for (size_t at = 0; at < line.size();) {
    DWORD written = 0;
    const DWORD count = static_cast<DWORD>(line.size() - at);
    // A pipe without a reader or a full disk: the line is dropped.
    if (!WriteFile(handle, line.data() + at, count, &written, nullptr) || written == 0) return;
    at += written;
  }
}

}  // namespace

std::vector<std::string> ProgramArguments(int /*argc*/, char** /*argv*/) {
  std::vector<std::string> arguments;
  const std::vector<std::wstring> wide = SplitCommandLine(GetCommandLineW());
  for (size_t i = 1; i < wide.size(); ++i) arguments.push_back(Utf8FromWide(wide[i]));
  return arguments;
}

void StartConsole(bool openOwn) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  outputHandle = Usable(output) ? output : nullptr;
  errorHandle = Usable(error) ? error : nullptr;
  if (outputHandle != nullptr && errorHandle != nullptr) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS) && !(openOwn && AllocConsole())) return;
  HANDLE console =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return;
  if (outputHandle == nullptr) {
    outputHandle = console;
    SetStdHandle(STD_OUTPUT_HANDLE, console);
  }
  if (errorHandle == nullptr) {
    errorHandle = console;
    SetStdHandle(STD_ERROR_HANDLE, console);
    // The C library's stderr was set up before there was a console; the framework's last
    // words (a box that can no longer be shown) go there.
    FILE* reopened = std::freopen("CONOUT$", "w", stderr);
    (void)reopened;
  }
}

void WriteOutputLine(const std::string& text) {
  WriteLine(outputHandle != nullptr ? outputHandle : GetStdHandle(STD_OUTPUT_HANDLE), text);
}

void WriteErrorLine(const std::string& text) {
  WriteLine(errorHandle != nullptr ? errorHandle : GetStdHandle(STD_ERROR_HANDLE), text);
}

bool StandardOutputConnected() {
  return outputHandle != nullptr || Usable(GetStdHandle(STD_OUTPUT_HANDLE));
}

bool StandardErrorConnected() {
  return errorHandle != nullptr || Usable(GetStdHandle(STD_ERROR_HANDLE));
}
