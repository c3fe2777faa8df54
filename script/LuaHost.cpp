// The script host: the interpreter's start, running script files through the cache, and the
// delivery of pointer, wheel and key events with what the pointer is over.
#include <algorithm>

#include "app/Util_un.h"
#include "script/KestruneTable.h"
#include "script/Lua_un.h"
#include "script/ProtectedRead.h"
#include "script/ScriptConsole.h"
#include "script/ScriptFunctions.h"
#include "script/ScriptWrites.h"

using namespace LuaBind;

namespace {

// The error value at the top as text: empty when it is neither a string nor a number.
std::string ErrorValue(lua_State* L) {
  return ErrorValueText(L, -1);
}

}  // namespace

const size_t MaxScriptBytes = size_t(16) << 20;

CLua::CLua() {
  const intptr_t bound = BindLuaLibrary(std::string());
  // Without the library nothing may call into it: the host stays, empty and inert, and says
  // why whenever it is asked to run a script.
  if (bound == -1) MissingInterpreter = "Lua library " + LuaLibraryName + ": file not found";
  if (bound == -2) MissingInterpreter = "Lua library " + LuaLibraryName + ": cannot be loaded";
  if (bound == -3)
    MissingInterpreter = "Lua library " + LuaLibraryName +
                         ": not the C++ build of Lua the program needs (a C build's errors would "
                         "skip the program's clean-up); use the " +
                         LuaLibraryName + " that comes with the program";
  if (bound > 0) {
    LuaState = lua_open();
    if (LuaState == nullptr)
      MissingInterpreter = "Lua library " + LuaLibraryName + ": cannot create an interpreter";
  }
  if (LuaState == nullptr) {
    HitList = std::make_unique<CLuaNodeList>();
    Root = std::make_unique<CLuaNode>(nullptr);
    return;
  }
  HitList = std::make_unique<CLuaNodeList>();
  Root = std::make_unique<CLuaNode>(nullptr);
  // Opening the libraries can raise (on Windows the package library raises when it cannot get
  // the program's path), and so can any allocation: the set-up runs protected, and a failure
  // leaves a host without an interpreter that reports it as the start script's error.
  auto setUp = [this](lua_State* L) {
    luaL_openlibs(L);
    lua_register(L, "print", LuaScript::print);
    lua_register(L, "createTexture", LuaScript::createTexture);
    RegisterKestruneTable(L, this);
    Root->CreateTable(L, "root");
    lua_pop(L, 1);  // the root's table, which CreateTable leaves pushed
    PrepareProtectedReads(L);
  };
  std::string failure;
  bool ready = false;
  try {
    ready = RunProtectedOnce(LuaState, setUp, &failure);
  } catch (...) {
    lua_close(LuaState);
    throw;
  }
  if (!ready) {
    lua_close(LuaState);
    LuaState = nullptr;
    // The nodes made so far belonged to the closed interpreter.
    Root = std::make_unique<CLuaNode>(nullptr);
    MissingInterpreter = "Lua library " + LuaLibraryName + ": cannot start the interpreter: " +
                         (failure.empty() ? std::string("unknown error") : failure);
    return;
  }
  NoteScriptWrites(LuaState);  // without it (no memory), a scene's own writes just count
}

CLua::~CLua() {
  HitList.reset();
  if (LuaState != nullptr) lua_close(LuaState);
  // The nodes go after the interpreter: closing it may still run script code that uses them.
  Root.reset();
}

bool CLua::ReadChunk(const std::string& resolvedPath, const std::string& path, std::string* text,
                     std::string* error) {
  HANDLE file = CreateFileA(resolvedPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = "cannot open " + path + ": " + SysErrorMessage(GetLastError());
    return false;
  }
  // What the file system says of the size is only a hint: a link to a file of /proc reports an
  // empty file and reads without end. The cap holds whatever it says.
  const int64_t size = GetFileSize64(file);
  if (size > 0) text->reserve(static_cast<size_t>(std::min<int64_t>(size, MaxScriptBytes)));
  char block[65536];
  bool failed = false;
  bool tooLarge = false;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, block, sizeof block, &got, nullptr)) {
      failed = true;
      break;
    }
    if (got == 0) break;
    if (text->size() + got > MaxScriptBytes) {
      tooLarge = true;
      break;
    }
    text->append(block, got);
  }
  const DWORD readError = GetLastError();
  CloseHandle(file);
  if (tooLarge) {
    text->clear();
    *error = "cannot read " + path + ": a start script may be at most " +
             std::to_string(MaxScriptBytes >> 20) + " MiB, and this file is larger";
    return false;
  }
  if (failed) {
    *error = "cannot read " + path + ": " + SysErrorMessage(readError);
    return false;
  }
  return true;
}

