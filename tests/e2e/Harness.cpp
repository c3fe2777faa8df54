// The end-to-end harness: the program started under its own X server, and the ways tests drive
// and read it.
#include "Harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <thread>

#include "PrivateXServer.h"
#include "TestImages.h"

namespace e2e {

namespace {

void Sleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string ProgramPath() {
  return std::string(KESTRUNE_BINARY_DIR) + "/kestrune";
}

// The Windows program and the Wine runner, or empty for the program of this build.
const std::string kWindowsProgram = KESTRUNE_E2E_WINDOWS_PROGRAM;
const std::string kWineRun = KESTRUNE_E2E_WINE_RUN;

std::string FolderOf(const std::string& path) {
  return path.substr(0, path.rfind('/') + 1);
}

using Clock = std::chrono::steady_clock;

// A wait's end, `milliseconds` from now.
Clock::time_point After(int milliseconds) {
  return Clock::now() + std::chrono::milliseconds(milliseconds);
}

}  // namespace

std::string Capture(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run: " + command);
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  int rc = pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

bool UnderWine() {
  return !kWindowsProgram.empty();
}

XServer::XServer(bool withGL, const std::string& screenSize) {
  if (UnderWine()) {
    // The display the test run keeps for Wine alone, else the one given.
    const char* display = std::getenv("KESTRUNE_WINE_DISPLAY");
    if (display == nullptr || !*display) display = std::getenv("DISPLAY");
    if (display == nullptr || !*display) throw std::runtime_error("Wine needs $DISPLAY");
    display_ = display;
    return;
  }
  std::vector<std::string> extra;
  if (!withGL) extra = {"-extension", "GLX"};
  // The server takes the last size given for a screen.
  if (!screenSize.empty()) extra.insert(extra.end(), {"-screen", "0", screenSize + "x24"});
  display_ = testx::StartXvfb(500 + static_cast<int>(getpid() % 300), &pid_, extra);
  if (display_.empty()) throw std::runtime_error("no X server could be started");
}

XServer::~XServer() {
  if (pid_ > 0) testx::StopXvfb(pid_);
  if (pid_ <= 0 && layoutSet_) Capture(Env() + "setxkbmap us 2>&1");
}

void XServer::SetKeyboardLayout(const std::string& layout) {
  int status = 0;
  std::string out = Capture(Env() + "setxkbmap " + layout + " 2>&1", &status);
  if (status != 0) throw std::runtime_error("setxkbmap " + layout + ": " + out);
  layoutSet_ = true;
}

Program::Program(const XServer& server, const char* script, const std::string& ownFolder)
    : server_(server) {
  if (scratch_.Path().empty() || logs_.Path().empty())
    throw std::runtime_error("cannot make a temporary folder");
  folder_ = scratch_.Path();
  if (!ownFolder.empty()) {
    folder_ = scratch_.Path() + "/" + ownFolder;
    std::string copy = "mkdir -p '" + folder_ + "' && cp ";
    if (UnderWine()) {
      // The program and every DLL shipped beside it, as the archive holds them.
      copy += "'" + kWindowsProgram + "' '" + FolderOf(kWindowsProgram) + "'*.dll";
      program_ = folder_ + "/kestrune.exe";
    } else {
      copy += "'" + ProgramPath() + "'";
      program_ = folder_ + "/kestrune";
    }
    if (std::system((copy + " '" + folder_ + "/'").c_str()) != 0)
      throw std::runtime_error("cannot copy the program into " + folder_);
  }
  if (script != nullptr) WriteFile("Test.lua", script);
}

Program::~Program() {
  if (pid_ > 0 && exitStatus_ < 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (outputPipe_ >= 0) close(outputPipe_);
}

void Program::WriteFile(const std::string& name, const std::string& bytes) const {
  const std::string path = folder_ + "/" + name;
  std::system(("mkdir -p '" + FolderOf(path) + "'").c_str());
  std::ofstream(path, std::ios::binary) << bytes;
}

void Program::Start(const std::vector<std::string>& arguments, const std::string& workingFolder) {
  // The Lua library is looked for in the working folder; the program stays where it was built,
  // as the Linux program does, so the script is found in the working folder too.
  if (UnderWine() && program_.empty())
    std::system(("cp '" + FolderOf(kWindowsProgram) + "Lua51.dll' '" + folder_ + "/'").c_str());
  const std::string working = workingFolder.empty() ? folder_ : folder_ + "/" + workingFolder;
  std::system(("mkdir -p '" + working + "'").c_str());
  const std::string program = !program_.empty() ? program_
                              : UnderWine()     ? kWindowsProgram
                                                : ProgramPath();
  // The file that is run, and its argument vector from the name it is started under.
  const std::string file = UnderWine() ? kWineRun : program;
  std::vector<std::string> words = {UnderWine() ? "wine-run" : "kestrune"};
  if (UnderWine()) words.push_back(program);
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  const std::string out = logs_.File("stdout.txt");
  const std::string err = logs_.File("stderr.txt");
  int pipeEnds[2] = {-1, -1};
  const bool piped =
      StandardStreams == Streams::kOutputPipe || StandardStreams == Streams::kNonBlockingOutputPipe;
  if (piped && pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  pid_ = fork();
  if (pid_ == 0) {
    if (chdir(working.c_str()) != 0) _exit(126);
    setenv("DISPLAY", server_.Display().c_str(), 1);
    if (GdkScale.empty())
      unsetenv("GDK_SCALE");
    else
      setenv("GDK_SCALE", GdkScale.c_str(), 1);
    // A CI that runs the suite must not change what the program under test does.
    unsetenv("CI");
    for (const std::string& pair : Environment) putenv(const_cast<char*>(pair.c_str()));
    if (StandardStreams == Streams::kClosed) {
      close(STDOUT_FILENO);
      close(STDERR_FILENO);
    } else {
      FILE* f = freopen(err.c_str(), "w", stderr);
      if (StandardStreams == Streams::kNonBlockingOutputPipe)
        fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
      if (piped)
        dup2(pipeEnds[1], STDOUT_FILENO);
      else
        f = freopen(out.c_str(), "w", stdout);
      (void)f;
    }
    execv(file.c_str(), argv.data());
    _exit(127);
  }
  if (pipeEnds[1] >= 0) {
    close(pipeEnds[1]);
    outputPipe_ = pipeEnds[0];
  }
}

std::string Program::ReadOutputPipe() {
  std::string text;
  pollfd ready = {outputPipe_, POLLIN, 0};
  char buffer[65536];
  for (int wait = 100; poll(&ready, 1, wait) > 0; wait = 0) {
    ssize_t got = read(outputPipe_, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t i = 0; i < got; ++i)
      if (buffer[i] != '\r') text += buffer[i];
  }
  return text;
}

bool Program::WaitForWindow() {
  return FindOwnWindow("--classname kestrune");
}

bool Program::WaitForWindowNamed(const std::string& caption) {
  return FindOwnWindow("--name '" + caption + "'");
}

bool Program::FindOwnWindow(const std::string& condition) {
  // Wine takes a few seconds to start a program.
  int tries = UnderWine() ? 300 : 100;
  for (int i = 0; i < tries; ++i) {
    int status = 0;
    std::string id = Capture(
        // --all: without it xdotool takes any window that meets one condition, such as another
        // program's window of the same class on a shared display.
        server_.Env() + "xdotool search --all " + (UnderWine() ? "--onlyvisible " : "") + "--pid " +
            std::to_string(pid_) + " " + condition + " 2>/dev/null | head -n 1",
        &status);
    if (!id.empty()) {
      window_ = id;
      return true;
    }
    Sleep(100);
  }
  return false;
}

std::string Program::Caption() const {
  return Capture(server_.Env() + "xdotool getwindowname " + window_ + " 2>/dev/null");
}

std::string Program::WaitForCaption(const std::string& expected, int milliseconds) const {
  std::string seen;
  for (int waited = 0; waited <= milliseconds; waited += 50) {
    seen = Caption();
    if (seen == expected) break;
    Sleep(50);
  }
  return seen;
}

std::string Program::WaitForCaptionChange(const std::string& previous, int milliseconds) const {
  std::string seen;
  for (int waited = 0; waited <= milliseconds; waited += 50) {
    seen = Caption();
    if (seen != previous) break;
    Sleep(50);
  }
  return seen;
}

int Program::Xdo(const std::string& args) const {
  int status = 0;
  Capture(server_.Env() + "xdotool " + args + " 2>&1", &status);
  return status;
}

void Program::Close() const {
  if (!UnderWine()) {
    Xdo("windowclose " + window_);
    return;
  }
  // Wine takes the keys only once its window is active by its own reckoning, which can lag
  // behind the window manager's on a busy machine: a close that went nowhere is sent again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    Xdo("windowactivate --sync " + window_);
    Xdo("key --clearmodifiers alt+F4");
    for (int waited = 0; waited < 10000; waited += 100) {
      int status = 0;
      Capture(server_.Env() + "xdotool search --all --onlyvisible --pid " + std::to_string(pid_) +
                  " --classname kestrune 2>/dev/null | grep -qx " + window_,
              &status);
      if (status != 0) return;
      Sleep(100);
    }
  }
}

void Program::Focus() const {
  if (!UnderWine()) {
    Xdo("windowfocus --sync " + window_);
    return;
  }
  // Wine's windows take the keyboard through the window manager, and Wine makes the window its
  // own focus only once it has read that news: give it a moment.
  Xdo("windowactivate --sync " + window_);
  Sleep(300);
}

void Program::Unfocus() const {
  if (UnderWine()) {
    Xdo("windowminimize --sync " + window_);
  } else {
    // Without a window manager the keyboard goes back to the screen's root window.
    std::string root =
        Capture(server_.Env() + "xwininfo -root | sed -n 's/.*Window id: \\([^ ]*\\).*/\\1/p'");
    Xdo("windowfocus " + root);
  }
}

void Program::PressEnterIn(const std::string& window) const {
  if (UnderWine()) {
    Xdo("windowactivate --sync " + window);
    Xdo("key Return");
  } else {
    Xdo("key --window " + window + " Return");
  }
}

std::string Program::WaitForBox(const std::string& titles, int milliseconds) const {
  const Clock::time_point deadline = After(milliseconds);
  for (;;) {
    const std::string box = Capture(server_.Env() + "xdotool search --name '^(" + titles +
                                    ")$' 2>/dev/null | head -n 1");
    if (!box.empty() || Clock::now() >= deadline) return box;
    Sleep(50);
  }
}

bool Program::CloseBox(const std::string& box, int milliseconds) const {
  const Clock::time_point deadline = After(milliseconds);
  do {
    PressEnterIn(box);
    // A box that took the key goes at once; one that did not gets the key again.
    const Clock::time_point again = After(2000);
    do {
      int status = 0;
      Capture(server_.Env() + "xdotool getwindowname " + box + " >/dev/null 2>&1", &status);
      if (status != 0) return true;
      Sleep(50);
    } while (Clock::now() < again);
  } while (Clock::now() < deadline);
  return false;
}

std::string Program::ClickUntil(const std::string& button,
                                const std::function<bool(const std::string&)>& done,
                                int milliseconds) const {
  const Clock::time_point deadline = After(milliseconds);
  std::string seen;
  do {
    const std::string before = Caption();
    Xdo("click " + button);
    seen = WaitForCaptionChange(before, 1000);
    if (done(seen)) break;
  } while (Clock::now() < deadline);
  return seen;
}

void Program::MoveTo(int x, int y) const {
  Xdo("mousemove --window " + window_ + " " + std::to_string(x) + " " + std::to_string(y));
}

void Program::Origin(int* x, int* y) const {
  // Where the client area's corner is on the screen, as the pointer finds it: the window's own
  // geometry counts a window manager's frame differently for Wine's windows.
  MoveTo(0, 0);
  std::string location = Capture(server_.Env() + "xdotool getmouselocation --shell");
  *x = *y = 0;
  std::sscanf(location.c_str() + location.find("X="), "X=%d", x);
  std::sscanf(location.c_str() + location.find("Y="), "Y=%d", y);
}

Rgb Program::Pixel(int x, int y) const {
  std::string command = server_.Env() + "import -window " + window_ + " -crop 1x1+" +
                        std::to_string(x) + "+" + std::to_string(y) +
                        " -depth 8 txt:- 2>/dev/null | tail -n 1";
  std::string line = Capture(command);
  // "0,0: (255,0,0)  #FF0000  red"
  Rgb c{-1, -1, -1};
  auto open = line.find('(');
  if (open != std::string::npos) std::sscanf(line.c_str() + open, "(%d,%d,%d", &c.r, &c.g, &c.b);
  return c;
}

int Program::WaitForExit(int milliseconds) {
  for (int waited = 0; waited <= milliseconds; waited += 20) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exitStatus_;
    }
    Sleep(20);
  }
  return -1;
}

bool Program::Running() {
  if (exitStatus_ >= 0) return false;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  return true;
}

std::string Program::Stderr() const {
  return Capture("cat '" + logs_.File("stderr.txt") + "'");
}

std::string Program::Stdout() const {
  std::ifstream file(logs_.File("stdout.txt"), std::ios::binary);
  std::string text;
  for (char c; file.get(c);)
    if (c != '\r') text += c;
  return text;
}

bool WaitUntil(const std::function<bool()>& holds, int milliseconds) {
  for (int waited = 0; waited <= milliseconds; waited += 50) {
    if (holds()) return true;
    Sleep(50);
  }
  return false;
}

namespace {

bool PollFor(const std::function<std::string()>& read, const std::string& text, int milliseconds) {
  return WaitUntil([&] { return read().find(text) != std::string::npos; }, milliseconds);
}

}  // namespace

bool Program::WaitForStdout(const std::string& text, int milliseconds) const {
  return PollFor([this] { return Stdout(); }, text, milliseconds);
}

bool Program::WaitForStderr(const std::string& text, int milliseconds) const {
  return PollFor([this] { return Stderr(); }, text, milliseconds);
}

std::string SolidBmp(int width, int height, Rgb colour) {
  const std::vector<uint8_t> bytes = MakeBmp(
      width, height, PaintedBmp(), Flat({uint8_t(colour.r), uint8_t(colour.g), uint8_t(colour.b)}));
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace e2e
