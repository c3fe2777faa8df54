// The program's own costs, measured on the real screen and host: a frame at several scene
// sizes, a pointer event over a large scene, a scene's timers and animations, texture loads,
// script loads and laying out text.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "BenchScene.h"
#include "WindowScreen.h"
#include "app/Main_un.h"
#include "app/Util_un.h"
#include "bind/GLBind.h"
#include "platform/Platform.h"
#include "render/Fonts.h"
#include "render/Graph_un.h"
#include "render/TextLayout.h"
#include "script/Lua_un.h"

namespace {

// One host per scene, built on first use and kept, so every benchmark of a size measures the
// same tables.
CLua* SceneHost(int count, int textures, bool png = false) {
  static std::map<std::tuple<int, int, bool>, std::unique_ptr<CLua>> hosts;
  auto& host = hosts[{count, textures, png}];
  if (!host) {
    host = std::make_unique<CLua>();
    if (!host->LoadScript(bench::WriteProgramScene(count, textures, png)))
      std::fprintf(stderr, "scene failed: %s\n", host->LastError().c_str());
    LuaHost = host.get();
  }
  return host.get();
}

// One frame as the window's tick draws it; `finish` waits for the GL to have drawn it.
void DrawFrame(CLua* host, bool finish) {
  GLScreen->BeginFrame();
  host->DrawNodes();
  GLScreen->EndFrame();
  if (finish) GLBind::glFinish();
}

void Frames(benchmark::State& state, bool png) {
  CLua* host = SceneHost(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), png);
  for (auto _ : state) DrawFrame(host, true);
  state.counters["nodes"] = static_cast<double>(state.range(0));
}

