// Scratch folders for tests that write files and change the working folder, on any system.
#pragma once

#include <string>

namespace testfs {

// A new empty folder under the system's temporary folder, made the working folder for as long
// as this lives; then the old working folder comes back and the scratch folder goes.
class ScratchWorkingFolder {
 public:
  explicit ScratchWorkingFolder(const std::string& prefix);
  ~ScratchWorkingFolder();
  ScratchWorkingFolder(const ScratchWorkingFolder&) = delete;
  ScratchWorkingFolder& operator=(const ScratchWorkingFolder&) = delete;
  // False when the folder could not be made or entered.
  bool Entered() const { return entered_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_, old_;
  bool entered_ = false;
};

bool MakeFolder(const std::string& path);
bool RemoveFolder(const std::string& path);
// Copies a file into a folder under its own name.
bool CopyInto(const std::string& file, const std::string& folder);
// True when the name has a folder part (any separator this system knows).
bool HasFolderPart(const std::string& name);

}  // namespace testfs
