// The last error code of the calling thread and the system's texts for the codes this layer sets.
#include "platform/Platform.h"
#include "platform/linux/X11Backend.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD GetLastError() {
  return lastError;
}

void SetLastError(DWORD code) {
  lastError = code;
}

std::string SysErrorMessage(DWORD code) {
  switch (code) {
    case ERROR_SUCCESS:
      return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND:
      return "The system cannot find the file specified.";
    case xbackend::ERROR_PATH_NOT_FOUND:
      return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED:
      return "Access is denied.";
    case ERROR_INVALID_HANDLE:
      return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY:
      return "Not enough memory resources are available to process this command.";
    case ERROR_INVALID_PARAMETER:
      return "The parameter is incorrect.";
    case xbackend::ERROR_CALL_NOT_IMPLEMENTED:
      return "This function is not supported on this system.";
    case xbackend::ERROR_INSUFFICIENT_BUFFER:
      return "The data area passed to a system call is too small.";
    case ERROR_MOD_NOT_FOUND:
      return "The specified module could not be found.";
    case ERROR_PROC_NOT_FOUND:
      return "The specified procedure could not be found.";
    case xbackend::ERROR_INVALID_FLAGS:
      return "Invalid flags.";
    case ERROR_INVALID_WINDOW_HANDLE:
      return "Invalid window handle.";
    case xbackend::ERROR_NO_SYSTEM_RESOURCES:
      return "Insufficient system resources exist to complete the requested service.";
    case ERROR_INVALID_PIXEL_FORMAT:
      return "The pixel format is invalid.";
    default:
      return std::string();
  }
}
