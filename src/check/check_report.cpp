#include "check/check_report.h"

#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "geometry/gaps.h"
#include "mesh/mesh_store.h"
#include "records/status.h"

namespace check {
namespace {

constexpr std::string_view REWRITE_COMMAND = "stldeck-prepare in.stl out.stl";

std::string shortest_text(double value) {
  std::array<char, 32> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
  return std::string(text.data(), result.ptr);
}

// Six significant digits: enough to act on, short enough to read.
std::string readable_text(double value) {
  if (!std::isfinite(value)) return std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
  std::array<char, 32> text{};
  const auto result =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::general, 6);
  return std::string(text.data(), result.ptr);
}

std::string json_number(double value) {
  return std::isfinite(value) ? shortest_text(value) : "null";
}

std::string json_number(const std::optional<double>& value) {
  return value.has_value() ? json_number(*value) : "null";
}

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

// A JSON string in plain ASCII: quotes and backslashes escaped, and every
// control character (C0, DEL) and every byte above 0x7f (so C1 controls,
// raw or in UTF-8, and invalid UTF-8) as \u00XX, each byte taken for the
// Latin-1 character of its value. Nothing reaches a terminal raw, and the
// text is valid JSON whatever the bytes.
std::string json_string(std::string_view value) {
  constexpr std::string_view HEX = "0123456789abcdef";
  std::string text = "\"";
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      text += '\\';
      text += c;
    } else if (byte < 0x20 || byte >= 0x7f) {
      text += "\\u00";
      text += HEX[byte >> 4];
      text += HEX[byte & 15];
    } else {
      text += c;
    }
  }
  return text + "\"";
}

class JsonObject {
 public:
  void add(std::string_view key, std::string_view value_text) {
    text_ += first_ ? "{\n  \"" : ",\n  \"";
    first_ = false;
    text_ += key;
    text_ += "\": ";
    text_ += value_text;
  }
  void add(std::string_view key, std::int64_t value) { add(key, std::to_string(value)); }
  void add_string(std::string_view key, std::string_view value) { add(key, json_string(value)); }
  std::string finish() { return text_ + "\n}\n"; }

 private:
  std::string text_;
  bool first_ = true;
};

std::string json_corner(const geometry::Point& corner) {
  return "[" + json_number(corner[0]) + ", " + json_number(corner[1]) + ", " +
         json_number(corner[2]) + "]";
}

