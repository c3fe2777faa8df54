// The script host and what scripts build: the interpreter with its cache of compiled script
// files, the tree of rectangular nodes that is drawn every frame, and the hit list through which
// pointer events reach the nodes under the pointer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bind/LuaBind.h"
#include "render/Graph_un.h"
#include "render/Label.h"
#include "script/SceneClock.h"
#include "script/ScriptConsole.h"

// One picture of a node: a texture, and optionally the part of it to show, in pixels of the
// size the script declared for that texture.
struct TLuaNodePicture {
  std::string Name;
  int32_t TextureIndex = 0;
  bool HasSource = false;
  TFloatRect Source{0, 0, 0, 0};
};

// One compiled script file of the host's cache.
struct TLuaFile {
  std::string FileName;  // resolved path, lower-cased: the cache key
  int32_t ChunkRef;      // registry reference of the compiled chunk, never released
};

class CLuaNodeList;
class CLuaNode;

// What a node's functions hold as their upvalue, and what a node table leads to: the node
// while it is in the tree, null once it was removed. The interpreter owns the memory; the node
// points back at it while its table is referenced.
struct TNodeCell {
  CLuaNode* Node;
};

// The cell of the node table at `index` (raw reads only, nothing can raise): null for a table
// that is no node's.
TNodeCell* NodeCellOfTable(LuaBind::lua_State* L, int index);

// A node of the scene. The host side keeps the structure, the pictures and the rectangles; the
// script side is the node's Lua table, read afresh every frame.
class CLuaNode {
 public:
  explicit CLuaNode(CLuaNode* parent);
  ~CLuaNode();
  CLuaNode(const CLuaNode&) = delete;
  CLuaNode& operator=(const CLuaNode&) = delete;

  CLuaNode* AddChild();
  // Makes the node's table (id, parent, nodes and the node functions), links it into the
  // parent's `nodes` or, for the root, the global `root`, and leaves it pushed. Returns 1.
  int CreateTable(LuaBind::lua_State* L, const std::string& id);
  // Pushes the node's table. Returns 1.
  int PushTable(LuaBind::lua_State* L);
  // The field as a string when it is a string or a number, else the empty string.
  std::string GetStringField(LuaBind::lua_State* L, const std::string& key);
  // The first child, in the order "all direct children, then each child's subtree in turn",
  // whose id equals `id`; the subtrees are searched only when `recursive`.
  CLuaNode* FindNode(LuaBind::lua_State* L, const std::string& id, bool recursive);

  // The entry stays valid until the next AddPicture on this node.
  TLuaNodePicture& AddPicture(const std::string& name);
  // The empty name clears the current picture; otherwise the first picture of that name
  // becomes current. False, with nothing changed, when there is none.
  bool SelectPicture(const std::string& name);
  TLuaNodePicture* GetCurrentPicture();

  // left, top, width and height of the node's table; whatever is not a number counts as 0, and
  // so does a read that raised (reported as a handler's error is).
  TFloatRect ReadRect(LuaBind::lua_State* L);
  // Lays out and draws this node and its subtree, parents before children.
  void Draw(LuaBind::lua_State* L);

  // Whether the node takes part in frames and hits: not removed and not hidden. Its
  // ancestors' state is not looked at.
  bool Shown() const { return !Removed && !Hidden; }
  bool IsDrawing() const { return Drawing; }
  // After a change of which nodes are shown, or of their order: the frame's list is made again.
  static void StructureChanged() { ++StructureVersion; }
  // Forgets the frame's list, with the nodes it points at.
  void DropLayout() { Layout.reset(); }
  // Moves the child to the end (drawn last) or the start of the children.
  void MoveChild(CLuaNode* child, bool toEnd);
  // Deletes the removed children of every node of the subtree.
  void DeleteRemoved();
  // The next node of `top`'s subtree in pre-order, or null at its end. Trees may be as deep as a
  // script likes, so they are walked with this instead of recursion.
  CLuaNode* NextInSubtree(CLuaNode* top);

  // Pushes every node of this subtree whose last drawn rectangle holds the point, in pre-order.
  void CollectHits(const TFloatPoint& point, CLuaNodeList& list);
  // Calls the node's handler "on" + name as handler(table, X, Y) when it has one.
  bool OfferEvent(LuaBind::lua_State* L, const std::string& name, const TFloatPoint& point);
  // Calls the node's handler "on" + name as handler(table, ...) with the arguments that
  // `pushArguments` pushes (it returns their count) when it has one; true when it had one. An
  // error is written to standard error, or with `report` given, put there instead.
  bool CallHandler(LuaBind::lua_State* L, const std::string& name,
                   const std::function<int(LuaBind::lua_State*)>& pushArguments,
                   std::string* report = nullptr);

