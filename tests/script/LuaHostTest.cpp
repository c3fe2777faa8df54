// The script host: construction, running script files through the cache, reporting failures,
// and hosts that have no interpreter.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ScratchFolder.h"
#include "ScriptFixture.h"
#include "bind/Exceptions.h"
#include "script/ScriptWrites.h"

using namespace LuaBind;

namespace {

using ScriptHostTest = ScriptTest;

TEST_F(ScriptHostTest, ConstructionRegistersTheFunctionsAndTheRoot) {
  EXPECT_EQ(lua_gettop(L), 0);
  EXPECT_TRUE(Bool("return type(print) == 'function' and type(createTexture) == 'function'"));
  // print is ours: it writes the caption, not standard output.
  EXPECT_EQ(Run("print('x')"), "");
  EXPECT_EQ(Form->Caption(), "print 1 args (STR x)");
  EXPECT_EQ(String("return root.id"), "root");
  EXPECT_TRUE(Bool("return type(root.nodes) == 'table' and root.parent == nil"));
  EXPECT_TRUE(Bool("return string ~= nil and table ~= nil and io ~= nil and math ~= nil"));
  EXPECT_EQ(Host->Root->Depth, 0);
  EXPECT_EQ(Host->Root->Parent, nullptr);
  EXPECT_TRUE(Host->Files.empty());
  EXPECT_EQ(Host->LastError(), "");
}

TEST_F(ScriptHostTest, TheFilesAScriptWritesAreNotedWhileLuasFunctionsAnswerAsBefore) {
  TakeScriptWrites();
  WriteFile("read.txt", "x");
  // What the calls return and raise, the same with Lua's own functions and with the host's.
  const std::string calls = R"(
    local seen = {}
    local function try(f, ...) seen[#seen + 1] = tostring(select(2, pcall(f, ...))) end
    try(function() return io.open('read.txt'):close() end)
    try(function() return io.open('log.txt', 'w'):close() end)
    try(function() return io.open('score.txt', 'a+'):close() end)
    try(function()
      io.output('out.txt'):close()
      io.output(io.stdout)
      return io.type(io.output())
    end)
    try(function() return os.rename('log.txt', 'old.txt') end)
    try(function() return os.remove('old.txt') end)
    try(function() return io.open('no/such/folder/x', 'w') end)
    try(function() io.open() end)
    try(function() io.open('x', {}) end)
    try(function() os.rename('a') end)
    try(function() os.remove() end)
    try(function() io.output({}) end)
    try(function() io.output('no/such/folder/y') end)
    return table.concat(seen, '\n'))";
  const std::string answers = String(calls);
  EXPECT_NE(answers.find("bad argument #2 to 'open' (string expected, got table)"),
            std::string::npos)
      << answers;
  const std::vector<std::string> noted = TakeScriptWrites();
  EXPECT_EQ(noted, (std::vector<std::string>{"log.txt", "no/such/folder/x", "no/such/folder/y",
                                             "old.txt", "out.txt", "score.txt"}));

  lua_State* plain = lua_open();
  ASSERT_NE(plain, nullptr);
  luaL_openlibs(plain);
  std::swap(L, plain);
  const std::string plainAnswers = String(calls);
  std::swap(L, plain);
  lua_close(plain);
  EXPECT_EQ(answers, plainAnswers);
  EXPECT_TRUE(TakeScriptWrites().empty());
}

TEST_F(ScriptHostTest, AMissingScriptIsReportedByItsLowerCasedName) {
  EXPECT_FALSE(Host->LoadScript("Test.lua"));
  EXPECT_EQ(Host->LastError(), "test.lua: file not found");
  EXPECT_TRUE(Host->Files.empty());
}

TEST_F(ScriptHostTest, AScriptRunsAgainFromTheCacheWithoutRereadingTheFile) {
  WriteFile("Test.lua", "runs = (runs or 0) + 1\nroot.createNode('n')\n");
  EXPECT_TRUE(Host->LoadScript("Test.lua"));
  WriteFile("Test.lua", "runs = 100\n");
  EXPECT_TRUE(Host->LoadScript("Test.lua"));
  EXPECT_EQ(Number("return runs"), 2);
  EXPECT_EQ(Host->Root->Children.size(), 2u);
  ASSERT_EQ(Host->Files.size(), 1u);
  EXPECT_EQ(Host->Files[0].FileName, "test.lua");
  EXPECT_EQ(lua_gettop(L), 0);
}

TEST_F(ScriptHostTest, AScriptThatFailedToCompileIsReadAgain) {
  WriteFile("Fix.lua", "x = = 1\n");
  EXPECT_FALSE(Host->LoadScript("Fix.lua"));
  // The message names the file by its lower-cased path, like the interpreter's own loader.
  EXPECT_EQ(Host->LastError().rfind("fix.lua:1:", 0), 0u) << Host->LastError();
  EXPECT_TRUE(Host->Files.empty());
  EXPECT_EQ(lua_gettop(L), 0);

  WriteFile("Fix.lua", "fixed = true\n");
  EXPECT_TRUE(Host->LoadScript("Fix.lua"));
  EXPECT_EQ(Host->LastError(), "");
  EXPECT_TRUE(Bool("return fixed"));
}

TEST_F(ScriptHostTest, AScriptThatFailedWhileRunningKeepsWhatItBuiltAndItsChunk) {
  WriteFile("Run.lua",
            "local n = root.createNode('kept')\n"
            "n.left = 5\n"
            "tries = (tries or 0) + 1\n"
            "error('stop here')\n");
  EXPECT_FALSE(Host->LoadScript("Run.lua"));
  EXPECT_EQ(Host->LastError(), "run.lua:4: stop here");
  EXPECT_EQ(lua_gettop(L), 0);
  DrawFrame();
  EXPECT_EQ(Node({0})->ScreenRect.Left, 5.0f);

  // The file changes, the cached chunk runs again.
  WriteFile("Run.lua", "tries = 50\n");
  EXPECT_FALSE(Host->LoadScript("Run.lua"));
  EXPECT_EQ(Number("return tries"), 2);
  EXPECT_EQ(Host->Files.size(), 1u);
}

TEST_F(ScriptHostTest, NamesThatDifferOnlyInCaseShareOneEntry) {
  // Two files whose names differ only in case: the lower-cased path is the key, so the second
  // name runs the chunk compiled from the first.
  WriteFile("Case.lua", "which = (which or '') .. 'C'\n");
  WriteFile("case.lua", "which = (which or '') .. 'c'\n");
  EXPECT_TRUE(Host->LoadScript("Case.lua"));
  EXPECT_TRUE(Host->LoadScript("case.lua"));
  EXPECT_EQ(String("return which"), "CC");
  EXPECT_EQ(Host->Files.size(), 1u);
}

TEST_F(ScriptHostTest, AStartScriptWithCapitalsIsFoundOnACaseSensitiveFileSystem) {
  ASSERT_TRUE(testfs::MakeFolder("Scripts"));
  WriteFile("Scripts/Start.lua", "started = true\nerror('late')\n");
  EXPECT_FALSE(Host->LoadScript("Scripts/Start.lua"));
  EXPECT_EQ(Host->LastError(), "scripts/start.lua:2: late");
  EXPECT_TRUE(Bool("return started"));
}

TEST_F(ScriptHostTest, SuccessAfterFailureEmptiesTheError) {
  WriteFile("bad.lua", "error('bad')");
  WriteFile("good.lua", "return 1, 2, 3");
  EXPECT_FALSE(Host->LoadScript("bad.lua"));
  EXPECT_NE(Host->LastError(), "");
  EXPECT_TRUE(Host->LoadScript("good.lua"));
  EXPECT_EQ(Host->LastError(), "");
  // What a chunk returns is dropped rather than left on the stack.
  EXPECT_EQ(lua_gettop(L), 0);
}

TEST_F(ScriptHostTest, ErrorValuesThatAreNoTextGiveAnEmptyError) {
  WriteFile("table.lua", "error({})");
  WriteFile("nil.lua", "error(nil)");
  WriteFile("number.lua", "error(42)");
  EXPECT_FALSE(Host->LoadScript("table.lua"));
  EXPECT_EQ(Host->LastError(), "");
  EXPECT_FALSE(Host->LoadScript("nil.lua"));
  EXPECT_EQ(Host->LastError(), "");
  // A number is text enough; error() gives it a position like a string.
  EXPECT_FALSE(Host->LoadScript("number.lua"));
  EXPECT_EQ(Host->LastError(), "number.lua:1: 42");
}

TEST_F(ScriptHostTest, AFirstLineStartingWithHashIsSkippedAndLinesStillCount) {
  WriteFile("hash.lua", "#!/usr/bin/env lua\nerror('second line')\n");
  EXPECT_FALSE(Host->LoadScript("hash.lua"));
  EXPECT_EQ(Host->LastError(), "hash.lua:2: second line");
}

TEST_F(ScriptHostTest, MouseEventBeforeTheFirstFrameFindsNoNode) {
  WriteFile("t.lua",
            "root.setAttr{left = 0, top = 0, width = 800, height = 600}\n"
            "function root.onLeftPress() hit = true end\n");
  ASSERT_TRUE(Host->LoadScript("t.lua"));
  Host->MouseEvent(TFloatPoint{10, 10}, "LeftPress");
  EXPECT_FALSE(Bool("return hit"));
  DrawFrame();
  Host->MouseEvent(TFloatPoint{10, 10}, "LeftPress");
  EXPECT_TRUE(Bool("return hit"));
}

// Hosts whose library is missing or broken: made apart from the fixture's host.
class HostWithoutLibraryTest : public ScriptTest {
 protected:
  void TearDown() override {
    LuaLibraryName = LuaLibraryDefaultName;
    ScriptTest::TearDown();
  }
  void ExpectInert(CLua& host, const std::string& message) {
    EXPECT_EQ(host.LuaState, nullptr);
    EXPECT_EQ(host.LastError(), "");
    EXPECT_FALSE(host.LoadScript("Test.lua"));
    EXPECT_EQ(host.LastError(), message);
    host.DrawNodes();
    host.MouseEvent(TFloatPoint{1, 1}, "LeftPress");
  }
};

TEST_F(HostWithoutLibraryTest, NoLibraryFileGivesAHostThatNeverCallsIntoIt) {
  // The fixture's host goes first: binding again would pull the library from under it.
  delete Host;
  Host = nullptr;
  WriteFile("Test.lua", "x = 1");
  LuaLibraryName = Folder + "/missing.so";
  CLua host;
  ExpectInert(host, "Lua library " + Folder + "/missing.so: file not found");
}

TEST_F(HostWithoutLibraryTest, ALibraryThatCannotBeLoadedGivesAnInertHost) {
  delete Host;
  Host = nullptr;
  WriteFile("broken.so", "this is no library");
  LuaLibraryName = Folder + "/broken.so";
  CLua host;
  ExpectInert(host, "Lua library " + Folder + "/broken.so: cannot be loaded");
}

TEST_F(HostWithoutLibraryTest, AMissingEntryPointLeavesTheConstructor) {
  delete Host;
  Host = nullptr;
  LuaLibraryName = LUA_STUB_MISSING_ONE;
  try {
    CLua host;
    FAIL() << "constructed";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "Cannot load method 'luaL_loadfile' from dynamic library.");
  }
}

TEST_F(HostWithoutLibraryTest, AFailureToOpenTheLibrariesIsTheStartScriptsError) {
  if (std::string(LUA_FAILING_OPENLIBS).empty()) GTEST_SKIP() << "no such library here";
  delete Host;
  Host = nullptr;
  WriteFile("Test.lua", "x = 1");
  LuaLibraryName = LUA_FAILING_OPENLIBS;
  CLua host;
  ExpectInert(host, "Lua library " + std::string(LUA_FAILING_OPENLIBS) +
                        ": cannot start the interpreter: unable to get ModuleFileName");
}

}  // namespace
