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
#include "io/failure.h"
#include "io/file_replacement.h"

namespace check {

// Finds where `name` leads, following a symbolic link (the link stays and
// the file it names is replaced). Refused: anything but a regular file or
// a new one (a folder, a device, a named pipe: as root, `--view /dev/null`
// would otherwise replace the system's). The failure reads "cannot write
// the view NAME: reason".
io::Outcome find_view_target(const std::string& name, io::ReplacementTarget& target);

// Writes the view whole in place of the target (io/file_replacement.h): a
// failure or a killed run leaves the old file, and no temporary file stays
// behind a failure. The failure reads "cannot write the view PATH: reason".
// `analysis` must have kept its vertex ids.
io::Outcome write_findings_view(const io::ReplacementTarget& target,
                                std::span<const geometry::Triangle> facets,
                                const MeshAnalysis& analysis);

}  // namespace check
