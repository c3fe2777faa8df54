// The screen on a real window: where pictures land, read back from the frame, and the texture
// table.

#include <gtest/gtest.h>

#include <cstdlib>

#include "ScreenSupport.h"
#include "TestImages.h"
#include "bind/GLBind.h"
#include "platform/OutputQueue.h"
#include "render/Graph_un.h"

using namespace GLBind;

namespace {

const TRgb Black = {0, 0, 0};
const TRgb White = {255, 255, 255};
const TFloatRect WholeArea = {0, 0, 800, 600};
const TFloatRect WholeImage = {0, 0, 1, 1};

class GraphTest : public ScreenTest {
 protected:
  // A 64 by 64 bitmap of four flat quadrants: a power of two, so it is uploaded unscaled.
  int32_t AddQuadrants(const std::string& name = "quadrants.bmp") {
    const std::string path = Folder.Write(
        name, MakeBmp(64, 64, {}, [](uint32_t x, uint32_t y) { return Quadrants(x, y, 64, 64); }));
    return Screen->AddTexture(path, 64, 64);
  }

  void Draw(int32_t index, const TFloatRect& dest, const TFloatRect& source = WholeImage) {
    const TGLTexture* texture = Screen->GetTexture(index);
    ASSERT_NE(texture, nullptr);
    Screen->DrawPicture(*texture, dest, source);
  }

