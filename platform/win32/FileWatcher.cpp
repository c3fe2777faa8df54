// Changes on disk through directory-change notifications: one overlapped ReadDirectoryChangesW
// per watched folder, the tree's over its whole subtree, a single file's over its folder alone
// for that file's name. Changed() only looks whether a read has completed, and starts the next.
// A tree whose read fails (the folder removed, a network share gone) is opened again by its path
// every few seconds.
#include <algorithm>
#include <set>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/Win32Backend.h"

using namespace win32backend;

namespace {

constexpr DWORD kFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

std::wstring Lower(std::wstring text) {
  if (!text.empty()) CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

std::wstring FullPath(const std::wstring& path) {
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::vector<wchar_t> buffer(size + 1);
  DWORD length =
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length == 0 || length >= buffer.size()) return path;
  std::wstring full(buffer.data(), length);
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  return full;
}

bool PassedName(const std::wstring& name) {
  return !TFileWatcher::NameCounts(Utf8FromWide(name));
}

// A path relative to the tree (the system's names there), passed over when any of its parts is.
bool PassedPath(const std::wstring& path) {
  size_t start = 0;
  for (;;) {
    size_t end = path.find_first_of(L"\\/", start);
    if (PassedName(path.substr(start, end == std::wstring::npos ? end : end - start))) return true;
    if (end == std::wstring::npos) return false;
    start = end + 1;
  }
}

// How long a folder that went away is left before it is looked for again: opening a path on a
// share that is gone can take seconds of its own.
constexpr DWORD kLookAgainMs = 3000;

// Whether `path` names the folder that `identity` describes. Windows keeps a removed folder
// while a handle holds it, and a moved one stays with the handle: only its path tells.
bool SameFolder(const std::wstring& path, const BY_HANDLE_FILE_INFORMATION& identity) {
  HANDLE folder =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION found = {};
  const bool same = GetFileInformationByHandle(folder, &found) &&
                    found.dwVolumeSerialNumber == identity.dwVolumeSerialNumber &&
                    found.nFileIndexHigh == identity.nFileIndexHigh &&
                    found.nFileIndexLow == identity.nFileIndexLow;
  CloseHandle(folder);
  return same;
}

// The final path of what the open handle names, links resolved, without the "\\?\" prefix.
std::wstring FinalPath(HANDLE file) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (length == 0) return std::wstring();
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + path.substr(7);
      if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
      return path;
    }
    buffer.resize(length + 1);
  }
}

// The target of a file that is a symbolic link; empty for anything else.
std::wstring LinkTarget(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return std::wstring();
  HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring target = FinalPath(file);
  CloseHandle(file);
  return target;
}

struct Watch {
  HANDLE folder = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
  OVERLAPPED overlapped = {};
  std::vector<DWORD> buffer = std::vector<DWORD>(16384);  // 64 KiB, DWORD-aligned
  bool tree = false;
  bool reading = false;
  BY_HANDLE_FILE_INFORMATION identity = {};  // which folder the handle holds
  std::set<std::wstring> names;              // single files, lower case
  std::wstring path;                         // full path, lower case
  std::wstring shownPath;                    // full path as given

  bool Start() {
    ResetEvent(event);
    overlapped = {};
    overlapped.hEvent = event;
    reading = ReadDirectoryChangesW(folder, buffer.data(), static_cast<DWORD>(buffer.size() * 4),
                                    tree, kFilter, nullptr, &overlapped, nullptr) != 0;
    return reading;
  }

  void Close() {
    if (reading) {
      // The system writes into the buffer until the read is really cancelled.
      CancelIo(folder);
      DWORD ignored = 0;
      GetOverlappedResult(folder, &overlapped, &ignored, TRUE);
      reading = false;
    }
    if (event != nullptr) CloseHandle(event);
    if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
    event = nullptr;
    folder = INVALID_HANDLE_VALUE;
  }

