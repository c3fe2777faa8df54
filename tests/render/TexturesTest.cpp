// The loaders with a current rendering context: which loader runs, what reaches OpenGL, and every
// message the user sees.

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "ScreenSupport.h"
#include "TestImages.h"
#include "render/ImageReaders.h"
#include "render/Textures.h"

namespace {

using TBox = std::pair<std::string, std::string>;

class TexturesTest : public ScreenTest {
 protected:
  // Level 0 of a texture as OpenGL holds it, RGBA, bottom row first.
  std::vector<uint8_t> Texels(uint32_t id, int& width, int& height) {
    glBindTexture(GL_TEXTURE_2D, id);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    std::vector<uint8_t> texels(size_t(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return texels;
  }

  GLint Integer(GLenum name) {
    GLint value = -1;
    glGetIntegerv(name, &value);
    return value;
  }

  // Loads through LoadTextureFile and expects a texture and no message.
  uint32_t Load(const std::string& path) {
    uint32_t id = 0;
    bool alpha = false;
    LoadTextureFile(path, path, id, alpha);
    EXPECT_TRUE(Recorder.Boxes.empty()) << Recorder.Boxes.front().first;
    EXPECT_NE(id, 0u);
    return id;
  }

  // Loads through LoadTextureFile and expects exactly this one message and no texture.
  void Refused(const std::string& path, const std::string& text, const std::string& caption) {
    Recorder.Boxes.clear();
    uint32_t id = 0;
    bool alpha = false;
    LoadTextureFile(path, path, id, alpha);
    EXPECT_EQ(id, 0u) << path;
    ASSERT_EQ(Recorder.Boxes.size(), 1u) << path;
    EXPECT_EQ(Recorder.Boxes[0], TBox(text, caption));
    Recorder.Boxes.clear();
  }
};

}  // namespace

TEST_F(TexturesTest, OnlyTheFourEndingsRunALoader) {
  const std::vector<uint8_t> bmp = MakeBmp(4, 4);
  for (const char* name :
       {"pic.jpeg", "pic.gif", "pic", "", "bmp", "pic.BMP", "pic.Jpg", "pic.PNG", "pic.bmp.txt"}) {
    const std::string path = name[0] ? Folder.Write(name, bmp) : "";
    uint32_t id = 77;
    bool alpha = false;
    LoadTextureFile(path, path, id, alpha);
    EXPECT_EQ(id, 77u) << name;
  }
  EXPECT_TRUE(Recorder.Boxes.empty());
}

TEST_F(TexturesTest, LowerCasedNameChoosesTheLoaderAndTheRealNameIsOpened) {
  const std::string real = Folder.Write("LOGO.BMP", MakeBmp(4, 4));
  const std::string lower = AnsiLowerCase(real);
  uint32_t id = 0;
  bool alpha = false;
  LoadTextureFile(lower, real, id, alpha);
  EXPECT_NE(id, 0u);
  // A name that does not exist: the message names the file as the loader was given it.
  id = 0;
  LoadTextureFile(lower, real + ".gone", id, alpha);
  EXPECT_EQ(id, 0u);
  ASSERT_EQ(Recorder.Boxes.size(), 1u);
  EXPECT_EQ(Recorder.Boxes[0], TBox("Error opening " + lower, "BMP Unit"));
}

TEST_F(TexturesTest, BitmapAndOpaquePngReachOpenGLUnscaledAndInTheirColours) {
  // 64 by 64 with no size in the header; a power of two, so the base level is the image itself.
  // A PNG without alpha is uploaded just as the bitmap: RGB, repeating at its edges.
  TBmpOptions options;
  options.sizeImageZero = true;
  const auto quadrants = [](uint32_t x, uint32_t y) { return Quadrants(x, y, 64, 64); };
  const TRgbaPattern opaque = [](uint32_t x, uint32_t y) {
    const TRgb c = Quadrants(x, y, 64, 64);
    return TRgba{c.R, c.G, c.B, 255};
  };
  for (const std::string& path : {Folder.Write("p.bmp", MakeBmp(64, 64, options, quadrants)),
                                  Folder.Write("p.png", MakePng(64, 64, false, opaque))}) {
    SCOPED_TRACE(path);
    const uint32_t id = Load(path);
    EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), GLint(id)) << "the new texture stays bound";
    GLint mode = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &mode);
    EXPECT_EQ(mode, GL_MODULATE);
    GLint wrap = 0, minFilter = 0, format = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    EXPECT_EQ(wrap, GL_REPEAT);
    EXPECT_EQ(minFilter, GL_LINEAR);
    EXPECT_EQ(format, 3) << "three components, as the upload asks for RGB images";

