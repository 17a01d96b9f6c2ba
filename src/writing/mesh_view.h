// "input.plt": the converted model as a Tecplot ASCII data file, one zone of
// triangles (FETRIANGLE) in point packing with the variables X, Y and Z, so
// that the boundary-element mesh can be looked at in a viewer.
#pragma once

#include <array>

#include "mesh/mesh_store.h"
#include "records/output_channel.h"
#include "records/render_ahead.h"

namespace writing {

// The mesh view's node and element sections, to be rendered ahead in this
// order.
std::array<records::RecordSection, 2> mesh_view_sections(const mesh::MeshView& mesh);

// Writes the whole mesh view of the mesh on the channel, its node and
// element sections taken from `sections`, and hands it to the system: a
// refused write ends the run with its report before this returns.
void write_mesh_view(records::OutputChannel& view, const mesh::MeshView& mesh,
                     records::RenderAhead& sections);

}  // namespace writing
