// A scene of 10,000 nodes with pictures, drawn frame after frame, must not take memory per
// frame. Counted, not timed: C++ allocations made while the tree is drawn, the interpreter's
// own count of bytes, and the process's resident size for the whole frame.
// KESTRUNE_SCENE_FRAMES sets the number of frames (30 by default; 1000 for the full run).
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>

#include "ScriptFixture.h"
#include "render/GlyphAtlas.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace

// Replacements that count; GCC cannot tell that free() here matches the malloc() above.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (counting) ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
// The nothrow forms as well: a library that pairs one of them with plain delete (the GL
// driver's code generator does) must get memory of the same kind, or AddressSanitizer rightly
// calls the pair a mismatch.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (counting) ++allocations;
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

using namespace LuaBind;

namespace {

long ResidentKilobytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long LuaBytes(lua_State* L) {
  return long(lua_gc(L, LUA_GCCOUNT, 0)) * 1024 + lua_gc(L, LUA_GCCOUNTB, 0);
}

using SceneMemoryTest = ScriptTest;

TEST_F(SceneMemoryTest, ATenThousandNodeSceneDrawsWithoutTakingMemoryPerFrame) {
  auto bmp = QuarteredBmp(64);
  WriteFile("quarters.bmp", std::string(bmp.begin(), bmp.end()));
  ASSERT_EQ(Run("local tex = createTexture('quarters.bmp', 64, 64)\n"
                "for row = 0, 99 do\n"
                "  local line = root.createNode{left = 0, top = row * 6, width = 800, height = 6}\n"
                "  line.createPicture('whole', tex)\n"
                "  line.setPicture('whole')\n"
                "  for column = 1, 99 do\n"
                "    local n = line.createNode{left = column * 8, top = 1, width = 7,\n"
                "                              height = '4'}\n"
                "    n.createPicture('part', tex, 0, 0, 32, 32)\n"
                "    n.createPicture('whole', tex)\n"
                "    n.setPicture(column % 2 == 0 and 'part' or 'whole')\n"
                "  end\n"
                "end"),
            "");
  long nodes = 0;
  for (CLuaNode* line : Host->Root->Children) nodes += 1 + long(line->Children.size());
  ASSERT_EQ(nodes, 10000);

  const char* setting = std::getenv("KESTRUNE_SCENE_FRAMES");
  const int frames = setting != nullptr ? std::atoi(setting) : 30;
  for (int i = 0; i < 5; ++i) {  // let every lazy allocation of the first frames happen
    GLScreen->BeginFrame();
    Host->DrawNodes();
    GLScreen->EndFrame();
  }
  lua_gc(L, LUA_GCCOLLECT, 0);
  const long luaBefore = LuaBytes(L);
  const long residentBefore = ResidentKilobytes();
  const size_t heapBefore = mallinfo2().uordblks;
  long drawAllocations = 0;
  for (int i = 0; i < frames; ++i) {
    GLScreen->BeginFrame();
    allocations = 0;
    counting = true;
    Host->DrawNodes();
    counting = false;
    drawAllocations += allocations;
    GLScreen->EndFrame();
  }
  const long luaAfter = LuaBytes(L);
  const long residentAfter = ResidentKilobytes();
  const size_t heapAfter = mallinfo2().uordblks;
  std::printf(
      "frames %d: C++ allocations while drawing %ld; Lua bytes %ld -> %ld; "
      "malloc in use %zu -> %zu bytes; resident %ld -> %ld KiB\n",
      frames, drawAllocations, luaBefore, luaAfter, heapBefore, heapAfter, residentBefore,
      residentAfter);
  EXPECT_EQ(drawAllocations, 0);
  EXPECT_EQ(luaAfter, luaBefore);
  EXPECT_EQ(Node({0, 0})->ScreenRect.Height, 4);
}

TEST_F(SceneMemoryTest, ALabelChangingOnEveryTickKeepsMemoryFlat) {
  // A score of about 20 characters set on every tick, and a labelled node made and removed on
  // every tick: what replaced texts and removed nodes held must be given back.
  ASSERT_EQ(Run("local score = root.createNode{left = 10, top = 10, width = 300, height = 40}\n"
                "local count = 0\n"
                "function root:onTick()\n"
                "  count = count + 1\n"
                "  kestrune.setText(score, 'Score: ' .. count .. ' points')\n"
                "  local passing = root.createNode{left = 10, top = 60, width = 300, height = 40}\n"
                "  kestrune.setText(passing, 'Passing ' .. count, {size = 20})\n"
                "  kestrune.remove(passing)\n"
                "end"),
            "");
  const auto tick = [this] {
    Host->Tick(0.055);
    GLScreen->BeginFrame();
    Host->DrawNodes();
    GLScreen->EndFrame();
  };
  // Every digit has been drawn once by then, in both sizes.
  for (int i = 0; i < 100; ++i) tick();
  lua_gc(L, LUA_GCCOLLECT, 0);
  const long luaBefore = LuaBytes(L);
  const size_t heapBefore = mallinfo2().uordblks;
  ASSERT_TRUE(GLScreen->Glyphs);
  const size_t texelsBefore = GLScreen->Glyphs->Texels();
  const int ticks = 1000;
  for (int i = 0; i < ticks; ++i) tick();
  lua_gc(L, LUA_GCCOLLECT, 0);
  const long luaAfter = LuaBytes(L);
  const size_t heapAfter = mallinfo2().uordblks;
  std::printf("ticks %d: Lua bytes %ld -> %ld; malloc in use %zu -> %zu bytes\n", ticks, luaBefore,
              luaAfter, heapBefore, heapAfter);
  // The count's string grows by a digit: a little, never per tick.
  EXPECT_LT(luaAfter - luaBefore, 1024);
  EXPECT_LT(long(heapAfter) - long(heapBefore), 16 * 1024);
  EXPECT_EQ(GLScreen->Glyphs->Texels(), texelsBefore);
  // The passing label is never drawn: it goes in the tick that made it.
  EXPECT_EQ(GLScreen->Glyphs->AtlasCount(), 1u);
  EXPECT_EQ(Host->Root->Children.size(), 1u);
}

}  // namespace
