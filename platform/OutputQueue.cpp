// The bounded queue of lines for standard output and error, and the one thread that writes them.
#include "platform/OutputQueue.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/Platform.h"

namespace outputqueue {

namespace {

// A reader that stalls costs at most this much memory; a frame's worth of print lines is far
// below it, so a reader that is merely slow loses nothing.
constexpr size_t kMaxBytes = size_t{1} << 20;
constexpr size_t kMaxLines = 16384;
// How long the program's exit waits for lines nobody reads.
constexpr int kExitWaitMs = 1000;

std::string DroppedNotice(unsigned long count) {
  return "kestrune: " + std::to_string(count) + (count == 1 ? " line" : " lines") +
         " dropped here: the output was not read in time";
}

struct TLine {
  TStream stream;
  std::string text;
};

class TQueue {
 public:
  TQueue() : thread_([this] { Run(); }) {}

  void Add(TStream stream, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    // One line is always taken, however long: only a reader that is behind loses lines.
    if (!lines_.empty() && (bytes_ + text.size() > kMaxBytes || lines_.size() >= kMaxLines)) {
      ++dropped_[stream];
      return;
    }
    // The notice goes where the gap is, before the first line after it.
    if (dropped_[stream] != 0) PushNotice(stream);
    Push(stream, text);
    work_.notify_one();
  }

  bool Flush(int milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return written_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return lines_.empty(); });
  }

  // Ends the thread when it has nothing left to write. False when it is still held up by a
  // reader: then it is left to the process's end, and this object with it.
  bool Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!lines_.empty()) return false;
      stopping_ = true;
    }
    work_.notify_one();
    thread_.join();
    return true;
  }

 private:
  void Push(TStream stream, std::string text) {
    bytes_ += text.size();
    lines_.push_back({stream, std::move(text)});
  }

  void PushNotice(TStream stream) {
    Push(stream, DroppedNotice(dropped_[stream]));
    dropped_[stream] = 0;
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_.wait(lock, [this] { return !lines_.empty() || stopping_; });
      if (lines_.empty()) return;
      // The line stays queued, and counted against the bound, until it is out; only this
      // thread removes lines, and adding more leaves it where it is.
      const TLine& line = lines_.front();
      lock.unlock();
      SendLine(line.stream, line.text);
      lock.lock();
      bytes_ -= line.text.size();
      lines_.pop_front();
      // The reader caught up with everything: what went missing is said now rather than
      // whenever the script writes again.
      if (lines_.empty()) {
        for (TStream stream : {kOutput, kError})
          if (dropped_[stream] != 0) PushNotice(stream);
      }
      if (lines_.empty()) written_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable written_;
  std::deque<TLine> lines_;
  size_t bytes_ = 0;
  unsigned long dropped_[2] = {0, 0};
  bool stopping_ = false;
  std::thread thread_;  // last: it starts running at construction
};

std::mutex stateMutex;
TQueue* queue = nullptr;
// After the exit's wait: lines are written at once when the thread could be ended, else
// dropped (the reader is still stalled).
bool finished = false;
bool finishedCleanly = false;

void FinishAtExit() {
  TQueue* stopping = nullptr;
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    stopping = queue;
    finished = true;
  }
  bool clean = stopping->Flush(kExitWaitMs) && stopping->Stop();
  std::lock_guard<std::mutex> lock(stateMutex);
  finishedCleanly = clean;
  if (clean) {
    delete queue;
    queue = nullptr;
  }
}

}  // namespace

void QueueLine(TStream stream, const std::string& text) {
  std::unique_lock<std::mutex> lock(stateMutex);
  if (finished) {
    if (finishedCleanly) SendLine(stream, text);
    return;
  }
  if (queue == nullptr) {
    queue = new TQueue();
    std::atexit(FinishAtExit);
  }
  TQueue* target = queue;
  lock.unlock();
  target->Add(stream, text);
}

bool FlushLines(int milliseconds) {
  std::unique_lock<std::mutex> lock(stateMutex);
  if (queue == nullptr || finished) return true;
  TQueue* target = queue;
  lock.unlock();
  return target->Flush(milliseconds);
}

}  // namespace outputqueue

void WriteOutputLine(const std::string& text) {
  outputqueue::QueueLine(outputqueue::kOutput, text);
}

void WriteOutputLineWaiting(const std::string& text) {
  // With the queue empty the line is always taken; only this thread adds lines meanwhile.
  constexpr int kLongWaitMs = 24 * 60 * 60 * 1000;
  outputqueue::FlushLines(kLongWaitMs);
  outputqueue::QueueLine(outputqueue::kOutput, text);
  outputqueue::FlushLines(kLongWaitMs);
}

void WriteErrorLine(const std::string& text) {
  outputqueue::QueueLine(outputqueue::kError, text);
}
