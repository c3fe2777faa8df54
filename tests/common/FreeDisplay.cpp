#include "FreeDisplay.h"

#include <unistd.h>

#include <fstream>
#include <string>

namespace testx {

bool DisplayNumberFree(int number) {
  std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
  if (access(lock.c_str(), F_OK) == 0) return false;
  std::ifstream sockets("/proc/net/unix");
  std::string line, name = "/tmp/.X11-unix/X" + std::to_string(number);
  while (std::getline(sockets, line)) {
    size_t at = line.find(name);
    if (at != std::string::npos && at + name.size() == line.size()) return false;
  }
  return true;
}

int FreeDisplayNumber(int first) {
  for (int number = first; number < first + 40; ++number)
    if (DisplayNumberFree(number)) return number;
  return -1;
}

}  // namespace testx
