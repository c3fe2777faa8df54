// Scratch folders for tests that write files, on any system: one beside the working folder, and
// one that is the working folder while it lives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testfs {

// A new empty folder under the system's temporary folder, removed with everything in it when
// this goes. Path() is empty when no folder could be made.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& prefix);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return path_; }
  // The path of a file in the folder.
  std::string File(const std::string& name) const;
  // Writes a file in the folder (replacing one of that name) and returns its path; throws when
  // it cannot.
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

// A scratch folder made the working folder for as long as this lives; then the old working
// folder comes back and the scratch folder goes.
class ScratchWorkingFolder : public ScratchFolder {
 public:
  explicit ScratchWorkingFolder(const std::string& prefix);
  ~ScratchWorkingFolder();
  // False when the folder could not be made or entered.
  bool Entered() const { return entered_; }

 private:
  std::string old_;
  bool entered_ = false;
};

bool MakeFolder(const std::string& path);
bool RemoveFolder(const std::string& path);
// Copies a file into a folder under its own name.
bool CopyInto(const std::string& file, const std::string& folder);
// True when the name has a folder part (any separator this system knows).
bool HasFolderPart(const std::string& name);

}  // namespace testfs
