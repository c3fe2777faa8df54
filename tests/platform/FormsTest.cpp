// The form framework against a real X server: window properties as tools see them, a real
// pointer, timers and the application object.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "PrivateXServer.h"
#include "platform/Platform.h"

namespace {

struct MouseRecord {
  bool press;
  TMouseButton button;
  int x, y;
  bool operator==(const MouseRecord& other) const {
    return press == other.press && button == other.button && x == other.x && y == other.y;
  }
};

std::ostream& operator<<(std::ostream& out, const MouseRecord& r) {
  return out << (r.press ? "press " : "release ") << r.button << " (" << r.x << "," << r.y << ")";
}

class FormsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testx::StartPrivateServer(); }
  void SetUp() override {
    if (!testx::HaveDisplay()) GTEST_SKIP() << "no X server";
    ASSERT_TRUE(Application->Initialize());
    SetMessageBoxHook([this](const std::string& text, const std::string& caption) {
      boxes.push_back(caption + ": " + text);
      return IDOK;
    });
  }
  void TearDown() override {
    SetMessageBoxHook(nullptr);
    Application->DestroyForms();
  }

  // Shows the form and returns its X window id, found by its caption as a user's tool would.
  std::string ShowAndFind(TForm& form, const std::string& caption) {
    form.SetCaption(caption);
    form.Show();
    std::string id = testx::RunWhilePumping("timeout 5 xdotool search --sync --name '^" + caption +
                                            "$' | head -n 1");
    testx::PumpUntil([&] { return form.Visible(); });
    return id;
  }

  std::vector<std::string> boxes;
};

// Value of "Label: value" in xwininfo's report.
int Field(const std::string& report, const std::string& label) {
  size_t at = report.find(label + ":");
  if (at == std::string::npos) return -99999;
  return std::stoi(report.substr(at + label.size() + 1));
}

TEST_F(FormsTest, WindowHasFixedClientSizeCentredPositionAndReadableCaption) {
  TForm form;
  std::string id = ShowAndFind(form, "Kestrune window test");
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(testx::Run("xdotool getwindowname " + id), "Kestrune window test");

  std::string info = testx::Run("xwininfo -id " + id);
  EXPECT_EQ(Field(info, "Width"), 800);
  EXPECT_EQ(Field(info, "Height"), 600);
  EXPECT_EQ(Field(info, "Absolute upper-left X"), (1280 - 800) / 2);
  EXPECT_EQ(Field(info, "Absolute upper-left Y"), (1024 - 600) / 2);

  std::string hints = testx::Run("xprop -id " + id + " WM_NORMAL_HINTS");
  EXPECT_NE(hints.find("minimum size: 800 by 600"), std::string::npos) << hints;
  EXPECT_NE(hints.find("maximum size: 800 by 600"), std::string::npos) << hints;
  std::string props = testx::Run("xprop -id " + id + " WM_CLASS _NET_WM_PID WM_PROTOCOLS");
  EXPECT_NE(props.find("\"kestrune\""), std::string::npos) << props;
  EXPECT_NE(props.find("_NET_WM_PID(CARDINAL) = " + std::to_string(getpid())), std::string::npos)
      << props;
  EXPECT_NE(props.find("WM_DELETE_WINDOW"), std::string::npos) << props;

  // A caption set while shown, with letters beyond ASCII, reads back unchanged.
  form.SetCaption("Fenêtre ünïcode");
  Application->ProcessMessages();
  EXPECT_EQ(testx::Run("xdotool getwindowname " + id), "Fenêtre ünïcode");
  EXPECT_EQ(form.Caption(), "Fenêtre ünïcode");
}

