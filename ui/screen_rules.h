// The rules the settings and uninstall screens and the server cards read: when the window may
// remove the game files or reinstall GTA, the GTA state line and a card's player and status
// lines. Portable.
#pragma once

#include <functional>
#include <string>

#include "ui/app_model.h"

// The window may remove the game files: nothing runs, nothing downloads.
bool CanUninstall(const AppState& app, const UiSnapshot& snap);

// The settings' GTA button and the reinstall flow: installed, no game, GTA idle, launch
// window passed, no uninstall, play not requested.
bool CanReinstallGta(const AppState& app, const UiSnapshot& snap);

// "İndiriliyor", "Kuruluyor", "Kurulu · bozulduysa yeniden indirilir", "Kurulamadı",
// "Henüz kurulmadı".
std::wstring GtaStateText(const AppState& app, const UiSnapshot& snap);

// The player and status lines of a server card.
struct ServerCardLines {
  std::wstring players;  // "196 oyuncu", "—", "Test sunucusu"
  std::wstring status;   // "Çevrimiçi", "Çevrimdışı", "Bağlanıyor", "Geliştirme"
  enum class Dot { Card, Green, Secondary, Muted } dot = Dot::Muted;
  bool pulsing = false;  // online: the halo pulses
};
ServerCardLines CardLines(int server, const PlayerCountEntry& entry);

// The text as it fits `width` on one line: whole, or cut after the last whole word that
// leaves room for "…", without the separator before the cut. A first word too long on its
// own stays whole for the drawing's own trimming: there is no word boundary inside it.
std::wstring FitAtWordBoundary(const std::wstring& text, float width,
                               const std::function<float(const std::wstring&)>& measure);
