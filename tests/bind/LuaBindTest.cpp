// Binding the Lua library by file name, and the routines of the header macros on a real state.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "ScratchFolder.h"
#include "app/Util_un.h"
#include "bind/Exceptions.h"
#include "bind/LuaBind.h"

using namespace LuaBind;

namespace {

int EnvCount(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atoi(value) : 0;
}

void CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary);
  out << in.rdbuf();
}

int BoundCount() {
  int count = 0;
  for (int i = 0; i < LuaEntryPointCount; ++i) count += LuaEntryPointBound(i) ? 1 : 0;
  return count;
}

int IndexOf(const std::string& name) {
  for (int i = 0; i < LuaEntryPointCount; ++i)
    if (name == LuaEntryPointNames[i]) return i;
  return -1;
}

class LuaBindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.emplace("kestrune-luabind-");
    ASSERT_TRUE(scratch_->Entered());
    workDir_ = scratch_->Path();
  }
  void TearDown() override {
    UnbindLuaLibrary();
    LuaLibraryName = LuaLibraryDefaultName;
    scratch_.reset();
  }
  std::optional<testfs::ScratchWorkingFolder> scratch_;
  std::string workDir_;
};

TEST_F(LuaBindTest, TheInterfaceIsTheLua51ApiInItsOrder) {
  ASSERT_EQ(LuaEntryPointCount, 121);
  EXPECT_STREQ(LuaEntryPointNames[0], "lua_newstate");
  EXPECT_STREQ(LuaEntryPointNames[78], "lua_gethookcount");
  EXPECT_STREQ(LuaEntryPointNames[79], "luaopen_base");
  EXPECT_STREQ(LuaEntryPointNames[86], "luaopen_package");
  EXPECT_STREQ(LuaEntryPointNames[87], "luaL_openlibs");
  EXPECT_STREQ(LuaEntryPointNames[120], "luaL_pushresult");
  // Every name once.
  for (int i = 0; i < LuaEntryPointCount; ++i) EXPECT_EQ(IndexOf(LuaEntryPointNames[i]), i);
}

// The soname the library declares, as readelf shows it; empty when it has none.
std::string Soname(const std::string& library) {
  std::string out;
  if (FILE* pipe = popen(("readelf -d '" + library + "' 2>/dev/null").c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  const std::string label = "Library soname: [";
  const size_t at = out.find(label);
  if (at == std::string::npos) return std::string();
  const size_t start = at + label.size();
  return out.substr(start, out.find(']', start) - start);
}

TEST_F(LuaBindTest, TheDefaultNameIsTheSonameThatPackageUpdatesKeep) {
  // Updates replace the versioned file behind the soname; a name bound to that file would
  // leave the program without its library.
  const std::string path = LuaLibraryDefaultName;
  ASSERT_EQ(path.front(), '/') << path;
  const std::string soname = Soname(path);
  ASSERT_FALSE(soname.empty()) << "readelf found no soname in " << path;
  EXPECT_EQ(path.substr(path.rfind('/') + 1), soname);
}

TEST_F(LuaBindTest, TheRealLibraryBindsWhole) {
  intptr_t handle = BindLuaLibrary(LuaLibraryDefaultName);
  EXPECT_GT(handle, 0);
  EXPECT_EQ(handle, LuaLibraryHandle);
  EXPECT_EQ(LuaLibraryName, LuaLibraryDefaultName);
  EXPECT_EQ(BoundCount(), 121);

  // An empty name keeps the one already set.
  EXPECT_GT(BindLuaLibrary(""), 0);
  EXPECT_EQ(LuaLibraryName, LuaLibraryDefaultName);

  UnbindLuaLibrary();
  EXPECT_EQ(LuaLibraryHandle, 0);
  EXPECT_EQ(BoundCount(), 0);
}

TEST_F(LuaBindTest, NoFileOfThatNameGivesMinusOneAndLoadsNothing) {
  ASSERT_GT(BindLuaLibrary(LuaLibraryDefaultName), 0);

  // The loader's own search would find this bare name; only the working folder counts.
  std::string bare = LuaLibraryDefaultName;
  bare = bare.substr(bare.rfind('/') + 1);
  EXPECT_EQ(BindLuaLibrary(bare), -1);
  EXPECT_EQ(LuaLibraryName, bare);
  EXPECT_EQ(LuaLibraryHandle, 0);
  EXPECT_EQ(BoundCount(), 0);

  // A folder of that name is not a file.
  ASSERT_TRUE(testfs::MakeFolder("Lua51.dll"));
  EXPECT_EQ(BindLuaLibrary("Lua51.dll"), -1);
  EXPECT_EQ(BindLuaLibrary(workDir_ + "/Lua51.dll"), -1);
}

TEST_F(LuaBindTest, AFileThatIsNoLibraryGivesMinusTwo) {
  std::ofstream("Lua51.dll") << "not a shared library\n";
  EXPECT_EQ(BindLuaLibrary("Lua51.dll"), -2);
  EXPECT_EQ(LuaLibraryHandle, 0);
  EXPECT_EQ(BoundCount(), 0);
}

TEST_F(LuaBindTest, ABareNameIsLoadedFromTheWorkingFolder) {
  CopyFile(LUA_STUB_COMPLETE, "Lua51.dll");
  intptr_t handle = BindLuaLibrary("Lua51.dll");
  EXPECT_GT(handle, 0);
  EXPECT_EQ(BoundCount(), 121);
}

TEST_F(LuaBindTest, AMissingEntryPointRaisesWithItsNameAndStopsThere) {
  try {
    BindLuaLibrary(LUA_STUB_MISSING_ONE);
    FAIL() << "no exception";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "Cannot load method 'luaL_loadfile' from dynamic library.");
  }
  // The names before it are bound, it and the ones after are not, the library stays loaded.
  const int missing = IndexOf("luaL_loadfile");
  for (int i = 0; i < LuaEntryPointCount; ++i)
    EXPECT_EQ(LuaEntryPointBound(i), i < missing) << LuaEntryPointNames[i];
  EXPECT_NE(LuaLibraryHandle, 0);
}

TEST_F(LuaBindTest, OfSeveralMissingNamesTheEarliestIsReported) {
  try {
    BindLuaLibrary(LUA_STUB_MISSING_SEVERAL);
    FAIL() << "no exception";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "Cannot load method 'lua_pcall' from dynamic library.");
  }
  EXPECT_EQ(BoundCount(), IndexOf("lua_pcall"));
}

