// The window-and-screen pair that drawing tests and benchmarks open.
#include "WindowScreen.h"

#include <cstdlib>
#include <sstream>

bool TWindowScreen::OpenScreen(int clientWidth, int clientHeight) {
  CloseScreen();
  if (!Application->Initialize()) return false;
  Form = std::make_unique<TForm>();
  Form->ClientWidth = clientWidth;
  Form->ClientHeight = clientHeight;
  Screen = std::make_unique<CGLScreen>(Form->Handle());
  GLScreen = Screen.get();
  return true;
}

void TWindowScreen::ShowWindow() {
  Form->Show();
  Application->ProcessMessages();
}

void TWindowScreen::CloseScreen() {
  if (GLScreen == Screen.get()) GLScreen = nullptr;
  Screen.reset();
  Form.reset();
}

const TRgb SampleFrameFill = {51, 115, 179};

namespace {

std::string TestData(const std::string& name) {
  return std::string(KESTRUNE_TESTDATA_DIR) + "/" + name;
}

}  // namespace

// The JPEG is no power of two, so GLU rescales it; the alpha picture is blended at an opacity,
// and the translucent fill is cut by a clip.
void DrawSampleFrame(CGLScreen& screen) {
  if (screen.TextureTable.empty()) {
    screen.AddTexture(TestData("jpeg/flower.jpg"), 0, 0);
    screen.AddTexture(TestData("pngsuite/basn6a08.png"), 0, 0);
    screen.AddTexture(TestData("tga/200x32_rgb_bl_raw.tga"), 0, 0);
  }
  const TFloatRect whole = {0, 0, 1, 1};
  const float fill[4] = {SampleFrameFill.R / 255.f, SampleFrameFill.G / 255.f,
                         SampleFrameFill.B / 255.f, 1};
  screen.BeginFrame();
  screen.DrawFill({0, 0, 800, 600}, fill, 1);
  screen.DrawPicture(*screen.GetTexture(0), {20.5f, 30.25f, 377.3f, 251.7f}, whole);
  screen.DrawPicture(*screen.GetTexture(1), {300, 180, 320, 320}, whole, 0.7f);
  screen.DrawPicture(*screen.GetTexture(2), {40, 420, 600, 96}, whole);
  screen.DrawPicture(*screen.GetTexture(0), {560, 380, 200, 180}, {0.25f, 0.1f, 0.5f, 0.6f});
  const TFloatRect clip = {100, 100, 500, 300};
  screen.SetClip(&clip);
  const float veil[4] = {1, 0.8f, 0.1f, 0.5f};
  screen.DrawFill({0, 250, 800, 100}, veil, 0.8f);
  screen.SetClip(nullptr);
  screen.EndFrame();
}

std::string FrameDifference(const std::vector<unsigned char>& seen,
                            const std::vector<unsigned char>& expected, int width, int tolerance) {
  if (seen.size() != expected.size()) return "the frames differ in size";
  size_t differing = 0, first = 0;
  for (size_t i = seen.size(); i-- > 0;)
    if (std::abs(int(seen[i]) - int(expected[i])) > tolerance) {
      ++differing;
      first = i;
    }
  if (differing == 0) return "";
  std::ostringstream text;
  text << differing << " bytes differ, the first at pixel (" << first / 3 % width << ", "
       << first / 3 / width << "): " << int(seen[first]) << " for " << int(expected[first]);
  return text.str();
}
