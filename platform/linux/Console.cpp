// Standard output and error: whole lines, written at once with write(2), never buffered.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "platform/Platform.h"

namespace {

// A handler rather than SIG_IGN: an ignored signal stays ignored in programs a script starts
// (os.execute, io.popen), which would then not end when their own reader goes away. A write to
// a pipe without a reader fails with EPIPE either way.
void IgnorePipeSignal(int) {}

void WriteLine(int fd, const std::string& text) {
  std::string line = text;
  line += '\n';
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t written = write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // no reader, a full disk, a closed descriptor: dropped
    data += written;
    left -= static_cast<size_t>(written);
  }
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return arguments;
}

void StartConsole(bool /*openOwn*/) {
  struct sigaction action = {};
  action.sa_handler = IgnorePipeSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGPIPE, &action, nullptr);
}

void WriteOutputLine(const std::string& text) {
  WriteLine(STDOUT_FILENO, text);
}

void WriteErrorLine(const std::string& text) {
  WriteLine(STDERR_FILENO, text);
}

bool StandardOutputConnected() {
  return fcntl(STDOUT_FILENO, F_GETFD) != -1;
}

bool StandardErrorConnected() {
  return fcntl(STDERR_FILENO, F_GETFD) != -1;
}
