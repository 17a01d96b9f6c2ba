// The run: reserve the mesh store, bind the three files, scan the STL file,
// report the model's size, write the solver deck and then the mesh view,
// and stop. The phases never overlap and never repeat.
#pragma once

namespace run {

[[noreturn]] void run_converter();

}  // namespace run
