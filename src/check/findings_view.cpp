#include "check/findings_view.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "companion/tecplot_zones.h"
#include "geometry/nesting.h"

namespace check {
namespace {

using geometry::Point;
using geometry::SideKind;
using geometry::Triangle;

// A finding's zone: each element three points, the last two equal for an
// edge.
struct Zone {
  std::string title;
  std::vector<Triangle> elements;
};

// The edges of one kind, each once (by its two vertex ids), drawn between
// the corners of the first facet that holds it, in facet order.
std::vector<Triangle> edges_of_kind(std::span<const Triangle> facets, const MeshAnalysis& analysis,
                                    SideKind kind) {
  struct Side {
    std::uint64_t key;  // lower vertex id, higher vertex id
    std::uint32_t facet;
    std::uint32_t side;
  };
  std::vector<Side> sides;
  for (std::size_t f = 0; f < facets.size(); ++f) {
    for (std::uint32_t side = 0; side < 3; ++side) {
      if (analysis.topology.sides[f][side] != kind) continue;
      const geometry::VertexIds& ids = analysis.vertex_ids[f];
      const std::uint32_t a = ids[side];
      const std::uint32_t b = ids[(side + 1) % 3];
      sides.push_back({std::uint64_t{std::min(a, b)} << 32 | std::max(a, b),
                       static_cast<std::uint32_t>(f), side});
    }
  }
  std::stable_sort(sides.begin(), sides.end(),
                   [](const Side& x, const Side& y) { return x.key < y.key; });
  sides.erase(std::unique(sides.begin(), sides.end(),
                          [](const Side& x, const Side& y) { return x.key == y.key; }),
              sides.end());
  std::sort(sides.begin(), sides.end(), [](const Side& x, const Side& y) {
    return x.facet != y.facet ? x.facet < y.facet : x.side < y.side;
  });
  std::vector<Triangle> elements;
  elements.reserve(sides.size());
  for (const Side& s : sides) {
    const Triangle& t = facets[s.facet];
    elements.push_back({t[s.side], t[(s.side + 1) % 3], t[(s.side + 1) % 3]});
  }
  return elements;
}

std::vector<Triangle> facets_with_role(std::span<const Triangle> facets,
                                       const MeshAnalysis& analysis, geometry::FacetRole role) {
  std::vector<Triangle> elements;
  for (std::size_t f = 0; f < facets.size(); ++f) {
    if (analysis.roles[f] == role) elements.push_back(facets[f]);
  }
  return elements;
}

std::vector<Triangle> facets_of_shells_facing(std::span<const Triangle> facets,
                                              const MeshAnalysis& analysis,
                                              geometry::ShellFacing facing) {
  std::vector<Triangle> elements;
  for (std::size_t f = 0; f < facets.size(); ++f) {
    const std::uint32_t s = analysis.topology.shell_of_facet[f];
    if (s == geometry::NO_SHELL) continue;
    if (geometry::facing_of(analysis.shells[s], analysis.depths[s]) == facing) {
      elements.push_back(facets[f]);
    }
  }
  return elements;
}

// Every failure of the view is told the same way, with the system's reason.
io::Failure view_failure(const io::Failure& failure, const std::string& path) {
  return io::Failure{"cannot write the view", path, failure.error, failure.detail};
}

}  // namespace

io::Outcome find_view_target(const std::string& name, io::ReplacementTarget& target) {
  if (io::Outcome found = io::find_replacement_target(name, target); !found.ok()) {
    return view_failure(found.failure(), name);
  }
  return {};
}

io::Outcome write_findings_view(const io::ReplacementTarget& target,
                                std::span<const Triangle> facets, const MeshAnalysis& analysis) {
  std::vector<Zone> zones;
  const MeshFacts& facts = analysis.facts;
  const auto add = [&](std::int64_t count, std::string_view title, auto elements) {
    if (count == 0) return;
    zones.push_back({std::string(title) + ": " + std::to_string(count), std::move(elements)});
  };
  using geometry::FacetRole;
  add(facts.open_edges, "open edges (holes)", edges_of_kind(facets, analysis, SideKind::open));
  add(facts.nonmanifold_edges, "non-manifold edges",
      edges_of_kind(facets, analysis, SideKind::nonmanifold));
  add(facts.misoriented_edges, "misoriented edges (flipped facets)",
      edges_of_kind(facets, analysis, SideKind::misoriented));
  add(facts.inverted_shells, "inside-out shells",
      facets_of_shells_facing(facets, analysis, geometry::ShellFacing::body_inside_out));
  add(facts.cavities_pointing_outward, "cavities pointing outward",
      facets_of_shells_facing(facets, analysis, geometry::ShellFacing::cavity_pointing_outward));
  add(facts.degenerate_facets, "degenerate facets",
      facets_with_role(facets, analysis, FacetRole::degenerate));
  add(facts.duplicate_facets, "repeated facets",
      facets_with_role(facets, analysis, FacetRole::repeated));

  // A view without a zone would crash its reader: the model's zone comes
  // first, and a model without a finite facet has none to give.
  if (!companion::has_zone(facets)) {
    return io::Failure{"cannot write the view", target.path, 0,
                       "no facet of the model is finite, so it would hold nothing to show"};
  }
  // A file of its own, so that no other file is touched until the rename.
  io::FileReplacement replacement("partial");
  io::Outcome written = replacement.open(target);
  if (written.ok()) {
    companion::TecplotZones view("stldeck-check findings", facets, [&](std::string_view text) {
      written = replacement.write(text);
      return written.ok();
    });
    for (const Zone& zone : zones) {
      if (!view.add_zone(zone.title, zone.elements)) break;
    }
    static_cast<void>(view.finish());
  }
  if (written.ok()) written = replacement.finish();
  if (written.ok()) written = replacement.commit();
  if (!written.ok()) return view_failure(written.failure(), target.path);
  return {};
}

}  // namespace check
