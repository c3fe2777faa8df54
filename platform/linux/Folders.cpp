// Folders: the existence test and the working folder.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/Platform.h"

bool FolderExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string WorkingFolder() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  std::string folder = buffer.data();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

bool SetWorkingFolder(const std::string& folder, std::string* reason) {
  if (chdir(folder.c_str()) == 0) return true;
  if (reason != nullptr) *reason = std::strerror(errno);
  return false;
}
