// The scene's scale: the values --scale takes, the scale chosen from the desktop and the work
// area, and the main window's answer when the monitor's scale changes.
#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/Main_un.h"
#include "app/Scale.h"

TEST(ScaleOption, TakesEighthsFromAHalfToFourAndRefusesTheRest) {
  EXPECT_EQ(ParseScale("0.5"), 0.5);
  EXPECT_EQ(ParseScale("1.125"), 1.125);
  EXPECT_EQ(ParseScale("2"), 2);
  EXPECT_EQ(ParseScale("4"), 4);
  for (const char* refused : {"", "0.375", "4.125", "1.1", "1.5x", " 1.5", "-2", "nan", "inf"}) {
    SCOPED_TRACE(refused);
    EXPECT_EQ(ParseScale(refused), 0);
  }
  const TCommandLine apart = ParseCommandLine({"--scale", "1.5", "scene"});
  EXPECT_TRUE(apart.Error.empty()) << apart.Error;
  EXPECT_EQ(apart.Scale, 1.5);
  EXPECT_EQ(apart.Scene, "scene");
  EXPECT_EQ(ParseCommandLine({"--scale=2"}).Scale, 2);
  EXPECT_EQ(ParseCommandLine({"--scale", "3.3"}).Error,
            "kestrune: --scale takes a multiple of 1/8 from 0.5 to 4, not 3.3");
  EXPECT_EQ(ParseCommandLine({"--scale"}).Error, "kestrune: --scale needs a value");
  // After "--" it is a scene's name.
  EXPECT_EQ(ParseCommandLine({"--", "--scale"}).Scene, "--scale");
}

TEST(SceneScale, AskedElseTheDesktopsInEighthsLoweredOnlyToFitAboveOne) {
  // {asked, desktop, work area, chosen}
  struct Case {
    double asked, desktop;
    int width, height;
    double chosen;
  };
  const Case cases[] = {
      {0, 1, 1280, 1024, 1},         // nothing set
      {0, 2, 2048, 1536, 2},         // Xft.dpi 192
      {0, 1.3, 2048, 1536, 1.25},    // 125 DPI rounds to the nearest eighth
      {0, 1.32, 2048, 1536, 1.375},  //
      {0, 0.2, 0, 0, 0.5},           // kept within 0.5 to 4
      {0, 10, 0, 0, 4},              //
      {0, -1, 0, 0, 1},              // nothing usable
      {1.5, 3, 2048, 1536, 1.5},     // the command line speaks first
      {0, 2, 1920, 1050, 1.75},      // 1600 by 1200 would not fit 1050 rows: 1.75 does
      {4, 1, 2048, 1536, 2.5},       // asked, and lowered to the largest fit
      {0, 1, 1024, 570, 1},          // a small screen keeps the window it always had
      {0.75, 1, 500, 400, 0.75},     //
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.asked << " " << c.desktop << " " << c.width);
    EXPECT_EQ(ChooseScale(c.asked, c.desktop, c.width, c.height), c.chosen);
  }
}

TEST(SceneScale, AWindowOfAnotherSizeFitsTheSceneInEighthsByItsNarrowerSide) {
  EXPECT_EQ(FittingScale(2048, 1536), 2.5);
  EXPECT_EQ(FittingScale(1920, 1080), 1.75);  // the height decides
  EXPECT_EQ(FittingScale(1080, 1920), 1.25);  // the width decides
  EXPECT_EQ(FittingScale(1200, 900), 1.5);    // a window of the scene's own size keeps its scale
  EXPECT_EQ(FittingScale(300, 200), 0.5);
  EXPECT_EQ(FittingScale(7680, 4320), 4);
  const TCommandLine both = ParseCommandLine({"--fullscreen", "--hide-cursor"});
  EXPECT_TRUE(both.Error.empty()) << both.Error;
  EXPECT_TRUE(both.FullScreen && both.HideCursor);
}

TEST(SceneScale, TheMainWindowAskedAboutAMonitorsScaleWantsItsClientSizeThereAndChangesNothing) {
  TMain window;
  const double scale = window.Scale;
  const int width = window.ClientWidth, height = window.ClientHeight;
  int wantedWidth = 0, wantedHeight = 0;
  // 1.3 is 1.25 in eighths: 1000 by 750 fits any work area the tests run on.
  ASSERT_TRUE(window.OnDesktopScaleChanged);
  EXPECT_TRUE(window.OnDesktopScaleChanged(1.3, &wantedWidth, &wantedHeight));
  EXPECT_EQ(wantedWidth, 1000);
  EXPECT_EQ(wantedHeight, 750);
  EXPECT_EQ(window.Scale, scale);
  EXPECT_EQ(window.ClientWidth, width);
  EXPECT_EQ(window.ClientHeight, height);
  // A scale from the command line holds on every monitor.
  ScaleAsked = 2;
  wantedWidth = wantedHeight = 0;
  EXPECT_FALSE(window.OnDesktopScaleChanged(1.3, &wantedWidth, &wantedHeight));
  ScaleAsked = 0;
  EXPECT_EQ(wantedWidth, 0);
}
