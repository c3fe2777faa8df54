// The lines on their way to standard output and error, shared by both backends: a bounded queue
// that a thread of its own empties, so that a reader who stops reading never holds up a frame.
// Marked as Platform.h marks the contract: the queue is [shared] (platform/OutputQueue.cpp, with
// WriteOutputLine and WriteErrorLine), the write of one line [backend].
#pragma once

#include <string>

namespace outputqueue {

enum TStream { kOutput, kError };

// Hands the line to the queue's thread and returns at once. When the lines waiting exceed the
// bound, this one is dropped and counted; once the stream takes lines again, one line there
// says how many went missing at that place.
void QueueLine(TStream stream, const std::string& text);

// Waits until every line queued so far has been written, for at most `milliseconds`; true when
// all were. (The program's exit waits the same way, for at most a second.)
bool FlushLines(int milliseconds);

// [backend] Run on the queue's thread only: writes `text` and the system's line
// break to the stream, whole (it may wait as long as the reader does), or drops it when the
// stream has no reader, no room or no descriptor.
void SendLine(TStream stream, const std::string& text);

}  // namespace outputqueue
