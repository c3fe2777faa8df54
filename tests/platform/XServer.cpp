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

#include "PrivateXServer.h"
#include "platform/Platform.h"

namespace testx {

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
