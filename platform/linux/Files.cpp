// Files: the existence test, the program's own path and a read-only file handle that reports
// short reads.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "platform/Platform.h"
#include "platform/linux/X11Backend.h"

namespace {

struct FileObject {
  int fd = -1;
};

std::set<FileObject*>& OpenFiles() {
  static std::set<FileObject*> files;
  return files;
}

FileObject* FindFile(HANDLE handle) {
  auto* file = static_cast<FileObject*>(handle);
  return OpenFiles().count(file) ? file : nullptr;
}

DWORD CodeOfErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return xbackend::ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

}  // namespace

DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) {
  if (!buffer || size == 0) {
    SetLastError(xbackend::ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::string path;
  if (!module) {
    char target[4096];
    ssize_t length = readlink("/proc/self/exe", target, sizeof target - 1);
    if (length <= 0) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      buffer[0] = '\0';
      return 0;
    }
    path.assign(target, static_cast<size_t>(length));
  } else {
    link_map* map = nullptr;
    if (dlinfo(reinterpret_cast<void*>(module), RTLD_DI_LINKMAP, &map) != 0 || !map ||
        !map->l_name) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      buffer[0] = '\0';
      return 0;
    }
    path = map->l_name;
  }
  // As on Windows: a path that does not fit is cut, terminated, and reported as the full size.
  if (path.size() >= size) {
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(xbackend::ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0;
}

std::string AnsiLowerCase(const std::string& text) {
  std::string result = text;
  for (char& c : result)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return result;
}

bool IsPathDelimiter(char c) {
  return c == '/';
}

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD /*shareMode*/,
                   void* /*securityAttributes*/, DWORD creationDisposition,
                   DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/) {
  // Only what the loaders need: reading an existing file.
  if (!fileName || desiredAccess != GENERIC_READ || creationDisposition != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (!*fileName) {
    SetLastError(xbackend::ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  int fd = open(fileName, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(CodeOfErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    // A folder opens on Linux but never as a file on Windows.
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  auto* file = new FileObject;
  file->fd = fd;
  OpenFiles().insert(file);
  SetLastError(ERROR_SUCCESS);
  return file;
}

BOOL ReadFile(HANDLE handle, void* buffer, DWORD toRead, DWORD* read, void* /*overlapped*/) {
  if (read) *read = 0;
  FileObject* file = FindFile(handle);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!buffer && toRead > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD total = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (total < toRead) {
    ssize_t got = ::read(file->fd, bytes + total, toRead - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      if (read) *read = total;
      SetLastError(CodeOfErrno(errno));
      return FALSE;
    }
    if (got == 0) break;  // end of file: success with what arrived
    total += static_cast<DWORD>(got);
  }
  if (read) *read = total;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

int64_t GetFileSize64(HANDLE handle) {
  FileObject* file = FindFile(handle);
  struct stat info;
  if (!file || fstat(file->fd, &info) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  return static_cast<int64_t>(info.st_size);
}

BOOL CloseHandle(HANDLE handle) {
  FileObject* file = FindFile(handle);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  OpenFiles().erase(file);
  close(file->fd);
  delete file;
  return TRUE;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* reason) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (reason != nullptr) *reason = std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (reason != nullptr) *reason = std::strerror(errno);
      close(fd);
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  if (close(fd) != 0) {
    if (reason != nullptr) *reason = std::strerror(errno);
    return false;
  }
  return true;
}

std::vector<std::string> FilesInFolder(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return names;
  std::string base = folder;
  if (!base.empty() && base.back() != '/') base += '/';
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (FileExists(base + name)) names.push_back(name);
  }
  closedir(dir);
  return names;
}

bool RemoveFile(const std::string& path) {
  return unlink(path.c_str()) == 0;
}
