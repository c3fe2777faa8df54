// The program's one view of the operating system, and the contract of its backends. Everything
// above platform/ is written against the Windows-shaped names this header brings; no other
// folder includes a native window-system, GL window-system or dynamic-loader header.
//
// Who supplies what. Each section title below carries the mark of its declarations, and a
// declaration supplied otherwise, or in a section without one, carries its own; the natives of
// FormFramework.h are marked the same way:
//   [shared]   one body for every build, in platform/*.cpp;
//   [backend]  written by each backend folder, the one the build picks (platform/linux/,
//              platform/win32/);
//   [system]   Windows' own headers on Windows; the Linux backend's stand-ins under the same
//              names in platform/linux/WinApi.h. The last section lists those that code above
//              this layer uses.
// A further backend (or a run-time variant of one) defines TForm::Native and TFileWatcher::Native,
// supplies every [backend] and [system] name here and every [backend] native of FormFramework.h,
// and tells the form framework what its window system reports through that header's [shared]
// reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#include "platform/win32/WinApi.h"
#else
#include "platform/linux/WinApi.h"
#endif

// ---------------------------------------------------------------------------------------------
// Libraries [backend]

// Library names of this platform: "OpenGL32.dll", "GLU32.dll" and "Lua51.dll" on Windows.
extern const char* const GLLibraryName;
extern const char* const GLULibraryName;
extern const char* const LuaLibraryDefaultName;

// [shared] A resolved symbol as the function type its caller knows it has (or any function
// pointer as another). The detour through the generic function type keeps the compiler from
// comparing two unrelated signatures.
template <typename To, typename From>
To ProcAs(From address) {
  return reinterpret_cast<To>(reinterpret_cast<void (*)()>(address));
}

// How the Lua library's file name is handed to LoadLibraryA once it has been found in the
// working folder: on Linux a bare name is made relative to it (the loader would otherwise search
// the system's folders only); on Windows the loader's own search runs, the program's folder
// first.
std::string LoadableLibraryName(const std::string& name);

// Whether a loaded Lua library is one whose errors unwind the program's C++ frames (Lua built
// as C++): a C build would longjmp over them, past their destructors and guards. The Linux
// program loads the C++ build by its own name; on Windows the build made for the program carries
// a marker.
bool LuaLibraryUnwindsOurFrames(HMODULE library);

// ---------------------------------------------------------------------------------------------
// Errors [backend]

// The system's text for an error code (no trailing line break); empty when it has none.
std::string SysErrorMessage(DWORD code);

// ---------------------------------------------------------------------------------------------
// Files [backend]

// True only for an existing file; a folder does not count.
bool FileExists(const std::string& path);
// True for anything by that name, once links are followed: files, folders and devices alike.
bool PathExists(const std::string& path);
// Lower-cases by the system's ANSI case mapping: the current code page on Windows, ASCII
// letters only on Linux (so UTF-8 names are never mangled).
std::string AnsiLowerCase(const std::string& text);
// The separator that ends a folder part of a path ('/' on Linux; '\\', '/' and ':' on Windows).
bool IsPathDelimiter(char c);
// Size of an open file in bytes, or -1.
int64_t GetFileSize64(HANDLE file);
// Makes or replaces the file with exactly these bytes. False, with the system's reason in
// *reason, when it cannot.
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* reason);
// Removes the file; false when there was none or it cannot be removed.
bool RemoveFile(const std::string& path);
// The names of the regular files in a folder (links followed), in no particular order; empty
// when it cannot be read.
std::vector<std::string> FilesInFolder(const std::string& folder);

// ---------------------------------------------------------------------------------------------
// Text for people to read

// [shared] Window captions, console lines and labels from the bytes a script gave, always valid
// UTF-8. Bytes with a well-formed multi-byte UTF-8 sequence in them, or with nothing beyond ASCII,
// are UTF-8, and each cut, stray or malformed sequence in them becomes one U+FFFD: a character that
// Lua cut in half where it shortened a chunk name costs only itself. Bytes without any such
// sequence are text of the legacy code page (scripts saved by older editors).
std::string ReadableText(const std::string& bytes);
// [backend] Bytes of the legacy code page as UTF-8: the system's ANSI code page on Windows,
// Latin-1 on Linux.
std::string Utf8FromLegacyText(const std::string& bytes);

