#include "prepare/report.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "format/plain_number.h"
#include "geometry/gaps.h"

namespace prepare {
namespace {

std::string number(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// 12345678 as "12,345,678".
std::string count(std::int64_t value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return value < 0 ? "-" + grouped : grouped;
}

// The sound speed fixes the unit: at the default, in metres per second, the
// model is in metres; a model in millimetres is given the speed in
// millimetres per second.
std::string units(const PrepareOptions& options) {
  if (options.sound_speed == geometry::FrequencySettings{}.sound_speed) {
    return "model units taken as metres";
  }
  return "model units those of the sound speed, " + number(options.sound_speed) + " per second";
}

// A length for the summary, with 5 significant digits.
std::string length(double value) {
  if (!std::isfinite(value)) return "infinite";
  char text[32];
  const auto end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::general, 5).ptr;
  return std::string(text, end);
}

std::string plural(std::int64_t value, std::string_view one, std::string_view many) {
  return count(value) + " " + std::string(value == 1 ? one : many);
}

std::string at_lines(const Finding& finding, reading::ModelFormat format) {
  std::string text = format == reading::ModelFormat::binary ? " (facet records " : " (at lines ";
  for (std::size_t i = 0; i < finding.lines.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(finding.lines[i]);
  }
  if (finding.count > static_cast<std::int64_t>(finding.lines.size())) text += ", ...";
  return text + ")";
}

void json_key(std::string& out, std::string_view key, const std::string& value, bool last) {
  out += "  \"";
  out += key;
  out += "\": ";
  out += value;
  out += last ? "\n" : ",\n";
}

std::string json_length(double value) { return std::isfinite(value) ? number(value) : "null"; }

std::string_view method(const PrepareReport& report) {
  if (report.remesh != nullptr) return "remesh";
  return report.refined ? "bisection" : "none";
}

double relative_change(double before, double after) {
  return before != 0.0 ? (after - before) / std::fabs(before) : 0.0;
}

std::string_view refusal(geometry::RemeshStatus status) {
  switch (status) {
    case geometry::RemeshStatus::not_a_surface:
      return "non-manifold or misoriented edges, or facets meeting at a single vertex";
    case geometry::RemeshStatus::shell_lost:
      return "the remesh would have lost a shell";
    case geometry::RemeshStatus::failed:
      return "the remeshing library stopped on this model";
    case geometry::RemeshStatus::remeshed:
    case geometry::RemeshStatus::no_facets:
      break;
  }
  return "";
}

void json_remesh(std::string& out, const RemeshStep& r) {
  json_key(out, "equilateral_estimate", number(std::round(r.equilateral_estimate)), false);
  json_key(out, "smallest_angle_in", json_length(r.before.smallest_angle_degrees), false);
  json_key(out, "smallest_angle_out", json_length(r.after.smallest_angle_degrees), false);
  json_key(out, "largest_aspect_ratio_in", json_length(r.before.largest_aspect_ratio), false);
  json_key(out, "largest_aspect_ratio_out", json_length(r.after.largest_aspect_ratio), false);
  json_key(out, "max_deviation", json_length(r.max_deviation), false);
  json_key(out, "largest_deviation", json_length(r.largest_deviation), false);
  json_key(out, "area_change", json_length(relative_change(r.before.area, r.after.area)), false);
  json_key(out, "volume_change", json_length(relative_change(r.before.volume, r.after.volume)),
           false);
  json_key(out, "sharp_edges", std::to_string(r.sharp_edges), false);
  json_key(out, "sharp_edges_kept", std::to_string(r.sharp_edges_kept), false);
}

std::string percent(double change) {
  const std::string text = format::fixed_text(change * 100.0, 3);
  return (text.starts_with('-') ? text : "+" + text) + "%";
}

std::string summary_remesh(const RemeshStep& r) {
  std::string out = "  shapes:          smallest angle " + length(r.before.smallest_angle_degrees) +
                    " -> " + length(r.after.smallest_angle_degrees) +
                    " degrees, largest aspect ratio " + length(r.before.largest_aspect_ratio) +
                    " -> " + length(r.after.largest_aspect_ratio) + "\n";
  out += "  elements:        " + count(r.before.facets) + " -> " + count(r.after.facets) +
         " facets (equilateral estimate " +
         count(static_cast<std::int64_t>(std::llround(r.equilateral_estimate))) + ")\n";
  out += "  surface moved:   at most " + length(r.largest_deviation) + " (allowed " +
         length(r.max_deviation) + "); area " +
         percent(relative_change(r.before.area, r.after.area)) + ", volume " +
         percent(relative_change(r.before.volume, r.after.volume)) + "\n";
  out +=
      "  sharp edges:     " + count(r.sharp_edges_kept) + " of " + count(r.sharp_edges) + " kept\n";
  return out;
}

}  // namespace

bool is_ready(const MendedModel& mended, std::int64_t facets_out, double longest_edge_out,
              double max_side) {
  return facets_out > 0 && mended.open_edges.count == 0 && mended.nonmanifold_edges.count == 0 &&
         mended.misoriented_edges.count == 0 && mended.flat_shells == 0 &&
         longest_edge_out <= max_side;
}

std::string render_json(const PrepareReport& report) {
  const MendedModel& m = *report.mended;
  std::string out = "{\n";
  json_key(out, "input_format",
           report.format == reading::ModelFormat::binary ? "\"binary\"" : "\"ascii\"", false);
  json_key(out, "facets_in", std::to_string(report.facets_in), false);
  json_key(out, "facets_out", std::to_string(report.facets_out), false);
  json_key(out, "welded_edges", std::to_string(m.welded_edges), false);
  json_key(out, "widest_gap_closed", json_length(m.widest_gap_closed), false);
  json_key(out, "merged_corners", std::to_string(m.merged_corners), false);
  json_key(out, "dropped_nonfinite", std::to_string(m.dropped_nonfinite), false);
  json_key(out, "dropped_degenerate", std::to_string(m.dropped_degenerate), false);
  json_key(out, "dropped_duplicate", std::to_string(m.dropped_duplicate), false);
  json_key(out, "flipped_facets", std::to_string(m.flipped_facets), false);
  json_key(out, "shells_turned_outward", std::to_string(m.shells_turned_outward), false);
  json_key(out, "cavities", std::to_string(m.cavities), false);
  json_key(out, "cavities_turned_inward", std::to_string(m.cavities_turned_inward), false);
  json_key(out, "open_edges", std::to_string(m.open_edges.count), false);
  json_key(out, "nonmanifold_edges", std::to_string(m.nonmanifold_edges.count), false);
  json_key(out, "refined", report.refined ? "true" : "false", false);
  json_key(out, "method", "\"" + std::string(method(report)) + "\"", false);
  if (report.remesh != nullptr) json_remesh(out, *report.remesh);
  json_key(out, "longest_edge_in", json_length(report.longest_edge_in), false);
  json_key(out, "longest_edge_out", json_length(report.longest_edge_out), false);
  json_key(out, "ready", report.ready ? "true" : "false", true);
  return out + "}\n";
}

std::string render_summary(const PrepareReport& report, const PrepareOptions& options) {
  const MendedModel& m = *report.mended;
  const reading::ModelFormat format = report.format;
  std::string out = "stldeck-prepare: read " + options.input + ": " +
                    (format == reading::ModelFormat::binary ? "binary" : "ASCII") + " STL, " +
                    plural(report.facets_in, "facet", "facets") + "\n";
  if (options.weld_distance > 0.0) {
    out += "  gaps welded:     " + plural(m.welded_edges, "open edge", "open edges") +
           " joined across gaps up to " + length(m.widest_gap_closed) + " wide (--weld " +
           length(options.weld_distance) + ")\n";
  }
  out += "  corners merged:  " + count(m.merged_corners) + " (joined to a vertex within " +
         length(m.merge_tolerance) + " that they do not equal)\n";
  out += "  facets dropped:  " + count(m.dropped_nonfinite) + " with a non-finite coordinate, " +
         count(m.dropped_degenerate) + " degenerate, " + count(m.dropped_duplicate) + " repeated\n";
  out += "  facets flipped:  " + count(m.flipped_facets) + " (" +
         plural(m.shells_turned_outward, "shell", "shells") + " of " + count(m.shells) +
         " turned outward" +
         (m.cavities == 0
              ? std::string()
              : ", " + count(m.cavities_turned_inward) + " of " +
                    plural(m.cavities, "cavity", "cavities") + " turned to face its void") +
         ")\n";
  const std::string limit = length(report.max_side) + " (wavelength " +
                            length(options.sound_speed / options.frequency_hz) + " / " +
                            number(options.elements_per_wavelength) + " at " +
                            number(options.frequency_hz) + " Hz; " + units(options) + ")";
  if (report.remesh_refused != geometry::RemeshStatus::remeshed) {
    out += "  not remeshed:    " + std::string(refusal(report.remesh_refused)) +
           "; refined by bisection instead\n";
  }
  if (const RemeshStep* r = report.remesh_declined; r != nullptr) {
    const auto facets = static_cast<std::int64_t>(r->facets.size());
    const bool more = r->bisection_facets < r->facets.size();
    out += "  not remeshed:    the remesh gave " + count(facets) +
           " facets with a smallest angle of " + length(r->after.smallest_angle_degrees) +
           " degrees, bisection " +
           (more ? count(static_cast<std::int64_t>(r->bisection_facets)) : "no more") +
           " facets and at least " + length(r->before.smallest_angle_degrees / 2) +
           " degrees; refined by bisection instead\n";
  }
  if (report.remesh != nullptr) out += summary_remesh(*report.remesh);
  if (report.refined) {
    out += std::string(report.remesh != nullptr ? "  remeshed:        " : "  refined:         ") +
           "longest edge " + length(report.longest_edge_in) + " -> " +
           length(report.longest_edge_out) + ", at most " + limit + "\n";
  } else {
    out += "  not refined:     longest edge " + length(report.longest_edge_out) + ", limit " +
           limit + "\n";
  }
  // Without a facet there is no model to write: OUT keeps what it held.
  if (report.facets_out == 0) {
    out += "  did not write " + options.output + ": no facet is left\n";
  } else {
    out += "  wrote " + options.output + ": " + plural(report.facets_out, "facet", "facets") + "\n";
  }

  std::string remains;
  const auto add = [&remains](const std::string& finding) { remains += "  - " + finding + "\n"; };
  if (report.facets_out == 0) add("no facet is left");
  if (m.open_edges.count > 0) {
    add(plural(m.open_edges.count, "open edge", "open edges") +
        ": the surface has holes, which are never filled" +
        (m.gap_edges == 0 ? std::string()
                          : "; " + count(m.gap_edges) + " of them face others across gaps up to " +
                                length(m.widest_gap) + " wide, which --weld " +
                                length(geometry::suggested_weld(m.widest_gap)) + " closes") +
        at_lines(m.open_edges, format));
  }
  if (m.nonmanifold_edges.count > 0) {
    add(plural(m.nonmanifold_edges.count, "non-manifold edge", "non-manifold edges") +
        ": used by more than two facets" + at_lines(m.nonmanifold_edges, format));
  }
  if (m.misoriented_edges.count > 0) {
    add(plural(m.misoriented_edges.count, "misoriented edge", "misoriented edges") +
        ": run the same way by both facets, on a surface that cannot be oriented" +
        at_lines(m.misoriented_edges, format));
  }
  if (m.flat_shells > 0) {
    add(plural(m.flat_shells, "closed shell encloses", "closed shells enclose") +
        " no volume (a sheet back to back, say): the solver needs the surface of a body");
  }
  if (!(report.longest_edge_out <= report.max_side)) {
    add("too coarse: the longest edge " + length(report.longest_edge_out) + " is above " +
        length(report.max_side) + (report.refined ? "" : " (refinement was off)"));
  }
  if (remains.empty()) {
    out += "ready for the solver\n";
  } else {
    out += "not ready, what remains:\n" + remains;
  }
  return out;
}

}  // namespace prepare
