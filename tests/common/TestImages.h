// Image files made on the spot (BMP, TGA, JPEG, PNG) for the tests, the fuzz targets and the
// benchmarks, and ways to look into what the readers make of them.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "render/ImageReaders.h"

struct TRgb {
  uint8_t R, G, B;
  bool operator==(const TRgb& other) const { return R == other.R && G == other.G && B == other.B; }
};
std::ostream& operator<<(std::ostream& out, const TRgb& colour);

// The colour of pixel (x, y), y counted from the top of the image.
using TPattern = std::function<TRgb(uint32_t x, uint32_t y)>;
// Different in every pixel of images up to 32 by 32, and in each channel.
TRgb Distinct(uint32_t x, uint32_t y);
// Every pixel the one colour.
TPattern Flat(TRgb colour);
// Four flat quadrants (red top left, green top right, blue bottom left, yellow bottom right),
// which survive JPEG compression and scaling.
TRgb Quadrants(uint32_t x, uint32_t y, uint32_t width, uint32_t height);
extern const TRgb QuadrantColours[4];  // top left, top right, bottom left, bottom right

void PutU16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value);
void PutU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);

// A 24-bit bitmap with a consistent 40-byte header and padded rows, bottom row first (top row
// first for a negative height). `infoSize` larger than 40 adds zeros to the header;
// `colorsUsed` entries of colour table and `gap` spare bytes come before the pixels, which
// bfOffBits points at. Rows are padded with `padding` bytes: not zero by default, which shows
// when a reader takes padding for pixels.
struct TBmpOptions {
  uint32_t infoSize = 40;
  uint32_t colorsUsed = 0;
  uint32_t gap = 0;
  bool sizeImageZero = false;
  uint32_t pixelsPerMetre = 0;
  uint8_t padding = 0x99;
};
// What painting programs write: a resolution of 72 dots per inch and zeros for padding.
TBmpOptions PaintedBmp();
std::vector<uint8_t> MakeBmp(int32_t width, int32_t height, const TBmpOptions& options = {},
                             const TPattern& pattern = Distinct);

// An uncompressed true-colour TGA (24 or 32 bits) with `idLength` bytes of image ID; the
// descriptor's origin bits decide the order the pixels are stored in. Another `imageType` only
// changes the header (the pixels stay uncompressed), which makes a damaged file of that type.
struct TTgaOptions {
  uint8_t idLength = 0;
  uint8_t depth = 24;
  uint8_t descriptor = 0;
  uint8_t imageType = 2;
};
std::vector<uint8_t> MakeTga(uint16_t width, uint16_t height, const TTgaOptions& options = {},
                             const TPattern& pattern = Distinct);

enum class TJpegKind { Colour, Grey, Cmyk, AdobeCmyk };
// With the encoder's defaults apart from the quality (its own default is 75).
std::vector<uint8_t> MakeJpeg(uint32_t width, uint32_t height, TJpegKind kind, bool progressive,
                              const TPattern& pattern, int quality = 100);

struct TRgba {
  uint8_t R, G, B, A;
};
using TRgbaPattern = std::function<TRgba(uint32_t x, uint32_t y)>;

// One PNG chunk with its length and CRC.
std::vector<uint8_t> PngChunk(const char* type, const std::vector<uint8_t>& body);
// An 8-bit RGBA PNG (RGB when `alpha` is false, the pattern's alpha then unused), not
// interlaced; `before` are whole chunks placed between the header and the data.
std::vector<uint8_t> MakePng(uint32_t width, uint32_t height, bool alpha,
                             const TRgbaPattern& pattern, const std::vector<uint8_t>& before = {});

// An 8-bit PNG of one colour (RGBA when `alpha`), its rows compressed as they are made: a few
// hundred KB at the largest sizes the readers take, and never the whole image in memory. A
// decompression bomb, when it is large.
std::vector<uint8_t> MakeFlatPng(uint32_t width, uint32_t height, bool alpha, TRgba colour);

// Pixel (x, y) of a reader's result, y counted from the top of the image. In the header, so that
// programs that write images without reading them need no reader.
inline TRgb PixelAt(const TImage& image, uint32_t x, uint32_t y) {
  if (x >= image.Width || y >= image.Height) throw std::out_of_range("pixel outside the image");
  const uint8_t* p =
      &image.Pixels.at((image.Height - 1 - y) * image.RowStride() + x * image.BytesPerPixel());
  return {p[0], p[1], p[2]};
}
inline uint8_t AlphaAt(const TImage& image, uint32_t x, uint32_t y) {
  if (image.Format != TPixelFormat::RGBA) return 255;
  return image.Pixels.at((image.Height - 1 - y) * image.RowStride() + x * 4 + 3);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);
