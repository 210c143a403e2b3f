#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "tests/ui/recording_canvas.h"
#include "tests/ui/test_scene.h"
#include "ui/frame_pacing.h"
#include "ui/theme.h"
#include "ui/widgets.h"

namespace {

TEST(WidgetId, IsFnv1aAndNeverZero) {
  EXPECT_EQ(MakeWidgetId(""), 0x811C9DC5u);
  EXPECT_EQ(MakeWidgetId("a"), 0xE40C292Cu);
  EXPECT_EQ(MakeWidgetId("foobar"), 0xBF9CF968u);
  EXPECT_EQ(MakeWidgetId("status.primary"), 0xF97521B3u);
  EXPECT_EQ(MakeWidgetId("3u25abs"), 1u);  // its FNV-1a hash is 0
  EXPECT_NE(MakeWidgetId("settings.close"), MakeWidgetId("settings.close "));
}

// Two buttons on the base layer, one on the overlay layer and one in the title bar, drawn
// frame by frame the way the window does it.
struct Harness {
  Ui ui;
  RecordingCanvas canvas;
  double time = 1.0;
  bool overlay = false;
  bool enabledB = true;
  bool showB = true;
  std::vector<std::string> activated;

  static constexpr RectF kA{10, 100, 110, 140};
  static constexpr RectF kB{200, 100, 300, 140};
  static constexpr RectF kOverlay{400, 300, 500, 340};
  static constexpr RectF kTitle{1054, 0, 1100, 40};

