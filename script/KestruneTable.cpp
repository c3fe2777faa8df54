// The functions of the `kestrune` table and their registration.
#include "script/KestruneTable.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/Util_un.h"
#include "platform/Platform.h"
#include "render/Fonts.h"
#include "render/TextLayout.h"
#include "script/Lua_un.h"
#include "script/ProtectedRead.h"
#include "script/SceneWindow.h"
#include "script/ScriptFunctions.h"

using namespace LuaBind;
using LuaScript::ArgPattern;
using LuaScript::ArgsMatch;
using LuaScript::ClearStack;
using LuaScript::Guarded;
using LuaScript::RaiseArgError;

namespace {

CLua* UpvalueHost(lua_State* L) {
  return static_cast<CLua*>(lua_touserdata(L, lua_upvalueindex(1)));
}

// Room for one more, so that nothing can fail once a registry reference is taken for it; grown
// by doubling like push_back, not one at a time.
template <typename List>
void RoomForOne(List& list) {
  if (list.size() == list.capacity()) list.reserve(list.empty() ? 16 : list.size() * 2);
}

[[noreturn]] void RaiseArgText(lua_State* L, int position, const char* text) {
  ClearStack(L);
  luaL_argerror(L, position, text);
  std::terminate();  // luaL_argerror does not return
}

int Time(lua_State* L) {
  return Guarded(L, [L] {
    if (!ArgsMatch(L, true, {})) RaiseArgError(L, {});
    lua_pushnumber(L, UpvalueHost(L)->Clock.Seconds());
    return 1;
  });
}

// after and every: (seconds, function) -> handle.
int AddTimer(lua_State* L, bool repeat) {
  if (!ArgsMatch(L, true, {LUA_TNUMBER, LUA_TFUNCTION}))
    RaiseArgError(L, {LUA_TNUMBER, LUA_TFUNCTION});
  const lua_Number seconds = lua_tonumber(L, 1);
  if (repeat && !(seconds > 0)) RaiseArgText(L, 1, "should be a number of seconds above 0");
  if (!repeat && !(seconds >= 0)) RaiseArgText(L, 1, "should be a number of seconds from 0");
  CSceneClock& clock = UpvalueHost(L)->Clock;
  RoomForOne(clock.Timers);
  lua_settop(L, 2);
  const int function = luaL_ref(L, LUA_REGISTRYINDEX);
  ClearStack(L);
  PushSceneHandle(L, clock.AddTimer(MicrosOf(seconds), repeat, function));
  return 1;
}

int After(lua_State* L) {
  return Guarded(L, [L] { return AddTimer(L, false); });
}

int Every(lua_State* L) {
  return Guarded(L, [L] { return AddTimer(L, true); });
}

int Cancel(lua_State* L) {
  return Guarded(L, [L] {
    if (!ArgsMatch(L, true, {LUA_TLIGHTUSERDATA})) RaiseArgError(L, {LUA_TLIGHTUSERDATA});
    const auto handle = reinterpret_cast<uintptr_t>(lua_touserdata(L, 1));
    ClearStack(L);
    const int ref = UpvalueHost(L)->Clock.Cancel(handle);
    if (ref != LUA_NOREF) luaL_unref(L, LUA_REGISTRYINDEX, ref);
    return 0;
  });
}

bool EasingOf(const char* name, TEasing* easing) {
  static const struct {
    const char* name;
    TEasing easing;
  } names[] = {{"linear", TEasing::Linear},
               {"in", TEasing::In},
               {"out", TEasing::Out},
               {"inout", TEasing::InOut}};
  for (const auto& entry : names) {
    if (std::strcmp(name, entry.name) == 0) {
      *easing = entry.easing;
      return true;
    }
  }
  return false;
}

// animate(table, seconds, targets [, easing [, done]]) -> handle.
int Animate(lua_State* L) {
  return Guarded(L, [L] {
    const int top = lua_gettop(L);
    const int types[] = {LUA_TTABLE, LUA_TNUMBER, LUA_TTABLE, LUA_TSTRING, LUA_TFUNCTION};
    if (top < 3) RaiseArgError(L, {LUA_TTABLE, LUA_TNUMBER, LUA_TTABLE});
    if (top > 5)
      RaiseArgError(L, {LUA_TTABLE, LUA_TNUMBER, LUA_TTABLE, LUA_TSTRING, LUA_TFUNCTION});
    for (int i = 1; i <= top; ++i) {
      // The easing may be left out with a nil when a done function follows.
      if (lua_type(L, i) == types[i - 1] || (i >= 4 && lua_isnil(L, i))) continue;
      const std::string text =
          std::string("should be a ") + AnsiLowerCase(lua_typename(L, types[i - 1]));
      RaiseArgText(L, i, text.c_str());
    }
    const lua_Number seconds = lua_tonumber(L, 2);
    if (!(seconds >= 0)) RaiseArgText(L, 2, "should be a number of seconds from 0");
    TEasing easing = TEasing::Linear;
    if (top >= 4 && !lua_isnil(L, 4) && !EasingOf(lua_tostring(L, 4), &easing))
      RaiseArgText(L, 4, "should be \"linear\", \"in\", \"out\" or \"inout\"");
    const bool hasDone = top == 5 && lua_isfunction(L, 5);

    CLua* host = UpvalueHost(L);
    TSceneAnimation animation;
    animation.Target = lua_topointer(L, 1);
    animation.Start = host->Clock.Now();
    animation.Duration = MicrosOf(seconds);
    animation.Easing = easing;
    animation.HasDone = hasDone;
    // The record: [1] the table, [2] done, then the keys. The targets are taken down first, so
    // that reading the table's fields (which may run its metamethods) cannot change them.
    lua_settop(L, 5);
    lua_newtable(L);  // record at 6
    lua_pushvalue(L, 1);
    lua_rawseti(L, 6, 1);
    lua_pushvalue(L, 5);
    lua_rawseti(L, 6, 2);
    int slot = 3;
    lua_pushnil(L);
    while (lua_next(L, 3) != 0) {  // [..., record, key, target]
      if (lua_type(L, -2) != LUA_TSTRING || lua_type(L, -1) != LUA_TNUMBER)
        RaiseArgText(L, 3, "should map field names to numbers");
      TAnimatedField field;
      field.Key = lua_tostring(L, -2);
      field.Slot = slot;
      field.From = 0;
      field.To = lua_tonumber(L, -1);
      animation.Fields.push_back(field);
      lua_pop(L, 1);
      lua_pushvalue(L, -1);
      lua_rawseti(L, 6, slot++);
    }
    for (TAnimatedField& field : animation.Fields) {
      lua_rawgeti(L, 6, field.Slot);
      ReadAnimatedField(L, 1, lua_gettop(L));
      if (lua_type(L, -1) != LUA_TNUMBER) {
        const std::string text = "should name fields that hold numbers: " + field.Key + " is " +
                                 AnsiLowerCase(luaL_typename(L, -1));
        RaiseArgText(L, 3, text.c_str());
      }
      field.From = lua_tonumber(L, -1);
      lua_pop(L, 2);
    }
    CSceneClock& clock = host->Clock;
    animation.Handle = clock.NewHandle();
    RoomForOne(clock.Animations);
    lua_settop(L, 6);
    animation.RecordRef = luaL_ref(L, LUA_REGISTRYINDEX);
    ClearStack(L);
    const uint64_t handle = animation.Handle;
    clock.AddAnimation(std::move(animation));
    PushSceneHandle(L, handle);
    return 1;
  });
}

int SetTickInterval(lua_State* L) {
  return Guarded(L, [L] {
    if (!ArgsMatch(L, true, {LUA_TNUMBER})) RaiseArgError(L, {LUA_TNUMBER});
    const double ms = lua_tonumber(L, 1) * 1000;
    const double whole = std::round(ms);
    if (!(whole >= ShortestTickMs && whole <= LongestTickMs && std::fabs(ms - whole) < 1e-6))
      RaiseArgText(L, 1, "should be a number of seconds from 0.01 to 1 in whole milliseconds");
    ClearStack(L);
    const unsigned interval = static_cast<unsigned>(whole);
    UpvalueHost(L)->Clock.TickMs = interval;
    if (SceneWindow.SetTickInterval) SceneWindow.SetTickInterval(interval);
    return 0;
  });
}

int GetTickInterval(lua_State* L) {
  return Guarded(L, [L] {
    if (!ArgsMatch(L, true, {})) RaiseArgError(L, {});
    lua_pushnumber(L, UpvalueHost(L)->Clock.TickMs / 1000.0);
    return 1;
  });
}

int SetFullscreen(lua_State* L) {
  return Guarded(L, [L] {
    if (!ArgsMatch(L, true, {LUA_TBOOLEAN})) RaiseArgError(L, {LUA_TBOOLEAN});
    const bool on = lua_toboolean(L, 1) != 0;
    ClearStack(L);
    if (SceneWindow.SetFullScreen) SceneWindow.SetFullScreen(on);
    return 0;
  });
}

int IsFullscreen(lua_State* L) {
  return Guarded(L, [L] {
    if (!ArgsMatch(L, true, {})) RaiseArgError(L, {});
    lua_pushboolean(L, SceneWindow.FullScreen && SceneWindow.FullScreen());
    return 1;
  });
}

int SetCursorVisible(lua_State* L) {
  return Guarded(L, [L] {
    if (!ArgsMatch(L, true, {LUA_TBOOLEAN})) RaiseArgError(L, {LUA_TBOOLEAN});
    const bool visible = lua_toboolean(L, 1) != 0;
    ClearStack(L);
    if (SceneWindow.SetCursorVisible) SceneWindow.SetCursorVisible(visible);
    return 0;
  });
}

// The node whose table is the first argument, the only one or followed by `more`. A removed
// node's table gives null unless `removedIsError`.
CLuaNode* NodeArg(lua_State* L, ArgPattern more, bool removedIsError = false) {
  std::vector<int> pattern{LUA_TTABLE};
  pattern.insert(pattern.end(), more.begin(), more.end());
  bool match = lua_gettop(L) == static_cast<int>(pattern.size());
  for (size_t i = 0; match && i < pattern.size(); ++i)
    match = lua_type(L, static_cast<int>(i) + 1) == pattern[i];
  if (!match) {
    // The argument error for the first argument that breaks the pattern, or the first beyond.
    const int top = lua_gettop(L);
    for (size_t i = 0; i < pattern.size(); ++i) {
      const int position = static_cast<int>(i) + 1;
      if (position > top || lua_type(L, position) != pattern[i]) {
        const std::string text =
            std::string("should be a ") + AnsiLowerCase(lua_typename(L, pattern[i]));
        RaiseArgText(L, position, text.c_str());
      }
    }
    RaiseArgText(L, static_cast<int>(pattern.size()) + 1, "should not be passed");
  }
  const TNodeCell* cell = NodeCellOfTable(L, 1);
  if (cell == nullptr) RaiseArgText(L, 1, "should be a node's table");
  if (cell->Node == nullptr && removedIsError) RaiseArgText(L, 1, "should be a node not removed");
  return cell->Node;
}

int Remove(lua_State* L) {
  return Guarded(L, [L] {
    CLuaNode* node = NodeArg(L, {}, true);
    if (node->Parent == nullptr) RaiseArgText(L, 1, "should not be the root");
    ClearStack(L);
    UpvalueHost(L)->RemoveNode(node);
    return 0;
  });
}

int SetVisible(lua_State* L) {
  return Guarded(L, [L] {
    CLuaNode* node = NodeArg(L, {LUA_TBOOLEAN});
    const bool visible = lua_toboolean(L, 2) != 0;
    ClearStack(L);
    if (node == nullptr || node->Hidden == !visible) return 0;
    node->Hidden = !visible;
    if (visible)
      CLuaNode::StructureChanged();
    else
      UpvalueHost(L)->NodeHidden(node);
    return 0;
  });
}

int IsVisible(lua_State* L) {
  return Guarded(L, [L] {
    CLuaNode* node = NodeArg(L, {});
    ClearStack(L);
    if (node == nullptr) return 0;
    lua_pushboolean(L, !node->Hidden);
    return 1;
  });
}

// raise and lower: the node to the end or the start of its parent's children, and its table
// likewise in the parent's `nodes` (raw reads and writes: the list is the program's).
int Reorder(lua_State* L, bool toEnd) {
  CLuaNode* node = NodeArg(L, {});
  if (node == nullptr || node->Parent == nullptr) return ClearStack(L);
  node->Parent->PushTable(L);  // [node, parent]
  if (lua_istable(L, 2)) {
    lua_pushstring(L, "nodes");
    lua_rawget(L, 2);  // [node, parent, nodes]
    if (lua_istable(L, 3)) {
      const int n = static_cast<int>(lua_objlen(L, 3));
      int at = 0;
      for (int i = 1; i <= n && at == 0; ++i) {
        lua_rawgeti(L, 3, i);
        if (lua_rawequal(L, -1, 1)) at = i;
        lua_pop(L, 1);
      }
      if (at != 0) {
        const int step = toEnd ? 1 : -1;
        const int last = toEnd ? n : 1;
        for (int i = at; i != last; i += step) {
          lua_rawgeti(L, 3, i + step);
          lua_rawseti(L, 3, i);
        }
        lua_pushvalue(L, 1);
        lua_rawseti(L, 3, last);
      }
    }
  }
  ClearStack(L);
  node->Parent->MoveChild(node, toEnd);
  return 0;
}

int Raise(lua_State* L) {
  return Guarded(L, [L] { return Reorder(L, true); });
}

int Lower(lua_State* L) {
  return Guarded(L, [L] { return Reorder(L, false); });
}

int SetClip(lua_State* L) {
  return Guarded(L, [L] {
    CLuaNode* node = NodeArg(L, {LUA_TBOOLEAN});
    const bool on = lua_toboolean(L, 2) != 0;
    ClearStack(L);
    if (node == nullptr || node->Clips == on) return 0;
    node->Clips = on;
    CLuaNode::StructureChanged();
    return 0;
  });
}

const char* const ColorText = "should be a colour {r, g, b [, a]} with each from 0 to 1";

// The colour {r, g, b [, a]} at `index` (read raw: a colour table's metatable plays no part).
// An error names the argument at `position`, `index` itself unless the colour is a field.
void ColorArg(lua_State* L, int index, float color[4], int position = 0,
              const char* text = ColorText) {
  if (position == 0) position = index;
  if (lua_type(L, index) != LUA_TTABLE) RaiseArgText(L, position, text);
  color[3] = 1;
  for (int i = 0; i < 4; ++i) {
    lua_rawgeti(L, index, i + 1);
    const bool number = lua_type(L, -1) == LUA_TNUMBER;
    const lua_Number value = lua_tonumber(L, -1);
    lua_pop(L, 1);
    if (i == 3 && !number && lua_objlen(L, index) == 3) break;
    if (!number || !(value >= 0 && value <= 1)) RaiseArgText(L, position, text);
    color[i] = static_cast<float>(value);
  }
  if (lua_objlen(L, index) > 4) RaiseArgText(L, position, text);
}

int SetFill(lua_State* L) {
  return Guarded(L, [L] {
    const bool clears = lua_gettop(L) == 1 || (lua_gettop(L) == 2 && lua_isnil(L, 2));
    if (clears) lua_settop(L, 1);
    CLuaNode* node = NodeArg(L, clears ? ArgPattern{} : ArgPattern{LUA_TTABLE});
    float color[4];
    if (!clears) ColorArg(L, 2, color);
    ClearStack(L);
    if (node == nullptr) return 0;
    node->HasFill = !clears;
    if (!clears) std::copy(color, color + 4, node->Fill);
    return 0;
  });
}

int SetOpacity(lua_State* L) {
  return Guarded(L, [L] {
    CLuaNode* node = NodeArg(L, {LUA_TNUMBER});
    const lua_Number opacity = lua_tonumber(L, 2);
    if (!(opacity >= 0 && opacity <= 1)) RaiseArgText(L, 2, "should be a number from 0 to 1");
    ClearStack(L);
    if (node != nullptr) node->Opacity = static_cast<float>(opacity);
    return 0;
  });
}

int GetOpacity(lua_State* L) {
  return Guarded(L, [L] {
    CLuaNode* node = NodeArg(L, {});
    ClearStack(L);
    if (node == nullptr) return 0;
    lua_pushnumber(L, node->Opacity);
    return 1;
  });
}

const char* const StyleFields[] = {"font",   "size",       "color", "align",
                                   "valign", "lineHeight", "lang"};

bool EndsWithFontEnding(const std::string& name) {
  const std::string lower = AnsiLowerCase(name);
  for (const char* ending : {".ttf", ".otf", ".ttc"})
    if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ending) == 0) return true;
  return false;
}

