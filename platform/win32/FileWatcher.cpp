// Changes on disk through directory-change notifications: one overlapped ReadDirectoryChangesW
// per watched folder, the tree's over its whole subtree, a single file's over its folder alone
// for that file's name. Changed() only looks whether a read has completed, and starts the next.
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
  return name.empty() || name[0] == L'.' || name[0] == L'#' || name.back() == L'~';
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

struct Watch {
  HANDLE folder = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
  OVERLAPPED overlapped = {};
  std::vector<DWORD> buffer = std::vector<DWORD>(16384);  // 64 KiB, DWORD-aligned
  bool tree = false;
  bool reading = false;
  std::set<std::wstring> names;  // single files, lower case
  std::wstring path;             // full path, lower case
  std::wstring shownPath;        // full path as given

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
  bool Counts(DWORD bytes, std::wstring* file) const {
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
      if (written && ((tree && !PassedPath(name)) || names.count(Lower(name)))) {
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
  std::wstring treePath;  // full path of the tree's folder, lower case

  Watch* Open(const std::wstring& folder, bool tree, std::string* reason) {
    auto watch = std::make_unique<Watch>();
    watch->tree = tree;
    watch->shownPath = FullPath(folder);
    watch->path = Lower(watch->shownPath);
    watch->folder = CreateFileW(
        folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    watch->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (watch->folder == INVALID_HANDLE_VALUE || watch->event == nullptr || !watch->Start()) {
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
  return true;
}

void TFileWatcher::WatchFile(const std::string& path) {
  const std::wstring given = FullPath(WideFromText(path));
  const std::wstring full = Lower(given);
  const size_t cut = full.find_last_of(L"\\/");
  if (cut == std::wstring::npos || cut + 1 >= full.size()) return;
  const std::wstring folder = full.substr(0, cut);
  const std::wstring name = full.substr(cut + 1);
  // A file of the tree that is not passed over is watched already.
  const std::wstring& tree = native_->treePath;
  if (!tree.empty() && full.size() > tree.size() + 1 && full.compare(0, tree.size(), tree) == 0 &&
      (full[tree.size()] == L'\\' || full[tree.size()] == L'/') &&
      !PassedPath(full.substr(tree.size() + 1)))
    return;
  for (auto& watch : native_->watches) {
    if (!watch->tree && watch->path == folder) {
      watch->names.insert(name);
      return;
    }
  }
  std::wstring opened = given.substr(0, cut);
  if (opened.back() == L':') opened += L'\\';  // a drive's root, not its working folder
  if (Watch* watch = native_->Open(opened, false, nullptr)) watch->names.insert(name);
}

void TFileWatcher::ForgetFiles() {
  auto& watches = native_->watches;
  for (auto& watch : watches)
    if (!watch->tree) watch->Close();
  watches.erase(std::remove_if(watches.begin(), watches.end(),
                               [](const std::unique_ptr<Watch>& watch) { return !watch->tree; }),
                watches.end());
}

bool TFileWatcher::Changed(std::string* what) {
  bool changed = false;
  std::wstring file;
  for (auto& watch : native_->watches) {
    if (!watch->reading) continue;
    DWORD bytes = 0;
    if (!GetOverlappedResult(watch->folder, &watch->overlapped, &bytes, FALSE)) {
      if (GetLastError() == ERROR_IO_INCOMPLETE) continue;
      // The folder went away or the read failed: try once more, else it is no longer watched.
      watch->reading = false;
      *what = Utf8FromWide(watch->shownPath);
      changed = true;
      watch->Start();
      continue;
    }
    watch->reading = false;
    if (watch->Counts(bytes, &file)) {
      *what = Utf8FromWide(file);
      changed = true;
    }
    watch->Start();
  }
  return changed;
}
