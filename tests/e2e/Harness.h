// Drives the real program from outside: its own Xvfb server, a temporary working folder with a
// test script, xdotool for the pointer and the caption, and ImageMagick's import for pixels.
// Built a second time for the Windows program, which it starts under Wine: then Lua51.dll is
// copied beside the script (the library is looked for in the working folder), and the display
// is the one the suite runs on, with its window manager (Wine's windows take the keyboard
// through one, and all of Wine's processes share one desktop).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ScratchFolder.h"

namespace e2e {

// Runs a shell command and returns what it printed on stdout, without the final line break.
std::string Capture(const std::string& command, int* status = nullptr);

// True when this build drives the Windows program under Wine.
bool UnderWine();

// Checks `holds` every 50 ms until it is true; false when `milliseconds` went by first.
bool WaitUntil(const std::function<bool()>& holds, int milliseconds = 10000);

// A private X server, so tests can run side by side without sharing a pointer (under Wine: the
// display given in $KESTRUNE_WINE_DISPLAY or else $DISPLAY, and the tests run one at a time).
class XServer {
 public:
  // `withGL` false leaves out the server's GL extension, so no rendering context can be made.
  // `screenSize` ("2048x1536") replaces the usual 1280 by 1024 screen.
  explicit XServer(bool withGL = true, const std::string& screenSize = "");
  ~XServer();
  const std::string& Display() const { return display_; }
  // Prefixes a command with DISPLAY=...
  std::string Env() const { return "DISPLAY=" + display_ + " "; }
  // Sets the keyboard's layout ("fr", ...); a shared display gets the US layout back when this
  // object goes.
  void SetKeyboardLayout(const std::string& layout);

 private:
  pid_t pid_ = -1;
  std::string display_;
  bool layoutSet_ = false;
};

struct Rgb {
  int r, g, b;
};

class Program {
 public:
  // Writes `script` as Test.lua into a new temporary folder (unless `script` is null) and
  // starts the program there, on `server`. With `ownFolder`, that folder gets this name (inside
  // a temporary one; it may name folders inside folders) and a copy of the program with the
  // libraries beside it, which is started
  // there: the program's own folder is then the scene's, as when a user unpacks it.
  Program(const XServer& server, const char* script, const std::string& ownFolder = "");
  ~Program();

  const std::string& Folder() const { return folder_; }
  // Writes a file by its path relative to Folder() ("../scene/Test.lua"), making its folders.
  void WriteFile(const std::string& name, const std::string& bytes) const;

  // How Start connects standard output and error: to files (the default, see Start); both
  // closed (kestrune >&- 2>&-); or standard output into a pipe that the test holds and reads
  // only through ReadOutputPipe (standard error still to its file), made non-blocking or not.
  enum class Streams { kFiles, kClosed, kOutputPipe, kNonBlockingOutputPipe };
  Streams StandardStreams = Streams::kFiles;
  // GDK_SCALE for the program; empty leaves it unset, so that a desktop's scale where the tests
  // run does not change the window's size.
  std::string GdkScale;
  // More of the program's environment, as NAME=value.
  std::vector<std::string> Environment;

  // Starts the program with these arguments, in the working folder given relative to Folder()
  // (Folder() itself when empty). Its standard output and error go to files outside every
  // folder the program sees, so a watching program does not see them change.
  void Start(const std::vector<std::string>& arguments = {}, const std::string& workingFolder = "");
  // Waits for the main window; false when none appeared within ten seconds.
  bool WaitForWindow();
  // The same, for a window whose caption matches the regular expression `caption`, whatever its
  // class: Wine leaves the class empty when the program's path is long.
  bool WaitForWindowNamed(const std::string& caption);
  std::string Window() const { return window_; }

  std::string Caption() const;
  // Polls the caption until it equals `expected` (or the wait ends); returns the last seen.
  std::string WaitForCaption(const std::string& expected, int milliseconds = 5000) const;
  // Polls until the caption is something other than `previous`.
  std::string WaitForCaptionChange(const std::string& previous, int milliseconds = 5000) const;

  // xdotool with the display set; `args` follow the command name.
  int Xdo(const std::string& args) const;
  // Closes the main window as a user does (the window manager's close request).
  void Close() const;
  // Gives the main window the keyboard, or takes it away.
  void Focus() const;
  void Unfocus() const;
  // Presses Enter in another window of the program (a message box).
  void PressEnterIn(const std::string& window) const;
  // Waits for a message box whose title matches `titles` (an extended regular expression for
  // the whole title, "TGA File Error|BMP Unit") and returns its window, or empty when none came.
  std::string WaitForBox(const std::string& titles, int milliseconds = 20000) const;
  // Presses Enter in the box until it is gone (a key sent before the box takes it is lost);
  // false when it was still there at the end of the wait.
  bool CloseBox(const std::string& box, int milliseconds = 20000) const;
  // Clicks the button where the pointer is until the caption satisfies `done`, waiting a moment
  // for each click to tell (a click before the first frame hits nothing, and a scene that counts
  // frames may need one more); returns the last caption seen.
  std::string ClickUntil(const std::string& button,
                         const std::function<bool(const std::string&)>& done,
                         int milliseconds = 20000) const;

  // Moves the pointer to a client position of the main window.
  void MoveTo(int x, int y) const;
  // The window's position on the screen.
  void Origin(int* x, int* y) const;
  Rgb Pixel(int x, int y) const;

  // Waits for the process to end; returns its exit status, or -1 when it did not end in time.
  // (Wine takes its time to take a process down, the more so where 32-bit code is emulated.)
  int WaitForExit(int milliseconds = 30000);
  bool Running();
  std::string Stderr() const;
  // Standard output so far, with Windows' line breaks made plain ones.
  std::string Stdout() const;
  // Polls standard output until it holds `text`; false when the wait ended first.
  bool WaitForStdout(const std::string& text, int milliseconds = 5000) const;
  // The same for standard error, whose lines come through the program's output thread.
  bool WaitForStderr(const std::string& text, int milliseconds = 5000) const;
  // With Streams::kOutputPipe: what the pipe holds now, Windows' line breaks made plain ones
  // (waits up to a tenth of a second for something to arrive).
  std::string ReadOutputPipe();

 private:
  // Waits for a window of the program that meets the xdotool search condition.
  bool FindOwnWindow(const std::string& condition);

  const XServer& server_;
  std::string folder_;
  std::string window_;
  testfs::ScratchFolder scratch_{"kestrune-e2e-"};  // holds folder_ or is it
  // A folder of its own for standard output and error.
  testfs::ScratchFolder logs_{"kestrune-e2e-logs-"};
  std::string program_;  // the copy of the program that is started, or empty for the build's
  pid_t pid_ = -1;
  int exitStatus_ = -1;
  int outputPipe_ = -1;  // the reading end, with Streams::kOutputPipe
};

// A 24-bit bottom-up BMP of one colour, as any painting program writes it.
std::string SolidBmp(int width, int height, Rgb colour);

}  // namespace e2e
