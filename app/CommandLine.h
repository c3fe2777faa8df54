// The program's command line: kestrune [options] [SCENE].
#pragma once

#include <string>
#include <vector>

struct TCommandLine {
  bool Help = false;
  bool Version = false;
  bool Watch = false;
  bool Console = false;
  bool HasScene = false;
  std::string Scene;
  // Why the arguments were refused, as a line for the user; empty when they were not.
  std::string Error;
};

// Reads the arguments (without the program's name). "--" ends the options, so a scene may be
// named like one.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// What --help shows, also shown after a refusal.
std::string UsageText();
// What --version shows: the name and the version of the build.
std::string VersionText();
