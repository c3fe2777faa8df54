// The image writers of TestImages.h.
#include "TestImages.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>
#include <stdexcept>

extern "C" {
#include <jpeglib.h>
}
#include <zlib.h>

std::ostream& operator<<(std::ostream& out, const TRgb& colour) {
  return out << "(" << int(colour.R) << ", " << int(colour.G) << ", " << int(colour.B) << ")";
}

TRgb Distinct(uint32_t x, uint32_t y) {
  return {uint8_t(x * 8 + 3), uint8_t(y * 8 + 5), uint8_t(250 - x * 4 - y * 3)};
}

TPattern Flat(TRgb colour) {
  return [colour](uint32_t, uint32_t) { return colour; };
}

const TRgb QuadrantColours[4] = {{220, 30, 30}, {30, 200, 40}, {20, 40, 210}, {230, 220, 40}};

TRgb Quadrants(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
  return QuadrantColours[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
}

void PutU16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
  bytes.at(offset) = uint8_t(value);
  bytes.at(offset + 1) = uint8_t(value >> 8);
}

void PutU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  PutU16(bytes, offset, uint16_t(value));
  PutU16(bytes, offset + 2, uint16_t(value >> 16));
}

TBmpOptions PaintedBmp() {
  TBmpOptions options;
  options.pixelsPerMetre = 2835;
  options.padding = 0;
  return options;
}

