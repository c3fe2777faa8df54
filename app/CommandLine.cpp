// Reading the program's options and the scene from its command line, and the texts of --help
// and --version.
#include "app/CommandLine.h"

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  TCommandLine result;
  bool options = true;
  for (const std::string& argument : arguments) {
    if (options && argument == "--") {
      options = false;
    } else if (options && argument.size() > 1 && argument[0] == '-') {
      if (argument == "--help" || argument == "-h")
        result.Help = true;
      else if (argument == "--version")
        result.Version = true;
      else if (argument == "--watch")
        result.Watch = true;
      else if (argument == "--console")
        result.Console = true;
      else if (result.Error.empty())
        result.Error = "kestrune: unknown option " + argument;
    } else if (result.HasScene) {
      if (result.Error.empty()) result.Error = "kestrune: more than one scene given: " + argument;
    } else {
      result.HasScene = true;
      result.Scene = argument;
    }
  }
  return result;
}

std::string UsageText() {
  return "Usage: kestrune [options] [SCENE]\n"
         "Shows SCENE: a folder that holds Test.lua, or a Lua script to run in its place. The\n"
         "scene's folder becomes the working folder, where its images and scripts are found.\n"
         "Without SCENE, Test.lua is looked for beside the program, then in the working folder.\n"
         "\n"
         "Options:\n"
         "  --watch     start the scene again when one of its files is saved\n"
         "  --console   on Windows, open a console for print and script errors when the\n"
         "              program was not started from one\n"
         "  --help      show this text and exit\n"
         "  --version   show the version and exit";
}

std::string VersionText() {
  return "kestrune " KESTRUNE_VERSION;
}
