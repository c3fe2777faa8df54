// The bodies of print, createTexture and the node functions, and their argument checks.
#include "script/ScriptFunctions.h"

#include <cstdint>

#include "render/Graph_un.h"
#include "script/Lua_un.h"
#include "script/ScriptConsole.h"
#include "script/SceneWindow.h"

using namespace LuaBind;

namespace LuaScript {

namespace {

std::string UpperCase(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

const char* StringArg(lua_State* L, int index) {
  const char* text = lua_tostring(L, index);
  return text != nullptr ? text : "";
}

// The texture index argument as the 32-bit index a picture keeps. Lua's integers are wider
// here, and narrowing would wrap 2^32 round onto texture 0. A number that 32 bits cannot hold
// (NaN and the infinities too) names no texture instead, as where the conversion is 32 bits
// wide and gives its "integer indefinite" value 0x80000000.
int32_t TextureIndexArg(lua_State* L, int index) {
  const lua_Number value = lua_tonumber(L, index);
  if (!(value > lua_Number(INT32_MIN) - 1 && value < lua_Number(INT32_MAX) + 1)) return INT32_MIN;
  return static_cast<int32_t>(lua_tointeger(L, index));
}

}  // namespace

bool ArgsMatch(lua_State* L, bool exact, ArgPattern pattern) {
  const int n = static_cast<int>(pattern.size());
  const int top = lua_gettop(L);
  if (top < n) return false;
  if (exact && top > n) return false;
  int i = 1;
  for (int type : pattern) {
    if (lua_type(L, i) != type) return false;
    ++i;
  }
  return true;
}

void RaiseArgError(lua_State* L, ArgPattern pattern) {
  const int n = static_cast<int>(pattern.size());
  const int top = lua_gettop(L);
  int i = 1;
  for (int type : pattern) {
    if (i > top || lua_type(L, i) != type) {
      std::string text = std::string("should be a ") + AnsiLowerCase(lua_typename(L, type));
      ClearStack(L);
      luaL_argerror(L, i, text.c_str());
    }
    ++i;
  }
  ClearStack(L);
  luaL_argerror(L, n + 1, "should not be passed");
  // luaL_argerror does not return; this is never reached.
  std::terminate();
}

int ClearStack(lua_State* L) {
  lua_pop(L, lua_gettop(L));
  return 0;
}

CLuaNode* UpvalueNode(lua_State* L) {
  const auto* cell = static_cast<const TNodeCell*>(lua_touserdata(L, lua_upvalueindex(1)));
  return cell != nullptr ? cell->Node : nullptr;
}

std::string DescribeArgs(const std::string& name, lua_State* L) {
  const int top = lua_gettop(L);
  std::string text = name + " " + std::to_string(top) + " args";
  for (int i = 1; i <= top; ++i) {
    if (lua_isnumber(L, i)) {
      text += " (NUM " + std::to_string(lua_tointeger(L, i)) + ")";
    } else if (lua_isstring(L, i)) {
      text += std::string(" (STR ") + StringArg(L, i) + ")";
    } else if (lua_isboolean(L, i)) {
      text += std::string(" (BOOL ") + (lua_toboolean(L, i) ? "-1" : "0") + ")";
    } else {
      text += " (" + UpperCase(lua_typename(L, lua_type(L, i))) + ")";
    }
  }
  ClearStack(L);
  return text;
}

void CopyTableFields(lua_State* L) {
  lua_pushnil(L);
  while (lua_next(L, -3) != 0) {  // [source, destination, key, value]
    if (lua_type(L, -2) == LUA_TSTRING) {
      // The key is kept as the value it is (a copy through a C string would end at a zero
      // byte and then no longer be a key of the source for lua_next).
      lua_pushvalue(L, -2);
      lua_insert(L, -2);    // [source, destination, key, key, value]
      lua_settable(L, -4);  // destination[key] = value
    } else {
      lua_pop(L, 1);
    }
  }
}

int print(lua_State* L) {
  return Guarded(L, [L] {
    const std::string line = PrintLine(L);
    std::string text = DescribeArgs("print", L);
    if (SceneWindow.SetCaption) SceneWindow.SetCaption(text);
    if (SceneWindow.PrintLine)
      SceneWindow.PrintLine(line);
    else
      WriteOutputLine(line);
    return 0;
  });
}

int createTexture(lua_State* L) {
  return Guarded(L, [L] {
    if (!ArgsMatch(L, false, {LUA_TSTRING})) RaiseArgError(L, {LUA_TSTRING});
    std::string fileName = StringArg(L, 1);
    float width = 0;
    float height = 0;
    if (ArgsMatch(L, true, {LUA_TSTRING})) {
      ClearStack(L);
    } else if (ArgsMatch(L, true, {LUA_TSTRING, LUA_TNUMBER, LUA_TNUMBER})) {
      width = static_cast<float>(lua_tointeger(L, 2));
      height = static_cast<float>(lua_tointeger(L, 3));
      ClearStack(L);
    } else {
      RaiseArgError(L, {LUA_TSTRING, LUA_TNUMBER, LUA_TNUMBER});
    }
    if (GLScreen == nullptr) luaL_error(L, "createTexture: there is no screen");
    lua_pushinteger(L, GLScreen->AddTexture(fileName, width, height));
    return 1;
  });
}

int createNode(lua_State* L) {
  return Guarded(L, [L] {
    CLuaNode* node = UpvalueNode(L);
    if (node == nullptr) return ClearStack(L);  // the node was removed
    if (ArgsMatch(L, true, {})) {
      ClearStack(L);
      return node->AddChild()->CreateTable(L, std::string());
    }
    if (ArgsMatch(L, true, {LUA_TSTRING})) {
      std::string id = StringArg(L, 1);
      ClearStack(L);
      return node->AddChild()->CreateTable(L, id);
    }
    if (ArgsMatch(L, true, {LUA_TTABLE})) {
      CLuaNode* child = node->AddChild();
      child->CreateTable(L, std::string());  // [template, T]
      CopyTableFields(L);
      ClearStack(L);
      return child->PushTable(L);
    }
    RaiseArgError(L, {LUA_TTABLE});
  });
}

int getNode(lua_State* L) {
  return Guarded(L, [L] {
    CLuaNode* node = UpvalueNode(L);
    if (node == nullptr) return ClearStack(L);  // the node was removed
    if (!ArgsMatch(L, false, {LUA_TSTRING})) RaiseArgError(L, {LUA_TSTRING});
    std::string id = StringArg(L, 1);
    CLuaNode* found = nullptr;
    if (ArgsMatch(L, true, {LUA_TSTRING})) {
      found = node->FindNode(L, id, false);
      ClearStack(L);
    } else if (ArgsMatch(L, true, {LUA_TSTRING, LUA_TBOOLEAN})) {
      bool recursive = lua_toboolean(L, 2) != 0;
      ClearStack(L);
      found = node->FindNode(L, id, recursive);
    } else {
      RaiseArgError(L, {LUA_TSTRING, LUA_TBOOLEAN});
    }
    if (found != nullptr) return found->PushTable(L);
    lua_pushnil(L);
    return 1;
  });
}

int setAttr(lua_State* L) {
  return Guarded(L, [L] {
    CLuaNode* node = UpvalueNode(L);
    if (node == nullptr) return ClearStack(L);  // the node was removed
    if (!ArgsMatch(L, true, {LUA_TTABLE})) RaiseArgError(L, {LUA_TTABLE});
    node->PushTable(L);
    CopyTableFields(L);
    return ClearStack(L);
  });
}

int createPicture(lua_State* L) {
  return Guarded(L, [L] {
    CLuaNode* node = UpvalueNode(L);
    if (node == nullptr) return ClearStack(L);  // the node was removed
    if (!ArgsMatch(L, false, {LUA_TSTRING})) RaiseArgError(L, {LUA_TSTRING});
    std::string name = StringArg(L, 1);
    if (name.empty()) {
      ClearStack(L);
      luaL_argerror(L, 1, "should be a filled string");
    }
    if (ArgsMatch(L, true, {LUA_TSTRING, LUA_TNUMBER})) {
      int32_t texture = TextureIndexArg(L, 2);
      ClearStack(L);
      TLuaNodePicture& picture = node->AddPicture(name);
      picture.TextureIndex = texture;
      picture.HasSource = false;
      return 0;
    }
    if (ArgsMatch(L, true,
                  {LUA_TSTRING, LUA_TNUMBER, LUA_TNUMBER, LUA_TNUMBER, LUA_TNUMBER, LUA_TNUMBER})) {
      int32_t texture = TextureIndexArg(L, 2);
      TFloatRect source{
          static_cast<float>(lua_tonumber(L, 3)), static_cast<float>(lua_tonumber(L, 4)),
          static_cast<float>(lua_tonumber(L, 5)), static_cast<float>(lua_tonumber(L, 6))};
      ClearStack(L);
      TLuaNodePicture& picture = node->AddPicture(name);
      picture.TextureIndex = texture;
      picture.HasSource = true;
      picture.Source = source;
      return 0;
    }
    RaiseArgError(L,
                  {LUA_TSTRING, LUA_TNUMBER, LUA_TNUMBER, LUA_TNUMBER, LUA_TNUMBER, LUA_TNUMBER});
  });
}

int setPicture(lua_State* L) {
  return Guarded(L, [L] {
    CLuaNode* node = UpvalueNode(L);
    if (node == nullptr) return ClearStack(L);  // the node was removed
    if (ArgsMatch(L, true, {}) || ArgsMatch(L, true, {LUA_TNIL})) {
      ClearStack(L);
      lua_pushboolean(L, node->SelectPicture(std::string()));
      return 1;
    }
    if (ArgsMatch(L, true, {LUA_TSTRING})) {
      std::string name = StringArg(L, 1);
      ClearStack(L);
      lua_pushboolean(L, node->SelectPicture(name));
      return 1;
    }
    RaiseArgError(L, {LUA_TSTRING});
  });
}

int getPicture(lua_State* L) {
  return Guarded(L, [L] {
    CLuaNode* node = UpvalueNode(L);
    if (node == nullptr) return ClearStack(L);  // the node was removed
    if (!ArgsMatch(L, true, {})) RaiseArgError(L, {});
    if (const TLuaNodePicture* picture = node->GetCurrentPicture())
      lua_pushstring(L, picture->Name.c_str());
    else
      lua_pushnil(L);
    return 1;
  });
}

}  // namespace LuaScript