// The font file found as a texture's is, or the default family with a line on standard error
// when there is none or it is no font: a scene with a missing font still shows its text.
std::string FontPath(const std::string& function, const std::string& name) {
  const std::string path = ResolveDataPath(name);
  if (path.empty()) {
    std::string places;
    const std::vector<std::string> tried = DataPathPlaces(name);
    for (size_t i = 0; i < tried.size(); ++i)
      places += (i == 0 ? "" : i + 1 == tried.size() ? " and " : ", ") + tried[i];
    WriteErrorLine(function + ": " + name + ": " +
                   (DataPathHoldsNoFile(name) ? std::string("not a regular file")
                                              : "not found; looked for " + places) +
                   "; the text is drawn in \"sans\"");
    return "sans";
  }
  // The font says itself why it cannot be read.
  if (OpenFont(path, 0) == nullptr) return "sans";
  return path;
}

// The style table at `index` (read raw, as a colour is) into *style, and the font as it was
// named into *fontName. A style's font is resolved here, once, not on every layout.
void StyleArg(lua_State* L, int index, const char* function, TTextStyle* style,
              std::string* fontName) {
  if (lua_type(L, index) != LUA_TTABLE) RaiseArgText(L, index, "should be a table");
  // A misspelt field would otherwise be passed over without a word.
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {
    bool known = false;
    if (lua_type(L, -2) == LUA_TSTRING)
      for (const char* field : StyleFields)
        known = known || std::strcmp(lua_tostring(L, -2), field) == 0;
    lua_pop(L, 1);
    if (!known)
      RaiseArgText(L, index,
                   "should be a style with only font, size, color, align, valign, lineHeight "
                   "and lang");
  }
  const auto field = [L, index](const char* name) {
    lua_pushstring(L, name);
    lua_rawget(L, index);
    return lua_type(L, -1);
  };
  if (field("font") != LUA_TNIL) {
    if (lua_type(L, -1) != LUA_TSTRING)
      RaiseArgText(L, index, "should have a font that is a string");
    *fontName = lua_tostring(L, -1);
    if (EndsWithFontEnding(*fontName)) {
      style->font = FontPath(function, *fontName);
    } else if (*fontName == "sans" || *fontName == "serif" || *fontName == "mono") {
      style->font = *fontName;
    } else {
      RaiseArgText(L, index,
                   "should have a font that is a .ttf, .otf or .ttc file or \"sans\", \"serif\" "
                   "or \"mono\"");
    }
  }
  lua_pop(L, 1);
  if (field("size") != LUA_TNIL) {
    const lua_Number size = lua_tonumber(L, -1);
    if (lua_type(L, -1) != LUA_TNUMBER || !(size >= 1 && size <= 256))
      RaiseArgText(L, index, "should have a size from 1 to 256");
    style->size = static_cast<float>(size);
  }
  lua_pop(L, 1);
  if (field("color") != LUA_TNIL)
    ColorArg(L, lua_gettop(L), style->color, index,
             "should have a color {r, g, b [, a]} with each from 0 to 1");
  lua_pop(L, 1);
  if (field("align") != LUA_TNIL) {
    const char* align = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "";
    if (std::strcmp(align, "left") == 0)
      style->align = TTextStyle::Align::Left;
    else if (std::strcmp(align, "center") == 0)
      style->align = TTextStyle::Align::Center;
    else if (std::strcmp(align, "right") == 0)
      style->align = TTextStyle::Align::Right;
    else
      RaiseArgText(L, index, "should have an align of \"left\", \"center\" or \"right\"");
  }
  lua_pop(L, 1);
  if (field("valign") != LUA_TNIL) {
    const char* valign = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "";
    if (std::strcmp(valign, "top") == 0)
      style->valign = TTextStyle::VAlign::Top;
    else if (std::strcmp(valign, "middle") == 0)
      style->valign = TTextStyle::VAlign::Middle;
    else if (std::strcmp(valign, "bottom") == 0)
      style->valign = TTextStyle::VAlign::Bottom;
    else
      RaiseArgText(L, index, "should have a valign of \"top\", \"middle\" or \"bottom\"");
  }
  lua_pop(L, 1);
  if (field("lineHeight") != LUA_TNIL) {
    const lua_Number factor = lua_tonumber(L, -1);
    if (lua_type(L, -1) != LUA_TNUMBER || !(factor > 0 && factor <= 10))
      RaiseArgText(L, index, "should have a lineHeight above 0 and up to 10");
    style->lineHeight = static_cast<float>(factor);
  }
  lua_pop(L, 1);
  if (field("lang") != LUA_TNIL) {
    if (lua_type(L, -1) != LUA_TSTRING)
      RaiseArgText(L, index, "should have a lang that is a string");
    style->lang = lua_tostring(L, -1);
  }
  lua_pop(L, 1);
}