// ---------------------------------------------------------------------------------------------
// Folders [backend]

// True only for an existing folder; a file does not count.
bool FolderExists(const std::string& path);
// The working folder with its trailing separator; empty when the system cannot say.
std::string WorkingFolder();
// Makes `folder` the working folder. False, with the system's reason in *reason, when it cannot.
bool SetWorkingFolder(const std::string& folder, std::string* reason);

// ---------------------------------------------------------------------------------------------
// The console

// [backend] The program's arguments as UTF-8, without the program's own name: argv on Linux; on
// Windows the wide-character command line (argv there is in the legacy code page and loses names).
std::vector<std::string> ProgramArguments(int argc, char** argv);
// [backend] Connects standard output and error before anything is written to them. On Windows a
// program with a window of its own gets no console: it takes the handles it inherited (pipes,
// files), else the console of the program that started it, else, with `openOwn`, a new console;
// Lua's io.write reaches the same place, and Ctrl+C or Ctrl+Break in an attached console do not end
// the program, while closing that console closes the main window. On Linux `openOwn` means
// nothing; descriptors 0 to 2 that are closed are opened on /dev/null, so that no file the
// program opens later takes their place. Called before anything else opens a file.
void StartConsole(bool openOwn);
// [shared] Writes the text and a line break to standard output or error, in order, without ever
// waiting for the reader: a thread of their own writes the lines, each whole, as the script gave
// its bytes (a console gets them as ReadableText); the backend answers the write of one line
// (OutputQueue.h, where tests also find FlushLines to wait for the thread). When the reader falls
// more than a bound behind, the newest lines are dropped, and one line says how many where they
// went missing. A reader that went away (a closed pipe) or a full disk never ends
// the program: the text is dropped. The program's exit waits at most a second for lines still
// unwritten.
void WriteOutputLine(const std::string& text);
void WriteErrorLine(const std::string& text);
// [shared] The same for a line that must not be lost (a verdict that a reader parses): it waits
// for the lines before it, and for itself, however slow the reader is.
void WriteOutputLineWaiting(const std::string& text);
// [backend] Whether the lines reach anything: false on Windows for a program started without a
// console, redirection or --console (then a message the user must see needs a message box).
bool StandardOutputConnected();
bool StandardErrorConnected();

// ---------------------------------------------------------------------------------------------
// Changes on disk [backend]

// Tells without ever waiting whether watched files changed: everything in and under one folder,
// and single files elsewhere. In the folder, names starting with '.' or '#' and names ending
// in '~' are passed over, files and folders alike: editors keep their swap, lock and backup
// files under such names and rewrite them while the user types. A file that is a symbolic link,
// in the folder or watched on its own, is watched through its target as well: an edit of the
// target elsewhere changes nothing in the link's folder.
class TFileWatcher {
 public:
  TFileWatcher();
  ~TFileWatcher();
  TFileWatcher(const TFileWatcher&) = delete;
  TFileWatcher& operator=(const TFileWatcher&) = delete;

  // Watches the folder and its subfolders, those made later too. False, with the reason, when
  // the system refuses (what could be watched stays watched). A folder that goes away (removed,
  // moved elsewhere, a network share gone) is looked for again by Changed(), on every call on
  // Linux and every few seconds on Windows, and watched again once it is back; its return
  // counts as a change of the folder.
  bool WatchFolder(const std::string& folder, std::string* reason);
  // What became of that folder since the last call: whether it went away, and whether it is
  // back and watched again (both when it went and came back in between).
  struct FolderNews {
    bool gone = false;
    bool back = false;
  };
  FolderNews TakeFolderNews();
  // Watches one more file by its path, which need not lie in the folder.
  void WatchFile(const std::string& path);
  // Stops watching the single files.
  void ForgetFiles();
  // Writes to this file (its path absolute or relative to the working folder) count no more,
  // until ForgetPassedOver(): a scene's own output must not start it again.
  void PassOver(const std::string& path);
  void ForgetPassedOver();
  // True when a watched file was written, made, or replaced by renaming another file over it,
  // since the last call; *what is then the path of the last such file (or of its folder when
  // the system lost count of what happened).
  bool Changed(std::string* what);

