// "input.dat": the input deck of the acoustic boundary-element solver.
//
// A dated title, a block of eight parameter records in which only the
// element and node counts vary, the node section, the element section with
// each element's boundary condition, and an end marker. Every record ends
// with CR LF.
#pragma once

#include <string>

namespace writing {

// The machine's local date as 9 characters, day-month-year: "07-DEC-26".
std::string local_date_text();

// Writes the whole deck on channel 6 from the mesh store.
void write_solver_input(const std::string& date_text);

}  // namespace writing
