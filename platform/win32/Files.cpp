// Files and texts: the existence test, the code page's lower case and the system's error texts.
#include <algorithm>

#include "platform/Platform.h"

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string AnsiLowerCase(const std::string& text) {
  std::string result = text;
  // CharLowerBuffA maps by the current ANSI code page, as the system's own names are compared.
  size_t done = 0;
  while (done < result.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(result.size() - done, 0x7FFFFFFF));
    CharLowerBuffA(&result[done], chunk);
    done += chunk;
  }
  return result;
}

bool IsPathDelimiter(char c) {
  return c == '\\' || c == '/' || c == ':';
}

int64_t GetFileSize64(HANDLE file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return -1;
  return size.QuadPart;
}

std::string SysErrorMessage(DWORD code) {
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result;
  if (length && text) result.assign(text, length);
  if (text) LocalFree(text);
  while (!result.empty() &&
         (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
    result.pop_back();
  return result;
}
