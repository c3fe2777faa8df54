// A scene node: its table, its pictures, reading its attributes and drawing it each frame, and
// finding the nodes under a point and calling their handlers.
#include <algorithm>
#include <cstddef>
#include <map>

#include "render/Graph_un.h"
#include "script/Lua_un.h"
#include "script/ProtectedRead.h"
#include "script/ScriptConsole.h"
#include "script/ScriptFunctions.h"

using namespace LuaBind;

namespace {

// The registry key of the index of node tables.
char NodeCellsKey;

// Pushes the index of node tables (weak keys: it keeps no table alive), making it on first use.
void PushNodeCells(lua_State* L) {
  lua_pushlightuserdata(L, &NodeCellsKey);
  lua_rawget(L, LUA_REGISTRYINDEX);
  if (lua_istable(L, -1)) return;
  lua_pop(L, 1);
  lua_newtable(L);
  lua_newtable(L);
  lua_pushstring(L, "k");
  lua_setfield(L, -2, "__mode");
  lua_setmetatable(L, -2);
  lua_pushlightuserdata(L, &NodeCellsKey);
  lua_pushvalue(L, -2);
  lua_rawset(L, LUA_REGISTRYINDEX);
}

}  // namespace

TNodeCell* NodeCellOfTable(lua_State* L, int index) {
  if (!lua_istable(L, index)) return nullptr;
  if (index < 0 && index > LUA_REGISTRYINDEX) index = lua_gettop(L) + 1 + index;
  lua_pushlightuserdata(L, &NodeCellsKey);
  lua_rawget(L, LUA_REGISTRYINDEX);
  TNodeCell* cell = nullptr;
  if (lua_istable(L, -1)) {
    lua_pushvalue(L, index);
    lua_rawget(L, -2);
    cell = static_cast<TNodeCell*>(lua_touserdata(L, -1));
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  return cell;
}

CLuaNode::CLuaNode(CLuaNode* parent)
    : Depth(parent != nullptr ? parent->Depth + 1 : 0),
      Parent(parent),
      TableRef(LUA_NOREF),
      CurrentPicture(-1),
      Rect{0, 0, 0, 0},
      ScreenRect{0, 0, 0, 0} {}

CLuaNode::~CLuaNode() {
  // Cell is not touched: a node still in the tree is deleted after its interpreter closed,
  // and a removed one let go of its cell when it was removed.
  // The subtree is taken apart from a work list, so every node is deleted without children
  // and a deep chain does not nest destructors.
  std::vector<CLuaNode*> pending;
  pending.swap(Children);
  while (!pending.empty()) {
    CLuaNode* node = pending.back();
    pending.pop_back();
    pending.insert(pending.end(), node->Children.begin(), node->Children.end());
    node->Children.clear();
    delete node;
  }
}

uint64_t CLuaNode::StructureVersion = 1;
uint64_t CLuaNode::DrawCount = 0;

CLuaNode* CLuaNode::AddChild() {
  ++StructureVersion;
  auto child = std::make_unique<CLuaNode>(this);
  child->ChildIndex = Children.size();
  Children.push_back(child.get());
  return child.release();
}

int CLuaNode::CreateTable(lua_State* L, const std::string& id) {
  if (Parent != nullptr) {
    lua_getref(L, Parent->TableRef);  // [P]
    lua_pushstring(L, "nodes");
    lua_gettable(L, -2);  // [P, nodes]
    if (!lua_istable(L, -1)) {
      lua_pop(L, 1);
      lua_pushstring(L, "nodes");
      lua_newtable(L);
      lua_settable(L, -3);
      lua_pushstring(L, "nodes");
      lua_gettable(L, -2);
    }
    lua_pushnumber(L, luaL_getn(L, -1) + 1);  // [P, nodes, n+1]
  }

  lua_newtable(L);  // T
  lua_pushstring(L, "id");
  lua_pushstring(L, id.c_str());
  lua_settable(L, -3);
  lua_pushstring(L, "parent");
  if (Parent != nullptr)
    lua_getref(L, Parent->TableRef);
  else
    lua_pushnil(L);
  lua_settable(L, -3);
  lua_pushstring(L, "nodes");
  lua_newtable(L);
  lua_settable(L, -3);

  // The functions reach the node through its cell, which removal empties; a table leads to its
  // cell through the registry's weak-keyed index of node tables.
  Cell = static_cast<TNodeCell*>(lua_newuserdata(L, sizeof(TNodeCell)));
  Cell->Node = this;
  const int cell = lua_gettop(L);
  const int table = cell - 1;
  PushNodeCells(L);
  lua_pushvalue(L, table);
  lua_pushvalue(L, cell);
  lua_rawset(L, -3);
  lua_pop(L, 1);

  static const struct {
    const char* name;
    lua_CFunction function;
  } nodeFunctions[] = {
      {"createNode", LuaScript::createNode}, {"getNode", LuaScript::getNode},
      {"setAttr", LuaScript::setAttr},       {"createPicture", LuaScript::createPicture},
      {"setPicture", LuaScript::setPicture}, {"getPicture", LuaScript::getPicture},
  };
  for (const auto& entry : nodeFunctions) {
    lua_pushstring(L, entry.name);
    lua_pushvalue(L, cell);
    lua_pushcclosure(L, entry.function, 1);
    lua_settable(L, table);
  }
  lua_settop(L, table);

  TableRef = lua_ref(L, true);
  lua_getref(L, TableRef);
  if (Parent != nullptr) {
    lua_settable(L, -3);  // nodes[n+1] = T
    lua_pop(L, 2);
  } else {
    lua_setglobal(L, "root");
  }
  return PushTable(L);
}

int CLuaNode::PushTable(lua_State* L) {
  lua_getref(L, TableRef);
  return 1;
}

std::string CLuaNode::GetStringField(lua_State* L, const std::string& key) {
  // A node whose table was never made (its creation raised half-way) has no fields, rather
  // than making every search among its siblings fail on indexing nil.
  if (TableRef == LUA_NOREF) return std::string();
  PushTable(L);
  lua_pushstring(L, key.c_str());
  lua_gettable(L, -2);
  std::string result;
  if (lua_isstring(L, -1)) result = lua_tostring(L, -1);
  lua_pop(L, 2);
  return result;
}

CLuaNode* CLuaNode::NextInSubtree(CLuaNode* top) {
  if (!Children.empty()) return Children.front();
  return AfterSubtree(top);
}

CLuaNode* CLuaNode::NextShown(CLuaNode* top, bool descend) {
  CLuaNode* node = descend ? NextInSubtree(top) : AfterSubtree(top);
  while (node != nullptr && !node->Shown()) node = node->AfterSubtree(top);
  return node;
}

void CLuaNode::MoveChild(CLuaNode* child, bool toEnd) {
  Children.erase(Children.begin() + static_cast<std::ptrdiff_t>(child->ChildIndex));
  if (toEnd)
    Children.push_back(child);
  else
    Children.insert(Children.begin(), child);
  for (size_t i = 0; i < Children.size(); ++i) Children[i]->ChildIndex = i;
  StructureChanged();
}

void CLuaNode::DeleteRemoved() {
  for (CLuaNode* node = this; node != nullptr; node = node->NextInSubtree(this)) {
    std::vector<CLuaNode*>& children = node->Children;
    size_t kept = 0;
    for (size_t i = 0; i < children.size(); ++i) {
      if (children[i]->Removed) {
        delete children[i];
        continue;
      }
      children[i]->ChildIndex = kept;
      children[kept++] = children[i];
    }
    children.resize(kept);
  }
  StructureChanged();
}

CLuaNode* CLuaNode::AfterSubtree(CLuaNode* top) {
  if (this == top) return nullptr;
  CLuaNode* node = this;
  while (node != top && node->Parent != nullptr) {
    CLuaNode* parent = node->Parent;
    size_t next = node->ChildIndex + 1;
    if (next < parent->Children.size()) return parent->Children[next];
    node = parent;
  }
  return nullptr;
}

CLuaNode* CLuaNode::FindNode(lua_State* L, const std::string& id, bool recursive) {
  // Each node of the subtree, in pre-order, has its direct children compared: exactly the
  // order of searching the children first and then each child's subtree in turn.
  for (CLuaNode* node = this; node != nullptr; node = node->NextInSubtree(this)) {
    for (size_t i = 0; i < node->Children.size(); ++i) {
      CLuaNode* child = node->Children[i];
      if (!child->Removed && child->GetStringField(L, "id") == id) return child;
    }
    if (!recursive) break;
  }
  return nullptr;
}

TLuaNodePicture& CLuaNode::AddPicture(const std::string& name) {
  TLuaNodePicture picture;
  picture.Name = name;
  Pictures.push_back(std::move(picture));
  return Pictures.back();
}

bool CLuaNode::SelectPicture(const std::string& name) {
  if (name.empty()) {
    CurrentPicture = -1;
    return true;
  }
  for (size_t i = 0; i < Pictures.size(); ++i) {
    if (Pictures[i].Name == name) {
      CurrentPicture = static_cast<int32_t>(i);
      return true;
    }
  }
  return false;
}

TLuaNodePicture* CLuaNode::GetCurrentPicture() {
  if (CurrentPicture < 0 || static_cast<size_t>(CurrentPicture) >= Pictures.size()) return nullptr;
  return &Pictures[CurrentPicture];
}

namespace {

const char* const AttributeKeys[4] = {"left", "top", "width", "height"};

// The rectangle with a size of at least 0 covering the same area.
TFloatRect Ordered(const TFloatRect& r) {
  TFloatRect o = r;
  if (o.Width < 0) {
    o.Left += o.Width;
    o.Width = -o.Width;
  }
  if (o.Height < 0) {
    o.Top += o.Height;
    o.Height = -o.Height;
  }
  return o;
}

TFloatRect Intersection(const TFloatRect& bound, const TFloatRect& rect) {
  const TFloatRect r = Ordered(rect);
  const float left = std::max(bound.Left, r.Left);
  const float top = std::max(bound.Top, r.Top);
  const float right = std::min(bound.Left + bound.Width, r.Left + r.Width);
  const float bottom = std::min(bound.Top + bound.Height, r.Top + r.Height);
  return TFloatRect{left, top, std::max(0.0f, right - left), std::max(0.0f, bottom - top)};
}

}  // namespace

void CLuaNode::ReadAttributes(lua_State* L, int& field, float values[4]) {
  PushTable(L);
  const int table = lua_gettop(L);
  // A node whose table was never made (its creation failed half-way) has no attributes.
  if (!lua_istable(L, table)) {
    for (; field < 4; ++field) values[field] = 0;
  }
  // A metamethod may run script code during a read, and any read may start a collection step
  // that runs a finaliser: either may raise, and the caller's protected call takes it.
  for (; field < 4; ++field) {
    lua_pushstring(L, AttributeKeys[field]);
    lua_gettable(L, table);
    values[field] = lua_isnumber(L, -1) ? static_cast<float>(lua_tonumber(L, -1)) : 0.0f;
    lua_pop(L, 1);
  }
  lua_settop(L, table - 1);
}

TFloatRect CLuaNode::ReadRect(lua_State* L) {
  float values[4] = {0, 0, 0, 0};
  int field = 0;
  auto read = [&](lua_State* state) { ReadAttributes(state, field, values); };
  // A read that raised counts as a missing value; the others are still read.
  while (!RunProtected(L, read) && field < 4) values[field++] = 0;
  return TFloatRect{values[0], values[1], values[2], values[3]};
}

void CLuaNode::Place(const float values[4]) {
  Rect = TFloatRect{values[0], values[1], values[2], values[3]};
  if (Parent != nullptr) {
    const CLuaNode& parent = *Parent;
    const TFloatRect& outer = parent.ScreenRect;
    ScreenRect = TFloatRect{outer.Left + Rect.Left, outer.Top + Rect.Top, Rect.Width, Rect.Height};
    DrawnOpacity = parent.DrawnOpacity * Opacity;
    Bounded = parent.Bounded || parent.Clips;
    if (parent.Clips)
      Bound = parent.Bounded ? Intersection(parent.Bound, outer) : Ordered(outer);
    else if (Bounded)
      Bound = parent.Bound;
  } else {
    ScreenRect = Rect;
    DrawnOpacity = Opacity;
    Bounded = false;
  }

  if (GLScreen == nullptr || !(DrawnOpacity > 0)) return;
  const TLuaNodePicture* picture = GetCurrentPicture();
  if (picture == nullptr && !HasFill && !Text) return;
  GLScreen->SetClip(Bounded ? &Bound : nullptr);
  if (HasFill) GLScreen->DrawFill(ScreenRect, Fill, DrawnOpacity);
  // An index that names no texture draws nothing; the text and the children still draw.
  const TGLTexture* texture =
      picture != nullptr ? GLScreen->GetTexture(picture->TextureIndex) : nullptr;
  if (texture != nullptr) {
    TFloatRect source{0, 0, 1, 1};
    if (picture->HasSource) {
      source = TFloatRect{
          picture->Source.Left / texture->Width, picture->Source.Top / texture->Height,
          picture->Source.Width / texture->Width, picture->Source.Height / texture->Height};
    }
    GLScreen->DrawPicture(*texture, ScreenRect, source, DrawnOpacity);
  }
  if (Text) GLScreen->DrawLabel(*Text, ScreenRect, DrawnOpacity);
}

struct CLuaNode::TFrameWalk {
  CLuaNode* Top;
  TLayout* List;   // the flat list being walked, or null while the tree itself is walked
  size_t Index;    // the node's position in List
  CLuaNode* Node;  // the node being read and drawn, or null at the end
  int Field;       // the next of its four attributes to read
  float Values[4];
};

void CLuaNode::AdvanceWalk(TFrameWalk& walk) {
  CLuaNode* node = walk.Node;
  walk.Field = 0;
  // A node its own read removed or hid takes its subtree with it.
  const bool descend = node->Shown();
  if (walk.List == nullptr) {
    walk.Node = node->NextShown(walk.Top, descend);
    return;
  }
  TLayout& layout = *walk.List;
  layout.Rects[walk.Index] = node->ScreenRect;
  if (layout.Structure != StructureVersion) {
    // A metamethod made nodes: the rest of the frame walks the tree as it now stands, and the
    // list is made again next time.
    layout.Valid = false;
    walk.List = nullptr;
    walk.Node = node->NextShown(walk.Top, descend);
    return;
  }
  ++walk.Index;
  walk.Node = walk.Index < layout.Nodes.size() ? layout.Nodes[walk.Index] : nullptr;
}

void CLuaNode::Walk(lua_State* L, TFrameWalk& walk) {
  auto step = [&walk](lua_State* state) {
    while (walk.Node != nullptr) {
      walk.Node->ReadAttributes(state, walk.Field, walk.Values);
      if (walk.Node->Shown()) walk.Node->Place(walk.Values);
      AdvanceWalk(walk);
    }
  };
  // One protected call for the whole frame while nothing raises. A raise costs the one read it
  // interrupted, which counts as a missing value, and the walk resumes after it.
  while (!RunProtected(L, step)) {
    // A collection step after the walk's last read may raise as the protected call returns.
    if (walk.Node == nullptr) break;
    if (walk.Field < 4)
      walk.Values[walk.Field++] = 0;
    else
      AdvanceWalk(walk);  // nothing but a read raises; this only guards against a loop
  }
}

void CLuaNode::Draw(lua_State* L) {
  ++DrawCount;
  TFrameWalk walk{this, nullptr, 0, Shown() ? this : nullptr, 0, {0, 0, 0, 0}};
  // A metamethod may run a message loop whose tick draws again: that inner frame walks the
  // tree and leaves the outer one's list alone.
  if (Drawing) {
    Walk(L, walk);
    return;
  }
  struct DrawingGuard {
    bool& flag;
    explicit DrawingGuard(bool& f) : flag(f) { flag = true; }
    ~DrawingGuard() { flag = false; }
  } guard(Drawing);

  if (!Layout) Layout = std::make_unique<TLayout>();
  TLayout& layout = *Layout;
  if (!layout.Valid || layout.Structure != StructureVersion) {
    layout.Nodes.clear();
    for (CLuaNode* node = Shown() ? this : nullptr; node != nullptr; node = node->NextShown(this))
      layout.Nodes.push_back(node);
    layout.Rects.resize(layout.Nodes.size());
    layout.Structure = StructureVersion;
    layout.Valid = true;
  }
  layout.DrawStamp = 0;
  walk.List = &layout;
  Walk(L, walk);
  // Walked to its end as a list: its rectangles are this frame's.
  if (walk.List != nullptr) layout.DrawStamp = DrawCount;
}

void CLuaNode::CollectHits(const TFloatPoint& point, CLuaNodeList& list) {
  auto hit = [&point](const TFloatRect& r) {
    return point.X >= r.Left && point.X < r.Left + r.Width && point.Y >= r.Top &&
           point.Y < r.Top + r.Height;
  };
  // The list holds exactly the subtree's rectangles when nothing was added and nothing was
  // drawn since this node's last Draw.
  if (Layout && Layout->Valid && Layout->Structure == StructureVersion &&
      Layout->DrawStamp == DrawCount && !Drawing) {
    const TFloatRect* rects = Layout->Rects.data();
    for (size_t i = 0, n = Layout->Rects.size(); i < n; ++i)
      if (hit(rects[i]) && Layout->Nodes[i]->InsideBound(point)) list.Push(Layout->Nodes[i]);
    return;
  }
  for (CLuaNode* node = Shown() ? this : nullptr; node != nullptr; node = node->NextShown(this))
    if (hit(node->ScreenRect) && node->InsideBound(point)) list.Push(node);
}

bool CLuaNode::InsideBound(const TFloatPoint& point) const {
  return !Bounded || (point.X >= Bound.Left && point.X < Bound.Left + Bound.Width &&
                      point.Y >= Bound.Top && point.Y < Bound.Top + Bound.Height);
}

bool CLuaNode::OfferEvent(lua_State* L, const std::string& name, const TFloatPoint& point) {
  return CallHandler(L, name, [&point](lua_State* state) {
    lua_pushnumber(state, point.X);
    lua_pushnumber(state, point.Y);
    return 2;
  });
}

namespace {

// Where each handler key's string is kept in the registry of a state: under the address of its
// entry here, which stays put.
std::map<std::string, char>& HandlerKeyTags() {
  static std::map<std::string, char> tags;
  return tags;
}

}  // namespace

bool CLuaNode::HasNoHandlerPlainly(lua_State* L, const void* keyTag) {
  // Nothing here can raise or allocate: the key is pushed from where it is kept, and a table
  // without a metatable is read raw.
  const int base = lua_gettop(L);
  PushTable(L);
  bool none = false;
  if (lua_istable(L, -1) && lua_getmetatable(L, -1) == 0) {
    lua_pushlightuserdata(L, const_cast<void*>(keyTag));
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_type(L, -1) == LUA_TSTRING) {
      lua_rawget(L, -2);
      none = !lua_isfunction(L, -1);
    }
  }
  lua_settop(L, base);
  return none;
}

