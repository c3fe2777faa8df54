// The console lines of print and of script errors, with the traceback of where an error rose.
#include "script/ScriptConsole.h"

#include <cstdio>

#include "platform/Platform.h"
#include "script/ProtectedRead.h"

using namespace LuaBind;

namespace {

// Registry keys: the addresses are unique to this module.
char HandlerKey;
char TracebackKey;

// A traceback this deep (a runaway recursion) shows its first and its last levels only.
constexpr int kFirstLevels = 12;
constexpr int kLastLevels = 10;

// The deepest level lua_getstack answers for, or 0. Each call walks the stack from the top, so
// the depth is found by halving rather than level by level.
int DeepestLevel(lua_State* L) {
  lua_Debug ar;
  if (!lua_getstack(L, 1, &ar)) return 0;
  int found = 1;
  int missing = 2;
  while (lua_getstack(L, missing, &ar)) {
    found = missing;
    missing *= 2;
  }
  while (missing - found > 1) {
    const int middle = found + (missing - found) / 2;
    if (lua_getstack(L, middle, &ar))
      found = middle;
    else
      missing = middle;
  }
  return found;
}

// [text] -> [text .. one line of the traceback for `level`]
void AppendLevel(lua_State* L, int level) {
  lua_Debug ar;
  if (!lua_getstack(L, level, &ar)) return;
  lua_getinfo(L, "Snl", &ar);
  const int base = lua_gettop(L);
  lua_pushfstring(L, "\n\t%s:", ar.short_src);
  if (ar.currentline > 0) lua_pushfstring(L, "%d:", ar.currentline);
  if (*ar.namewhat != '\0')
    lua_pushfstring(L, " in function '%s'", ar.name);
  else if (*ar.what == 'm')
    lua_pushliteral(L, " in main chunk");
  else if (*ar.what == 'C' || *ar.what == 't')
    lua_pushliteral(L, " ?");
  else
    lua_pushfstring(L, " in function <%s:%d>", ar.short_src, ar.linedefined);
  lua_concat(L, lua_gettop(L) - base + 1);
}

// The message handler: level 0 is the handler itself, level 1 the function that raised.
int NoteTraceback(lua_State* L) {
  lua_settop(L, 1);
  lua_pushlightuserdata(L, &TracebackKey);
  lua_pushliteral(L, "stack traceback:");
  int deepest = DeepestLevel(L);
  // The host's own protected call sits below every call it makes: a C function without a name,
  // of no interest to the script's writer.
  while (deepest > 0) {
    lua_Debug ar;
    if (!lua_getstack(L, deepest, &ar)) break;
    lua_getinfo(L, "Sn", &ar);
    if (*ar.what != 'C' || *ar.namewhat != '\0') break;
    --deepest;
  }
  if (deepest == 0) {  // nothing to show: no traceback is noted
    lua_settop(L, 1);
    return 1;
  }
  for (int level = 1; level <= deepest; ++level) {
    if (level == kFirstLevels + 1 && deepest > kFirstLevels + kLastLevels) {
      lua_pushliteral(L, "\n\t...");
      lua_concat(L, 2);
      level = deepest - kLastLevels + 1;
    }
    AppendLevel(L, level);
  }
  lua_rawset(L, LUA_REGISTRYINDEX);
  return 1;
}

// The value at `index` as print shows it, or as an error message names it.
std::string ValueText(lua_State* L, int index, bool asError) {
  switch (lua_type(L, index)) {
    case LUA_TSTRING:
    case LUA_TNUMBER:
      // Formatted here rather than by the interpreter: an error is reported outside any
      // protected call, where nothing may allocate in the interpreter.
      return ErrorValueText(L, index);
    case LUA_TBOOLEAN:
      if (!asError) return lua_toboolean(L, index) ? "true" : "false";
      break;
    case LUA_TNIL:
      if (!asError) return "nil";
      break;
    default:
      if (!asError) {
        lua_pushfstring(L, "%s: %p", luaL_typename(L, index), lua_topointer(L, index));
        std::string result = lua_tostring(L, -1);
        lua_pop(L, 1);
        return result;
      }
      break;
  }
  return std::string("(error object is a ") + luaL_typename(L, index) + " value)";
}

}  // namespace

std::string NumberText(lua_Number value) {
  char text[64];
  std::snprintf(text, sizeof text, LUA_NUMBER_FMT, value);
  return text;
}

std::string PrintLine(lua_State* L) {
  const int top = lua_gettop(L);
  std::string line;
  for (int i = 1; i <= top; ++i) {
    if (i > 1) line += '\t';
    line += ValueText(L, i, false);
  }
  return line;
}

void PushTracebackHandler(lua_State* L) {
  PushRegistryFunction(L, &HandlerKey, NoteTraceback);
}

std::string ScriptErrorReport(lua_State* L) {
  const int top = lua_gettop(L);
  std::string text = ValueText(L, top, true);
  lua_pushlightuserdata(L, &TracebackKey);
  lua_rawget(L, LUA_REGISTRYINDEX);
  if (lua_type(L, -1) == LUA_TSTRING) {
    size_t length = 0;
    const char* traceback = lua_tolstring(L, -1, &length);
    text += '\n';
    text.append(traceback, length);
  }
  const bool noted = lua_type(L, -1) == LUA_TSTRING;
  lua_settop(L, top);
  // Noted for this error only: the next one may come without a traceback (out of memory).
  // Clearing a key the registry holds allocates nothing; one it lacks is left alone.
  if (noted) {
    lua_pushlightuserdata(L, &TracebackKey);
    lua_pushnil(L);
    lua_rawset(L, LUA_REGISTRYINDEX);
  }
  return text;
}

std::function<void(const std::string& report)> ScriptErrorSeen;

void ReportScriptError(lua_State* L) {
  const std::string report = ScriptErrorReport(L);
  WriteErrorLine(report);
  if (ScriptErrorSeen) ScriptErrorSeen(report);
}

namespace {

// How often a repeating error's count is written, in µs of scene time.
constexpr int64_t kRepeatCountEvery = 5000000;
// How many different errors are told apart.
constexpr size_t kErrorsKept = 16;

}  // namespace

void CRepeatedErrors::Report(const std::string& report, int64_t now) {
  if (ScriptErrorSeen) ScriptErrorSeen(report);
  for (size_t i = 0; i < Seen.size(); ++i) {
    if (Seen[i].Report != report) continue;
    TSeen seen = std::move(Seen[i]);
    Seen.erase(Seen.begin() + static_cast<std::ptrdiff_t>(i));
    ++seen.Repeats;
    Seen.push_back(std::move(seen));
    Flush(now);
    return;
  }
  WriteErrorLine(report);
  if (Seen.size() >= kErrorsKept) Seen.erase(Seen.begin());
  Seen.push_back(TSeen{report, now, 0});
}

void CRepeatedErrors::Flush(int64_t now) {
  for (TSeen& seen : Seen) {
    if (seen.Repeats == 0 || now - seen.WrittenAt < kRepeatCountEvery) continue;
    const std::string::size_type end = seen.Report.find('\n');
    WriteErrorLine("kestrune: the same error " + std::to_string(seen.Repeats) +
                   " more times: " + seen.Report.substr(0, end));
    seen.Repeats = 0;
    seen.WrittenAt = now;
  }
}
