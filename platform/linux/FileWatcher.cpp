// Changes on disk through inotify: one watch per folder of the watched tree, and one per folder
// of a single file, whose events count for that file's name only. The descriptor never blocks;
// Changed() reads whatever arrived. The tree's own folder is watched by its path: when it goes,
// each call looks for it there again.
#include <dirent.h>
#include <errno.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "platform/Platform.h"

namespace {

// Writing in place ends with IN_CLOSE_WRITE (IN_MODIFY comes with every write, so a long write
// keeps counting as busy); a save that renames a new file over the old one is IN_MOVED_TO; a
// new subfolder needs a watch of its own. The tree's folder removed or moved away takes its
// files with it: the watch must go back to the path.
constexpr uint32_t kEvents = IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_CREATE | IN_DELETE_SELF |
                             IN_MOVE_SELF | IN_ONLYDIR;

std::string Joined(const std::string& folder, const std::string& name) {
  return folder.size() > 0 && folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The path with every symbolic link in it resolved; the path itself when that fails.
std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : path;
}

// One spelling for a file, even one that is gone: its folder resolved, then its name. Paths
// that differ only by links or "./" then compare equal.
std::string FileKey(const std::string& path) {
  std::string full = path;
  if (full.empty() || full[0] != '/') {
    char buffer[PATH_MAX];
    if (getcwd(buffer, sizeof buffer) != nullptr) full = Joined(buffer, path);
  }
  const size_t cut = full.rfind('/');
  if (cut == std::string::npos) return full;
  return Joined(RealPath(cut == 0 ? "/" : full.substr(0, cut)), full.substr(cut + 1));
}

}  // namespace

struct TFileWatcher::Native {
  struct Watch {
    std::string folder;
    std::string real;             // the folder with its links resolved
    bool tree = false;            // part of the watched tree: every name counts
    std::set<std::string> names;  // single files in it
  };
  int fd = -1;
  std::map<int, Watch> watches;
  std::string root;  // the tree's folder as given
  int rootWd = -1;   // its watch; -1 while it is gone
  dev_t rootDevice = 0;
  ino_t rootInode = 0;
  FolderNews news;
  std::set<std::string> passed;  // FileKey of each file whose writes do not count

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
  bool AddTree(const std::string& top, std::string* reason) {
    bool complete = true;
    std::vector<std::string> pending{top};
    while (!pending.empty()) {
      std::string folder = pending.back();
      pending.pop_back();
      const uint32_t follow = folder == top ? 0 : IN_DONT_FOLLOW;
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
      struct stat self;
      if (folder == root && stat(folder.c_str(), &self) == 0) {
        rootWd = wd;
        rootDevice = self.st_dev;
        rootInode = self.st_ino;
      }
      Watch& watch = watches[wd];
      watch.folder = folder;
      watch.real = RealPath(folder);
      watch.tree = true;
      DIR* dir = opendir(folder.c_str());
      if (dir == nullptr) continue;
      while (dirent* entry = readdir(dir)) {
        if (!TFileWatcher::NameCounts(entry->d_name)) continue;
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

  // A single file: its folder's watch, which it joins when that folder is watched already.
  void AddFile(const std::string& path) {
    const size_t cut = path.rfind('/');
    const std::string folder = cut == std::string::npos ? "."
                               : cut == 0               ? "/"
                                                        : path.substr(0, cut);
    const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    if (name.empty()) return;
    const int wd = inotify_add_watch(fd, folder.c_str(), kEvents);
    if (wd < 0) return;
    Watch& watch = watches[wd];
    if (watch.folder.empty()) {
      watch.folder = folder;
      watch.real = RealPath(folder);
    }
    watch.names.insert(name);
  }

  // A link's target is watched on its own: writing the link's path, or the target by its own
  // path, changes the target's folder alone.
  void AddLinkTarget(const std::string& path) {
    struct stat link, target;
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return;
    if (stat(path.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) return;
    AddFile(RealPath(path));
  }

  void AddLinkTargetsOfTree() {
    std::vector<std::string> folders;
    for (const auto& [wd, watch] : watches)
      if (watch.tree) folders.push_back(watch.folder);
    for (const std::string& folder : folders) {
      DIR* dir = opendir(folder.c_str());
      if (dir == nullptr) continue;
      while (dirent* entry = readdir(dir)) {
        if (!TFileWatcher::NameCounts(entry->d_name)) continue;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN)
          AddLinkTarget(folder + "/" + entry->d_name);
      }
      closedir(dir);
    }
  }

  // The tree's folder went: the watches of the folders that went with it (or moved with it)
  // go too, and the path is looked for again.
  void LoseRoot() {
    for (auto it = watches.begin(); it != watches.end();) {
      if (!it->second.tree) {
        ++it;
        continue;
      }
      inotify_rm_watch(fd, it->first);
      it = watches.erase(it);
    }
    rootWd = -1;
    news.gone = true;
  }

  // Whether the root's path still names the watched folder. A removed folder that is some
  // process's working folder (this one's, as a rule) lives on without its name, and its watch
  // hears nothing of the removal until the last user lets go.
  bool RootInPlace() const {
    struct stat info;
    return stat(root.c_str(), &info) == 0 && info.st_dev == rootDevice && info.st_ino == rootInode;
  }

  bool FindRoot() {
    struct stat info;
    if (stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    AddTree(root, nullptr);
    if (rootWd < 0) return false;
    AddLinkTargetsOfTree();
    news.back = true;
    return true;
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
  native_->root = root;
  const bool complete = native_->AddTree(root, reason);
  native_->AddLinkTargetsOfTree();
  return complete;
}

TFileWatcher::FolderNews TFileWatcher::TakeFolderNews() {
  const FolderNews news = native_->news;
  native_->news = FolderNews();
  return news;
}

void TFileWatcher::WatchFile(const std::string& path) {
  if (!native_->Open(nullptr)) return;
  native_->AddFile(path);
  native_->AddLinkTarget(path);
}

void TFileWatcher::PassOver(const std::string& path) {
  native_->passed.insert(FileKey(path));
}

void TFileWatcher::ForgetPassedOver() {
  native_->passed.clear();
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
  // Links of the tree may point elsewhere by now.
  native_->AddLinkTargetsOfTree();
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
      if (event->wd == native_->rootWd &&
          (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF))) {
        native_->LoseRoot();
        continue;
      }
      if (event->mask & IN_IGNORED) {
        native_->watches.erase(found);
        continue;
      }
      const char* name = event->len > 0 ? event->name : "";
      const Native::Watch& watch = found->second;
      if (event->mask & IN_ISDIR) {
        // A folder made or moved into the tree is watched from now on; one moved in may
        // bring files the scene uses.
        if (watch.tree && TFileWatcher::NameCounts(name) &&
            (event->mask & (IN_CREATE | IN_MOVED_TO))) {
          const std::string folder = watch.folder + "/" + name;
          native_->AddTree(folder, nullptr);
          if (event->mask & IN_MOVED_TO) note(folder);
        }
        continue;
      }
      if (!(event->mask & (IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO))) continue;
      if (!(watch.tree && TFileWatcher::NameCounts(name)) && !watch.names.count(name)) continue;
      if (!native_->passed.empty() && native_->passed.count(Joined(watch.real, name))) continue;
      note(watch.folder + "/" + name);
    }
  }
  // What was in the folder before it was watched again, its Test.lua first of all, is new.
  if (native_->rootWd >= 0 && !native_->RootInPlace()) native_->LoseRoot();
  if (native_->rootWd < 0 && !native_->root.empty() && native_->FindRoot()) note(native_->root);
  return changed;
}
