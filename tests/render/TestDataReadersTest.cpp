// Every image written by other programs that the test data holds: the ones we read come out with
// the colours another decoder sees at a few points, all others are refused with one message.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "TestImages.h"
#include "render/ImageReaders.h"

namespace {

struct TPoint {
  uint32_t X, Y;  // y from the top
  TRgb Colour;
};

struct TExpected {
  uint32_t Width, Height;
  std::vector<TPoint> Points;
};

// The BMP Suite's 24-bit pictures differ only in what surrounds the pixels.
const TExpected BmpSuite24 = {127,
                              64,
                              {{0, 0, {255, 0, 0}},
                               {20, 5, {235, 165, 165}},
                               {5, 60, {12, 41, 41}},
                               {110, 5, {154, 154, 168}},
                               {60, 32, {230, 125, 230}},
                               {126, 63, {96, 96, 126}}}};

// Paths below the test data folder of the files that load. Colours as another program's decoder
// gives them (JPEG within a small tolerance, since decoders may round differently).
const std::map<std::string, TExpected>& Loadable() {
  static const std::map<std::string, TExpected> files = {
      {"bmpsuite/g/rgb24.bmp", BmpSuite24},
      {"bmpsuite/g/rgb24pal.bmp", BmpSuite24},
      {"bmpsuite/q/rgb24largepal.bmp", BmpSuite24},
      {"bmpsuite/q/rgb24prof.bmp", BmpSuite24},
      {"bmpsuite/q/rgb24lprof.bmp", BmpSuite24},
      {"tga/200x32_rgb_bl_raw.tga",
       {200,
        32,
        {{0, 0, {9, 41, 4}},
         {199, 0, {95, 154, 20}},
         {0, 31, {8, 49, 3}},
         {100, 16, {193, 71, 46}}}}},
      // Black letters "abc" on white, upright: the ascender of the b is near the top.
      {"tga/tga_id_field.tga",
       {100,
        100,
        {{0, 0, {255, 255, 255}},
         {40, 36, {0, 0, 0}},
         {40, 63, {255, 255, 255}},
         {99, 99, {255, 255, 255}}}}},
      {"jpeg/hopper.jpg",
       {128, 128, {{0, 0, {20, 21, 67}}, {64, 64, {173, 70, 55}}, {127, 127, {134, 160, 209}}}}},
      {"jpeg/hopper_16bit_qtables.jpg", {128, 128, {{64, 64, {203, 110, 69}}}}},
      {"jpeg/hopper_gray.jpg",
       {128, 128, {{0, 0, {26, 26, 26}}, {64, 64, {99, 99, 99}}, {127, 127, {158, 158, 158}}}}},
      {"jpeg/flower.jpg",
       {480, 360, {{0, 0, {148, 124, 98}}, {240, 180, {255, 157, 108}}, {479, 359, {98, 96, 84}}}}},
      // The word RED in red on black under a red bar, once as RGB and once as Adobe CMYK.
      {"jpeg/pil_sample_rgb.jpg",
       {100, 100, {{3, 1, {231, 33, 24}}, {12, 40, {230, 33, 24}}, {50, 50, {1, 0, 0}}}}},
      {"jpeg/pil_sample_cmyk.jpg",
       {100, 100, {{3, 1, {255, 14, 23}}, {12, 40, {255, 15, 24}}, {50, 50, {1, 4, 5}}}}},
      {"jpeg/truncated_jpeg.jpg", {100, 100, {{0, 0, {184, 171, 163}}}}},
      {"jpeg/junk_jpeg_header.jpg", {1024, 768, {{0, 0, {164, 203, 246}}}}},
      {"jpeg/jpeg_ff00_header.jpg", {300, 225, {{0, 0, {78, 87, 20}}}}},
      {"jpeg/icc-after-SOF.jpg", {10, 10, {{0, 0, {0, 0, 0}}, {9, 9, {0, 0, 0}}}}},
  };
  return files;
}

std::string Extension(const std::filesystem::path& path) {
  return path.extension().string();
}

}  // namespace