void Frame(benchmark::State& state) {
  Frames(state, false);
}
BENCHMARK(Frame)
    ->ArgsProduct({{100, 1000, 10000}, {1, 8}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

// The same scene with RGBA PNG textures: every picture is blended.
void FramePng(benchmark::State& state) {
  Frames(state, true);
}
BENCHMARK(FramePng)->Args({1000, 8})->Unit(benchmark::kMillisecond)->MinTime(2.0);

void MouseEvent(benchmark::State& state) {
  CLua* host = SceneHost(10000, 1);
  DrawFrame(host, false);
  const TFloatPoint point{400, 300};
  const std::string name = "LeftPress";
  for (auto _ : state) host->MouseEvent(point, name);
  state.counters["hits"] = host->HitList->Count;
}
BENCHMARK(MouseEvent)->Unit(benchmark::kMicrosecond);

// Every node of a scene listens for the pointer coming and going.
void ListenForThePointer(CLua* host) {
  LuaBind::luaL_dostring(host->LuaState, R"(
    local count = 0
    local function listen(node)
      node.onMouseEnter = function() count = count + 1 end
      node.onMouseLeave = function() count = count - 1 end
      for _, child in ipairs(node.nodes) do listen(child) end
    end
    listen(root)
  )");
}

// The pointer moving over 10,000 nodes between two places: enter and leave for the nodes under
// either (with handlers on every node when `listening`), and the MouseMove offered there.
void MouseMove(benchmark::State& state, bool listening) {
  auto host = std::make_unique<CLua>();
  host->LoadScript(bench::WriteProgramScene(10000, 1));
  if (listening) ListenForThePointer(host.get());
  DrawFrame(host.get(), false);
  const TFloatPoint points[2] = {{400, 300}, {200, 450}};
  int turn = 0;
  for (auto _ : state) host->PointerMoved(points[turn ^= 1]);
}
BENCHMARK_CAPTURE(MouseMove, plain, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(MouseMove, listening, true)->Unit(benchmark::kMicrosecond);

// The same scene after each frame with the pointer still over it: nothing moved, so nobody is
// told anything, but the nodes under the pointer are looked for again.
void PointerAfterFrame(benchmark::State& state) {
  auto host = std::make_unique<CLua>();
  host->LoadScript(bench::WriteProgramScene(10000, 1));
  ListenForThePointer(host.get());
  DrawFrame(host.get(), false);
  host->PointerMoved(TFloatPoint{400, 300});
  for (auto _ : state) host->PointerAfterFrame();
}
BENCHMARK(PointerAfterFrame)->Unit(benchmark::kMicrosecond);

// The scene's part of a tick alone, what a scene's time costs beyond its frame: nodes being
// moved by animations that never end, and repeating timers that all run on every tick; with
// none of either, the cost a scene that uses none of it pays (the look for the root's onTick).
void SceneTick(benchmark::State& state) {
  auto host = std::make_unique<CLua>();
  const std::string scene = "local animations, timers = " + std::to_string(state.range(0)) + ", " +
                            std::to_string(state.range(1)) + R"(
    for i = 1, animations do
      local node = root.createNode{left = i % 800, top = i % 600, width = 8, height = 8}
      kestrune.animate(node, 1e9, {left = 800 - i % 800, top = 600 - i % 600})
    end
    local runs = 0
    for i = 1, timers do kestrune.every(0.001, function() runs = runs + 1 end) end
  )";
  LuaBind::luaL_dostring(host->LuaState, scene.c_str());
  for (auto _ : state) host->Tick(0.016);
  state.counters["animations"] = static_cast<double>(host->Clock.Animations.size());
  state.counters["timers"] = static_cast<double>(host->Clock.Timers.size());
}
BENCHMARK(SceneTick)->Args({0, 0})->Args({1000, 100})->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The scene of FrameFilled: the benchmark scene's nodes without pictures, each filled with one
// of eight colours, and the root at opacity 0.5, so that every quad is blended. The reference's
// `filled` frame draws the same quads in the same colours.
void FrameFilled(benchmark::State& state) {
  auto host = std::make_unique<CLua>();
  const std::string scene = "dofile('" + bench::SceneLibraryPath() + "')\n" +
                            "kestrune.setOpacity(root, 0.5)\n" + "scene_build(" +
                            std::to_string(state.range(0)) + R"(, 8, function(parent, left, top, k)
      local node = (parent or root).createNode{left = left, top = top, width = 32, height = 32}
      kestrune.setFill(node, {0.2 + 0.1 * k, 0.9 - 0.1 * k, 0.5})
      return node
    end)
  )";
  if (LuaBind::luaL_dostring(host->LuaState, scene.c_str()) != 0)
    std::fprintf(stderr, "scene failed: %s\n", LuaBind::lua_tostring(host->LuaState, -1));
  for (auto _ : state) DrawFrame(host.get(), true);
  state.counters["nodes"] = static_cast<double>(state.range(0));
}
BENCHMARK(FrameFilled)->Arg(1000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The benchmark scene's tree of nodes, each a label of 50 glyphs (bench::LabelText) in the
// bundled sans, white, neither wrapped nor cut; the reference's `text` frame draws the same
// glyphs' quads from one texture.
void FrameText(benchmark::State& state) {
  auto host = std::make_unique<CLua>();
  std::string labels = "labels = {";
  for (int k = 0; k < state.range(0); ++k) labels += "'" + bench::LabelText(k) + "', ";
  labels += "}\n";
  const std::string scene = labels + "dofile('" + bench::SceneLibraryPath() + "')\n" +
                            "local made = 0\n" + "scene_build(" + std::to_string(state.range(0)) +
                            R"(, 1, function(parent, left, top)
      local node = (parent or root).createNode{left = left, top = top}
      made = made + 1
      kestrune.setText(node, labels[made], {size = )" +
                            std::to_string(bench::LabelSize) + R"(})
      return node
    end)
  )";
  if (LuaBind::luaL_dostring(host->LuaState, scene.c_str()) != 0)
    std::fprintf(stderr, "scene failed: %s\n", LuaBind::lua_tostring(host->LuaState, -1));
  DrawFrame(host.get(), true);  // laid out and rasterised once
  for (auto _ : state) DrawFrame(host.get(), true);
  state.counters["glyphs"] = 50.0 * double(state.range(0));
  host.reset();
  GLScreen->ClearText();
}
BENCHMARK(FrameText)->Arg(40)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// What a label whose text changes on every tick costs: the tick that sets a new score of 20
// characters, and the frame's drawing of the nodes, which lays it out again. The screen's own
// begin and end of the frame are left out.
void LabelChange(benchmark::State& state) {
  auto host = std::make_unique<CLua>();
  const char* scene = R"(
    local score = root.createNode{left = 20, top = 20, width = 400, height = 40}
    local count = 0
    function root:onTick()
      count = count + 1
      kestrune.setText(score, string.format('Score: %06d points', count % 1000000))
    end
  )";
  if (LuaBind::luaL_dostring(host->LuaState, scene) != 0)
    std::fprintf(stderr, "scene failed: %s\n", LuaBind::lua_tostring(host->LuaState, -1));
  for (int i = 0; i < 20; ++i) {  // every digit rasterised once
    host->Tick(0.055);
    DrawFrame(host.get(), false);
  }
  for (auto _ : state) {
    state.PauseTiming();
    GLScreen->BeginFrame();
    state.ResumeTiming();
    host->Tick(0.055);
    host->DrawNodes();
    state.PauseTiming();
    GLScreen->EndFrame();
    state.ResumeTiming();
  }
  host.reset();
  GLScreen->ClearText();
}
BENCHMARK(LabelChange)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