    int width = 0, height = 0;
    const std::vector<uint8_t> texels = Texels(id, width, height);
    ASSERT_EQ(width, 64);
    ASSERT_EQ(height, 64);
    for (uint32_t y = 0; y < 64; ++y)
      for (uint32_t x = 0; x < 64; ++x) {
        const uint8_t* t = &texels[((63 - y) * 64 + x) * 4];
        ASSERT_EQ((TRgb{t[0], t[1], t[2]}), Quadrants(x, y, 64, 64)) << x << ", " << y;
      }
  }
}

TEST_F(TexturesTest, OddWidthsKeepTheirColoursInBitmapsAndTgaFiles) {
  // 13 by 7 pixels: rows of 39 bytes, padded to 40 in the bitmap and not at all in the TGA. A
  // row misread by one byte turns this colour into another.
  const TRgb colour = {200, 60, 10};
  const std::string bmp = Folder.Write("odd.bmp", MakeBmp(13, 7, {}, Flat(colour)));
  const std::string tga = Folder.Write("odd.tga", MakeTga(13, 7, {}, Flat(colour)));
  for (const std::string& path : {bmp, tga}) {
    SCOPED_TRACE(path);
    const uint32_t id = Load(path);
    EXPECT_EQ(Integer(GL_UNPACK_ALIGNMENT), 4) << "the default is back";
    int width = 0, height = 0;
    const std::vector<uint8_t> texels = Texels(id, width, height);
    ASSERT_GT(width * height, 0);
    for (int i = 0; i < width * height; ++i)
      ASSERT_EQ((TRgb{texels[i * 4], texels[i * 4 + 1], texels[i * 4 + 2]}), colour) << i;
  }
}

TEST_F(TexturesTest, TgaAndTopDownBitmapArriveBottomRowFirst) {
  const TPattern halves = [](uint32_t, uint32_t y) {
    return y < 4 ? TRgb{250, 0, 0} : TRgb{0, 0, 250};
  };
  TTgaOptions topLeft;
  topLeft.descriptor = 0x20;
  for (const std::string& path : {Folder.Write("t.tga", MakeTga(16, 8, {}, halves)),
                                  Folder.Write("tl.tga", MakeTga(16, 8, topLeft, halves)),
                                  Folder.Write("td.bmp", MakeBmp(16, -8, {}, halves))}) {
    SCOPED_TRACE(path);
    int width = 0, height = 0;
    const std::vector<uint8_t> texels = Texels(Load(path), width, height);
    ASSERT_EQ(width, 16);
    ASSERT_EQ(height, 8);
    EXPECT_EQ(texels[2], 250) << "bottom row blue";
    EXPECT_EQ(texels[(7 * 16) * 4], 250) << "top row red";
  }
}

TEST_F(TexturesTest, JpegArrivesUprightWithOpaqueAlpha) {
  const uint32_t id = Load(Folder.Write(
      "q.jpg", MakeJpeg(32, 32, TJpegKind::Colour, false,
                        [](uint32_t x, uint32_t y) { return Quadrants(x, y, 32, 32); })));
  GLint format = 0;
  glBindTexture(GL_TEXTURE_2D, id);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
  EXPECT_EQ(format, GL_RGBA);
  int width = 0, height = 0;
  const std::vector<uint8_t> texels = Texels(id, width, height);
  ASSERT_EQ(width, 32);
  for (int i = 0; i < width * height; ++i) ASSERT_EQ(texels[i * 4 + 3], 255) << i;
  // Texel row 31 is the image's top row: red on the left, green on the right.
  const uint8_t* top = &texels[(31 * 32 + 4) * 4];
  EXPECT_GT(top[0], 200);
  EXPECT_LT(top[1], 60);
  const uint8_t* bottomRight = &texels[(0 * 32 + 28) * 4];
  EXPECT_GT(bottomRight[0], 200);
  EXPECT_GT(bottomRight[1], 200);
  EXPECT_LT(bottomRight[2], 80);
}