TEST_F(LuaBindTest, BindingAgainReleasesTheFirstLoad) {
  const int loads = EnvCount("KESTRUNE_LUA_STUB_LOADS");
  const int releases = EnvCount("KESTRUNE_LUA_STUB_RELEASES");
  EXPECT_GT(BindLuaLibrary(LUA_STUB_COMPLETE), 0);
  EXPECT_EQ(EnvCount("KESTRUNE_LUA_STUB_LOADS"), loads + 1);

  intptr_t second = BindLuaLibrary(LUA_STUB_COMPLETE);
  EXPECT_GT(second, 0);
  EXPECT_EQ(second, LuaLibraryHandle);
  EXPECT_EQ(EnvCount("KESTRUNE_LUA_STUB_RELEASES"), releases + 1);
  EXPECT_EQ(EnvCount("KESTRUNE_LUA_STUB_LOADS"), loads + 2);
  EXPECT_EQ(BoundCount(), 121);

  // A failed binding releases what was loaded before it as well.
  EXPECT_EQ(BindLuaLibrary(workDir_ + "/none.so"), -1);
  EXPECT_EQ(EnvCount("KESTRUNE_LUA_STUB_RELEASES"), releases + 2);
}

TEST_F(LuaBindTest, ResolveLuaEntryRaisesOnlyForARequiredMissingName) {
  ASSERT_GT(BindLuaLibrary(LUA_STUB_COMPLETE), 0);
  EXPECT_NE(ResolveLuaEntry(LuaLibraryHandle, "lua_gettop", true), nullptr);
  EXPECT_EQ(ResolveLuaEntry(LuaLibraryHandle, "lua_nothing", false), nullptr);
  try {
    ResolveLuaEntry(LuaLibraryHandle, "it's", true);
    FAIL() << "no exception";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "Cannot load method 'it''s' from dynamic library.");
  }
}

// The real library by a name that finds it from any working folder: the default name where it
// is a path, else the copy beside the tests.
std::string RealLibrary() {
  if (testfs::HasFolderPart(LuaLibraryDefaultName)) return LuaLibraryDefaultName;
  if (ProgramFolder.empty()) InitProgramFolder();
  return ProgramFolder + LuaLibraryDefaultName;
}

// The header routines, on a state of the real library.
class LuaMacroTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(BindLuaLibrary(RealLibrary()), 0);
    L = lua_open();
    ASSERT_NE(L, nullptr);
  }
  void TearDown() override {
    lua_close(L);
    UnbindLuaLibrary();
  }
  lua_State* L = nullptr;
};