  int32_t Depth;
  CLuaNode* Parent;
  std::vector<CLuaNode*> Children;  // owned
  int32_t TableRef;
  std::vector<TLuaNodePicture> Pictures;
  int32_t CurrentPicture;
  TFloatRect Rect;
  TFloatRect ScreenRect;
  // Whether the pointer was over the node's rectangle at the host's last look, and the number of
  // the look that last found it there.
  bool UnderPointer = false;
  uint64_t PointerSeen = 0;

  // State that scenes set through the kestrune table, kept here so that a frame reads nothing
  // more from the node tables.
  TNodeCell* Cell = nullptr;
  bool Removed = false;  // out of the tree; deleted at the host's next safe point
  bool Hidden = false;
  bool Clips = false;  // descendants are drawn and hit only inside this node's rectangle
  bool HasFill = false;
  float Fill[4] = {0, 0, 0, 0};
  float Opacity = 1;
  // The node's text, drawn over its fill and picture; null for a node without one.
  std::unique_ptr<TLabel> Text;
  // What the last frame gave the node: its opacity times its ancestors', and the rectangle its
  // clipping ancestors leave it (when Bounded).
  float DrawnOpacity = 1;
  bool Bounded = false;
  TFloatRect Bound{0, 0, 0, 0};

 private:
  // The next node after this one's subtree, in pre-order within `top`'s.
  CLuaNode* AfterSubtree(CLuaNode* top);
  // The same, passing over nodes that are not shown and their subtrees; with `descend` false,
  // this node's own subtree is passed over too.
  CLuaNode* NextShown(CLuaNode* top, bool descend = true);
  bool InsideBound(const TFloatPoint& point) const;

  size_t ChildIndex = 0;  // position in Parent->Children

  // Reads the attributes from `field` on into `values`, counting `field` up as each is read. It
  // may raise, and runs only inside a protected call; after a raise it goes on where it stopped.
  void ReadAttributes(LuaBind::lua_State* L, int& field, float values[4]);
  // Lays out and draws this node alone with the attributes read (its parent's rectangle is
  // already this frame's).
  void Place(const float values[4]);

  // True when the node's table has no metatable and no function under the handler key kept in
  // the registry under `keyTag`: found without a protected call, since nothing can raise.
  bool HasNoHandlerPlainly(LuaBind::lua_State* L, const void* keyTag);

  // A frame's walk over a subtree, resumed after a read that raised.
  struct TFrameWalk;
  void Walk(LuaBind::lua_State* L, TFrameWalk& walk);
  static void AdvanceWalk(TFrameWalk& walk);

  // The pre-order list of the subtree of a node that is drawn directly (the root), with the
  // rectangles its last Draw gave them side by side. A frame walks the flat list instead of
  // chasing parent and child links, and a pointer event scans the rectangles where they lie
  // together; the tree walk stays for every case the list cannot answer exactly.
  struct TLayout {
    std::vector<CLuaNode*> Nodes;
    std::vector<TFloatRect> Rects;
    uint64_t Structure = 0;  // StructureVersion the list was made for
    uint64_t DrawStamp = 0;  // DrawCount when its rectangles were written; 0 while drawing
    bool Valid = false;
  };
  std::unique_ptr<TLayout> Layout;
  bool Drawing = false;
  static uint64_t StructureVersion;  // grows with every AddChild
  static uint64_t DrawCount;         // grows with every Draw
};

// The nodes under the pointer, sorted deepest first.
class CLuaNodeList {
 public:
  CLuaNodeList();
  ~CLuaNodeList();
  CLuaNodeList(const CLuaNodeList&) = delete;
  CLuaNodeList& operator=(const CLuaNodeList&) = delete;

  void Clear();
  void Push(CLuaNode* node);
  void SortByDepth();
  void QuickSort(int32_t first, int32_t last);

  std::vector<CLuaNode*> Items;  // its length is the capacity; the nodes are not owned
  int32_t Count = 0;
};

// The most a start script may hold; a larger file is refused, whatever its size is said to be.
extern const size_t MaxScriptBytes;

// The program's script host.
class CLua {
 public:
  CLua();
  ~CLua();
  CLua(const CLua&) = delete;
  CLua& operator=(const CLua&) = delete;

  bool LoadScript(const std::string& fileName);
  std::string LastError() const;
  // Whether a script call is running: ticks and events are dispatched inside one while a
  // loader's message box is open, and the host must not be replaced under it then.
  bool ScriptRunning() const;
  void DrawNodes();
  // Presses and releases reach the script even inside a script call (a loader's message box
  // keeps the window's buttons working); everything else that arrives then is held back, and
  // what it changed is caught up with once the call returns.
  void MouseEvent(const TFloatPoint& point, const std::string& name);
  // A wheel's notch, offered as a press is.
  void WheelEvent(const TFloatPoint& point, const std::string& name);