TEST_F(TexturesTest, EveryRefusalShowsOneBoxWithTheTableText) {
  const std::vector<uint8_t> bmp = MakeBmp(13, 7);
  const std::vector<uint8_t> tga = MakeTga(13, 7);

  // Files that are not there: each loader's own words.
  Refused(Folder.File("none.bmp"), "Error opening " + Folder.File("none.bmp"), "BMP Unit");
  Refused(Folder.File("none.jpg"), "Couldn't load JPG - \"" + Folder.File("none.jpg") + "\"",
          "BMP Unit");
  Refused(Folder.File("none.tga"), "File not found  - " + Folder.File("none.tga"), "TGA Texture");

  // Bitmaps.
  TBmpOptions options;
  options.colorsUsed = 2;
  std::vector<uint8_t> palette = MakeBmp(1, 1, options);
  PutU32(palette, 46, 1000);
  Refused(Folder.Write("pal.bmp", palette), "Error reading palette", "BMP Unit");
  Refused(Folder.Write("short.bmp", std::vector<uint8_t>(bmp.begin(), bmp.end() - 1)),
          "Error reading bitmap data", "BMP Unit");
  Refused(Folder.Write("head.bmp", std::vector<uint8_t>(bmp.begin(), bmp.begin() + 30)),
          "Error reading bitmap header", "BMP Unit");
  std::vector<uint8_t> eight = bmp;
  PutU16(eight, 28, 8);
  Refused(Folder.Write("eight.bmp", eight), "Only 24 bit bitmaps supported", "BMP Unit");

  // TGA files.
  const auto quoted = [this](const std::string& name) { return "\"" + Folder.File(name) + "\""; };
  TTgaOptions deep;
  deep.depth = 32;
  Refused(Folder.Write("32.tga", MakeTga(13, 7, deep)),
          "Couldn't load " + quoted("32.tga") + ". Only 24 bit TGA files supported.",
          "TGA File Error");
  std::vector<uint8_t> rle = tga;
  rle[2] = 10;
  Refused(Folder.Write("rle.tga", rle),
          "Couldn't load " + quoted("rle.tga") + ". Compressed TGA files not supported.",
          "TGA File Error");
  std::vector<uint8_t> mapped = tga;
  mapped[1] = 1;
  Refused(Folder.Write("map.tga", mapped),
          "Couldn't load " + quoted("map.tga") + ". Colormapped TGA files not supported.",
          "TGA File Error");
  mapped[2] = 1;
  Refused(Folder.Write("map1.tga", mapped),
          "Couldn't load " + quoted("map1.tga") + ". Compressed TGA files not supported.",
          "TGA File Error");
  Refused(Folder.Write("cut.tga", std::vector<uint8_t>(tga.begin(), tga.end() - 1)),
          "Couldn't read file " + quoted("cut.tga") + ".", "TGA File Error");

  // A damaged JPEG.
  std::vector<uint8_t> jpeg = MakeJpeg(16, 16, TJpegKind::Colour, false, Flat({1, 2, 3}));
  jpeg.resize(20);  // the start of the file and nothing after its first marker
  Refused(Folder.Write("bad.jpg", jpeg), "Couldn't load JPG - " + quoted("bad.jpg"), "BMP Unit");
}

TEST_F(TexturesTest, DamagedPngsShowOneBoxWithTheReasonDamagedExtrasNone) {
  const TRgbaPattern pattern = [](uint32_t x, uint32_t y) {
    return TRgba{uint8_t(x * 20), uint8_t(y * 20), 90, uint8_t(x * 30)};
  };
  const std::vector<uint8_t> png = MakePng(8, 8, true, pattern);
  const auto refused = [this](const std::string& name, const std::vector<uint8_t>& bytes,
                              const std::string& reason) {
    const std::string path = Folder.Write(name, bytes);
    Refused(path, "Couldn't load PNG - \"" + path + "\": " + reason, "PNG File Error");
  };
  refused("none.png", {}, "the file ends too early");
  Refused(Folder.File("gone.png"),
          "Couldn't load PNG - \"" + Folder.File("gone.png") + "\": the file cannot be opened",
          "PNG File Error");
  refused("bitmap.png", MakeBmp(8, 8), "Not a PNG file");
  refused("cut.png", std::vector<uint8_t>(png.begin(), png.end() - 20), "the file ends too early");
  std::vector<uint8_t> header = png;
  header[20] ^= 1;  // the header's CRC no longer matches
  refused("crc.png", header, "IHDR: CRC error");
  // Sides the upload cannot take, and more pixels than the readers decode: refused before any
  // memory is asked for.
  const auto big = [](uint32_t width, uint32_t height) {
    std::vector<uint8_t> body = {0, 0, 0, 0, 0, 0, 0, 0, 8, 6, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
      body[i] = uint8_t(width >> (24 - 8 * i));
      body[4 + i] = uint8_t(height >> (24 - 8 * i));
    }
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const std::vector<uint8_t>& chunk :
         {PngChunk("IHDR", body), PngChunk("IDAT", {0x78, 0x9C}), PngChunk("IEND", {})})
      file.insert(file.end(), chunk.begin(), chunk.end());
    return file;
  };
  refused("wide.png", big(65536, 8), "an image of 65536 by 8 pixels is too large");
  refused("big.png", big(8193, 8192), "an image of 8193 by 8192 pixels is too large");

  // Damaged or misplaced extras: an ancillary chunk with a wrong CRC, a tRNS chunk where the
  // image has an alpha channel, a colour profile that is not one, and bytes after the end.
  std::vector<uint8_t> text = PngChunk("tEXt", {'a', 0, 'b'});
  text.back() ^= 1;
  const std::vector<uint8_t> trns = PngChunk("tRNS", {0, 1, 0, 2, 0, 3});
  const std::vector<uint8_t> iccp = PngChunk("iCCP", {'p', 0, 0, 1, 2, 3});
  std::vector<uint8_t> extras(text);
  extras.insert(extras.end(), trns.begin(), trns.end());
  extras.insert(extras.end(), iccp.begin(), iccp.end());
  std::vector<uint8_t> damaged = MakePng(8, 8, true, pattern, extras);
  damaged.insert(damaged.end(), {'j', 'u', 'n', 'k'});
  Recorder.Boxes.clear();
  EXPECT_NE(Load(Folder.Write("extras.png", damaged)), 0u);
}

