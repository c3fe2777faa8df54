// The scene-test runner: fresh starts of the scene, the functions of kestrune.test, the stepped
// clock, the time limit of a test, screenshots against reference pictures, and the verdicts as
// TAP and JUnit XML.
#include "app/SceneTests.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/Main_un.h"
#include "app/Scene.h"
#include "app/Util_un.h"
#include "bind/LuaBind.h"
#include "platform/FormFramework.h"
#include "platform/Platform.h"
#include "render/Graph_un.h"
#include "render/ImageReaders.h"
#include "render/PngWriter.h"
#include "render/TextLayout.h"
#include "script/KestruneTable.h"
#include "script/Lua_un.h"
#include "script/ProtectedRead.h"
#include "script/SceneWindow.h"
#include "script/ScriptConsole.h"
#include "script/ScriptFunctions.h"

using namespace LuaBind;
using LuaScript::Guarded;
using Clock = std::chrono::steady_clock;

namespace {

// The real time a test may take unless it says otherwise, and the start of a scene with the
// top level of its test file.
constexpr double kDefaultTimeout = 10;
// How often, in Lua instructions, a running script looks at the clock.
constexpr int kHookEvery = 1000;
// The date a scene's clock starts from under test: 2000-01-01 00:00:00 UTC.
constexpr double kStartDate = 946684800;
// What math.random is seeded with at every fresh start.
constexpr int kRandomSeed = 1;

struct TTest {
  std::string Name;
  bool Fresh = false;
  double Timeout = kDefaultTimeout;
  int FunctionRef = -1;
};

struct TVerdict {
  std::string File;
  std::string Name;
  bool Passed = true;
  std::vector<std::string> Reasons;
  double Seconds = 0;
};

// The runner's state; the functions of kestrune.test reach it here, as there is only one run.
struct TRun {
  bool Update = false;
  std::string TestFile;    // as shown: "tests/menu_test.lua"
  std::string TestPath;    // as opened
  std::string TestFolder;  // the test file's folder, with its separator; references lie there
  // The tests the test file declared in this interpreter.
  std::vector<TTest> Tests;
  bool Collecting = false;
  bool InTest = false;
  bool Busy = false;  // a step or an input is being handled
  Clock::time_point Deadline;
  double TimeoutSeconds = kDefaultTimeout;
  bool Armed = false;
  bool TimedOut = false;
  int ExpectingErrors = 0;
  std::vector<std::string> HandlerErrors;
  std::vector<std::string> ExpectedErrors;
  std::vector<std::string> Boxes;  // shown and not yet read by boxes()
  // The last frame, read when first asked for after a tick.
  bool Stepped = false;
  bool FrameRead = false;
  std::vector<unsigned char> Frame;
  std::vector<std::string> Notes;  // said after the test's verdict
  std::map<std::string, unsigned> KeyCodes;
  bool ShiftHeld = false;
};

TRun Run;

TForm& Window() {
  return *Main;
}

// ---------------------------------------------------------------------------------------------
// Files and pictures

bool ReadBytes(const std::string& path, std::string* bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char block[65536];
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, block, sizeof block, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    bytes->append(block, got);
  }
  CloseHandle(file);
  return ok;
}

std::string FolderOf(const std::string& path) {
  std::string::size_type cut = path.size();
  while (cut > 0 && !IsPathDelimiter(path[cut - 1])) --cut;
  return path.substr(0, cut);
}

bool IsAbsolute(const std::string& path) {
  return (!path.empty() && IsPathDelimiter(path[0])) || (path.size() > 1 && path[1] == ':');
}

// A path given on the command line, named against the folder the program was started in.
std::string FromStartFolder(const std::string& startFolder, const std::string& path) {
  return IsAbsolute(path) ? path : startFolder + path;
}

// The frame as it was last drawn, rows top to bottom, RGB.
bool ReadFrame(std::vector<unsigned char>* rgb) {
  return GLScreen != nullptr && ReadFramePixels(Window(), rgb);
}

