// Scratch folders for tests that write files and change the working folder, on any system.
#pragma once

#include <string>

namespace testfs {

// A new empty folder under the system's temporary folder, its name starting with `prefix`.
std::string MakeScratchFolder(const std::string& prefix);
// Removes a folder and everything in it; true when it is gone.
bool RemoveTree(const std::string& path);
std::string WorkingFolder();
bool ChangeFolder(const std::string& path);
bool MakeFolder(const std::string& path);
bool RemoveFolder(const std::string& path);
// Copies a file into a folder under its own name.
bool CopyInto(const std::string& file, const std::string& folder);
// True when the name has a folder part (any separator this system knows).
bool HasFolderPart(const std::string& name);

}  // namespace testfs
