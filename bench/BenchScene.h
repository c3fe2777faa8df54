// What the benchmarks share: the scene's files (textures, scripts) in a scratch folder, and the
// peak resident size of the process.
#pragma once

#include <string>

namespace bench {

// A scratch folder for this run, made on first use.
const std::string& ScratchFolder();
// The path of bench/scene.lua in the source tree.
std::string SceneLibraryPath();
// Writes `textures` 64 by 64 files of distinct colours: 24-bit BMP files, or RGBA PNG files of the
// same colours cut out as discs with soft edges (bench/run.py writes the same pixels). Returns
// the path of file k (1-based).
std::string TexturePath(int k, bool png = false);
void WriteTextures(int textures, bool png = false);
// The alpha of the PNG textures at (x, y).
int TextureAlpha(int x, int y);
// A start script for the program that builds the scene with `count` nodes and `textures`
// textures; returns its path.
std::string WriteProgramScene(int count, int textures, bool png = false);
// A 2048 by 2048 test picture as a 24-bit BMP, as a JPEG, and with alpha as an RGBA PNG; returns
// the path.
std::string WriteLargeBmp();
std::string WriteLargeJpeg();
std::string WriteLargePng();
// An RGBA PNG of one colour, `side` by `side` pixels, written row by row: 8192 by 8192 makes a
// file of a few hundred KB for 256 MiB of pixels. Returns the path.
std::string WriteFlatPng(int side);
// The text benchmark's labels: label k's text, 50 letters and digits without a space (one glyph
// each in the bundled sans at any size), drawn at LabelSize logical pixels.
std::string LabelText(int k);
constexpr float LabelSize = 14;
// Peak resident set size of this process in KiB.
long PeakResidentKiB();

// CPU time of this process so far, split as the kernel accounts it, and its minor page faults.
struct CpuUse {
  double UserMs;
  double SystemMs;
  long MinorFaults;
};
CpuUse ProcessCpu();

}  // namespace bench
