// Fuzz target: the check's analysis of a facet soup (the welding of
// corners, the roles of facets, the edges, the shells and their measures)
// against the plain reference of the tests.
//
// The first byte chooses the soup's form.
// - Palette (even): each three bytes that follow name the corners of a
//   facet among a few points, their copies moved by a fraction of the weld
//   tolerance and by more than it, at the origin or at site coordinates,
//   now and then with an infinite coordinate. No two points lie near the
//   edge of a tolerance, so the analysis and the reference must agree in
//   every count and shell; the reference compares every pair of corners,
//   so only soups of up to MAX_COMPARED facets are compared.
// - Raw (odd): the bytes are the corners' doubles themselves, any values at
//   all. The analysis must end, and its counts agree with one another.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "../tests/support_geometry.h"
#include "check/mesh_facts.h"

namespace {

using geometry::Point;
using geometry::Triangle;

constexpr std::size_t MAX_COMPARED = 24;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "geometry check failed: %s\n", what);
  std::abort();
}

std::vector<Triangle> palette_soup(std::span<const std::uint8_t> bytes, bool at_site) {
  static const std::vector<Point> at_origin = testing_support::weld_palette({0, 0, 0});
  static const std::vector<Point> on_site = testing_support::weld_palette({4.5e5, 6.1e6, 120.0});
  const std::vector<Point>& points = at_site ? on_site : at_origin;
  std::vector<Triangle> facets;
  for (std::size_t at = 0; at + 3 <= bytes.size(); at += 3) {
    Triangle t{};
    for (std::size_t k = 0; k < 3; ++k) t[k] = points[bytes[at + k] % points.size()];
    // A byte past the palette's size now and then makes a coordinate infinite.
    if (bytes[at] >= 252) t[1][2] = INFINITY;
    facets.push_back(t);
  }
  // The box's corners always present, so that the tolerance is fixed.
  facets.push_back({points[0], points[8], points[5]});
  return facets;
}

std::vector<Triangle> raw_soup(std::span<const std::uint8_t> bytes) {
  std::vector<Triangle> facets(bytes.size() / sizeof(Triangle));
  if (!facets.empty()) std::memcpy(facets.data(), bytes.data(), facets.size() * sizeof(Triangle));
  return facets;
}

// What must hold whatever the input.
void check_consistent(std::span<const Triangle> facets, const check::MeshAnalysis& analysis) {
  const check::MeshFacts& facts = analysis.facts;
  std::int64_t members = 0;
  std::int64_t finite = 0;
  for (std::size_t f = 0; f < facets.size(); ++f) {
    if (analysis.roles[f] == geometry::FacetRole::member) ++members;
    if (geometry::is_finite(facets[f])) ++finite;
  }
  if (facts.nonfinite_facets + finite != std::ssize(facets)) fail("finite facets");
  if (facts.degenerate_facets + facts.duplicate_facets + members != finite) fail("facet roles");
  if (facts.vertices > 3 * finite) fail("more vertices than corners");
  std::int64_t in_shells = 0;
  for (const geometry::Shell& shell : analysis.shells) {
    in_shells += shell.facets;
    if (shell.orientation < -1 || shell.orientation > 1) fail("orientation");
  }
  if (in_shells != members) fail("shells hold every member once");
  if (facts.agreeing_shells + facts.inverted_shells + facts.cavities_pointing_outward +
          facts.flat_shells >
      facts.shells) {
    fail("closed shells");
  }
}

void compare_with_reference(std::span<const Triangle> facets, const check::MeshAnalysis& analysis) {
  const testing_support::Reference truth =
      testing_support::reference(std::vector<Triangle>(facets.begin(), facets.end()));
  const check::MeshFacts& facts = analysis.facts;
  if (facts.vertices != truth.vertices) fail("vertices");
  if (facts.near_coincident_corners != truth.near) fail("near-coincident corners");
  if (facts.nonfinite_facets != truth.nonfinite) fail("non-finite facets");
  if (facts.degenerate_facets != truth.degenerate) fail("degenerate facets");
  if (facts.duplicate_facets != truth.repeated) fail("repeated facets");
  if (facts.open_edges != truth.open) fail("open edges");
  if (facts.nonmanifold_edges != truth.nonmanifold) fail("non-manifold edges");
  if (facts.misoriented_edges != truth.misoriented) fail("misoriented edges");
  if (analysis.shells.size() != truth.shells.size()) fail("shells");
  for (std::size_t s = 0; s < truth.shells.size(); ++s) {
    const geometry::Shell& shell = analysis.shells[s];
    const testing_support::ReferenceShell& expected = truth.shells[s];
    if (shell.first_facet != expected.first_facet) fail("a shell's first facet");
    if (shell.facets != expected.facets) fail("a shell's facets");
    if (shell.closed != expected.closed) fail("a shell closed");
    const long double scale = std::max(1.0L, std::fabs(expected.volume));
    if (std::fabs(shell.volume - expected.volume) > 1e-9L * scale) fail("a shell's volume");
    // A body of the palette encloses far more than the rounding of its sum.
    if (std::fabs(expected.volume) > 1e-6L && shell.orientation != (expected.volume > 0 ? 1 : -1)) {
      fail("a shell's orientation");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return -1;
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  const bool palette_form = (data[0] & 1) == 0;
  const std::vector<Triangle> facets =
      palette_form ? palette_soup(bytes, (data[0] & 2) != 0) : raw_soup(bytes);
  const check::MeshAnalysis analysis = check::analyse_mesh(facets, check::VertexIdsKept::yes);
  check_consistent(facets, analysis);
  if (palette_form && facets.size() <= MAX_COMPARED) compare_with_reference(facets, analysis);
  return 0;
}