  // [shared] Whether a file or folder of that name in the watched folder counts: not when it is
  // empty, starts with '.' or '#' or ends in '~'. The name is one part of a path, UTF-8.
  static bool NameCounts(const std::string& name);

  // The backend's state of the watches.
  struct Native;

 private:
  std::unique_ptr<Native> native_;
};

// ---------------------------------------------------------------------------------------------
// Floating point and the heap

// [shared] Sets the x87 control word (0x133F masks every exception, 64-bit precision, round to
// nearest) and masks every SSE exception as well.
void Set8087CW(WORD controlWord);
// [backend] Sets the heap so that memory the GL driver frees after a frame stays mapped for the
// next one.
void ConfigureHeap();
// [backend] Hands the heap's free memory back to the system. A scene started again has just freed a
// whole scene; with the settings above, the heap would otherwise keep every high-water mark that
// the scattered blocks of successive scenes leave, and the resident size would creep up.
void ReleaseFreeHeap();

// ---------------------------------------------------------------------------------------------
// The desktop's scale [backend]

// How many device pixels the desktop gives to a pixel of 96 DPI, as the system's settings say
// (neither rounded nor bounded); 1 where they say nothing.
double DesktopScale();
// The size of the work area (the monitor without panels and task bars) where a new window
// shows up, in device pixels; false when the system cannot say. While a form is asked about a
// change of the monitor's scale (TForm::OnDesktopScaleChanged), the work area of that monitor.
bool DesktopWorkArea(int* width, int* height);

// ---------------------------------------------------------------------------------------------
// Fonts of the system [backend]

struct TFontFile {
  std::string path;
  int index = 0;  // the face in a collection (.ttc)
};
// Font files of the system that may hold the character, best first for the language (BCP 47;
// empty: the environment's): through fontconfig on Linux, set up on the first call; from the
// fonts the registry lists on Windows. Empty while SystemFontFallback() is off.
std::vector<TFontFile> FallbackFontFiles(uint32_t character, const std::string& lang);
// The folder of DejaVuSans.ttf, DejaVuSerif.ttf and DejaVuSansMono.ttf, with its trailing
// separator: Debian's fonts-dejavu-core folder on Linux, a "fonts" folder beside the program on
// Windows.
std::string BundledFontFolder();
// The user's language as a BCP 47 tag ("ja-JP"), for text whose scene names none: the locale's
// environment variables on Linux, the user's locale on Windows; empty when the system says
// nothing (or only "C").
std::string UserLanguage();
// [shared] Whether text may take characters from the system's fonts; --test turns it off, so
// that only the bundled fonts and the scene's own are used and pictures do not depend on the
// machine. On by default.
void SetSystemFontFallback(bool on);
bool SystemFontFallback();

// ---------------------------------------------------------------------------------------------
// Message boxes [shared]; the box itself is the backend's (FormFramework.h)

// Tests swap the box for a recorder; an empty function restores the real box.
using MessageBoxHook = std::function<int(const std::string& text, const std::string& caption)>;
void SetMessageBoxHook(MessageBoxHook hook);

// Every box of the program goes through the hook first, and the system's box is shown when no
// hook is set: the system's name is taken over, so that every caller still spells MessageBoxA.
int HookedMessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
#define MessageBoxA HookedMessageBoxA

// ---------------------------------------------------------------------------------------------
// The form framework: one top-level window class, a timer and the application object. The
// classes are [shared] (platform/FormFramework.cpp) but for the members marked [backend]; the
// backend's part of them goes through the natives of FormFramework.h.

