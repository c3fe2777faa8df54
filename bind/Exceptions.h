// The program's exceptions: one general class that carries the message, and the kinds the
// bindings raise derived from it, so a handler can show any of them the same way.
#pragma once

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A failed operating-system call, with the error code it left behind.
class EOSError : public Exception {
 public:
  EOSError(const std::string& message, unsigned long errorCode)
      : Exception(message), ErrorCode(errorCode) {}
  unsigned long ErrorCode;
};

// A value outside the range its destination can hold.
class ERangeError : public Exception {
 public:
  ERangeError() : Exception("Range check error") {}
};

// A failed assertion; the message carries the source file and line.
class EAssertionFailed : public Exception {
 public:
  using Exception::Exception;
};

// Raises the operating system's error for the last failed call, as "System Error.  Code: %d."
// followed by a line break and the system's text, or "A call to an OS function failed" for 0.
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseOSError(unsigned long errorCode);

// The assertion of the bindings, reported in the form "%s (%s, line %d)".
#define KESTRUNE_ASSERT(condition, message) \
  ((condition) ? (void)0 : RaiseAssertion((message), __FILE__, __LINE__))
[[noreturn]] void RaiseAssertion(const char* message, const char* file, int line);
