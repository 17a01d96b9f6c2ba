// "input.dat": the input deck of the acoustic boundary-element solver.
//
// A dated title, a block of eight parameter records in which only the
// element and node counts vary, the node section, the element section with
// each element's boundary condition, and an end marker. Every record ends
// with CR LF.
#pragma once

#include <string>

#include "mesh/mesh_store.h"
#include "records/output_channel.h"

namespace writing {

// The machine's local date as 9 characters, day-month-year: "07-DEC-26".
std::string local_date_text();

// Writes the whole deck of the mesh on the channel, and hands it to the
// system: a refused write ends the run with its report before this returns.
void write_solver_input(records::OutputChannel& deck, mesh::MeshView mesh,
                        std::string_view date_text);

}  // namespace writing