  // Whether the completed read reports a change that counts, and the last file it counts for.
  bool Counts(DWORD bytes, const std::set<std::wstring>& passed, std::wstring* file) const {
    // No room for everything that happened: something did.
    if (bytes == 0) {
      *file = path;
      return true;
    }
    const auto* at = reinterpret_cast<const BYTE*>(buffer.data());
    bool counts = false;
    for (;;) {
      const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
      const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
      const bool written = info->Action == FILE_ACTION_ADDED ||
                           info->Action == FILE_ACTION_MODIFIED ||
                           info->Action == FILE_ACTION_RENAMED_NEW_NAME;
      if (written && ((tree && !PassedPath(name)) || names.count(Lower(name))) &&
          (passed.empty() || !passed.count(path + L"\\" + Lower(name)))) {
        *file = shownPath + L"\\" + name;
        counts = true;
      }
      if (info->NextEntryOffset == 0) return counts;
      at += info->NextEntryOffset;
    }
  }
};

}  // namespace

struct TFileWatcher::Native {
  std::vector<std::unique_ptr<Watch>> watches;
  std::wstring treePath;   // full path of the tree's folder, lower case
  std::wstring treeGiven;  // the tree's folder as given
  bool treeGone = false;
  DWORD lookAgainAt = 0;  // GetTickCount() when the tree's path is looked at next
  FolderNews news;
  std::set<std::wstring> passed;  // full paths, lower case, whose writes do not count

  // A single file, in the watch of its folder (none of its own when the tree holds it).
  void AddFile(const std::wstring& path) {
    const std::wstring given = FullPath(path);
    const std::wstring full = Lower(given);
    const size_t cut = full.find_last_of(L"\\/");
    if (cut == std::wstring::npos || cut + 1 >= full.size()) return;
    const std::wstring folder = full.substr(0, cut);
    const std::wstring name = full.substr(cut + 1);
    // A file of the tree that is not passed over is watched already.
    const std::wstring& tree = treePath;
    if (!tree.empty() && full.size() > tree.size() + 1 && full.compare(0, tree.size(), tree) == 0 &&
        (full[tree.size()] == L'\\' || full[tree.size()] == L'/') &&
        !PassedPath(full.substr(tree.size() + 1)))
      return;
    for (auto& watch : watches) {
      if (!watch->tree && watch->path == folder) {
        watch->names.insert(name);
        return;
      }
    }
    std::wstring opened = given.substr(0, cut);
    if (opened.back() == L':') opened += L'\\';  // a drive's root, not its working folder
    if (Watch* watch = Open(opened, false, nullptr)) watch->names.insert(name);
  }

