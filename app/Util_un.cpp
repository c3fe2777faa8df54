#include "Util_un.h"

#include "platform/Platform.h"

std::string ProgramFolder;

void InitProgramFolder() {
  char buffer[1024];
  DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  std::string path(buffer, length);
  std::string::size_type cut = path.size();
  while (cut > 0 && !IsPathDelimiter(path[cut - 1])) --cut;
  ProgramFolder = path.substr(0, cut);
}

void DoneProgramFolder() { ProgramFolder.clear(); }

std::string ResolveDataPath(const std::string& name) {
  // Joined unchanged: no separator added, nothing normalised.
  std::string candidate = ProgramFolder + name;
  if (FileExists(candidate)) return candidate;
  if (FileExists(name)) return name;
  return std::string();
}