// The text argument: a string, or a number as Lua writes it.
std::string TextArg(lua_State* L, int index) {
  if (lua_type(L, index) == LUA_TNUMBER) return NumberText(lua_tonumber(L, index));
  if (lua_type(L, index) != LUA_TSTRING) RaiseArgText(L, index, "should be a string");
  size_t length = 0;
  const char* text = lua_tolstring(L, index, &length);
  return std::string(text, length);
}

bool SameStyle(const TTextStyle& a, const TTextStyle& b) {
  return a.font == b.font && a.size == b.size && std::equal(a.color, a.color + 4, b.color) &&
         a.align == b.align && a.valign == b.valign && a.lineHeight == b.lineHeight &&
         a.lang == b.lang;
}

// setText(node, text [, style]) sets the node's text; setText(node) takes it away.
int SetText(lua_State* L) {
  return Guarded(L, [L] {
    const int top = lua_gettop(L);
    const bool clears = top == 1 || (top == 2 && lua_isnil(L, 2));
    if (top > 3) {
      lua_settop(L, 3);
      RaiseArgText(L, 4, "should not be passed");
    }
    if (top == 3 && lua_isnil(L, 3)) lua_settop(L, 2);
    if (clears) lua_settop(L, 1);
    const int count = lua_gettop(L);
    // The node is checked first, as in every other function; the rest after it.
    std::vector<int> rest;
    for (int i = 2; i <= count; ++i) rest.push_back(lua_type(L, i));
    CLuaNode* node = nullptr;
    if (count <= 1)
      node = NodeArg(L, {});
    else if (count == 2)
      node = NodeArg(L, {rest[0]});
    else
      node = NodeArg(L, {rest[0], rest[1]});
    if (clears) {
      ClearStack(L);
      if (node != nullptr) node->Text.reset();
      return 0;
    }
    auto label = std::make_unique<TLabel>();
    label->Text = TextArg(L, 2);
    if (count == 3) StyleArg(L, 3, "setText", &label->Style, &label->FontName);
    ClearStack(L);
    if (node == nullptr) return 0;
    // The same text again (a scene that sets it on every tick) keeps its layout.
    if (node->Text && node->Text->Text == label->Text &&
        SameStyle(node->Text->Style, label->Style)) {
      node->Text->FontName = label->FontName;
      return 0;
    }
    node->Text = std::move(label);
    return 0;
  });
}

