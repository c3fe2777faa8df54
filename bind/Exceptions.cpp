// The program's exception classes and the text each carries.
#include "bind/Exceptions.h"

#include <cstdio>
#include <cstring>

#include "platform/Platform.h"

void RaiseOSError(unsigned long errorCode) {
  if (errorCode == 0) throw EOSError("A call to an OS function failed", 0);
  char head[64];
  std::snprintf(head, sizeof head, "System Error.  Code: %lu.", errorCode);
  throw EOSError(std::string(head) + "\n" + SysErrorMessage(static_cast<DWORD>(errorCode)),
                 errorCode);
}

void RaiseLastOSError() { RaiseOSError(GetLastError()); }

void RaiseAssertion(const char* message, const char* file, int line) {
  // The source file's own name, not the folder it happened to be built in.
  const char* name = std::strrchr(file, '/');
  name = name != nullptr ? name + 1 : file;
  char text[1024];
  std::snprintf(text, sizeof text, "%s (%s, line %d)", message, name, line);
  throw EAssertionFailed(text);
}
