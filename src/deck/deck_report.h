// What the deck command found or set, and its two reports: one JSON object
// for programs, rows for people. Both return their text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "companion/exit_status.h"
#include "deck/deck_body.h"
#include "deck/deck_head.h"

namespace deck {

struct DeckFacts {
  std::uint64_t size = 0;
  bool head_read = false;  // the head follows the layout; `head` holds its values
  DeckHead head;
  std::optional<bool> end_record;  // none when the size was not reached
  std::string problem;             // the first fault that makes the deck not whole
  bool body_read = false;          // the node and element records were read
  BodyFacts body;
  std::string view_path;  // the view compared; empty for none
  std::string view_problem;
  double elements_per_wavelength_wanted = 6.0;
};

struct Verdict {
  companion::ExitStatus status = companion::ExitStatus::ready;
  std::optional<double> wavelength;
  std::optional<double> elements_per_wavelength;
  std::optional<double> max_frequency;
  std::vector<std::string> findings;
};

Verdict judge_deck(const DeckFacts& facts);

std::string render_json(std::string_view path, const DeckFacts& facts, const Verdict& verdict);
std::string render_summary(std::string_view path, const DeckFacts& facts, const Verdict& verdict);

// The report of a setting: the deck's values before and after.
std::string render_set_json(std::string_view path, const DeckHead& before, const DeckHead& after);
std::string render_set_summary(std::string_view path, const DeckHead& before,
                               const DeckHead& after);

}  // namespace deck