const char* const AlignNames[] = {nullptr, "left", "center", "right"};
const char* const VAlignNames[] = {"top", "middle", "bottom"};

// getText(node) -> text, style; nothing for a node without text.
int GetText(lua_State* L) {
  return Guarded(L, [L] {
    CLuaNode* node = NodeArg(L, {});
    ClearStack(L);
    if (node == nullptr || !node->Text) return 0;
    const TLabel& label = *node->Text;
    lua_pushlstring(L, label.Text.data(), label.Text.size());
    const TTextStyle& style = label.Style;
    lua_newtable(L);
    const std::string& font = label.FontName.empty() ? style.font : label.FontName;
    lua_pushlstring(L, font.data(), font.size());
    lua_setfield(L, -2, "font");
    lua_pushnumber(L, style.size);
    lua_setfield(L, -2, "size");
    lua_createtable(L, 4, 0);
    for (int i = 0; i < 4; ++i) {
      lua_pushnumber(L, style.color[i]);
      lua_rawseti(L, -2, i + 1);
    }
    lua_setfield(L, -2, "color");
    // Left out while the paragraph's direction decides.
    if (const char* align = AlignNames[static_cast<int>(style.align)]) {
      lua_pushstring(L, align);
      lua_setfield(L, -2, "align");
    }
    lua_pushstring(L, VAlignNames[static_cast<int>(style.valign)]);
    lua_setfield(L, -2, "valign");
    lua_pushnumber(L, style.lineHeight);
    lua_setfield(L, -2, "lineHeight");
    if (!style.lang.empty()) {
      lua_pushlstring(L, style.lang.data(), style.lang.size());
      lua_setfield(L, -2, "lang");
    }
    return 2;
  });
}

