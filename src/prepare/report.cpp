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

std::string at_lines(const Finding& finding, reading::ModelFormat format) {
  std::string text = format == reading::ModelFormat::binary ? " (facet records " : " (at lines ";
  for (std::size_t i = 0; i < finding.lines.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(finding.lines[i]);
  }
  if (finding.count > static_cast<std::int64_t>(finding.lines.size())) text += ", ...";
  return text + ")";
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
  json.add_number("smallest_angle_in", r.before.smallest_angle_degrees);
  json.add_number("smallest_angle_out", r.after.smallest_angle_degrees);
  json.add_number("largest_aspect_ratio_in", r.before.largest_aspect_ratio);
  json.add_number("largest_aspect_ratio_out", r.after.largest_aspect_ratio);
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
  rows.push_back({"shapes:", "smallest angle " + length(r.before.smallest_angle_degrees) + " -> " +
                                 length(r.after.smallest_angle_degrees) +
                                 " degrees, largest aspect ratio " +
                                 length(r.before.largest_aspect_ratio) + " -> " +
                                 length(r.after.largest_aspect_ratio)});
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

bool is_ready(const MendedModel& mended, std::int64_t facets_out, double longest_edge_out,
              double max_side, const WrittenFindings& written) {
  return facets_out > 0 && !written.any() && mended.t_junctions.count == 0 &&
         mended.open_edges.count == 0 && mended.nonmanifold_edges.count == 0 &&
         mended.misoriented_edges.count == 0 && mended.flat_shells == 0 &&
         longest_edge_out <= max_side;
}

std::string render_json(const PrepareReport& report) {
  const MendedModel& m = *report.mended;
  companion::JsonObject json;
  json.add_string("format", report.format == reading::ModelFormat::binary ? "binary" : "ascii");
  json.add_string("units", report.units);
  json.add_integer("facets_in", report.facets_in);
  json.add_integer("facets_out", report.facets_out);
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
  json.add_integer("cavities", m.cavities);
  json.add_integer("cavities_turned_inward", m.cavities_turned_inward);
  json.add_integer("open_edges", m.open_edges.count);
  json.add_integer("nonmanifold_edges", m.nonmanifold_edges.count);
  json.add_integer("t_junctions", m.t_junctions.count);
  json.add_bool("refined", report.refined);
  json.add_string("method", method(report));
  if (report.remesh != nullptr) json_remesh(json, *report.remesh);
  json.add_number("longest_edge_in", report.longest_edge_in);
  json.add_number("longest_edge_out", report.longest_edge_out);
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
    const bool more = r->bisection_facets < r->facets.size();
    rows.push_back(
        {"not remeshed:",
         "the remesh gave " + group_digits(facets) + " facets with a smallest angle of " +
             length(r->after.smallest_angle_degrees) + " degrees, bisection " +
             (more ? group_digits(static_cast<std::int64_t>(r->bisection_facets)) : "no more") +
             " facets and at least " + length(r->before.smallest_angle_degrees / 2) +
             " degrees; refined by bisection instead"});
  }
  if (report.remesh != nullptr) summary_remesh(rows, *report.remesh);
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

  std::string remains;
  const auto add = [&remains](const std::string& finding) { remains += "  - " + finding + "\n"; };
  if (report.facets_out == 0) add("no facet is left");
  if (m.open_edges.count > 0) {
    add(plural(m.open_edges.count, "open edge", "open edges") +
        ": the surface has holes, which are never filled" +
        (m.gap_edges == 0
             ? std::string()
             : "; " + group_digits(m.gap_edges) + " of them face others across gaps up to " +
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
  if (m.t_junctions.count > 0) {
    add(plural(m.t_junctions.count, "T-junction", "T-junctions") +
        ": vertices on an open side that could not be split there" +
        at_lines(m.t_junctions, format));
  }
  // What the mend did not see and the written facets show (a refinement
  // that cut finer than the coordinates hold, say), by the check's words.
  const WrittenFindings& w = report.written;
  const std::pair<std::int64_t, std::string_view> written_findings[] = {
      {w.degenerate, "degenerate facets"},
      {w.repeated, "repeated facets"},
      {m.open_edges.count == 0 ? w.open_edges : 0, "open edges"},
      {m.nonmanifold_edges.count == 0 ? w.nonmanifold_edges : 0, "non-manifold edges"},
      {m.misoriented_edges.count == 0 ? w.misoriented_edges : 0, "misoriented edges"},
      {m.t_junctions.count == 0 ? w.t_junctions : 0, "T-junctions"},
      {w.bodies_inside_out, "bodies inside out"},
      {w.cavities_pointing_outward, "cavities pointing outward"},
  };
  for (const auto& [count, what] : written_findings) {
    if (count > 0) {
      add(group_digits(count) + " " + std::string(what) + " in the facets written, as " +
          "stldeck-check counts them");
    }
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