// The program builds the mipmaps of an image that needs no scaling in the image's own buffer; GLU
// builds them for every other. Each level must come out as GLU's would, whatever the row padding
// and however the sides reach 1 (but for an RGB image one pixel wide, whose levels GLU itself
// shifts by a byte a row).
TEST_F(TexturesTest, MipmapsMadeInPlaceEqualGlusLevelByLevel) {
  for (const auto& [width, height, rgba, alignment] :
       std::vector<std::tuple<uint32_t, uint32_t, bool, int>>{{16, 4, false, 4},
                                                              {2, 8, false, 1},
                                                              {8, 1, false, 1},
                                                              {2, 16, true, 4},
                                                              {32, 32, true, 4}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    TImage image;
    image.Width = width;
    image.Height = height;
    image.Format = rgba ? TPixelFormat::RGBA : TPixelFormat::RGB;
    image.RowAlignment = alignment;
    image.Pixels.resize(image.RowStride() * height);
    for (size_t i = 0; i < image.Pixels.size(); ++i) image.Pixels[i] = uint8_t(i * 37 + i / 7);
    GLuint glus = 0;
    glGenTextures(1, &glus);
    glBindTexture(GL_TEXTURE_2D, glus);
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    gluBuild2DMipmaps(GL_TEXTURE_2D, rgba ? GL_RGBA : 3, GLsizei(width), GLsizei(height),
                      rgba ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, image.Pixels.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    const uint32_t ours = UploadImage(image);
    for (int level = 0;; ++level) {
      SCOPED_TRACE(level);
      GLint w = 0, h = 0;
      glBindTexture(GL_TEXTURE_2D, glus);
      glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
      glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
      GLint ourWidth = 0;
      glBindTexture(GL_TEXTURE_2D, ours);
      glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &ourWidth);
      ASSERT_EQ(ourWidth, w);
      if (w == 0) break;
      std::vector<uint8_t> expected(size_t(w) * h * 4), got(expected.size());
      glPixelStorei(GL_PACK_ALIGNMENT, 1);
      glBindTexture(GL_TEXTURE_2D, glus);
      glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, expected.data());
      glBindTexture(GL_TEXTURE_2D, ours);
      glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, got.data());
      glPixelStorei(GL_PACK_ALIGNMENT, 4);
      EXPECT_EQ(got, expected);
      if (got != expected) break;
    }
    EXPECT_EQ(Integer(GL_UNPACK_ALIGNMENT), 4);
    glDeleteTextures(1, &glus);
    const GLuint name = ours;
    glDeleteTextures(1, &name);
  }
}

TEST_F(TexturesTest, EveryTestDataFileLoadsOrShowsExactlyOneBox) {
  namespace fs = std::filesystem;
  const fs::path root = KESTRUNE_TESTDATA_DIR;
  size_t loaded = 0, refused = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::string path = entry.path().string();
    const std::string ext = entry.path().extension().string();
    if (ext != ".bmp" && ext != ".tga" && ext != ".jpg" && ext != ".png") continue;
    SCOPED_TRACE(path);
    Recorder.Boxes.clear();
    uint32_t id = 0;
    bool alpha = false;
    LoadTextureFile(path, path, id, alpha);
    if (id != 0) {
      ++loaded;
      EXPECT_TRUE(Recorder.Boxes.empty());
    } else {
      ++refused;
      ASSERT_EQ(Recorder.Boxes.size(), 1u);
      EXPECT_EQ(Recorder.Boxes[0].second, ext == ".tga"   ? "TGA File Error"
                                          : ext == ".png" ? "PNG File Error"
                                                          : "BMP Unit");
    }
  }
  // Which files load, and with which colours, the reader tests check without a display. Every
  // PNG of the suite loads.
  EXPECT_EQ(loaded, 17u + 51u);
  EXPECT_GT(refused, 50u);
}
