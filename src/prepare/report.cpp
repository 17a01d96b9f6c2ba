#include "prepare/report.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>
#include <vector>

#include "companion/json_writer.h"
#include "companion/report_rows.h"
#include "companion/units.h"
#include "format/plain_number.h"
#include "geometry/gaps.h"

namespace prepare {
namespace {

std::string number(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

using companion::group_digits;

// A length for the summary, with 5 significant digits.
std::string length(double value) {
  if (!std::isfinite(value)) return "infinite";
  char text[32];
  const auto end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::general, 5).ptr;
  return std::string(text, end);
}

std::string plural(std::int64_t value, std::string_view one, std::string_view many) {
  return group_digits(value) + " " + std::string(value == 1 ? one : many);
}

// " (at lines 9, 16 of out.stl)", with ", ..." when more lie elsewhere.
std::string at_lines(const companion::Finding& finding, const std::string& output) {
  if (finding.lines.empty()) return {};
  std::string text = finding.lines.size() == 1 ? " (at line " : " (at lines ";
  for (std::size_t i = 0; i < finding.lines.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(finding.lines[i]);
  }
  if (finding.count > static_cast<std::int64_t>(finding.lines.size())) text += ", ...";
  return text + " of " + output + ")";
}

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

void json_remesh(companion::JsonObject& json, const RemeshStep& r) {
  json.add_number("equilateral_estimate", std::round(r.equilateral_estimate));
  json.add_number("max_deviation", r.max_deviation);
  json.add_number("largest_deviation", r.largest_deviation);
  json.add_number("area_change", relative_change(r.before.area, r.after.area));
  json.add_number("volume_change", relative_change(r.before.volume, r.after.volume));
  json.add_integer("sharp_edges", r.sharp_edges);
  json.add_integer("sharp_edges_kept", r.sharp_edges_kept);
}

std::string percent(double change) {
  const std::string text = format::fixed_text(change * 100.0, 3);
  return (text.starts_with('-') ? text : "+" + text) + "%";
}

// The rows of a report for people: labels with their colon, values from
// the column below "  corners merged:  ".
constexpr std::size_t VALUE_COLUMN = 19;
using Rows = std::vector<companion::ReportRow>;

void summary_remesh(Rows& rows, const RemeshStep& r) {
  rows.push_back({"elements:", group_digits(r.before.facets) + " -> " +
                                   group_digits(r.after.facets) + " facets (equilateral estimate " +
                                   group_digits(std::llround(r.equilateral_estimate)) + ")"});
  rows.push_back({"surface moved:", "at most " + length(r.largest_deviation) + " (allowed " +
                                        length(r.max_deviation) + "); area " +
                                        percent(relative_change(r.before.area, r.after.area)) +
                                        ", volume " +
                                        percent(relative_change(r.before.volume, r.after.volume))});
  rows.push_back({"sharp edges:", group_digits(r.sharp_edges_kept) + " of " +
                                      group_digits(r.sharp_edges) + " kept"});
}

}  // namespace

bool is_ready(const WrittenModel& written, std::int64_t facets_out) {
  return facets_out > 0 && written.findings.empty();
}

std::string render_json(const PrepareReport& report) {
  const MendedModel& m = *report.mended;
  // Without a facet written there is no OUT to examine: its facts are those
  // of an empty model.
  const WrittenModel out = report.written != nullptr ? *report.written : WrittenModel{};
  companion::JsonObject json;
  json.add_string("format_in", report.format == reading::ModelFormat::binary ? "binary" : "ascii");
  json.add_string("units", report.units);
  json.add_integer("facets_in", report.facets_in);
  json.add_integer("facets", report.facets_out);
  json.add_integer("welded_edges", m.welded_edges);
  json.add_number("widest_gap_closed", m.widest_gap_closed);
  json.add_integer("near_coincident_corners", m.merged_corners);
  json.add_integer("t_junctions_closed", m.t_junctions_closed);
  json.add_integer("slivers_swapped", m.slivers_swapped);
  json.add_integer("needles_collapsed", m.needles_collapsed);
  json.add_number("min_angle", report.min_angle_degrees);
  json.add_integer("dropped_nonfinite", m.dropped_nonfinite);
  json.add_integer("dropped_degenerate", m.dropped_degenerate);
  json.add_integer("dropped_duplicate", m.dropped_duplicate);
  json.add_integer("flipped_facets", m.flipped_facets);
  json.add_integer("shells_turned_outward", m.shells_turned_outward);
  json.add_integer("shells", out.shells);
  json.add_integer("cavities", out.cavities);
  json.add_integer("cavities_turned_inward", m.cavities_turned_inward);
  json.add_integer("open_edges", out.open_edges);
  json.add_integer("gap_edges", out.gap_edges);
  json.add_number("widest_gap", out.widest_gap);
  json.add_integer("nonmanifold_edges", out.nonmanifold_edges);
  json.add_integer("misoriented_edges", out.misoriented_edges);
  json.add_integer("t_junctions", out.t_junctions);
  json.add_bool("refined", report.refined);
  json.add_string("method", method(report));
  if (report.remesh != nullptr) json_remesh(json, *report.remesh);
  json.add_number("longest_edge_in", report.longest_edge_in);
  json.add_number("longest_edge", report.longest_edge_out);
  json.add_number("smallest_angle_in", report.smallest_angle_in);
  json.add_number("largest_aspect_ratio_in", report.largest_aspect_ratio_in);
  companion::add_shape(json, out.shape);
  json.add_raw("findings", companion::json_findings(out.findings));
  json.add_bool("ready", report.ready);
  return json.finish();
}

std::string render_summary(const PrepareReport& report, const PrepareOptions& options) {
  const MendedModel& m = *report.mended;
  const reading::ModelFormat format = report.format;
  std::string out = "stldeck-prepare: read " + options.input + ": " +
                    (format == reading::ModelFormat::binary ? "binary" : "ASCII") + " STL, " +
                    plural(report.facets_in, "facet", "facets") + "\n";
  Rows rows;
  rows.push_back({"units:", companion::units_text(options.units)});
  if (options.weld_distance > 0.0) {
    rows.push_back({"gaps welded:", plural(m.welded_edges, "open edge", "open edges") +
                                        " joined across gaps up to " + length(m.widest_gap_closed) +
                                        " wide (--weld " + length(options.weld_distance) + ")"});
  }
  rows.push_back({"corners merged:", group_digits(m.merged_corners) +
                                         " (joined to a vertex within " +
                                         length(m.merge_tolerance) + " that they do not equal)"});
  if (m.t_junctions_closed > 0) {
    rows.push_back({"T-junctions:", plural(m.t_junctions_closed, "vertex", "vertices") +
                                        " on another facet's side: the side split there"});
  }
  if (m.slivers_swapped + m.needles_collapsed > 0) {
    rows.push_back(
        {"degenerate mended:",
         group_digits(m.slivers_swapped) + " swapped with the neighbour across the longest side, " +
             group_digits(m.needles_collapsed) + " with the shortest side collapsed" +
             " (smallest angle allowed " + number(report.min_angle_degrees) + " degrees)"});
  }
  rows.push_back({"facets dropped:", group_digits(m.dropped_nonfinite) +
                                         " with a non-finite coordinate, " +
                                         group_digits(m.dropped_degenerate) + " degenerate, " +
                                         group_digits(m.dropped_duplicate) + " repeated"});
  rows.push_back(
      {"facets flipped:",
       group_digits(m.flipped_facets) + " (" + plural(m.shells_turned_outward, "shell", "shells") +
           " of " + group_digits(m.shells) + " turned outward" +
           (m.cavities == 0
                ? std::string()
                : ", " + group_digits(m.cavities_turned_inward) + " of " +
                      plural(m.cavities, "cavity", "cavities") + " turned to face its void") +
           ")"});
  const std::string limit = length(report.max_side) + " (wavelength " +
                            length(options.sound_speed / options.frequency_hz) + " / " +
                            number(options.elements_per_wavelength) + " at " +
                            number(options.frequency_hz) + " Hz)";
  if (report.remesh_refused != geometry::RemeshStatus::remeshed) {
    rows.push_back({"not remeshed:", std::string(refusal(report.remesh_refused)) +
                                         "; refined by bisection instead"});
  }
  if (const RemeshStep* r = report.remesh_declined; r != nullptr) {
    const auto facets = static_cast<std::int64_t>(r->facets.size());
    // Bisection's count is named where it is the smaller; otherwise the
    // remesh was declined for its angles alone (the count is then only known
    // to be no smaller).
    const bool fewer = r->bisection_facets < r->facets.size();
    rows.push_back(
        {"not remeshed:",
         "the remesh gave " + group_digits(facets) + " facets with a smallest angle of " +
             length(r->after.smallest_angle_degrees) + " degrees, bisection " +
             (fewer ? group_digits(static_cast<std::int64_t>(r->bisection_facets)) + " facets and"
                    : std::string("no fewer facets but")) +
             " at least " + length(r->before.smallest_angle_degrees / 2) +
             " degrees; refined by bisection instead"});
  }
  if (report.remesh != nullptr) summary_remesh(rows, *report.remesh);
  if (report.written != nullptr && report.facets_out > 0) {
    const companion::ShapeFacts& shape = report.written->shape;
    // The words of the check's shape row, with the figures of IN before
    // those of OUT and the lines of OUT.
    const auto at = [&options](std::int64_t line) {
      return " (line " + std::to_string(line) + " of " + options.output + ")";
    };
    rows.push_back({"shape:", "smallest angle " + length(report.smallest_angle_in) + " -> " +
                                  length(shape.smallest_angle_degrees) + " degrees" +
                                  at(shape.smallest_angle_line) + ", largest aspect ratio " +
                                  length(report.largest_aspect_ratio_in) + " -> " +
                                  length(shape.largest_aspect_ratio) +
                                  at(shape.largest_aspect_ratio_line)});
  }
  if (report.refined) {
    rows.push_back({report.remesh != nullptr ? "remeshed:" : "refined:",
                    "longest edge " + length(report.longest_edge_in) + " -> " +
                        length(report.longest_edge_out) + ", at most " + limit});
  } else {
    rows.push_back(
        {"not refined:", "longest edge " + length(report.longest_edge_out) + ", limit " + limit});
  }
  out += companion::render_rows(rows, VALUE_COLUMN);
  // Without a facet there is no model to write: OUT keeps what it held.
  if (report.facets_out == 0) {
    out += "  did not write " + options.output + ": no facet is left\n";
  } else {
    out += "  wrote " + options.output + ": " + plural(report.facets_out, "facet", "facets") + "\n";
  }

  // What remains, in the words the check uses, where it lies in OUT.
  std::string remains;
  const auto add = [&remains](const std::string& finding) { remains += "  - " + finding + "\n"; };
  if (report.facets_out == 0) add("no facet is left");
  const std::vector<companion::Finding> none;
  const auto& findings = report.written != nullptr ? report.written->findings : none;
  for (const companion::Finding& finding : findings) {
    std::string line = companion::counted_words(finding);
    if (finding.kind == "open_edges") {
      line += ": the surface has holes, which are never filled";
      if (report.written->gap_edges > 0) {
        line += "; " + group_digits(report.written->gap_edges) +
                " of them face others across gaps up to " + length(report.written->widest_gap) +
                " wide, which --weld " +
                length(geometry::suggested_weld(report.written->widest_gap)) + " closes";
      }
    } else if (finding.kind == "nonmanifold_edges") {
      line += ": used by more than two facets";
    } else if (finding.kind == "misoriented_edges") {
      line += ": run the same way by both facets, on a surface that cannot be oriented";
    } else if (finding.kind == "t_junctions") {
      line += ": vertices on an open side that could not be split there";
    } else if (finding.kind == "flat_shells") {
      line += " (a sheet back to back, say): the solver needs the surface of a body";
    } else if (finding.kind == "wavelength") {
      line += ": the longest edge " + length(report.longest_edge_out) + " is above " +
              length(report.max_side) + (report.refined ? "" : " (refinement was off)");
    }
    add(line + at_lines(finding, options.output));
  }
  if (remains.empty()) {
    out += "ready for the solver\n";
  } else {
    out += "not ready, what remains:\n" + remains;
  }
  return out;
}

}  // namespace prepare