  // The pointer moved to `point`: every node whose rectangle of the last frame it went out of
  // hears "MouseLeave" (deepest first), every one it came into "MouseEnter" (parents first),
  // then "MouseMove" is offered as a press is. A handler that looped messages meanwhile has the
  // rest checked against where the pointer is then: every enter is followed by its leave.
  void PointerMoved(const TFloatPoint& point);
  // The pointer is already over the window when the host starts: the first look after a frame
  // enters the nodes under it.
  void PointerStartsAt(const TFloatPoint& point);
  // The pointer left the window: every node it was over hears "MouseLeave".
  void PointerLeft();
  // After a frame: nodes that moved under the still pointer, or away from it, are told.
  void PointerAfterFrame();
  // "KeyPress" (with the key's name and whether it is a held key's repeat) or "KeyRelease" (with
  // the name), and "TextInput" (with the text), offered to the root's handler. A key that went
  // down inside a script call is not the script's, nor its release; the release of one it heard
  // waits for the call to return.
  void KeyEvent(const std::string& name, const std::string& key, bool repeat);
  void TextEvent(const std::string& text);

  // Takes the node and its subtree out of the tree: its table leaves its parent's `nodes`, its
  // functions and its registry reference are let go of, and nothing tells it of the pointer
  // again. The host objects stay until a safe point (see DeleteRemovedNodes).
  void RemoveNode(CLuaNode* node);
  // A node was hidden: the nodes of its subtree under the pointer are told they left it once
  // the running call returns.
  void NodeHidden(CLuaNode* node);
  // Frees the nodes removed since the last time when no dispatch, frame or tick is running:
  // until then a loop of one may still hold them.
  void DeleteRemovedNodes();
  // The scene's part of a tick, before its frame: the clock goes on by `seconds` (capped, see
  // CSceneClock::Advance), the timers due at that time run (those made meanwhile wait for the
  // next tick), the animations move and then call their done functions, and the root's onTick
  // is called with the step. While a script call is running nothing of this happens and false
  // is returned: that tick only draws.
  bool Tick(double seconds);

  // The scene's time, timers, animations and tick interval; `kestrune` works on these.
  CSceneClock Clock;

  LuaBind::lua_State* LuaState = nullptr;  // null when the Lua library could not be bound
  std::string ErrorText;
  // The last run's error with the traceback of where it was raised, as standard error got it;
  // empty when the run did not get as far as running the script.
  std::string ErrorReport;
  std::unique_ptr<CLuaNode> Root;
  std::vector<TLuaFile> Files;
  std::unique_ptr<CLuaNodeList> HitList;

 private:
  bool RunScript(const std::string& fileName);
  // Reads the script file whole into *text; false, with the message to give, when it cannot.
  bool ReadChunk(const std::string& resolvedPath, const std::string& path, std::string* text,
                 std::string* error);

  // Whether an event must wait because a script call is running; noted for CatchUp if so.
  bool HoldBack();
  // Whether a key event is held back (see KeyEvent).
  bool KeyHeldBack(const std::string& name, const std::string& key, bool repeat);
  // After a handler: once the outermost call has returned, what was held back meanwhile.
  void CatchUpAfterCall();
  // Delivers the key releases held back, then looks at the pointer, until nothing changes.
  void CatchUp();
  // Tells the nodes the pointer went out of and came into since the last look (none when it
  // is not over the window), stopping after a handler that held something back.
  void LookAtPointer();

  // The steps of Tick.
  void RunDueTimers();
  void MoveAnimations();
  // Runs a call of the tick inside a protected call; an error goes to TickErrors.
  template <typename Body>
  void TickCall(Body& body);
  CRepeatedErrors TickErrors;
  std::vector<std::pair<int, double>> FieldWrites;  // one animation's, reused every tick
  std::vector<size_t> Finished;  // positions of the animations that ended in this tick

  std::string MissingInterpreter;  // why there is no interpreter, for LoadScript to report
  int EventDepth = 0;              // MouseEvent calls in progress (a handler may loop messages)
  bool PointerIn = false;          // the pointer is over the window (or held by the left button)
  TFloatPoint Pointer{0, 0};       // where it was last
  std::vector<CLuaNode*> UnderPointer;  // the nodes told they are under it, in tree order
  uint64_t PointerLooks = 0;
  CLuaNodeList PointerHits;  // reused by every look
  bool HeldBack = false;     // something arrived during a script call since the last catch-up
  bool CatchingUp = false;
  std::vector<std::string> ReleasesHeld;     // keys the script heard go down, released in a call
  std::multiset<std::string> KeysSwallowed;  // keys that went down in a call, not yet up
  bool RemovalPending = false;               // removed nodes wait for DeleteRemovedNodes
};