// measureText(text [, style [, width]]) -> width, height of the text laid out (wrapped at
// `width` when it is given).
int MeasureText(lua_State* L) {
  return Guarded(L, [L] {
    const int top = lua_gettop(L);
    if (top < 1) RaiseArgText(L, 1, "should be a string");
    if (top > 3) {
      lua_settop(L, 3);
      RaiseArgText(L, 4, "should not be passed");
    }
    const std::string text = TextArg(L, 1);
    TTextStyle style;
    std::string fontName;
    if (top >= 2 && !lua_isnil(L, 2)) StyleArg(L, 2, "measureText", &style, &fontName);
    lua_Number width = 0;
    if (top == 3 && !lua_isnil(L, 3)) {
      if (lua_type(L, 3) != LUA_TNUMBER) RaiseArgText(L, 3, "should be a number");
      width = lua_tonumber(L, 3);
      if (!(width > 0)) RaiseArgText(L, 3, "should be a width above 0");
    }
    ClearStack(L);
    const TTextLayout layout = LayOutText(text, style, static_cast<float>(width), 0);
    lua_pushnumber(L, layout.width);
    lua_pushnumber(L, layout.height);
    return 2;
  });
}

// The table's functions. Each is a closure over the host: a new one is added here.
const struct {
  const char* name;
  lua_CFunction function;
} KestruneFunctions[] = {
    {"time", Time},
    {"after", After},
    {"every", Every},
    {"cancel", Cancel},
    {"animate", Animate},
    {"setTickInterval", SetTickInterval},
    {"getTickInterval", GetTickInterval},
    {"setFullscreen", SetFullscreen},
    {"isFullscreen", IsFullscreen},
    {"setCursorVisible", SetCursorVisible},
    {"remove", Remove},
    {"setVisible", SetVisible},
    {"isVisible", IsVisible},
    {"raise", Raise},
    {"lower", Lower},
    {"setClip", SetClip},
    {"setFill", SetFill},
    {"setOpacity", SetOpacity},
    {"getOpacity", GetOpacity},
    {"setText", SetText},
    {"getText", GetText},
    {"measureText", MeasureText},
};

}  // namespace

