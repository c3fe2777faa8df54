// The readers on bytes made here: every pixel where it belongs, and every refusal with its exact
// message, without reading or allocating beyond what the file holds.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>

#include "TestImages.h"
#include "render/ImageReaders.h"

// The largest single allocation through new, so that hostile headers can be shown to cost
// nothing.
static std::atomic<size_t> LargestAllocation{0};

// Never inlined, so the compiler does not pair this new with the delete below's free and warn.
[[gnu::noinline]] void* operator new(size_t size) {
  size_t seen = LargestAllocation.load();
  while (size > seen && !LargestAllocation.compare_exchange_weak(seen, size)) {
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept {
  std::free(p);
}

namespace {

using TReader = bool (*)(const uint8_t*, size_t, const std::string&, TImage&, TImageError&);

struct TRead {
  bool Ok;
  TImage Image;
  TImageError Error;
};

TRead ReadWith(TReader reader, const std::vector<uint8_t>& bytes, const std::string& name) {
  TRead result;
  result.Ok = reader(bytes.data(), bytes.size(), name, result.Image, result.Error);
  return result;
}

TRead Bmp(const std::vector<uint8_t>& bytes) {
  return ReadWith(ReadBmpImage, bytes, "pic.bmp");
}
TRead Tga(const std::vector<uint8_t>& bytes) {
  return ReadWith(ReadTgaImage, bytes, "pic.tga");
}
TRead Jpeg(const std::vector<uint8_t>& bytes) {
  return ReadWith(ReadJpegImage, bytes, "pic.jpg");
}

void ExpectPattern(const TRead& read, uint32_t width, uint32_t height,
                   const TPattern& pattern = Distinct) {
  ASSERT_TRUE(read.Ok) << read.Error.Text;
  ASSERT_EQ(read.Image.Width, width);
  ASSERT_EQ(read.Image.Height, height);
  ASSERT_GE(read.Image.Pixels.size(), read.Image.RowStride() * height);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      ASSERT_EQ(PixelAt(read.Image, x, y), pattern(x, y)) << "at " << x << ", " << y;
}

void ExpectRefused(const TRead& read, const std::string& text, const std::string& caption) {
  EXPECT_FALSE(read.Ok);
  EXPECT_EQ(read.Error.Text, text);
  EXPECT_EQ(read.Error.Caption, caption);
}

bool Near(const TRgb& a, const TRgb& b, int tolerance) {
  return std::abs(a.R - b.R) <= tolerance && std::abs(a.G - b.G) <= tolerance &&
         std::abs(a.B - b.B) <= tolerance;
}

void ExpectQuadrants(const TRead& read, uint32_t width, uint32_t height, int tolerance = 8) {
  ASSERT_TRUE(read.Ok) << read.Error.Text;
  ASSERT_EQ(read.Image.Width, width);
  ASSERT_EQ(read.Image.Height, height);
  const uint32_t xs[2] = {width / 4, width * 3 / 4};
  const uint32_t ys[2] = {height / 4, height * 3 / 4};
  for (int q = 0; q < 4; ++q) {
    const TRgb seen = PixelAt(read.Image, xs[q % 2], ys[q / 2]);
    EXPECT_TRUE(Near(seen, QuadrantColours[q], tolerance))
        << "quadrant " << q << " is " << seen << ", expected " << QuadrantColours[q];
  }
}

TPattern QuadrantsOf(uint32_t width, uint32_t height) {
  return [=](uint32_t x, uint32_t y) { return Quadrants(x, y, width, height); };
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// BMP

TEST(BmpReader, LoadsEveryPixelWhateverTheRowPadding) {
  // 13 pixels make 39-byte rows padded to 40: exchanging blue and red across the whole buffer
  // would shift every row after the first by a byte.
  const std::vector<std::pair<int, int>> sizes = {{13, 7}, {64, 64}, {1, 1}, {4, 3}, {2, 5}};
  for (auto [w, h] : sizes) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    ExpectPattern(Bmp(MakeBmp(w, h)), w, h);
    TBmpOptions noSize;
    noSize.sizeImageZero = true;
    ExpectPattern(Bmp(MakeBmp(w, h, noSize)), w, h);
    EXPECT_EQ(Bmp(MakeBmp(w, h)).Image.RowAlignment, 4);
  }
}

TEST(BmpReader, SkipsTheColourTable) {
  TBmpOptions options;
  options.colorsUsed = 2;
  ExpectPattern(Bmp(MakeBmp(13, 7, options)), 13, 7);
}

TEST(BmpReader, LoadsTopDownBitmapsUpright) {
  ExpectPattern(Bmp(MakeBmp(13, -7)), 13, 7);
  ExpectPattern(Bmp(MakeBmp(1, -1)), 1, 1);
}

TEST(BmpReader, FortyByteHeaderTakesPixelsAfterTheColourTableWhateverBfOffBits) {
  TBmpOptions options;
  options.colorsUsed = 3;
  std::vector<uint8_t> file = MakeBmp(5, 4, options);
  PutU32(file, 10, 0);
  ExpectPattern(Bmp(file), 5, 4);
  PutU32(file, 10, 0xFFFFFFF0);
  ExpectPattern(Bmp(file), 5, 4);
}

TEST(BmpReader, LargerInfoHeadersTakePixelsAtBfOffBits) {
  for (uint32_t infoSize : {52u, 56u, 64u, 108u, 124u}) {
    SCOPED_TRACE(infoSize);
    TBmpOptions options;
    options.infoSize = infoSize;
    ExpectPattern(Bmp(MakeBmp(13, 7, options)), 13, 7);
    // A gap (a colour profile, say) between the header and the pixels.
    options.gap = 37;
    std::vector<uint8_t> file = MakeBmp(13, 7, options);
    ExpectPattern(Bmp(file), 13, 7);
    // Colour counts mean nothing once the offset is known.
    PutU32(file, 46, 0xFFFFFFFF);
    ExpectPattern(Bmp(file), 13, 7);
  }
}

TEST(BmpReader, LargerInfoHeaderWithImplausibleOffsetTakesPixelsAfterTheHeaders) {
  TBmpOptions options;
  options.infoSize = 108;
  options.colorsUsed = 2;
  std::vector<uint8_t> file = MakeBmp(13, 7, options);
  for (uint32_t offBits : {0u, 54u, 14u + 107u, uint32_t(file.size()), 0xFFFFFFFFu}) {
    PutU32(file, 10, offBits);
    ExpectPattern(Bmp(file), 13, 7);
  }
}

TEST(BmpReader, RefusesWhatItCannotShowWithOneClearMessage) {
  const auto refused = [](std::vector<uint8_t> file, const std::string& text) {
    ExpectRefused(Bmp(file), text, "BMP Unit");
  };
  std::vector<uint8_t> file = MakeBmp(13, 7);

  // Cut short: one byte of pixels, or of the colour table, missing.
  refused(std::vector<uint8_t>(file.begin(), file.end() - 1), "Error reading bitmap data");
  TBmpOptions twoColours;
  twoColours.colorsUsed = 2;
  std::vector<uint8_t> withTable = MakeBmp(1, 1, twoColours);
  PutU32(withTable, 46, 100);
  refused(withTable, "Error reading palette");
  std::vector<uint8_t> hugeTable = file;
  PutU32(hugeTable, 46, 0xFFFFFFFF);
  refused(hugeTable, "Error reading palette");

  // Headers.
  refused(std::vector<uint8_t>(file.begin(), file.begin() + 53), "Error reading bitmap header");
  refused({}, "Error reading bitmap header");
  for (uint32_t small : {0u, 12u, 16u, 39u}) {
    std::vector<uint8_t> f = file;
    PutU32(f, 14, small);
    refused(f, "Unsupported bitmap header");
  }
  std::vector<uint8_t> longHeader = file;
  PutU32(longHeader, 14, uint32_t(file.size()));
  refused(longHeader, "Error reading bitmap header");
  PutU32(longHeader, 14, 0xFFFFFFFF);
  refused(longHeader, "Error reading bitmap header");

  // Formats other than uncompressed 24-bit pixels.
  for (uint16_t bits : {0, 1, 4, 8, 16, 32, 30000}) {
    std::vector<uint8_t> f = file;
    PutU16(f, 28, bits);
    refused(f, "Only 24 bit bitmaps supported");
  }
  for (uint32_t compression : {1u, 2u, 3u, 4u, 5u, 6u}) {
    std::vector<uint8_t> f = file;
    PutU32(f, 30, compression);
    refused(f, "Only uncompressed bitmaps supported");
  }

  // Sizes the upload cannot take.
  const int32_t badWidths[] = {0, -13, 65536, INT32_MIN, INT32_MAX};
  for (int32_t width : badWidths) {
    std::vector<uint8_t> f = file;
    PutU32(f, 18, uint32_t(width));
    refused(f, "Unsupported bitmap size");
  }
  const int32_t badHeights[] = {0, 65536, -65536, INT32_MIN, INT32_MAX};
  for (int32_t height : badHeights) {
    std::vector<uint8_t> f = file;
    PutU32(f, 22, uint32_t(height));
    refused(f, "Unsupported bitmap size");
  }

  // A declared size without room for the padded rows: unpadded, as some writers count it.
  std::vector<uint8_t> understated = file;
  PutU32(understated, 34, 13 * 7 * 3);
  refused(understated, "Bitmap data smaller than the image");
  // More declared than the file holds.
  std::vector<uint8_t> overstated = file;
  PutU32(overstated, 34, 0xFFFFFFFF);
  refused(overstated, "Error reading bitmap data");
}

TEST(BmpReader, HostileHeadersCostNoMemory) {
  std::vector<uint8_t> file = MakeBmp(2, 2);
  PutU32(file, 18, 65535);
  PutU32(file, 22, 65535);
  PutU32(file, 34, 0);
  LargestAllocation = 0;
  ExpectRefused(Bmp(file), "Error reading bitmap data", "BMP Unit");
  PutU32(file, 22, uint32_t(-65535));
  ExpectRefused(Bmp(file), "Error reading bitmap data", "BMP Unit");
  EXPECT_LT(LargestAllocation.load(), size_t(1) << 16);
}

TEST(BmpReader, EveryTruncationIsRefused) {
  TBmpOptions options;
  options.colorsUsed = 2;
  const std::vector<uint8_t> file = MakeBmp(13, 7, options);
  for (size_t length = 0; length < file.size(); ++length) {
    const TRead read = Bmp(std::vector<uint8_t>(file.begin(), file.begin() + length));
    ASSERT_FALSE(read.Ok) << length;
    EXPECT_EQ(read.Error.Caption, "BMP Unit");
  }
}

// ---------------------------------------------------------------------------------------------
// TGA

TEST(TgaReader, LoadsEveryPixelAndSaysHowTheRowsAreAligned) {
  // 13 pixels make 39-byte rows, stored without padding.
  ExpectPattern(Tga(MakeTga(13, 7)), 13, 7);
  EXPECT_EQ(Tga(MakeTga(13, 7)).Image.RowAlignment, 1);
  ExpectPattern(Tga(MakeTga(16, 4)), 16, 4);
  EXPECT_EQ(Tga(MakeTga(16, 4)).Image.RowAlignment, 4);
  const TRead big = Tga(MakeTga(256, 256));
  ASSERT_TRUE(big.Ok);
  EXPECT_EQ(big.Image.Width, 256u);
  EXPECT_EQ(big.Image.Format, TPixelFormat::RGB);
  EXPECT_EQ(PixelAt(big.Image, 255, 255), Distinct(255, 255));
}

TEST(TgaReader, SkipsTheImageIdField) {
  TTgaOptions options;
  options.idLength = 6;
  ExpectPattern(Tga(MakeTga(13, 7, options)), 13, 7);
  options.idLength = 255;
  ExpectPattern(Tga(MakeTga(3, 2, options)), 3, 2);
}

TEST(TgaReader, HonoursTheOriginBits) {
  TTgaOptions options;
  options.descriptor = 0x20;  // top left
  ExpectPattern(Tga(MakeTga(13, 7, options)), 13, 7);
  options.descriptor = 0x10;  // bottom right
  ExpectPattern(Tga(MakeTga(13, 7, options)), 13, 7);
  options.descriptor = 0x30;  // top right
  ExpectPattern(Tga(MakeTga(13, 7, options)), 13, 7);
}

TEST(TgaReader, RefusesWhatItCannotShowWithTheTableMessages) {
  const std::string prefix = "Couldn't load \"pic.tga\". ";
  const std::string compressed = prefix + "Compressed TGA files not supported.";
  const auto refused = [](std::vector<uint8_t> file, const std::string& text) {
    ExpectRefused(Tga(file), text, "TGA File Error");
  };
  const std::vector<uint8_t> file = MakeTga(13, 7);

  TTgaOptions deep;
  deep.depth = 32;
  refused(MakeTga(13, 7, deep), prefix + "Only 24 bit TGA files supported.");
  for (uint8_t type : {0, 1, 3, 9, 10, 11}) {
    std::vector<uint8_t> f = file;
    f[2] = type;
    refused(f, compressed);
  }
  // A colour-mapped file of type 1 fails the type check first.
  std::vector<uint8_t> mapped = file;
  mapped[1] = 1;
  mapped[2] = 1;
  refused(mapped, compressed);
  mapped[2] = 2;
  refused(mapped, prefix + "Colormapped TGA files not supported.");
  std::vector<uint8_t> sixteen = file;
  sixteen[16] = 16;
  refused(sixteen, prefix + "Only 24 bit TGA files supported.");

  const std::string cannotRead = "Couldn't read file \"pic.tga\".";
  refused(std::vector<uint8_t>(file.begin(), file.end() - 1), cannotRead);
  refused(std::vector<uint8_t>(file.begin(), file.begin() + 17), cannotRead);
  refused({}, cannotRead);
  std::vector<uint8_t> longId = file;
  longId[0] = 255;
  refused(longId, cannotRead);

  for (int side : {12, 14}) {
    std::vector<uint8_t> f = file;
    PutU16(f, side, 0);
    refused(f, prefix + "Empty TGA images not supported.");
  }
}

TEST(TgaReader, HostileSizesCostNoMemoryAndEveryTruncationIsRefused) {
  std::vector<uint8_t> file = MakeTga(13, 7);
  PutU16(file, 12, 65535);
  PutU16(file, 14, 65535);
  LargestAllocation = 0;
  ExpectRefused(Tga(file), "Couldn't read file \"pic.tga\".", "TGA File Error");
  EXPECT_LT(LargestAllocation.load(), size_t(1) << 16);

  const std::vector<uint8_t> whole = MakeTga(13, 7);
  for (size_t length = 0; length < whole.size(); ++length)
    ASSERT_FALSE(Tga(std::vector<uint8_t>(whole.begin(), whole.begin() + length)).Ok) << length;
}

// ---------------------------------------------------------------------------------------------
// JPEG

TEST(JpegReader, DecodesUprightToRgbaWithOpaqueAlpha) {
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "baseline");
    const TRead read = Jpeg(MakeJpeg(32, 32, TJpegKind::Colour, progressive, QuadrantsOf(32, 32)));
    ExpectQuadrants(read, 32, 32);
    EXPECT_EQ(read.Image.Format, TPixelFormat::RGBA);
    for (uint32_t y = 0; y < 32; ++y)
      for (uint32_t x = 0; x < 32; ++x) ASSERT_EQ(AlphaAt(read.Image, x, y), 255);
  }
  // Sizes that are no multiple of the 8-pixel blocks.
  ExpectQuadrants(Jpeg(MakeJpeg(37, 21, TJpegKind::Colour, false, QuadrantsOf(37, 21))), 37, 21,
                  24);
}

TEST(JpegReader, GreyscaleLoadsInColour) {
  const TPattern bands = [](uint32_t x, uint32_t) {
    const uint8_t v = x < 16 ? 40 : 200;
    return TRgb{v, v, v};
  };
  const TRead read = Jpeg(MakeJpeg(32, 16, TJpegKind::Grey, false, bands));
  ASSERT_TRUE(read.Ok);
  EXPECT_EQ(read.Image.Format, TPixelFormat::RGBA);
  EXPECT_TRUE(Near(PixelAt(read.Image, 4, 8), {40, 40, 40}, 3)) << PixelAt(read.Image, 4, 8);
  EXPECT_TRUE(Near(PixelAt(read.Image, 28, 8), {200, 200, 200}, 3));
  EXPECT_EQ(AlphaAt(read.Image, 28, 8), 255);
}

TEST(JpegReader, CmykLoadsInColourInBothInkConventions) {
  for (TJpegKind kind : {TJpegKind::Cmyk, TJpegKind::AdobeCmyk}) {
    SCOPED_TRACE(kind == TJpegKind::Cmyk ? "plain" : "Adobe");
    const TRead read = Jpeg(MakeJpeg(32, 32, kind, false, QuadrantsOf(32, 32)));
    ExpectQuadrants(read, 32, 32);
    EXPECT_EQ(AlphaAt(read.Image, 3, 3), 255);
  }
}

namespace {

// Offset of the first marker `code` (the byte after 0xFF) in a JPEG file.
size_t FindMarker(const std::vector<uint8_t>& file, uint8_t code) {
  for (size_t i = 0; i + 1 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] == code) return i;
  throw std::runtime_error("marker not found");
}

}  // namespace

