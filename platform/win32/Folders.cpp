// Folders: the existence test and the working folder, through the wide-character functions.
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/Win32Backend.h"

using namespace win32backend;

bool FolderExists(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesW(WideFromText(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string WorkingFolder() {
  DWORD size = GetCurrentDirectoryW(0, nullptr);
  if (size == 0) return std::string();
  std::vector<wchar_t> buffer(size + 1);
  DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length == 0 || length >= buffer.size()) return std::string();
  std::string folder = Utf8FromWide(buffer.data(), length);
  if (folder.empty() || !IsPathDelimiter(folder.back())) folder += '\\';
  return folder;
}

bool SetWorkingFolder(const std::string& folder, std::string* reason) {
  if (SetCurrentDirectoryW(WideFromText(folder).c_str())) return true;
  if (reason != nullptr) *reason = SysErrorMessage(GetLastError());
  return false;
}
