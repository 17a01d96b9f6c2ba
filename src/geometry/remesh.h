// Remeshing a surface for a given element size: an isotropic remesh (long
// edges split, short ones collapsed, edges flipped towards six neighbours a
// vertex, vertices moved tangentially and put back onto the input surface)
// that both refines and coarsens, so that a CAD export's long thin facets
// become well-shaped triangles of about the size the solver needs.
//
// What it keeps: sharp edges (neighbouring facets whose normals differ by
// more than the feature angle) and open borders stay where they are, as
// chains of edges of the result, with every corner where such a chain bends;
// every vertex lies on the input surface; each shell keeps its orientation
// (a cavity stays turned inwards) and none disappears; closed stays closed.
// Where the surface is curved the elements are made smaller than the
// target, until the result lies within the allowed deviation of the input;
// a feature smaller than that deviation may be smoothed away unless a sharp
// edge protects it. A last pass splits every edge above the limit.
//
// The input must be a surface the remesher can walk: every edge used by
// one or two facets, run in opposite directions by two, and every vertex's
// facets one fan. A model with non-manifold or misoriented edges is
// refused (`not_a_surface`) and left to another method.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "geometry/facet_soup.h"

namespace geometry {

struct RemeshTargets {
  double max_side = 0.0;       // every edge of the result at most this
  double max_deviation = 0.0;  // how far the result may lie from the input surface
  double feature_angle_degrees = 30.0;
  // The facets the result should stay within (0: no bound): refining the
  // needles along short sharp edges stops before it would pass this, since
  // a caller that has a cheaper method for more facets would use it.
  std::int64_t facet_budget = 0;
};

enum class RemeshStatus : std::uint8_t {
  remeshed,
  no_facets,      // nothing to remesh
  not_a_surface,  // non-manifold or misoriented edges, or a vertex joining two fans
  shell_lost,     // the remesh would lose or join shells (not written)
  failed,         // the remeshing library gave up (its reason in `reason`)
};

struct Remeshed {
  RemeshStatus status = RemeshStatus::remeshed;
  std::string_view reason;  // for `failed`: static text
  std::vector<Triangle> triangles;
  std::int64_t sharp_edges_in = 0;  // sharp and border edges of the input
  // Of those, the ones whose ends and midpoint all lie on an edge of the
  // result (within 1e-9 of the model's diagonal).
  std::int64_t sharp_edges_kept = 0;
  // The largest distance from the input surface of the points sampled on
  // the result: every vertex, edge midpoint and facet centroid.
  double largest_deviation = 0.0;
};

// The phases of a long run, for a progress line: called with the name of
// each phase as it begins.
using RemeshPhase = std::function<void(std::string_view phase)>;

// Remeshes `model`, a set of shells whose shared corners are equal to the
// bit, towards edges of about 0.8 times `targets.max_side`.
[[nodiscard]] Remeshed remesh(std::span<const Triangle> model, const RemeshTargets& targets,
                              const RemeshPhase& phase);

}  // namespace geometry
