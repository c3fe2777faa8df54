// What the scripting tests share: a real window with the program's screen under the X server, a
// host on them whose print writes that window's caption, a scratch working folder for script and
// image files, and small ways to run Lua.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ScratchFolder.h"
#include "TestImages.h"
#include "WindowScreen.h"
#include "bind/LuaBind.h"
#include "render/Graph_un.h"
#include "script/Lua_un.h"

// A 24-bit BMP of size x size whose quarters are red (top left), green (top right), blue
// (bottom left) and white (bottom right).
std::vector<uint8_t> QuarteredBmp(int size);

class ScriptTest : public ::testing::Test, protected TWindowScreen {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes a file into the working folder.
  void WriteFile(const std::string& name, const std::string& bytes) const;
  // Runs Lua code in the host's state; returns the error message, or "" when it ran.
  std::string Run(const std::string& code);
  // Runs code that ends in `return <expression>` and gives that value.
  double Number(const std::string& code);
  std::string String(const std::string& code);
  bool Bool(const std::string& code);

  // Gives the scene a global list `log` and a function `add(s)` that appends to it, for tests
  // that follow what ran in which order.
  void StartLog();
  // The log joined by ';', and an empty one from here on.
  std::string Log();

  // One frame, as the window's timer draws it, and the colour at a logical point of it.
  void DrawFrame();
  TRgb PixelAt(int x, int y);

  // The node whose path of child positions from the root is given.
  CLuaNode* Node(std::initializer_list<size_t> path);

  CLua* Host = nullptr;
  LuaBind::lua_State* L = nullptr;
  std::string Folder;

  // Frees the host, the screen and the window, as the main window's destruction does.
  void FreeWindowAndHost();

 private:
  std::optional<testfs::ScratchWorkingFolder> scratch_;
};