// The whole picture as RGB rows top to bottom, from a PNG file's bytes.
bool DecodePicture(const std::string& bytes, const std::string& name, uint32_t* width,
                   uint32_t* height, std::vector<unsigned char>* rgb) {
  TImage image;
  TImageError error;
  if (!ReadPngImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), name, image,
                    error))
    return false;
  *width = image.Width;
  *height = image.Height;
  rgb->assign(size_t(image.Width) * image.Height * 3, 0);
  const size_t step = image.BytesPerPixel();
  for (uint32_t y = 0; y < image.Height; ++y) {
    // The readers hand rows bottom first, as the upload takes them.
    const uint8_t* row = image.Pixels.data() + image.RowStride() * (image.Height - 1 - y);
    for (uint32_t x = 0; x < image.Width; ++x)
      for (int c = 0; c < 3; ++c) (*rgb)[(size_t(y) * image.Width + x) * 3 + c] = row[x * step + c];
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Lua helpers for the functions below

[[noreturn]] void Raise(lua_State* L, const std::string& text) {
  // luaL_error adds where the test called the function from.
  luaL_error(L, "%s", text.c_str());
  std::terminate();
}

void MustBeInTest(lua_State* L, const char* name) {
  if (!Run.InTest) Raise(L, std::string("kestrune.test.") + name + " runs only inside a test");
  if (Run.Busy)
    Raise(L, std::string("kestrune.test.") + name + " cannot run inside a step or an input");
}

void CheckTimeout(lua_State* L) {
  if (Run.Armed && (Run.TimedOut || Clock::now() >= Run.Deadline)) {
    Run.TimedOut = true;
    Raise(L, "the test took longer than its " + NumberText(Run.TimeoutSeconds) + " s");
  }
}

void TimeoutHook(lua_State* L, lua_Debug*) {
  CheckTimeout(L);
}

int IntegerArg(lua_State* L, int index, const char* what) {
  if (lua_type(L, index) != LUA_TNUMBER)
    luaL_argerror(L, index, (std::string("should be ") + what).c_str());
  const lua_Number value = lua_tonumber(L, index);
  if (!(std::fabs(value) < 1e9)) luaL_argerror(L, index, "should be a reasonable number");
  return int(std::lround(value));
}

std::string StringArg(lua_State* L, int index, const char* what) {
  if (lua_type(L, index) != LUA_TSTRING)
    luaL_argerror(L, index, (std::string("should be ") + what).c_str());
  size_t length = 0;
  const char* text = lua_tolstring(L, index, &length);
  return std::string(text, length);
}

// A value as a failure line shows it: strings quoted, the rest as print shows them.
std::string Shown(lua_State* L, int index) {
  switch (lua_type(L, index)) {
    case LUA_TSTRING:
      return "\"" + std::string(lua_tostring(L, index)) + "\"";
    case LUA_TNUMBER:
      return NumberText(lua_tonumber(L, index));
    case LUA_TBOOLEAN:
      return lua_toboolean(L, index) ? "true" : "false";
    case LUA_TNIL:
    case LUA_TNONE:
      return "nil";
    default:
      return std::string(luaL_typename(L, index)) + " " +
             std::to_string(reinterpret_cast<uintptr_t>(lua_topointer(L, index)));
  }
}

// Runs an input or a step as the window's own events and ticks run, with nothing else allowed
// to call in meanwhile.
template <typename Body>
void AsTheWindowDoes(lua_State* L, const char* name, Body body) {
  MustBeInTest(L, name);
  CheckTimeout(L);
  Run.Busy = true;
  try {
    body();
  } catch (...) {
    Run.Busy = false;
    throw;
  }
  Run.Busy = false;
  CheckTimeout(L);
}

TMouseButton ButtonArg(lua_State* L, int index) {
  if (lua_isnoneornil(L, index)) return mbLeft;
  const std::string name = StringArg(L, index, "\"left\", \"right\" or \"middle\"");
  if (name == "left") return mbLeft;
  if (name == "right") return mbRight;
  if (name == "middle") return mbMiddle;
  luaL_argerror(L, index, "should be \"left\", \"right\" or \"middle\"");
  return mbLeft;
}

unsigned KeyCode(const std::string& name) {
  auto found = Run.KeyCodes.find(name);
  if (found != Run.KeyCodes.end()) return found->second;
  const unsigned code = unsigned(Run.KeyCodes.size()) + 1;
  Run.KeyCodes[name] = code;
  return code;
}

// The text a key types by itself, as the window's keyboard gives it: a key named by one
// character types it (a letter in upper case while shift is held), the space bar a space.
std::string KeyText(const std::string& name) {
  if (name == "space") return " ";
  if (name.size() == 1) {
    char c = name[0];
    if (Run.ShiftHeld && c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return std::string(1, c);
  }
  // One UTF-8 character of more bytes ("é").
  const unsigned char lead = static_cast<unsigned char>(name[0]);
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  return length != 0 && name.size() == length ? name : std::string();
}

// ---------------------------------------------------------------------------------------------
// The functions of kestrune.test

int Test(lua_State* L) {
  return Guarded(L, [L] {
    if (!Run.Collecting)
      Raise(L, "kestrune.test.test declares tests at the top level of a test file only");
    const std::string name = StringArg(L, 1, "the test's name");
    if (!lua_isfunction(L, 2)) luaL_argerror(L, 2, "should be the test's function");
    TTest test;
    test.Name = name;
    if (!lua_isnoneornil(L, 3)) {
      if (!lua_istable(L, 3)) luaL_argerror(L, 3, "should be a table of options");
      lua_getfield(L, 3, "fresh");
      test.Fresh = lua_toboolean(L, -1) != 0;
      lua_getfield(L, 3, "timeout");
      if (!lua_isnil(L, -1)) {
        const lua_Number seconds = lua_tonumber(L, -1);
        if (lua_type(L, -1) != LUA_TNUMBER || !(seconds > 0 && seconds <= 86400))
          luaL_argerror(L, 3, "should give a timeout in seconds above 0");
        test.Timeout = seconds;
      }
      lua_pop(L, 2);
    }
    lua_pushvalue(L, 2);
    test.FunctionRef = luaL_ref(L, LUA_REGISTRYINDEX);
    Run.Tests.push_back(test);
    return 0;
  });
}

int Step(lua_State* L) {
  return Guarded(L, [L] {
    const int ticks = lua_isnoneornil(L, 1) ? 1 : IntegerArg(L, 1, "a number of ticks");
    if (ticks < 0) luaL_argerror(L, 1, "should be a number of ticks from 0");
    for (int i = 0; i < ticks; ++i) {
      AsTheWindowDoes(L, "step", [] { Main->StepScene(Main->Timer1.Interval / 1000.0); });
      Run.Stepped = true;
      Run.FrameRead = false;
    }
    return 0;
  });
}

int Move(lua_State* L) {
  return Guarded(L, [L] {
    const int x = IntegerArg(L, 1, "x"), y = IntegerArg(L, 2, "y");
    AsTheWindowDoes(L, "move", [=] { formframework::MouseMoved(&Window(), x, y); });
    return 0;
  });
}

// The pointer goes where the button acts first, as a hand moves it there.
int Button(lua_State* L, const char* name, bool down, bool up) {
  const int x = IntegerArg(L, 1, "x"), y = IntegerArg(L, 2, "y");
  const TMouseButton button = ButtonArg(L, 3);
  AsTheWindowDoes(L, name, [=] {
    formframework::MouseMoved(&Window(), x, y);
    if (down) formframework::MouseButtonDown(&Window(), button, x, y);
    if (up) formframework::MouseButtonUp(&Window(), button, x, y);
  });
  return 0;
}

int Press(lua_State* L) {
  return Guarded(L, [L] { return Button(L, "press", true, false); });
}

int Release(lua_State* L) {
  return Guarded(L, [L] { return Button(L, "release", false, true); });
}

int ClickAt(lua_State* L) {
  return Guarded(L, [L] { return Button(L, "click", true, true); });
}

int Wheel(lua_State* L) {
  return Guarded(L, [L] {
    const std::string name = StringArg(L, 1, "\"up\", \"down\", \"left\" or \"right\"");
    TWheelDirection direction = wdUp;
    if (name == "down")
      direction = wdDown;
    else if (name == "left")
      direction = wdLeft;
    else if (name == "right")
      direction = wdRight;
    else if (name != "up")
      luaL_argerror(L, 1, "should be \"up\", \"down\", \"left\" or \"right\"");
    const int x = IntegerArg(L, 2, "x"), y = IntegerArg(L, 3, "y");
    AsTheWindowDoes(L, "wheel", [=] {
      formframework::MouseMoved(&Window(), x, y);
      formframework::MouseWheel(&Window(), direction, x, y);
    });
    return 0;
  });
}

int Leave(lua_State* L) {
  return Guarded(L, [L] {
    AsTheWindowDoes(L, "leave", [] { formframework::MouseLeft(&Window()); });
    return 0;
  });
}

void KeyGoesDown(const std::string& name) {
  if (name == "shift") Run.ShiftHeld = true;
  formframework::KeyDown(&Window(), KeyCode(name), name, true);
  const std::string text = KeyText(name);
  if (!text.empty()) formframework::TextTyped(&Window(), text);
}

void KeyGoesUp(const std::string& name) {
  if (name == "shift") Run.ShiftHeld = false;
  formframework::KeyUp(&Window(), KeyCode(name));
}

int KeyDownFunction(lua_State* L) {
  return Guarded(L, [L] {
    const std::string name = StringArg(L, 1, "a key's name");
    if (name.empty()) luaL_argerror(L, 1, "should be a key's name");
    AsTheWindowDoes(L, "keyDown", [&] { KeyGoesDown(name); });
    return 0;
  });
}

int KeyUpFunction(lua_State* L) {
  return Guarded(L, [L] {
    const std::string name = StringArg(L, 1, "a key's name");
    AsTheWindowDoes(L, "keyUp", [&] { KeyGoesUp(name); });
    return 0;
  });
}

int KeyFunction(lua_State* L) {
  return Guarded(L, [L] {
    const std::string name = StringArg(L, 1, "a key's name");
    if (name.empty()) luaL_argerror(L, 1, "should be a key's name");
    AsTheWindowDoes(L, "key", [&] {
      KeyGoesDown(name);
      KeyGoesUp(name);
    });
    return 0;
  });
}

int TypeText(lua_State* L) {
  return Guarded(L, [L] {
    const std::string text = StringArg(L, 1, "a string");
    AsTheWindowDoes(L, "typeText", [&] { formframework::TextTyped(&Window(), text); });
    return 0;
  });
}

int Blur(lua_State* L) {
  return Guarded(L, [L] {
    AsTheWindowDoes(L, "blur", [] { formframework::KeyboardLost(&Window()); });
    Run.ShiftHeld = false;
    return 0;
  });
}

int Caption(lua_State* L) {
  return Guarded(L, [L] {
    const std::string caption = Window().Caption();
    lua_pushlstring(L, caption.data(), caption.size());
    return 1;
  });
}

const std::vector<unsigned char>& FrameOrRaise(lua_State* L) {
  if (!Run.Stepped) Raise(L, "there is no frame yet: kestrune.test.step draws one");
  if (!Run.FrameRead) {
    if (!ReadFrame(&Run.Frame)) Raise(L, "the frame cannot be read");
    Run.FrameRead = true;
  }
  return Run.Frame;
}

int Pixel(lua_State* L) {
  return Guarded(L, [L] {
    const int x = IntegerArg(L, 1, "x"), y = IntegerArg(L, 2, "y");
    const int width = Window().ClientWidth, height = Window().ClientHeight;
    if (x < 0 || y < 0 || x >= width || y >= height)
      Raise(L, "pixel " + std::to_string(x) + ", " + std::to_string(y) +
                   " is outside the frame of " + std::to_string(width) + " by " +
                   std::to_string(height));
    const auto& frame = FrameOrRaise(L);
    const size_t at = (size_t(y) * width + x) * 3;
    for (int c = 0; c < 3; ++c) lua_pushinteger(L, frame[at + c]);
    return 3;
  });
}

void WritePicture(lua_State* L, const std::string& path, uint32_t width, uint32_t height,
                  const std::vector<unsigned char>& rgb) {
  const std::string bytes = EncodePng(width, height, rgb.data());
  std::string reason = "the picture cannot be encoded";
  if (bytes.empty() || !WriteWholeFile(path, bytes, &reason))
    Raise(L, "cannot write " + path + ": " + reason);
}

int Screenshot(lua_State* L) {
  return Guarded(L, [L] {
    const std::string file = StringArg(L, 1, "a file name");
    const auto& frame = FrameOrRaise(L);
    WritePicture(L, file, Window().ClientWidth, Window().ClientHeight, frame);
    return 0;
  });
}

int ExpectScreenshot(lua_State* L) {
  return Guarded(L, [L] {
    const std::string name = StringArg(L, 1, "the reference's name");
    int channel = 2;
    double share = 0;
    if (lua_type(L, 2) == LUA_TNUMBER) {
      channel = IntegerArg(L, 2, "a difference per channel");
    } else if (lua_istable(L, 2)) {
      lua_getfield(L, 2, "channel");
      if (!lua_isnil(L, -1)) channel = IntegerArg(L, lua_gettop(L), "a difference per channel");
      lua_getfield(L, 2, "share");
      if (!lua_isnil(L, -1)) share = lua_tonumber(L, -1);
      lua_pop(L, 2);
    } else if (!lua_isnoneornil(L, 2)) {
      luaL_argerror(L, 2, "should be a difference per channel or {channel = n, share = s}");
    }
    if (channel < 0 || channel > 255 || !(share >= 0 && share <= 1))
      luaL_argerror(L, 2, "should allow 0 to 255 per channel and a share from 0 to 1");
    const auto& frame = FrameOrRaise(L);
    const std::string base = Run.TestFolder + name;
    // What an earlier failure left would otherwise outlive the fix.
    for (const char* left : {".actual.png", ".diff.png", ".new.png"}) RemoveFile(base + left);
    const uint32_t width = uint32_t(Window().ClientWidth), height = uint32_t(Window().ClientHeight);
    const std::string reference = base + ".png";
    const bool ci = std::getenv("CI") != nullptr;

    std::string bytes;
    uint32_t refWidth = 0, refHeight = 0;
    std::vector<unsigned char> expected;
    const bool exists = FileExists(reference);
    const bool decoded = exists && ReadBytes(reference, &bytes) &&
                         DecodePicture(bytes, reference, &refWidth, &refHeight, &expected);
    if (!decoded) {
      if (Run.Update && !ci) {
        WritePicture(L, reference, width, height, frame);
        Run.Notes.push_back("wrote " + reference);
        return 0;
      }
      WritePicture(L, base + ".new.png", width, height, frame);
      Raise(L, (exists ? "cannot read the reference " : "there is no reference ") + reference +
                   ": the frame is in " + base + ".new.png" +
                   (Run.Update ? " (references are not written while CI is set)"
                               : " (--update writes it)"));
    }
    // Pixels beyond the reference's size count as different; the diff shows them red, and those
    // within the tolerance as a faint grey of the frame.
    size_t beyond = 0;
    std::vector<unsigned char> diff(frame.size());
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        const size_t at = (size_t(y) * width + x) * 3;
        bool differs = x >= refWidth || y >= refHeight;
        if (!differs) {
          const size_t from = (size_t(y) * refWidth + x) * 3;
          for (int c = 0; c < 3; ++c)
            differs = differs || std::abs(int(frame[at + c]) - int(expected[from + c])) > channel;
        }
        if (differs) ++beyond;
        const int grey = (frame[at] * 3 + frame[at + 1] * 6 + frame[at + 2]) / 10;
        diff[at] = differs ? 255 : static_cast<unsigned char>(192 + grey / 4);
        diff[at + 1] = differs ? 0 : static_cast<unsigned char>(192 + grey / 4);
        diff[at + 2] = differs ? 0 : static_cast<unsigned char>(192 + grey / 4);
      }
    }
    const size_t total = size_t(width) * height;
    const bool sizesMatch = refWidth == width && refHeight == height;
    if (sizesMatch && double(beyond) <= share * double(total)) return 0;
    if (Run.Update && !ci) {
      WritePicture(L, reference, width, height, frame);
      Run.Notes.push_back("replaced " + reference);
      return 0;
    }
    WritePicture(L, base + ".actual.png", width, height, frame);
    WritePicture(L, base + ".diff.png", width, height, diff);
    std::string what = std::to_string(beyond) + " of " + std::to_string(total) +
                       " pixels differ by more than " + std::to_string(channel);
    if (!sizesMatch)
      what = "the reference is " + std::to_string(refWidth) + " by " + std::to_string(refHeight) +
             ", the frame " + std::to_string(width) + " by " + std::to_string(height);
    Raise(L, "the frame does not match " + reference + ": " + what + "; see " + base +
                 ".actual.png and " + base + ".diff.png");
  });
}

