// Whether a checked model is ready for the solver, at the frequency and
// mesh density asked for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "check/facet_collector.h"
#include "check/file_format.h"
#include "check/mesh_facts.h"
#include "companion/units.h"
#include "geometry/frequency_settings.h"

namespace check {

// The solver deck's sound speed, in metres per second.
inline constexpr double DEFAULT_SOUND_SPEED = geometry::FrequencySettings{}.sound_speed;

using CheckSettings = geometry::FrequencySettings;

// Everything the check found in one file.
struct ModelFacts {
  FileFormat format = FileFormat::empty;
  std::int32_t facets = 0;          // facets the converter reads whole
  int converter_report = 0;         // 0: the converter ends normally
  std::int64_t converter_line = 0;  // 1-based line where it stops; 0 for none
  std::string invalid_token;        // the coordinate it cannot read (report 547)
  LineFacts line_facts;
  MeshFacts mesh;
  // Per kind of facet finding, the facet lines (1-based, in file order) of
  // the first few facets where it occurs.
  std::array<std::vector<std::int64_t>, FACET_FINDING_KINDS> finding_lines;
  // Whether the file ends with an endsolid line after its last facet; none
  // when the scan did not end cleanly after at least one facet.
  std::optional<bool> end_of_solid;
  // The facets the file holds: for a binary file as read whole (of which
  // the converter reads none), otherwise as the converter reads them.
  std::int64_t facets_in = 0;
  // The unit of the model's coordinates; every length above is in metres.
  companion::ModelUnits units;
  // A coordinate whose product with the unit's factor is beyond the
  // doubles, and where (a line, or a binary facet record).
  companion::ScaleProblem scale_problem;
  std::int64_t scale_problem_line = 0;
  // The facet lines of the worst-shaped facets (MeshFacts::shape); 0
  // without a finite facet.
  std::int64_t smallest_angle_line = 0;
  std::int64_t largest_aspect_ratio_line = 0;
  // Facets too coarse for the wavelength (coarse_facets below), and the
  // facet lines of the first few.
  std::int64_t coarse_facets = 0;
  std::vector<std::int64_t> coarse_facet_lines;
  // A view was asked for and not written: no facet is finite, and a view
  // begins with the model's zone (a reader fails on a file without a zone).
  bool view_without_zone = false;
};

// Outward: every shell closed and facing as its depth asks (a body's
// normals out of its material, a cavity's into its void, so that all point
// into the fluid); inward: every shell closed and each facing the other
// way; mixed: every shell closed, some of each; undefined otherwise (an
// open shell, a volume of zero, no shell).
enum class Normals { outward, inward, mixed, undefined };

struct Readiness {
  double wavelength = 0.0;
  // Absent without a positive longest edge, or when the quotient overflows.
  std::optional<double> elements_per_wavelength;
  std::optional<double> max_frequency_hz;
  Normals normals = Normals::undefined;
  bool ready = false;
};

Readiness assess_model(const ModelFacts& facts, const CheckSettings& settings);

// The finite facets with fewer elements per wavelength than the settings
// ask for (the wavelength over their longest side below it, the test the
// readiness applies to the model's longest edge), counted, and the first
// few of them (0-based). Only a model whose longest edge is too long has
// any, so a fine model is not walked again.
struct CoarseFacets {
  std::int64_t count = 0;
  std::vector<std::uint32_t> first;
};
CoarseFacets coarse_facets(std::span<const geometry::Triangle> facets, double longest_edge,
                           const CheckSettings& settings);

}  // namespace check
