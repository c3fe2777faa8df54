// The program's folder, the scene's folder, and the places a data file's name is looked for.
#include "Util_un.h"

#include "platform/Platform.h"

std::string ProgramFolder;
std::string SceneFolder;

void InitProgramFolder() {
  // Paths may be longer than any fixed buffer (long paths on Windows): a reply that fills the
  // buffer may be cut, so it is asked again with one twice the size.
  std::vector<char> buffer(1024);
  DWORD length = 0;
  for (;;) {
    length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length < buffer.size() || buffer.size() >= (1u << 20)) break;
    buffer.resize(buffer.size() * 2);
  }
  std::string path(buffer.data(), length < buffer.size() ? length : 0);
  std::string::size_type cut = path.size();
  while (cut > 0 && !IsPathDelimiter(path[cut - 1])) --cut;
  ProgramFolder = path.substr(0, cut);
}

void DoneProgramFolder() {
  ProgramFolder.clear();
  SceneFolder.clear();
}

namespace {

const std::string& FirstFolder() {
  return SceneFolder.empty() ? ProgramFolder : SceneFolder;
}

}  // namespace

std::string ResolveDataPath(const std::string& name) {
  // Joined unchanged: no separator added, nothing normalised.
  std::string candidate = FirstFolder() + name;
  if (FileExists(candidate)) return candidate;
  if (FileExists(name)) return name;
  return std::string();
}

bool DataPathHoldsNoFile(const std::string& name) {
  if (!ResolveDataPath(name).empty()) return false;
  return PathExists(FirstFolder() + name) || PathExists(name);
}

std::vector<std::string> DataPathPlaces(const std::string& name) {
  std::vector<std::string> places{FirstFolder() + name};
  // A name that starts at a root or a drive (where the system has drives) is used as it is.
  const bool rooted =
      !name.empty() &&
      (IsPathDelimiter(name[0]) || (name.size() > 1 && name[1] == ':' && IsPathDelimiter(':')));
  const std::string here = rooted ? name : WorkingFolder() + name;
  if (here != places.front()) places.push_back(here);
  return places;
}