int Expect(lua_State* L) {
  return Guarded(L, [L] {
    if (lua_gettop(L) < 1) luaL_argerror(L, 1, "should be the value expected to be true");
    if (lua_toboolean(L, 1)) return 0;
    const std::string message =
        lua_isnoneornil(L, 2) ? std::string() : StringArg(L, 2, "a message");
    Raise(L, "expected a true value, got " + Shown(L, 1) +
                 (message.empty() ? std::string() : ": " + message));
  });
}

int ExpectEqual(lua_State* L) {
  return Guarded(L, [L] {
    if (lua_gettop(L) < 2) luaL_argerror(L, 2, "should be the value expected");
    // Plain equality, as == without metamethods: what the test wrote is what it gets.
    if (lua_rawequal(L, 1, 2)) return 0;
    const std::string message =
        lua_isnoneornil(L, 3) ? std::string() : StringArg(L, 3, "a message");
    Raise(L, "expected " + Shown(L, 2) + ", got " + Shown(L, 1) +
                 (message.empty() ? std::string() : ": " + message));
  });
}

// The error's first line, without the traceback a report carries after it.
std::string FirstLine(const std::string& report) {
  return report.substr(0, report.find('\n'));
}

bool Matches(lua_State* L, const std::string& text, const std::string& pattern) {
  // string.find of the library as it was opened, whatever the scene did to the global.
  lua_getglobal(L, "package");
  lua_getfield(L, -1, "loaded");
  lua_getfield(L, -1, "string");
  lua_getfield(L, -1, "find");
  lua_pushlstring(L, text.data(), text.size());
  lua_pushlstring(L, pattern.data(), pattern.size());
  lua_call(L, 2, 1);
  const bool found = !lua_isnil(L, -1);
  lua_pop(L, 4);
  return found;
}

