// Program start: module start-up, the main window and its loop, then shut-down in reverse.
#include "app/Main_un.h"
#include "app/Util_un.h"
#include "bind/LuaBind.h"
#include "platform/Platform.h"

int main() {
  Set8087CW(0x133F);
  ConfigureHeap();
  InitProgramFolder();
  // The Lua library's name holds its default from module start-up; nothing is loaded yet.

  if (!Application->Initialize()) return 1;
  Application->CreateForm(&Main);
  Application->Run();
  Application->DestroyForms();

  LuaLibraryName.clear();
  DoneProgramFolder();
  return 0;
}
