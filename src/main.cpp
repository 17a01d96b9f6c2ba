// stldeck: converts "STL_Model.stl" in the current directory into the solver
// deck "input.dat" and the mesh view "input.plt". Arguments are ignored.
#include "run_sequence.h"

int main() { run::run_converter(); }