int ExpectError(lua_State* L) {
  return Guarded(L, [L] {
    if (!lua_isfunction(L, 1)) luaL_argerror(L, 1, "should be a function");
    const bool hasPattern = !lua_isnoneornil(L, 2);
    const std::string pattern = hasPattern ? StringArg(L, 2, "a pattern") : std::string();
    const size_t before = Run.ExpectedErrors.size();
    ++Run.ExpectingErrors;
    lua_pushvalue(L, 1);
    const int status = lua_pcall(L, 0, 0, 0);
    --Run.ExpectingErrors;
    std::vector<std::string> errors(Run.ExpectedErrors.begin() + std::ptrdiff_t(before),
                                    Run.ExpectedErrors.end());
    Run.ExpectedErrors.resize(before);
    if (status != 0) {
      // Running out of time is no error the test can expect.
      if (Run.TimedOut) lua_error(L);
      errors.insert(errors.begin(), ErrorValueText(L, -1));
      lua_pop(L, 1);
    }
    if (errors.empty()) Raise(L, "expected an error, and none was raised");
    if (!hasPattern) {
      lua_pushlstring(L, errors.front().data(), errors.front().size());
      return 1;
    }
    for (const std::string& error : errors) {
      if (!Matches(L, error, pattern)) continue;
      lua_pushlstring(L, error.data(), error.size());
      return 1;
    }
    Raise(L, "expected an error matching \"" + pattern + "\", got: " + errors.front());
  });
}