enum TMouseButton { mbLeft, mbRight, mbMiddle, mbOther };
// One notch of a mouse wheel: up and down of the usual wheel, left and right of a tilting or
// horizontal one.
enum TWheelDirection { wdUp, wdDown, wdLeft, wdRight };
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

  TForm* Owner() const { return owner_; }
  // When the next tick is due, for a backend whose own loop keeps the schedule (its clock).
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

  // [backend] The native window, created on first request (not yet visible).
  HWND Handle();
  bool HandleAllocated() const { return handle_ != nullptr; }

  std::string Caption() const;
  void SetCaption(const std::string& caption);

  int ClientWidth = 800;
  int ClientHeight = 600;
  TBorderStyle BorderStyle = bsSingle;
  TPosition Position = poScreenCenter;

  // The scene's rectangle in the client area, in device pixels, and the logical size it shows.
  // The mouse handlers hear positions in those logical units, measured from the rectangle's
  // corner, and only the rectangle counts as the window for them (the left button's release is
  // followed anywhere all the same). A width or height of 0 means the whole client area at one
  // unit per pixel, where positions stay whole numbers.
  struct TSceneArea {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    float LogicalWidth = 0;
    float LogicalHeight = 0;
  };
  TSceneArea SceneArea;

  // Where the pointer is, as the last movement over the scene (or anywhere while the left
  // button holds it) said; false when it has left the window since.
  bool PointerPosition(float* x, float* y) const;

  void Show();           // [backend]
  void Close();          // as the user's close button does: the loop ends when it is the main form

  // [backend] Full screen: the window, without frame, covers the monitor it is on (before Show:
  // the monitor under the pointer); off gives back the window it was. Not topmost, so message
  // boxes show above it. The client size changes when the system has made the change:
  // ClientWidth and ClientHeight then hold the new size and OnResize runs.
  void SetFullScreen(bool on);
  bool FullScreen() const;  // [backend] what was last asked
  // [backend] Whether the pointer shows over the client area.
  void SetCursorVisible(bool visible);
  bool Visible() const;  // [backend]

  std::function<void()> OnCreate;
  std::function<void()> OnDestroy;
  std::function<void()> OnClick;
  std::function<void(TMouseButton button, float x, float y)> OnMouseDown;
  std::function<void(TMouseButton button, float x, float y)> OnMouseUp;
  // The pointer moved over the scene, or anywhere while the left button holds it.
  // Movements that come faster than they are handled arrive as the latest one.
  std::function<void(float x, float y)> OnMouseMove;
  // The pointer left the window (while the left button holds it: when that button is released
  // outside).
  std::function<void()> OnMouseLeave;
  // One notch of a wheel with the pointer over the scene.
  std::function<void(TWheelDirection direction, float x, float y)> OnMouseWheel;
  // A key went down (again, with `repeat`, while held) or up; keys are named as the user's
  // layout labels them: letters and digits as their lower-case character, the others by a fixed
  // table ("space", "return", "f1", ...), else the character they type unshifted, else
  // "unknown". Every key still held goes up when the window loses the keyboard.
  std::function<void(const std::string& key, bool repeat)> OnKeyDown;
  std::function<void(const std::string& key)> OnKeyUp;
  // Text the keys produced (UTF-8, dead keys and compose sequences done, no control characters).
  std::function<void(const std::string& text)> OnTextInput;
  // The client area took a new size (ClientWidth and ClientHeight hold it): the handler places
  // the scene in it (SceneArea).
  std::function<void()> OnResize;
  // The monitor's scale changed (the window moved to another monitor, or the user changed the
  // setting): the handler says the client size it wants at that scale, or false to keep its
  // size. A backend whose system reports such changes asks it (also before the change, to size
  // the window being dragged) and then resizes the window, which runs OnResize.
  std::function<bool(double desktopScale, int* clientWidth, int* clientHeight)>
      OnDesktopScaleChanged;

  // Runs OnCreate; the application object calls it once the form's components exist.
  void DoCreate();
  // Runs OnDestroy once; the destructor calls it if nobody did before.
  void DoDestroy();

  // Backend and framework state; only platform code touches them.
  struct Native;
  Native* NativeData() const { return handle_; }
  struct Input;
  Input& InputData() { return *input_; }

 private:
  Native* handle_ = nullptr;
  std::unique_ptr<Input> input_;
  std::string caption_;
  bool destroyed_ = false;
  friend class TApplication;
};

