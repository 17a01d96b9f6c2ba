// "input.plt": the converted model as a Tecplot ASCII data file, one zone of
// triangles (FETRIANGLE) in point packing with the variables X, Y and Z, so
// that the boundary-element mesh can be looked at in a viewer.
#pragma once

#include <array>
#include <string_view>

#include "mesh/mesh_store.h"
#include "records/output_channel.h"
#include "records/render_ahead.h"
#include "records/status.h"

namespace writing {

// The names of the mesh view's node and element sections.
inline constexpr std::string_view VIEW_NODES = "view nodes";
inline constexpr std::string_view VIEW_ELEMENTS = "view elements";

// The mesh view's node and element sections, to be rendered ahead in this
// order.
std::array<records::RecordSection, 2> mesh_view_sections(const mesh::MeshView& mesh);

// Writes the whole mesh view of the mesh on the channel, its node and
// element sections taken from `sections` by name, and hands it to the
// system; returns the channel's status (a refused write stops the view
// there).
[[nodiscard]] records::Status write_mesh_view(records::OutputChannel& view,
                                              const mesh::MeshView& mesh,
                                              records::RenderAhead& sections);

}  // namespace writing