int Boxes(lua_State* L) {
  return Guarded(L, [L] {
    lua_newtable(L);
    int position = 1;
    for (const std::string& text : Run.Boxes) {
      lua_pushlstring(L, text.data(), text.size());
      lua_rawseti(L, -2, position++);
    }
    Run.Boxes.clear();
    return 1;
  });
}

int SteppedTime(lua_State* L) {
  return Guarded(L, [L] {
    lua_pushnumber(L, LuaHost != nullptr ? LuaHost->Clock.Seconds() : 0);
    return 1;
  });
}

const std::vector<TKestruneFunction> TestFunctions = {
    {"test", Test},
    {"step", Step},
    {"move", Move},
    {"press", Press},
    {"release", Release},
    {"click", ClickAt},
    {"wheel", Wheel},
    {"leave", Leave},
    {"keyDown", KeyDownFunction},
    {"keyUp", KeyUpFunction},
    {"key", KeyFunction},
    {"typeText", TypeText},
    {"blur", Blur},
    {"caption", Caption},
    {"pixel", Pixel},
    {"screenshot", Screenshot},
    {"expectScreenshot", ExpectScreenshot},
    {"expect", Expect},
    {"expectEqual", ExpectEqual},
    {"expectError", ExpectError},
    {"boxes", Boxes},
};

// The scene's clock as the os library tells it, from a fixed date, the same random numbers at
// every start, and standard output and the process's end kept for the runner.
const char* const SteppedClockChunk = R"(
local now, start, seed = ...
local time, date, floor = os.time, os.date, math.floor
os.clock = function() return now() end
os.time = function(t)
  if t == nil then return start + floor(now()) end
  return time(t)
end
os.date = function(format, t)
  if t ~= nil then return date(format, t) end
  format = format or "%c"
  -- The stepped date is the same on every machine: told in UTC.
  if format:sub(1, 1) ~= "!" then format = "!" .. format end
  return date(format, start + floor(now()))
end
math.randomseed(seed)
-- Standard output holds the verdicts.
io.output(io.stderr)
-- A scene's quit button would end the run before its verdicts, with the scene's status.
os.exit = function() error("os.exit ends no run of tests", 2) end
)";

