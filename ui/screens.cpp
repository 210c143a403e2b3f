// Sections: shared drawing helpers; status bar; title bar; setup screen; server cards and the
// main screen; settings overlay; uninstall overlay; the frame.
#include "ui/screens.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/catalogue.h"
#include "base/format.h"
#include "base/text.h"
#include "base/version.h"
#include "ui/app_rules.h"
#include "ui/background.h"
#include "ui/frame_recorder.h"
#include "ui/screen_rules.h"
#include "ui/theme.h"

namespace {

// ---- Shared drawing helpers --------------------------------------------------------------

void Label(Canvas& c, const std::wstring& text, const RectF& box, int style, Color color,
           TextAlign align = TextAlign::Leading) {
  c.DrawString(text, box, style, color, align, TextVAlign::Center, true);
}

void Paragraph(Canvas& c, const std::wstring& text, const RectF& box, int style, Color color) {
  c.DrawString(text, box, style, color, TextAlign::Leading, TextVAlign::Top, false);
}

PointF Centre(const RectF& box) { return PointF{(box.left + box.right) / 2, (box.top + box.bottom) / 2}; }

void Queue(const FrameModel& m, bool activated, int32_t action) {
  if (activated) m.actions.push_back(action);
}

// ---- Status bar --------------------------------------------------------------------------

constexpr float kStatusLeft = 102;
constexpr float kStatusWidth = 662;
constexpr float kStatusSecondaryRoom = 184;

// The fraction arrives as a float, and 0.42f is 0.41999998, which the truncating percentage
// shows as "%41". A nudge far below one percent fixes that while only a full bar reads "%100".
double PercentFraction(float progress) {
  if (progress >= 1) return 1;
  return std::min(static_cast<double>(progress) + 1e-6, 0.999999);
}

// The whole text in a panel above `anchor` and the status band, wrapped to at most kTooltipWidth.
constexpr float kTooltipWidth = 560, kTooltipPadding = 12, kTooltipLine = 18;

void DrawTooltip(Canvas& c, const std::wstring& text, const RectF& anchor) {
  const float whole = c.MeasureText(text, 8);
  const float textWidth = std::min(whole + 2, kTooltipWidth - 2 * kTooltipPadding);
  // Wrapping breaks between words, so a wrapped line holds up to a word less than the width.
  const float lines = whole + 2 <= textWidth ? 1 : std::ceil(whole / (textWidth - 60));
  const float height = lines * kTooltipLine + 2 * kTooltipPadding;
  // Above the status band, so that the bar's own title stays readable.
  const float bottom = std::min(anchor.top, 548.0f) - 6;
  const RectF box = BoxAt(anchor.left - kTooltipPadding, bottom - height, textWidth + 2 * kTooltipPadding, height);
  c.SoftShadow(box, 8, 16, 0.6f);
  c.FillRoundedRect(box, 8, theme::kSurfaceHigh);
  c.Shade(box, 0);
  c.StrokeRoundedRect(box, 8, 1, theme::kBorderStrong);
  Paragraph(c, text, box.Inflated(-kTooltipPadding), 8, theme::kText);
}

void DrawStatusBar(Ui& ui, Canvas& c, const FrameModel& m) {
  const StatusView& s = m.status;
  c.FillRect(RectF{0, 548, 1100, 660}, WithAlpha(theme::kBackground, 0.88f));
  c.Shade(RectF{0, 548, 1100, 660}, 0.12f);
  c.Line(PointF{0, 548.5f}, PointF{1100, 548.5f}, 1, theme::kBorder);

  const bool hasBar = s.progress >= 0;
  const bool hasSecondary = s.retryLink || !s.secondaryLabel.empty();
  const float titleY = hasBar ? 570.0f : 579.0f;
  const float width = kStatusWidth - (hasSecondary ? kStatusSecondaryRoom : 0);

  RectF titleBox = BoxAt(kStatusLeft, titleY, width, 26);
  if (s.progress >= 0 && s.progress <= 1) {
    const std::wstring percent = FormatPercent(PercentFraction(s.progress));
    Label(c, percent, titleBox, 4, theme::kAccent, TextAlign::Trailing);
    // A long title ends in an ellipsis before the percentage instead of running under it.
    titleBox.right -= c.MeasureText(percent, 4) + 12;
  }
  Label(c, s.title, titleBox, 4, theme::kText);
  // A reason too long for the line ends after a whole word; the whole text shows while the
  // mouse rests on the line (and the log has it).
  const RectF detailBox = BoxAt(kStatusLeft, titleY + 28, width, 20);
  const std::wstring detail =
      FitAtWordBoundary(s.detail, width, [&c](const std::wstring& t) { return c.MeasureText(t, 8); });
  Label(c, detail, detailBox, 8, s.detailIsError ? theme::kRed : theme::kTextSecondary);
  if (detail != s.detail && !ui.overlayOpen && detailBox.Contains(ui.input.mouseX, ui.input.mouseY)) {
    DrawTooltip(c, s.detail, detailBox);
  }
  if (hasBar) ProgressBar(ui, c, BoxAt(kStatusLeft, titleY + 56, width, 6), s.progress);
  DrawIcon(ui, c, s.kind, PointF{69, titleY + 13}, 26, s.accent);

  if (!s.primaryLabel.empty()) {
    Queue(m,
          Button(ui, c, MakeWidgetId("status.primary"), layout::kStatusPrimary, s.primaryLabel, ButtonStyle::Primary,
                 s.primaryEnabled, s.primaryIsPlay),
          s.primaryAction);
  }
  if (s.retryLink) {
    Queue(m,
          Button(ui, c, MakeWidgetId("status.retry"), layout::kStatusSecondary, L"Tekrar dene", ButtonStyle::Ghost,
                 true),
          kActionRetrySync);
  } else if (!s.secondaryLabel.empty()) {
    Queue(m,
          Button(ui, c, MakeWidgetId("status.secondary"), layout::kStatusSecondary, s.secondaryLabel,
                 ButtonStyle::Ghost, s.secondaryEnabled),
          s.secondaryAction);
  }
}

// ---- Title bar ---------------------------------------------------------------------------

void DrawLogo(Canvas& c) {
  c.Line(PointF{34, 17}, PointF{34, 39}, 1.54f, theme::kAccentLight);
  c.StrokeEllipse(PointF{34, 23.6f}, 9.24f, 2.2f, 1.65f, theme::kAccent);
  c.StrokeEllipse(PointF{34, 29.32f}, 7.92f, 1.98f, 1.65f, theme::kAccent);
  c.StrokeEllipse(PointF{34, 34.6f}, 4.4f, 1.32f, 1.65f, theme::kAccent);
}

// The gear and "Ayarlar" side by side, which neither Button nor IconButton draws.
bool SettingsButton(Ui& ui, Canvas& c, bool enabled) {
  const RectF box = layout::kSettingsButton;
  const Interaction in = ui.Interact(MakeWidgetId("settings"), box, enabled);
  c.FillRoundedRect(box, 8, WithAlpha(theme::kWhite, in.pressed ? 0.12f : 0.08f * in.hover));
  const Color color = enabled ? Mix(theme::kTextSecondary, theme::kText, in.hover) : theme::kTextMuted;
  const std::wstring label = L"Ayarlar";
  const float iconSize = 16, gap = 8;
  const float groupLeft = (box.left + box.right - (iconSize + gap + c.MeasureText(label, 7))) / 2;
  DrawIcon(ui, c, 6, PointF{groupLeft + iconSize / 2, Centre(box).y}, iconSize, color);
  Label(c, label, RectF{groupLeft + iconSize + gap, box.top, box.right, box.bottom}, 7, color);
  if (in.focusRing) FocusRing(c, box, 8);
  return in.activated;
}

void DrawTitleBar(Ui& ui, Canvas& c, const FrameModel& m) {
  ui.SetLayer(kLayerAlways);
  DrawLogo(c);
  Label(c, L"TALVOREEN", BoxAt(56, 0, 220, 56), 0, theme::kText);
  if (m.app.installed) Queue(m, SettingsButton(ui, c, m.app.overlay == Overlay::None), kActionOpenSettings);
  Queue(m, IconButton(ui, c, MakeWidgetId("window.minimize"), layout::kWindowMinimise, 8, false), kActionMinimize);
  Queue(m, IconButton(ui, c, MakeWidgetId("window.close"), layout::kWindowClose, 7, true), kActionClose);
}

// ---- Setup screen ------------------------------------------------------------------------

void DrawSetupScreen(Ui& ui, Canvas& c, const FrameModel& m) {
  const AppState& app = m.app;
  Label(c, L"KURULUM", BoxAt(56, 116, 420, 18), 3, theme::kAccent);
  Label(c, L"TALVOREEN", BoxAt(51, 128, 640, 112), 1, theme::kText);
  Paragraph(c, L"Launcher ve oyunun bütün dosyaları seçtiğin klasöre kurulur.", BoxAt(56, 244, 440, 50), 6,
            theme::kTextSecondary);
  Label(c, L"KURULUM KLASÖRÜ", BoxAt(56, 322, 300, 18), 3, theme::kTextMuted);

  const RectF folderBox = BoxAt(56, 346, 500, 56);
  c.FillRoundedRect(folderBox, 12, WithAlpha(theme::kSurface, 0.92f));
  c.Shade(folderBox, 0.08f);
  c.StrokeRoundedRect(folderBox, 12, 1, theme::kBorder);
  DrawIcon(ui, c, 5, PointF{82, Centre(folderBox).y}, 20, theme::kAccent);
  Label(c, app.setupCandidate, RectF{104, folderBox.top, 104 + 328, folderBox.bottom}, 7, theme::kText);
  Queue(m,
        Button(ui, c, MakeWidgetId("setup.change"), layout::kSetupChange, L"Değiştir", ButtonStyle::Outline, true),
        kActionChooseFolder);

  if (app.setupFreeSpaceKnown) {
    Label(c, L"Bu diskte " + FormatSize(app.setupFreeSpace) + L" boş alan var", BoxAt(56, 410, 500, 18), 8,
          theme::kTextMuted);
  }
  DrawIcon(ui, c, 0, PointF{66, 452}, 18, theme::kGreen);
  Label(c, L"Masaüstüne ve Başlat menüsüne kısayol eklenir", BoxAt(82, 440, 474, 24), 8, theme::kTextSecondary);
  if (!app.setupError.empty()) Paragraph(c, app.setupError, BoxAt(56, 488, 620, 40), 8, theme::kRed);
}

// ---- Server cards and the main screen ----------------------------------------------------

struct CardLook {
  const char* id;
  const char* selectionId;  // the selection animation's slot in the widget state map
  const wchar_t* header;
  const wchar_t* subtitle;
  Color color;
};

constexpr CardLook kCards[ServerCatalogue::kCount] = {
    {"server.corvel", "server.corvel.selected", L"CORVEL", L"ROLEPLAY", Rgb(255, 0, 80)},
    {"server.talvoreen", "server.talvoreen.selected", L"TALVOREEN", L"ROLEPLAY", Rgb(201, 209, 255)},
    {"server.meridian", "server.meridian.selected", L"MERİDİAN", L"ROLEPLAY", Rgb(232, 55, 58)},
    {"server.dev", "server.dev.selected", L"DEV", L"SERVER", Rgb(245, 165, 36)},
};

constexpr float kCardTop = 338, kCardHeight = 178;

void DrawCodeGlyph(Canvas& c, PointF o, Color color) {
  const float w = 3.2f;
  const PointF left[] = {{o.x - 9, o.y - 10}, {o.x - 19, o.y}, {o.x - 9, o.y + 10}};
  const PointF right[] = {{o.x + 9, o.y - 10}, {o.x + 19, o.y}, {o.x + 9, o.y + 10}};
  c.StrokePolyline(left, 3, false, w, color);
  c.StrokePolyline(right, 3, false, w, color);
  c.Line(PointF{o.x + 4, o.y - 13}, PointF{o.x - 4, o.y + 13}, w, color);
}

Color DotColor(ServerCardLines::Dot dot, Color cardColor) {
  switch (dot) {
    case ServerCardLines::Dot::Card:
      return cardColor;
    case ServerCardLines::Dot::Green:
      return theme::kGreen;
    case ServerCardLines::Dot::Secondary:
      return theme::kTextSecondary;
    case ServerCardLines::Dot::Muted:
      break;
  }
  return theme::kTextMuted;
}

void DrawCardStatusLine(Ui& ui, Canvas& c, const RectF& card, const ServerCardLines& lines, Color cardColor) {
  const Color color = DotColor(lines.dot, cardColor);
  const float dotRadius = 3.5f, gap = 8;
  const float centreY = card.top + 157;
  const float groupWidth = 2 * dotRadius + gap + c.MeasureText(lines.status, 8);
  const float groupLeft = (card.left + card.right - groupWidth) / 2;
  const PointF dot{groupLeft + dotRadius, centreY};
  if (lines.pulsing) {
    // Drawn over the finished card: the halo is the dot's own green, so it may cover the dot.
    const float p = static_cast<float>(ui.now * 0.6 - std::floor(ui.now * 0.6));
    const float r = dotRadius + 6 * p;
    c.BeginMotion();
    c.FillEllipse(dot, r, r, WithAlpha(theme::kGreen, (1 - p) * 0.35f));
    c.EndMotion();
    ui.input.animating = true;
  }
  c.FillEllipse(dot, dotRadius, dotRadius, color);
  Label(c, lines.status, RectF{groupLeft + 2 * dotRadius + gap, centreY - 10, card.right, centreY + 10}, 8, color);
}

bool DrawServerCard(Ui& ui, Canvas& c, int index, const RectF& box, bool selected, const PlayerCountEntry& entry) {
  const CardLook& look = kCards[index];
  const Interaction in = ui.Interact(MakeWidgetId(look.id), box, true);
  float& selection = ui.State(MakeWidgetId(look.selectionId));
  ui.Animate(selection, selected ? 1.0f : 0.0f);

  const float radius = 14;
  const PointF centre = Centre(box);
  c.FillRoundedRect(box, radius, Mix(theme::kSurface, look.color, 0.06f * in.hover + 0.12f * selection));
  c.Shade(box, 0);
  c.PushClip(box);
  c.RadialGlow(PointF{centre.x, box.top + 38}, 74, 46, WithAlpha(look.color, 0.22f + 0.18f * selection));
  c.PopClip();
  const float outline = selection > in.hover * 0.5f ? selection : in.hover * 0.5f;
  c.StrokeRoundedRect(box, radius, 1, Mix(theme::kBorder, WithAlpha(look.color, 0.8f), outline));

  if (selection > 0) {
    const PointF badge{box.left + 20, box.top + 20};
    c.FillEllipse(badge, 10, 10, WithAlpha(look.color, selection));
    const PointF check[] = {{badge.x - 4.5f, badge.y + 0.2f}, {badge.x - 1.2f, badge.y + 3.5f},
                            {badge.x + 4.8f, badge.y - 3.2f}};
    c.StrokePolyline(check, 3, false, 2, WithAlpha(theme::kBackground, selection));
  }

  const RectF emblemBox = BoxAt(centre.x - 22, box.top + 16, 44, 44);
  if (index == ServerCatalogue::kDevIndex) {
    DrawCodeGlyph(c, Centre(emblemBox), look.color);
  } else {
    c.DrawEmblem(index, emblemBox, 1);
  }
  Label(c, look.header, RectF{box.left, box.top + 68, box.right, box.top + 88}, 0, theme::kText, TextAlign::Center);
  Label(c, look.subtitle, RectF{box.left, box.top + 90, box.right, box.top + 106}, 3, theme::kTextMuted,
        TextAlign::Center);
  c.Line(PointF{box.left + 14, box.top + 117.5f}, PointF{box.right - 14, box.top + 117.5f}, 1, theme::kBorder);

  const ServerCardLines lines = CardLines(index, entry);
  Label(c, lines.players, RectF{box.left, box.top + 123, box.right, box.top + 143}, 7, theme::kText,
        TextAlign::Center);
  DrawCardStatusLine(ui, c, box, lines, look.color);

  if (in.focusRing) FocusRing(c, box, radius);
  return in.activated;
}

void DrawMainScreen(Ui& ui, Canvas& c, const FrameModel& m) {
  Label(c, L"SAN ANDREAS MULTIPLAYER", BoxAt(56, 112, 420, 18), 3, theme::kAccent);
  Label(c, L"TALVOREEN", BoxAt(51, 124, 640, 112), 1, theme::kText);
  Paragraph(c,
            L"Corvel, Talvoreen ve Meridian Roleplay tek launcher'da. Sunucunu seç; dosyaları kendiliğinden iner.",
            BoxAt(56, 240, 430, 50), 6, theme::kTextSecondary);
  Label(c, L"SUNUCU SEÇ", BoxAt(56, 314, 300, 18), 3, theme::kTextMuted);

  const int count = m.app.devServer ? ServerCatalogue::kCount : ServerCatalogue::kDevIndex;
  for (int i = 0; i < count; ++i) {
    const bool clicked = DrawServerCard(ui, c, i, layout::ServerCard(i, m.app.devServer), m.app.selected == i,
                                        m.snap.players[static_cast<size_t>(i)]);
    Queue(m, clicked, kActionSelectServer0 + i);
  }
}

// ---- Settings overlay --------------------------------------------------------------------

struct SettingsRow {
  const char* id;
  const wchar_t* label;
  std::wstring value;
  const wchar_t* button;
  int32_t action;
  bool enabled;
};

void DrawSettingsOverlay(Ui& ui, Canvas& c, const FrameModel& m) {
  const AppState& app = m.app;
  const UiSnapshot& snap = m.snap;
  const RectF p = BeginOverlayPanel(ui, c, 660, 504);
  const float width = p.Width();

  Queue(m, IconButton(ui, c, MakeWidgetId("settings.close"), BoxAt(p.right - 60, p.top + 16, 44, 36), 7, false),
        kActionCloseOverlay);
  Label(c, L"LAUNCHER", BoxAt(p.left + 40, p.top + 38, width - 80, 18), 3, theme::kAccent);
  Label(c, L"Ayarlar", BoxAt(p.left + 40, p.top + 60, width - 120, 36), 2, theme::kText);

  const std::wstring version =
      snap.game.installedBuild.empty() ? std::wstring(L"Henüz kurulmadı") : WideFromUtf8(snap.game.installedBuild);
  const SettingsRow rows[] = {
      {"settings.folder", L"KURULUM KLASÖRÜ", app.installFolder, L"Klasörü aç", kActionOpenFolder, true},
      {"settings.gta", L"GTA: SAN ANDREAS", GtaStateText(app, snap), L"Dosyaları doğrula", kActionReinstallGta,
       CanReinstallGta(app, snap)},
      {"settings.verify", L"OYUN SÜRÜMÜ", version, L"Dosyaları doğrula", kActionVerifyFiles,
       !snap.gameRunning && app.runningCount == 0},
      {"settings.uninstall", L"OYUN DOSYALARI", L"Kaldırıp sıfırdan yükleyebilirsin", L"Kaldır",
       kActionOpenUninstall, CanUninstall(app, snap)},
  };

  const float textWidth = width - 80 - 190;
  float rowTop = p.top + 118;
  for (const SettingsRow& row : rows) {
    c.Line(PointF{p.left + 40, rowTop + 0.5f}, PointF{p.right - 40, rowTop + 0.5f}, 1, theme::kBorder);
    Label(c, row.label, BoxAt(p.left + 40, rowTop + 16, textWidth, 16), 3, theme::kTextMuted);
    Label(c, row.value, BoxAt(p.left + 40, rowTop + 36, textWidth, 24), 7, theme::kText);
    Queue(m,
          Button(ui, c, MakeWidgetId(row.id), BoxAt(p.right - 40 - 170, rowTop + 18, 170, 44), row.button,
                 ButtonStyle::Outline, row.enabled),
          row.action);
    rowTop += 80;
  }
  c.Line(PointF{p.left + 40, rowTop + 0.5f}, PointF{p.right - 40, rowTop + 0.5f}, 1, theme::kBorder);

  Label(c, std::wstring(L"Talvoreen Launcher ") + kLauncherVersionW, BoxAt(p.left + 40, p.bottom - 56, width - 80, 24),
        8, theme::kTextMuted, TextAlign::Center);
  EndOverlayPanel(c);
}

// ---- Uninstall overlay -------------------------------------------------------------------

void DrawUninstallOverlay(Ui& ui, Canvas& c, const FrameModel& m) {
  const AppState& app = m.app;
  const bool running = app.uninstallRunning;
  const RectF p = BeginOverlayPanel(ui, c, 600, running ? 224.0f : 360.0f);
  const float width = p.Width();
  const RectF titleBox = BoxAt(p.left + 40, p.top + 60, width - 120, 36);

  // While files are being removed nothing may close the dialog: the worker reports into it.
  if (!running) {
    Queue(m, IconButton(ui, c, MakeWidgetId("uninstall.close"), BoxAt(p.right - 60, p.top + 16, 44, 44), 7, false),
          kActionCloseOverlay);
  }
  Label(c, L"OYUN DOSYALARI", BoxAt(p.left + 40, p.top + 38, width - 80, 18), 3, theme::kAccent);

  if (running) {
    Label(c, L"Oyun dosyaları kaldırılıyor", titleBox, 2, theme::kText);
    Label(c, DecimalText(static_cast<unsigned long long>(app.uninstallDeleted)) + L" dosya silindi",
          BoxAt(p.left + 40, p.top + 112, width - 80, 24), 6, theme::kTextSecondary);
    ProgressBar(ui, c, BoxAt(p.left + 40, p.top + 152, width - 80, 8), 2);
    EndOverlayPanel(c);
    return;
  }

  const bool canUninstall = CanUninstall(app, m.snap);
  const bool failed = !app.uninstallError.empty();
  const RectF bodyBox = BoxAt(p.left + 40, p.top + 106, width - 80, 72);
  if (failed) {
    Label(c, L"Bazı dosyalar kaldırılamadı", titleBox, 2, theme::kText);
    Paragraph(c, L"Oyun ya da başka bir program dosyaları kullanıyor olabilir. Kapatıp tekrar dene.", bodyBox, 6,
              theme::kTextSecondary);
    Label(c, app.uninstallError, BoxAt(p.left + 40, p.top + 186, width - 80, 40), 8, theme::kRed);
  } else {
    Label(c, L"Oyun dosyaları kaldırılsın mı?", titleBox, 2, theme::kText);
    Paragraph(c,
              L"Oyunun dosyaları, ayarları ve indirilen sunucu dosyaları silinir. GTA: San Andreas, launcher ve "
              L"ekran görüntülerin kalır. Sonra İNDİR ile oyunu sıfırdan yükleyebilirsin.",
              bodyBox, 6, theme::kTextSecondary);
    const RectF lineBox = BoxAt(p.left + 40, p.top + 186, width - 80, 20);
    if (canUninstall) {
      Label(c, app.installFolder, lineBox, 8, theme::kTextMuted);
    } else {
      Label(c, L"Oyun açıkken ya da bir indirme sürerken kaldırılamaz.", lineBox, 8, theme::kAmber);
    }
  }

  const RectF confirm = BoxAt(p.right - 40 - 160, p.bottom - 40 - 48, 160, 48);
  Queue(m,
        Button(ui, c, MakeWidgetId("uninstall.confirm"), confirm, failed ? L"Tekrar dene" : L"Kaldır",
               ButtonStyle::Primary, canUninstall),
        kActionConfirmUninstall);
  Queue(m,
        Button(ui, c, MakeWidgetId("uninstall.cancel"), BoxAt(confirm.left - 12 - 120, confirm.top, 120, 48),
               failed ? L"Kapat" : L"Vazgeç", ButtonStyle::Outline, true),
        kActionCloseOverlay);
  EndOverlayPanel(c);
}

}  // namespace

RectF layout::ServerCard(int index, bool devServer) {
  const float width = devServer ? 118.0f : 156.0f;
  const float gap = devServer ? 10.0f : 12.0f;
  return BoxAt(56 + index * (width + gap), kCardTop, width, kCardHeight);
}

// ---- The frame ---------------------------------------------------------------------------

void DrawLauncherFrame(Ui& ui, Canvas& target, const FrameModel& model) {
  // What does not move is drawn once and kept while it stays the same; see FrameRecorder.
  FrameRecorder c(target);
  ui.overlayOpen = model.app.overlay != Overlay::None;
  ui.overlayStart = model.app.overlayStart;

  DrawBackground(ui, c);
  ui.SetLayer(kLayerBase);
  if (model.app.installed) {
    DrawMainScreen(ui, c, model);
  } else {
    DrawSetupScreen(ui, c, model);
  }
  DrawStatusBar(ui, c, model);

  ui.SetLayer(kLayerOverlay);
  if (model.app.overlay == Overlay::Settings) {
    DrawSettingsOverlay(ui, c, model);
  } else if (model.app.overlay == Overlay::Uninstall) {
    DrawUninstallOverlay(ui, c, model);
  }

  DrawTitleBar(ui, c, model);
  c.Play();
}
