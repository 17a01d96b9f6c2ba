// How fine a mesh must be for the solver: an element side may be at most
// wavelength / K, with wavelength = C / HZ. The defaults are the deck's.
#pragma once

namespace geometry {

struct FrequencySettings {
  double frequency_hz = 54.59;  // the solver deck's frequency
  double sound_speed = 343.0;   // model units per second (343000 for millimetres)
  double elements_per_wavelength = 6.0;

  // The longest side an element may have.
  double max_side() const { return sound_speed / frequency_hz / elements_per_wavelength; }
};

}  // namespace geometry
