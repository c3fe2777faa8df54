// Files and texts: the existence test, opening files, the program's own path, lower case and the
// system's error texts, all through the wide-character functions.
#include <algorithm>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/Win32Backend.h"

using namespace win32backend;

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesW(WideFromText(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string& path) {
  return !path.empty() && GetFileAttributesW(WideFromText(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

HANDLE Utf8CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                       LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                       DWORD flagsAndAttributes, HANDLE templateFile) {
  if (!fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW(WideFromText(fileName).c_str(), desiredAccess, shareMode, securityAttributes,
                     creationDisposition, flagsAndAttributes, templateFile);
}

DWORD Utf8GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) {
  if (!buffer || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // Long paths are allowed: the buffer grows until the whole path fits.
  std::vector<wchar_t> wide(MAX_PATH);
  DWORD length = 0;
  for (;;) {
    length = GetModuleFileNameW(module, wide.data(), static_cast<DWORD>(wide.size()));
    if (length == 0) {
      buffer[0] = '\0';
      return 0;
    }
    if (length < wide.size()) break;
    wide.resize(wide.size() * 2);
  }
  std::string path = Utf8FromWide(wide.data(), length);
  // As the system does: a path that does not fit is cut, terminated, and reported as the size.
  if (path.size() >= size) {
    std::copy(path.begin(), path.begin() + (size - 1), buffer);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::copy(path.begin(), path.end(), buffer);
  buffer[path.size()] = '\0';
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

std::string AnsiLowerCase(const std::string& text) {
  // The system's case mapping applies to characters, never to the bytes of a multi-byte one.
  // Text that is no UTF-8 keeps its code page.
  const bool utf8 = IsUtf8(text);
  std::wstring wide = WideFromText(text);
  if (wide.empty()) return text;
  CharLowerBuffW(&wide[0], static_cast<DWORD>(wide.size()));
  if (utf8) return Utf8FromWide(wide);
  const UINT codePage = LegacyCodePage();
  const int size = static_cast<int>(wide.size());
  int bytes = WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return text;
  std::string lower(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), size, &lower[0], bytes, nullptr, nullptr);
  return lower;
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
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string result;
  if (length && text) result = Utf8FromWide(text, length);
  if (text) LocalFree(text);
  while (!result.empty() &&
         (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
    result.pop_back();
  return result;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* reason) {
  HANDLE file = ::CreateFileW(WideFromText(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (reason != nullptr) *reason = SysErrorMessage(GetLastError());
    return false;
  }
  size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD wrote = 0;
    ok = WriteFile(file, bytes.data() + done, chunk, &wrote, nullptr) && wrote > 0;
    done += wrote;
  }
  if (!ok && reason != nullptr) *reason = SysErrorMessage(GetLastError());
  if (!::CloseHandle(file) && ok) {
    if (reason != nullptr) *reason = SysErrorMessage(GetLastError());
    ok = false;
  }
  return ok;
}

std::vector<std::string> FilesInFolder(const std::string& folder) {
  std::vector<std::string> names;
  std::string pattern = folder.empty() ? std::string(".") : folder;
  if (!IsPathDelimiter(pattern.back())) pattern += '\\';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(WideFromText(pattern + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    names.push_back(Utf8FromWide(found.cFileName));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileW(WideFromText(path).c_str()) != 0;
}