bool CLua::LoadScript(const std::string& fileName) {
  try {
    return RunScript(fileName);
  } catch (const std::exception& error) {
    // Out of memory, in practice: reported like any other failure, never raised.
    ErrorText = error.what();
    if (LuaState != nullptr) lua_settop(LuaState, 0);
    return false;
  }
}

bool CLua::RunScript(const std::string& fileName) {
  ErrorReport.clear();
  const std::string resolved = ResolveDataPath(fileName);
  const std::string path = AnsiLowerCase(resolved);
  if (LuaState == nullptr) {
    ErrorText = MissingInterpreter;
    WriteErrorLine(ErrorText);
    return false;
  }
  if (path.empty()) {
    ErrorText = AnsiLowerCase(fileName) +
                (DataPathHoldsNoFile(fileName) ? ": not a regular file" : ": file not found");
    WriteErrorLine(ErrorText);
    return false;
  }

  const int base = lua_gettop(LuaState);
  const TLuaFile* entry = nullptr;
  for (const TLuaFile& file : Files) {
    if (file.FileName == path) {
      entry = &file;
      break;
    }
  }
  if (entry == nullptr) {
    std::string text;
    std::string readError;
    const bool read = ReadChunk(resolved, path, &text, &readError);
    bool compiled = false;
    // The file is read under the name it was found by, while the chunk is named after the
    // lower-cased path: messages then begin with that path, as they would from luaL_loadfile.
    auto compile = [&](lua_State* L) {
      if (!read) {
        lua_pushlstring(L, readError.data(), readError.size());
        lua_error(L);
      }
      // A first line starting with '#' is skipped, its line break kept so line numbers still
      // count from the file's first line; a compiled chunk after it is read without it.
      size_t start = 0;
      if (!text.empty() && text[0] == '#') {
        start = text.find('\n');
        if (start == std::string::npos) start = text.size();
        if (start + 1 < text.size() && text[start + 1] == LUA_SIGNATURE[0]) ++start;
      }
      const std::string chunkName = "@" + path;
      if (luaL_loadbuffer(L, text.data() + start, text.size() - start, chunkName.c_str()) != 0)
        lua_error(L);
      TLuaFile file;
      file.FileName = path;
      file.ChunkRef = lua_ref(L, true);
      Files.push_back(file);
      compiled = true;
    };
    std::string failure;
    if (!RunProtected(LuaState, compile, &failure) || !compiled) {
      ErrorText = failure;
      lua_settop(LuaState, base);
      return false;
    }
    entry = &Files.back();
  }

  PushTracebackHandler(LuaState);
  lua_getref(LuaState, entry->ChunkRef);
  if (lua_pcall(LuaState, 0, LUA_MULTRET, base + 1) != 0) {
    ErrorReport = ScriptErrorReport(LuaState);
    WriteErrorLine(ErrorReport);
    ErrorText = ErrorValue(LuaState);
    lua_settop(LuaState, base);
    return false;
  }
  // Whatever the chunk returned is of no use, and would pile up with every run.
  lua_settop(LuaState, base);
  ErrorText.clear();
  ErrorReport.clear();
  DeleteRemovedNodes();
  return true;
}

std::string CLua::LastError() const {
  return ErrorText;
}

bool CLua::ScriptRunning() const {
  // The interpreter itself knows: a call in progress (a handler, the script, a metamethod, the
  // message box of a loader it called) is a level of its stack.
  lua_Debug ar;
  return LuaState != nullptr && lua_getstack(LuaState, 0, &ar) != 0;
}

void CLua::DrawNodes() {
  if (LuaState == nullptr) return;
  Root->Draw(LuaState);
  DeleteRemovedNodes();
}

namespace {

// Takes the value at `index` out of the list at `list` (raw reads and writes of the slots it
// has, so nothing can raise), the later ones closing up. Searched from the end, where a scene
// that removes its newest nodes first finds them at once.
void TakeOutOfList(lua_State* L, int list, int index) {
  const int n = static_cast<int>(lua_objlen(L, list));
  for (int i = n; i >= 1; --i) {
    lua_rawgeti(L, list, i);
    const bool found = lua_rawequal(L, -1, index) != 0;
    lua_pop(L, 1);
    if (!found) continue;
    for (int j = i; j < n; ++j) {
      lua_rawgeti(L, list, j + 1);
      lua_rawseti(L, list, j);
    }
    lua_pushnil(L);
    lua_rawseti(L, list, n);
    return;
  }
}

}  // namespace

