// The deck command's command line.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "deck/deck_head.h"

namespace deck {

struct DeckOptions {
  bool json = false;
  bool help = false;
  std::string path = "input.dat";
  std::string view_path;  // --view FILE; empty for input.plt beside the deck, when present
  bool view_given = false;
  double elements_per_wavelength = 6.0;
  DeckSettings settings;
};

inline constexpr std::string_view USAGE =
    "usage: stldeck-deck [--json] [--view VIEW] [--elements-per-wavelength K] [DECK]\n"
    "       stldeck-deck [--sound-speed C] [--density RHO] [--frequency HZ]\n"
    "                    [--frequencies F1:F2:N] [--octave NOCT] [--solver fmm|aca|cbem]\n"
    "                    [--json] [DECK]\n"
    "Without settings, shows the solver deck DECK (default input.dat) and verifies that\n"
    "it is whole, that the mesh view beside it (input.plt, or VIEW) is of the same\n"
    "model, and that its elements are fine enough for its highest frequency.\n"
    "With settings, writes them into the deck's medium and frequency records in place,\n"
    "in the same columns, after checking the deck's head, size and end record.\n"
    "  --json                       print one JSON object instead of a summary\n"
    "  --view VIEW                  the mesh view to compare (default input.plt beside DECK)\n"
    "  --elements-per-wavelength K  elements wanted per wavelength (default 6)\n"
    "  --sound-speed C              the sound speed, up to 9999999.99, two decimals\n"
    "  --density RHO                the density, up to 999999.99, two decimals\n"
    "  --frequency HZ               one frequency, Freq1 = Freq2 = HZ (up to 999999.99)\n"
    "  --frequencies F1:F2:N        N frequencies from F1 to F2 (N up to 999; F2 up to\n"
    "                               999999.99)\n"
    "  --octave NOCT                the deck's NOctave, 0 to 99999\n"
    "  --solver fmm|aca|cbem        the solver type\n"
    "  --help                       print this text\n"
    "Exit status: 0 whole and fine enough (or set), 1 whole but too coarse or with a\n"
    "finding, 2 usage error, not a whole deck, unreadable or unwritable.\n";

// Reads the arguments after the program name. Returns an empty string, or
// the one-line reason the command line is not usable.
std::string parse_options(std::span<const std::string_view> arguments, DeckOptions& options);

}  // namespace deck
