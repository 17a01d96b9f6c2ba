// Whether a checked model is ready for the solver, at the frequency and
// mesh density asked for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "check/facet_collector.h"
#include "check/file_format.h"
#include "check/mesh_facts.h"

namespace check {

struct CheckSettings {
  double frequency_hz = 54.59;  // the solver deck's frequency
  double sound_speed = 343.0;   // the solver deck's sound speed, model units per second
  double elements_per_wavelength = 6.0;
};

// Everything the check found in one file.
struct ModelFacts {
  FileFormat format = FileFormat::empty;
  std::int32_t facets = 0;          // facets the converter reads whole
  int converter_report = 0;         // 0: the converter ends normally
  std::int64_t converter_line = 0;  // 1-based line where it stops; 0 for none
  std::string invalid_token;        // the coordinate it cannot read (report 547)
  LineFacts line_facts;
  MeshFacts mesh;
};

enum class Normals { outward, inward, undefined };

struct Readiness {
  double wavelength = 0.0;
  // Absent without a positive longest edge, or when the quotient overflows.
  std::optional<double> elements_per_wavelength;
  std::optional<double> max_frequency_hz;
  // Outward or inward only for a closed mesh: facets that take part in the
  // edges, and none open, non-manifold or misoriented.
  Normals normals = Normals::undefined;
  bool ready = false;
};

Readiness assess_model(const ModelFacts& facts, const CheckSettings& settings);

}  // namespace check