void ArmTimeout(double seconds) {
  Run.TimeoutSeconds = seconds;
  Run.Deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(seconds));
  Run.TimedOut = false;
  Run.Armed = true;
}

// Each new host of the run: its kestrune.test, its clock and its time limit, before the scene's
// start script runs.
void PrepareHost() {
  Run.Tests.clear();
  Run.Boxes.clear();
  Run.Stepped = false;
  Run.FrameRead = false;
  if (LuaHost == nullptr || LuaHost->LuaState == nullptr) return;
  lua_State* L = LuaHost->LuaState;
  AddKestruneFunctions(*LuaHost, "test", TestFunctions, nullptr);
  auto clock = [](lua_State* state) {
    if (luaL_loadbuffer(state, SteppedClockChunk, std::strlen(SteppedClockChunk),
                        "=stepped clock") != 0)
      lua_error(state);
    lua_pushcfunction(state, SteppedTime);
    lua_pushnumber(state, kStartDate);
    lua_pushinteger(state, kRandomSeed);
    lua_call(state, 3, 0);
  };
  RunProtected(L, clock);
  lua_sethook(L, TimeoutHook, LUA_MASKCOUNT, kHookEvery);
  ArmTimeout(kDefaultTimeout);
}

// A fresh start of the scene: a new interpreter, node tree and texture table, the pointer and
// the keys away from the window, the usual tick interval.
void FreshStart() {
  CLua* old = LuaHost;
  LuaHost = nullptr;
  // No host hears these: the new scene starts with the pointer outside and no key held.
  formframework::MouseLeft(&Window());
  formframework::KeyboardLost(&Window());
  formframework::MouseCaptureLost(&Window());
  Run.ShiftHeld = false;
  Run.Armed = false;
  delete old;
  GLScreen->ClearTextures();
  Main->SetTickInterval(DefaultTickMs);
  StartScene(Window());
  Main->SceneStarted();
}

enum class TLoad { Loaded, DoesNotCompile, Failed };

// Runs the test file at the top level of the scene's interpreter, where it declares its tests.
TLoad LoadTestFile(std::string* error) {
  std::string text;
  if (!ReadBytes(Run.TestPath, &text)) {
    *error = "cannot read " + Run.TestFile;
    return TLoad::DoesNotCompile;
  }
  if (LuaHost == nullptr || LuaHost->LuaState == nullptr) {
    *error = LuaHost != nullptr ? LuaHost->LastError() : "there is no script host";
    return TLoad::Failed;
  }
  lua_State* L = LuaHost->LuaState;
  bool compiled = false;
  auto load = [&](lua_State* state) {
    const std::string chunk = "@" + Run.TestFile;
    if (luaL_loadbuffer(state, text.data(), text.size(), chunk.c_str()) != 0) lua_error(state);
    compiled = true;
    lua_call(state, 0, 0);
  };
  Run.Collecting = true;
  std::string report;
  const bool ran = RunProtected(L, load, error, &report);
  Run.Collecting = false;
  if (!ran && error->empty()) *error = FirstLine(report);
  if (!compiled) return TLoad::DoesNotCompile;
  return ran ? TLoad::Loaded : TLoad::Failed;
}

// Runs one declared test in a coroutine of its own, so that the scene's interpreter is idle for
// the ticks and events the test brings about, as it is between the window's.
TVerdict RunTest(size_t index) {
  const TTest test = Run.Tests[index];
  TVerdict verdict;
  verdict.File = Run.TestFile;
  verdict.Name = test.Name;
  const Clock::time_point began = Clock::now();
  Run.HandlerErrors.clear();
  Run.ExpectedErrors.clear();
  Run.ExpectingErrors = 0;
  Run.Notes.clear();
  Run.Busy = false;
  lua_State* L = LuaHost->LuaState;
  lua_State* thread = nullptr;
  int threadRef = LUA_NOREF;
  auto prepare = [&](lua_State* state) {
    thread = lua_newthread(state);
    threadRef = luaL_ref(state, LUA_REGISTRYINDEX);
    lua_rawgeti(state, LUA_REGISTRYINDEX, test.FunctionRef);
    lua_xmove(state, thread, 1);
  };
  std::string error;
  if (!RunProtected(L, prepare, &error)) {
    verdict.Passed = false;
    verdict.Reasons.push_back("the test cannot start: " + error);
    return verdict;
  }
  lua_sethook(thread, TimeoutHook, LUA_MASKCOUNT, kHookEvery);
  ArmTimeout(test.Timeout);
  Run.InTest = true;
  const int status = lua_resume(thread, 0);
  Run.InTest = false;
  if (status == LUA_YIELD) {
    verdict.Reasons.push_back(Run.TestFile + ": the test yielded, which a test may not do");
  } else if (status != 0) {
    std::string message = ErrorValueText(thread, -1);
    if (message.empty())
      message = std::string("error object is a ") + luaL_typename(thread, -1) + " value";
    verdict.Reasons.push_back(message);
  }
  Run.Armed = false;
  // Out of time, every call raised the same: that is the one thing to say.
  if (Run.TimedOut) {
    verdict.Reasons.assign(1, "the test took longer than its " + NumberText(test.Timeout) + " s");
    Run.HandlerErrors.clear();
    Run.Boxes.clear();
  }
  auto release = [&](lua_State* state) { luaL_unref(state, LUA_REGISTRYINDEX, threadRef); };
  RunProtected(L, release);
  // A failing onTick fails on every step: each error is said once, with how often it came.
  std::vector<std::pair<std::string, int>> errors;
  for (const std::string& report : Run.HandlerErrors) {
    const std::string line = FirstLine(report);
    auto seen = std::find_if(errors.begin(), errors.end(),
                             [&](const std::pair<std::string, int>& e) { return e.first == line; });
    if (seen != errors.end())
      ++seen->second;
    else
      errors.emplace_back(line, 1);
  }
  for (const auto& error : errors)
    verdict.Reasons.push_back(
        "a handler raised an error" +
        (error.second > 1 ? " " + std::to_string(error.second) + " times" : std::string()) + ": " +
        error.first);
  for (const std::string& box : Run.Boxes)
    verdict.Reasons.push_back("a message box was not read with boxes(): " + box);
  Run.Boxes.clear();
  verdict.Passed = verdict.Reasons.empty();
  verdict.Seconds = std::chrono::duration<double>(Clock::now() - began).count();
  return verdict;
}

