// Changes on disk through inotify: one watch per folder of the watched tree, and one per folder
// of a single file, whose events count for that file's name only. The descriptor never blocks;
// Changed() reads whatever arrived.
#include <dirent.h>
#include <errno.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "platform/Platform.h"

namespace {

// Writing in place ends with IN_CLOSE_WRITE (IN_MODIFY comes with every write, so a long write
// keeps counting as busy); a save that renames a new file over the old one is IN_MOVED_TO; a
// new subfolder needs a watch of its own.
constexpr uint32_t kEvents = IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_CREATE | IN_ONLYDIR;

bool Passed(const char* name) {
  const size_t length = std::strlen(name);
  return length == 0 || name[0] == '.' || name[0] == '#' || name[length - 1] == '~';
}

}  // namespace

struct TFileWatcher::Native {
  struct Watch {
    std::string folder;
    bool tree = false;            // part of the watched tree: every name counts
    std::set<std::string> names;  // single files in it
  };
  int fd = -1;
  std::map<int, Watch> watches;

  bool Open(std::string* reason) {
    if (fd >= 0) return true;
    fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd >= 0) return true;
    if (reason != nullptr) *reason = std::strerror(errno);
    return false;
  }

  // Watches `root` and every folder under it that is not passed over, walked from a work list
  // so that no depth of folders nests calls. Symbolic links to folders are not followed below
  // the root: a link back up would never end.
  bool AddTree(const std::string& root, std::string* reason) {
    bool complete = true;
    std::vector<std::string> pending{root};
    while (!pending.empty()) {
      std::string folder = pending.back();
      pending.pop_back();
      const uint32_t follow = folder == root ? 0 : IN_DONT_FOLLOW;
      const int wd = inotify_add_watch(fd, folder.c_str(), kEvents | follow);
      if (wd < 0) {
        if (complete && reason != nullptr)
          *reason = errno == ENOSPC ? std::string(
                                          "the system's limit of watched folders "
                                          "(fs.inotify.max_user_watches) is reached")
                                    : std::string(std::strerror(errno));
        complete = false;
        continue;
      }
      Watch& watch = watches[wd];
      watch.folder = folder;
      watch.tree = true;
      DIR* dir = opendir(folder.c_str());
      if (dir == nullptr) continue;
      while (dirent* entry = readdir(dir)) {
        if (Passed(entry->d_name)) continue;
        const std::string path = folder + "/" + entry->d_name;
        bool isFolder = entry->d_type == DT_DIR;
        // Some file systems do not say in the entry.
        struct stat info;
        if (entry->d_type == DT_UNKNOWN && lstat(path.c_str(), &info) == 0)
          isFolder = S_ISDIR(info.st_mode);
        if (isFolder) pending.push_back(path);
      }
      closedir(dir);
    }
    return complete;
  }
};

TFileWatcher::TFileWatcher() : native_(std::make_unique<Native>()) {}

TFileWatcher::~TFileWatcher() {
  if (native_->fd >= 0) close(native_->fd);
}

bool TFileWatcher::WatchFolder(const std::string& folder, std::string* reason) {
  if (!native_->Open(reason)) return false;
  std::string root = folder;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return native_->AddTree(root, reason);
}

void TFileWatcher::WatchFile(const std::string& path) {
  if (!native_->Open(nullptr)) return;
  const size_t cut = path.rfind('/');
  const std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
  const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  if (name.empty()) return;
  // A folder that is watched already answers with its watch: the file joins it.
  const int wd = inotify_add_watch(native_->fd, folder.c_str(), kEvents);
  if (wd < 0) return;
  Native::Watch& watch = native_->watches[wd];
  if (watch.folder.empty()) watch.folder = folder;
  watch.names.insert(name);
}

void TFileWatcher::ForgetFiles() {
  for (auto it = native_->watches.begin(); it != native_->watches.end();) {
    it->second.names.clear();
    if (it->second.tree) {
      ++it;
      continue;
    }
    inotify_rm_watch(native_->fd, it->first);
    it = native_->watches.erase(it);
  }
}

bool TFileWatcher::Changed(std::string* what) {
  if (native_->fd < 0) return false;
  bool changed = false;
  auto note = [&](const std::string& path) {
    *what = path;
    changed = true;
  };
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t length = read(native_->fd, buffer, sizeof buffer);
    if (length < 0 && errno == EINTR) continue;
    if (length <= 0) break;
    for (ssize_t at = 0; at < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      // Events were lost: whatever they were, something changed.
      if (event->mask & IN_Q_OVERFLOW) note(".");
      auto found = native_->watches.find(event->wd);
      if (found == native_->watches.end()) continue;
      if (event->mask & IN_IGNORED) {
        native_->watches.erase(found);
        continue;
      }
      const char* name = event->len > 0 ? event->name : "";
      const Native::Watch& watch = found->second;
      if (event->mask & IN_ISDIR) {
        // A folder made or moved into the tree is watched from now on; one moved in may
        // bring files the scene uses.
        if (watch.tree && !Passed(name) && (event->mask & (IN_CREATE | IN_MOVED_TO))) {
          const std::string folder = watch.folder + "/" + name;
          native_->AddTree(folder, nullptr);
          if (event->mask & IN_MOVED_TO) note(folder);
        }
        continue;
      }
      if (!(event->mask & (IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO))) continue;
      if ((watch.tree && !Passed(name)) || watch.names.count(name)) note(watch.folder + "/" + name);
    }
  }
  return changed;
}
