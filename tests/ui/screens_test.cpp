#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "tests/ui/recording_canvas.h"
#include "ui/frame_recorder.h"
#include "ui/app_rules.h"
#include "ui/screen_rules.h"
#include "ui/screens.h"
#include "ui/shot_scenarios.h"
#include "ui/theme.h"

namespace {

// Remembers where each text, ellipse and emblem went, so the tests can find a button by its
// label and check colours.
struct ScreenCanvas : RecordingCanvas {
  struct Text {
    std::wstring text;
    RectF box;
    int style;
    Color color;
  };
  struct Ellipse {
    PointF centre;
    float rx;
    Color color;
    bool filled;
  };
  struct Emblem {
    int index;
    RectF box;
  };
  std::vector<Text> items;
  std::vector<Ellipse> ellipses;
  std::vector<Emblem> emblems;

  void DrawString(const std::wstring& t, const RectF& box, int style, Color color, TextAlign align, TextVAlign valign,
                  bool single) override {
    items.push_back({t, box, style, color});
    RecordingCanvas::DrawString(t, box, style, color, align, valign, single);
  }
  void FillEllipse(PointF centre, float rx, float, Color color) override {
    ellipses.push_back({centre, rx, color, true});
  }
  void StrokeEllipse(PointF centre, float rx, float, float, Color color) override {
    ellipses.push_back({centre, rx, color, false});
  }
  void DrawEmblem(int index, const RectF& box, float) override { emblems.push_back({index, box}); }
  std::vector<uint64_t> scenes;  // the hash of every scene handed over
  FrameSignature sceneOps;       // what the last one draws where
  void DrawScene(uint64_t hash, const FrameSignature& ops, const std::function<void(Canvas&)>& replay,
                 const std::function<void(Canvas&, const RectF&)>&) override {
    scenes.push_back(hash);
    sceneOps = ops;
    replay(*this);
  }
};

bool SameColor(Color a, Color b) {
  return std::abs(a.r - b.r) < 1e-4f && std::abs(a.g - b.g) < 1e-4f && std::abs(a.b - b.b) < 1e-4f &&
         std::abs(a.a - b.a) < 1e-4f;
}

bool Inside(const RectF& inner, const RectF& outer) {
  return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
         inner.bottom <= outer.bottom;
}

// Where the widget toolkit centres an overlay panel once its opening animation has ended.
RectF OpenPanel(float width, float height) { return BoxAt((1100 - width) / 2, 56 + (604 - height) / 2, width, height); }

StatusView ReadyStatus() {
  StatusView s;
  s.kind = kStatusReady;
  s.accent = kAccentGreen;
  s.title = L"Oynamaya hazır";
  s.detail = L"Talvoreen Roleplay · OYNA'ya basınca sunucuya bağlanırsın";
  s.primaryLabel = L"OYNA";
  s.primaryEnabled = true;
  s.primaryAction = kActionPlay;
  s.primaryIsPlay = true;
  return s;
}

// One launcher window drawn frame by frame. Every frame takes a one-second step so hover,
// selection and overlay animations have settled when the test looks at it.
struct Screen {
  AppState app;
  UiSnapshot snap;
  StatusView status = ReadyStatus();
  std::vector<int32_t> actions;
  Ui ui;
  ScreenCanvas canvas;
  double time = 10;
  float charWidth = 0;  // texts measure this much per character when set

  Screen() {
    app.installed = true;
    app.installFolder = L"D:\\Oyunlar\\Talvoreen";
  }

  void Frame() {
    time += 1.0 / 60;
    canvas = ScreenCanvas();
    canvas.charWidth = charWidth;
    ui.BeginFixedFrame(time, 1.0);
    const FrameModel model{app, snap, status, actions};
    DrawLauncherFrame(ui, canvas, model);
    ui.EndFrame();
    EXPECT_EQ(canvas.clipDepth, 0) << "clips left pushed";
    EXPECT_EQ(canvas.layerDepth, 0) << "layers left pushed";
  }

  // Mouse over the box, press, release: the actions this click queued.
  std::vector<int32_t> Click(const RectF& box) {
    actions.clear();
    ui.MouseMove((box.left + box.right) / 2, (box.top + box.bottom) / 2);
    Frame();
    ui.ButtonDown();
    Frame();
    ui.ButtonUp();
    Frame();
    ui.MouseLeave();
    return actions;
  }
  std::vector<int32_t> ClickText(const std::wstring& label, int nth = 0) { return Click(Find(label, nth).box); }