std::vector<uint8_t> MakeBmp(int32_t width, int32_t height, const TBmpOptions& options,
                             const TPattern& pattern) {
  const uint32_t rows = uint32_t(height < 0 ? -height : height);
  const uint32_t stride = (uint32_t(width) * 3 + 3) & ~3u;
  const uint32_t offBits = 14 + options.infoSize + options.colorsUsed * 4 + options.gap;
  std::vector<uint8_t> bytes(offBits + stride * rows, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  PutU32(bytes, 2, uint32_t(bytes.size()));
  PutU32(bytes, 10, offBits);
  PutU32(bytes, 14, options.infoSize);
  PutU32(bytes, 18, uint32_t(width));
  PutU32(bytes, 22, uint32_t(height));
  PutU16(bytes, 26, 1);
  PutU16(bytes, 28, 24);
  PutU32(bytes, 34, options.sizeImageZero ? 0 : stride * rows);
  PutU32(bytes, 38, options.pixelsPerMetre);
  PutU32(bytes, 42, options.pixelsPerMetre);
  PutU32(bytes, 46, options.colorsUsed);
  for (uint32_t i = 0; i < options.colorsUsed * 4; ++i) bytes[14 + options.infoSize + i] = 0xEE;
  for (uint32_t i = 0; i < options.gap; ++i) bytes[offBits - options.gap + i] = 0xDD;
  for (uint32_t stored = 0; stored < rows; ++stored) {
    const uint32_t y = height < 0 ? stored : rows - 1 - stored;
    uint8_t* row = &bytes[offBits + stored * stride];
    for (uint32_t x = 0; x < uint32_t(width); ++x) {
      const TRgb c = pattern(x, y);
      row[x * 3] = c.B;
      row[x * 3 + 1] = c.G;
      row[x * 3 + 2] = c.R;
    }
    for (uint32_t i = uint32_t(width) * 3; i < stride; ++i) row[i] = options.padding;
  }
  return bytes;
}

std::vector<uint8_t> MakeTga(uint16_t width, uint16_t height, const TTgaOptions& options,
                             const TPattern& pattern) {
  const uint32_t pixelBytes = options.depth / 8;
  std::vector<uint8_t> bytes(18 + options.idLength, 0);
  bytes[0] = options.idLength;
  bytes[2] = options.imageType;
  PutU16(bytes, 12, width);
  PutU16(bytes, 14, height);
  bytes[16] = options.depth;
  bytes[17] = options.descriptor;
  for (uint32_t i = 0; i < options.idLength; ++i) bytes[18 + i] = uint8_t('a' + i % 26);
  const bool topFirst = options.descriptor & 0x20;
  const bool rightFirst = options.descriptor & 0x10;
  for (uint32_t stored = 0; stored < height; ++stored) {
    const uint32_t y = topFirst ? stored : height - 1u - stored;
    for (uint32_t column = 0; column < width; ++column) {
      const uint32_t x = rightFirst ? width - 1u - column : column;
      const TRgb c = pattern(x, y);
      bytes.insert(bytes.end(), {c.B, c.G, c.R});
      if (pixelBytes == 4) bytes.push_back(0x80);
    }
  }
  return bytes;
}

std::vector<uint8_t> MakeJpeg(uint32_t width, uint32_t height, TJpegKind kind, bool progressive,
                              const TPattern& pattern, int quality) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  const bool grey = kind == TJpegKind::Grey;
  const bool cmyk = kind == TJpegKind::Cmyk || kind == TJpegKind::AdobeCmyk;
  info.input_components = grey ? 1 : cmyk ? 4 : 3;
  info.in_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  // The marker is what tells a reader that the inks are stored inverted.
  if (cmyk) info.write_Adobe_marker = kind == TJpegKind::AdobeCmyk;
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(width * info.input_components);
  while (info.next_scanline < height) {
    for (uint32_t x = 0; x < width; ++x) {
      const TRgb c = pattern(x, info.next_scanline);
      uint8_t* p = &row[x * info.input_components];
      if (grey) {
        p[0] = c.R;
      } else if (cmyk) {
        // Black takes what the three colours share; the inks make up the rest.
        const int most = std::max({c.R, c.G, c.B});
        const auto ink = [most](int v) {
          return most == 0 ? 0 : 255 - (v * 255 + most / 2) / most;
        };
        uint8_t inks[4] = {uint8_t(ink(c.R)), uint8_t(ink(c.G)), uint8_t(ink(c.B)),
                           uint8_t(255 - most)};
        for (int i = 0; i < 4; ++i)
          p[i] = kind == TJpegKind::AdobeCmyk ? uint8_t(255 - inks[i]) : inks[i];
      } else {
        p[0] = c.R;
        p[1] = c.G;
        p[2] = c.B;
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<uint8_t> bytes(buffer, buffer + size);
  free(buffer);
  return bytes;
}

std::vector<uint8_t> PngChunk(const char* type, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> chunk;
  const auto put32 = [&chunk](uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(uint8_t(value >> shift));
  };
  put32(uint32_t(body.size()));
  chunk.insert(chunk.end(), type, type + 4);
  chunk.insert(chunk.end(), body.begin(), body.end());
  put32(uint32_t(crc32(0, chunk.data() + 4, uInt(chunk.size() - 4))));
  return chunk;
}

// An 8-bit RGB or RGBA PNG of the compressed pixels, with the chunks `before` ahead of them.
static std::vector<uint8_t> PngFile(uint32_t width, uint32_t height, bool alpha,
                                    const std::vector<uint8_t>& before,
                                    const std::vector<uint8_t>& packed) {
  std::vector<uint8_t> header(13, 0);
  for (int i = 0; i < 4; ++i) {
    header[i] = uint8_t(width >> (24 - 8 * i));
    header[4 + i] = uint8_t(height >> (24 - 8 * i));
  }
  header[8] = 8;
  header[9] = alpha ? 6 : 2;
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (const std::vector<uint8_t>& part :
       {PngChunk("IHDR", header), before, PngChunk("IDAT", packed), PngChunk("IEND", {})})
    png.insert(png.end(), part.begin(), part.end());
  return png;
}

std::vector<uint8_t> MakePng(uint32_t width, uint32_t height, bool alpha,
                             const TRgbaPattern& pattern, const std::vector<uint8_t>& before) {
  const uint32_t channels = alpha ? 4 : 3;
  std::vector<uint8_t> raw;
  for (uint32_t y = 0; y < height; ++y) {
    raw.push_back(0);  // no filter
    for (uint32_t x = 0; x < width; ++x) {
      const TRgba p = pattern(x, y);
      const uint8_t bytes[4] = {p.R, p.G, p.B, p.A};
      raw.insert(raw.end(), bytes, bytes + channels);
    }
  }
  uLongf packedSize = compressBound(uLong(raw.size()));
  std::vector<uint8_t> packed(packedSize);
  if (compress(packed.data(), &packedSize, raw.data(), uLong(raw.size())) != Z_OK)
    throw std::runtime_error("compress failed");
  packed.resize(packedSize);

  return PngFile(width, height, alpha, before, packed);
}

std::vector<uint8_t> MakeFlatPng(uint32_t width, uint32_t height, bool alpha, TRgba colour) {
  const uint32_t channels = alpha ? 4 : 3;
  std::vector<uint8_t> row(1 + size_t(width) * channels);  // filter byte 0, then the pixels
  const uint8_t bytes[4] = {colour.R, colour.G, colour.B, colour.A};
  for (uint32_t x = 0; x < width; ++x)
    std::copy(bytes, bytes + channels, row.begin() + 1 + std::ptrdiff_t(x) * channels);
  z_stream stream{};
  if (deflateInit(&stream, Z_BEST_COMPRESSION) != Z_OK) throw std::runtime_error("deflate");
  std::vector<uint8_t> packed;
  uint8_t out[65536];
  for (uint32_t y = 0; y <= height; ++y) {
    const bool last = y == height;
    stream.next_in = last ? nullptr : row.data();
    stream.avail_in = last ? 0 : uInt(row.size());
    do {
      stream.next_out = out;
      stream.avail_out = sizeof out;
      deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
      packed.insert(packed.end(), out, out + (sizeof out - stream.avail_out));
    } while (stream.avail_out == 0);
  }
  deflateEnd(&stream);

  return PngFile(width, height, alpha, {}, packed);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