long StatusKiB(const char* field);

// Nodes made and removed: rounds of 100 panels of 99 children each (10,000 nodes), half the
// panels taken apart child by child and then removed, the other half removed whole, then a frame
// (where the host frees them) and a full collection. The counters compare the first round with
// the last: live host nodes, the interpreter's memory and the resident size.
void NodeChurn(benchmark::State& state) {
  auto host = std::make_unique<CLua>();
  LuaBind::lua_State* L = host->LuaState;
  LuaBind::luaL_dostring(L, R"(
    function churn_round()
      for p = 1, 100 do
        local panel = root.createNode{left = p, top = p, width = 10, height = 10}
        for c = 1, 99 do panel.createNode{left = c % 10, top = c % 7, width = 4, height = 4} end
      end
      local panels = {}
      for i, panel in ipairs(root.nodes) do panels[i] = panel end
      for i, panel in ipairs(panels) do
        if i % 2 == 1 then
          while #panel.nodes > 0 do kestrune.remove(panel.nodes[1]) end
        end
        kestrune.remove(panel)
      end
    end
  )");
  auto liveNodes = [&host] {
    double count = 0;
    CLuaNode* root = host->Root.get();
    for (CLuaNode* node = root; node != nullptr; node = node->NextInSubtree(root)) ++count;
    return count;
  };
  const int rounds = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int round = 1; round <= rounds; ++round) {
      LuaBind::luaL_dostring(L, "churn_round()");
      DrawFrame(host.get(), false);
      LuaBind::lua_gc(L, LUA_GCCOLLECT, 0);
      const double kib =
          LuaBind::lua_gc(L, LUA_GCCOUNT, 0) + LuaBind::lua_gc(L, LUA_GCCOUNTB, 0) / 1024.0;
      if (round == 1 || round == rounds) {
        const char* when = round == 1 ? "_round1" : "_last";
        state.counters[std::string("nodes") + when] = liveNodes();
        state.counters[std::string("lua_KiB") + when] = kib;
        state.counters[std::string("resident_KiB") + when] =
            static_cast<double>(StatusKiB("VmRSS:"));
      }
    }
  }
}
BENCHMARK(NodeChurn)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond);

void AddTextureLarge(benchmark::State& state, std::string (*write)()) {
  std::string path = write();
  for (auto _ : state) {
    GLScreen->AddTexture(path, 2048, 2048);
    GLBind::glFinish();
  }
}
BENCHMARK_CAPTURE(AddTextureLarge, jpeg, bench::WriteLargeJpeg)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK_CAPTURE(AddTextureLarge, bmp, bench::WriteLargeBmp)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK_CAPTURE(AddTextureLarge, png, bench::WriteLargePng)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);

