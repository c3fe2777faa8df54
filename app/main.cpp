// Program start: the command line, module start-up, the main window and its loop, then
// shut-down in reverse.
#include "app/CommandLine.h"
#include "app/Main_un.h"
#include "app/Scale.h"
#include "app/Scene.h"
#include "app/SceneTests.h"
#include "app/Util_un.h"
#include "bind/LuaBind.h"
#include "platform/Platform.h"

namespace {

// A message about the command line, said before any window exists: where the program was not
// started from a console on Windows, nobody would read standard output or error.
void Say(const std::string& text, bool error) {
  if (error)
    WriteErrorLine(text);
  else
    WriteOutputLine(text);
  if (!(error ? StandardErrorConnected() : StandardOutputConnected()))
    MessageBoxA(nullptr, text.c_str(), "Kestrune", MB_OK);
}

}  // namespace

int main(int argc, char** argv) {
  Set8087CW(0x133F);
  ConfigureHeap();
  const TCommandLine options = ParseCommandLine(ProgramArguments(argc, argv));
  StartConsole(options.Console);
  if (!options.Error.empty()) {
    Say(options.Error + "\n" + UsageText(), true);
    return 2;
  }
  if (options.Help || options.Version) {
    Say(options.Help ? UsageText() : VersionText(), false);
    return 0;
  }
  InitProgramFolder();
  // Test files and pictures named on the command line are named from here.
  const std::string startFolder = WorkingFolder();
  if (options.HasScene) {
    std::string error;
    if (!EnterScene(options.Scene, &error)) {
      Say(error, true);
      DoneProgramFolder();
      return 2;
    }
    // The working folder is the scene's now; the library shipped beside the program is still
    // the one to load.
    LuaLibraryFallbackFolder = ProgramFolder;
  }
  if (options.Test || !options.Screenshot.empty()) {
    const int status = options.Test ? RunSceneTests(options, startFolder)
                                    : TakeSceneScreenshot(options, startFolder);
    LuaLibraryName.clear();
    LuaLibraryFallbackFolder.clear();
    DoneProgramFolder();
    return status;
  }
  if (options.Watch) WatchScene();
  ScaleAsked = options.Scale;
  // The Lua library's name holds its default from module start-up; nothing is loaded yet.

  if (!Application->Initialize()) return 1;
  Application->CreateForm(&Main);
  // Before the window shows: it shows up on the monitor under the pointer.
  if (options.FullScreen) Application->SafeCall([] { Main->SetFullScreen(true); });
  if (options.HideCursor) Application->SafeCall([] { Main->SetCursorVisible(false); });
  Application->Run();
  Application->DestroyForms();

  StopWatchingScene();
  LuaLibraryName.clear();
  LuaLibraryFallbackFolder.clear();
  DoneProgramFolder();
  return 0;
}
