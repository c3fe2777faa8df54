// Linked into Lua51.dll: tells the program that this Lua is compiled as C++, so that its errors
// are exceptions that unwind the program's frames (running their destructors) instead of a
// longjmp over them. The program refuses a Lua51.dll without it.
extern "C" __declspec(dllexport) const
    char kestrune_lua_unwinds_cxx_frames[] = "Lua 5.1 compiled as C++";
