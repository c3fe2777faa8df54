// Standard output and error: whole lines, handed to the output queue's thread, which writes
// each at once with write(2); and descriptors 0 to 2 kept from being taken by other files.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "platform/OutputQueue.h"
#include "platform/Platform.h"

using outputqueue::TStream;

namespace {

// Noted before the descriptors are filled with /dev/null: a closed standard error still means
// that a message the user must see needs a message box.
bool outputClosedAtStart = false;
bool errorClosedAtStart = false;

// A handler rather than SIG_IGN: an ignored signal stays ignored in programs a script starts
// (os.execute, io.popen), which would then not end when their own reader goes away. A write to
// a pipe without a reader fails with EPIPE either way.
void IgnorePipeSignal(int) {}

bool Open(int fd) {
  return fcntl(fd, F_GETFD) != -1;
}

// A closed descriptor 0, 1 or 2 would be given to the next file opened, such as the display's
// connection, and a print would then write into the X protocol.
void FillClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (Open(fd)) continue;
    const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened < 0) return;
    // The lower ones are open by now, so this is the one asked for.
    if (opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

}  // namespace

void outputqueue::SendLine(TStream stream, const std::string& text) {
  const int fd = stream == outputqueue::kError ? STDERR_FILENO : STDOUT_FILENO;
  std::string line = text;
  line += '\n';
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t written = write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    // A descriptor its owner made non-blocking: the rest of the line follows when there is
    // room, so a reader never gets half of it.
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready = {fd, POLLOUT, 0};
      if (poll(&ready, 1, -1) < 0 && errno != EINTR) return;
      continue;
    }
    if (written <= 0) return;  // no reader, a full disk: dropped
    data += written;
    left -= static_cast<size_t>(written);
  }
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return arguments;
}

void StartConsole(bool /*openOwn*/) {
  outputClosedAtStart = !Open(STDOUT_FILENO);
  errorClosedAtStart = !Open(STDERR_FILENO);
  FillClosedStandardDescriptors();
  struct sigaction action = {};
  action.sa_handler = IgnorePipeSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGPIPE, &action, nullptr);
}

bool StandardOutputConnected() {
  return !outputClosedAtStart && Open(STDOUT_FILENO);
}

bool StandardErrorConnected() {
  return !errorClosedAtStart && Open(STDERR_FILENO);
}