// A script's print can put any bytes in the caption. Bytes that are no UTF-8 still make a
// caption, and the text property their conversion makes on the way is not left behind (the
// sanitizer build's leak check sees to that).
TEST_F(FormsTest, ACaptionOfBytesThatAreNoUtf8IsSetAndLeaksNothing) {
  TForm form;
  std::string id = ShowAndFind(form, "Kestrune bytes test");
  ASSERT_FALSE(id.empty());
  const std::string bytes = "caf\xE9 \xF2\xFF";
  form.SetCaption(bytes);
  Application->ProcessMessages();
  EXPECT_EQ(form.Caption(), bytes);
  std::string name = testx::Run("xprop -id " + id + " WM_NAME");
  EXPECT_NE(name.find("caf"), std::string::npos) << name;
  // Window managers read the UTF-8 title: bytes without any UTF-8 in them are Latin-1 there,
  // and a character cut short beside whole ones is one U+FFFD.
  EXPECT_EQ(testx::Run("xprop -id " + id + " _NET_WM_NAME"),
            "_NET_WM_NAME(UTF8_STRING) = \"café òÿ\"");
  form.SetCaption("\xC3\xA9t\xE2\x82");
  Application->ProcessMessages();
  EXPECT_EQ(testx::Run("xprop -id " + id + " _NET_WM_NAME"),
            "_NET_WM_NAME(UTF8_STRING) = \"ét\xEF\xBF\xBD\"");
}

TEST_F(FormsTest, RealPointerGivesButtonsAndClientPositions) {
  TForm form;
  std::vector<MouseRecord> events;
  int clicks = 0;
  form.OnMouseDown = [&](TMouseButton b, int x, int y) { events.push_back({true, b, x, y}); };
  form.OnMouseUp = [&](TMouseButton b, int x, int y) { events.push_back({false, b, x, y}); };
  form.OnClick = [&] { ++clicks; };
  std::string id = ShowAndFind(form, "Kestrune pointer test");
  ASSERT_FALSE(id.empty());
  const int left = (1280 - 800) / 2, top = (1024 - 600) / 2;
  auto at = [&](int x, int y) {
    return "xdotool mousemove " + std::to_string(left + x) + " " + std::to_string(top + y);
  };
  auto expectEvents = [&](const std::vector<MouseRecord>& expected, const char* what) {
    testx::PumpUntil([&] { return events.size() >= expected.size(); }, 2000);
    Application->ProcessMessagesFor(50);  // anything extra would arrive by now
    EXPECT_EQ(events, expected) << what;
    events.clear();
  };

  // Right button at (10, 20), with shift held: the modifier changes nothing.
  testx::Run(at(10, 20) + " keydown shift mousedown 3 mouseup 3 keyup shift");
  expectEvents({{true, mbRight, 10, 20}, {false, mbRight, 10, 20}}, "right click");
  EXPECT_EQ(clicks, 0);

  // X button 2 is the middle button; 8 and 9 are "other"; the wheel is no button at all.
  testx::Run(at(30, 40) + " click 2 click 8 click 4 click 5 click 9");
  expectEvents({{true, mbMiddle, 30, 40},
                {false, mbMiddle, 30, 40},
                {true, mbOther, 30, 40},
                {false, mbOther, 30, 40},
                {true, mbOther, 30, 40},
                {false, mbOther, 30, 40}},
               "middle, other, wheel");

  // A left click inside is a click.
  testx::Run(at(799, 599) + " click 1");
  expectEvents({{true, mbLeft, 799, 599}, {false, mbLeft, 799, 599}}, "left click");
  EXPECT_EQ(clicks, 1);

  // A left release outside still arrives, with outside (here negative) coordinates, no click.
  testx::Run(at(100, 100) + " mousedown 1 mousemove 20 30 mouseup 1");
  expectEvents({{true, mbLeft, 100, 100}, {false, mbLeft, 20 - left, 30 - top}},
               "left release outside");
  EXPECT_EQ(clicks, 1);

  // Right and middle releases outside are dropped.
  testx::Run(at(200, 200) + " mousedown 3 mousemove 1200 1000 mouseup 3");
  testx::Run(at(201, 201) + " mousedown 2 " + at(900, 300) + " mouseup 2");
  expectEvents({{true, mbRight, 200, 200}, {true, mbMiddle, 201, 201}}, "releases outside");
}

