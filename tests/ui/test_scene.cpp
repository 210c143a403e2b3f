#include "tests/ui/test_scene.h"

#include "ui/background.h"
#include "ui/theme.h"

void TestScene::OpenOverlay(Ui& ui) {
  overlayOpen = true;
  ui.overlayOpen = true;
  ui.overlayStart = ui.now;
}

void TestScene::CloseOverlay(Ui& ui) {
  overlayOpen = false;
  ui.overlayOpen = false;
  ui.input.focused = 0;
}

void TestScene::Draw(Ui& ui, Canvas& c) {
  ui.overlayOpen = overlayOpen;
  auto clicked = [&](bool activated, const char* id) {
    if (activated) this->activated.push_back(id);
    return activated;
  };

  DrawBackground(ui, c);
  ui.SetLayer(kLayerBase);
  c.DrawString(L"TALVOREEN", RectF{60, 150, 900, 260}, 1, theme::kText, TextAlign::Leading, TextVAlign::Center, true);
  c.DrawString(L"Sunucunu seç, oyuna katıl. Çğıöşü ÇĞİÖŞÜ", RectF{60, 270, 700, 300}, 6, theme::kTextSecondary,
             TextAlign::Leading, TextVAlign::Top, true);
  for (int i = 0; i < 3; ++i) {
    const RectF card = BoxAt(60 + i * 150, 310, 136, 96);
    c.FillRoundedRect(card, 12, WithAlpha(theme::kSurface, 0.92f));
    c.StrokeRoundedRect(card, 12, 1, theme::kBorder);
    c.DrawEmblem(i, RectF{card.left + 8, card.top + 8, card.right - 8, card.bottom - 8}, 1);
  }
  if (clicked(Button(ui, c, MakeWidgetId("scene.play"), kPlayBox, L"OYNA", ButtonStyle::Primary, true, true),
              "scene.play")) {
    OpenOverlay(ui);
  }
  clicked(Button(ui, c, MakeWidgetId("scene.outline"), kOutlineBox, L"Ayarlar", ButtonStyle::Outline, true),
          "scene.outline");
  clicked(Button(ui, c, MakeWidgetId("scene.ghost"), BoxAt(540, 436, 140, 40), L"Klasörü aç", ButtonStyle::Ghost, true),
          "scene.ghost");

  c.FillRect(kStatusBand, WithAlpha(theme::kBackground, 0.88f));
  c.Line(PointF{0, kStatusBand.top}, PointF{1100, kStatusBand.top}, 1, theme::kBorder);
  for (int kind = 0; kind < 12; ++kind) {
    DrawIcon(ui, c, kind, PointF{72.0f + kind * 34, 574}, 22, kind == 10 ? theme::kGreen : theme::kAccent);
  }
  c.DrawString(L"%42  88,3 MB / 187 MB", RectF{600, 560, 1040, 590}, 8, theme::kTextSecondary, TextAlign::Trailing,
             TextVAlign::Center, true);
  ProgressBar(ui, c, kProgressBox, progress);
  ProgressBar(ui, c, RectF{600, 610, 1040, 618}, 2);

  if (overlayOpen) {
    ui.SetLayer(kLayerOverlay);
    const RectF panel = BeginOverlayPanel(ui, c, 460, 300);
    c.DrawString(L"Ayarlar", RectF{panel.left + 32, panel.top + 28, panel.right - 80, panel.top + 64}, 2, theme::kText,
               TextAlign::Leading, TextVAlign::Center, true);
    if (clicked(IconButton(ui, c, MakeWidgetId("scene.overlay.close"), kOverlayCloseBox, 7, false),
                "scene.overlay.close")) {
      CloseOverlay(ui);
    }
    EndOverlayPanel(c);
  }

  ui.SetLayer(kLayerAlways);
  c.DrawString(L"TALVOREEN", RectF{24, 0, 400, 40}, 0, theme::kAccentLight, TextAlign::Leading, TextVAlign::Center, true);
  clicked(IconButton(ui, c, MakeWidgetId("title.minimise"), kMinimiseBox, 8, false), "title.minimise");
  clicked(IconButton(ui, c, MakeWidgetId("title.close"), kCloseBox, 7, true), "title.close");
}
