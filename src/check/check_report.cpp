#include "check/check_report.h"

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "companion/findings.h"
#include "companion/json_writer.h"
#include "companion/report_rows.h"
#include "geometry/gaps.h"
#include "mesh/mesh_store.h"
#include "records/status.h"

namespace check {
namespace {

// The preparation's command line as advice, with the unit the model was
// checked in and `options` (ending in a blank) before the file names.
std::string prepare_command(const ModelFacts& facts, std::string_view options = {}) {
  std::string command = "stldeck-prepare ";
  if (!facts.units.metres()) {
    command += "--units " + std::string(facts.units.length_unit().name) + " ";
  }
  return command + std::string(options) + "in.stl out.stl";
}

using companion::json_number;
using companion::readable_number;

std::string_view normals_name(Normals normals) {
  switch (normals) {
    case Normals::outward:
      return "outward";
    case Normals::inward:
      return "inward";
    case Normals::mixed:
      return "mixed";
    case Normals::undefined:
      break;
  }
  return "undefined";
}

std::string json_corner(const geometry::Point& corner) {
  const std::string numbers[] = {json_number(corner[0]), json_number(corner[1]),
                                 json_number(corner[2])};
  return companion::json_array(numbers);
}

std::string readable_corner(const geometry::Point& corner) {
  return readable_number(corner[0]) + " " + readable_number(corner[1]) + " " +
         readable_number(corner[2]);
}

std::string count_text(std::int64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

// A token as the user should see it: printable ASCII kept, other bytes as
// \xNN, long tokens cut.
std::string quoted_token(std::string_view token) {
  constexpr std::size_t SHOWN = 40;
  std::string text = "'";
  for (std::size_t i = 0; i < token.size() && i < SHOWN; ++i) {
    const auto byte = static_cast<unsigned char>(token[i]);
    if (byte >= 0x20 && byte < 0x7f) {
      text += static_cast<char>(byte);
    } else {
      constexpr std::string_view HEX = "0123456789abcdef";
      text += "\\x";
      text += HEX[byte >> 4];
      text += HEX[byte & 15];
    }
  }
  if (token.size() > SHOWN) text += "...";
  return text + "'";
}

// " (at line 12)" or " (facets at lines 12, 48, 55)", with ", ..." when
// more may follow than are kept. `what` names what the lines hold when it
// is not the finding itself ("facets ").
// A binary file has facet records instead of lines ("at record 3").
std::string location_text(const std::vector<std::int64_t>& lines, std::string_view what = {},
                          FileFormat format = FileFormat::ascii) {
  if (lines.empty()) return {};
  const bool records = format == FileFormat::binary;
  std::string text = " (" + std::string(what) +
                     (lines.size() == 1 ? (records ? "at record " : "at line ")
                                        : (records ? "at records " : "at lines "));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(lines[i]);
  }
  if (lines.size() >= LOCATIONS_SHOWN) text += ", ...";
  return text + ")";
}

std::vector<std::string> list_findings(const ModelFacts& facts, const Readiness& readiness,
                                       const CheckSettings& settings) {
  std::vector<std::string> findings;
  const auto add = [&](std::string line) { findings.push_back(std::move(line)); };
  const LineFacts& lines = facts.line_facts;
  const MeshFacts& mesh = facts.mesh;
  const std::string line_text = "line " + std::to_string(facts.converter_line);

  if (facts.format == FileFormat::empty) add("the file is empty: export the model again");
  if (facts.format == FileFormat::binary) {
    add("stldeck reads " + companion::group_digits(facts.facets) +
        (facts.facets_in == 1
             ? " of this 1 facet"
             : " of these " + companion::group_digits(facts.facets_in) + " facets") +
        " (binary STL): run " + prepare_command(facts) +
        ", which writes them as ASCII STL in the style it reads");
  }
  if (facts.format == FileFormat::ascii && facts.facets == 0 && facts.converter_report == 0) {
    add("no facet in the style the converter reads (a line that starts with two blanks and "
        "'facet '): " +
        prepare_command(facts) + " rewrites the file in that style");
  }
  if (lines.skipped_facet_lines > 0 && facts.facets > 0) {
    add(companion::counted_words({"skipped_facet_lines", lines.skipped_facet_lines, {}}) +
        " in another style (indentation or letter case), so those facets are lost: " +
        prepare_command(facts) + " rewrites the whole file in one style" +
        location_text(lines.skipped_facet_line_numbers));
  } else if (lines.skipped_facet_lines > 0 && facts.format != FileFormat::binary) {
    add(companion::counted_words({"skipped_facet_lines", lines.skipped_facet_lines, {}}) +
        " in another style" + location_text(lines.skipped_facet_line_numbers));
  }
  const std::string stops_with =
      "the converter stops with report " + std::to_string(facts.converter_report);
  switch (static_cast<records::Report>(facts.converter_report)) {
    case records::Report::end_of_file:
      add("the file ends inside the facet that starts at " + line_text + ": " + stops_with +
          "; complete or remove that facet");
      break;
    case records::Report::invalid_real:
      add(line_text + " holds the coordinate " + quoted_token(facts.invalid_token) +
          ", which is not a number the converter reads: it stops with report " +
          std::to_string(facts.converter_report) + "; write it as a decimal number");
      break;
    case records::Report::model_too_large:
      add("more than " + std::to_string(mesh::MAX_FACETS) + " facets (the next starts at " +
          line_text + "): " + stops_with + "; coarsen the mesh");
      break;
    case records::Report::read_error:
      add("the file could not be read to its end (" + line_text +
          "): the converter stops there too; copy the file to a sound disk");
      break;
    default:
      break;
  }
  // The findings that are a count of lines, facets, edges or shells: the
  // count in the words both companions use, what it means and what to do,
  // and where.
  const auto& at = facts.finding_lines;
  const auto kind = [](FacetFinding finding) { return static_cast<std::size_t>(finding); };
  const auto counted = [&](std::string_view name, std::int64_t count, std::string_view advice,
                           const std::vector<std::int64_t>& where, std::string_view what = {}) {
    if (count > 0) {
      add(companion::counted_words({name, count, {}}) + std::string(advice) +
          location_text(where, what, facts.format));
    }
  };
  counted("long_vertex_lines", lines.long_vertex_lines,
          ": the converter reads only the first 80 columns and cuts what runs past them; write "
          "coordinates with fewer digits",
          lines.long_vertex_line_numbers);
  if (lines.tabbed_vertex_lines > 0) {
    counted("incomplete_vertex_lines", lines.incomplete_vertex_lines,
            " (without a blank-separated x, y or z): tabs separate their coordinates, and the "
            "converter separates at blanks only, so it reads a missing x, y or z as 0.0; "
            "separate coordinates with blanks",
            lines.incomplete_vertex_line_numbers);
  } else {
    counted("incomplete_vertex_lines", lines.incomplete_vertex_lines,
            " (without an x, y or z, which the converter reads as 0.0): write all three",
            lines.incomplete_vertex_line_numbers);
  }
  counted("nonfinite_facets", mesh.nonfinite_facets, " (NaN or infinite): repair or remove them",
          at[kind(FacetFinding::nonfinite)]);
  {
    // What the preparation does with them: a degenerate facet is mended with
    // its neighbours, so the surface it closes stays closed.
    std::string advice =
        " (two corners one vertex, a sliver whose area is next to nothing, or a needle with an "
        "angle below " +
        readable_number(mesh.min_angle_degrees) + " degrees): ";
    if (mesh.degenerate_closing > 0) {
      advice += std::to_string(mesh.degenerate_closing) +
                (mesh.degenerate_closing == 1 ? " of them closes" : " of them close") +
                " the surface (" + (mesh.degenerate_closing == 1 ? "a sliver" : "slivers") +
                " along a T-junction, say), so deleting them would open holes; ";
    }
    advice +=
        "stldeck-prepare swaps each with its neighbour across its longest side, or collapses "
        "its shortest side, which keeps the surface closed";
    counted("degenerate_facets", mesh.degenerate_facets, advice,
            at[kind(FacetFinding::degenerate)]);
  }
  counted("duplicate_facets", mesh.duplicate_facets,
          " (the same three vertices as an earlier facet): remove the copies",
          at[kind(FacetFinding::repeated)]);
  if (mesh.gap_edges > 0) {
    counted("open_edges", mesh.open_edges,
            " (used by one facet): " + std::to_string(mesh.gap_edges) + " of them face " +
                (mesh.gap_edges == 1 ? "another" : "others") + " across gaps up to " +
                readable_number(mesh.widest_gap) + " m wide: " +
                prepare_command(
                    facts,
                    "--weld " + readable_number(geometry::suggested_weld(mesh.widest_gap)) + " ") +
                " closes " +
                (mesh.gap_edges == mesh.open_edges ? "them" : "those; close the other holes"),
            at[kind(FacetFinding::open_edge)], "facets ");
  } else {
    counted("open_edges", mesh.open_edges,
            " (used by one facet): the surface has holes; close them",
            at[kind(FacetFinding::open_edge)], "facets ");
  }
  counted("t_junctions", mesh.t_junctions,
          " (a vertex on an open side of another facet: one part split where its neighbour "
          "is not): stldeck-prepare splits those sides at them, which closes the seam",
          at[kind(FacetFinding::t_junction)], "facets ");
  counted("nonmanifold_edges", mesh.nonmanifold_edges,
          " (shared by more than two facets): separate the surfaces that meet there",
          at[kind(FacetFinding::nonmanifold_edge)], "facets ");
  counted("misoriented_edges", mesh.misoriented_edges,
          " (run the same way by both its facets): some facets are flipped; orient them like "
          "their neighbours",
          at[kind(FacetFinding::misoriented_edge)], "facets ");
  counted("inverted_shells", mesh.inverted_shells,
          " (a closed shell that no other encloses, or that lies in a cavity, with a negative "
          "volume): its normals point into its material; stldeck-prepare turns it outward",
          at[kind(FacetFinding::body_inside_out)], "first facets ");
  counted("cavities_pointing_outward", mesh.cavities_pointing_outward,
          " (a closed shell inside another, with a positive volume): a cavity's normals must "
          "point into its void, where the fluid is; stldeck-prepare turns it so. If it is a body "
          "inside a body instead, the two leave no fluid between them: remove the inner one",
          at[kind(FacetFinding::cavity_pointing_outward)], "first facets ");
  counted("flat_shells", mesh.flat_shells,
          " (a sheet back to back, say): the solver needs the surface of a body; give the sheet "
          "a thickness",
          {});
  if (!facts.units.metres()) {
    add("the model is in " + std::string(facts.units.length_unit().words) +
        ": stldeck writes the deck in the model's own units and the solver takes them for "
        "metres; " +
        prepare_command(facts) + " writes it in metres");
  }
  if (facts.scale_problem.found) {
    add(companion::scale_problem_text(
            facts.scale_problem, facts.units.length_unit(),
            (facts.format == FileFormat::binary ? "in record " : "in the facet at line ") +
                std::to_string(facts.scale_problem_line)) +
        ": the model cannot be written in metres; check the coordinates and the unit");
  }
  if (facts.view_without_zone) {
    add("no view written: the model has no finite facet to show, and a view without one holds "
        "no zone, which its readers fail on; the file --view names is as it was");
  }
  if (facts.end_of_solid == false) {
    add("no endsolid line after the last facet: the file may have been cut short; export it "
        "again and compare the facet count");
  }
  if (!std::isfinite(mesh.longest_edge)) {
    add("an edge is longer than the largest number (its corners lie further apart than "
        "1.8e308): check the coordinates");
  }
  const double wanted = settings.elements_per_wavelength;
  if (readiness.elements_per_wavelength.has_value() &&
      *readiness.elements_per_wavelength < wanted) {
    std::string line = companion::counted_words({"wavelength", facts.coarse_facets, {}}) + " (" +
                       readable_number(*readiness.elements_per_wavelength) +
                       " elements per wavelength at " + readable_number(settings.frequency_hz) +
                       " Hz where " + readable_number(wanted) +
                       " are wanted): refine to edges of at most " +
                       readable_number(readiness.wavelength / wanted) + " m";
    if (readiness.max_frequency_hz.has_value()) {
      line += ", or use the mesh up to " + readable_number(*readiness.max_frequency_hz) + " Hz";
    }
    add(line + location_text(facts.coarse_facet_lines, "facets "));
  }
  if (!readiness.elements_per_wavelength.has_value() && mesh.longest_edge > 0.0 &&
      std::isfinite(mesh.longest_edge)) {
    add("the longest edge is too large or too small to measure against the wavelength");
  }
  return findings;
}

companion::ShapeFacts shape_facts(const ModelFacts& facts) {
  const geometry::ShapeExtremes& shape = facts.mesh.shape;
  if (!shape.any) return {};
  return {shape.smallest_angle_degrees, facts.smallest_angle_line, shape.largest_aspect_ratio,
          facts.largest_aspect_ratio_line};
}

// For each finding kind with a count above zero, the line numbers of up to
// LOCATIONS_SHOWN of its lines or facets, under the count's key.
std::string json_locations(const ModelFacts& facts) {
  const LineFacts& lines = facts.line_facts;
  const MeshFacts& mesh = facts.mesh;
  const auto at = [&](FacetFinding finding) -> const std::vector<std::int64_t>& {
    return facts.finding_lines[static_cast<std::size_t>(finding)];
  };
  std::vector<companion::JsonMember> members;
  const auto located = [&](std::string_view key, std::int64_t count,
                           const std::vector<std::int64_t>& where) {
    if (count == 0) return;
    std::vector<std::string> numbers;
    for (const std::int64_t line : where) numbers.push_back(std::to_string(line));
    members.push_back({key, companion::json_array(numbers)});
  };
  located("skipped_facet_lines", lines.skipped_facet_lines, lines.skipped_facet_line_numbers);
  located("long_vertex_lines", lines.long_vertex_lines, lines.long_vertex_line_numbers);
  located("incomplete_vertex_lines", lines.incomplete_vertex_lines,
          lines.incomplete_vertex_line_numbers);
  located("nonfinite_facets", mesh.nonfinite_facets, at(FacetFinding::nonfinite));
  located("degenerate_facets", mesh.degenerate_facets, at(FacetFinding::degenerate));
  located("duplicate_facets", mesh.duplicate_facets, at(FacetFinding::repeated));
  located("open_edges", mesh.open_edges, at(FacetFinding::open_edge));
  located("nonmanifold_edges", mesh.nonmanifold_edges, at(FacetFinding::nonmanifold_edge));
  located("misoriented_edges", mesh.misoriented_edges, at(FacetFinding::misoriented_edge));
  located("inverted_shells", mesh.inverted_shells, at(FacetFinding::body_inside_out));
  located("cavities_pointing_outward", mesh.cavities_pointing_outward,
          at(FacetFinding::cavity_pointing_outward));
  located("t_junctions", mesh.t_junctions, at(FacetFinding::t_junction));
  return companion::json_line_object(members);
}

}  // namespace

std::vector<companion::Finding> model_findings(const ModelFacts& facts) {
  const LineFacts& lines = facts.line_facts;
  const MeshFacts& mesh = facts.mesh;
  const auto at = [&](FacetFinding finding) {
    return facts.finding_lines[static_cast<std::size_t>(finding)];
  };
  return companion::listed_findings({
      {"skipped_facet_lines", lines.skipped_facet_lines, lines.skipped_facet_line_numbers},
      {"long_vertex_lines", lines.long_vertex_lines, lines.long_vertex_line_numbers},
      {"incomplete_vertex_lines", lines.incomplete_vertex_lines,
       lines.incomplete_vertex_line_numbers},
      {"nonfinite_facets", mesh.nonfinite_facets, at(FacetFinding::nonfinite)},
      {"degenerate_facets", mesh.degenerate_facets, at(FacetFinding::degenerate)},
      {"duplicate_facets", mesh.duplicate_facets, at(FacetFinding::repeated)},
      {"open_edges", mesh.open_edges, at(FacetFinding::open_edge)},
      {"nonmanifold_edges", mesh.nonmanifold_edges, at(FacetFinding::nonmanifold_edge)},
      {"misoriented_edges", mesh.misoriented_edges, at(FacetFinding::misoriented_edge)},
      {"t_junctions", mesh.t_junctions, at(FacetFinding::t_junction)},
      {"inverted_shells", mesh.inverted_shells, at(FacetFinding::body_inside_out)},
      {"cavities_pointing_outward", mesh.cavities_pointing_outward,
       at(FacetFinding::cavity_pointing_outward)},
      {"flat_shells", mesh.flat_shells, {}},
      {"wavelength", facts.coarse_facets, facts.coarse_facet_lines},
  });
}

std::string render_json(const ModelFacts& facts, const Readiness& readiness) {
  const MeshFacts& mesh = facts.mesh;
  companion::JsonObject json;
  json.add_string("format", format_name(facts.format));
  json.add_string("units", facts.units.length_unit().name);
  json.add_integer("facets_in", facts.facets_in);
  json.add_integer("facets", facts.facets);
  json.add_integer("converter_report", facts.converter_report);
  if (facts.converter_report == 0) {
    json.add_null("converter_line");
  } else {
    json.add_integer("converter_line", facts.converter_line);
  }
  if (facts.end_of_solid.has_value()) {
    json.add_bool("end_of_solid", *facts.end_of_solid);
  } else {
    json.add_null("end_of_solid");
  }
  json.add_integer("skipped_facet_lines", facts.line_facts.skipped_facet_lines);
  json.add_integer("long_vertex_lines", facts.line_facts.long_vertex_lines);
  json.add_integer("incomplete_vertex_lines", facts.line_facts.incomplete_vertex_lines);
  json.add_integer("nonfinite_facets", mesh.nonfinite_facets);
  json.add_integer("degenerate_facets", mesh.degenerate_facets);
  json.add_integer("duplicate_facets", mesh.duplicate_facets);
  json.add_integer("vertices", mesh.vertices);
  json.add_integer("near_coincident_corners", mesh.near_coincident_corners);
  json.add_number("merge_tolerance", mesh.merge_tolerance);
  json.add_integer("open_edges", mesh.open_edges);
  json.add_integer("gap_edges", mesh.gap_edges);
  json.add_number("widest_gap", mesh.widest_gap);
  json.add_integer("nonmanifold_edges", mesh.nonmanifold_edges);
  json.add_integer("misoriented_edges", mesh.misoriented_edges);
  json.add_integer("t_junctions", mesh.t_junctions);
  json.add_number("min_angle", mesh.min_angle_degrees);
  json.add_integer("shells", mesh.shells);
  json.add_integer("inverted_shells", mesh.inverted_shells);
  json.add_integer("cavities", mesh.cavities);
  json.add_integer("cavities_pointing_outward", mesh.cavities_pointing_outward);
  json.add_integer("flat_shells", mesh.flat_shells);
  json.add_string("normals", normals_name(readiness.normals));
  json.add_number("area", mesh.area);
  json.add_number("volume", mesh.volume);
  if (mesh.bounding_box.has_value()) {
    const std::string corners[] = {json_corner(mesh.bounding_box->lowest),
                                   json_corner(mesh.bounding_box->highest)};
    json.add_raw("bounding_box", companion::json_array(corners));
  } else {
    json.add_null("bounding_box");
  }
  json.add_number("longest_edge", mesh.longest_edge);
  companion::add_shape(json, shape_facts(facts));
  json.add_number("wavelength", readiness.wavelength);
  json.add_number("elements_per_wavelength", readiness.elements_per_wavelength);
  json.add_number("max_frequency", readiness.max_frequency_hz);
  json.add_raw("locations", json_locations(facts));
  json.add_raw("findings", companion::json_findings(model_findings(facts)));
  json.add_bool("ready", readiness.ready);
  return json.finish();
}

std::string render_summary(std::string_view path, const ModelFacts& facts,
                           const Readiness& readiness, const CheckSettings& settings) {
  const MeshFacts& mesh = facts.mesh;
  const std::vector<std::string> findings = list_findings(facts, readiness, settings);
  // Ready is never said above a finding.
  const bool ready = readiness.ready && findings.empty();
  std::string text =
      std::string(path) + (ready ? ": ready for the solver\n" : ": not ready for the solver\n");
  std::vector<companion::ReportRow> rows;
  const auto row = [&](std::string_view label, std::string value) {
    rows.push_back({label, std::move(value)});
  };
  row("format", std::string(format_name(facts.format)));
  row("facets",
      std::to_string(facts.format == FileFormat::binary ? facts.facets_in : facts.facets) +
          (facts.format == FileFormat::binary
               ? " (read whole; stldeck reads " + std::to_string(facts.facets) + ")"
           : facts.converter_report == 0
               ? ""
               : " (the converter stops with report " + std::to_string(facts.converter_report) +
                     " at line " + std::to_string(facts.converter_line) + ")"));
  row("vertices",
      std::to_string(mesh.vertices) +
          (mesh.near_coincident_corners == 0
               ? ""
               : " (" + count_text(mesh.near_coincident_corners, "corner", "corners") +
                     " joined to a vertex within " + readable_number(mesh.merge_tolerance) + ")"));
  std::string shell_notes;
  const auto note = [&](std::int64_t count, std::string_view what) {
    if (count == 0) return;
    shell_notes +=
        (shell_notes.empty() ? " (" : ", ") + std::to_string(count) + " " + std::string(what);
  };
  note(mesh.cavities, mesh.cavities == 1 ? "cavity" : "cavities");
  note(mesh.inverted_shells, "inside out");
  note(mesh.cavities_pointing_outward, "pointing outward");
  if (!shell_notes.empty()) shell_notes += ")";
  row("shells", std::to_string(mesh.shells) + shell_notes + ", normals " +
                    std::string(normals_name(readiness.normals)));
  row("area", readable_number(mesh.area));
  row("volume", readable_number(mesh.volume));
  if (mesh.bounding_box.has_value()) {
    row("bounding box", readable_corner(mesh.bounding_box->lowest) + " to " +
                            readable_corner(mesh.bounding_box->highest));
  }
  row("longest edge", readable_number(mesh.longest_edge));
  if (mesh.shape.any) row("shape", companion::shape_text(shape_facts(facts)));
  row("units", companion::units_text(facts.units));
  row("wavelength", readable_number(readiness.wavelength) + " (" +
                        readable_number(settings.sound_speed) + " / " +
                        readable_number(settings.frequency_hz) + " Hz)");
  if (readiness.elements_per_wavelength.has_value()) {
    row("elements per wavelength", readable_number(*readiness.elements_per_wavelength) +
                                       " (at least " +
                                       readable_number(settings.elements_per_wavelength) + ")");
  }
  if (readiness.max_frequency_hz.has_value()) {
    row("highest frequency", readable_number(*readiness.max_frequency_hz) + " Hz");
  }
  text += companion::render_rows(rows);
  if (!findings.empty()) text += "findings:\n";
  for (const std::string& finding : findings) text += "  - " + finding + "\n";
  return text;
}

}  // namespace check