void CLua::RemoveNode(CLuaNode* node) {
  lua_State* L = LuaState;
  const int base = lua_gettop(L);
  node->PushTable(L);
  const int table = lua_gettop(L);
  node->Parent->PushTable(L);
  if (lua_istable(L, -1)) {
    lua_pushstring(L, "nodes");
    lua_rawget(L, -2);
    if (lua_istable(L, -1)) TakeOutOfList(L, lua_gettop(L), table);
  }
  lua_settop(L, base);

  for (CLuaNode* gone = node; gone != nullptr; gone = gone->NextInSubtree(node)) {
    gone->Removed = true;
    gone->UnderPointer = false;
    if (gone->Cell != nullptr) gone->Cell->Node = nullptr;
    gone->Cell = nullptr;
    if (gone->TableRef != LUA_NOREF) lua_unref(L, gone->TableRef);
    gone->TableRef = LUA_NOREF;
  }
  // Told nothing more: a removed node under the pointer hears no MouseLeave.
  UnderPointer.erase(std::remove_if(UnderPointer.begin(), UnderPointer.end(),
                                    [](const CLuaNode* n) { return n->Removed; }),
                     UnderPointer.end());
  CLuaNode::StructureChanged();
  RemovalPending = true;
}

void CLua::NodeHidden(CLuaNode* node) {
  CLuaNode::StructureChanged();
  for (const CLuaNode* under : UnderPointer) {
    for (const CLuaNode* up = under; up != nullptr; up = up->Parent) {
      if (up != node) continue;
      // The look after the call finds them no longer hit.
      HeldBack = true;
      return;
    }
  }
}

void CLua::DeleteRemovedNodes() {
  // Any of these may be walking the tree or holding a list of nodes.
  if (!RemovalPending || LuaState == nullptr || ScriptRunning() || EventDepth > 0 || CatchingUp ||
      Root->IsDrawing())
    return;
  RemovalPending = false;
  HitList->Clear();
  HitList->Items.assign(1, nullptr);
  PointerHits.Clear();
  PointerHits.Items.assign(1, nullptr);
  Root->DropLayout();
  Root->DeleteRemoved();
}

void CLua::MouseEvent(const TFloatPoint& point, const std::string& name) {
  if (LuaState == nullptr) return;
  {
    // A handler may run a message loop (a loader's message box) that delivers further presses;
    // those get a list of their own so this one's is not refilled under it.
    CLuaNodeList nested;
    CLuaNodeList& list = EventDepth == 0 ? *HitList : nested;
    struct DepthGuard {
      int& depth;
      explicit DepthGuard(int& d) : depth(d) { ++depth; }
      ~DepthGuard() { --depth; }
    } guard(EventDepth);

    list.Clear();
    Root->CollectHits(point, list);
    list.SortByDepth();
    // A node removed or hidden by an earlier handler of this event hears no more of it.
    for (int32_t i = 0; i < list.Count; ++i)
      if (list.Items[i]->Shown() && list.Items[i]->OfferEvent(LuaState, name, point)) break;
    CatchUpAfterCall();
  }
  DeleteRemovedNodes();
}

void CLua::WheelEvent(const TFloatPoint& point, const std::string& name) {
  if (LuaState == nullptr || ScriptRunning()) return;
  MouseEvent(point, name);
}

bool CLua::HoldBack() {
  if (!ScriptRunning()) return false;
  HeldBack = true;
  return true;
}

void CLua::CatchUpAfterCall() {
  if (HeldBack && !CatchingUp && !ScriptRunning()) CatchUp();
}

void CLua::CatchUp() {
  CatchingUp = true;
  // Until a whole pass runs without a handler that held something back: such a handler looped
  // messages, and the pointer, the rectangles or the keys may have changed under the pass.
  do {
    HeldBack = false;
    while (!ReleasesHeld.empty() && !HeldBack) {
      const std::string key = ReleasesHeld.front();
      ReleasesHeld.erase(ReleasesHeld.begin());
      KeyEvent("KeyRelease", key, false);
    }
    if (!HeldBack) LookAtPointer();
  } while (HeldBack);
  CatchingUp = false;
}

