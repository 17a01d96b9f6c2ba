#include "check/readiness.h"

#include <cmath>

namespace check {
namespace {

std::optional<double> finite_or_none(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

Normals normals_of(const MeshFacts& mesh) {
  const std::int64_t disagreeing = mesh.inverted_shells + mesh.cavities_pointing_outward;
  if (mesh.shells == 0 || mesh.agreeing_shells + disagreeing != mesh.shells) {
    return Normals::undefined;
  }
  if (disagreeing == 0) return Normals::outward;
  if (mesh.agreeing_shells == 0) return Normals::inward;
  return Normals::mixed;
}

}  // namespace

Readiness assess_model(const ModelFacts& facts, const CheckSettings& settings) {
  const MeshFacts& mesh = facts.mesh;
  Readiness readiness;
  readiness.wavelength = settings.sound_speed / settings.frequency_hz;
  if (mesh.longest_edge > 0.0 && std::isfinite(mesh.longest_edge)) {
    readiness.elements_per_wavelength = finite_or_none(readiness.wavelength / mesh.longest_edge);
    readiness.max_frequency_hz = finite_or_none(
        settings.sound_speed / (settings.elements_per_wavelength * mesh.longest_edge));
  }
  readiness.normals = normals_of(mesh);
  const LineFacts& lines = facts.line_facts;
  readiness.ready =
      facts.format == FileFormat::ascii && facts.facets > 0 && facts.converter_report == 0 &&
      lines.skipped_facet_lines == 0 && lines.long_vertex_lines == 0 &&
      lines.incomplete_vertex_lines == 0 && mesh.nonfinite_facets == 0 &&
      mesh.degenerate_facets == 0 && mesh.duplicate_facets == 0 && mesh.open_edges == 0 &&
      mesh.nonmanifold_edges == 0 && mesh.misoriented_edges == 0 && mesh.t_junctions == 0 &&
      mesh.inverted_shells == 0 && mesh.flat_shells == 0 && mesh.cavities_pointing_outward == 0 &&
      facts.end_of_solid.value_or(true) && facts.units.metres() && !facts.scale_problem.found &&
      readiness.elements_per_wavelength.has_value() &&
      *readiness.elements_per_wavelength >= settings.elements_per_wavelength;
  return readiness;
}

CoarseFacets coarse_facets(std::span<const geometry::Triangle> facets, double longest_edge,
                           const CheckSettings& settings) {
  CoarseFacets coarse;
  const double wavelength = settings.sound_speed / settings.frequency_hz;
  const auto too_coarse = [&](double side) {
    return side > 0.0 && wavelength / side < settings.elements_per_wavelength;
  };
  if (!too_coarse(longest_edge)) return coarse;
  for (std::size_t f = 0; f < facets.size(); ++f) {
    if (!geometry::is_finite(facets[f]) ||
        !too_coarse(geometry::longest_side_of(facets[f]).length)) {
      continue;
    }
    ++coarse.count;
    if (coarse.first.size() < LOCATIONS_SHOWN)
      coarse.first.push_back(static_cast<std::uint32_t>(f));
  }
  return coarse;
}

}  // namespace check
