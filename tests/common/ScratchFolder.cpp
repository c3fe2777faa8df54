// The scratch folders of ScratchFolder.h.
#include "ScratchFolder.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace testfs {

ScratchFolder::ScratchFolder(const std::string& prefix) {
  std::error_code error;
  fs::path base = fs::temp_directory_path(error);
  if (error) base = ".";
  std::mt19937_64 random(
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      std::random_device{}());
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    fs::path candidate = base / (prefix + std::to_string(random() % 1000000000ull));
    if (fs::create_directory(candidate, error)) path_ = candidate.string();
  }
}

ScratchFolder::~ScratchFolder() {
  std::error_code error;
  if (!path_.empty()) fs::remove_all(path_, error);
}

std::string ScratchFolder::File(const std::string& name) const {
  return (fs::path(path_) / name).string();
}

std::string ScratchFolder::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  return Write(name, std::string(bytes.begin(), bytes.end()));
}

std::string ScratchFolder::Write(const std::string& name, const std::string& bytes) const {
  const std::string path = File(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
  return path;
}

ScratchWorkingFolder::ScratchWorkingFolder(const std::string& prefix) : ScratchFolder(prefix) {
  if (Path().empty()) return;
  std::error_code error;
  old_ = fs::current_path(error).string();
  if (error) return;
  fs::current_path(Path(), error);
  entered_ = !error;
}

ScratchWorkingFolder::~ScratchWorkingFolder() {
  // Out of the folder before it goes: a system may refuse to remove a working folder.
  std::error_code error;
  if (entered_) fs::current_path(old_, error);
}

bool MakeFolder(const std::string& path) {
  std::error_code error;
  return fs::create_directory(path, error);
}

bool RemoveFolder(const std::string& path) {
  std::error_code error;
  return fs::remove(path, error);
}

bool CopyInto(const std::string& file, const std::string& folder) {
  std::error_code error;
  fs::copy_file(file, fs::path(folder) / fs::path(file).filename(),
                fs::copy_options::overwrite_existing, error);
  return !error;
}

bool HasFolderPart(const std::string& name) {
  return fs::path(name).has_parent_path();
}

}  // namespace testfs
