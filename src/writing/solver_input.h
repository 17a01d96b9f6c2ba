// "input.dat": the input deck of the acoustic boundary-element solver.
//
// A dated title, a block of eight parameter records in which only the
// element and node counts vary, the node section, the element section with
// each element's boundary condition, and an end marker. Every record ends
// with CR LF.
#pragma once

#include <array>
#include <string>

#include "mesh/mesh_store.h"
#include "records/output_channel.h"
#include "records/render_ahead.h"

namespace writing {

// The machine's local date as 9 characters, day-month-year: "07-DEC-26".
std::string local_date_text();

// The deck's node and element sections, to be rendered ahead in this
// order.
std::array<records::RecordSection, 2> solver_input_sections(const mesh::MeshView& mesh);

// Writes the whole deck of the mesh on the channel, its node and element
// sections taken from `sections`, and hands it to the system: a refused
// write ends the run with its report before this returns.
void write_solver_input(records::OutputChannel& deck, const mesh::MeshView& mesh,
                        std::string_view date_text, records::RenderAhead& sections);

}  // namespace writing
