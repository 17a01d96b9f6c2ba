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
#include "records/status.h"

namespace writing {

// The machine's local date as 9 characters, day-month-year: "07-DEC-26".
std::string local_date_text();

// The names of the deck's node and element sections.
inline constexpr std::string_view DECK_NODES = "deck nodes";
inline constexpr std::string_view DECK_ELEMENTS = "deck elements";

// The deck's node and element sections, to be rendered ahead in this
// order.
std::array<records::RecordSection, 2> solver_input_sections(const mesh::MeshView& mesh);

// Writes the whole deck of the mesh on the channel, its node and element
// sections taken from `sections` by name, and hands it to the system;
// returns the channel's status (a refused write stops the deck there).
[[nodiscard]] records::Status write_solver_input(records::OutputChannel& deck,
                                                 const mesh::MeshView& mesh,
                                                 std::string_view date_text,
                                                 records::RenderAhead& sections);

}  // namespace writing