// ---------------------------------------------------------------------------------------------
// Verdicts

void Say(const std::string& line) {
  WriteOutputLineWaiting(line);
}

std::string Xml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        // XML 1.0 takes no control characters but tab and line breaks.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
          out += ' ';
        else
          out += c;
    }
  }
  return out;
}

std::string JunitText(const std::vector<TVerdict>& verdicts) {
  std::vector<std::string> files;
  for (const TVerdict& v : verdicts)
    if (std::find(files.begin(), files.end(), v.File) == files.end()) files.push_back(v.File);
  size_t failures = 0;
  for (const TVerdict& v : verdicts) failures += v.Passed ? 0 : 1;
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites tests=\"" +
                    std::to_string(verdicts.size()) + "\" failures=\"" + std::to_string(failures) +
                    "\">\n";
  for (const std::string& file : files) {
    size_t count = 0, failed = 0;
    double seconds = 0;
    for (const TVerdict& v : verdicts) {
      if (v.File != file) continue;
      ++count;
      failed += v.Passed ? 0 : 1;
      seconds += v.Seconds;
    }
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", seconds);
    xml += "  <testsuite name=\"" + Xml(file) + "\" tests=\"" + std::to_string(count) +
           "\" failures=\"" + std::to_string(failed) + "\" time=\"" + time + "\">\n";
    for (const TVerdict& v : verdicts) {
      if (v.File != file) continue;
      std::snprintf(time, sizeof time, "%.3f", v.Seconds);
      xml += "    <testcase classname=\"" + Xml(file) + "\" name=\"" + Xml(v.Name) + "\" time=\"" +
             time + "\"";
      if (v.Passed) {
        xml += "/>\n";
        continue;
      }
      std::string all;
      for (const std::string& reason : v.Reasons) all += reason + "\n";
      xml += ">\n      <failure message=\"" + Xml(v.Reasons.front()) + "\">" + Xml(all) +
             "</failure>\n    </testcase>\n";
    }
    xml += "  </testsuite>\n";
  }
  return xml + "</testsuites>\n";
}