// A scene at 1.5 device pixels per unit, 20 pixels in from the client area's corner: the handlers
// hear unrounded units from the scene's corner, and the bars around it are outside the window
// but for the left button's release.
TEST_F(FormsTest, PointerPositionsAreTheScenesUnitsAndItsBarsAreOutside) {
  TForm form;
  form.ClientWidth = 1240;
  form.ClientHeight = 940;
  form.SceneArea.Left = 20;
  form.SceneArea.Top = 20;
  form.SceneArea.Width = 1200;
  form.SceneArea.Height = 900;
  form.SceneArea.LogicalWidth = 800;
  form.SceneArea.LogicalHeight = 600;
  std::vector<std::string> events;
  auto record = [&](const char* what, float x, float y) {
    std::ostringstream text;
    text << what << " " << x << " " << y;
    events.push_back(text.str());
  };
  form.OnMouseDown = [&](TMouseButton, float x, float y) { record("press", x, y); };
  form.OnMouseUp = [&](TMouseButton, float x, float y) { record("release", x, y); };
  form.OnMouseMove = [&](float x, float y) { record("move", x, y); };
  form.OnMouseLeave = [&] { events.push_back("leave"); };
  form.OnMouseWheel = [&](TWheelDirection, float x, float y) { record("wheel", x, y); };
  // The pointer waits outside the window, so that only the moves below are heard.
  testx::Run("xdotool mousemove 0 0");
  std::string id = ShowAndFind(form, "Kestrune scene area test");
  ASSERT_FALSE(id.empty());
  const int left = (1280 - 1240) / 2, top = (1024 - 940) / 2;
  auto to = [&](int x, int y) {
    return "mousemove " + std::to_string(left + x) + " " + std::to_string(top + y);
  };
  auto at = [&](int x, int y) { return "xdotool " + to(x, y); };
  auto expectEvents = [&](const std::vector<std::string>& expected, const char* what) {
    testx::PumpUntil([&] { return events.size() >= expected.size(); }, 2000);
    Application->ProcessMessagesFor(50);  // anything extra would arrive by now
    EXPECT_EQ(events, expected) << what;
    events.clear();
  };

  testx::Run(at(321, 320) + " click 3");
  expectEvents({"move 200.667 200", "press 200.667 200", "release 200.667 200"}, "fractional");
  float x = 0, y = 0;
  ASSERT_TRUE(form.PointerPosition(&x, &y));
  EXPECT_FLOAT_EQ(x, 301.0f / 1.5f);
  EXPECT_EQ(y, 200);

  // The scene's last pixels, then the bar beside them: the pointer leaves, and a press or a
  // wheel notch there is nobody's.
  testx::Run(at(1219, 919));
  expectEvents({"move 799.333 599.333"}, "the last pixel");
  testx::Run(at(1225, 925) + " click 1 click 4");
  expectEvents({"leave"}, "onto the bar");

  // A left drag from the scene onto the bar follows the pointer there and releases.
  testx::Run(at(20, 20) + " mousedown 1 " + to(5, 2) + " mouseup 1");
  expectEvents({"move 0 0", "press 0 0", "move -10 -12", "release -10 -12", "leave"},
               "left drag onto the bar");
}

// Keysyms whose characters the X library turns into no UTF-8, or into characters that are no
// text: a surrogate, one past the 21 bits of UTF-8's four bytes, one past U+10FFFF, a C1 control,
// and the Unicode keysym of é, which the library writes as the one Latin-1 byte E9. A "z" last
// says that everything before it has arrived.
TEST_F(FormsTest, OddKeysymsTypeOnlyValidTextAndAreNamedUnknown) {
  TForm form;
  std::vector<std::string> keys, texts;
  form.OnKeyDown = [&](const std::string& key, bool) { keys.push_back(key); };
  form.OnTextInput = [&](const std::string& text) { texts.push_back(text); };
  std::string id = ShowAndFind(form, "Kestrune keysym test");
  ASSERT_FALSE(id.empty());
  testx::RunWhilePumping("xdotool windowfocus --sync " + id);
  testx::RunWhilePumping("xdotool key 0x100d800 0x1200000 0x1110000 0x1000085 0x10000e9 z");
  ASSERT_TRUE(testx::PumpUntil([&] { return !texts.empty() && texts.back() == "z"; }, 5000));
  EXPECT_EQ(keys, (std::vector<std::string>{"unknown", "unknown", "unknown", "unknown", "\xC3\xA9",
                                            "z"}));
  EXPECT_EQ(texts, (std::vector<std::string>{"\xC3\xA9", "z"}));
}