TEST(JpegReader, DamageAnywhereIsReportedWithTheTableMessage) {
  const std::string message = "Couldn't load JPG - \"pic.jpg\"";
  const std::vector<uint8_t> file = MakeJpeg(32, 32, TJpegKind::Colour, false, QuadrantsOf(32, 32));
  const size_t frame = FindMarker(file, 0xC0);
  const size_t scan = FindMarker(file, 0xDA);

  ExpectRefused(Jpeg({}), message, "BMP Unit");
  ExpectRefused(Jpeg({'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'g'}), message, "BMP Unit");
  ExpectRefused(Jpeg(std::vector<uint8_t>(file.begin(), file.begin() + frame)), message,
                "BMP Unit");
  // In the header: a sample precision the decoder does not have.
  std::vector<uint8_t> precision = file;
  precision[frame + 4] = 12;
  ExpectRefused(Jpeg(precision), message, "BMP Unit");
  // In the header: no components.
  std::vector<uint8_t> components = file;
  components[frame + 9] = 0;
  ExpectRefused(Jpeg(components), message, "BMP Unit");
  // Past the header, when the pixels are made: a scan that names a table never defined.
  std::vector<uint8_t> table = file;
  table[scan + 6] = 0x33;
  ExpectRefused(Jpeg(table), message, "BMP Unit");
}

TEST(JpegReader, SlightDamageInTheScanStillLoads) {
  // A file that stops in the middle of the scan: the decoder warns and fills the rest.
  const std::vector<uint8_t> file = MakeJpeg(32, 64, TJpegKind::Colour, false, QuadrantsOf(32, 64));
  const size_t scan = FindMarker(file, 0xDA);
  const std::vector<uint8_t> cut(file.begin(), file.begin() + scan + (file.size() - scan) / 2);
  const TRead read = Jpeg(cut);
  ASSERT_TRUE(read.Ok) << read.Error.Text;
  EXPECT_TRUE(Near(PixelAt(read.Image, 8, 8), QuadrantColours[0], 8));
  EXPECT_TRUE(Near(PixelAt(read.Image, 24, 8), QuadrantColours[1], 8));
}

TEST(JpegReader, AnnouncedGiantsAreRefusedBeforeAnythingIsAllocated) {
  std::vector<uint8_t> file = MakeJpeg(16, 16, TJpegKind::Colour, true, QuadrantsOf(16, 16));
  const size_t frame = FindMarker(file, 0xC2);
  for (int i : {5, 7}) {
    file[frame + i] = 0xFF;  // 65500 and more, big-endian
    file[frame + i + 1] = 0xDC;
  }
  LargestAllocation = 0;
  ExpectRefused(Jpeg(file), "Couldn't load JPG - \"pic.jpg\"", "BMP Unit");
  EXPECT_LT(LargestAllocation.load(), size_t(1) << 20);
}

TEST(JpegReader, EveryTruncationLoadsOrIsRefused) {
  for (bool progressive : {false, true}) {
    const std::vector<uint8_t> file =
        MakeJpeg(24, 16, TJpegKind::Colour, progressive, QuadrantsOf(24, 16));
    for (size_t length = 0; length < file.size(); ++length) {
      const TRead read = Jpeg(std::vector<uint8_t>(file.begin(), file.begin() + length));
      if (read.Ok) {
        ASSERT_EQ(read.Image.Width, 24u);
        ASSERT_EQ(read.Image.Pixels.size(), 24u * 16u * 4u);
      } else {
        ASSERT_EQ(read.Error.Text, "Couldn't load JPG - \"pic.jpg\"");
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Random damage to good files of each kind: whatever comes out, the readers give an image of the
// size they report or one message, and (in the sanitizer build) touch nothing outside.

TEST(ImageReaders, SurviveRandomDamage) {
  std::mt19937 random(20240607);
  TBmpOptions bmpOptions;
  bmpOptions.infoSize = 108;
  TTgaOptions tgaOptions;
  tgaOptions.idLength = 3;
  const struct {
    TReader Reader;
    std::vector<uint8_t> File;
  } cases[] = {
      {ReadBmpImage, MakeBmp(13, 7, bmpOptions)},
      {ReadTgaImage, MakeTga(13, 7, tgaOptions)},
      {ReadJpegImage, MakeJpeg(24, 16, TJpegKind::Colour, false, QuadrantsOf(24, 16))},
      {ReadJpegImage, MakeJpeg(24, 16, TJpegKind::AdobeCmyk, true, QuadrantsOf(24, 16))},
  };
  for (const auto& c : cases) {
    for (int round = 0; round < 400; ++round) {
      std::vector<uint8_t> file = c.File;
      const int flips = 1 + int(random() % 4);
      for (int i = 0; i < flips; ++i) file[random() % file.size()] = uint8_t(random());
      const TRead read = ReadWith(c.Reader, file, "x");
      if (read.Ok) {
        ASSERT_GE(read.Image.Pixels.size(), read.Image.RowStride() * read.Image.Height);
        ASSERT_GT(read.Image.Width, 0u);
        ASSERT_LE(read.Image.Width, 65535u);
      } else {
        ASSERT_FALSE(read.Error.Text.empty());
        ASSERT_FALSE(read.Error.Caption.empty());
      }
    }
  }
}
