// The medium and the one frequency a converted deck carries: the speed of
// sound in metres per second, the density in kilograms per cubic metre
// (air), and the frequency in hertz. The deck writer puts them into the
// deck's head; the companions mesh for this frequency and speed unless told
// otherwise, so that a model they call fine enough is fine enough for the
// deck as converted. Nothing else states these numbers.
#pragma once

namespace geometry {

inline constexpr double DECK_SOUND_SPEED = 343.0;
inline constexpr double DECK_DENSITY = 1.29;
inline constexpr double DECK_FREQUENCY = 54.59;

}  // namespace geometry