TEST_F(FormsTest, TimerTicksWithoutBurstsAfterStalls) {
  TForm form;
  TTimer timer(&form);
  timer.Interval = 55;
  int ticks = 0;
  bool stallOnce = false;
  timer.OnTimer = [&] {
    ++ticks;
    if (stallOnce) {
      stallOnce = false;
      usleep(300 * 1000);
    }
  };
  EXPECT_FALSE(timer.Enabled());
  timer.SetEnabled(true);
  Application->ProcessMessagesFor(550);
  // Ticks never come faster than the interval; the lower bound only says they do come.
  EXPECT_LE(ticks, 11);
  EXPECT_GE(ticks, 2);

  // A handler that runs long: afterwards at most one catch-up tick, then the normal pace.
  stallOnce = true;
  ASSERT_TRUE(testx::PumpUntil([&] { return !stallOnce; }));
  ticks = 0;
  Application->ProcessMessagesFor(100);
  EXPECT_LE(ticks, 3);

  // A loop that was busy elsewhere for 300 ms: no burst either.
  usleep(300 * 1000);
  ticks = 0;
  Application->ProcessMessagesFor(100);
  EXPECT_LE(ticks, 3);
  EXPECT_GE(ticks, 1) << "the overdue tick comes as soon as the loop is idle";

  timer.SetEnabled(false);
  ticks = 0;
  Application->ProcessMessagesFor(120);
  EXPECT_EQ(ticks, 0);
}

TEST_F(FormsTest, TicksContinueWhileTheWindowIsUnmapped) {
  TForm form;
  TTimer timer(&form);
  timer.Interval = 20;
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  timer.SetEnabled(true);
  std::string id = ShowAndFind(form, "Kestrune unmapped test");
  ASSERT_FALSE(id.empty());
  testx::Run("xdotool windowunmap " + id);
  ASSERT_TRUE(testx::PumpUntil([&] { return !form.Visible(); }));
  ticks = 0;
  EXPECT_TRUE(testx::PumpUntil([&] { return ticks >= 3; }));
}

TEST_F(FormsTest, ExceptionsInHandlersAreShownAndTheLoopGoesOn) {
  TForm form;
  TTimer timer(&form);
  timer.Interval = 10;
  int ticks = 0;
  timer.OnTimer = [&] {
    ++ticks;
    if (ticks == 1) throw std::runtime_error("tick failed");
  };
  timer.SetEnabled(true);
  ASSERT_TRUE(testx::PumpUntil([&] { return ticks >= 3; }));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find(": tick failed"), std::string::npos) << boxes[0];

  Application->SafeCall([] { throw 42; });
  EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(FormsTest, ATickDoesNotReenterItsOwnHandler) {
  TForm form;
  TTimer slow(&form), other(&form);
  slow.Interval = other.Interval = 10;
  int depth = 0, deepest = 0, slowTicks = 0, otherTicks = 0;
  slow.OnTimer = [&] {
    ++slowTicks;
    ++depth;
    deepest = std::max(deepest, depth);
    // Like a handler that shows a message box: the loop runs inside it.
    if (slowTicks == 1) Application->ProcessMessagesFor(120);
    --depth;
  };
  other.OnTimer = [&] { ++otherTicks; };
  slow.SetEnabled(true);
  other.SetEnabled(true);
  ASSERT_TRUE(testx::PumpUntil([&] { return slowTicks >= 2; }));
  EXPECT_EQ(deepest, 1);
  EXPECT_GE(otherTicks, 2) << "other timers keep ticking meanwhile";
}

class TestForm : public TForm {
 public:
  TTimer Timer{this};
};

// OnCreate runs inside CreateForm, so the failing handler is set by the constructor.
struct FailingForm : TestForm {
  FailingForm() {
    OnCreate = [] { throw std::runtime_error("creation failed"); };
  }
};

