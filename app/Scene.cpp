// Starting the scene, and with --watch starting it again whenever one of its files is saved.
#include "app/Scene.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <set>

#include "app/Main_un.h"
#include "app/Util_un.h"
#include "platform/Platform.h"
#include "render/Graph_un.h"
#include "render/Label.h"
#include "render/TextLayout.h"
#include "script/Lua_un.h"
#include "script/ScriptWrites.h"

std::string StartScriptName = "Test.lua";
std::function<void()> BeforeStartScript;

namespace {

using Clock = std::chrono::steady_clock;

// How long the files must stay untouched before the scene starts again: one save is often
// several writes (a temporary file, the file itself, a rename), and an image may still be being
// copied. With the tick's own 55 ms the scene starts again within about a fifth of a second.
constexpr auto kQuiet = std::chrono::milliseconds(120);
// A folder that never falls quiet (something else writing there on every tick) must not hold
// a save back for ever.
constexpr auto kLongestWait = std::chrono::milliseconds(500);
// The files an interpreter wrote go on being passed over this long after it was replaced: what
// it wrote just before may be told only after the start.
constexpr auto kOldWritesLinger = std::chrono::seconds(1);

std::unique_ptr<TFileWatcher> Watcher;
std::string WatchedFolder;
bool ReenterWatchedFolder = false;  // it is the working folder
bool Pending = false;
std::string LastChanged;  // the last file of the pending burst
Clock::time_point FirstChange, LastChange;
size_t TexturesWatched = 0;         // entries of the texture table whose files are watched
std::set<std::string> SceneWrites;  // the files the running interpreter wrote
bool OldWritesPassedOver = false;   // those of the interpreter before it too
Clock::time_point OldWritesForgottenAt;

// The band of a start script's error, while there is one to show.
std::unique_ptr<TLabel> ErrorBand;
float ErrorBandHeight = 0;
constexpr float kBandPadding = 8;
constexpr size_t kBandLines = 6;  // the message, "stack traceback:" and the first calls
constexpr float kBandLargest = 200;

// The report's first lines, tabs as spaces: the traceback indents its lines with one.
std::string BandText(const std::string& report) {
  std::string text;
  size_t lines = 0;
  for (size_t at = 0; at <= report.size() && lines < kBandLines; ++lines) {
    size_t end = report.find('\n', at);
    if (end == std::string::npos) end = report.size();
    if (lines > 0) text += '\n';
    text.append(report, at, end - at);
    at = end + 1;
  }
  for (char& c : text)
    if (c == '\t') c = ' ';
  return text;
}

void ShowErrorBand(const std::string& report) {
  ErrorBand.reset();
  if (report.empty()) return;
  auto band = std::make_unique<TLabel>();
  band->Text = BandText(report);
  band->Style.font = "mono";
  band->Style.size = 13;
  band->Style.align = TTextStyle::Align::Left;
  const float width = float(LogicalScreenWidth) - 2 * kBandPadding;
  const TTextLayout layout = LayOutText(band->Text, band->Style, width, 0);
  ErrorBandHeight = std::min(kBandLargest, layout.height + 2 * kBandPadding);
  ErrorBand = std::move(band);
}

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

// A scene that writes into its own folder (a log, a saved score) would otherwise start itself
// again on every write.
void PassOverSceneWrites(Clock::time_point now) {
  if (OldWritesPassedOver && now >= OldWritesForgottenAt) {
    OldWritesPassedOver = false;
    Watcher->ForgetPassedOver();
    for (const std::string& path : SceneWrites) Watcher->PassOver(path);
  }
  for (std::string& path : TakeScriptWrites()) {
    if (!SceneWrites.insert(path).second) continue;
    Watcher->PassOver(path);
  }
}

// Says what became of the watched folder. One that is back is entered again: the working
// folder is still the one that went, where the scene's relative names find nothing.
void FollowWatchedFolder() {
  const TFileWatcher::FolderNews news = Watcher->TakeFolderNews();
  if (news.gone)
    WriteErrorLine("kestrune: " + WatchedFolder +
                   " is gone: it will be watched again when it is back");
  if (!news.back) return;
  WriteErrorLine("kestrune: " + WatchedFolder + " is back: watching it again");
  std::string reason;
  if (ReenterWatchedFolder && !SetWorkingFolder(WatchedFolder, &reason))
    WriteErrorLine("kestrune: cannot enter " + WatchedFolder + " again: " + reason);
}

void ReloadScene() {
  // The old host goes first: closing its interpreter may still run script code (a finaliser)
  // that adds textures. Meanwhile no event may reach it.
  CLua* old = LuaHost;
  LuaHost = nullptr;
  delete old;
  PassOverSceneWrites(Clock::now());  // what its finalisers wrote
  SceneWrites.clear();
  OldWritesPassedOver = true;
  OldWritesForgottenAt = Clock::now() + kOldWritesLinger;
  GLScreen->ClearTextures();
  // The band's layout points at the fonts that go with the glyphs.
  ErrorBand.reset();
  GLScreen->ClearText();
  TexturesWatched = 0;
  Watcher->ForgetFiles();
  ReleaseFreeHeap();
  // A scene starts at time 0 with no timers (a new host) and at the usual pace.
  Main->SetTickInterval(DefaultTickMs);
  StartScene(*Main);
  Main->SceneStarted();
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
  // A scene started again under a still pointer has the nodes under it entered at its first
  // frame, not at the pointer's next move.
  float x = 0;
  float y = 0;
  if (form.PointerPosition(&x, &y)) LuaHost->PointerStartsAt(TFloatPoint{x, y});
  if (BeforeStartScript) BeforeStartScript();
  const bool ran = LuaHost->LoadScript(StartScriptName);
  if (!ran) form.SetCaption(LuaHost->LastError());
  // Only a scene being worked on shows its error inside the window.
  if (Watcher) {
    try {
      ShowErrorBand(ran                             ? std::string()
                    : !LuaHost->ErrorReport.empty() ? LuaHost->ErrorReport
                                                    : LuaHost->LastError());
    } catch (const std::exception& error) {
      ErrorBand.reset();
      WriteErrorLine(std::string("kestrune: the error cannot be shown in the window: ") +
                     error.what());
    }
  }
}

void DrawStartErrorBand() {
  if (!ErrorBand || GLScreen == nullptr) return;
  const float top = float(LogicalScreenHeight) - ErrorBandHeight;
  static const float colour[4] = {0.4f, 0.04f, 0.04f, 0.92f};
  GLScreen->SetClip(nullptr);
  GLScreen->DrawFill(TFloatRect{0, top, float(LogicalScreenWidth), ErrorBandHeight}, colour, 1);
  GLScreen->DrawLabel(
      *ErrorBand,
      TFloatRect{kBandPadding, top + kBandPadding, float(LogicalScreenWidth) - 2 * kBandPadding,
                 ErrorBandHeight - 2 * kBandPadding},
      1);
}

void WatchScene() {
  std::string folder = SceneFolder;
  if (folder.empty()) folder = FolderOf(ResolveDataPath(StartScriptName));
  if (folder.empty()) folder = WorkingFolder();
  Watcher = std::make_unique<TFileWatcher>();
  WatchedFolder = folder;
  ReenterWatchedFolder = folder == WorkingFolder();
  std::string reason;
  if (!Watcher->WatchFolder(folder, &reason))
    WriteErrorLine("kestrune: cannot watch " + folder + " for changes: " + reason);
}

void ReloadSceneWhenChanged() {
  if (!Watcher) return;
  WatchNewTextures();
  const Clock::time_point now = Clock::now();
  PassOverSceneWrites(now);
  std::string changed;
  if (Watcher->Changed(&changed)) {
    LastChanged = changed;
    if (!Pending) FirstChange = now;
    Pending = true;
    LastChange = now;
  }
  FollowWatchedFolder();
  if (!Pending || (now - LastChange < kQuiet && now - FirstChange < kLongestWait)) return;
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
  ErrorBand.reset();
  Pending = false;
  TexturesWatched = 0;
  SceneWrites.clear();
  OldWritesPassedOver = false;
  TakeScriptWrites();
}