TEST(TestDataReaders, EachFileLoadsWithItsColoursOrIsRefusedWithOneMessage) {
  namespace fs = std::filesystem;
  const fs::path root = KESTRUNE_TESTDATA_DIR;
  ASSERT_TRUE(fs::is_directory(root)) << root;
  size_t loaded = 0, refused = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string ext = Extension(entry.path());
    if (!entry.is_regular_file() || (ext != ".bmp" && ext != ".tga" && ext != ".jpg")) continue;
    const std::string relative = fs::relative(entry.path(), root).generic_string();
    SCOPED_TRACE(relative);
    const std::vector<uint8_t> bytes = ReadBytes(entry.path().string());
    TImage image;
    TImageError error;
    const auto reader = ext == ".bmp" ? ReadBmpImage : ext == ".tga" ? ReadTgaImage : ReadJpegImage;
    const bool ok = reader(bytes.data(), bytes.size(), relative, image, error);

    const auto expected = Loadable().find(relative);
    if (expected == Loadable().end()) {
      ++refused;
      EXPECT_FALSE(ok) << "loads, but should be refused";
      EXPECT_FALSE(error.Text.empty());
      EXPECT_EQ(error.Caption, ext == ".tga" ? "TGA File Error" : "BMP Unit");
      continue;
    }
    ++loaded;
    ASSERT_TRUE(ok) << error.Text;
    ASSERT_EQ(image.Width, expected->second.Width);
    ASSERT_EQ(image.Height, expected->second.Height);
    const int tolerance = ext == ".jpg" ? 4 : 0;
    for (const TPoint& point : expected->second.Points) {
      const TRgb seen = PixelAt(image, point.X, point.Y);
      EXPECT_LE(std::abs(seen.R - point.Colour.R), tolerance)
          << point.X << "," << point.Y << " " << seen;
      EXPECT_LE(std::abs(seen.G - point.Colour.G), tolerance)
          << point.X << "," << point.Y << " " << seen;
      EXPECT_LE(std::abs(seen.B - point.Colour.B), tolerance)
          << point.X << "," << point.Y << " " << seen;
      EXPECT_EQ(AlphaAt(image, point.X, point.Y), 255);
    }
  }
  EXPECT_EQ(loaded, Loadable().size()) << "a file that should load is missing";
  EXPECT_GT(refused, 50u);
}

// Every colour type and depth a PNG may have, interlaced or not, with alpha channels and tRNS
// chunks: each pixel, alpha included, as ImageMagick decodes it (its 16-bit RGBA, made when the
// tests are built), rounded to 8 bits. Files with alpha come as RGBA marked as having it, all
// others as RGB.
TEST(TestDataReaders, EveryPngOfTheSuiteDecodesAsImageMagickDoes) {
  namespace fs = std::filesystem;
  const fs::path suite = fs::path(KESTRUNE_TESTDATA_DIR) / "pngsuite";
  const fs::path decodedFolder = fs::path(KESTRUNE_BINARY_DIR) / "pngsuite-decoded";
  size_t files = 0, withAlpha = 0;
  for (const auto& entry : fs::directory_iterator(suite)) {
    if (Extension(entry.path()) != ".png") continue;
    const std::string name = entry.path().stem().string();
    SCOPED_TRACE(name);
    ++files;
    const std::vector<uint8_t> bytes = ReadBytes(entry.path().string());
    TImage image;
    TImageError error;
    ASSERT_TRUE(ReadPngImage(bytes.data(), bytes.size(), name, image, error)) << error.Text;
    // Alpha comes from the colour types with an alpha channel (4 and 6) or from a tRNS chunk.
    bool alpha = bytes.at(25) == 4 || bytes.at(25) == 6;
    for (size_t at = 8; at + 8 <= bytes.size();) {
      const size_t length =
          size_t(bytes[at]) << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3];
      alpha = alpha || std::string(&bytes[at + 4], &bytes[at + 8]) == "tRNS";
      at += 12 + length;
    }
    EXPECT_EQ(image.HasAlpha, alpha);
    EXPECT_EQ(image.Format, alpha ? TPixelFormat::RGBA : TPixelFormat::RGB);
    withAlpha += image.HasAlpha;

    const std::vector<uint8_t> decoded16 = ReadBytes((decodedFolder / (name + ".rgba16")).string());
    ASSERT_EQ(decoded16.size(), size_t(image.Width) * image.Height * 8);
    std::vector<uint8_t> expected(decoded16.size() / 2);
    for (size_t i = 0; i < expected.size(); ++i)
      expected[i] = uint8_t(((decoded16[2 * i] << 8 | decoded16[2 * i + 1]) * 255 + 32895) >> 16);
    int wrong = 0;
    for (uint32_t y = 0; y < image.Height; ++y)
      for (uint32_t x = 0; x < image.Width; ++x) {
        const uint8_t* e = &expected[(size_t(y) * image.Width + x) * 4];
        const TRgb seen = PixelAt(image, x, y);
        const uint8_t seenAlpha = AlphaAt(image, x, y);
        if (seen == TRgb{e[0], e[1], e[2]} && seenAlpha == e[3]) continue;
        if (++wrong <= 3)
          ADD_FAILURE() << x << "," << y << ": " << seen << " alpha " << int(seenAlpha)
                        << ", expected " << TRgb{e[0], e[1], e[2]} << " alpha " << int(e[3]);
      }
    EXPECT_EQ(wrong, 0);
  }
  EXPECT_EQ(files, 51u);
  EXPECT_GT(withAlpha, 20u);
}