std::string readable_corner(const geometry::Point& corner) {
  return readable_text(corner[0]) + " " + readable_text(corner[1]) + " " + readable_text(corner[2]);
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
std::string location_text(const std::vector<std::int64_t>& lines, std::string_view what = {}) {
  if (lines.empty()) return {};
  std::string text = " (" + std::string(what) + (lines.size() == 1 ? "at line " : "at lines ");
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
    add("binary STL, which the converter does not read: " + std::string(REWRITE_COMMAND) +
        " rewrites it as ASCII STL in the style it reads");
  }
  if (facts.format == FileFormat::ascii && facts.facets == 0 && facts.converter_report == 0) {
    add("no facet in the style the converter reads (a line that starts with two blanks and "
        "'facet '): " +
        std::string(REWRITE_COMMAND) + " rewrites the file in that style");
  }
  if (lines.skipped_facet_lines > 0 && facts.facets > 0) {
    add(count_text(lines.skipped_facet_lines, "facet line is", "facet lines are") +
        " in another style (indentation or letter case) and skipped, so those facets are "
        "lost: " +
        std::string(REWRITE_COMMAND) + " rewrites the whole file in one style" +
        location_text(lines.skipped_facet_line_numbers));
  } else if (lines.skipped_facet_lines > 0 && facts.format != FileFormat::binary) {
    add(count_text(lines.skipped_facet_lines, "facet line is", "facet lines are") +
        " in another style and skipped" + location_text(lines.skipped_facet_line_numbers));
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
  // The findings that are a count of lines, facets or edges: the count, its
  // noun for one and for many, what it means and what to do, and where.
  const auto& at = facts.finding_lines;
  const auto kind = [](FacetFinding finding) { return static_cast<std::size_t>(finding); };
  const auto counted = [&](std::int64_t count, std::string_view one, std::string_view many,
                           std::string_view advice, const std::vector<std::int64_t>& where,
                           std::string_view what = {}) {
    if (count > 0) {
      add(count_text(count, one, many) + std::string(advice) + location_text(where, what));
    }
  };
  counted(lines.long_vertex_lines, "vertex line runs", "vertex lines run",
          " past column 80: the converter reads only the first 80 columns and cuts what runs "
          "past them; write coordinates with fewer digits",
          lines.long_vertex_line_numbers);
  if (lines.tabbed_vertex_lines > 0) {
    counted(lines.incomplete_vertex_lines, "vertex line lacks", "vertex lines lack",
            " a blank-separated x, y or z: tabs separate their coordinates, and the converter "
            "separates at blanks only, so it reads a missing x, y or z as 0.0; separate "
            "coordinates with blanks",
            lines.incomplete_vertex_line_numbers);
  } else {
    counted(lines.incomplete_vertex_lines, "vertex line lacks", "vertex lines lack",
            " an x, y or z, which the converter reads as 0.0: write all three",
            lines.incomplete_vertex_line_numbers);
  }
  counted(mesh.nonfinite_facets, "facet has", "facets have",
          " a NaN or infinite coordinate: repair or remove them",
          at[kind(FacetFinding::nonfinite)]);
  counted(mesh.degenerate_facets, "facet is", "facets are",
          " degenerate (two corners one vertex, or a sliver whose area is next to nothing): "
          "remove them",
          at[kind(FacetFinding::degenerate)]);
  counted(mesh.duplicate_facets, "facet repeats", "facets repeat",
          " an earlier facet (the same three vertices): remove the copies",
          at[kind(FacetFinding::repeated)]);
  if (mesh.gap_edges > 0) {
    counted(mesh.open_edges, "open edge", "open edges",
            " (used by one facet): " + std::to_string(mesh.gap_edges) + " of them face " +
                (mesh.gap_edges == 1 ? "another" : "others") + " across gaps up to " +
                readable_text(mesh.widest_gap) + " wide: stldeck-prepare --weld " +
                readable_text(geometry::suggested_weld(mesh.widest_gap)) +
                " in.stl out.stl closes " +
                (mesh.gap_edges == mesh.open_edges ? "them" : "those; close the other holes"),
            at[kind(FacetFinding::open_edge)], "facets ");
  } else {
    counted(mesh.open_edges, "open edge", "open edges",
            " (used by one facet): the surface has holes; close them",
            at[kind(FacetFinding::open_edge)], "facets ");
  }
  counted(mesh.nonmanifold_edges, "edge is", "edges are",
          " shared by more than two facets: separate the surfaces that meet there",
          at[kind(FacetFinding::nonmanifold_edge)], "facets ");
  counted(mesh.misoriented_edges, "edge is", "edges are",
          " run the same way by both its facets: some facets are flipped; orient them like "
          "their neighbours",
          at[kind(FacetFinding::misoriented_edge)], "facets ");
  counted(mesh.inverted_shells, "body is", "bodies are",
          " inside out (a closed shell that no other encloses, or that lies in a cavity, with "
          "a negative volume): its normals point into its material; stldeck-prepare turns it "
          "outward",
          at[kind(FacetFinding::body_inside_out)], "first facets ");
  counted(mesh.cavities_pointing_outward, "cavity points", "cavities point",
          " outward (a closed shell inside another, with a positive volume): a cavity's "
          "normals must point into its void, where the fluid is; stldeck-prepare turns it so. "
          "If it is a body inside a body instead, the two leave no fluid between them: remove "
          "the inner one",
          at[kind(FacetFinding::cavity_pointing_outward)], "first facets ");
  counted(mesh.flat_shells, "closed shell encloses", "closed shells enclose",
          " no volume (a sheet back to back, say): the solver needs the surface of a body; give "
          "the sheet a thickness",
          {});
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
    std::string line = "elements too coarse for " + readable_text(settings.frequency_hz) +
                       " Hz: " + readable_text(*readiness.elements_per_wavelength) +
                       " per wavelength where " + readable_text(wanted) +
                       " are wanted; refine to edges of at most " +
                       readable_text(readiness.wavelength / wanted) + " model units";
    if (readiness.max_frequency_hz.has_value()) {
      line += ", or use the mesh up to " + readable_text(*readiness.max_frequency_hz) + " Hz";
    }
    add(line);
  }
  if (!readiness.elements_per_wavelength.has_value() && mesh.longest_edge > 0.0 &&
      std::isfinite(mesh.longest_edge)) {
    add("the longest edge is too large or too small to measure against the wavelength");
  }
  return findings;
}

}  // namespace

