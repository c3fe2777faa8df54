// libFuzzer entry for everything a script can reach: the input is read as a list of operations
// on a fresh script host over the program's real window and screen (an X server must be there,
// scripts/fuzz starts Xvfb). The operations call the six node functions, createTexture and
// print with arguments of any type and value (a node function also with a colon, so that it
// gets its own table first), write any value under any key of a node table, give node tables
// and their `nodes` tables hostile metatables, build deep and wide trees, run script files,
// draw frames and deliver pointer events at any point, NaN and infinities included.
//
// The screen is the real one rather than a stand-in that records draws: a host, a few hundred
// operations and their frames take a few milliseconds on Mesa's software renderer, and this way
// the loaders' uploads and every GL call run as they do in the program. The loaders' message
// boxes are replaced by one that, like the real box's own message loop, draws a frame and
// delivers a click while the script that loaded the texture still waits.
//
// Encoding: each operation is one byte (its value modulo the number of operations) followed by
// the bytes it reads; reading past the end gives zeros. tests/fuzz/make_seeds.py writes seeds
// in this encoding, so keep the two in step.
#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ScratchFolder.h"
#include "TestImages.h"
#include "WindowScreen.h"
#include "app/Main_un.h"
#include "app/Util_un.h"
#include "bind/LuaBind.h"
#include "platform/Platform.h"
#include "render/Graph_un.h"
#include "script/Lua_un.h"
#include "script/SceneWindow.h"
#include "script/ScriptFunctions.h"

using namespace LuaBind;

