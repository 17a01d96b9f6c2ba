// The check's figures in metres. The analysis runs on the coordinates as
// the file holds them, so that which corners are one vertex, which edges
// are open and which facets are degenerate do not depend on the unit
// named (a tolerance a few units in the last place wide belongs to the
// numbers as the CAD program wrote them); the lengths are then multiplied
// out to metres for the report and for the comparison with the
// wavelength, which is in metres.
#pragma once

#include "check/mesh_facts.h"

namespace check {

// Multiplies every length of `mesh` by `factor` (metres per model unit),
// its area by factor * factor and its volume by factor * factor * factor.
void state_in_metres(MeshFacts& mesh, double factor);

}  // namespace check