  // The colour drawn at logical point (x, y), read from the frame not yet presented.
  TRgb At(float x, float y) {
    glFinish();
    const int px = int(x * Screen->ClientWidth / LogicalScreenWidth);
    const int py =
        int(Screen->ClientHeight) - 1 - int(y * Screen->ClientHeight / LogicalScreenHeight);
    uint8_t pixel[4] = {};
    glReadPixels(px, py, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    return {pixel[0], pixel[1], pixel[2]};
  }

  void ExpectQuadrantsAcross(const TFloatRect& area) {
    const float xs[2] = {area.Left + area.Width / 4, area.Left + area.Width * 3 / 4};
    const float ys[2] = {area.Top + area.Height / 4, area.Top + area.Height * 3 / 4};
    for (int q = 0; q < 4; ++q)
      EXPECT_EQ(At(xs[q % 2], ys[q / 2]), QuadrantColours[q]) << "quadrant " << q;
  }
};

}  // namespace

TEST_F(GraphTest, WholeAreaShowsTheWholeImageUpright) {
  const int32_t index = AddQuadrants();
  Screen->BeginFrame();
  Draw(index, WholeArea);
  ExpectQuadrantsAcross(WholeArea);
  // Near the corners too (not at them: the loaders' textures repeat, so linear filtering
  // blends the outermost half texel with the opposite edge).
  EXPECT_EQ(At(8, 8), QuadrantColours[0]);
  EXPECT_EQ(At(792, 592), QuadrantColours[3]);
  Screen->EndFrame();
}

TEST_F(GraphTest, TopZeroHeightHundredFillsTheTopSixth) {
  const int32_t index = AddQuadrants();
  Screen->BeginFrame();
  Draw(index, {0, 0, 800, 100});
  EXPECT_EQ(At(200, 1), QuadrantColours[0]);
  EXPECT_EQ(At(600, 98), QuadrantColours[3]);
  EXPECT_EQ(At(200, 101), Black);
  EXPECT_EQ(At(400, 599), Black);
}

TEST_F(GraphTest, SourceRectangleCutsTheTopLeftQuarter) {
  const int32_t index = AddQuadrants();
  Screen->BeginFrame();
  Draw(index, WholeArea, {0, 0, 0.5f, 0.5f});
  for (auto [x, y] : {std::pair{50.f, 50.f}, {700.f, 50.f}, {50.f, 520.f}, {700.f, 520.f}})
    EXPECT_EQ(At(x, y), QuadrantColours[0]) << x << ", " << y;
  // And the bottom-right quarter, from a source that starts inside the image.
  Screen->BeginFrame();
  Draw(index, WholeArea, {0.5f, 0.5f, 0.5f, 0.5f});
  for (auto [x, y] : {std::pair{100.f, 100.f}, {700.f, 500.f}})
    EXPECT_EQ(At(x, y), QuadrantColours[3]) << x << ", " << y;
}

TEST_F(GraphTest, OneNegativeSideIsCulledBothNegativeTurnHalfRound) {
  const int32_t index = AddQuadrants();
  Screen->BeginFrame();
  Draw(index, {800, 0, -800, 600});
  Draw(index, {0, 600, 800, -600});
  for (auto [x, y] : {std::pair{200.f, 150.f}, {600.f, 450.f}, {400.f, 300.f}})
    EXPECT_EQ(At(x, y), Black) << x << ", " << y;

  Screen->BeginFrame();
  Draw(index, {800, 600, -800, -600});
  // Half a turn: the top-left quadrant lands bottom right.
  EXPECT_EQ(At(600, 450), QuadrantColours[0]);
  EXPECT_EQ(At(200, 450), QuadrantColours[1]);
  EXPECT_EQ(At(600, 150), QuadrantColours[2]);
  EXPECT_EQ(At(200, 150), QuadrantColours[3]);
}

TEST_F(GraphTest, AnEntryWithoutImageDrawsWhite) {
  const int32_t missing = Screen->AddTexture(Folder.File("nowhere.bmp"), 0, 0);
  ASSERT_EQ(Screen->GetTexture(missing)->TextureId, 0u);
  Screen->BeginFrame();
  Draw(missing, {100, 100, 200, 100});
  EXPECT_EQ(At(150, 150), White);
  EXPECT_EQ(At(299, 199), White);
  EXPECT_EQ(At(50, 150), Black);
}

TEST_F(GraphTest, PicturesAfterATextureLoadOrAMissingOneStillDrawRight) {
  // Loading binds the new texture; drawing binds each picture's own.
  const int32_t first = AddQuadrants("a.bmp");
  const int32_t blank = Screen->AddTexture(Folder.File("none.tga"), 0, 0);
  const int32_t second = AddQuadrants("b.bmp");
  Screen->BeginFrame();
  Draw(first, {0, 0, 400, 600});
  Draw(blank, {400, 0, 400, 300});
  EXPECT_EQ(At(100, 150), QuadrantColours[0]);
  EXPECT_EQ(At(600, 150), White);
  Draw(second, {400, 300, 400, 300});
  EXPECT_EQ(At(700, 525), QuadrantColours[3]);
}

TEST_F(GraphTest, ClientAreaAtConstructionStretchesTheLogicalPicture) {
  OpenScreen(1024, 768);
  EXPECT_EQ(Screen->ClientWidth, 1024);
  EXPECT_EQ(Screen->ClientHeight, 768);
  const int32_t index = AddQuadrants();
  Screen->BeginFrame();
  Draw(index, {0, 0, 400, 300});
  // The logical quarter covers 512 by 384 pixels.
  glFinish();
  uint8_t pixel[4];
  glReadPixels(505, 768 - 378, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_EQ((TRgb{pixel[0], pixel[1], pixel[2]}), QuadrantColours[3]);
  glReadPixels(513, 768 - 384, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_EQ((TRgb{pixel[0], pixel[1], pixel[2]}), Black);
  glReadPixels(511, 768 - 386, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_EQ((TRgb{pixel[0], pixel[1], pixel[2]}), Black);
  glReadPixels(6, 761, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_EQ((TRgb{pixel[0], pixel[1], pixel[2]}), QuadrantColours[0]);
}

TEST_F(GraphTest, AClipCutsInDevicePixelsOfAStretchedScreenAndNoClearIsCut) {
  OpenScreen(1024, 768);
  const float red[4] = {1, 0, 0, 1};
  const float white[4] = {1, 1, 1, 1};
  Screen->BeginFrame();
  Screen->DrawFill(WholeArea, white, 1);
  const TFloatRect clip{100, 100, 200, 100};
  Screen->SetClip(&clip);
  // A new frame clears the whole window, whatever the last one was cut to.
  Screen->BeginFrame();
  EXPECT_EQ(At(50, 50), Black);
  EXPECT_EQ(At(700, 500), Black);
  Screen->SetClip(&clip);
  Screen->DrawFill(WholeArea, red, 1);
  const TRgb Red = {255, 0, 0};
  EXPECT_EQ(At(100.5f, 100.5f), Red);
  EXPECT_EQ(At(299, 199), Red);
  EXPECT_EQ(At(301, 150), Black);
  EXPECT_EQ(At(150, 201), Black);
  EXPECT_EQ(At(99, 150), Black);
  Screen->SetClip(nullptr);
  Screen->DrawFill({400, 0, 100, 100}, red, 1);
  EXPECT_EQ(At(450, 50), Red);
}

TEST_F(GraphTest, TextureTableGrowsByOneEntryPerCall) {
  EXPECT_EQ(Screen->GetTexture(0), nullptr);
  EXPECT_EQ(Screen->GetTexture(-1), nullptr);

  const int32_t missing = Screen->AddTexture(Folder.File("missing.bmp"), 3, 4);
  EXPECT_EQ(missing, 0);
  const TGLTexture* entry = Screen->GetTexture(missing);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->FileName, "");
  EXPECT_EQ(entry->TextureId, 0u);
  EXPECT_EQ(entry->Width, 3);
  EXPECT_EQ(entry->Height, 4);

  // Capitals in the name: kept lower-cased, chosen as a bitmap, opened as it is written.
  const std::string upper = Folder.Write("LOGO.BMP", MakeBmp(4, 4));
  const int32_t logo = Screen->AddTexture(upper, 0, 0);
  const int32_t again = Screen->AddTexture(upper, 0, 0);
  EXPECT_EQ(logo, 1);
  EXPECT_EQ(again, 2);
  EXPECT_EQ(Screen->GetTexture(logo)->FileName, AnsiLowerCase(upper));
  EXPECT_NE(Screen->GetTexture(logo)->TextureId, 0u);
  EXPECT_NE(Screen->GetTexture(again)->TextureId, 0u);
  EXPECT_NE(Screen->GetTexture(logo)->TextureId, Screen->GetTexture(again)->TextureId);

  EXPECT_EQ(Screen->GetTexture(3), nullptr);
  EXPECT_EQ(Screen->GetTexture(2), &Screen->TextureTable.back());
  EXPECT_EQ(Screen->TextureTable.size(), 3u);
  EXPECT_TRUE(Recorder.Boxes.empty());
}

TEST_F(GraphTest, ScriptsAddingTexturesWhileALoaderMessageIsOpenLeaveTheTableWhole) {
  // While the box is open, ticks and mouse events still run scripts, which may add textures
  // and move the table under the loader's feet.
  const std::string good = Folder.Write("good.bmp", MakeBmp(4, 4));
  const std::string bad = Folder.Write("bad.bmp", std::vector<uint8_t>(10, 0));
  Recorder.OnBox = [&] {
    Recorder.OnBox = nullptr;
    for (int i = 0; i < 100; ++i) Screen->AddTexture(good, float(i), 0);
  };
  const int32_t index = Screen->AddTexture(bad, 7, 8);
  ASSERT_EQ(Recorder.Boxes.size(), 1u);
  EXPECT_EQ(Recorder.Boxes[0].first, "Error reading bitmap header");
  ASSERT_EQ(Screen->TextureTable.size(), 101u);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(Screen->GetTexture(0)->TextureId, 0u);
  EXPECT_EQ(Screen->GetTexture(0)->Width, 7);
  EXPECT_EQ(Screen->GetTexture(0)->FileName, AnsiLowerCase(bad));
  for (int i = 1; i <= 100; ++i) {
    EXPECT_NE(Screen->GetTexture(i)->TextureId, 0u);
    EXPECT_EQ(Screen->GetTexture(i)->Width, float(i - 1));
  }
}

TEST_F(GraphTest, ScreensComeAndGoOneAfterAnother) {
  // Each destruction gives back its context; the next screen draws as the first did.
  for (int round = 0; round < 3; ++round) {
    OpenScreen(800, 600);
    const int32_t index = AddQuadrants();
    Screen->BeginFrame();
    Draw(index, WholeArea);
    EXPECT_EQ(At(200, 150), QuadrantColours[0]);
    Screen->EndFrame();
  }
}

TEST_F(GraphTest, AlphaPictureBlendsOverItsParentWithoutFringes) {
  // The parent: a flat colour over the whole area. The child: 60 by 60 (GLU rescales it to 64),
  // its left half blue at half alpha, its right half fully transparent over a yellow that must
  // never show, drawn four times its size so that filtering mixes the two halves.
  const TRgb parentColour = {200, 40, 40};
  const int32_t parent = Screen->AddTexture(
      Folder.Write("parent.bmp",
                   MakeBmp(8, 8, {}, [&](uint32_t, uint32_t) { return parentColour; })),
      8, 8);
  const int32_t child = Screen->AddTexture(
      Folder.Write("child.png",
                   MakePng(60, 60, true,
                           [](uint32_t x, uint32_t) {
                             return x < 30 ? TRgba{0, 0, 255, 128} : TRgba{255, 255, 0, 0};
                           })),
      60, 60);
  ASSERT_TRUE(Screen->GetTexture(child)->HasAlpha);
  ASSERT_FALSE(Screen->GetTexture(parent)->HasAlpha);

  Screen->BeginFrame();
  Draw(parent, WholeArea);
  const TFloatRect dest = {100, 100, 240, 240};
  Draw(child, dest);
  // Straight compositing of the file's colours: blue * a + parent * (1 - a), a = 128 / 255.
  const auto withinTwo = [](TRgb seen, TRgb expected) {
    return std::abs(seen.R - expected.R) <= 2 && std::abs(seen.G - expected.G) <= 2 &&
           std::abs(seen.B - expected.B) <= 2;
  };
  const TRgb blended = {100, 20, 148};
  for (float x : {100.f, 160.f, 210.f}) {
    const TRgb seen = At(x, 220);
    EXPECT_TRUE(withinTwo(seen, blended)) << x << ": " << seen;
  }
  // The first column too: the texture clamps, so its transparent right edge does not wrap round.
  EXPECT_TRUE(withinTwo(At(100, 100), blended)) << At(100, 100);
  EXPECT_EQ(At(300, 220), parentColour);
  EXPECT_EQ(At(339, 339), parentColour);
  // Across the border, the transparent texels add nothing of their colour.
  for (float x = 200; x < 260; x += 1) {
    const TRgb seen = At(x, 220);
    EXPECT_LE(seen.R, parentColour.R + 1) << x;
    EXPECT_LE(seen.G, parentColour.G + 1) << x;
  }
  Screen->EndFrame();
}

TEST_F(GraphTest, TexturesPastTheMemoryBudgetAreRefusedUntilTheTableIsCleared) {
  // A few KB of file for 4 MiB of pixels; its texture takes 16/3 MiB with the mipmaps.
  const std::string bomb = Folder.Write("bomb.png", MakeFlatPng(1024, 1024, true, {9, 9, 9, 255}));
  Screen->TextureMemory.Budget = uint64_t(12) << 20;
  EXPECT_EQ(Screen->AddTexture(bomb, 0, 0), 0);
  EXPECT_EQ(Screen->AddTexture(bomb, 0, 0), 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Screen->AddTexture(bomb, 0, 0), 2);
  outputqueue::FlushLines(10000);  // written by the output thread
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("the texture memory budget of 12.0 MiB"), std::string::npos) << said;
  EXPECT_NE(Screen->GetTexture(0)->TextureId, 0u);
  EXPECT_NE(Screen->GetTexture(1)->TextureId, 0u);
  EXPECT_EQ(Screen->GetTexture(2)->TextureId, 0u);
  ASSERT_EQ(Recorder.Boxes.size(), 1u);
  EXPECT_EQ(Recorder.Boxes[0].second, "PNG File Error");
  EXPECT_NE(Recorder.Boxes[0].first.find("its texture needs 5.3 MiB"), std::string::npos)
      << Recorder.Boxes[0].first;

  // A scene that starts again has its whole budget.
  Screen->ClearTextures();
  EXPECT_EQ(Screen->AddTexture(bomb, 0, 0), 0);
  EXPECT_NE(Screen->GetTexture(0)->TextureId, 0u);
}
