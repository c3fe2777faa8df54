// Scripts that do their worst to the whole program: enormous trees, attributes of every type and
// value, metatables that raise or dawdle, replaced bookkeeping fields, colon calls, thousands of
// textures, errors raised with tables and nil. Whatever they do, the program keeps drawing
// frames and delivering events, and the caption says what the script reported.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>

#include "Harness.h"

using e2e::Program;
using e2e::XServer;

namespace {

// Put in front of every scene: a node over the bottom-right corner that counts frames (its
// `left` is absent, so every frame's read of it goes through the metatable) and reports the
// count on a right press there. Nothing a scene does afterwards reaches it.
const std::string kTicker = R"(
do
  local ticks = 0
  local ticker = root.createNode{ top = 580, width = 800, height = 20 }
  function ticker:onRightPress() print("ticks " .. ticks) end
  setmetatable(ticker, { __index = function(t, k) if k == "left" then ticks = ticks + 1 end end })
end
)";

// A PNG file of the given chunks (type, body), each with its length and CRC.
std::string Png(std::initializer_list<std::pair<std::string, std::string>> chunks) {
  const auto big32 = [](uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  std::string file = "\x89PNG\r\n\x1A\n";
  for (const auto& [type, body] : chunks) {
    const std::string typed = type + body;
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char byte : typed) {
      crc ^= byte;
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    file += big32(uint32_t(body.size())) + typed + big32(~crc);
  }
  return file;
}

// An 8-bit RGBA header of the given size.
std::string PngHeader(uint32_t width, uint32_t height) {
  std::string header(13, '\0');
  for (int i = 0; i < 4; ++i) {
    header[i] = char(width >> (24 - 8 * i));
    header[4 + i] = char(height >> (24 - 8 * i));
  }
  header[8] = 8;
  header[9] = 6;
  return header;
}

std::string Printed(const std::string& text) {
  return "print 1 args (STR " + text + ")";
}

// How many frames the ticker had counted when it last reported, or -1.
int Ticks(const std::string& caption) {
  int ticks = -1;
  if (std::sscanf(caption.c_str(), "print 1 args (STR ticks %d)", &ticks) != 1) return -1;
  return ticks;
}

class HostileSceneTest : public ::testing::Test {
 protected:
  // Starts the program on the scene and waits for its window.
  void Start(Program& program) {
    program.Start();
    ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  }

  // Rectangles exist only once a frame was drawn, and the script runs before the window shows:
  // presses the ticker until it reports a frame.
  void WaitForFirstFrame(Program& program) {
    program.MoveTo(790, 590);
    const std::string seen = program.ClickUntil(
        "3", [](const std::string& caption) { return Ticks(caption) > 0; }, 60000);
    ASSERT_GT(Ticks(seen), 0) << "no frame was drawn: " << seen;
  }

  // Right presses on the ticker: each is delivered, and frames are drawn between them. Then the
  // window is closed, and the program must end cleanly.
  void ExpectTickingListeningAndCleanExit(Program& program) {
    program.MoveTo(790, 590);
    std::string before = program.Caption();
    program.Xdo("click 3");
    std::string first = program.WaitForCaptionChange(before, 20000);
    ASSERT_GE(Ticks(first), 0) << first;
    std::string second = program.ClickUntil(
        "3", [&](const std::string& caption) { return Ticks(caption) > Ticks(first); });
    EXPECT_GT(Ticks(second), Ticks(first)) << "no frame was drawn between presses: " << second;
    EXPECT_TRUE(program.Running()) << program.Stderr();
    // Closing takes the whole scene apart; under the sanitizers any fault or leak on the way
    // out shows in the exit status.
    program.Close();
    EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
  }

  // A left press at a client position; returns the caption it led to.
  std::string LeftPress(Program& program, int x, int y) {
    std::string before = program.Caption();
    program.MoveTo(x, y);
    program.Xdo("click 1");
    return program.WaitForCaptionChange(before, 20000);
  }

  XServer server_;
};

TEST_F(HostileSceneTest, AHundredThousandDeepChainAndAHundredThousandWideFan) {
  Program program(server_, (kTicker + R"(
-- Every link of the chain covers (100, 100) to (150, 150), relative to a parent at 0, 0.
local link = root.createNode{ left = 100, top = 100, width = 50, height = 50 }
for i = 2, 100000 do link = link.createNode{ width = 50, height = 50 } end
local depth, up = 0, link
while up ~= root do depth = depth + 1; up = up.parent end
function link:onLeftPress(x, y) print("deepest " .. depth .. " at " .. x .. "," .. y) end
-- Only the links of this one handler stand between it and the pointer.
root.nodes[2].onLeftPress = function() print("shallow") end

local fan = root.createNode{ left = 300, top = 300 }
local function answer(self) print("fan " .. self.index) end
for i = 1, 100000 do
  fan.createNode{ left = i % 200, width = 1, height = 1, index = i, onLeftPress = answer }
end
print("built " .. depth .. " " .. #fan.nodes .. " " .. tostring(root.getNode("none", true)))
)")
                               .c_str());
  Start(program);
  EXPECT_EQ(program.WaitForCaption(Printed("built 100000 100000 nil"), 60000),
            Printed("built 100000 100000 nil"));
  WaitForFirstFrame(program);
  EXPECT_EQ(LeftPress(program, 120, 130), Printed("deepest 100000 at 120,130"));
  // Pixel 350 of the fan is held by every child whose index leaves 50 over 200.
  std::string fan = LeftPress(program, 350, 300);
  int index = 0;
  ASSERT_EQ(std::sscanf(fan.c_str(), "print 1 args (STR fan %d)", &index), 1) << fan;
  EXPECT_EQ(index % 200, 50);
  ExpectTickingListeningAndCleanExit(program);
}

TEST_F(HostileSceneTest, AttributesAndPicturesOfEveryTypeAndValue) {
  Program program(server_, (kTicker + R"(
local tex = createTexture("red.bmp", 0, 0)   -- source rectangles divide by 0
local odd = createTexture("red.bmp", 0/0, 1/0)
local huge = createTexture("red.bmp", 1e300, -1e300)
local numbers = { 0/0, 1/0, -1/0, 1e308, -1e308, 2^63, -0.0, 5 }
local values = { 0/0, 1/0, -1/0, 1e308, -1e308, "12", "0x20", " 5 ", "1e999", "abc", "", {},
                 true, print, root, coroutine.create(function() end) }
local count = 0
for i, v in ipairs(values) do
  for j, w in ipairs(values) do
    local node = root.createNode()
    node.left, node.top, node.width, node.height = v, w, w, v
    local a, b = numbers[i % #numbers + 1], numbers[j % #numbers + 1]
    node.createPicture("whole", (i + j) % 3)
    node.createPicture("part", tex, a, b, b, a)
    node.createPicture("odd", odd, a, a, b, b)
    node.createPicture("huge", huge, 0, 0, 1, 1)
    node.createPicture("far", a)
    node.createPicture("below", -1 - j)
    local names = { "whole", "part", "odd", "huge", "far", "below" }
    node.setPicture(names[(i * j) % #names + 1])
    node.onLeftPress = values[(i + j) % #values + 1]
    count = count + 1
  end
end
-- Handlers that are no functions are passed over; the root catches what the others let by.
local presses = 0
root.setAttr{ width = 800, height = 600, onLeftPress = function()
  presses = presses + 1
  print("root " .. presses)
end }
print("values " .. count)
)")
                               .c_str());
  program.WriteFile("red.bmp", e2e::SolidBmp(4, 4, {255, 0, 0}));
  Start(program);
  EXPECT_EQ(program.WaitForCaption(Printed("values 256"), 20000), Printed("values 256"));
  WaitForFirstFrame(program);
  // Somebody answers a press anywhere: print itself, with the node and the position, or the
  // root.
  for (auto [x, y] : {std::pair{10, 10}, std::pair{400, 300}, std::pair{0, 0}}) {
    std::string caption = LeftPress(program, x, y);
    EXPECT_TRUE(caption.rfind("print 3 args (TABLE) (NUM ", 0) == 0 ||
                caption.rfind("print 1 args (STR root ", 0) == 0)
        << caption;
  }
  ExpectTickingListeningAndCleanExit(program);
}

TEST_F(HostileSceneTest, MetatablesThatRaiseLoopOrYield) {
  Program program(server_, (kTicker + R"(
local hostile = {
  { __index = function(t, k) error("no " .. tostring(k)) end },
  { __index = function() error({}) end },
  { __index = function() error(nil) end },
  { __index = function() local s = 0 for i = 1, 20000 do s = s + i end end },
  { __index = function(t, k) return t[k] end },
  { __index = function() coroutine.yield() end },
  { __newindex = function() error("read only") end },
}
-- Each hostile node has no attributes of its own, so every read of a frame runs its metatable;
-- its child sits below it and answers for it.
for i, mt in ipairs(hostile) do
  local node = root.createNode()
  local child = node.createNode{ left = 50 * i, top = 100, width = 40, height = 40 }
  function child:onLeftPress() print("child " .. i) end
  setmetatable(node, mt)
end
-- A hit node whose handler cannot even be looked up: the event goes on to the node below.
local below = root.createNode{ left = 500, top = 400, width = 100, height = 100 }
function below:onLeftPress() print("below") end
setmetatable(below.createNode{ width = 100, height = 100 }, hostile[1])
-- A `nodes` table that refuses new entries: making a child fails as a script error.
local guarded = root.createNode()
setmetatable(guarded.nodes, hostile[7])
local ok, message = pcall(guarded.createNode, "x")
print("refused " .. tostring(ok) .. " " .. message)
)")
                               .c_str());
  Start(program);
  std::string caption = program.WaitForCaptionChange("Main", 20000);
  EXPECT_EQ(caption.rfind("print 1 args (STR refused false test.lua:", 0), 0u) << caption;
  EXPECT_NE(caption.find("read only"), std::string::npos) << caption;
  WaitForFirstFrame(program);
  for (int i = 1; i <= 7; ++i)
    EXPECT_EQ(LeftPress(program, 50 * i + 20, 120), Printed("child " + std::to_string(i)));
  EXPECT_EQ(LeftPress(program, 550, 450), Printed("below"));
  ExpectTickingListeningAndCleanExit(program);
}

TEST_F(HostileSceneTest, ReplacedNodesAndParentAndColonCalls) {
  Program program(server_, (kTicker + R"(
local a = root.createNode("a")
root.nodes = 5
local b = root.createNode{ id = "b", left = 200, top = 200, width = 50, height = 50 }
local fresh = type(root.nodes) == "table" and root.nodes[1] == b
a.parent, b.parent, a.nodes = nil, "nobody", a          -- a's children go into a itself
local c = a.createNode("c")
root.nodes = setmetatable({}, { __index = function() error("nodes") end })
local d = root.createNode{ nodes = false, parent = root.nodes }
local e = d.createNode()                                -- d.nodes was false: made afresh
b.createNode{ width = 10, height = 10, onLeftPress = function(self)
  print("parent " .. tostring(self.parent == b) .. " " .. tostring(root.getNode("c", true) == c))
end }
local messages = {}
for _, call in ipairs{
  function() return root:createNode("e") end,
  function() return root:getNode("a") end,
  function() return root:setAttr{} end,
  function() return root:createPicture("p", 0) end,
  function() return root:setPicture("p") end,
  function() return root:getPicture() end,
} do
  local ok, message = pcall(call)
  messages[#messages + 1] = ok and "ran" or message:match("%((should[^)]*)%)$")
end
print(fresh, a[1] == c, table.concat(messages, "|"))
)")
                               .c_str());
  Start(program);
  const std::string expected =
      "print 3 args (BOOL -1) (BOOL -1) (STR should not be passed|should be a string|"
      "should not be passed|should be a string|should be a string|should not be passed)";
  EXPECT_EQ(program.WaitForCaption(expected, 20000), expected);
  WaitForFirstFrame(program);
  EXPECT_EQ(LeftPress(program, 205, 205), Printed("parent true true"));
  ExpectTickingListeningAndCleanExit(program);
}

TEST_F(HostileSceneTest, ThousandsOfMissingTexturesAndAFewDamagedOnes) {
  // Missing files show nothing; each damaged one shows a box that the test closes.
  Program program(server_, (kTicker + R"(
local first, last
for i = 1, 5000 do
  last = createTexture("missing" .. i .. ".bmp", i, i)
  first = first or last
end
local node = root.createNode{ left = 10, top = 10, width = 100, height = 100 }
for i = -10, 5010, 7 do node.createPicture("p" .. i, i, 0, 0, i, i) end
node.setPicture("p704")
function node:onLeftPress()
  local folder = createTexture("folder.bmp")
  local cut, packed, broken = createTexture("cut.bmp"), createTexture("packed.tga"),
                              createTexture("broken.jpg")
  local huge, short = createTexture("huge.png"), createTexture("short.png")
  print("damaged", folder, cut, packed, broken, huge, short)
end
print("textures " .. first .. " " .. last)
)")
                               .c_str());
  std::string bmp = e2e::SolidBmp(8, 8, {0, 0, 255});
  program.WriteFile("cut.bmp", bmp.substr(0, bmp.size() - 1));
  std::string tga(18, '\0');
  tga[2] = 10;  // run-length encoded
  tga[12] = 2;
  tga[14] = 2;
  tga[16] = 24;
  program.WriteFile("packed.tga", tga + std::string(12, '\x40'));
  program.WriteFile("broken.jpg", "\xFF\xD8\xFF\xE0 not really");
  // 60000 by 60000 pixels announced by a few bytes; and a file that ends inside its data.
  program.WriteFile("huge.png", Png({{"IHDR", PngHeader(60000, 60000)}, {"IDAT", "\x78\x9C"}}));
  program.WriteFile("short.png", Png({{"IHDR", PngHeader(8, 8)}, {"IDAT", "\x78\x9C\x63"}}));
  std::system(("mkdir '" + program.Folder() + "/folder.bmp'").c_str());
  Start(program);
  EXPECT_EQ(program.WaitForCaption(Printed("textures 0 4999"), 20000), Printed("textures 0 4999"));
  WaitForFirstFrame(program);

  program.MoveTo(50, 50);
  program.Xdo("click 1");
  // Each box counts once it is gone: the handler goes on to the next file only then.
  for (int closed = 0; closed < 5; ++closed) {
    const std::string box = program.WaitForBox("BMP Unit|TGA File Error|PNG File Error");
    ASSERT_FALSE(box.empty()) << "box " << closed + 1 << " did not come";
    ASSERT_TRUE(program.CloseBox(box)) << "box " << closed + 1 << " did not go";
  }
  const std::string damaged =
      "print 7 args (STR damaged) (NUM 5000) (NUM 5001) (NUM 5002) (NUM 5003) (NUM 5004) "
      "(NUM 5005)";
  EXPECT_EQ(program.WaitForCaption(damaged, 20000), damaged);
  ExpectTickingListeningAndCleanExit(program);
}

TEST_F(HostileSceneTest, ErrorsRaisedWithTablesNilAndNumbers) {
  // A handler's error of any kind is swallowed; the script's own last error is the caption,
  // empty when the value has no text.
  const std::string handlers = kTicker + R"(
local raisers = { function() error({}) end, function() error(nil) end,
  function() error(setmetatable({}, { __tostring = function() error("again") end })) end,
  function() error(12) end }
for i, raise in ipairs(raisers) do
  root.createNode{ left = 100 * i, top = 100, width = 50, height = 50, onLeftPress = raise }
end
)";
  for (auto [ending, caption] :
       {std::pair{"error({})", ""}, std::pair{"error(nil)", ""}, std::pair{"error(42, 0)", "42"},
        std::pair{"error(setmetatable({}, { __tostring = print }))", ""}}) {
    SCOPED_TRACE(ending);
    // A server of its own: an X server resets when its last client leaves, and a program
    // started meanwhile may find no display.
    XServer server;
    Program program(server, (handlers + "print('about to fail')\n" + ending + "\n").c_str());
    Start(program);
    EXPECT_EQ(program.WaitForCaption(caption, 20000), caption);
    WaitForFirstFrame(program);
    // Presses on the raising handlers change nothing, and the program goes on.
    for (int i = 1; i <= 4; ++i) {
      program.MoveTo(100 * i + 10, 110);
      program.Xdo("click 1");
    }
    ExpectTickingListeningAndCleanExit(program);
  }
}

}  // namespace