// Spies put in place of an entry point record its index argument and pass the call on.
decltype(LuaBind::lua_settop) RealSettop;
int SettopIndex;
void SpySettop(lua_State* L, int index) {
  SettopIndex = index;
  RealSettop(L, index);
}
decltype(LuaBind::lua_rawgeti) RealRawgeti;
int RawgetiIndex;
void SpyRawgeti(lua_State* L, int index, int n) {
  RawgetiIndex = index;
  RealRawgeti(L, index, n);
}

int RefUnlocked(lua_State* L) {
  lua_pushstring(L, "value");
  lua_ref(L, false);
  return 0;
}

int Seven(lua_State* L) {
  lua_pushnumber(L, 7);
  return 1;
}

TEST_F(LuaMacroTest, PseudoIndicesAndPop) {
  EXPECT_EQ(lua_upvalueindex(1), -10003);
  EXPECT_EQ(lua_upvalueindex(3), -10005);

  lua_pushnumber(L, 1);
  lua_pushnumber(L, 2);
  lua_pushnumber(L, 3);
  RealSettop = LuaBind::lua_settop;
  LuaBind::lua_settop = SpySettop;
  lua_pop(L, 1);
  EXPECT_EQ(SettopIndex, -2);
  lua_pop(L, 2);
  EXPECT_EQ(SettopIndex, -3);
  LuaBind::lua_settop = RealSettop;
  EXPECT_EQ(lua_gettop(L), 0);
}

TEST_F(LuaMacroTest, ReferencesLiveInTheRegistry) {
  lua_pushstring(L, "kept");
  int ref = lua_ref(L, true);
  EXPECT_GT(ref, 0);
  EXPECT_EQ(lua_gettop(L), 0);  // popped into the registry

  RealRawgeti = LuaBind::lua_rawgeti;
  LuaBind::lua_rawgeti = SpyRawgeti;
  lua_getref(L, ref);
  LuaBind::lua_rawgeti = RealRawgeti;
  EXPECT_EQ(RawgetiIndex, -10000);
  EXPECT_STREQ(lua_tostring(L, -1), "kept");
  lua_pop(L, 1);

  // Lock false is a Lua error, raised inside the interpreter.
  EXPECT_NE(lua_cpcall(L, RefUnlocked, nullptr), 0);
  EXPECT_STREQ(lua_tostring(L, -1), "unlocked references are obsolete");
}

TEST_F(LuaMacroTest, GlobalsTablesAndTypeTests) {
  lua_register(L, "seven", Seven);
  lua_getfield(L, LUA_GLOBALSINDEX, "seven");
  EXPECT_TRUE(lua_isfunction(L, -1));
  EXPECT_FALSE(lua_istable(L, -1));
  lua_pop(L, 1);
  ASSERT_EQ(luaL_loadstring(L, "return seven() + 1"), 0);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
  EXPECT_EQ(lua_tonumber(L, -1), 8);
  lua_pop(L, 1);

  lua_newtable(L);
  EXPECT_TRUE(lua_istable(L, -1));
  for (int i = 1; i <= 3; ++i) {
    lua_pushboolean(L, i % 2);
    lua_rawseti(L, -2, i);
  }
  EXPECT_EQ(luaL_getn(L, -1), 3);
  lua_rawgeti(L, -1, 1);
  EXPECT_TRUE(lua_isboolean(L, -1));
  lua_pop(L, 1);
  lua_setglobal(L, "list");
  EXPECT_EQ(lua_gettop(L), 0);
  ASSERT_EQ(luaL_loadstring(L, "return #list"), 0);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
  EXPECT_EQ(lua_tointeger(L, -1), 3);
  lua_pop(L, 1);

  lua_pushcfunction(L, Seven);
  EXPECT_TRUE(lua_isfunction(L, -1));
  EXPECT_EQ(lua_tocfunction(L, -1), &Seven);
  lua_pop(L, 1);
}

TEST_F(LuaMacroTest, ToStringConvertsANumberInPlace) {
  lua_pushnumber(L, 12);
  EXPECT_EQ(lua_type(L, -1), LUA_TNUMBER);
  EXPECT_STREQ(lua_tostring(L, -1), "12");
  EXPECT_EQ(lua_type(L, -1), LUA_TSTRING);
  lua_newtable(L);
  EXPECT_EQ(lua_tostring(L, -1), nullptr);
  lua_pop(L, 2);
}

}  // namespace