  // The files of the tree that are links are watched through their targets: an edit of the
  // target elsewhere changes nothing in the tree. The walk does not enter linked folders.
  void AddLinkTargetsOfTree() {
    if (treeGiven.empty() || treeGone) return;
    std::vector<std::wstring> pending{FullPath(treeGiven)};
    while (!pending.empty()) {
      const std::wstring folder = pending.back();
      pending.pop_back();
      WIN32_FIND_DATAW found;
      HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
      if (search == INVALID_HANDLE_VALUE) continue;
      do {
        const std::wstring name = found.cFileName;
        if (PassedName(name) || name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        const bool reparse = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          if (!reparse) pending.push_back(path);
        } else if (reparse && found.dwReserved0 == IO_REPARSE_TAG_SYMLINK) {
          // (Other reparse points, such as files a cloud drive keeps online, are left alone.)
          const std::wstring target = LinkTarget(path);
          if (!target.empty()) AddFile(target);
        }
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
  }

  // The tree's read failed: its handle goes, so that a removed folder can really go, and the
  // path is opened again later.
  void LoseTree() {
    for (auto it = watches.begin(); it != watches.end(); ++it) {
      if (!(*it)->tree) continue;
      (*it)->Close();
      watches.erase(it);
      break;
    }
    treeGone = true;
    news.gone = true;
    lookAgainAt = GetTickCount() + kLookAgainMs;
  }

  // True every few seconds.
  bool LookAgain() {
    if (static_cast<LONG>(GetTickCount() - lookAgainAt) < 0) return false;
    lookAgainAt = GetTickCount() + kLookAgainMs;
    return true;
  }

  bool FindTree() {
    if (!LookAgain() || Open(treeGiven, true, nullptr) == nullptr) return false;
    treeGone = false;
    news.back = true;
    AddLinkTargetsOfTree();
    return true;
  }

  Watch* Open(const std::wstring& folder, bool tree, std::string* reason) {
    auto watch = std::make_unique<Watch>();
    watch->tree = tree;
    watch->shownPath = FullPath(folder);
    watch->path = Lower(watch->shownPath);
    watch->folder = CreateFileW(
        folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    watch->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (watch->folder == INVALID_HANDLE_VALUE || watch->event == nullptr || !watch->Start() ||
        !GetFileInformationByHandle(watch->folder, &watch->identity)) {
      if (reason != nullptr) *reason = SysErrorMessage(GetLastError());
      watch->Close();
      return nullptr;
    }
    watches.push_back(std::move(watch));
    return watches.back().get();
  }
};

TFileWatcher::TFileWatcher() : native_(std::make_unique<Native>()) {}

TFileWatcher::~TFileWatcher() {
  for (auto& watch : native_->watches) watch->Close();
}

bool TFileWatcher::WatchFolder(const std::string& folder, std::string* reason) {
  const std::wstring wide = WideFromText(folder);
  if (native_->Open(wide, true, reason) == nullptr) return false;
  native_->treePath = Lower(FullPath(wide));
  native_->treeGiven = FullPath(wide);
  native_->lookAgainAt = GetTickCount() + kLookAgainMs;
  native_->AddLinkTargetsOfTree();
  return true;
}

TFileWatcher::FolderNews TFileWatcher::TakeFolderNews() {
  const FolderNews news = native_->news;
  native_->news = FolderNews();
  return news;
}

void TFileWatcher::WatchFile(const std::string& path) {
  const std::wstring wide = WideFromText(path);
  native_->AddFile(wide);
  const std::wstring target = LinkTarget(wide);
  if (!target.empty()) native_->AddFile(target);
}

void TFileWatcher::PassOver(const std::string& path) {
  native_->passed.insert(Lower(FullPath(WideFromText(path))));
}

void TFileWatcher::ForgetPassedOver() {
  native_->passed.clear();
}

void TFileWatcher::ForgetFiles() {
  auto& watches = native_->watches;
  for (auto& watch : watches)
    if (!watch->tree) watch->Close();
  watches.erase(std::remove_if(watches.begin(), watches.end(),
                               [](const std::unique_ptr<Watch>& watch) { return !watch->tree; }),
                watches.end());
  // Links of the tree may point elsewhere by now.
  native_->AddLinkTargetsOfTree();
}

bool TFileWatcher::Changed(std::string* what) {
  bool changed = false;
  bool treeFailed = false;
  std::wstring file;
  for (auto& watch : native_->watches) {
    if (!watch->reading) continue;
    DWORD bytes = 0;
    if (!GetOverlappedResult(watch->folder, &watch->overlapped, &bytes, FALSE)) {
      if (GetLastError() == ERROR_IO_INCOMPLETE) continue;
      // The folder went away or the read failed. The tree is looked for again every few
      // seconds until it is back, rather than re-armed on every tick; a single file's folder
      // gets one more try, else it is no longer watched.
      watch->reading = false;
      if (watch->tree) {
        treeFailed = true;
        continue;
      }
      *what = Utf8FromWide(watch->shownPath);
      changed = true;
      watch->Start();
      continue;
    }
    watch->reading = false;
    if (watch->Counts(bytes, native_->passed, &file)) {
      *what = Utf8FromWide(file);
      changed = true;
    }
    if (!watch->Start() && watch->tree) treeFailed = true;
  }
  // The tree's read may never fail when its folder goes: its path is looked at now and then.
  if (!treeFailed && !native_->treeGone && native_->LookAgain()) {
    for (auto& watch : native_->watches)
      if (watch->tree && !SameFolder(native_->treeGiven, watch->identity)) treeFailed = true;
  }
  if (treeFailed) native_->LoseTree();
  // What was in the folder before it was watched again, its Test.lua first of all, is new.
  if (native_->treeGone && native_->FindTree()) {
    *what = Utf8FromWide(native_->treeGiven);
    changed = true;
  }
  return changed;
}
