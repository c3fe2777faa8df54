// The program's one view of the operating system. Everything above this header is written
// against the Windows-shaped names declared here (window, device and rendering contexts, pixel
// formats, dynamic libraries, files, message boxes); each backend folder (linux/ today) answers
// them with the native calls. No other folder includes a native window-system, GL window-system
// or dynamic-loader header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

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

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

// ---------------------------------------------------------------------------------------------
// Library names of this platform, in place of "OpenGL32.dll", "GLU32.dll" and "Lua51.dll".

extern const char* const GLLibraryName;   // "libGL.so.1"
extern const char* const GLULibraryName;  // "libGLU.so.1"
extern const char* const LuaLibraryDefaultName;  // absolute path of the Lua 5.1 library

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
// The system's text for an error code (no trailing line break); empty when it has none.
std::string SysErrorMessage(DWORD code);

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
// True only for an existing file; a folder does not count.
bool FileExists(const std::string& path);
// Lower-cases ASCII letters only, so UTF-8 names are never mangled.
std::string AnsiLowerCase(const std::string& text);
// The separator that ends a folder part of a path ('/' here, '\\' and ':' on Windows).
bool IsPathDelimiter(char c);

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
// Size of an open file in bytes, or -1.
int64_t GetFileSize64(HANDLE file);
BOOL CloseHandle(HANDLE object);

// ---------------------------------------------------------------------------------------------
// Floating point

// Sets the x87 control word (0x133F masks every exception, 64-bit precision, round to nearest)
// and masks every SSE exception as well.
void Set8087CW(WORD controlWord);
// Sets the heap so that memory the GL driver frees after a frame stays mapped for the next one.
void ConfigureHeap();

// ---------------------------------------------------------------------------------------------
// Message boxes

constexpr UINT MB_OK = 0x00000000u;
constexpr int IDOK = 1;

// A modal box with the text and an OK button, closed by the button, Enter or Escape. It has no
// owner: while it is open, the other windows' ticks and mouse events keep being dispatched.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

// Tests swap the box for a recorder; an empty function restores the real box.
using MessageBoxHook = std::function<int(const std::string& text, const std::string& caption)>;
void SetMessageBoxHook(MessageBoxHook hook);

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

// ---------------------------------------------------------------------------------------------
// The form framework: one top-level window class, a timer and the application object.

enum TMouseButton { mbLeft, mbRight, mbMiddle, mbOther };
enum TBorderStyle { bsSingle, bsSizeable };
enum TPosition { poDesigned, poScreenCenter };

class TForm;

// A periodic timer owned by a form. Missed ticks never queue up: after a long handler the next
// tick follows when the loop is idle.
class TTimer {
 public:
  explicit TTimer(TForm* owner);
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  UINT Interval = 1000;  // milliseconds
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  std::function<void()> OnTimer;

  // Used by the backend's loop.
  TForm* Owner() const { return owner_; }
  int64_t NextDue = 0;

 private:
  TForm* owner_;
  bool enabled_ = false;
};

// A top-level window with a fixed client area. Handlers are plain callbacks; an exception that
// escapes one is shown in a message box by the application object and the loop goes on.
class TForm {
 public:
  TForm();
  virtual ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  // The native window, created on first request (not yet visible).
  HWND Handle();
  bool HandleAllocated() const { return handle_ != nullptr; }

  std::string Caption() const;
  void SetCaption(const std::string& caption);

  int ClientWidth = 800;
  int ClientHeight = 600;
  TBorderStyle BorderStyle = bsSingle;
  TPosition Position = poScreenCenter;

  void Show();
  void Close();  // as the user's close button does: the loop ends when it is the main form
  bool Visible() const;

  std::function<void()> OnCreate;
  std::function<void()> OnDestroy;
  std::function<void()> OnClick;
  std::function<void(TMouseButton button, int x, int y)> OnMouseDown;
  std::function<void(TMouseButton button, int x, int y)> OnMouseUp;

  // Runs OnCreate; the application object calls it once the form's components exist.
  void DoCreate();
  // Runs OnDestroy once; the destructor calls it if nobody did before.
  void DoDestroy();

  // Backend state; only platform code touches it.
  struct Native;
  Native* NativeData() const { return handle_; }

 private:
  Native* handle_ = nullptr;
  std::string caption_;
  bool destroyed_ = false;
  friend class TApplication;
};

class TApplication {
 public:
  TApplication();
  ~TApplication();
  // Opens the display. False, with a message on stderr, when there is none.
  bool Initialize();
  // Creates a form of type F, runs its OnCreate (an escaping exception is shown, the form is
  // still made), stores it in *reference; the first form created is the main form.
  template <typename F>
  void CreateForm(F** reference) {
    F* form = new F();
    *reference = form;
    AddForm(form);
    RunCreate(form);
  }
  // Shows the main form and dispatches events until it is closed.
  void Run();
  // Dispatches what is pending without waiting (tests use it to let ticks and events arrive).
  void ProcessMessages();
  // Dispatches events for about `milliseconds`.
  void ProcessMessagesFor(int milliseconds);
  // Destroys every form (OnDestroy, then the window), the main form last.
  void DestroyForms();
  void Terminate();
  bool Terminated() const { return terminated_; }
  TForm* MainForm() const { return mainForm_; }
  // Shows an exception's message in a message box.
  void ShowException(const std::exception& error);
  // Runs a handler; an escaping exception is shown and swallowed.
  void SafeCall(const std::function<void()>& handler);

 private:
  void AddForm(TForm* form);
  void RunCreate(TForm* form);
  TForm* mainForm_ = nullptr;
  bool terminated_ = false;
};

extern TApplication* Application;
