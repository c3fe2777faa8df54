// Starting and stopping private X servers, and waiting on them.
#include "PrivateXServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"

namespace testx {

bool DisplayNumberFree(int number) {
  std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
  if (access(lock.c_str(), F_OK) == 0) return false;
  std::ifstream sockets("/proc/net/unix");
  std::string line, name = "/tmp/.X11-unix/X" + std::to_string(number);
  while (std::getline(sockets, line)) {
    size_t at = line.find(name);
    if (at != std::string::npos && at + name.size() == line.size()) return false;
  }
  return true;
}

namespace {

// Starts Xvfb on `number`; its display name once it accepts connections, else empty.
std::string StartOn(int number, pid_t* pid, const std::vector<std::string>& extra) {
  int fds[2];
  if (pipe(fds) != 0) return std::string();
  *pid = fork();
  if (*pid == 0) {
    // The server goes with the test even when the test dies without running its exit handlers.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    close(fds[0]);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    std::string display = ":" + std::to_string(number), fd = std::to_string(fds[1]);
    // No reset when the last client leaves: the probe below is such a client, and a program
    // started while the server resets finds no display.
    std::vector<std::string> arguments = {"Xvfb", display,        "-displayfd", fd,    "-screen",
                                          "0",    "1280x1024x24", "-nolisten",  "tcp", "-noreset"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    execvp("Xvfb", argv.data());
    _exit(127);
  }
  close(fds[1]);
  if (*pid < 0) {
    close(fds[0]);
    return std::string();
  }
  // The number arrives once the server is ready; end of file means it gave up.
  std::string answer;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') answer += c;
  close(fds[0]);
  // A server elsewhere on the machine may hold the abstract socket of this number without a
  // lock file here, and clients try that socket first: make sure ours is the one that answers.
  std::string probe = "xdpyinfo -display :" + answer + " >/dev/null 2>&1";
  if (answer.empty() || std::system(probe.c_str()) != 0) {
    StopXvfb(*pid);
    return std::string();
  }
  return ":" + answer;
}

}  // namespace

std::string StartXvfb(int first, pid_t* pid, const std::vector<std::string>& extra) {
  for (int number = first; number < first + 40; ++number) {
    if (!DisplayNumberFree(number)) continue;
    std::string display = StartOn(number, pid, extra);
    if (!display.empty()) return display;
  }
  *pid = -1;
  return std::string();
}

void StopXvfb(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

namespace {

pid_t serverPid = 0;

void StopServer() {
  StopXvfb(serverPid);
  serverPid = 0;
}

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

}  // namespace

bool StartPrivateServer() {
  if (serverPid > 0) return true;
  std::string display = StartXvfb(300 + static_cast<int>(getpid() % 400), &serverPid);
  if (display.empty()) return false;
  std::atexit(StopServer);
  setenv("DISPLAY", display.c_str(), 1);
  return true;
}

bool HaveDisplay() {
  const char* display = std::getenv("DISPLAY");
  return display && *display;
}

std::string Run(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) {
    if (status) *status = -1;
    return output;
  }
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  int result = pclose(pipe);
  if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return Trim(output);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Application->ProcessMessagesFor(5);
  }
  return true;
}

std::string RunWhilePumping(const std::string& command, int timeoutMs) {
  std::string output;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    output = Run(command);
    finished = true;
  });
  PumpUntil([&] { return finished.load(); }, timeoutMs);
  worker.join();
  return output;
}

}  // namespace testx
