// Renders one frame into a WIC bitmap at a scale and writes it as a PNG file.
#pragma once

#include <functional>
#include <string>

#include "ui/canvas.h"
#include "ui/graphics.h"

// The bitmap is round(scale x 1100) by round(scale x 660) pixels at 96 x scale DPI; the
// callback draws in DIPs exactly as on screen. False when any step fails.
bool RenderFrameToPng(const Graphics& graphics, float scale, const std::wstring& path,
                      const std::function<void(Canvas&)>& frame);
