// Running a scene without a window on a stepped clock: its tests (kestrune --test) with their
// verdicts on standard output, and a frame written as a picture (kestrune --screenshot).
#pragma once

#include "app/CommandLine.h"

// Runs the tests that the command line names (or every *_test.lua under the scene's tests
// folder), each file on a fresh start of the scene. The scene has been entered already, and
// `startFolder` is the working folder the program was started in, against which the test files,
// the JUnit file and the screenshot's file are named. Returns the exit status: 0 when every test
// passed, 1 when one failed, 2 when a test file does not compile or there are none.
int RunSceneTests(const TCommandLine& options, const std::string& startFolder);

// Runs the scene for options.Ticks ticks and writes the last frame to options.Screenshot.
// Returns the exit status: 0, or 1 when it could not be written.
int TakeSceneScreenshot(const TCommandLine& options, const std::string& startFolder);