class TApplication {
 public:
  TApplication();
  ~TApplication();
  // [backend] Connects to the window system. False, with a message on stderr, when there is
  // none.
  bool Initialize();
  // [backend] Instead of Initialize: a run that needs no window system (on Linux no display is
  // opened, even where DISPLAY names one). Forms are made but never shown (Visible() stays
  // false, and Run() returns at once); each form's rendering context draws into an off-screen
  // buffer of the form's client size, exactly 8 bits each of red, green and blue without alpha,
  // with the depth buffer the pixel format asks for; SwapBuffers presents nothing; timers never
  // fire by themselves (the caller runs their ticks) and ProcessMessages dispatches nothing of
  // its own; message boxes without a hook go to standard error. On Windows the forms are
  // windows that are never shown, and Wine still needs its display. False, with one line on
  // standard error, when even that is not possible (Linux: no EGL of Mesa, no software renderer).
  bool InitializeHeadless();
  // [shared] Whether InitializeHeadless made this run one without a window system.
  bool Headless() const { return headless_; }
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
  // [backend] Dispatches what is pending without waiting (tests use it to let ticks and events
  // arrive).
  void ProcessMessages();
  // [backend] Dispatches events for about `milliseconds`.
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
  bool headless_ = false;
};

extern TApplication* Application;

// ---------------------------------------------------------------------------------------------
// The frame's pixels [backend]

// The frame last drawn in the form's client area: ClientWidth by ClientHeight pixels, rows top
// to bottom, 3 bytes (red, green, blue) a pixel. Headless, the form's off-screen buffer is read;
// in a window, where the front buffer's pixels are not reliable (covered or hidden windows), a
// copy of the back buffer is kept just before each swap, from the first call on: that first call
// returns false unless a copy was already kept. False, with *rgb emptied, when the form has no
// rendering context that drew a frame, or nothing could be read.
bool ReadFramePixels(TForm& form, std::vector<unsigned char>* rgb);

// ---------------------------------------------------------------------------------------------
// The system's names [system] that code above this layer and the shared code use, by group (the
// stand-ins hold a few more, for the Linux backend's own use). The stand-ins answer each as
// Windows does, error codes included; on Windows the backend takes over CreateFileA,
// GetModuleFileNameA and LoadLibraryA (platform/win32/WinApi.h) so that names cross as UTF-8,
// and SwapBuffers, which keeps the frames that ReadFramePixels reads.
//   Types: BOOL, TRUE, BYTE, WORD, DWORD, LONG, UINT, HWND, HDC, HGLRC, HMODULE, HBITMAP,
//     HGDIOBJ, HANDLE, FARPROC, RECT, APIENTRY.
//   Dynamic libraries: LoadLibraryA, GetProcAddress, FreeLibrary. On the GL library's handle
//     GetProcAddress also answers the WGL base names: wglCreateContext, wglCreateLayerContext,
//     wglDeleteContext, wglMakeCurrent, wglGetCurrentContext, wglGetCurrentDC,
//     wglGetProcAddress, wglCopyContext, wglShareLists, wglSwapLayerBuffers,
//     wglSwapMultipleBuffers, wglUseFontBitmapsA/W, wglUseFontOutlinesA/W,
//     wglDescribeLayerPlane, wglGetLayerPaletteEntries, wglSetLayerPaletteEntries,
//     wglRealizeLayerPalette; wglGetProcAddress, with a context current, answers
//     wglGetExtensionsStringARB/EXT and the GL extensions. The GL and GLU entry points
//     themselves come from the libraries named above.
//   Errors: GetLastError; ERROR_INVALID_HANDLE, ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND,
//     ERROR_INVALID_PIXEL_FORMAT.
//   Files: CreateFileA (GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
//     INVALID_HANDLE_VALUE), ReadFile, CloseHandle, GetModuleFileNameA.
//   Message boxes: MB_OK, IDOK (the box is HookedMessageBoxA above).
//   Device contexts and pixel formats: GetDC, ReleaseDC, GetClientRect, CreateCompatibleDC,
//     CreateCompatibleBitmap, SelectObject, DeleteDC, DeleteObject, GetObjectType (OBJ_DC,
//     OBJ_MEMDC, OBJ_METADC, OBJ_ENHMETADC, OBJ_BITMAP), ChoosePixelFormat, DescribePixelFormat,
//     GetPixelFormat, SetPixelFormat, SwapBuffers; PIXELFORMATDESCRIPTOR with the PFD_ flags,
//     pixel types and layer types.
