#include "ScratchFolder.h"

#include <chrono>
#include <filesystem>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace testfs {

ScratchWorkingFolder::ScratchWorkingFolder(const std::string& prefix) {
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
  if (path_.empty()) return;
  old_ = fs::current_path(error).string();
  if (error) return;
  fs::current_path(path_, error);
  entered_ = !error;
}

ScratchWorkingFolder::~ScratchWorkingFolder() {
  std::error_code error;
  if (entered_) fs::current_path(old_, error);
  if (!path_.empty()) fs::remove_all(path_, error);
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