TEST_F(FormsTest, CreateFormSurvivesFailingCreationAndDestroysMainFormLast) {
  TestForm* main = nullptr;
  FailingForm* failing = nullptr;
  TestForm* second = nullptr;
  Application->CreateForm(&main);
  Application->CreateForm(&failing);
  Application->CreateForm(&second);
  EXPECT_EQ(Application->MainForm(), main);
  ASSERT_NE(failing, nullptr) << "the form exists although its creation failed";
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("creation failed"), std::string::npos);

  std::vector<std::string> order;
  bool mainDestroyed = false;
  int ticksAfterDestroy = 0;
  main->Timer.Interval = 5;
  main->Timer.OnTimer = [&] {
    if (mainDestroyed) ++ticksAfterDestroy;
  };
  main->Timer.SetEnabled(true);
  // Nested loops during destruction (as a message box runs) must not tick destroyed forms.
  main->OnDestroy = [&] {
    order.push_back("main");
    mainDestroyed = true;
    Application->ProcessMessagesFor(30);
  };
  failing->OnDestroy = [&] { order.push_back("failing"); };
  second->OnDestroy = [&] { order.push_back("second"); };
  Application->DestroyForms();
  EXPECT_EQ(order, (std::vector<std::string>{"second", "failing", "main"}));
  EXPECT_EQ(ticksAfterDestroy, 0);
  EXPECT_EQ(Application->MainForm(), nullptr);
}

TEST_F(FormsTest, RunEndsWhenTheWindowIsDestroyedFromOutside) {
  struct Closing : TForm {
    TTimer Timer{this};
  };
  Closing* main = nullptr;
  Application->CreateForm(&main);
  main->SetCaption("Kestrune closing test");
  HDC dc = GetDC(main->Handle());
  PIXELFORMATDESCRIPTOR pfd{};
  pfd.nSize = sizeof pfd;
  pfd.nVersion = 1;
  pfd.dwFlags = PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW | PFD_DOUBLEBUFFER;
  pfd.cColorBits = 32;
  pfd.cDepthBits = 32;
  ASSERT_TRUE(SetPixelFormat(dc, ChoosePixelFormat(dc, &pfd), &pfd));
  HMODULE gl = LoadLibraryA(GLLibraryName);
  auto create = reinterpret_cast<HGLRC (*)(HDC)>(GetProcAddress(gl, "wglCreateContext"));
  auto makeCurrent = reinterpret_cast<BOOL (*)(HDC, HGLRC)>(GetProcAddress(gl, "wglMakeCurrent"));
  auto remove = reinterpret_cast<BOOL (*)(HGLRC)>(GetProcAddress(gl, "wglDeleteContext"));
  HGLRC rc = create(dc);
  ASSERT_TRUE(makeCurrent(dc, rc));
  int frames = 0;
  main->Timer.Interval = 20;
  main->Timer.OnTimer = [&] {
    ++frames;
    SwapBuffers(dc);
  };
  main->Timer.SetEnabled(true);
  // Closed from outside as soon as it shows; Run must come back on its own.
  std::thread closer([] {
    testx::Run("timeout 5 xdotool search --sync --name '^Kestrune closing test$' windowclose");
  });
  Application->Run();
  closer.join();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_GE(frames, 0);
  // Releasing everything of the vanished window is harmless.
  EXPECT_TRUE(makeCurrent(nullptr, nullptr));
  EXPECT_TRUE(remove(rc));
  ReleaseDC(main->Handle(), dc);
  FreeLibrary(gl);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(FormsTest, TheCloseButtonEndsRun) {
  if (testx::Run("command -v python3").empty()) GTEST_SKIP() << "python3 sends the close request";
  TForm* main = nullptr;
  Application->CreateForm(&main);
  main->SetCaption("Kestrune close button test");
  std::thread user([] {
    std::string id =
        testx::Run("timeout 5 xdotool search --sync --name '^Kestrune close button test$'");
    testx::Run("python3 " KESTRUNE_SOURCE_DIR "/tests/platform/send_wm_delete.py " + id);
  });
  // Should the request go unheard, the test ends anyway, and fails.
  bool gaveUp = false;
  TTimer guard(main);
  guard.Interval = 4000;
  guard.OnTimer = [&] {
    gaveUp = true;
    main->Close();
  };
  guard.SetEnabled(true);
  Application->Run();
  user.join();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_FALSE(gaveUp);
}

TEST_F(FormsTest, CloseOnTheMainFormEndsRun) {
  struct Quick : TForm {
    TTimer Timer{this};
  };
  Quick* main = nullptr;
  Application->CreateForm(&main);
  main->Timer.Interval = 30;
  main->Timer.OnTimer = [&] { main->Close(); };
  main->Timer.SetEnabled(true);
  Application->Run();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_TRUE(main->Visible());
}

}  // namespace