void RegisterKestruneTable(lua_State* L, CLua* host) {
  lua_newtable(L);
  for (const auto& entry : KestruneFunctions) {
    lua_pushlightuserdata(L, host);
    lua_pushcclosure(L, entry.function, 1);
    lua_setfield(L, -2, entry.name);
  }
  lua_getglobal(L, "package");
  if (lua_istable(L, -1)) {
    lua_getfield(L, -1, "loaded");
    if (lua_istable(L, -1)) {
      lua_pushvalue(L, -3);
      lua_setfield(L, -2, "kestrune");
    }
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  lua_setglobal(L, "kestrune");
}

bool AddKestruneFunctions(CLua& host, const char* name,
                          const std::vector<TKestruneFunction>& functions, void* upvalue) {
  if (host.LuaState == nullptr) return false;
  auto add = [&](lua_State* L) {
    // The table the host made, even where a script already replaced the global.
    lua_getglobal(L, "package");
    if (!lua_istable(L, -1)) luaL_error(L, "the package library is missing");
    lua_getfield(L, -1, "loaded");
    if (!lua_istable(L, -1)) luaL_error(L, "package.loaded is missing");
    lua_getfield(L, -1, "kestrune");
    if (!lua_istable(L, -1)) luaL_error(L, "the kestrune table is missing");
    lua_newtable(L);
    for (const TKestruneFunction& entry : functions) {
      lua_pushlightuserdata(L, upvalue);
      lua_pushcclosure(L, entry.Function, 1);
      lua_setfield(L, -2, entry.Name);
    }
    lua_setfield(L, -2, name);
  };
  return RunProtected(host.LuaState, add);
}

void PushSceneHandle(lua_State* L, uint64_t handle) {
  lua_pushlightuserdata(L, reinterpret_cast<void*>(static_cast<uintptr_t>(handle)));
}

namespace {

// The cell of the node whose table is at `table` when `key` is "opacity": the node keeps that
// field itself, and its table gets no such key.
const TNodeCell* OpacityCell(lua_State* L, int table, int key) {
  if (lua_type(L, key) != LUA_TSTRING) return nullptr;
  size_t length = 0;
  const char* name = lua_tolstring(L, key, &length);
  if (length != 7 || std::memcmp(name, "opacity", 7) != 0) return nullptr;
  return NodeCellOfTable(L, table);
}

}  // namespace

void ReadAnimatedField(lua_State* L, int table, int key) {
  if (const TNodeCell* cell = OpacityCell(L, table, key)) {
    lua_pushnumber(L, cell->Node != nullptr ? cell->Node->Opacity : 0);
    return;
  }
  lua_pushvalue(L, key);
  lua_gettable(L, table);
}

void WriteAnimatedField(lua_State* L, int table, int key, lua_Number value) {
  if (const TNodeCell* cell = OpacityCell(L, table, key)) {
    if (cell->Node != nullptr)
      cell->Node->Opacity =
          static_cast<float>(std::min<lua_Number>(1, std::max<lua_Number>(0, value)));
    return;
  }
  lua_pushvalue(L, key);
  lua_pushnumber(L, value);
  lua_settable(L, table);
}
