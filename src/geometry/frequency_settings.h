// How fine a mesh must be for the solver: an element side may be at most
// wavelength / K, with wavelength = C / HZ. The defaults are the deck's.
#pragma once

#include "geometry/deck_defaults.h"

namespace geometry {

struct FrequencySettings {
  double frequency_hz = DECK_FREQUENCY;
  double sound_speed = DECK_SOUND_SPEED;  // model units per second (343000 for millimetres)
  double elements_per_wavelength = 6.0;

  // The longest side an element may have.
  double max_side() const { return sound_speed / frequency_hz / elements_per_wavelength; }
};

}  // namespace geometry
