// Reading the program's options and the scene from its command line, and the texts of --help
// and --version.
#include "app/CommandLine.h"

#include <cmath>
#include <cstdlib>

double ParseScale(const std::string& text) {
  if (text.empty() || text.find_first_of(" \t\n") != std::string::npos) return 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return 0;
  const double eighths = value * 8;
  if (!(eighths >= 4 && eighths <= 32) || eighths != std::floor(eighths)) return 0;
  return value;
}

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  TCommandLine result;
  bool options = true;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (options && (argument == "--scale" || argument.compare(0, 8, "--scale=") == 0)) {
      const bool joined = argument.size() > 7;
      if (!joined && i + 1 == arguments.size()) {
        if (result.Error.empty()) result.Error = "kestrune: --scale needs a value";
        continue;
      }
      const std::string value = joined ? argument.substr(8) : arguments[++i];
      result.Scale = ParseScale(value);
      if (result.Scale == 0 && result.Error.empty())
        result.Error = "kestrune: --scale takes a multiple of 1/8 from 0.5 to 4, not " + value;
    } else if (options && argument == "--") {
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
      else if (argument == "--fullscreen")
        result.FullScreen = true;
      else if (argument == "--hide-cursor")
        result.HideCursor = true;
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
         "  --watch        start the scene again when one of its files is saved\n"
         "  --scale S      draw the scene at S device pixels per unit (0.5 to 4 in steps of\n"
         "                 1/8) instead of the desktop's scale\n"
         "  --fullscreen   show the scene on the whole monitor, as large as it fits, with\n"
         "                 black bars around it\n"
         "  --hide-cursor  hide the pointer over the scene\n"
         "  --console      on Windows, open a console for print and script errors when the\n"
         "                 program was not started from one\n"
         "  --help         show this text and exit\n"
         "  --version      show the version and exit";
}

std::string VersionText() {
  return "kestrune " KESTRUNE_VERSION;
}
