// The fixed sample states behind `--shots`: one record per screen, in the order the shots
// are written. Portable, so that what each shot shows is tested natively.
#pragma once

#include <cstddef>

#include "ui/app_model.h"

struct ShotScenario {
  const wchar_t* name;  // file name without ".png"
  bool devServerOnly;   // rendered only when the development server is enabled
  // Replaces the state and snapshot with the sample; the development switch and the setup
  // screen's free-space reading of this machine carry over.
  void (*apply)(AppState&, UiSnapshot&);
};

const ShotScenario* ShotScenarios(size_t& count);
