// The program's command line: kestrune [options] [SCENE].
#pragma once

#include <string>
#include <vector>

struct TCommandLine {
  bool Help = false;
  bool Version = false;
  bool Watch = false;
  bool Console = false;
  // --scale: device pixels per logical unit, a multiple of 1/8 from 0.5 to 4; 0 when not given.
  double Scale = 0;
  // --fullscreen: the scene on the whole monitor; --hide-cursor: no pointer over it.
  bool FullScreen = false;
  bool HideCursor = false;
  bool HasScene = false;
  std::string Scene;
  // --test: the scene's tests run headless; the test files named after the scene, if any.
  bool Test = false;
  std::vector<std::string> TestFiles;
  std::string Junit;    // --junit FILE
  bool Update = false;  // --update: missing or changed reference pictures are written
  // --screenshot FILE: the frame after --ticks N ticks (1 unless given) as a PNG file.
  std::string Screenshot;
  int Ticks = 0;
  // Why the arguments were refused, as a line for the user; empty when they were not.
  std::string Error;
};

// The value of --scale as a scale, or 0 when it is none: a number that is a multiple of 1/8 from
// 0.5 to 4, so that the scene's 800 by 600 units are whole pixels.
double ParseScale(const std::string& text);

// Reads the arguments (without the program's name). "--" ends the options, so a scene may be
// named like one.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// What --help shows, also shown after a refusal.
std::string UsageText();
// What --version shows: the name and the version of the build.
std::string VersionText();
