// The deck command's two runs: verifying a deck (with its view), and
// setting values in its head. Each returns its report and the status to
// end with, or the one-line reason it could not be done.
#pragma once

#include <string>

#include "companion/exit_status.h"
#include "deck/deck_options.h"

namespace deck {

struct CommandOutcome {
  companion::ExitStatus status = companion::ExitStatus::ready;
  std::string report;   // for standard output
  std::string failure;  // for standard error; empty when the report says it all
};

// Reads the deck whole, and its view when there is one, under a shared lock,
// so that a conversion writing them is waited for.
CommandOutcome verify_deck(const DeckOptions& options, int threads);

// Checks the deck's head, size and end record under the converter's
// exclusive lock, and rewrites the records that change in one write.
CommandOutcome set_deck(const DeckOptions& options);

}  // namespace deck