void CLua::LookAtPointer() {
  // The nodes under the pointer now, in tree order, against those told they are under it.
  ++PointerLooks;
  PointerHits.Clear();
  if (PointerIn) Root->CollectHits(Pointer, PointerHits);
  std::vector<CLuaNode*> leaving;
  std::vector<CLuaNode*> entering;
  for (int32_t i = 0; i < PointerHits.Count; ++i) {
    CLuaNode* node = PointerHits.Items[i];
    node->PointerSeen = PointerLooks;
    if (!node->UnderPointer) entering.push_back(node);
  }
  for (CLuaNode* node : UnderPointer)
    if (node->PointerSeen != PointerLooks) leaving.push_back(node);
  if (leaving.empty() && entering.empty()) return;

  // Leaves first, deepest first; then enters, parents first; nodes of one depth in tree order.
  std::stable_sort(leaving.begin(), leaving.end(),
                   [](const CLuaNode* a, const CLuaNode* b) { return a->Depth > b->Depth; });
  std::stable_sort(entering.begin(), entering.end(),
                   [](const CLuaNode* a, const CLuaNode* b) { return a->Depth < b->Depth; });
  const TFloatPoint at = Pointer;
  // A node counts as under the pointer from the moment its enter is offered to the moment its
  // leave is; the rest of the look waits for the next when a handler held something back.
  bool whole = true;
  for (CLuaNode* node : leaving) {
    // Removed by an earlier handler of this look: it hears nothing more.
    if (node->Removed) continue;
    node->UnderPointer = false;
    node->OfferEvent(LuaState, "MouseLeave", at);
    if (HeldBack) {
      whole = false;
      break;
    }
  }
  for (size_t i = 0; whole && i < entering.size(); ++i) {
    // Removed or hidden by an earlier handler of this look (a parent's enter, say).
    if (!entering[i]->Shown()) continue;
    entering[i]->UnderPointer = true;
    entering[i]->OfferEvent(LuaState, "MouseEnter", at);
    if (HeldBack) whole = false;
  }
  if (whole) {
    UnderPointer.clear();
    for (int32_t i = 0; i < PointerHits.Count; ++i)
      if (PointerHits.Items[i]->UnderPointer) UnderPointer.push_back(PointerHits.Items[i]);
    return;
  }
  std::vector<CLuaNode*> told;
  for (CLuaNode* node : UnderPointer)
    if (node->UnderPointer) told.push_back(node);
  for (CLuaNode* node : entering)
    if (node->UnderPointer) told.push_back(node);
  UnderPointer.swap(told);
}

void CLua::PointerMoved(const TFloatPoint& point) {
  PointerIn = true;
  Pointer = point;
  // Inside a script call (a handler's message box) nothing is delivered: where the pointer went
  // is looked at once the call returns, and the moves meanwhile are not the script's.
  if (LuaState == nullptr || HoldBack()) return;
  CatchUp();
  // Offered where the pointer is now: an enter or leave handler may have looped messages while
  // it went on, or out of the window.
  if (PointerIn) MouseEvent(Pointer, "MouseMove");
}

void CLua::PointerStartsAt(const TFloatPoint& point) {
  PointerIn = true;
  Pointer = point;
}

void CLua::PointerLeft() {
  PointerIn = false;
  if (LuaState == nullptr || HoldBack()) return;
  CatchUp();
}

void CLua::PointerAfterFrame() {
  if (LuaState == nullptr || HoldBack()) return;
  // Without the pointer over the window nothing is under it, and nothing changes, unless a call
  // held something back.
  if (PointerIn || HeldBack) CatchUp();
  DeleteRemovedNodes();
}

bool CLua::KeyHeldBack(const std::string& name, const std::string& key, bool repeat) {
  const bool running = ScriptRunning();
  const auto swallowed = KeysSwallowed.find(key);
  if (name == "KeyPress") {
    // A key that went down during a call is not the script's, nor are its repeats; repeats of
    // one it heard go by while the call runs.
    if (running && !repeat) KeysSwallowed.insert(key);
    return running || (repeat && swallowed != KeysSwallowed.end());
  }
  if (swallowed != KeysSwallowed.end()) {
    KeysSwallowed.erase(swallowed);
    return true;
  }
  // The script heard this key go down: it hears it go up once the call returns.
  if (running) {
    ReleasesHeld.push_back(key);
    HeldBack = true;
  }
  return running;
}

void CLua::KeyEvent(const std::string& name, const std::string& key, bool repeat) {
  if (LuaState == nullptr || KeyHeldBack(name, key, repeat)) return;
  const bool press = name == "KeyPress";
  Root->CallHandler(LuaState, name, [&](lua_State* L) {
    lua_pushlstring(L, key.data(), key.size());
    if (!press) return 1;
    lua_pushboolean(L, repeat);
    return 2;
  });
  CatchUpAfterCall();
  DeleteRemovedNodes();
}

void CLua::TextEvent(const std::string& text) {
  // Text typed during a script call is not the script's, as its keys are not.
  if (LuaState == nullptr || ScriptRunning()) return;
  Root->CallHandler(LuaState, "TextInput", [&](lua_State* L) {
    lua_pushlstring(L, text.data(), text.size());
    return 1;
  });
  CatchUpAfterCall();
  DeleteRemovedNodes();
}
