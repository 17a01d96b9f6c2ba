#include "deck/deck_report.h"

#include <cmath>

#include "companion/json_writer.h"
#include "companion/report_rows.h"
#include "format/plain_number.h"

namespace deck {
namespace {

using companion::readable_number;

// A FIX(10.2) value as the deck holds it.
std::string two_decimals(double value) { return format::fixed_text(value, 2); }

std::string frequencies_text(const DeckHead& head) {
  std::string text =
      two_decimals(head.first_frequency) + " to " + two_decimals(head.last_frequency) + " Hz, " +
      std::to_string(head.frequencies) + (head.frequencies == 1 ? " frequency" : " frequencies");
  return text + ", NOctave " + std::to_string(head.octave_steps);
}

void add_head_json(companion::JsonObject& json, const DeckHead& head) {
  json.add_string("solver", solver_name(head.solver));
  json.add_number("sound_speed", head.sound_speed);
  json.add_number("density", head.density);
  json.add_number("freq1", head.first_frequency);
  json.add_number("freq2", head.last_frequency);
  json.add_integer("frequencies", head.frequencies);
  json.add_integer("noctave", head.octave_steps);
}

}  // namespace

Verdict judge_deck(const DeckFacts& facts) {
  Verdict verdict;
  if (!facts.problem.empty()) {
    verdict.status = companion::ExitStatus::unusable;
    return verdict;
  }
  const DeckHead& head = facts.head;
  const auto add = [&](std::string line) { verdict.findings.push_back(std::move(line)); };
  if (!(head.sound_speed > 0.0))
    add("the sound speed is not above zero: set it with --sound-speed");
  if (!(head.density > 0.0)) add("the density is not above zero: set it with --density");
  if (!(head.first_frequency > 0.0) || head.first_frequency > head.last_frequency ||
      head.frequencies < 1 ||
      (head.first_frequency == head.last_frequency && head.frequencies != 1)) {
    add("the frequencies do not make a range (Freq1 above zero and at most Freq2, at least one "
        "frequency, one when Freq1 = Freq2): set them with --frequencies F1:F2:N");
  }
  if (facts.body.nonfinite_nodes > 0) {
    add(std::to_string(facts.body.nonfinite_nodes) +
        (facts.body.nonfinite_nodes == 1 ? " node has" : " nodes have") +
        " a NaN or infinite coordinate: repair the model and convert it again");
  }
  if (!facts.view_problem.empty()) add("the view " + facts.view_path + " " + facts.view_problem);

  const double wanted = facts.elements_per_wavelength_wanted;
  if (head.last_frequency > 0.0 && head.sound_speed > 0.0) {
    verdict.wavelength = head.sound_speed / head.last_frequency;
  }
  const double edge = facts.body.longest_edge;
  if (verdict.wavelength && edge > 0.0 && std::isfinite(edge)) {
    const double per_wavelength = *verdict.wavelength / edge;
    const double highest = head.sound_speed / (wanted * edge);
    if (std::isfinite(per_wavelength)) verdict.elements_per_wavelength = per_wavelength;
    if (std::isfinite(highest)) verdict.max_frequency = highest;
  }
  if (facts.body_read && facts.head.elements > 0) {
    if (!verdict.elements_per_wavelength) {
      add("the longest edge cannot be measured against the wavelength");
    } else if (*verdict.elements_per_wavelength < wanted) {
      std::string line = "elements too coarse for " + readable_number(head.last_frequency) +
                         " Hz: " + readable_number(*verdict.elements_per_wavelength) +
                         " per wavelength where " + readable_number(wanted) +
                         " are wanted; refine the model to edges of at most " +
                         readable_number(*verdict.wavelength / wanted) + " model units";
      if (verdict.max_frequency) {
        line += ", or set frequencies up to " + readable_number(*verdict.max_frequency) + " Hz";
      }
      add(line);
    }
  }
  if (facts.body_read && facts.head.elements == 0) add("the deck holds no element");
  if (!verdict.findings.empty()) verdict.status = companion::ExitStatus::findings;
  return verdict;
}

std::string render_json(std::string_view path, const DeckFacts& facts, const Verdict& verdict) {
  companion::JsonObject json;
  const DeckHead& head = facts.head;
  json.add_string("deck", path);
  json.add_integer("size", static_cast<std::int64_t>(facts.size));
  if (facts.head_read) {
    json.add_string("date", head.date);
    json.add_integer("elements", head.elements);
    json.add_integer("nodes", head.nodes);
    json.add_integer("expected_size", static_cast<std::int64_t>(
                                          deck_bytes(static_cast<std::uint64_t>(head.elements))));
    add_head_json(json, head);
  } else {
    for (const std::string_view key :
         {"date", "elements", "nodes", "expected_size", "solver", "sound_speed", "density", "freq1",
          "freq2", "frequencies", "noctave"}) {
      json.add_null(key);
    }
  }
  if (facts.end_record) {
    json.add_bool("end_record", *facts.end_record);
  } else {
    json.add_null("end_record");
  }
  json.add_bool("whole", facts.problem.empty());
  if (facts.problem.empty()) {
    json.add_null("problem");
  } else {
    json.add_string("problem", facts.problem);
  }
  if (facts.view_path.empty()) {
    json.add_null("view");
    json.add_null("view_matches");
    json.add_null("view_problem");
  } else {
    json.add_string("view", facts.view_path);
    const bool compared = facts.body_read || !facts.view_problem.empty();
    if (compared) {
      json.add_bool("view_matches", facts.view_problem.empty());
    } else {
      json.add_null("view_matches");
    }
    if (facts.view_problem.empty()) {
      json.add_null("view_problem");
    } else {
      json.add_string("view_problem", facts.view_problem);
    }
  }
  if (facts.body_read) {
    json.add_integer("nonfinite_nodes", facts.body.nonfinite_nodes);
    json.add_number("longest_edge", facts.body.longest_edge);
  } else {
    json.add_null("nonfinite_nodes");
    json.add_null("longest_edge");
  }
  json.add_number("wavelength", verdict.wavelength);
  json.add_number("elements_per_wavelength", verdict.elements_per_wavelength);
  json.add_number("max_frequency", verdict.max_frequency);
  json.add_bool("ready", verdict.status == companion::ExitStatus::ready);
  return json.finish();
}

std::string render_summary(std::string_view path, const DeckFacts& facts, const Verdict& verdict) {
  const DeckHead& head = facts.head;
  std::string text(path);
  switch (verdict.status) {
    case companion::ExitStatus::ready:
      text += ": ready for the solver\n";
      break;
    case companion::ExitStatus::findings:
      text += ": not ready for the solver\n";
      break;
    case companion::ExitStatus::unusable:
      text += ": not a whole deck\n";
      break;
  }
  std::vector<companion::ReportRow> rows;
  const auto row = [&](std::string_view label, std::string value) {
    rows.push_back({label, std::move(value)});
  };
  row("size", companion::group_digits(static_cast<std::int64_t>(facts.size)) + " bytes");
  if (facts.head_read) {
    row("date", head.date);
    row("elements", companion::group_digits(head.elements));
    row("nodes", companion::group_digits(head.nodes));
    row("solver", std::string(solver_name(head.solver)));
    row("sound speed", two_decimals(head.sound_speed));
    row("density", two_decimals(head.density));
    row("frequencies", frequencies_text(head));
  }
  if (!facts.problem.empty()) row("problem", facts.problem);
  if (!facts.view_path.empty()) {
    row("view",
        facts.view_path + (facts.view_problem.empty() ? (facts.body_read ? ": the same model" : "")
                                                      : ": differs"));
  }
  if (facts.body_read) {
    row("longest edge", readable_number(facts.body.longest_edge));
    if (verdict.wavelength) {
      row("wavelength", readable_number(*verdict.wavelength) + " (" +
                            readable_number(head.sound_speed) + " / " +
                            readable_number(head.last_frequency) + " Hz)");
    }
    if (verdict.elements_per_wavelength) {
      row("elements per wavelength",
          readable_number(*verdict.elements_per_wavelength) + " (at least " +
              readable_number(facts.elements_per_wavelength_wanted) + ")");
    }
    if (verdict.max_frequency) {
      row("highest frequency", readable_number(*verdict.max_frequency) + " Hz");
    }
  }
  text += companion::render_rows(rows);
  if (!verdict.findings.empty()) text += "findings:\n";
  for (const std::string& finding : verdict.findings) text += "  - " + finding + "\n";
  return text;
}

std::string render_set_summary(std::string_view path, const DeckHead& before,
                               const DeckHead& after);

std::string render_set_json(std::string_view path, const DeckHead& before, const DeckHead& after) {
  companion::JsonObject json;
  json.add_string("deck", path);
  json.add_bool("set", true);
  add_head_json(json, after);
  // What changed, by key, so that a script sees an edit that changed nothing.
  json.add_bool("changed", render_set_summary(path, before, before) !=
                               render_set_summary(path, before, after));
  return json.finish();
}

std::string render_set_summary(std::string_view path, const DeckHead& before,
                               const DeckHead& after) {
  std::string text = std::string(path) + ": set\n";
  std::vector<companion::ReportRow> rows;
  const auto row = [&](std::string_view label, const std::string& old_text,
                       const std::string& new_text) {
    rows.push_back({label, old_text == new_text ? new_text : old_text + " -> " + new_text});
  };
  row("solver", std::string(solver_name(before.solver)), std::string(solver_name(after.solver)));
  row("sound speed", two_decimals(before.sound_speed), two_decimals(after.sound_speed));
  row("density", two_decimals(before.density), two_decimals(after.density));
  row("frequencies", frequencies_text(before), frequencies_text(after));
  return text + companion::render_rows(rows);
}

}  // namespace deck
