#include "run_sequence.h"

#include <fcntl.h>

#include <csignal>

#include "mesh/mesh_store.h"
#include "reading/stl_scanner.h"
#include "writing/mesh_view.h"
#include "writing/solver_input.h"
#include "records/channel.h"
#include "records/endings.h"
#include "records/free_form.h"

namespace run {

namespace {

// A standard stream the process was started without would be the number the
// next opened file gets, and the console report would land in the solver
// deck: such a stream is bound to /dev/null first.
void hold_standard_streams() {
  for (int stream = 0; stream <= 2; ++stream) {
    if (::fcntl(stream, F_GETFD) == -1) ::open("/dev/null", O_RDWR);
  }
}

}  // namespace

void run_converter() {
  hold_standard_streams();
  // A console that has gone away is a failed write with its own report,
  // not a silent death by signal.
  std::signal(SIGPIPE, SIG_IGN);

  mesh::reserve_mesh_store();
  records::bind_input(records::STL_UNIT, "STL_Model.stl");
  records::bind_output(records::SOLVER_UNIT, "input.dat");
  records::bind_output(records::MESH_VIEW_UNIT, "input.plt");

  records::write_free_form(records::console(), {" Read in the model ..."});
  reading::scan_stl();
  const mesh::MeshTables mesh = mesh::mesh_tables();
  records::write_free_form(records::console(), {" Number of elements:  m =", mesh.facet_count});
  records::write_free_form(records::console(), {" Number of nodes:     n =", mesh.node_count});

  const std::string date = writing::local_date_text();
  writing::write_solver_input(date);
  writing::write_mesh_view();

  records::write_free_form(records::console(),
                           {" Translation from STL data to BEM input is done!"});
  records::stop_run("");
}

}  // namespace run
