#include "ScriptFixture.h"

#include <GL/gl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "ScratchFolder.h"
#include "app/Util_un.h"
#include "script/SceneWindow.h"

using namespace LuaBind;

std::vector<uint8_t> QuarteredBmp(int size) {
  const TRgb quarters[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  TBmpOptions options;
  options.padding = 0;
  return MakeBmp(size, size, options, [&](uint32_t x, uint32_t y) {
    const bool top = int(y) < size - size / 2, left = int(x) < size / 2;
    return quarters[(top ? 0 : 2) + (left ? 0 : 1)];
  });
}

void ScriptTest::SetUp() {
  if (!Application->Initialize()) GTEST_SKIP() << "no display";
  scratch_.emplace("kestrune-script-");
  ASSERT_TRUE(scratch_->Entered());
  Folder = scratch_->Path();
  // A bare library name is looked for in the working folder, as a user's scene folder holds it
  // beside the program: give the scratch folder the copy that stands beside the tests.
  if (ProgramFolder.empty()) InitProgramFolder();
  if (!testfs::HasFolderPart(LuaLibraryDefaultName)) {
    ASSERT_TRUE(testfs::CopyInto(ProgramFolder + LuaLibraryDefaultName, Folder));
  }

  ASSERT_TRUE(OpenScreen(LogicalScreenWidth, LogicalScreenHeight));
  ShowWindow();
  SceneWindow.SetCaption = [this](const std::string& text) { Form->SetCaption(text); };
  Host = new CLua();
  L = Host->LuaState;
  ASSERT_NE(L, nullptr);
}

void ScriptTest::FreeWindowAndHost() {
  delete Host;
  Host = nullptr;
  SceneWindow = TSceneWindow();
  CloseScreen();
}

void ScriptTest::TearDown() {
  FreeWindowAndHost();
  scratch_.reset();
}

void ScriptTest::WriteFile(const std::string& name, const std::string& bytes) const {
  std::ofstream(Folder + "/" + name, std::ios::binary) << bytes;
}

std::string ScriptTest::Run(const std::string& code) {
  const int base = lua_gettop(L);
  if (luaL_loadbuffer(L, code.data(), code.size(), "=test") != 0 ||
      lua_pcall(L, 0, LUA_MULTRET, 0) != 0) {
    const char* text = lua_tostring(L, -1);
    std::string message = text != nullptr ? text : "(no message)";
    lua_settop(L, base);
    return message;
  }
  lua_settop(L, base);
  return std::string();
}

namespace {

// Leaves the one result of `code` on the stack.
void Evaluate(lua_State* L, const std::string& code) {
  const bool ok =
      luaL_loadbuffer(L, code.data(), code.size(), "=test") == 0 && lua_pcall(L, 0, 1, 0) == 0;
  if (!ok) {
    ADD_FAILURE() << code << ": " << lua_tostring(L, -1);
  }
}

}  // namespace

double ScriptTest::Number(const std::string& code) {
  Evaluate(L, code);
  double value = lua_tonumber(L, -1);
  lua_pop(L, 1);
  return value;
}

std::string ScriptTest::String(const std::string& code) {
  Evaluate(L, code);
  const char* text = lua_tostring(L, -1);
  std::string value = text != nullptr ? text : "(not a string)";
  lua_pop(L, 1);
  return value;
}

bool ScriptTest::Bool(const std::string& code) {
  Evaluate(L, code);
  bool value = lua_toboolean(L, -1) != 0;
  lua_pop(L, 1);
  return value;
}

void ScriptTest::StartLog() {
  ASSERT_EQ(Run("log = {}\n"
                "function add(s) log[#log + 1] = s end"),
            "");
}

std::string ScriptTest::Log() {
  std::string log = String("return table.concat(log, ';')");
  Run("log = {}");
  return log;
}

void ScriptTest::DrawFrame() {
  GLScreen->BeginFrame();
  Host->DrawNodes();
  glFinish();
}

TRgb ScriptTest::PixelAt(int x, int y) {
  uint8_t rgba[4] = {0, 0, 0, 0};
  glReadBuffer(GL_BACK);
  glReadPixels(x, LogicalScreenHeight - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  return TRgb{rgba[0], rgba[1], rgba[2]};
}

CLuaNode* ScriptTest::Node(std::initializer_list<size_t> path) {
  CLuaNode* node = Host->Root.get();
  for (size_t i : path) {
    if (i >= node->Children.size()) return nullptr;
    node = node->Children[i];
  }
  return node;
}
