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

#include <sys/stat.h>

#include <span>
#include <string>

#include "check/mesh_facts.h"
#include "geometry/facet_soup.h"

namespace check {

// Where the view goes: the file a name stands for, after following a
// symbolic link (the link stays and the file it names is replaced).
struct ViewTarget {
  std::string path;
  bool exists = false;
  struct stat status {};  // valid when it exists
};

// Finds where `name` leads. Returns an empty string, or why no view may be
// written there: the view replaces only a regular file or makes a new one,
// never a folder, a device or a named pipe (as root, `--view /dev/null`
// would otherwise replace the system's).
std::string find_view_target(const std::string& name, ViewTarget& target);

// The file's whole text is built by parts and written to a file without a
// name in the folder of `path` (where the file system cannot make one, to
// path.partial-XXXXXX), named `path` at the end: a failure leaves no file
// behind, and a killed run none where the file system makes nameless files.
// Returns an empty string, or the one-line reason it failed. `analysis`
// must have kept its vertex ids.
std::string write_findings_view(const std::string& path, std::span<const geometry::Triangle> facets,
                                const MeshAnalysis& analysis);

}  // namespace check