namespace {

// Bounds that keep one input to a few milliseconds.
constexpr size_t MaxOperations = 300;
constexpr size_t MaxNodes = 1500;
constexpr int PoolSize = 48;

enum TOperation {
  OpCallNodeFunction,
  OpCreateTexture,
  OpPrint,
  OpWriteField,
  OpSetMetatable,
  OpDrawFrame,
  OpMouseEvent,
  OpNumber,
  OpString,
  OpGrowTree,
  OpLoadScript,
  OperationCount
};

// Values to pick from, made once per host. Handlers, metatables and odd values: everything the
// hostile scripts of the end-to-end tests use, in small.
const char* const Prelude = R"(
local pool = {}
local function add(v) pool[#pool + 1] = v end
local function spin() local n = 0 for i = 1, 200 do n = n + i end return n end
add(0) add(-1) add(10) add(400) add(1e300) add(-1e300) add(0/0) add(1/0) add(-1/0) add(2^31)
add(-2^31 - 1) add(2^53) add(0.5) add(-0.0)
add("") add("p") add("40") add("0x10") add(" 7 ") add("q\0z") add("good.bmp") add("id")
add(true) add(false)
add({}) add({ left = 5, top = 5, width = 50, height = 50, [1] = 2, [true] = 3 })
add({ id = "t", nodes = 7, parent = false, createNode = 1, onLeftPress = print })
add(function() error("raised") end)
add(function() error({}) end)
add(function() error(nil) end)
add(function() error(setmetatable({}, { __tostring = function() error("again") end })) end)
add(function(self) spin() end)
add(function(self, x, y) if type(self) == "table" and type(self.createNode) == "function" then
  local child = self.createNode{ left = x, top = y, width = 1, height = 1 }
  child.onLeftPress = self.onLeftPress end end)
add(function() createTexture("damaged.tga") end)
add(function(self) if type(self) == "table" then self.nodes = nil; self.parent = self end end)
add(coroutine.create(spin))
add(newproxy(true))
add(print)
add(createTexture)
add(setmetatable({}, { __index = function() error("index") end }))
local metatables = {
  { __index = function() error("index raised") end },
  { __index = function() error({}) end },
  { __index = function(t, k) spin() return 3 end },
  { __index = function(t, k) return t[k] end },
  { __index = function() return 0/0 end },
  { __index = pool[26] },
  { __newindex = function() error("read only") end },
  { __index = function(t, k) if k == "onLeftPress" then return pool[34] end end },
  { __metatable = false, __index = function() coroutine.yield() end },
}
return pool, metatables
)";

const char* const FileNames[] = {
    "good.bmp",  "good.tga", "good.jpg",   "cut.bmp",     "damaged.tga", "damaged.jpg",
    "empty.bmp", "GOOD.BMP", "folder.bmp", "missing.bmp", "good.png",    "",
};
const char* const ScriptNames[] = {"ok.lua", "syntax.lua", "raise.lua", "nil.lua", "missing.lua"};
const char* const FieldKeys[] = {
    "left",    "top",         "width",         "height",       "id",         "nodes",
    "parent",  "onLeftPress", "onLeftRelease", "onRightPress", "onPress",    "createNode",
    "getNode", "setAttr",     "createPicture", "setPicture",   "getPicture",
};
const char* const NodeFunctionNames[] = {"createNode",    "getNode",    "setAttr",
                                         "createPicture", "setPicture", "getPicture"};
const lua_CFunction NodeFunctions[] = {LuaScript::createNode, LuaScript::getNode,
                                       LuaScript::setAttr,    LuaScript::createPicture,
                                       LuaScript::setPicture, LuaScript::getPicture};
const char* const EventNames[] = {"LeftPress",   "LeftRelease",   "RightPress", "RightRelease",
                                  "MiddlePress", "MiddleRelease", "Press",      "Release"};

class TInput {
 public:
  TInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Done() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  template <typename T>
  T Raw() {
    uint8_t bytes[sizeof(T)];
    for (uint8_t& b : bytes) b = Byte();
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

struct TState {
  lua_State* L = nullptr;
  int PoolRef = LUA_NOREF;
  int MetatablesRef = LUA_NOREF;
  int NextSlot = 0;  // where the next new value goes once the pool is full
  int BoxDepth = 0;
  size_t Nodes = 1;
};

TState State;

size_t CountNodes(CLuaNode* node) {
  size_t count = 1;
  for (CLuaNode* child : node->Children) count += CountNodes(child);
  return count;
}

// A node reached from the root by a path the input chooses.
CLuaNode* PickNode(TInput& in) {
  CLuaNode* node = LuaHost->Root.get();
  for (int step = 0; step < 64; ++step) {
    const uint8_t b = in.Byte();
    if (b < 64 || node->Children.empty()) break;
    // The last child, all the way down: the deep end of a chain in one byte.
    if (b == 255) {
      while (!node->Children.empty()) node = node->Children.back();
      break;
    }
    node = node->Children[b % node->Children.size()];
  }
  return node;
}

void PushValue(TInput& in) {
  lua_State* L = State.L;
  const uint8_t b = in.Byte();
  if (b >= 0xF0) {
    PickNode(in)->PushTable(L);
    return;
  }
  lua_getref(L, State.PoolRef);
  const int count = luaL_getn(L, -1);
  lua_rawgeti(L, -1, 1 + b % count);
  lua_remove(L, -2);
}

void AddToPool(int index) {
  lua_State* L = State.L;
  lua_pushvalue(L, index);
  lua_getref(L, State.PoolRef);
  lua_insert(L, -2);
  const int count = luaL_getn(L, -2);
  if (count < PoolSize) {
    lua_rawseti(L, -2, count + 1);
  } else {
    // The prelude's values stay; the slots after them take turns.
    lua_rawseti(L, -2, 1 + (State.NextSlot++ % count));
  }
  lua_pop(L, 1);
}

// Calls the function below `args` arguments and keeps its first result.
void CallAndKeep(int args) {
  lua_State* L = State.L;
  const int base = lua_gettop(L) - args - 1;
  if (lua_pcall(L, args, 1, 0) == 0 && !lua_isnil(L, -1)) AddToPool(-1);
  lua_settop(L, base);
}

void PushNodeFunction(CLuaNode* node, int which) {
  // The functions reach their node through its cell; the node's table keeps the cell alive.
  lua_pushlightuserdata(State.L, node->Cell);
  lua_pushcclosure(State.L, NodeFunctions[which], 1);
}

// Replaces the table at the top by its `nodes` field, read without metamethods (this code runs
// outside any protected call).
void PushRawNodes() {
  lua_pushstring(State.L, "nodes");
  lua_rawget(State.L, -2);
  lua_remove(State.L, -2);
}

int SetField(lua_State* L) {
  lua_settable(L, 1);
  return 0;
}

void DrawFrame() {
  GLScreen->BeginFrame();
  LuaHost->DrawNodes();
}

void Click(float x, float y, const char* name) {
  LuaHost->MouseEvent(TFloatPoint{x, y}, name);
}

float PickCoordinate(TInput& in) {
  switch (in.Byte() % 8) {
    case 0:
      return NAN;
    case 1:
      return INFINITY;
    case 2:
      return -INFINITY;
    case 3:
      return 0;
    case 4:
      return in.Raw<float>();
    default:
      return float(in.Byte()) * 4;
  }
}

void Run(TInput& in) {
  lua_State* L = State.L;
  for (size_t done = 0; done < MaxOperations && !in.Done(); ++done) {
    switch (in.Byte() % OperationCount) {
      case OpCallNodeFunction: {
        CLuaNode* node = PickNode(in);
        const int which = in.Byte() % 6;
        const uint8_t shape = in.Byte();
        // Half the calls take the function from the table, as a script would, when it is
        // still a function there.
        if (shape & 0x80) {
          node->PushTable(L);
          lua_pushstring(L, NodeFunctionNames[which]);
          lua_rawget(L, -2);
          lua_remove(L, -2);
          if (!lua_isfunction(L, -1)) {
            lua_pop(L, 1);
            PushNodeFunction(node, which);
          }
        } else {
          PushNodeFunction(node, which);
        }
        int args = shape % 8;
        if (shape & 0x40) {
          node->PushTable(L);  // called with a colon
          ++args;
        }
        for (int i = (shape & 0x40) ? 1 : 0; i < args; ++i) PushValue(in);
        const bool grows = which == 0;
        if (grows && State.Nodes >= MaxNodes) {
          lua_settop(L, 0);
          break;
        }
        CallAndKeep(args);
        if (grows) ++State.Nodes;
        break;
      }
      case OpCreateTexture: {
        lua_pushcfunction(L, LuaScript::createTexture);
        const uint8_t shape = in.Byte();
        const int args = shape % 5;
        for (int i = 0; i < args; ++i) {
          if (i == 0 && (shape & 0x80))
            lua_pushstring(L, FileNames[in.Byte() % (sizeof FileNames / sizeof *FileNames)]);
          else
            PushValue(in);
        }
        CallAndKeep(args);
        break;
      }
      case OpPrint: {
        lua_pushcfunction(L, LuaScript::print);
        const int args = in.Byte() % 6;
        for (int i = 0; i < args; ++i) PushValue(in);
        CallAndKeep(args);
        break;
      }
      case OpWriteField: {
        CLuaNode* node = PickNode(in);
        const uint8_t how = in.Byte();
        lua_pushcfunction(L, SetField);
        node->PushTable(L);
        if (how & 0x80) {
          // The node's `nodes` table instead, where the next child is stored.
          PushRawNodes();
        }
        if (how & 0x40)
          PushValue(in);
        else
          lua_pushstring(L, FieldKeys[in.Byte() % (sizeof FieldKeys / sizeof *FieldKeys)]);
        PushValue(in);
        if (lua_isnil(L, -2) ||
            (lua_type(L, -2) == LUA_TNUMBER && std::isnan(lua_tonumber(L, -2))) ||
            !lua_istable(L, -3)) {
          lua_settop(L, 0);
          break;
        }
        if (how & 0x20) {
          lua_rawset(L, -3);
          lua_settop(L, 0);
        } else {
          CallAndKeep(3);
        }
        break;
      }
      case OpSetMetatable: {
        CLuaNode* node = PickNode(in);
        const uint8_t which = in.Byte();
        node->PushTable(L);
        if (which & 0x80) PushRawNodes();
        if (lua_istable(L, -1)) {
          lua_getref(L, State.MetatablesRef);
          const int count = luaL_getn(L, -1);
          const int pick = which % 16;
          if (pick >= count)
            lua_pushnil(L);
          else
            lua_rawgeti(L, -1, pick + 1);
          lua_remove(L, -2);
          lua_setmetatable(L, -2);
        }
        lua_settop(L, 0);
        break;
      }
      case OpDrawFrame:
        DrawFrame();
        if (in.Byte() & 1) GLScreen->EndFrame();
        break;
      case OpMouseEvent: {
        const float x = PickCoordinate(in);
        const float y = PickCoordinate(in);
        Click(x, y, EventNames[in.Byte() % (sizeof EventNames / sizeof *EventNames)]);
        break;
      }
      case OpNumber: {
        lua_pushnumber(L, in.Raw<double>());
        AddToPool(-1);
        lua_settop(L, 0);
        break;
      }
      case OpString: {
        std::string text;
        for (int n = in.Byte() % 24; n > 0; --n) text += char(in.Byte());
        lua_pushlstring(L, text.data(), text.size());
        AddToPool(-1);
        lua_settop(L, 0);
        break;
      }
      case OpGrowTree: {
        // Many nodes at once: a chain (each a child of the last) or a fan under one node.
        CLuaNode* node = PickNode(in);
        const uint8_t shape = in.Byte();
        size_t count = 1 + size_t(in.Byte()) * 4;
        // A script file may have taken the count past the bound already.
        if (State.Nodes + count > MaxNodes)
          count = State.Nodes < MaxNodes ? MaxNodes - State.Nodes : 0;
        for (size_t i = 0; i < count; ++i) {
          PushNodeFunction(node, 0);
          if (lua_pcall(L, 0, 1, 0) != 0) {
            lua_settop(L, 0);
            break;
          }
          lua_settop(L, 0);
          ++State.Nodes;
          if (shape & 1) node = node->Children.back();
        }
        break;
      }
      case OpLoadScript:
        LuaHost->LoadScript(ScriptNames[in.Byte() % (sizeof ScriptNames / sizeof *ScriptNames)]);
        State.Nodes = CountNodes(LuaHost->Root.get());
        break;
    }
    // Nothing a call leaves behind is ours to keep.
    lua_settop(L, 0);
  }
}

// The loaders' message box: the real one runs a message loop that draws frames and delivers
// clicks while it is open.
int FakeMessageBox(const std::string&, const std::string&) {
  if (State.BoxDepth < 2 && LuaHost != nullptr && LuaHost->LuaState != nullptr) {
    ++State.BoxDepth;
    DrawFrame();
    Click(400, 300, "LeftPress");
    --State.BoxDepth;
  }
  return IDOK;
}

// The scratch folder that stands in for the program's folder, removed when the fuzzer ends.
const testfs::ScratchFolder& Scratch() {
  static const testfs::ScratchFolder folder("kestrune-fuzz-");
  return folder;
}

template <typename TBytes>
void Write(const std::string& name, const TBytes& bytes) {
  Scratch().Write(name, bytes);
}

// A disc whose edge fades out, on a transparent ground: its pictures draw blended.
TRgba Disc(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
  const int dx = int(2 * x + 1 - width), dy = int(2 * y + 1 - height);
  return {240, uint8_t(20 * x), 40, uint8_t(std::max(0, 255 - (dx * dx + dy * dy) * 4))};
}

// The files the operations load, in a folder that stands in for the program's folder (the
// working folder stays, so that inputs named on the command line are found).
void MakeFiles() {
  if (Scratch().Path().empty()) std::abort();
  ProgramFolder = Scratch().Path() + "/";
  TBmpOptions grey;
  grey.sizeImageZero = true;
  grey.padding = 0x60;
  const TPattern greyPixels = Flat({0x60, 0x60, 0x60});
  Write("good.bmp", MakeBmp(5, 3, grey, greyPixels));
  Write("GOOD.BMP", MakeBmp(2, 2, grey, greyPixels));
  const std::vector<uint8_t> cut = MakeBmp(8, 8, grey, greyPixels);
  Write("cut.bmp", std::vector<uint8_t>(cut.begin(), cut.begin() + 80));
  Write("empty.bmp", std::string());
  const TPattern tgaPixels = Flat({0x30, 0x30, 0x30});
  Write("good.tga", MakeTga(3, 3, {}, tgaPixels));
  TTgaOptions compressed;
  compressed.imageType = 10;
  Write("damaged.tga", MakeTga(4, 4, compressed, tgaPixels));
  // The encoder's default quality.
  const std::vector<uint8_t> jpeg =
      MakeJpeg(9, 7, TJpegKind::Colour, false, Flat({200, 200, 200}), 75);
  Write("good.jpg", jpeg);
  Write("damaged.jpg", std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() / 2));
  Write("good.png", MakePng(7, 5, true, [](uint32_t x, uint32_t y) { return Disc(x, y, 7, 5); }));
  if (!testfs::MakeFolder(Scratch().File("folder.bmp"))) std::abort();
  Write("ok.lua",
        "local n = root.createNode('s') n.setAttr{ left = 1, width = 9, height = 9 }\n"
        "n.createPicture('p', createTexture('good.tga'), 0, 0, 1, 1) n.setPicture('p')\n");
  Write("syntax.lua", "x = = 1\n");
  Write("raise.lua", "root.createNode('r') error({})\n");
  Write("nil.lua", "error(nil)\n");
}

void StartHost() {
  LuaHost = new CLua();
  State = TState();
  State.L = LuaHost->LuaState;
  if (State.L == nullptr) std::abort();
  lua_State* L = State.L;
  if (luaL_loadbuffer(L, Prelude, std::strlen(Prelude), "=prelude") != 0 ||
      lua_pcall(L, 0, 2, 0) != 0) {
    std::fprintf(stderr, "prelude: %s\n", lua_tostring(L, -1));
    std::abort();
  }
  State.MetatablesRef = lua_ref(L, true);
  State.PoolRef = lua_ref(L, true);
}

void StopHost() {
  delete LuaHost;
  LuaHost = nullptr;
  // The screen outlives the hosts, and its texture table only grows: start each input afresh.
  for (const TGLTexture& texture : GLScreen->TextureTable)
    if (texture.TextureId != 0) glDeleteTextures(1, &texture.TextureId);
  GLScreen->TextureTable.clear();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Set8087CW(0x133F);
  LuaLibraryName = LuaLibraryDefaultName;
  if (!Application->Initialize()) {
    std::fprintf(stderr, "fuzz_script needs an X server (DISPLAY)\n");
    std::exit(1);
  }
  MakeFiles();
  // The window and screen the program's main window would make, kept to the end.
  TWindowScreen* window = new TWindowScreen();
  if (!window->OpenScreen(LogicalScreenWidth, LogicalScreenHeight)) std::exit(1);
  window->ShowWindow();
  // print writes its caption, as it writes the main window's.
  SceneWindow.SetCaption = [window](const std::string& text) { window->Form->SetCaption(text); };
  SetMessageBoxHook(FakeMessageBox);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StartHost();
  TInput in(data, size);
  Run(in);
  StopHost();
  return 0;
}