  void Frame() {
    time += 1.0 / 60;
    ui.BeginFrame(time);
    ui.overlayOpen = overlay;
    ui.SetLayer(kLayerBase);
    if (Button(ui, canvas, MakeWidgetId("a"), kA, L"A", ButtonStyle::Primary, true)) activated.push_back("a");
    if (showB && Button(ui, canvas, MakeWidgetId("b"), kB, L"B", ButtonStyle::Outline, enabledB)) {
      activated.push_back("b");
    }
    if (overlay) {
      ui.SetLayer(kLayerOverlay);
      if (Button(ui, canvas, MakeWidgetId("o"), kOverlay, L"O", ButtonStyle::Ghost, true)) activated.push_back("o");
    }
    ui.SetLayer(kLayerAlways);
    if (IconButton(ui, canvas, MakeWidgetId("t"), kTitle, 7, true)) activated.push_back("t");
    ui.EndFrame();
  }
  void MoveTo(const RectF& r) {
    ui.MouseMove((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    Frame();
  }
  void MoveTo(float x, float y) {
    ui.MouseMove(x, y);
    Frame();
  }
  void Press() {
    ui.ButtonDown();
    Frame();
  }
  void Release() {
    ui.ButtonUp();
    Frame();
  }
  void Click(const RectF& r) {
    MoveTo(r);
    Press();
    Release();
  }
};

TEST(WidgetActivation, OnlyOnReleaseOverTheWidgetThatTookThePress) {
  Harness h;
  h.Frame();
  h.MoveTo(Harness::kA);
  h.Press();
  EXPECT_TRUE(h.activated.empty()) << "a press alone activates nothing";
  h.Release();
  EXPECT_EQ(h.activated, std::vector<std::string>{"a"});

  h.activated.clear();
  h.MoveTo(Harness::kA);
  h.Press();
  h.MoveTo(Harness::kB);
  h.Release();
  EXPECT_TRUE(h.activated.empty()) << "pressed on a, released on b";

  h.MoveTo(700, 500);
  h.Press();
  h.MoveTo(Harness::kA);
  h.Release();
  EXPECT_TRUE(h.activated.empty()) << "pressed outside, released on a";

  // Pressed on a, dragged off and back: still a's click.
  h.MoveTo(Harness::kA);
  h.Press();
  h.MoveTo(700, 500);
  h.MoveTo(Harness::kA);
  h.Release();
  EXPECT_EQ(h.activated, std::vector<std::string>{"a"});
  EXPECT_EQ(h.ui.input.active, 0u) << "a release ends the press";
}

TEST(WidgetActivation, DisabledWidgetsNeitherReactNorTakeFocusButStillBlockDragging) {
  Harness h;
  h.enabledB = false;
  h.Click(Harness::kB);
  EXPECT_TRUE(h.activated.empty());
  EXPECT_EQ(h.ui.input.focusOrder.size(), 2u);  // a and the title button
  EXPECT_FALSE(h.ui.IsDragArea(250, 120));
}

TEST(WidgetActivation, ShotsModeIgnoresInput) {
  Harness h;
  h.ui.shotsMode = true;
  h.Click(Harness::kA);
  EXPECT_TRUE(h.activated.empty());
  EXPECT_EQ(h.ui.input.hot, 0u);
  EXPECT_TRUE(h.ui.input.focusOrder.empty());
}

TEST(WidgetKeyboard, TabWalksThePreviousFrameOrderAndWraps) {
  Harness h;
  const WidgetId a = MakeWidgetId("a"), b = MakeWidgetId("b"), t = MakeWidgetId("t");
  h.ui.Tab(false);
  EXPECT_EQ(h.ui.input.focused, 0u) << "no frame drawn yet, nothing to focus";
  h.Frame();
  h.ui.Tab(false);
  EXPECT_EQ(h.ui.input.focused, a);
  EXPECT_TRUE(h.ui.input.focusVisible);
  h.ui.Tab(false);
  EXPECT_EQ(h.ui.input.focused, b);
  h.ui.Tab(false);
  EXPECT_EQ(h.ui.input.focused, t);
  h.ui.Tab(false);
  EXPECT_EQ(h.ui.input.focused, a) << "wraps to the first";
  h.ui.Tab(true);
  EXPECT_EQ(h.ui.input.focused, t) << "Shift+Tab wraps to the last";

  h.ui.input.focused = 0;
  h.ui.Tab(true);
  EXPECT_EQ(h.ui.input.focused, t) << "Shift+Tab from no focus goes to the last";
  h.ui.input.focused = MakeWidgetId("gone");
  h.ui.Tab(false);
  EXPECT_EQ(h.ui.input.focused, a) << "an unknown focus counts as no focus";
}

TEST(WidgetKeyboard, EnterActivatesTheFocusedWidgetOnlyWhileFocusIsVisible) {
  Harness h;
  h.Frame();
  h.ui.Tab(false);
  h.ui.Tab(false);
  h.ui.ActivateFocused();
  h.Frame();
  EXPECT_EQ(h.activated, std::vector<std::string>{"b"});
  h.Frame();
  EXPECT_EQ(h.activated.size(), 1u) << "keyboard activation lasts one frame";

  h.ui.ButtonDown();  // a mouse press hides the focus ring
  h.ui.ButtonUp();
  h.Frame();
  h.ui.ActivateFocused();
  h.Frame();
  EXPECT_EQ(h.activated.size(), 1u);
}

TEST(WidgetKeyboard, FocusOfAWidgetThatIsNoLongerDrawnIsCleared) {
  Harness h;
  h.Frame();
  h.ui.Tab(false);
  h.ui.Tab(false);
  ASSERT_EQ(h.ui.input.focused, MakeWidgetId("b"));
  h.showB = false;
  h.Frame();
  EXPECT_EQ(h.ui.input.focused, 0u);
}

TEST(WidgetLayers, BaseWidgetsAreInertUnderAnOverlayAndTitleWidgetsAlwaysReact) {
  Harness h;
  h.overlay = true;
  h.Click(Harness::kA);
  EXPECT_TRUE(h.activated.empty());
  EXPECT_NE(h.ui.input.hot, MakeWidgetId("a"));
  h.Click(Harness::kOverlay);
  h.Click(Harness::kTitle);
  EXPECT_EQ(h.activated, (std::vector<std::string>{"o", "t"}));
  EXPECT_EQ(h.ui.input.focusOrder, (std::vector<WidgetId>{MakeWidgetId("o"), MakeWidgetId("t")}));

  h.overlay = false;
  h.activated.clear();
  h.Click(Harness::kA);
  h.Click(Harness::kTitle);
  EXPECT_EQ(h.activated, (std::vector<std::string>{"a", "t"}));
}

TEST(WindowHitArea, DragAreaIsTheWindowOutsideWidgetsOrOnlyTheTitleBarUnderAnOverlay) {
  Harness h;
  h.Frame();
  EXPECT_TRUE(h.ui.IsDragArea(600, 20));
  EXPECT_TRUE(h.ui.IsDragArea(600, 300));
  EXPECT_TRUE(h.ui.IsDragArea(600, 547.5f));
  EXPECT_FALSE(h.ui.IsDragArea(600, 548)) << "the status band";
  EXPECT_FALSE(h.ui.IsDragArea(60, 120)) << "on button a";
  EXPECT_FALSE(h.ui.IsDragArea(1080, 20)) << "on the close button";

  h.overlay = true;
  h.Frame();
  EXPECT_TRUE(h.ui.IsDragArea(600, 55));
  EXPECT_FALSE(h.ui.IsDragArea(600, 56));
  EXPECT_FALSE(h.ui.IsDragArea(600, 300));
  EXPECT_TRUE(h.ui.IsDragArea(60, 20));
  EXPECT_FALSE(h.ui.IsDragArea(1080, 20));
  // Base widgets under an overlay are not hit rectangles; their area is simply not draggable.
  EXPECT_EQ(h.ui.input.hitRects.size(), 2u);
}

TEST(WidgetHover, EasesTowardTheTargetAndSettles) {
  Harness h;
  h.MoveTo(Harness::kA);
  h.Frame();
  const float early = h.ui.State(MakeWidgetId("a"));
  EXPECT_GT(early, 0.0f);
  EXPECT_LT(early, 1.0f);
  for (int i = 0; i < 60; ++i) h.Frame();
  EXPECT_EQ(h.ui.State(MakeWidgetId("a")), 1.0f);
  h.MoveTo(700, 500);
  for (int i = 0; i < 60; ++i) h.Frame();
  EXPECT_EQ(h.ui.State(MakeWidgetId("a")), 0.0f);
  EXPECT_FALSE(h.ui.input.animating);
}

TEST(WidgetHover, AFixedOneSecondStepSettlesInOneFrame) {
  Ui ui;
  RecordingCanvas c;
  ui.MouseMove(50, 50);
  ui.BeginFixedFrame(2.4, 1.0);
  Button(ui, c, MakeWidgetId("x"), RectF{0, 0, 100, 100}, L"x", ButtonStyle::Outline, true);
  ui.EndFrame();
  EXPECT_EQ(ui.State(MakeWidgetId("x")), 1.0f);
  EXPECT_FALSE(ui.input.animating);
}

TEST(WidgetHover, FrameStepIsClampedSoAPauseDoesNotJump) {
  Ui ui;
  ui.BeginFrame(5.0);
  EXPECT_EQ(ui.dt, 0.0);
  ui.BeginFrame(5.05);
  EXPECT_NEAR(ui.dt, 0.05, 1e-9);
  ui.BeginFrame(9.0);
  EXPECT_EQ(ui.dt, 0.1);
  ui.BeginFrame(8.0);
  EXPECT_EQ(ui.dt, 0.0);
}

TEST(ProgressBar, FillHasAtLeastTheBarHeightAndClipsBalance) {
  Ui ui;
  ui.BeginFrame(1);
  RecordingCanvas c;
  ProgressBar(ui, c, RectF{0, 0, 400, 8}, 0);
  EXPECT_EQ(c.fills.size(), 1u) << "track only";
  EXPECT_FALSE(ui.input.animating);
  c.fills.clear();
  ProgressBar(ui, c, RectF{0, 0, 400, 8}, 0.001f);
  ASSERT_GE(c.fills.size(), 2u);
  EXPECT_EQ(c.fills[1].box.Width(), 8.0f);
  c.fills.clear();
  ProgressBar(ui, c, RectF{0, 0, 400, 8}, 0.5f);
  EXPECT_EQ(c.fills[1].box.Width(), 200.0f);
  ProgressBar(ui, c, RectF{0, 0, 400, 8}, 2);
  EXPECT_TRUE(ui.input.animating);
  EXPECT_EQ(c.clipDepth, 0);
}

TEST(OverlayPanel, OpensOverAFifthOfASecondAndBalancesItsLayer) {
  Ui ui;
  ui.BeginFrame(10.0);
  ui.overlayStart = 10.0;
  RecordingCanvas c;
  const RectF opening = BeginOverlayPanel(ui, c, 460, 300);
  EndOverlayPanel(c);
  EXPECT_TRUE(ui.input.animating);
  EXPECT_FLOAT_EQ(opening.top, 56 + 152 + 12);
  ui.BeginFrame(10.1);
  ui.BeginFrame(10.2);
  ui.input.animating = false;
  const RectF open = BeginOverlayPanel(ui, c, 460, 300);
  EndOverlayPanel(c);
  EXPECT_FLOAT_EQ(open.left, 320);
  EXPECT_FLOAT_EQ(open.top, 208);
  EXPECT_FALSE(ui.input.animating);
  EXPECT_EQ(c.layerDepth, 0);
  EXPECT_EQ(c.clipDepth, 0);
}

// The frame timer: who sees the window, whether it is in front, what runs and what frames cost.
TEST(FramePacing, PeriodFollowsWhoSeesTheWindowWhatRunsAndWhatFramesCost) {
  struct Row {
    const char* what;
    FrameView view;
    bool foreground, animating, workRuns;
    double costMs;
    int periodMs;
  };
  const FrameView seen;
  auto with = [](void (*change)(FrameView&)) {
    FrameView v;
    change(v);
    return v;
  };
  const Row rows[] = {
      {"cheap frames in front keep 60 a second", seen, true, true, false, 2, 16},
      {"cheap frames behind, animating, 30", seen, false, true, false, 2, 33},
      {"behind and still: only input and the tick", seen, false, false, false, 2, 0},
      {"in front and still: the timer keeps going", seen, true, false, false, 2, 16},
      {"a frame of 4 ms in front is still cheap", seen, true, true, false, 4, 16},
      {"dear frames in front: a quarter of a core", seen, true, true, false, 100, 300},
      {"dear frames behind: a tenth", seen, false, true, false, 100, 900},
      {"a download in front: a tenth", seen, true, true, true, 100, 900},
      {"a download behind: a tenth", seen, false, true, true, 100, 900},
      {"cheap frames during a download", seen, true, true, true, 1, 16},
      {"a cheap download frame behind", seen, false, true, true, 3, 33},
      {"the dearest frames still draw now and then", seen, true, true, false, 5000, kSlowestPeriodMs},
      {"hidden", with([](FrameView& v) { v.visible = false; }), true, true, false, 2, 0},
      {"minimised", with([](FrameView& v) { v.minimised = true; }), true, true, false, 2, 0},
      {"cloaked", with([](FrameView& v) { v.cloaked = true; }), true, true, false, 2, 0},
      {"covered whole", with([](FrameView& v) { v.covered = true; }), false, true, true, 2, 0},
      {"locked or disconnected", with([](FrameView& v) { v.sessionShown = false; }), true, true, false, 2, 0},
      {"display off", with([](FrameView& v) { v.displayOn = false; }), true, true, false, 2, 0},
  };
  for (const Row& row : rows) {
    PacingInput in;
    in.view = row.view;
    in.foreground = row.foreground;
    in.animating = row.animating;
    in.workRuns = row.workRuns;
    EXPECT_EQ(FramePeriodMs(in, row.costMs), row.periodMs) << row.what;
  }
}

TEST(FramePacing, InputIsDrawnAtOnceAndHoverAfterAPauseAsLongAsTheLastFrame) {
  EXPECT_EQ(InputFrameDelayMs(true, 100, 0), 0) << "a press or a key";
  EXPECT_EQ(InputFrameDelayMs(false, 100, 30), 70);
  EXPECT_EQ(InputFrameDelayMs(false, 100, 150), 0);
  EXPECT_EQ(InputFrameDelayMs(false, 2, 0), 2) << "cheap frames follow the mouse";
}

TEST(FramePacing, ACostIsTheWholeProcessWhenQuietAndTheUiThreadScaledUpWhileWorkersRun) {
  FrameCosts costs;
  EXPECT_EQ(costs.Mean(), 0);
  EXPECT_EQ(costs.Add(FrameSample{-1, -1, 12, true}), 12) << "no processor times: the wall clock";
  EXPECT_EQ(costs.Add(FrameSample{20, 5, 30, false}), 20) << "nothing learnt yet: the UI thread alone";
  EXPECT_EQ(costs.Add(FrameSample{20, 80, 30, true}), 80) << "quiet: the whole process";
  EXPECT_EQ(costs.RendererRatio(), 3);
  EXPECT_EQ(costs.Add(FrameSample{10, 900, 30, false}), 40) << "a download's time is not the window's";
  EXPECT_EQ(costs.Add(FrameSample{10, 5, 30, true}), 40) << "clocks that disagree: what was learnt";
  EXPECT_EQ(costs.Mean(), (12 + 20 + 80 + 40 + 40) / 5.0);
  for (int i = 0; i < 8; ++i) costs.Add(FrameSample{-1, -1, 4, true});
  EXPECT_EQ(costs.Mean(), 4) << "the dear frames have left the window";
  EXPECT_EQ(costs.Last(), 4);
  EXPECT_EQ(costs.Count(), FrameCosts::kKept);
}

TEST(Taskbar, StateOnlyWhenChangedValuesOnlyForStatesThatShowThem) {
  auto calls = DecideTaskbarCalls(-1, 0, 0, 0);
  EXPECT_TRUE(calls.setState) << "the first update after the button appears";
  EXPECT_FALSE(calls.setValue);
  calls = DecideTaskbarCalls(0, 2, 50, 100);
  EXPECT_TRUE(calls.setState);
  EXPECT_TRUE(calls.setValue);
  calls = DecideTaskbarCalls(2, 2, 60, 100);
  EXPECT_FALSE(calls.setState);
  EXPECT_TRUE(calls.setValue);
  EXPECT_FALSE(DecideTaskbarCalls(2, 2, 0, 0).setValue);
  EXPECT_FALSE(DecideTaskbarCalls(1, 1, 5, 10).setValue) << "indeterminate shows no value";
  EXPECT_TRUE(DecideTaskbarCalls(1, 4, 1, 1).setValue);
  EXPECT_TRUE(DecideTaskbarCalls(4, 8, 3, 9).setValue);
  EXPECT_FALSE(DecideTaskbarCalls(8, 8, 0, 0).setState);
}

TEST(WindowSize, FollowsTheMonitorDpi) {
  int w = 0, h = 0;
  WindowPixelSize(96, w, h);
  EXPECT_EQ(w, 1100);
  EXPECT_EQ(h, 660);
  WindowPixelSize(120, w, h);
  EXPECT_EQ(w, 1375);
  EXPECT_EQ(h, 825);
  WindowPixelSize(144, w, h);
  EXPECT_EQ(w, 1650);
  EXPECT_EQ(h, 990);
  WindowPixelSize(168, w, h);  // 1925 x 1155
  EXPECT_EQ(w, 1925);
  EXPECT_EQ(h, 1155);
}

// Work areas as Windows reports them, with the taskbar taken off; the window keeps 1100:660
// and every pixel of it, close button included, stays on the monitor.
TEST(WindowSize, PlacementFitsTheWorkAreaAtTheLargestScale) {
  struct Work {
    int left, top, right, bottom;
  };
  struct Case {
    unsigned monitorDpi;
    Work work;
    WindowPlacement expected;
  };
  const std::vector<Case> cases = {
      {96, {0, 0, 1920, 1040}, {96, 410, 190, 1100, 660}},
      {96, {0, 0, 1100, 660}, {96, 0, 0, 1100, 660}},
      {96, {0, 0, 1024, 728}, {89, 2, 58, 1020, 612}},  // 1024x768, taskbar below
      {96, {0, 0, 1024, 768}, {89, 2, 78, 1020, 612}},
      {120, {0, 0, 1366, 728}, {105, 81, 3, 1203, 722}},  // 1366x768 at 125 %
      {120, {0, 0, 1375, 825}, {120, 0, 0, 1375, 825}},
      {120, {0, 0, 1375, 824}, {119, 5, 3, 1364, 818}},  // one pixel short
      {144, {1920, 0, 3840, 1040}, {144, 2055, 25, 1650, 990}},
      {96, {-1280, 0, 0, 984}, {96, -1190, 162, 1100, 660}},  // a monitor left of the main one
      {120, {0, 40, 800, 600}, {69, 4, 83, 791, 474}},  // taskbar on top, a tiny screen
      {96, {0, 0, 0, 0}, {96, 0, 0, 1100, 660}},  // no work area known
  };
  for (const Case& k : cases) {
    const WindowPlacement p = PlaceWindow(k.monitorDpi, k.work.left, k.work.top, k.work.right, k.work.bottom);
    const std::string at = std::to_string(k.work.right) + "x" + std::to_string(k.work.bottom);
    EXPECT_EQ(p.dpi, k.expected.dpi) << at;
    EXPECT_EQ(p.x, k.expected.x) << at;
    EXPECT_EQ(p.y, k.expected.y) << at;
    EXPECT_EQ(p.width, k.expected.width) << at;
    EXPECT_EQ(p.height, k.expected.height) << at;
  }
}

TEST(Fonts, NamedFamiliesWhenInstalledElseFallBackToOnesThatExist) {
  auto all = [](const std::wstring&) { return true; };
  theme::FontFamilies f = theme::ChooseFontFamilies(all, L"Segoe UI", L"Arial");
  EXPECT_EQ(f.display, L"Bahnschrift");
  EXPECT_EQ(f.condensed, L"Bahnschrift Condensed");
  EXPECT_EQ(f.body, L"Segoe UI Variable Text");

  auto windows10 = [](const std::wstring& n) { return n == L"Segoe UI" || n == L"Bahnschrift"; };
  f = theme::ChooseFontFamilies(windows10, L"Segoe UI", L"Arial");
  EXPECT_EQ(f.display, L"Bahnschrift");
  EXPECT_EQ(f.condensed, L"Bahnschrift") << "condensed needs both Bahnschrift families";
  EXPECT_EQ(f.body, L"Segoe UI");

  auto wine = [](const std::wstring& n) { return n == L"DejaVu Sans" || n == L"DejaVu Serif"; };
  f = theme::ChooseFontFamilies(wine, L"Tahoma", L"DejaVu Serif");
  EXPECT_EQ(f.display, L"DejaVu Sans");
  EXPECT_EQ(f.condensed, L"DejaVu Sans");
  EXPECT_EQ(f.body, L"DejaVu Sans");

  auto odd = [](const std::wstring& n) { return n == L"Odd Family" || n == L"Message"; };
  EXPECT_EQ(theme::ChooseFontFamilies(odd, L"Message", L"Odd Family").body, L"Message");
  EXPECT_EQ(theme::ChooseFontFamilies(odd, L"Missing", L"Odd Family").body, L"Odd Family");
}

TEST(TextStyles, LetterSpacingShiftsCentredAndTrailingText) {
  EXPECT_FLOAT_EQ(theme::LetterSpacingShift(0, TextAlign::Leading), 0);
  EXPECT_FLOAT_EQ(theme::LetterSpacingShift(0, TextAlign::Center), 1.8f);
  EXPECT_FLOAT_EQ(theme::LetterSpacingShift(0, TextAlign::Trailing), 3.6f);
  EXPECT_FLOAT_EQ(theme::LetterSpacingShift(6, TextAlign::Trailing), 0);
  EXPECT_TRUE(theme::GetTextStyle(8).tabularFigures);
  EXPECT_TRUE(theme::GetTextStyle(9).tabularFigures);
  EXPECT_FALSE(theme::GetTextStyle(7).tabularFigures);
  EXPECT_EQ(theme::GetTextStyle(1).family, theme::FontFamilyKind::Condensed);
}

TEST(TextStyles, SpacingGoesBetweenLettersAsTheReaderSeesThem) {
  using Letters = std::vector<std::wstring>;
  EXPECT_EQ(theme::SplitGraphemes(L"MERİDİAN"), (Letters{L"M", L"E", L"R", L"İ", L"D", L"İ", L"A", L"N"}));
  EXPECT_EQ(theme::SplitGraphemes(L"SÜ R"), (Letters{L"S", L"Ü", L" ", L"R"}));
  // A decomposed dotted I and a U with a combining diaeresis stay single letters.
  EXPECT_EQ(theme::SplitGraphemes(L"I\u0307U\u0308X"), (Letters{L"I\u0307", L"U\u0308", L"X"}));
  EXPECT_EQ(theme::SplitGraphemes(L"\u0308A"), (Letters{L"\u0308", L"A"})) << "a leading mark stands alone";
  EXPECT_TRUE(theme::SplitGraphemes(L"").empty());
}

// The measuring layout is injected: it merges clusters, reports none (as DirectWrite did for
// the first layouts of a fresh prefix) or fails. Each grapheme is 10 wide. A letter is never
// split again, so at most one measurement per grapheme follows the whole text's.
TEST(TextStyles, SpacedWidthSplitsOnlyMergedClustersAndEachLetterOnce) {
  struct Case {
    std::wstring text;
    float spacing;
    size_t wholeClusters, letterClusters;
    bool wholeFails, lettersFail;
    float width;
    int measurements;
  };
  const std::vector<Case> cases = {
      {L"MERİDİAN", 2, 6, 1, false, false, 94, 9},   {L"MERİDİAN", 2, 8, 1, false, false, 80, 1},
      {L"MERİDİAN", 2, 6, 0, false, false, 94, 9},   {L"MERİDİAN", 2, 0, 0, false, false, 80, 1},
      {L"İ", 2, 0, 0, false, false, 10, 1},          {L"e\u0301", 2, 0, 0, false, false, 10, 1},
      {L"\U0001F600A", 2, 1, 0, false, false, 22, 3}, {L"AB", 0, 1, 1, false, false, 20, 1},
      {L"AB", 2, 1, 1, true, false, 0, 1},           {L"AB", 2, 1, 0, false, true, 2, 3},
      {L"", 2, 0, 0, false, false, 0, 0},
  };
  for (const Case& k : cases) {
    int measurements = 0;
    const float width = theme::SpacedTextWidth(k.text, k.spacing, [&](const std::wstring& part, float& w, size_t& n) {
      ++measurements;
      EXPECT_LE(measurements, 1 + static_cast<int>(k.text.size())) << "split again";
      if (measurements > 1 + static_cast<int>(k.text.size())) return false;
      const bool whole = part == k.text;
      w = 10.0f * static_cast<float>(theme::SplitGraphemes(part).size());
      n = whole ? k.wholeClusters : k.letterClusters;
      return !(whole ? k.wholeFails : k.lettersFail);
    });
    EXPECT_EQ(width, k.width) << Utf8FromWide(k.text) << " " << k.wholeClusters;
    EXPECT_EQ(measurements, k.measurements) << Utf8FromWide(k.text) << " " << k.wholeClusters;
  }
}

TEST(TestSceneLogic, PlayOpensTheOverlayAndItsCloseButtonClosesIt) {
  TestScene scene;
  Ui ui;
  RecordingCanvas c;
  double t = 1;
  auto frame = [&] {
    ui.BeginFrame(t += 0.05);
    scene.Draw(ui, c);
    ui.EndFrame();
    EXPECT_EQ(c.clipDepth, 0);
    EXPECT_EQ(c.layerDepth, 0);
  };
  auto click = [&](const RectF& r) {
    ui.MouseMove((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    frame();
    ui.ButtonDown();
    frame();
    ui.ButtonUp();
    frame();
  };
  frame();
  click(TestScene::kPlayBox);
  EXPECT_TRUE(scene.overlayOpen);
  for (int i = 0; i < 5; ++i) frame();
  click(TestScene::kPlayBox);  // under the overlay now
  EXPECT_EQ(scene.activated, std::vector<std::string>{"scene.play"});
  click(TestScene::kOverlayCloseBox);
  EXPECT_FALSE(scene.overlayOpen);
  EXPECT_EQ(scene.activated, (std::vector<std::string>{"scene.play", "scene.overlay.close"}));
}

}  // namespace
