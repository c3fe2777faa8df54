// The benchmarks' scene files and the figures of the process.
#include "BenchScene.h"

#include <png.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "TestImages.h"

namespace bench {

namespace {

// The pattern of the large picture: smooth gradients with some detail, like a photograph's
// worth of entropy for the JPEG coder.
TRgb LargePixel(uint32_t x, uint32_t y) {
  return {uint8_t((x * 255) / 2047), uint8_t((y * 255) / 2047), uint8_t(((x ^ y) * 7) & 255)};
}

// The large picture's alpha: a ramp with some detail, neither all opaque nor all transparent.
uint8_t LargeAlpha(uint32_t x, uint32_t y) {
  return 128 + ((x * 3 + y * 5) & 127);
}

// With libpng's own encoder, its filters chosen row by row, rather than the tests' writer, whose
// rows are unfiltered: the loads are timed on files as programs write them (the large picture
// is some forty times smaller so).
void WritePng(const std::string& path, uint32_t width, uint32_t height,
              const TRgbaPattern& pattern) {
  std::vector<uint8_t> rgba;
  rgba.reserve(size_t(width) * height * 4);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const TRgba p = pattern(x, y);
      rgba.insert(rgba.end(), {p.R, p.G, p.B, p.A});
    }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGBA;
  if (!png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr)) {
    std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), image.message);
    std::exit(2);
  }
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Texture `k`'s colour (0-based), darker in a frame two pixels wide.
TRgb TexturePixel(int k, uint32_t x, uint32_t y) {
  static const uint8_t colours[8][3] = {{220, 60, 50},  {60, 180, 80},  {50, 90, 220},
                                        {230, 200, 60}, {200, 80, 200}, {60, 200, 210},
                                        {240, 140, 40}, {150, 150, 150}};
  const uint8_t* c = colours[k % 8];
  const int edge = (x < 2 || y < 2 || x > 61 || y > 61) ? 60 : 0;
  const auto darker = [edge](int v) { return uint8_t(v > edge ? v - edge : 0); };
  return {darker(c[0]), darker(c[1]), darker(c[2])};
}

}  // namespace

// Not removed when the program ends: bench/run.py loads the large pictures into the reference
// afterwards, and removes the folder itself.
const std::string& ScratchFolder() {
  static std::string folder = [] {
    char pattern[] = "/tmp/kestrune-bench-XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
  return folder;
}

std::string SceneLibraryPath() {
  return std::string(KESTRUNE_SOURCE_DIR) + "/bench/scene.lua";
}

std::string TexturePath(int k, bool png) {
  return ScratchFolder() + "/tex" + std::to_string(k) + (png ? ".png" : ".bmp");
}

int TextureAlpha(int x, int y) {
  // Squared distance from the centre in half pixels: opaque within 26 pixels, transparent from 32.
  const int dx = 2 * x - 63, dy = 2 * y - 63, d2 = dx * dx + dy * dy;
  if (d2 <= 52 * 52) return 255;
  if (d2 >= 64 * 64) return 0;
  return 255 * (64 * 64 - d2) / (64 * 64 - 52 * 52);
}

void WriteTextures(int textures, bool png) {
  for (int k = 1; k <= textures; ++k) {
    const auto pixel = [k](uint32_t x, uint32_t y) { return TexturePixel(k - 1, x, y); };
    if (!png) {
      WriteBytes(TexturePath(k), MakeBmp(64, 64, PaintedBmp(), pixel));
      continue;
    }
    WritePng(TexturePath(k, true), 64, 64, [&pixel](uint32_t x, uint32_t y) {
      const TRgb c = pixel(x, y);
      return TRgba{c.R, c.G, c.B, uint8_t(TextureAlpha(int(x), int(y)))};
    });
  }
}

std::string WriteProgramScene(int count, int textures, bool png) {
  WriteTextures(textures, png);
  std::string path = ScratchFolder() + "/scene_" + std::to_string(count) + "_" +
                     std::to_string(textures) + (png ? "_png" : "") + ".lua";
  std::string text = "dofile('" + SceneLibraryPath() + "')\nlocal textures = {}\n";
  for (int k = 1; k <= textures; ++k)
    text += "textures[" + std::to_string(k) + "] = createTexture('" + TexturePath(k, png) +
            "', 64, 64)\n";
  text += "scene_build(" + std::to_string(count) + ", " + std::to_string(textures) +
          ", function(parent, left, top, texture)\n"
          "  local node = (parent or root).createNode{ left = left, top = top, width = 32, "
          "height = 32 }\n"
          "  node.createPicture('p', textures[texture + 1])\n"
          "  node.setPicture('p')\n"
          "  return node\n"
          "end)\n";
  WriteFile(path, text);
  return path;
}

std::string WriteLargeBmp() {
  std::string path = ScratchFolder() + "/large.bmp";
  WriteBytes(path, MakeBmp(2048, 2048, PaintedBmp(), LargePixel));
  return path;
}

std::string WriteLargeJpeg() {
  std::string path = ScratchFolder() + "/large.jpg";
  WriteBytes(path, MakeJpeg(2048, 2048, TJpegKind::Colour, false, LargePixel, 90));
  return path;
}

std::string WriteLargePng() {
  std::string path = ScratchFolder() + "/large.png";
  WritePng(path, 2048, 2048, [](uint32_t x, uint32_t y) {
    const TRgb c = LargePixel(x, y);
    return TRgba{c.R, c.G, c.B, LargeAlpha(x, y)};
  });
  return path;
}

std::string WriteFlatPng(int side) {
  std::string path = ScratchFolder() + "/flat" + std::to_string(side) + ".png";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (file == nullptr || png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(2);
  }
  png_init_io(png, file);
  png_set_compression_level(png, 9);
  png_set_IHDR(png, info, png_uint_32(side), png_uint_32(side), 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<unsigned char> row(size_t(side) * 4, 0x80);
  for (int y = 0; y < side; ++y) png_write_row(png, row.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
  return path;
}

long PeakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

CpuUse ProcessCpu() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return CpuUse{ms(usage.ru_utime), ms(usage.ru_stime), usage.ru_minflt};
}

std::string LabelText(int k) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string text;
  for (int i = 0; i < 50; ++i) text += letters[(k * 7 + i) % (sizeof letters - 1)];
  return text;
}

}  // namespace bench
