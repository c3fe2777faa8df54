// The message box is the system's own; tests put a recorder in front of it.
#include "platform/Platform.h"

#undef MessageBoxA

namespace {
MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}
}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
  Hook() = std::move(hook);
}

int HookedMessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
  if (Hook()) return Hook()(text ? text : "", caption ? caption : "");
  return ::MessageBoxA(owner, text, caption, type);
}
