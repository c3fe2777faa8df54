#include "app/Scene.h"

#include <chrono>
#include <memory>

#include "app/Main_un.h"
#include "app/Util_un.h"
#include "platform/Platform.h"
#include "render/Graph_un.h"
#include "script/Lua_un.h"

std::string StartScriptName = "Test.lua";

namespace {

using Clock = std::chrono::steady_clock;

// How long the files must stay untouched before the scene starts again: one save is often
// several writes (a temporary file, the file itself, a rename), and an image may still be being
// copied. With the tick's own 55 ms the scene starts again within about a fifth of a second.
constexpr auto kQuiet = std::chrono::milliseconds(120);

std::unique_ptr<TFileWatcher> Watcher;
bool Pending = false;
std::string LastChanged;  // the last file of the pending burst
Clock::time_point LastChange;
size_t TexturesWatched = 0;  // entries of the texture table whose files are watched

std::string FolderOf(const std::string& path) {
  std::string::size_type cut = path.size();
  while (cut > 0 && !IsPathDelimiter(path[cut - 1])) --cut;
  return path.substr(0, cut);
}

std::string Joined(const std::string& folder, const std::string& name) {
  if (folder.empty() || IsPathDelimiter(folder.back())) return folder + name;
  return folder + "/" + name;
}

// Images the scene loaded from outside its folder are watched one by one.
void WatchNewTextures() {
  if (GLScreen == nullptr) return;
  const auto& table = GLScreen->TextureTable;
  for (; TexturesWatched < table.size(); ++TexturesWatched)
    if (!table[TexturesWatched].Path.empty()) Watcher->WatchFile(table[TexturesWatched].Path);
}

void ReloadScene() {
  // The old host goes first: closing its interpreter may still run script code (a finaliser)
  // that adds textures. Meanwhile no event may reach it.
  CLua* old = LuaHost;
  LuaHost = nullptr;
  delete old;
  GLScreen->ClearTextures();
  TexturesWatched = 0;
  Watcher->ForgetFiles();
  ReleaseFreeHeap();
  StartScene(*Main);
}

}  // namespace

bool EnterScene(const std::string& scene, std::string* error) {
  std::string folder;
  std::string script;
  if (FolderExists(scene)) {
    folder = scene;
    script = "Test.lua";
    if (!FileExists(Joined(folder, script))) {
      *error =
          "kestrune: " + scene +
          (PathExists(Joined(folder, script)) ? ": this folder's Test.lua is not a regular file"
                                              : ": this folder holds no Test.lua");
      return false;
    }
  } else if (FileExists(scene)) {
    folder = FolderOf(scene);
    script = scene.substr(folder.size());
  } else if (PathExists(scene)) {
    *error = "kestrune: " + scene + ": not a regular file";
    return false;
  } else {
    *error = "kestrune: " + scene + ": there is no such file or folder";
    return false;
  }
  std::string reason;
  if (!folder.empty() && !SetWorkingFolder(folder, &reason)) {
    *error = "kestrune: " + scene + ": cannot enter the scene's folder: " + reason;
    return false;
  }
  SceneFolder = WorkingFolder();
  StartScriptName = script;
  return true;
}

void StartScene(TForm& form) {
  form.SetCaption("Main");
  LuaHost = new CLua();
  if (!LuaHost->LoadScript(StartScriptName)) form.SetCaption(LuaHost->LastError());
}

void WatchScene() {
  std::string folder = SceneFolder;
  if (folder.empty()) folder = FolderOf(ResolveDataPath(StartScriptName));
  if (folder.empty()) folder = WorkingFolder();
  Watcher = std::make_unique<TFileWatcher>();
  std::string reason;
  if (!Watcher->WatchFolder(folder, &reason))
    WriteErrorLine("kestrune: cannot watch " + folder + " for changes: " + reason);
}

void ReloadSceneWhenChanged() {
  if (!Watcher) return;
  WatchNewTextures();
  const Clock::time_point now = Clock::now();
  std::string changed;
  if (Watcher->Changed(&changed)) {
    LastChanged = changed;
    Pending = true;
    LastChange = now;
  }
  if (!Pending || now - LastChange < kQuiet) return;
  if (Main == nullptr || GLScreen == nullptr) return;
  if (LuaHost != nullptr && LuaHost->ScriptRunning()) return;
  Pending = false;
  // Said on the console, so that a scene which writes into its own folder, and so starts
  // itself again and again, shows which file does it.
  WriteErrorLine("kestrune: " + LastChanged + " changed: starting the scene again");
  ReloadScene();
}

void StopWatchingScene() {
  Watcher.reset();
  Pending = false;
  TexturesWatched = 0;
}
