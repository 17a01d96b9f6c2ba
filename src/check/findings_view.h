// The findings view: the model and where its findings lie, as a Tecplot
// ASCII file for a viewer.
//
// One zone of triangles for the model (every finite facet), then one zone
// per kind of finding present, titled after the finding: facets as
// triangles (degenerate facets, repeated facets, the facets of inside-out
// bodies and of cavities pointing outward), edges (open, non-manifold, misoriented) as triangles
// with their last two corners equal, because common Tecplot readers load no line zones. Every zone
// is FETRIANGLE in point packing with the variables X, Y and Z; nodes are not shared, so each
// element lists its own nodes, and coordinates are written in the shortest form that reads back
// exactly.
#pragma once

#include <span>
#include <string>

#include "check/mesh_facts.h"
#include "geometry/facet_soup.h"

namespace check {

// The file's whole text is built by parts and written to a temporary file
// beside `path` (path.partial-XXXXXX), renamed to `path` at the end: a
// failure leaves no file behind. Returns an empty string, or the one-line reason it failed.
// `analysis` must have kept its vertex ids.
std::string write_findings_view(const std::string& path, std::span<const geometry::Triangle> facets,
                                const MeshAnalysis& analysis);

}  // namespace check
