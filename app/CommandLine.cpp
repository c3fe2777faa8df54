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

namespace {

// The value of an option that takes one, given as "--name VALUE" or "--name=VALUE"; false, with
// the refusal noted, when the value is missing.
bool OptionValue(const std::vector<std::string>& arguments, size_t& i, const std::string& name,
                 std::string* value, TCommandLine& result) {
  const std::string& argument = arguments[i];
  if (argument.size() > name.size()) {
    *value = argument.substr(name.size() + 1);
  } else if (i + 1 < arguments.size()) {
    *value = arguments[++i];
  } else {
    if (result.Error.empty()) result.Error = "kestrune: " + name + " needs a value";
    return false;
  }
  if (value->empty() && result.Error.empty()) result.Error = "kestrune: " + name + " needs a value";
  return !value->empty();
}

bool IsOption(const std::string& argument, const std::string& name) {
  return argument == name || argument.compare(0, name.size() + 1, name + "=") == 0;
}

// The combinations that make no sense together.
void CheckCombinations(TCommandLine& result, bool ticksGiven) {
  if (!result.Error.empty()) return;
  const bool screenshot = !result.Screenshot.empty();
  if (result.Test && screenshot)
    result.Error = "kestrune: --test and --screenshot cannot be used together";
  else if (result.Watch && (result.Test || screenshot))
    result.Error = std::string("kestrune: --watch cannot be used with ") +
                   (result.Test ? "--test" : "--screenshot");
  else if ((result.Test || screenshot) && !result.HasScene)
    result.Error =
        std::string("kestrune: ") + (result.Test ? "--test" : "--screenshot") + " needs a scene";
  else if (!result.Test && (!result.Junit.empty() || result.Update))
    result.Error =
        std::string("kestrune: ") + (result.Update ? "--update" : "--junit") + " needs --test";
  else if (!screenshot && ticksGiven)
    result.Error = "kestrune: --ticks needs --screenshot";
  else if (!result.Test && !result.TestFiles.empty())
    result.Error = "kestrune: more than one scene given: " + result.TestFiles.front();
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  TCommandLine result;
  bool options = true;
  bool ticksGiven = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    std::string value;
    if (options && IsOption(argument, "--junit")) {
      if (OptionValue(arguments, i, "--junit", &value, result)) result.Junit = value;
    } else if (options && IsOption(argument, "--screenshot")) {
      if (OptionValue(arguments, i, "--screenshot", &value, result)) result.Screenshot = value;
    } else if (options && IsOption(argument, "--ticks")) {
      ticksGiven = true;
      if (!OptionValue(arguments, i, "--ticks", &value, result)) continue;
      char* end = nullptr;
      const long ticks = std::strtol(value.c_str(), &end, 10);
      if (end != value.c_str() + value.size() || value[0] == '-' || value[0] == '+' || ticks < 1 ||
          ticks > 1000000) {
        if (result.Error.empty())
          result.Error = "kestrune: --ticks takes a whole number from 1 to 1000000, not " + value;
      } else {
        result.Ticks = int(ticks);
      }
    } else if (options && (argument == "--scale" || argument.compare(0, 8, "--scale=") == 0)) {
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
      else if (argument == "--test")
        result.Test = true;
      else if (argument == "--update")
        result.Update = true;
      else if (result.Error.empty())
        result.Error = "kestrune: unknown option " + argument;
    } else if (result.HasScene) {
      // After the scene come its test files (with --test, which may also come later).
      result.TestFiles.push_back(argument);
    } else {
      result.HasScene = true;
      result.Scene = argument;
    }
  }
  CheckCombinations(result, ticksGiven);
  if (!result.Screenshot.empty() && result.Ticks == 0) result.Ticks = 1;
  return result;
}

std::string UsageText() {
  return "Usage: kestrune [options] [SCENE]\n"
         "       kestrune --test [--junit FILE] [--update] SCENE [TESTFILE...]\n"
         "       kestrune --screenshot FILE [--ticks N] SCENE\n"
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
         "  --test         run the scene's tests without a window: each TESTFILE, else every\n"
         "                 *_test.lua in SCENE/tests, on a stepped clock; the verdicts go to\n"
         "                 standard output (TAP); exit status 0 when all pass, 1 when any fails\n"
         "  --junit F      with --test, also write the verdicts to F as JUnit XML\n"
         "  --update       with --test, write missing or changed reference pictures (never\n"
         "                 while the environment has CI set)\n"
         "  --screenshot F run the scene without a window and write its last frame to F as a\n"
         "                 PNG file\n"
         "  --ticks N      with --screenshot, run N ticks first (1 unless given)\n"
         "  --help         show this text and exit\n"
         "  --version      show the version and exit";
}

std::string VersionText() {
  return "kestrune " KESTRUNE_VERSION;
}