// TAP: a test's line, then its reasons and notes as comment lines.
void SayVerdict(const TVerdict& verdict, size_t number) {
  Say(std::string(verdict.Passed ? "ok " : "not ok ") + std::to_string(number) + " - " +
      verdict.Name);
  for (const std::string& reason : verdict.Reasons) {
    std::string::size_type start = 0;
    while (start <= reason.size()) {
      const std::string::size_type end = reason.find('\n', start);
      Say("#   " +
          reason.substr(start, end == std::string::npos ? std::string::npos : end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  for (const std::string& note : Run.Notes) Say("# " + note);
  Run.Notes.clear();
}

// The window the runs use: never shown without a window system, never ticking by itself.
bool OpenWindow() {
  TicksStepped = true;
  // Text as every machine draws it: English unless the style says otherwise, and characters only
  // from the bundled fonts and the scene's own.
  SetDefaultTextLanguage("en");
  SetSystemFontFallback(false);
  SceneWindow.PrintLine = [](const std::string& line) { WriteErrorLine(line); };
  ScriptErrorSeen = [](const std::string& report) {
    if (Run.ExpectingErrors > 0)
      Run.ExpectedErrors.push_back(FirstLine(report));
    else if (Run.InTest)
      Run.HandlerErrors.push_back(report);
  };
  // A box is answered at once; like a real one it takes the keyboard and the pointer from the
  // window while it is open.
  SetMessageBoxHook([](const std::string& text, const std::string& caption) {
    Run.Boxes.push_back(caption.empty() ? text : caption + ": " + text);
    WriteErrorLine("kestrune: message box " + caption + ": " + text);
    if (Main != nullptr) {
      formframework::KeyboardLost(Main);
      formframework::MouseCaptureLost(Main);
    }
    return IDOK;
  });
  BeforeStartScript = PrepareHost;
  if (!Application->InitializeHeadless()) return false;
  Application->CreateForm(&Main);
  return GLScreen != nullptr;
}

void CloseWindow() {
  Run.Armed = false;
  Application->DestroyForms();
  BeforeStartScript = nullptr;
  SetMessageBoxHook(nullptr);
  ScriptErrorSeen = nullptr;
  SceneWindow.PrintLine = nullptr;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

int RunSceneTests(const TCommandLine& options, const std::string& startFolder) {
  struct TFile {
    std::string Shown, Path;
  };
  std::vector<TFile> files;
  if (options.TestFiles.empty()) {
    std::vector<std::string> names = FilesInFolder(SceneFolder + "tests");
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
      if (EndsWith(name, "_test.lua")) files.push_back({"tests/" + name, "tests/" + name});
    if (files.empty()) {
      WriteErrorLine("kestrune: " + SceneFolder + "tests holds no *_test.lua file");
      return 2;
    }
  } else {
    for (const std::string& name : options.TestFiles) {
      const std::string path = FromStartFolder(startFolder, name);
      if (!FileExists(path)) {
        WriteErrorLine("kestrune: " + name + ": there is no such test file");
        return 2;
      }
      // Inside the scene's folder a file is named from there, as its chunks are.
      std::string shown = path;
      if (shown.compare(0, SceneFolder.size(), SceneFolder) == 0)
        shown = shown.substr(SceneFolder.size());
      files.push_back({shown, path});
    }
  }
  Run.Update = options.Update;

  if (!OpenWindow()) {
    CloseWindow();
    WriteErrorLine("kestrune: the scene's tests need an OpenGL context, and none could be made");
    return 2;
  }
  Say("TAP version 13");
  std::vector<TVerdict> verdicts;
  bool compileError = false;
  bool pristine = true;  // the host of the window's creation has run no test yet
  for (const TFile& file : files) {
    Run.TestFile = file.Shown;
    Run.TestPath = file.Path;
    Run.TestFolder = FolderOf(file.Path);
    Say("# " + file.Shown);
    if (!pristine) FreshStart();
    pristine = false;
    std::string error;
    TLoad load = LoadTestFile(&error);
    for (size_t index = 0; load == TLoad::Loaded && index < Run.Tests.size(); ++index) {
      if (index > 0 && Run.Tests[index].Fresh) {
        const size_t count = Run.Tests.size();
        FreshStart();
        load = LoadTestFile(&error);
        if (load == TLoad::Loaded && Run.Tests.size() != count) {
          load = TLoad::Failed;
          error = file.Shown + ": declared " + std::to_string(Run.Tests.size()) +
                  " tests on a fresh start, " + std::to_string(count) + " before";
        }
        if (load != TLoad::Loaded) break;
      }
      const TVerdict verdict = RunTest(index);
      verdicts.push_back(verdict);
      SayVerdict(verdict, verdicts.size());
      // A test that ran out of time may have left the scene anywhere: the next starts afresh.
      if (Run.TimedOut && index + 1 < Run.Tests.size()) {
        const size_t count = Run.Tests.size();
        FreshStart();
        load = LoadTestFile(&error);
        if (load == TLoad::Loaded && Run.Tests.size() != count) load = TLoad::Failed;
      }
    }
    if (load != TLoad::Loaded) {
      TVerdict verdict;
      verdict.File = file.Shown;
      verdict.Passed = false;
      verdict.Name = file.Shown + (load == TLoad::DoesNotCompile ? " does not compile"
                                                                 : " fails at its top level");
      verdict.Reasons.push_back(error);
      compileError = compileError || load == TLoad::DoesNotCompile;
      verdicts.push_back(verdict);
      SayVerdict(verdict, verdicts.size());
    }
  }
  CloseWindow();

  size_t failed = 0;
  for (const TVerdict& v : verdicts) failed += v.Passed ? 0 : 1;
  Say("1.." + std::to_string(verdicts.size()));
  Say("# tests " + std::to_string(verdicts.size()));
  Say("# pass " + std::to_string(verdicts.size() - failed));
  Say("# fail " + std::to_string(failed));
  if (!options.Junit.empty()) {
    std::string reason;
    const std::string path = FromStartFolder(startFolder, options.Junit);
    if (!WriteWholeFile(path, JunitText(verdicts), &reason)) {
      WriteErrorLine("kestrune: cannot write " + options.Junit + ": " + reason);
      return 2;
    }
  }
  if (compileError) return 2;
  return failed == 0 ? 0 : 1;
}

int TakeSceneScreenshot(const TCommandLine& options, const std::string& startFolder) {
  if (!OpenWindow()) {
    CloseWindow();
    WriteErrorLine("kestrune: a screenshot needs an OpenGL context, and none could be made");
    return 1;
  }
  Run.Armed = false;
  for (int i = 0; i < options.Ticks; ++i) Main->StepScene(Main->Timer1.Interval / 1000.0);
  std::vector<unsigned char> frame;
  const bool read = ReadFrame(&frame);
  const int width = Window().ClientWidth, height = Window().ClientHeight;
  CloseWindow();
  const std::string path = FromStartFolder(startFolder, options.Screenshot);
  const std::string bytes = read ? EncodePng(uint32_t(width), uint32_t(height), frame.data()) : "";
  std::string reason = "the frame cannot be read";
  if (bytes.empty() || !WriteWholeFile(path, bytes, &reason)) {
    WriteErrorLine("kestrune: cannot write " + options.Screenshot + ": " + reason);
    return 1;
  }
  return 0;
}
