// The file watcher's part that no system changes: which names in the watched folder count.
#include "platform/Platform.h"

bool TFileWatcher::NameCounts(const std::string& name) {
  // Editors keep their swap, lock and backup files under such names and rewrite them while the
  // user types.
  return !name.empty() && name[0] != '.' && name[0] != '#' && name.back() != '~';
}
