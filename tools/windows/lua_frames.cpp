// Linked into the 32-bit Lua51.dll only: lets C++ exceptions cross between the program and
// the DLL.
//
// Lua is compiled as C++, so a Lua error is a C++ exception thrown inside this DLL. When a C
// function of the program raises it (luaL_error), it has to unwind the program's frames,
// running their destructors, on its way to the catch of lua_pcall back in this DLL.
//
// 32-bit mingw code unwinds with DWARF-2 tables, and libgcc is linked statically into both
// kestrune.exe and Lua51.dll, so each module carries its own unwinder that knows only the
// frame tables registered with it: by default its own module's. Left alone, this DLL's
// unwinder finds no table for the program's frames and ends in std::terminate; and a landing
// pad of the program, after running its destructors, resumes with the program's own
// _Unwind_Resume, which knows none of this DLL's frames. So at load the program's .eh_frame is
// registered with our unwinder, and ours with the program's, which the program exports: the
// 32-bit toolchain file links every program with tools/windows/kestrune-x86.def.
//
// One more trap: an unwinder sizes its register table on its first use only, and the
// personality routine of one module writes registers of a context that the other module's
// unwinder may be walking, through its own module's table. If that module had never unwound
// before, the table is empty and libgcc aborts. Both unwinders are therefore run once here.
//
// The 64-bit build unwinds through the system's own tables (SEH) and needs none of this.
#include <unwind.h>
#include <windows.h>

#include <cstring>

extern "C" {
// libgcc's registry of frame tables; the second argument is storage it keeps using.
void __register_frame_info(const void* begin, void* object);
void* __deregister_frame_info(const void* begin);
const void* _Unwind_Find_FDE(void* pc, void* bases);
}

namespace {

using RegisterFn = void (*)(const void*, void*);
using DeregisterFn = void* (*)(const void*);
using FindFdeFn = const void* (*)(void*, void*);
using BacktraceFn = _Unwind_Reason_Code (*)(_Unwind_Trace_Fn, void*);

// Larger than libgcc's struct object on any target; zeroed as it expects.
void* program_object[16];
void* dll_object[16];
const char* program_frames = nullptr;  // registered with this DLL's unwinder
const char* dll_frames = nullptr;      // registered with the program's unwinder
DeregisterFn program_deregister = nullptr;

// The COFF string table sits past the symbol table in the image file and is not mapped, so a
// long section name ("/4") is read from the file.
bool long_section_name(HMODULE module, const IMAGE_FILE_HEADER& header, unsigned long offset,
                       char* name, DWORD size) {
  if (header.PointerToSymbolTable == 0) return false;
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(module, path, sizeof path);
  if (length == 0 || length >= sizeof path) return false;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(header.PointerToSymbolTable) +
                static_cast<LONGLONG>(header.NumberOfSymbols) * IMAGE_SIZEOF_SYMBOL + offset;
  DWORD got = 0;
  bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
            ReadFile(file, name, size - 1, &got, nullptr);
  CloseHandle(file);
  name[ok ? got : 0] = '\0';
  return ok;
}

// True when the records of a frame table end with libgcc's zero terminator inside the
// section: the unwinder walks them up to that terminator and would run past the end otherwise.
bool terminated(const char* begin, size_t size) {
  size_t at = 0;
  while (at + 4 <= size) {
    DWORD length;
    std::memcpy(&length, begin + at, 4);
    if (length == 0) return true;
    if (length == 0xffffffff) return false;  // 64-bit records never occur in 32-bit code
    at += 4 + static_cast<size_t>(length);
  }
  return false;
}

// The start of a module's .eh_frame section, or null.
const char* frame_table(HMODULE module) {
  auto base = reinterpret_cast<const char*>(module);
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    char name[32] = {};
    std::memcpy(name, section->Name, IMAGE_SIZEOF_SHORT_NAME);
    if (name[0] == '/') {
      unsigned long offset = 0;
      for (const char* digit = name + 1; *digit >= '0' && *digit <= '9'; ++digit) {
        offset = offset * 10 + static_cast<unsigned long>(*digit - '0');
      }
      if (!long_section_name(module, nt->FileHeader, offset, name, sizeof name)) continue;
    }
    // Images carry the name cut to eight characters unless the linker kept long names.
    if (std::strcmp(name, ".eh_frame") != 0 && std::strcmp(name, ".eh_fram") != 0) continue;
    const char* begin = base + section->VirtualAddress;
    return terminated(begin, section->Misc.VirtualSize) ? begin : nullptr;
  }
  return nullptr;
}

_Unwind_Reason_Code stop_at_once(_Unwind_Context*, void*) {
  return _URC_END_OF_STACK;
}

// Starting a backtrace makes an unwinder fill its register table; it needs the table of the
// frame it starts in, so it only runs where that is known.
void prime(FindFdeFn find_fde, BacktraceFn backtrace) {
  void* bases[3];
  if (find_fde && backtrace && find_fde(reinterpret_cast<void*>(backtrace), bases)) {
    backtrace(stop_at_once, nullptr);
  }
}

void attach(HMODULE dll) {
  HMODULE program = GetModuleHandleA(nullptr);
  program_frames = frame_table(program);
  if (program_frames) __register_frame_info(program_frames, program_object);

  auto reg = reinterpret_cast<RegisterFn>(
      reinterpret_cast<void*>(GetProcAddress(program, "__register_frame_info")));
  auto dereg = reinterpret_cast<DeregisterFn>(
      reinterpret_cast<void*>(GetProcAddress(program, "__deregister_frame_info")));
  dll_frames = reg && dereg ? frame_table(dll) : nullptr;
  if (dll_frames) {
    reg(dll_frames, dll_object);
    program_deregister = dereg;
  }

  prime(_Unwind_Find_FDE, _Unwind_Backtrace);
  prime(reinterpret_cast<FindFdeFn>(
            reinterpret_cast<void*>(GetProcAddress(program, "_Unwind_Find_FDE"))),
        reinterpret_cast<BacktraceFn>(
            reinterpret_cast<void*>(GetProcAddress(program, "_Unwind_Backtrace"))));
}

void detach() {
  if (dll_frames) program_deregister(dll_frames);
  if (program_frames) __deregister_frame_info(program_frames);
  dll_frames = program_frames = nullptr;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE dll, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    attach(dll);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Only on FreeLibrary: at process exit the program's unwinder may already be gone, and
    // nothing will unwind again.
    detach();
  }
  return TRUE;
}
