// The findings both companion commands report, under one name each: the
// kinds of fault a model can show, the words a summary counts them in, and
// the list as JSON. The model check reports them on the file it reads, the
// preparation on the file it wrote, so that both say the same of one file.
//
// How a kind is counted, whoever reports it:
//   lines    skipped_facet_lines, long_vertex_lines, incomplete_vertex_lines
//   facets   nonfinite_facets, degenerate_facets, duplicate_facets (the
//            later copies), wavelength (facets with a side longer than the
//            wavelength over the elements per wavelength)
//   edges    open_edges, nonmanifold_edges, misoriented_edges: each edge
//            between two vertices once, however many facets use it
//   shells   inverted_shells, cavities_pointing_outward, flat_shells
// A location is the 1-based line of a facet that shows the kind (its facet
// line, or for a shell its first facet's), in file order.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "companion/json_writer.h"

namespace companion {

struct FindingKind {
  std::string_view name;  // the kind in JSON, and its count's key
  std::string_view one;   // the count's words in a summary: "1 open edge"
  std::string_view many;  // "3 open edges"
};

// Every kind, in the order the reports list them; a new kind is one row.
inline constexpr FindingKind FINDING_KINDS[] = {
    {"skipped_facet_lines", "skipped facet line", "skipped facet lines"},
    {"long_vertex_lines", "vertex line past column 80", "vertex lines past column 80"},
    {"incomplete_vertex_lines", "incomplete vertex line", "incomplete vertex lines"},
    {"nonfinite_facets", "facet with a non-finite coordinate",
     "facets with a non-finite coordinate"},
    {"degenerate_facets", "degenerate facet", "degenerate facets"},
    {"duplicate_facets", "repeated facet", "repeated facets"},
    {"open_edges", "open edge", "open edges"},
    {"nonmanifold_edges", "non-manifold edge", "non-manifold edges"},
    {"misoriented_edges", "misoriented edge", "misoriented edges"},
    {"t_junctions", "T-junction", "T-junctions"},
    {"inverted_shells", "body inside out", "bodies inside out"},
    {"cavities_pointing_outward", "cavity pointing outward", "cavities pointing outward"},
    {"flat_shells", "closed shell encloses no volume", "closed shells enclose no volume"},
    {"wavelength", "facet too coarse for the wavelength", "facets too coarse for the wavelength"},
};

// How many locations of each kind are kept and reported.
inline constexpr std::size_t FINDING_LOCATIONS = 10;

struct Finding {
  std::string_view kind;  // a name from FINDING_KINDS
  std::int64_t count = 0;
  // The first FINDING_LOCATIONS locations at most; fewer than `count` when
  // more exist, and none for a kind that has no place.
  std::vector<std::int64_t> lines;
};

// The kind of that name; an empty one (no name, no words) when there is none.
FindingKind finding_kind(std::string_view name);

// The findings with a count above zero, in the order of FINDING_KINDS
// (kinds not in the table last, as given).
std::vector<Finding> listed_findings(std::vector<Finding> findings);

// "1 open edge", "1,234 open edges": the count with its kind's words.
std::string counted_words(const Finding& finding);

// The findings as one JSON array on one line, each finding an object of
// its kind, count and lines:
// [{"kind": "open_edges", "count": 3, "lines": [16, 30, 72]}]; "[]" for none.
std::string json_findings(std::span<const Finding> findings);

// The shape of a model's elements: its smallest corner angle and its
// largest aspect ratio (longest side over shortest height, 1 for an
// equilateral triangle: geometry/shape_figures.h), with the 1-based facet
// lines where they lie (0 when there is no facet). A figure, not a finding.
struct ShapeFacts {
  double smallest_angle_degrees = 0.0;
  std::int64_t smallest_angle_line = 0;
  double largest_aspect_ratio = 0.0;
  std::int64_t largest_aspect_ratio_line = 0;
};

// The keys smallest_angle, smallest_angle_line, largest_aspect_ratio and
// largest_aspect_ratio_line; a line of 0 and a ratio that is not finite (a
// facet without area) are null.
void add_shape(JsonObject& json, const ShapeFacts& shape);

// "smallest angle 0.5 degrees (line 44), largest aspect ratio 120 (line 100)".
std::string shape_text(const ShapeFacts& shape);

}  // namespace companion
