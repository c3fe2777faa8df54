// The Windows names the program is written against, answered on Linux by this backend. Only
// platform/Platform.h includes this header; on Windows the system's own <windows.h> stands in
// its place.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Base types

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

struct HWND__;
typedef HWND__* HWND;
struct HDC__;
typedef HDC__* HDC;
struct HGLRC__;
typedef HGLRC__* HGLRC;
struct HINSTANCE__;
typedef HINSTANCE__* HMODULE;
typedef HMODULE HINSTANCE;
struct HBITMAP__;
typedef HBITMAP__* HBITMAP;
typedef void* HGDIOBJ;
typedef void* HANDLE;
// A resolved symbol. Callers cast it to the function type they know it has.
typedef void (*FARPROC)();

// Calling conventions of the GL and system entry points: the default one here.
#ifndef APIENTRY
#define APIENTRY
#endif
#ifndef WINAPI
#define WINAPI
#endif

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

// ---------------------------------------------------------------------------------------------
// Dynamic libraries

HMODULE LoadLibraryA(const char* fileName);
// On the GL library's handle, the WGL base names and the two WGL extension-string names are
// answered by this layer when the library itself does not export them.
FARPROC GetProcAddress(HMODULE module, const char* procName);
BOOL FreeLibrary(HMODULE module);

// ---------------------------------------------------------------------------------------------
// Errors

DWORD GetLastError();
void SetLastError(DWORD code);

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_INVALID_PIXEL_FORMAT = 2000;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

// ---------------------------------------------------------------------------------------------
// Files

// The path of the running program (module 0) into a buffer of `size` characters; returns the
// length written, 0 on failure.
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD FILE_SHARE_READ = 0x00000001u;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                   void* securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes,
                   HANDLE templateFile);
// Reads up to `toRead` bytes; `*read` tells how many arrived (fewer at the end of the file).
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
BOOL CloseHandle(HANDLE object);

// ---------------------------------------------------------------------------------------------
// Message boxes

// MessageBoxA itself is the form framework's, on both systems (Platform.h).
constexpr UINT MB_OK = 0x00000000u;
constexpr int IDOK = 1;

// ---------------------------------------------------------------------------------------------
// GDI and pixel formats

constexpr int OBJ_DC = 3;
constexpr int OBJ_METADC = 4;
constexpr int OBJ_MEMDC = 10;
constexpr int OBJ_ENHMETADC = 12;
constexpr int OBJ_BITMAP = 7;

struct PIXELFORMATDESCRIPTOR {
  WORD nSize;
  WORD nVersion;
  DWORD dwFlags;
  BYTE iPixelType;
  BYTE cColorBits;
  BYTE cRedBits;
  BYTE cRedShift;
  BYTE cGreenBits;
  BYTE cGreenShift;
  BYTE cBlueBits;
  BYTE cBlueShift;
  BYTE cAlphaBits;
  BYTE cAlphaShift;
  BYTE cAccumBits;
  BYTE cAccumRedBits;
  BYTE cAccumGreenBits;
  BYTE cAccumBlueBits;
  BYTE cAccumAlphaBits;
  BYTE cDepthBits;
  BYTE cStencilBits;
  BYTE cAuxBuffers;
  BYTE iLayerType;
  BYTE bReserved;
  DWORD dwLayerMask;
  DWORD dwVisibleMask;
  DWORD dwDamageMask;
};
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40, "the descriptor is 40 bytes");

constexpr DWORD PFD_DOUBLEBUFFER = 0x00000001;
constexpr DWORD PFD_STEREO = 0x00000002;
constexpr DWORD PFD_DRAW_TO_WINDOW = 0x00000004;
constexpr DWORD PFD_DRAW_TO_BITMAP = 0x00000008;
constexpr DWORD PFD_SUPPORT_GDI = 0x00000010;
constexpr DWORD PFD_SUPPORT_OPENGL = 0x00000020;
constexpr BYTE PFD_TYPE_RGBA = 0;
constexpr BYTE PFD_TYPE_COLORINDEX = 1;
constexpr BYTE PFD_MAIN_PLANE = 0;
constexpr BYTE PFD_OVERLAY_PLANE = 1;
constexpr BYTE PFD_UNDERLAY_PLANE = 0xFF;

HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
BOOL GetClientRect(HWND window, RECT* rect);

// A memory device context: an off-screen surface of the bitmap selected into it.
HDC CreateCompatibleDC(HDC dc);
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteDC(HDC dc);
BOOL DeleteObject(HGDIOBJ object);

int GetObjectType(HGDIOBJ object);
// Closest match over the platform's formats (1-based); 0 when none fits.
int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* request);
// Fills `descriptor` for format `index` and returns the number of formats; 0 on failure.
int DescribePixelFormat(HDC dc, int index, UINT size, PIXELFORMATDESCRIPTOR* descriptor);
int GetPixelFormat(HDC dc);
// A drawable keeps its first format: setting another one later fails.
BOOL SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR* descriptor);
BOOL SwapBuffers(HDC dc);