bool CLuaNode::CallHandler(lua_State* L, const std::string& name,
                           const std::function<int(lua_State*)>& pushArguments,
                           std::string* report) {
  // The key is the same for every node an event is offered to: build it without allocating.
  static std::string key;
  key.assign("on");
  key.append(name);
  const void* keyTag = &HandlerKeyTags()[key];
  // Most nodes an event is offered to have no handler for it and no metatable: that much is
  // found out without the protected call below.
  if (HasNoHandlerPlainly(L, keyTag)) return false;
  bool found = false;
  // The lookup, the pushing of the arguments and the call run inside one protected call: a
  // metamethod of the lookup, a finaliser or the handler itself may raise there, and the error
  // goes to standard error with its traceback. A lookup that raised finds no handler.
  auto offer = [&](lua_State* state) {
    PushTable(state);
    if (!lua_istable(state, -1)) return;
    // The key's string is kept for the plain look above.
    lua_pushlightuserdata(state, const_cast<void*>(keyTag));
    lua_rawget(state, LUA_REGISTRYINDEX);
    if (lua_type(state, -1) != LUA_TSTRING) {
      lua_pop(state, 1);
      lua_pushstring(state, key.c_str());
      lua_pushlightuserdata(state, const_cast<void*>(keyTag));
      lua_pushvalue(state, -2);
      lua_rawset(state, LUA_REGISTRYINDEX);
    }
    lua_gettable(state, -2);
    if (!lua_isfunction(state, -1)) return;
    found = true;
    PushTable(state);
    const int arguments = pushArguments(state);
    lua_call(state, 1 + arguments, 0);
  };
  // The stack goes back to its height, not to empty: a handler may run a message loop that
  // delivers events while a script function's values are still on the stack.
  RunProtected(L, offer, nullptr, report);
  return found;
}
