#include "XServer.h"

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

#include "FreeDisplay.h"
#include "platform/Platform.h"

namespace testx {

namespace {

pid_t serverPid = 0;

void StopServer() {
  if (serverPid > 0) {
    kill(serverPid, SIGTERM);
    waitpid(serverPid, nullptr, 0);
    serverPid = 0;
  }
}

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

// Starts Xvfb on `number`; true once it accepts connections.
bool StartServerOn(int number) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  pid_t pid = fork();
  if (pid == 0) {
    // The server goes with the test even when the test dies without running its exit handlers.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    close(fds[0]);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    std::string display = ":" + std::to_string(number), fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", display.c_str(), "-displayfd", fd.c_str(), "-screen", "0",
           "1280x1024x24", "-nolisten", "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return false;
  }
  // The number arrives once the server is ready; end of file means it gave up.
  std::string answer;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') answer += c;
  close(fds[0]);
  if (answer.empty()) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return false;
  }
  serverPid = pid;
  std::atexit(StopServer);
  setenv("DISPLAY", (":" + answer).c_str(), 1);
  return true;
}

}  // namespace

bool StartPrivateServer() {
  if (serverPid > 0) return true;
  int first = 300 + static_cast<int>(getpid() % 400);
  for (int number = first; number < first + 40; ++number)
    if (DisplayNumberFree(number) && StartServerOn(number)) return true;
  return false;
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