// For each finding kind with a count above zero, the line numbers of up to
// LOCATIONS_SHOWN of its lines or facets, under the count's key.
std::string json_locations(const ModelFacts& facts) {
  const LineFacts& lines = facts.line_facts;
  const MeshFacts& mesh = facts.mesh;
  const auto at = [&](FacetFinding finding) -> const std::vector<std::int64_t>& {
    return facts.finding_lines[static_cast<std::size_t>(finding)];
  };
  std::string text = "{";
  const auto located = [&](std::string_view key, std::int64_t count,
                           const std::vector<std::int64_t>& where) {
    if (count == 0) return;
    if (text.size() > 1) text += ", ";
    text += "\"" + std::string(key) + "\": [";
    for (std::size_t i = 0; i < where.size(); ++i) {
      if (i > 0) text += ", ";
      text += std::to_string(where[i]);
    }
    text += "]";
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
  return text + "}";
}

std::string render_json(const ModelFacts& facts, const Readiness& readiness) {
  const MeshFacts& mesh = facts.mesh;
  JsonObject json;
  json.add_string("format", format_name(facts.format));
  json.add("facets", std::int64_t{facts.facets});
  json.add("converter_report", std::int64_t{facts.converter_report});
  json.add("converter_line",
           facts.converter_report == 0 ? "null" : std::to_string(facts.converter_line));
  json.add("end_of_solid",
           facts.end_of_solid.has_value() ? (*facts.end_of_solid ? "true" : "false") : "null");
  json.add("skipped_facet_lines", facts.line_facts.skipped_facet_lines);
  json.add("long_vertex_lines", facts.line_facts.long_vertex_lines);
  json.add("incomplete_vertex_lines", facts.line_facts.incomplete_vertex_lines);
  json.add("nonfinite_facets", mesh.nonfinite_facets);
  json.add("degenerate_facets", mesh.degenerate_facets);
  json.add("duplicate_facets", mesh.duplicate_facets);
  json.add("vertices", mesh.vertices);
  json.add("near_coincident_corners", mesh.near_coincident_corners);
  json.add("merge_tolerance", json_number(mesh.merge_tolerance));
  json.add("open_edges", mesh.open_edges);
  json.add("gap_edges", mesh.gap_edges);
  json.add("widest_gap", json_number(mesh.widest_gap));
  json.add("nonmanifold_edges", mesh.nonmanifold_edges);
  json.add("misoriented_edges", mesh.misoriented_edges);
  json.add("shells", mesh.shells);
  json.add("inverted_shells", mesh.inverted_shells);
  json.add("cavities", mesh.cavities);
  json.add("cavities_pointing_outward", mesh.cavities_pointing_outward);
  json.add_string("normals", normals_name(readiness.normals));
  json.add("area", json_number(mesh.area));
  json.add("volume", json_number(mesh.volume));
  json.add("bounding_box", mesh.bounding_box.has_value()
                               ? "[" + json_corner(mesh.bounding_box->lowest) + ", " +
                                     json_corner(mesh.bounding_box->highest) + "]"
                               : "null");
  json.add("longest_edge", json_number(mesh.longest_edge));
  json.add("wavelength", json_number(readiness.wavelength));
  json.add("elements_per_wavelength", json_number(readiness.elements_per_wavelength));
  json.add("max_frequency", json_number(readiness.max_frequency_hz));
  json.add("locations", json_locations(facts));
  json.add("ready", readiness.ready ? "true" : "false");
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
  const auto row = [&](std::string_view name, const std::string& value) {
    text += "  ";
    text += name;
    text.append(name.size() < 24 ? 24 - name.size() : 1, ' ');
    text += value;
    text += '\n';
  };
  row("format", std::string(format_name(facts.format)));
  row("facets",
      std::to_string(facts.facets) +
          (facts.converter_report == 0
               ? ""
               : " (the converter stops with report " + std::to_string(facts.converter_report) +
                     " at line " + std::to_string(facts.converter_line) + ")"));
  row("vertices",
      std::to_string(mesh.vertices) +
          (mesh.near_coincident_corners == 0
               ? ""
               : " (" + count_text(mesh.near_coincident_corners, "corner", "corners") +
                     " joined to a vertex within " + readable_text(mesh.merge_tolerance) + ")"));
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
  row("area", readable_text(mesh.area));
  row("volume", readable_text(mesh.volume));
  if (mesh.bounding_box.has_value()) {
    row("bounding box", readable_corner(mesh.bounding_box->lowest) + " to " +
                            readable_corner(mesh.bounding_box->highest));
  }
  row("longest edge", readable_text(mesh.longest_edge));
  // The sound speed fixes the unit: in metres per second, the model is in
  // metres; a model in millimetres needs it in millimetres per second.
  if (settings.sound_speed == DEFAULT_SOUND_SPEED) {
    row("units", "model units taken as metres");
    row("", "(for a model in millimetres give --sound-speed 343000)");
  } else {
    row("units", "those of the sound speed, " + readable_text(settings.sound_speed) +
                     " model units per second");
  }
  row("wavelength", readable_text(readiness.wavelength) + " (" +
                        readable_text(settings.sound_speed) + " / " +
                        readable_text(settings.frequency_hz) + " Hz)");
  if (readiness.elements_per_wavelength.has_value()) {
    row("elements per wavelength", readable_text(*readiness.elements_per_wavelength) +
                                       " (at least " +
                                       readable_text(settings.elements_per_wavelength) + ")");
  }
  if (readiness.max_frequency_hz.has_value()) {
    row("highest frequency", readable_text(*readiness.max_frequency_hz) + " Hz");
  }
  if (!findings.empty()) text += "findings:\n";
  for (const std::string& finding : findings) text += "  - " + finding + "\n";
  return text;
}

}  // namespace check
