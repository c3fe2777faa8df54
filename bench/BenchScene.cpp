#include "BenchScene.h"

#include <jpeglib.h>
#include <png.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace bench {

namespace {

void Put16(std::string& s, int v) {
  s += char(v & 255);
  s += char((v >> 8) & 255);
}
void Put32(std::string& s, int v) {
  Put16(s, v & 0xFFFF);
  Put16(s, (v >> 16) & 0xFFFF);
}

// The pattern of the large picture: smooth gradients with some detail, like a photograph's
// worth of entropy for the JPEG coder.
void LargePixel(int x, int y, unsigned char* rgb) {
  rgb[0] = static_cast<unsigned char>((x * 255) / 2047);
  rgb[1] = static_cast<unsigned char>((y * 255) / 2047);
  rgb[2] = static_cast<unsigned char>(((x ^ y) * 7) & 255);
}

// The large picture's alpha: a ramp with some detail, neither all opaque nor all transparent.
int LargeAlpha(int x, int y) {
  return 128 + ((x * 3 + y * 5) & 127);
}

void WritePng(const std::string& path, int width, int height,
              const std::vector<unsigned char>& rgba) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  if (!png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr)) {
    std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), image.message);
    std::exit(2);
  }
}

std::string Bmp(int width, int height, void (*pixel)(int, int, unsigned char*)) {
  int row = (width * 3 + 3) / 4 * 4;
  std::string s;
  s.reserve(54 + static_cast<size_t>(row) * height);
  s += "BM";
  Put32(s, 54 + row * height);
  Put32(s, 0);
  Put32(s, 54);
  Put32(s, 40);
  Put32(s, width);
  Put32(s, height);
  Put16(s, 1);
  Put16(s, 24);
  Put32(s, 0);
  Put32(s, row * height);
  Put32(s, 2835);
  Put32(s, 2835);
  Put32(s, 0);
  Put32(s, 0);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      unsigned char rgb[3];
      pixel(x, y, rgb);
      s += char(rgb[2]);
      s += char(rgb[1]);
      s += char(rgb[0]);
    }
    s.append(row - width * 3, '\0');
  }
  return s;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

int g_textureColour = 0;
void TexturePixel(int x, int y, unsigned char* rgb) {
  static const unsigned char colours[8][3] = {{220, 60, 50},  {60, 180, 80},  {50, 90, 220},
                                              {230, 200, 60}, {200, 80, 200}, {60, 200, 210},
                                              {240, 140, 40}, {150, 150, 150}};
  const unsigned char* c = colours[g_textureColour % 8];
  int edge = (x < 2 || y < 2 || x > 61 || y > 61) ? 60 : 0;
  for (int i = 0; i < 3; ++i) rgb[i] = static_cast<unsigned char>(c[i] > edge ? c[i] - edge : 0);
}

}  // namespace

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
    g_textureColour = k - 1;
    if (!png) {
      WriteFile(TexturePath(k), Bmp(64, 64, TexturePixel));
      continue;
    }
    std::vector<unsigned char> rgba(64 * 64 * 4);
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) {
        unsigned char* p = &rgba[static_cast<size_t>(y * 64 + x) * 4];
        TexturePixel(x, y, p);
        p[3] = static_cast<unsigned char>(TextureAlpha(x, y));
      }
    WritePng(TexturePath(k, true), 64, 64, rgba);
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
  WriteFile(path, Bmp(2048, 2048, LargePixel));
  return path;
}

std::string WriteLargeJpeg() {
  std::string path = ScratchFolder() + "/large.jpg";
  FILE* file = std::fopen(path.c_str(), "wb");
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = 2048;
  cinfo.image_height = 2048;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row(2048 * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    for (int x = 0; x < 2048; ++x)
      LargePixel(x, static_cast<int>(cinfo.next_scanline), &row[static_cast<size_t>(x) * 3]);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(file);
  return path;
}

std::string WriteLargePng() {
  std::string path = ScratchFolder() + "/large.png";
  std::vector<unsigned char> rgba(size_t(2048) * 2048 * 4);
  for (int y = 0; y < 2048; ++y)
    for (int x = 0; x < 2048; ++x) {
      unsigned char* p = &rgba[(static_cast<size_t>(y) * 2048 + x) * 4];
      LargePixel(x, y, p);
      p[3] = static_cast<unsigned char>(LargeAlpha(x, y));
    }
  WritePng(path, 2048, 2048, rgba);
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

}  // namespace bench
