// The animated backdrop behind every screen: perspective grid, glows and the emblem.
#pragma once

#include "ui/canvas.h"
#include "ui/widgets.h"

void DrawBackground(Ui& ui, Canvas& c);