// The process's resident size now and its peak since the last reset, in KiB, from Linux's
// /proc; the reset makes the peak that of what follows.
long StatusKiB(const char* field) {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  long value = -1;
  const size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, status) != nullptr)
    if (std::strncmp(line, field, length) == 0) value = std::atol(line + length);
  std::fclose(status);
  return value;
}

void ResetPeakResident() {
  if (std::FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", refs);
    std::fclose(refs);
  }
}

// A decompression bomb: a PNG of a few hundred KB that decodes to side by side RGBA pixels. The
// counters give the memory the load took at its peak beyond what the process held before it,
// against the texture it makes (every mipmap level at 4 bytes a texel).
void AddTextureBomb(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const std::string path = bench::WriteFlatPng(side);
  // GLU's size for the base level: the nearest power of two.
  int base = 1;
  while (base <= side / 2) base *= 2;
  if (base >= 2 && (side & (base / 2)) != 0) base *= 2;
  double texture = 0;
  for (int w = base; w >= 1; w /= 2) texture += 4.0 * w * w;
  double peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    GLScreen->ClearTextures();
    GLBind::glFinish();
    // What the last load freed goes back to the system, so that this one's is counted afresh.
    ReleaseFreeHeap();
    const long before = StatusKiB("VmRSS:");
    ResetPeakResident();
    state.ResumeTiming();
    GLScreen->AddTexture(path, 0, 0);
    GLBind::glFinish();
    state.PauseTiming();
    peak = std::max(peak, double(StatusKiB("VmHWM:") - before) / 1024);
    state.ResumeTiming();
  }
  GLScreen->ClearTextures();
  state.counters["peak_MiB"] = peak;
  state.counters["texture_MiB"] = texture / (1 << 20);
  state.counters["peak_per_texture"] = peak / (texture / (1 << 20));
}
BENCHMARK(AddTextureBomb)->Arg(8192)->Arg(6000)->Unit(benchmark::kMillisecond)->Iterations(2);

void LoadScriptFirst(benchmark::State& state) {
  std::string path = bench::WriteProgramScene(10000, 1);
  for (auto _ : state) {
    state.PauseTiming();
    auto host = std::make_unique<CLua>();
    state.ResumeTiming();
    host->LoadScript(path);
    state.PauseTiming();
    host.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(LoadScriptFirst)->Unit(benchmark::kMillisecond)->Iterations(5);

void LoadScriptCached(benchmark::State& state) {
  std::string path = bench::WriteProgramScene(10000, 1);
  auto host = std::make_unique<CLua>();
  host->LoadScript(path);
  for (auto _ : state) host->LoadScript(path);
}
BENCHMARK(LoadScriptCached)->Unit(benchmark::kMillisecond)->Iterations(5);

// A paragraph of 1,000 words wrapped in the window's width, the fonts already open: what a label
// whose text changes costs to lay out again.
void LayOutParagraph(benchmark::State& state) {
  static const char* const words[] = {"the",     "quick", "brown",   "fox",    "jumps", "over",
                                      "a",       "lazy",  "dog;",    "scenes", "draw",  "labels,",
                                      "wrapped", "and",   "aligned", "text."};
  std::string text;
  for (int i = 0; i < 1000; ++i) {
    if (i) text += ' ';
    text += words[(i * 7 + i / 16) % 16];
  }
  TTextStyle style;
  LayOutText(text, style, 760, 0);
  size_t glyphs = 0;
  for (auto _ : state) {
    TTextLayout layout = LayOutText(text, style, 760, 0);
    glyphs = layout.glyphs.size();
    benchmark::DoNotOptimize(layout);
  }
  state.counters["glyphs"] = double(glyphs);
  ReleaseFonts();
}
BENCHMARK(LayOutParagraph)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
  Set8087CW(0x133F);
  ConfigureHeap();
  InitProgramFolder();
  if (!Application->Initialize()) return 1;
  // The window and screen the program's main window would make, kept to the end.
  TWindowScreen* window = new TWindowScreen();
  if (!window->OpenScreen(LogicalScreenWidth, LogicalScreenHeight)) return 1;
  window->ShowWindow();

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("peak_resident_kib %ld\n", bench::PeakResidentKiB());
  return 0;
}
