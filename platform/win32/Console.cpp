// Standard output and error of a program with a window of its own, which the system starts
// without a console: the handles it inherited when its output was redirected, else the console
// of the program that started it, else (--console) one of its own. Lines are handed to the
// output queue's thread; to a console they go as UTF-16 of their readable text, whatever the
// console's code page, to pipes and files as the script's bytes, with the system's line breaks.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/OutputQueue.h"
#include "platform/Platform.h"
#include "platform/win32/Win32Backend.h"
// After <windows.h>, which they need.
#include <shellapi.h>
using namespace win32backend;

namespace {

// Set before the first line is queued, read by the queue's thread afterwards.
HANDLE outputHandle = nullptr;
HANDLE errorHandle = nullptr;
// The thread whose windows the console's close closes.
DWORD windowThread = 0;

bool Usable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

void WriteLine(HANDLE handle, const std::string& text) {
  if (handle == nullptr) return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    const std::wstring wide = ReadableWide(text) + L"\n";
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
    if (!WriteFile(handle, line.data() + at, count, &written, nullptr)) return;
    // A pipe its owner set not to wait takes nothing while it is full: the rest of the line
    // follows when there is room, so a reader never gets half of it.
    if (written == 0) Sleep(10);
    at += written;
  }
}

BOOL CALLBACK CloseMainWindow(HWND window, LPARAM) {
  wchar_t name[64];
  if (GetClassNameW(window, name, 64) == 0 || std::wstring(name) != kFormClassName) return TRUE;
  PostMessageW(window, WM_CLOSE, 0, 0);
  return FALSE;
}

// Runs on a thread of the system's. Ctrl+C and Ctrl+Break typed in the console go to every
// program attached to it: they are meant for the shell at its prompt, not for the scene.
// Closing the console closes the main window as its close button does; the system ends the
// process once this returns (or a few seconds after the close whatever happens), so it waits
// for the program's own end, which ends this thread too.
BOOL WINAPI ConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return TRUE;
    case CTRL_CLOSE_EVENT:
      EnumThreadWindows(windowThread, CloseMainWindow, 0);
      Sleep(INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

// The C library connected its streams when the program started, before there was a console:
// Lua's io.write and io.stderr:write go through them.
void ConnectCStream(FILE* stream) {
  if (std::freopen("CONOUT$", "w", stream) == nullptr) return;
  // Unbuffered, as print's lines are: a script's io.write shows when it is written.
  std::setvbuf(stream, nullptr, _IONBF, 0);
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
  // Attaching or opening a console resets the handlers of its control events.
  windowThread = GetCurrentThreadId();
  SetConsoleCtrlHandler(ConsoleControl, TRUE);
  if (console == INVALID_HANDLE_VALUE) return;
  if (outputHandle == nullptr) {
    outputHandle = console;
    SetStdHandle(STD_OUTPUT_HANDLE, console);
    ConnectCStream(stdout);
  }
  if (errorHandle == nullptr) {
    errorHandle = console;
    SetStdHandle(STD_ERROR_HANDLE, console);
    // The framework's last words (a box that can no longer be shown) go there as well.
    ConnectCStream(stderr);
  }
}

void outputqueue::SendLine(outputqueue::TStream stream, const std::string& text) {
  if (stream == outputqueue::kError)
    WriteLine(errorHandle != nullptr ? errorHandle : GetStdHandle(STD_ERROR_HANDLE), text);
  else
    WriteLine(outputHandle != nullptr ? outputHandle : GetStdHandle(STD_OUTPUT_HANDLE), text);
}

bool StandardOutputConnected() {
  return outputHandle != nullptr || Usable(GetStdHandle(STD_OUTPUT_HANDLE));
}

bool StandardErrorConnected() {
  return errorHandle != nullptr || Usable(GetStdHandle(STD_ERROR_HANDLE));
}