  int Count(const std::wstring& text) const {
    int n = 0;
    for (const auto& item : canvas.items) n += item.text == text;
    return n;
  }
  bool Has(const std::wstring& text) const { return Count(text) > 0; }
  ScreenCanvas::Text Find(const std::wstring& text, int nth = 0) const {
    for (const auto& item : canvas.items) {
      if (item.text == text && nth-- == 0) return item;
    }
    ADD_FAILURE() << "no text \"" << text << "\"";
    return ScreenCanvas::Text{text, RectF{-100, -100, -90, -90}, -1, Color{}};
  }
  bool HasTextStartingWith(const std::wstring& prefix) const {
    for (const auto& item : canvas.items) {
      if (item.text.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
  }
  int ProgressTracks() const {
    int n = 0;
    for (const auto& fill : canvas.fills) n += SameColor(fill.color, theme::kTrack);
    return n;
  }
};

using Actions = std::vector<int32_t>;

// ---- Setup screen ------------------------------------------------------------------------

TEST(SetupScreen, ShowsFolderChoiceFreeSpaceWhenKnownAndErrors) {
  Screen s;
  s.app.installed = false;
  s.app.installFolder.clear();
  s.app.setupCandidate = L"E:\\Oyunlar\\Talvoreen";
  s.status.kind = kStatusPrompt;
  s.status.title = L"Kuruluma hazır";
  s.status.primaryLabel = L"KUR";
  s.status.primaryIsPlay = false;
  s.status.primaryAction = kActionInstall;
  s.Frame();

  for (const wchar_t* text : {L"KURULUM", L"TALVOREEN", L"Launcher ve oyunun bütün dosyaları seçtiğin klasöre kurulur.",
                              L"KURULUM KLASÖRÜ", L"E:\\Oyunlar\\Talvoreen", L"Değiştir",
                              L"Masaüstüne ve Başlat menüsüne kısayol eklenir", L"Kuruluma hazır", L"KUR"}) {
    EXPECT_TRUE(s.Has(text)) << text;
  }
  EXPECT_FALSE(s.HasTextStartingWith(L"Bu diskte")) << "free space not read yet";
  EXPECT_FALSE(s.Has(L"SUNUCU SEÇ"));
  EXPECT_FALSE(s.Has(L"Ayarlar")) << "no settings before anything is installed";
  EXPECT_TRUE(s.canvas.emblems.empty());

  s.app.setupFreeSpaceKnown = true;
  s.app.setupFreeSpace = 4724464025ull;
  s.app.setupError = L"Klasöre yazılamadı.";
  s.Frame();
  EXPECT_TRUE(s.Has(L"Bu diskte 4,4 GB boş alan var"));
  EXPECT_TRUE(SameColor(s.Find(L"Klasöre yazılamadı.").color, theme::kRed));

  EXPECT_EQ(s.ClickText(L"Değiştir"), Actions{kActionChooseFolder});
  EXPECT_EQ(s.Click(layout::kStatusPrimary), Actions{kActionInstall});
}

// ---- Main screen and server cards --------------------------------------------------------

TEST(MainScreen, ThreeCardsOrFourNarrowerWithTheDevelopmentServer) {
  EXPECT_EQ(layout::ServerCard(0, false).left, 56);
  EXPECT_EQ(layout::ServerCard(0, false).top, 338);
  EXPECT_EQ(layout::ServerCard(0, false).Height(), 178);
  EXPECT_EQ(layout::ServerCard(1, false).left, 224);
  EXPECT_EQ(layout::ServerCard(2, false).right, 548);
  EXPECT_EQ(layout::ServerCard(1, true).left, 184);
  EXPECT_EQ(layout::ServerCard(3, true).right, 558);

  Screen s;
  s.Frame();
  EXPECT_TRUE(s.Has(L"SAN ANDREAS MULTIPLAYER"));
  EXPECT_TRUE(s.Has(L"SUNUCU SEÇ"));
  EXPECT_TRUE(s.Has(L"CORVEL"));
  EXPECT_TRUE(s.Has(L"MERİDİAN"));
  EXPECT_FALSE(s.Has(L"DEV"));
  EXPECT_FALSE(s.Has(L"SERVER"));
  EXPECT_EQ(s.Count(L"ROLEPLAY"), 3);
  ASSERT_EQ(s.canvas.emblems.size(), 3u);
  for (const auto& emblem : s.canvas.emblems) {
    EXPECT_TRUE(Inside(emblem.box, layout::ServerCard(emblem.index, false))) << emblem.index;
  }
  EXPECT_TRUE(Inside(s.Find(L"MERİDİAN").box, layout::ServerCard(2, false)));

  s.app.devServer = true;
  s.Frame();
  EXPECT_TRUE(s.Has(L"DEV"));
  EXPECT_TRUE(s.Has(L"SERVER"));
  EXPECT_EQ(s.canvas.emblems.size(), 3u) << "the development card draws its own glyph";
  for (const auto& emblem : s.canvas.emblems) {
    EXPECT_TRUE(Inside(emblem.box, layout::ServerCard(emblem.index, true))) << emblem.index;
  }
  EXPECT_TRUE(Inside(s.Find(L"DEV").box, layout::ServerCard(3, true)));
  EXPECT_TRUE(Inside(s.Find(L"CORVEL").box, layout::ServerCard(0, true)));
}

TEST(ServerCards, PlayerAndStatusLinesFollowThePlayerCount) {
  Screen s;
  s.app.devServer = true;
  s.snap.players[0] = PlayerCountEntry{kPlayerCountOnline, 196};
  s.snap.players[1] = PlayerCountEntry{kPlayerCountOffline, 12};
  s.snap.players[2] = PlayerCountEntry{kPlayerCountUnknown, 0};
  s.snap.players[3] = PlayerCountEntry{kPlayerCountOnline, 5};  // never polled; ignored
  s.Frame();

  EXPECT_TRUE(s.Has(L"196 oyuncu"));
  EXPECT_FALSE(s.Has(L"12 oyuncu")) << "an offline count is not shown";
  EXPECT_FALSE(s.Has(L"5 oyuncu"));
  EXPECT_EQ(s.Count(L"—"), 2);
  EXPECT_TRUE(s.Has(L"Test sunucusu"));
  EXPECT_TRUE(Inside(s.Find(L"196 oyuncu").box, layout::ServerCard(0, true)));
  EXPECT_TRUE(Inside(s.Find(L"Test sunucusu").box, layout::ServerCard(3, true)));

  EXPECT_TRUE(SameColor(s.Find(L"Çevrimiçi").color, theme::kGreen));
  EXPECT_TRUE(SameColor(s.Find(L"Çevrimdışı").color, theme::kTextSecondary));
  EXPECT_TRUE(SameColor(s.Find(L"Bağlanıyor").color, theme::kTextMuted));
  EXPECT_TRUE(SameColor(s.Find(L"Geliştirme").color, Rgb(245, 165, 36)));

  const ServerCardLines dev = CardLines(3, PlayerCountEntry{kPlayerCountOnline, 5});
  EXPECT_EQ(dev.dot, ServerCardLines::Dot::Card);
  EXPECT_FALSE(dev.pulsing);
  EXPECT_TRUE(CardLines(0, PlayerCountEntry{kPlayerCountOnline, 0}).pulsing);
  EXPECT_EQ(CardLines(0, PlayerCountEntry{kPlayerCountOnline, 0}).players, L"0 oyuncu");
  EXPECT_FALSE(CardLines(1, PlayerCountEntry{kPlayerCountOffline, 0}).pulsing);
}

TEST(ServerCards, OnlyAnOnlineDotHasAGrowingHalo) {
  Screen s;
  s.snap.players[0] = PlayerCountEntry{kPlayerCountOnline, 196};
  s.snap.players[1] = PlayerCountEntry{kPlayerCountOffline, 0};
  auto halos = [&] {
    std::vector<float> radii;
    for (const auto& e : s.canvas.ellipses) {
      if (e.filled && e.color.a < 1 && SameColor(WithAlpha(e.color, 1), theme::kGreen)) radii.push_back(e.rx);
    }
    return radii;
  };
  s.time = 20.05;  // halo phase 0.04 at the next frame
  s.Frame();
  const std::vector<float> first = halos();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_TRUE(first[0] > 3.5f && first[0] < 9.5f) << first[0];
  s.time += 0.5;
  s.Frame();
  const std::vector<float> later = halos();
  ASSERT_EQ(later.size(), 1u);
  EXPECT_GT(later[0], first[0] + 1) << "the halo grows with time";

  s.snap.players[0] = PlayerCountEntry{kPlayerCountOffline, 0};
  s.Frame();
  EXPECT_TRUE(halos().empty());
}

TEST(ServerCards, ClickQueuesItsSelectionAndTheSelectedCardShowsTheBadge) {
  Screen s;
  s.Frame();
  EXPECT_EQ(s.Click(layout::ServerCard(0, false)), Actions{kActionSelectServer0});
  EXPECT_EQ(s.Click(layout::ServerCard(2, false)), Actions{kActionSelectServer0 + 2});
  s.app.devServer = true;
  EXPECT_EQ(s.Click(layout::ServerCard(3, true)), Actions{kActionSelectServer0 + 3});
  EXPECT_EQ(s.Click(layout::ServerCard(1, true)), Actions{kActionSelectServer0 + 1});

  auto badgeOn = [&](int card) {
    const RectF box = layout::ServerCard(card, s.app.devServer);
    for (const auto& e : s.canvas.ellipses) {
      if (e.filled && e.rx == 10 && e.centre.x == box.left + 20 && e.centre.y == box.top + 20) return true;
    }
    return false;
  };
  s.Frame();
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(badgeOn(i)) << i;
  s.app.selected = 1;
  s.Frame();
  EXPECT_TRUE(badgeOn(1));
  EXPECT_FALSE(badgeOn(0));
  EXPECT_FALSE(badgeOn(3));
  s.app.selected = -1;
  s.Frame();
  EXPECT_FALSE(badgeOn(1)) << "the badge fades out with the selection";
}

// ---- Status bar --------------------------------------------------------------------------

TEST(StatusBar, PercentageAndProgressOnlyWhereTheyBelong) {
  Screen s;
  s.status.title = L"Oyun dosyaları indiriliyor";
  struct Case {
    float progress;
    const wchar_t* percent;  // nullptr: none
    bool bar;
  };
  for (const Case& c : {Case{0.42f, L"%42", true}, Case{0.29f, L"%29", true}, Case{0.99999f, L"%99", true},
                        Case{0, L"%0", true}, Case{1, L"%100", true},
                        Case{2, nullptr, true}, Case{-1, nullptr, false}}) {
    s.status.progress = c.progress;
    s.Frame();
    EXPECT_EQ(s.HasTextStartingWith(L"%"), c.percent != nullptr) << c.progress;
    if (c.percent) {
      const auto percent = s.Find(c.percent);
      EXPECT_TRUE(SameColor(percent.color, theme::kAccent));
      EXPECT_EQ(percent.box.right, 764) << "right-aligned in the title box";
      EXPECT_LE(s.Find(s.status.title).box.right, 764 - s.canvas.textWidth) << "title runs under the percentage";
    }
    EXPECT_EQ(s.ProgressTracks(), c.bar ? 1 : 0) << c.progress;
    EXPECT_EQ(s.Find(s.status.title).box.top, c.bar ? 570 : 579) << c.progress;
  }
}

TEST(StatusBar, SecondaryButtonOrRetryLinkNarrowTheTextAndQueueTheirActions) {
  Screen s;
  s.Frame();
  EXPECT_EQ(s.Find(s.status.title).box.Width(), 662);
  EXPECT_EQ(s.Click(layout::kStatusSecondary), Actions{}) << "no secondary button";

  s.status.secondaryLabel = L"Güncelle";
  s.status.secondaryAction = kActionDownloadGameFiles;
  s.Frame();
  EXPECT_EQ(s.Find(s.status.title).box.Width(), 478);
  EXPECT_EQ(s.Find(s.status.detail).box.Width(), 478);
  EXPECT_EQ(s.Click(layout::kStatusSecondary), Actions{kActionDownloadGameFiles});
  s.status.secondaryEnabled = false;
  EXPECT_EQ(s.Click(layout::kStatusSecondary), Actions{});

  s.status.secondaryEnabled = true;
  s.status.retryLink = true;
  s.Frame();
  EXPECT_FALSE(s.Has(L"Güncelle")) << "the retry link takes the secondary button's place";
  EXPECT_TRUE(s.Has(L"Tekrar dene"));
  EXPECT_EQ(s.Find(s.status.title).box.Width(), 478);
  EXPECT_EQ(s.Click(layout::kStatusSecondary), Actions{kActionRetrySync});

  s.status.secondaryLabel.clear();
  s.Frame();
  EXPECT_TRUE(s.Has(L"Tekrar dene")) << "the link does not need a secondary label";
}

TEST(StatusBar, PrimaryDetailAndIcon) {
  Screen s;
  s.status.kind = kStatusError;
  s.status.accent = kAccentRed;
  s.status.detail = L"Bağlantı kesildi";
  s.status.detailIsError = true;
  s.status.primaryLabel = L"TEKRAR DENE";
  s.status.primaryIsPlay = false;
  s.status.primaryAction = kActionRetrySync;
  s.Frame();
  EXPECT_TRUE(SameColor(s.Find(L"Bağlantı kesildi").color, theme::kRed));
  bool iconInAccent = false;
  for (const auto& e : s.canvas.ellipses) {
    iconInAccent |= !e.filled && e.centre.x == 69 && e.centre.y == 579 + 13 && SameColor(e.color, kAccentRed);
  }
  EXPECT_TRUE(iconInAccent) << "the error circle at the status icon's place";
  EXPECT_EQ(s.Click(layout::kStatusPrimary), Actions{kActionRetrySync});

  s.status.detailIsError = false;
  s.status.primaryEnabled = false;
  s.Frame();
  EXPECT_TRUE(SameColor(s.Find(L"Bağlantı kesildi").color, theme::kTextSecondary));
  EXPECT_EQ(s.Click(layout::kStatusPrimary), Actions{});
}

TEST(StatusBar, ReasonTooLongEndsAfterAWholeWordAndShowsWholeUnderTheMouse) {
  struct Case {
    const wchar_t* text;
    float chars;  // room, in characters of the test canvas
    const wchar_t* shown;
  };
  const auto length = [](const std::wstring& t) { return static_cast<float>(t.size()); };
  for (const Case& c : {
           Case{L"Bağlantı koptu", 14, L"Bağlantı koptu"},
           Case{L"Sunucuya ulaşılamadı: Bağlantı koptu", 30, L"Sunucuya ulaşılamadı…"},
           Case{L"Kurulu · bozulduysa yeniden indirilir", 15, L"Kurulu…"},
           Case{L"Corvel Roleplay dosyaları denetlenemedi: Sunucu yanıt vermedi", 52,
                L"Corvel Roleplay dosyaları denetlenemedi: Sunucu…"},
           Case{L"Uzunçokuzunbirkelime sonra", 10, L"Uzunçokuzunbirkelime…"},
           Case{L"C:\\Oyunlar\\Talvoreen\\mods", 10, L"C:\\Oyunlar\\Talvoreen\\mods"},
       }) {
    EXPECT_EQ(FitAtWordBoundary(c.text, c.chars, length), c.shown) << c.chars;
  }

  Screen s;
  s.charWidth = 7;
  s.status.detail = L"Talvoreen Roleplay dosyaları denetlenemedi: Sunucu dosya listesini vermiyor (sunucu sürümü eski)";
  s.status.detailIsError = true;
  s.status.secondaryLabel = L"Tekrar dene";
  s.Frame();
  EXPECT_FALSE(s.Has(s.status.detail));
  std::wstring shown;
  for (const auto& item : s.canvas.items) {
    if (item.box.top == 579 + 28) shown = item.text;
  }
  ASSERT_GT(shown.size(), 2u);
  EXPECT_EQ(shown.back(), L'…');
  EXPECT_LE(shown.size() * 7.0f, 478);
  const std::wstring kept = shown.substr(0, shown.size() - 1);
  EXPECT_EQ(s.status.detail.compare(0, kept.size(), kept), 0);
  EXPECT_EQ(s.status.detail[kept.size()], L' ') << "cut inside a word";

  s.ui.MouseMove(150, 579 + 38);
  s.Frame();
  const auto whole = s.Find(s.status.detail);
  EXPECT_LE(whole.box.bottom, 548) << "the whole text above the status band";
  EXPECT_GE(whole.box.left, 0);
  s.app.overlay = Overlay::Settings;
  s.Frame();
  EXPECT_FALSE(s.Has(s.status.detail)) << "no tooltip under an overlay";
}

// ---- Title bar and layers ----------------------------------------------------------------

TEST(TitleBar, FocusRingsOfTheWindowButtonsStayInsideTheWindow) {
  Screen s;
  s.Frame();
  for (const char* id : {"window.minimize", "window.close", "settings"}) {
    for (size_t tabs = 0; s.ui.input.focused != MakeWidgetId(id) && tabs < 40; ++tabs) s.ui.Tab(false);
    s.Frame();
    int rings = 0;
    for (const auto& stroke : s.canvas.strokes) {
      if (!SameColor(stroke.color, theme::kAccent)) continue;
      ++rings;
      // The 2-DIP stroke is centred on the box, so its outer edge lies 1 DIP outside it.
      EXPECT_TRUE(Inside(stroke.box.Inflated(1), RectF{0, 0, kCanvasWidth, kCanvasHeight})) << id;
    }
    EXPECT_EQ(rings, 1) << id;
  }
}

TEST(TitleBar, WindowButtonsAlwaysReactSettingsOnlyWithoutOverlay) {
  Screen s;
  s.Frame();
  EXPECT_EQ(s.Click(layout::kSettingsButton), Actions{kActionOpenSettings});
  EXPECT_EQ(s.Click(layout::kWindowMinimise), Actions{kActionMinimize});
  EXPECT_EQ(s.Click(layout::kWindowClose), Actions{kActionClose});

  for (Overlay overlay : {Overlay::Settings, Overlay::Uninstall}) {
    s.app.overlay = overlay;
    EXPECT_EQ(s.Click(layout::kSettingsButton), Actions{}) << static_cast<int>(overlay);
    EXPECT_EQ(s.Click(layout::kWindowMinimise), Actions{kActionMinimize});
    EXPECT_EQ(s.Click(layout::kWindowClose), Actions{kActionClose});
    EXPECT_TRUE(s.ui.overlayOpen);
    // The base layer under the overlay ignores the mouse.
    EXPECT_EQ(s.Click(layout::kStatusPrimary), Actions{});
    EXPECT_EQ(s.Click(layout::ServerCard(0, false)), Actions{});
  }
  s.app.overlay = Overlay::None;
  s.Frame();
  EXPECT_FALSE(s.ui.overlayOpen);
  EXPECT_FALSE(s.ui.IsDragArea(1076, 20)) << "close button";
  EXPECT_TRUE(s.ui.IsDragArea(600, 20));
}

TEST(ShotsMode, NoWidgetReacts) {
  Screen s;
  s.ui.shotsMode = true;
  for (const RectF& box : {layout::kStatusPrimary, layout::ServerCard(1, false), layout::kWindowClose,
                           layout::kSettingsButton}) {
    EXPECT_EQ(s.Click(box), Actions{});
  }
  s.app.overlay = Overlay::Uninstall;
  s.Frame();
  EXPECT_EQ(s.ClickText(L"Kaldır"), Actions{});
  EXPECT_TRUE(s.ui.input.focusOrder.empty());
}

// ---- Settings overlay --------------------------------------------------------------------

TEST(SettingsOverlay, RowsShowTheInstallation) {
  Screen s;
  s.app.overlay = Overlay::Settings;
  s.Frame();
  for (const wchar_t* text : {L"LAUNCHER", L"KURULUM KLASÖRÜ", L"D:\\Oyunlar\\Talvoreen", L"GTA: SAN ANDREAS",
                              L"OYUN SÜRÜMÜ", L"OYUN DOSYALARI", L"Kaldırıp sıfırdan yükleyebilirsin",
                              L"Klasörü aç", L"Kaldır", L"Talvoreen Launcher 0.4.21"}) {
    EXPECT_TRUE(s.Has(text)) << text;
  }
  EXPECT_EQ(s.Count(L"Henüz kurulmadı"), 2) << "GTA and game version both missing";
  EXPECT_EQ(s.Count(L"Dosyaları doğrula"), 2);
  EXPECT_EQ(s.Count(L"Ayarlar"), 2) << "title bar button and panel title";

  s.app.gtaValid = true;
  s.snap.game.installedBuild = "2026.12.07-ç";
  s.Frame();
  EXPECT_TRUE(s.Has(L"Kurulu · bozulduysa yeniden indirilir"));
  EXPECT_TRUE(s.Has(L"2026.12.07-ç")) << "the build is UTF-8";
  EXPECT_FALSE(s.Has(L"Henüz kurulmadı"));

  s.snap.gta.status = kGtaExtracting;
  s.Frame();
  EXPECT_TRUE(s.Has(L"Kuruluyor"));
}

TEST(SettingsOverlay, ButtonsFollowWhatIsRunning) {
  Screen s;
  s.app.overlay = Overlay::Settings;
  s.app.now = 100;
  s.Frame();
  const int kGta = 0, kVerify = 1;  // the two "Dosyaları doğrula" buttons, top to bottom
  EXPECT_EQ(s.ClickText(L"Klasörü aç"), Actions{kActionOpenFolder});
  EXPECT_EQ(s.ClickText(L"Dosyaları doğrula", kGta), Actions{kActionReinstallGta});
  EXPECT_EQ(s.ClickText(L"Dosyaları doğrula", kVerify), Actions{kActionVerifyFiles});
  EXPECT_EQ(s.ClickText(L"Kaldır"), Actions{kActionOpenUninstall});
  EXPECT_EQ(s.Click(BoxAt(OpenPanel(660, 504).right - 60, OpenPanel(660, 504).top + 16, 44, 36)),
            Actions{kActionCloseOverlay});

  struct Case {
    const char* what;
    void (*set)(Screen&);
    bool gta, verify, uninstall;
  };
  const Case cases[] = {
      {"game files downloading", [](Screen& x) { x.snap.gameRunning = true; }, true, false, false},
      {"server files downloading", [](Screen& x) { x.snap.serverRunning[2] = true; }, true, true, false},
      {"GTA downloading", [](Screen& x) { x.snap.gtaRunning = true; }, false, true, false},
      {"a game open", [](Screen& x) { x.app.runningCount = 1, x.app.gamesWereRunning = true; }, false, false, false},
      {"launch under way", [](Screen& x) { x.app.launchDeadline = 110; }, false, true, false},
      {"play requested", [](Screen& x) { x.app.playRequested = true; }, false, true, true},
  };
  for (const Case& c : cases) {
    Screen t;
    t.app.overlay = Overlay::Settings;
    t.app.now = 100;
    c.set(t);
    t.Frame();
    EXPECT_EQ(t.ClickText(L"Klasörü aç"), Actions{kActionOpenFolder}) << c.what;
    EXPECT_EQ(!t.ClickText(L"Dosyaları doğrula", kGta).empty(), c.gta) << c.what;
    EXPECT_EQ(!t.ClickText(L"Dosyaları doğrula", kVerify).empty(), c.verify) << c.what;
    EXPECT_EQ(!t.ClickText(L"Kaldır").empty(), c.uninstall) << c.what;
  }
}

// ---- Uninstall overlay -------------------------------------------------------------------

TEST(UninstallOverlay, AsksWithTheFolderWhenItCanUninstall) {
  Screen s;
  s.app.overlay = Overlay::Uninstall;
  s.Frame();
  EXPECT_TRUE(s.Has(L"Oyun dosyaları kaldırılsın mı?"));
  EXPECT_TRUE(s.Has(L"Oyunun dosyaları, ayarları ve indirilen sunucu dosyaları silinir. GTA: San Andreas, launcher ve "
                    L"ekran görüntülerin kalır. Sonra İNDİR ile oyunu sıfırdan yükleyebilirsin."));
  EXPECT_TRUE(SameColor(s.Find(L"D:\\Oyunlar\\Talvoreen").color, theme::kTextMuted));
  EXPECT_FALSE(s.Has(L"Oyun açıkken ya da bir indirme sürerken kaldırılamaz."));
  EXPECT_FALSE(s.Has(L"Tekrar dene"));
  EXPECT_FALSE(s.Has(L"Kapat"));

  const RectF panel = OpenPanel(600, 360);
  const RectF confirm = s.Find(L"Kaldır").box;
  EXPECT_EQ(confirm.right, panel.right - 40);
  EXPECT_EQ(confirm.bottom, panel.bottom - 40);
  EXPECT_EQ(s.Find(L"Vazgeç").box.right, confirm.left - 12);

  EXPECT_EQ(s.ClickText(L"Kaldır"), Actions{kActionConfirmUninstall});
  EXPECT_EQ(s.ClickText(L"Vazgeç"), Actions{kActionCloseOverlay});
  EXPECT_EQ(s.Click(BoxAt(panel.right - 60, panel.top + 16, 44, 44)), Actions{kActionCloseOverlay});
}

TEST(UninstallOverlay, RefusesInAmberWhileAGameOrADownloadRuns) {
  for (int what = 0; what < 3; ++what) {
    Screen s;
    s.app.overlay = Overlay::Uninstall;
    if (what == 0) s.app.gamesWereRunning = true, s.app.runningCount = 1;
    if (what == 1) s.snap.gameRunning = true;
    if (what == 2) s.snap.serverRunning[0] = true;
    s.Frame();
    EXPECT_TRUE(SameColor(s.Find(L"Oyun açıkken ya da bir indirme sürerken kaldırılamaz.").color, theme::kAmber))
        << what;
    EXPECT_FALSE(s.Has(L"D:\\Oyunlar\\Talvoreen")) << what;
    EXPECT_EQ(s.ClickText(L"Kaldır"), Actions{}) << what;
    EXPECT_EQ(s.ClickText(L"Vazgeç"), Actions{kActionCloseOverlay}) << what;
  }
}

TEST(UninstallOverlay, AfterAFailureOffersRetryAndClose) {
  Screen s;
  s.app.overlay = Overlay::Uninstall;
  s.app.uninstallError = L"Erişim engellendi: D:\\Oyunlar\\Talvoreen\\Talvoreen.exe";
  s.Frame();
  EXPECT_TRUE(s.Has(L"Bazı dosyalar kaldırılamadı"));
  EXPECT_TRUE(s.Has(L"Oyun ya da başka bir program dosyaları kullanıyor olabilir. Kapatıp tekrar dene."));
  EXPECT_TRUE(SameColor(s.Find(s.app.uninstallError).color, theme::kRed));
  EXPECT_FALSE(s.Has(L"Kaldır"));
  EXPECT_FALSE(s.Has(L"Vazgeç"));
  EXPECT_EQ(s.ClickText(L"Tekrar dene"), Actions{kActionConfirmUninstall});
  EXPECT_EQ(s.ClickText(L"Kapat"), Actions{kActionCloseOverlay});

  s.snap.gtaRunning = true;
  s.Frame();
  EXPECT_EQ(s.ClickText(L"Tekrar dene"), Actions{}) << "a retry obeys the same rule";
}

TEST(UninstallOverlay, WhileRemovingShowsTheCountAndCannotBeClosed) {
  Screen s;
  s.app.overlay = Overlay::Uninstall;
  s.app.uninstallRunning = true;
  s.app.uninstallDeleted = 412;
  s.Frame();
  EXPECT_TRUE(s.Has(L"OYUN DOSYALARI"));
  EXPECT_TRUE(s.Has(L"Oyun dosyaları kaldırılıyor"));
  EXPECT_TRUE(s.Has(L"412 dosya silindi"));
  EXPECT_FALSE(s.Has(L"Kaldır"));
  EXPECT_FALSE(s.Has(L"Vazgeç"));
  EXPECT_EQ(s.ProgressTracks(), 1) << "the indeterminate bar in the panel";

  const RectF panel = OpenPanel(600, 224);
  EXPECT_TRUE(Inside(s.Find(L"412 dosya silindi").box, panel));
  for (const RectF& closeBox : {BoxAt(panel.right - 60, panel.top + 16, 44, 44),
                                BoxAt(OpenPanel(600, 360).right - 60, OpenPanel(600, 360).top + 16, 44, 44)}) {
    EXPECT_EQ(s.Click(closeBox), Actions{});
  }
}

// ---- Rules behind the buttons ------------------------------------------------------------

TEST(ScreenRules, EveryConditionBlocksUninstallAndGtaReinstall) {
  AppState app;
  app.installed = true;
  app.installFolder = L"D:\\Oyunlar\\Talvoreen";
  app.now = 100;
  app.launchDeadline = 100;  // a deadline reached is a deadline passed
  const UiSnapshot snap;
  ASSERT_TRUE(CanUninstall(app, snap));
  ASSERT_TRUE(CanReinstallGta(app, snap));

  struct Case {
    const char* what;
    void (*set)(AppState&, UiSnapshot&);
    bool uninstall, reinstall;  // still allowed
  };
  const Case cases[] = {
      {"games were running", [](AppState& a, UiSnapshot&) { a.gamesWereRunning = true; }, false, true},
      {"a game counted", [](AppState& a, UiSnapshot&) { a.runningCount = 1; }, false, false},
      {"game files busy", [](AppState&, UiSnapshot& s) { s.gameRunning = true; }, false, true},
      {"GTA worker busy", [](AppState&, UiSnapshot& s) { s.gtaRunning = true; }, false, false},
      {"GTA downloading", [](AppState&, UiSnapshot& s) { s.gta.status = kGtaDownloading; }, true, false},
      {"GTA connecting", [](AppState&, UiSnapshot& s) { s.gta.status = kGtaConnecting; }, true, false},
      {"GTA extracting", [](AppState&, UiSnapshot& s) { s.gta.status = kGtaExtracting; }, true, false},
      {"uninstall running", [](AppState& a, UiSnapshot&) { a.uninstallRunning = true; }, false, false},
      {"inside the launch window", [](AppState& a, UiSnapshot&) { a.launchDeadline = 100.5; }, false, false},
      {"no install folder", [](AppState& a, UiSnapshot&) { a.installFolder.clear(); }, false, false},
      {"server files busy", [](AppState&, UiSnapshot& s) { s.serverRunning[3] = true; }, false, true},
      {"play requested", [](AppState& a, UiSnapshot&) { a.playRequested = true; }, true, false},
      {"not installed", [](AppState& a, UiSnapshot&) { a.installed = false; }, true, false},
  };
  for (const Case& c : cases) {
    AppState a = app;
    UiSnapshot s = snap;
    c.set(a, s);
    EXPECT_EQ(CanUninstall(a, s), c.uninstall) << c.what;
    EXPECT_EQ(CanReinstallGta(a, s), c.reinstall) << c.what;
  }
}

TEST(ScreenRules, GtaStateTextBusyPhasesWinOverValidity) {
  AppState app;
  UiSnapshot snap;
  EXPECT_EQ(GtaStateText(app, snap), L"Henüz kurulmadı");
  snap.gta.status = kGtaFailed;
  EXPECT_EQ(GtaStateText(app, snap), L"Kurulamadı");
  app.gtaValid = true;
  EXPECT_EQ(GtaStateText(app, snap), L"Kurulu · bozulduysa yeniden indirilir");
  snap.gta.status = kGtaConnecting;
  EXPECT_EQ(GtaStateText(app, snap), L"İndiriliyor");
  snap.gta.status = kGtaDownloading;
  EXPECT_EQ(GtaStateText(app, snap), L"İndiriliyor");
  snap.gta.status = kGtaExtracting;
  EXPECT_EQ(GtaStateText(app, snap), L"Kuruluyor");
  snap.gta.status = kGtaPaused;
  app.gtaValid = false;
  EXPECT_EQ(GtaStateText(app, snap), L"Henüz kurulmadı");
}

// ---- Static scene and motion --------------------------------------------------------------

TEST(FrameRecorder, MotionComesAfterTheSceneDimmedOnlyByShadesDrawnOverIt) {
  auto record = [](const std::wstring& staticText, float motionX, ScreenCanvas& target) {
    FrameRecorder r(target);
    r.DrawString(L"first", BoxAt(0, 0, 50, 20), 6, theme::kText, TextAlign::Leading, TextVAlign::Top, false);
    r.BeginMotion();
    r.FillEllipse(PointF{motionX, 100}, 5, 5, theme::kGreen);  // later covered by a quarter-keeping shade
    r.EndMotion();
    r.Shade(RectF{0, 0, 200, 200}, 0.25f);
    r.BeginMotion();
    r.FillEllipse(PointF{150, 150}, 5, 5, theme::kGreen);  // over that shade
    r.FillEllipse(PointF{300, 300}, 5, 5, theme::kGreen);  // under the opaque one below
    r.EndMotion();
    r.Shade(RectF{290, 290, 310, 310}, 0);
    r.DrawString(staticText, BoxAt(0, 40, 50, 20), 6, theme::kText, TextAlign::Leading, TextVAlign::Top, false);
    r.Play();
    return r.SceneHash();
  };
  ScreenCanvas target;
  const uint64_t hash = record(L"second", 100, target);
  ASSERT_EQ(target.scenes, std::vector<uint64_t>{hash});
  ASSERT_EQ(target.items.size(), 2u);
  EXPECT_EQ(target.items[1].text, L"second") << "the whole scene comes before any motion";
  ASSERT_EQ(target.ellipses.size(), 2u);
  EXPECT_TRUE(SameColor(target.ellipses[0].color, WithAlpha(theme::kGreen, 0.25f)));
  EXPECT_TRUE(SameColor(target.ellipses[1].color, theme::kGreen));
  EXPECT_EQ(target.ellipses[1].centre.x, 150);

  ScreenCanvas other;
  EXPECT_EQ(record(L"second", 120, other), hash) << "motion does not change the scene";
  EXPECT_NE(record(L"sekond", 100, other), hash);
}

// Which part of the kept scene a change draws again: the areas of the commands only one of
// the two scenes draws, in canvas coordinates, within their clips, and nothing for motion.
TEST(FrameRecorder, DamageIsWhereTheScenesDiffer) {
  using Draw = std::function<void(Canvas&)>;
  auto signature = [](const Draw& draw) {
    ScreenCanvas target;
    FrameRecorder r(target);
    draw(r);
    r.Play();
    return r.SceneSignature();
  };
  const Color red = theme::kRed, green = theme::kGreen;
  auto rect = [](Canvas& c, float x, Color color) { c.FillRect(BoxAt(x, 10, 40, 20), color); };
  auto layer = [&](Canvas& c, float opacity) {
    c.PushLayer(opacity), rect(c, 100, red), c.PopLayer(), rect(c, 300, red);
  };
  const RectF none{}, at100{99, 9, 141, 31};
  const struct {
    const char* what;
    Draw before, after;
    RectF damage;
  } cases[] = {
      {"the same", [&](Canvas& c) { rect(c, 100, red); }, [&](Canvas& c) { rect(c, 100, red); }, none},
      {"a new colour", [&](Canvas& c) { rect(c, 100, red); }, [&](Canvas& c) { rect(c, 100, green); }, at100},
      {"moved", [&](Canvas& c) { rect(c, 100, red); }, [&](Canvas& c) { rect(c, 300, red); }, RectF{99, 9, 341, 31}},
      {"gone", [&](Canvas& c) { rect(c, 300, red), rect(c, 100, red); }, [&](Canvas& c) { rect(c, 300, red); }, at100},
      {"another order", [&](Canvas& c) { rect(c, 100, red), rect(c, 300, green); },
       [&](Canvas& c) { rect(c, 300, green), rect(c, 100, red); }, none},
      {"only motion", [&](Canvas& c) { c.BeginMotion(), rect(c, 100, red), c.EndMotion(); },
       [&](Canvas& c) { c.BeginMotion(), rect(c, 300, red), c.EndMotion(); }, none},
      {"translated", [&](Canvas& c) { c.SetTranslation(0, 100), rect(c, 100, red); },
       [&](Canvas& c) { c.SetTranslation(0, 104), rect(c, 100, red); }, RectF{99, 109, 141, 135}},
      {"clipped", [&](Canvas& c) { c.PushClip(RectF{0, 0, 120, 660}), rect(c, 100, red), c.PopClip(); },
       [&](Canvas& c) { c.PushClip(RectF{0, 0, 120, 660}), rect(c, 100, green), c.PopClip(); }, RectF{99, 9, 120, 31}},
      {"a layer's opacity", [&](Canvas& c) { layer(c, 0.5f); }, [&](Canvas& c) { layer(c, 0.6f); }, at100},
  };
  for (const auto& c : cases) {
    const RectF damage = FrameDamage(signature(c.before), signature(c.after));
    EXPECT_TRUE(damage.left == c.damage.left && damage.top == c.damage.top && damage.right == c.damage.right &&
                damage.bottom == c.damage.bottom)
        << c.what << ": " << damage.left << ", " << damage.top << ", " << damage.right << ", " << damage.bottom;
  }
  // Text may reach past its box; a changed label's damage covers that.
  const RectF box{400, 300, 500, 320};
  auto label = [&](Color color) {
    return signature([&](Canvas& c) { c.DrawString(L"Ay", box, 6, color, TextAlign::Center, TextVAlign::Top, false); });
  };
  EXPECT_TRUE(Inside(box.Inflated(box.Height()), FrameDamage(label(red), label(green))));

  // On the launcher's own screen, a hover and a press on "Ayarlar" change only the title bar
  // and the reach of its label.
  Screen screen;
  screen.Frame();
  for (const bool press : {false, true}) {
    const FrameSignature before = screen.canvas.sceneOps;
    screen.ui.MouseMove(layout::kSettingsButton.left + 20, layout::kSettingsButton.top + 10);
    if (press) screen.ui.ButtonDown();
    screen.Frame();
    const RectF damage = FrameDamage(before, screen.canvas.sceneOps);
    EXPECT_GT(damage.Width(), 0) << press;
    EXPECT_TRUE(Inside(damage, RectF{800, 0, 1100, 90})) << press << ": " << damage.left << ", " << damage.bottom;
  }
}

// Every point that moving drawing reaches after the scene, inside the clips it pushed.
struct MotionPoints : ScreenCanvas {
  bool afterScene = false;
  std::vector<RectF> clips;
  std::vector<PointF> points;
  void DrawScene(uint64_t hash, const FrameSignature& ops, const std::function<void(Canvas&)>& replay,
                 const std::function<void(Canvas&, const RectF&)>& within) override {
    ScreenCanvas::DrawScene(hash, ops, replay, within);
    afterScene = true;
  }
  void PushClip(const RectF& box) override {
    clips.push_back(box);
    ScreenCanvas::PushClip(box);
  }
  void PopClip() override {
    if (!clips.empty()) clips.pop_back();
    ScreenCanvas::PopClip();
  }
  void Keep(const PointF* p, size_t n, Color color) {
    if (!afterScene || color.a <= 0) return;
    for (size_t i = 0; i < n; ++i) {
      bool inside = true;
      for (const RectF& clip : clips) inside = inside && clip.Contains(p[i].x, p[i].y);
      if (inside) points.push_back(p[i]);
    }
  }
  void Segments(const PointF* p, size_t pairs, float, Color color) override { Keep(p, 2 * pairs, color); }
  void StrokePolyline(const PointF* p, size_t n, bool, float, Color color) override { Keep(p, n, color); }
  void Line(PointF from, PointF to, float, Color color) override {
    const PointF ends[] = {from, to};
    Keep(ends, 2, color);
  }
};

// The emblem turns behind the settings panel: none of it may cross the panel, not even in the
// frames where the panel is still fading in.
TEST(FrameRecorder, NothingThatMovesIsDrawnOverAnOpeningPanel) {
  for (const double sinceOpened : {0.02, 0.09, 1.0}) {
    AppState app;
    app.installed = true;
    app.overlay = Overlay::Settings;
    app.overlayStart = 10;
    UiSnapshot snap;
    std::vector<int32_t> actions;
    Ui ui;
    ui.BeginFixedFrame(10 + sinceOpened, 1 / 60.0);
    MotionPoints canvas;
    DrawLauncherFrame(ui, canvas, FrameModel{app, snap, ReadyStatus(), actions});
    ui.EndFrame();
    const RectF panel{220, 56 + 50, 880, 56 + 50 + 504 + 12};  // 660 x 504, up to 12 lower while opening
    int over = 0;
    for (const PointF& p : canvas.points) over += panel.Contains(p.x, p.y) ? 1 : 0;
    EXPECT_FALSE(canvas.points.empty()) << "the emblem and the grid still move beside the panel";
    EXPECT_EQ(over, 0) << sinceOpened << " s after opening";
  }
}

TEST(FrameRecorder, EveryShotKeepsItsSceneWhileTimePasses) {
  size_t count = 0;
  const ShotScenario* shots = ShotScenarios(count);
  for (size_t i = 0; i < count; ++i) {
    Screen s;
    s.app.devServer = shots[i].devServerOnly;
    shots[i].apply(s.app, s.snap);
    s.status = BuildStatusView(s.app, s.snap);
    s.Frame();
    const std::vector<uint64_t> first = s.canvas.scenes;
    s.time += 0.37;  // every animation has moved
    s.Frame();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(s.canvas.scenes, first) << shots[i].name;
    EXPECT_TRUE(s.ui.input.animating) << shots[i].name;
  }
}

// What each `--shots` picture shows: the status bar's title, the overlay and the selected
// card. A scenario edited by mistake changes one of these even when the file name stays.
TEST(ShotScenarios, EachShotShowsItsScreen) {
  struct Expected {
    const wchar_t* name;
    const wchar_t* title;
    Overlay overlay;
    int selected;
  };
  const Expected expected[] = {
      {L"01-setup", L"Kuruluma hazır", Overlay::None, 0},
      {L"02-checking", L"Güncellemeler denetleniyor", Overlay::None, 0},
      {L"03-downloading", L"Oyun dosyaları indiriliyor", Overlay::None, 0},
      {L"04-gta-starting", L"Oyun dosyaları indiriliyor", Overlay::None, 0},
      {L"05-gta-failed", L"Oyun dosyaları indirilemedi", Overlay::None, 0},
      {L"06-gta-downloading", L"Oyun dosyaları indiriliyor", Overlay::None, 0},
      {L"07-gta-extracting", L"Oyun dosyaları kuruluyor", Overlay::None, 0},
      {L"08-ready", L"Oynamaya hazır", Overlay::None, 0},
      {L"09-running", L"Oyun açık", Overlay::None, 0},
      {L"17-running-two", L"2 oyun açık", Overlay::None, 0},
      {L"18-pick-server", L"Sunucunu seç", Overlay::None, -1},
      {L"19-server-files", L"Meridian Roleplay dosyaları indiriliyor", Overlay::None, 2},
      {L"20-server-files-failed", L"Corvel Roleplay dosyaları denetlenemedi", Overlay::None, 0},
      {L"22-dev-server", L"Oynamaya hazır", Overlay::None, 3},
      {L"21-server-files-missing", L"Corvel Roleplay dosyaları eksik", Overlay::None, 0},
      {L"10-failed", L"Oyun dosyaları indirilemedi", Overlay::None, 0},
      {L"11-settings", L"Oynamaya hazır", Overlay::Settings, 0},
      {L"25-settings-no-gta", L"Oyun dosyaları indiriliyor", Overlay::Settings, 0},
      {L"23-uninstall", L"Oynamaya hazır", Overlay::Uninstall, 0},
      {L"24-uninstalling", L"Oynamaya hazır", Overlay::Uninstall, 0},
      {L"13-update-available", L"Güncelleme mevcut", Overlay::None, 0},
      {L"14-first-download", L"Oyun dosyaları indirilmedi", Overlay::None, 0},
      {L"15-launcher-updating", L"Launcher güncelleniyor", Overlay::None, 0},
      {L"16-launcher-outdated", L"Launcher güncellemesi gerekli", Overlay::None, 0},
  };
  size_t count = 0;
  const ShotScenario* shots = ShotScenarios(count);
  ASSERT_EQ(count, std::size(expected));
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(testing::Message() << "shot " << i);
    EXPECT_EQ(std::wstring(shots[i].name), expected[i].name);
    EXPECT_EQ(shots[i].devServerOnly, std::wstring(shots[i].name) == L"22-dev-server");
    AppState app;
    app.devServer = true;
    app.setupFreeSpaceKnown = true;
    app.setupFreeSpace = 123456789;
    app.overlay = Overlay::Uninstall;  // whatever the previous shot left must go
    UiSnapshot snap;
    snap.game.status = kSyncFailed;
    shots[i].apply(app, snap);
    EXPECT_EQ(BuildStatusView(app, snap).title, expected[i].title);
    EXPECT_EQ(app.overlay, expected[i].overlay);
    EXPECT_EQ(app.selected, expected[i].selected);
    EXPECT_EQ(app.installed, i != 0);
    // What the renderer measured on this machine and the development switch carry over.
    EXPECT_TRUE(app.devServer);
    EXPECT_TRUE(app.setupFreeSpaceKnown);
    EXPECT_EQ(app.setupFreeSpace, 123456789u);
  }
}

}  // namespace
