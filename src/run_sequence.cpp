#include "run_sequence.h"

#include <fcntl.h>

#include <csignal>
#include <vector>

#include "mesh/mesh_store.h"
#include "reading/background_conversion.h"
#include "reading/stl_scanner.h"
#include "records/channel_table.h"
#include "records/endings.h"
#include "records/free_form.h"
#include "records/render_ahead.h"
#include "writing/mesh_view.h"
#include "writing/solver_input.h"

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

// Every way a scan can end other than a clean end of input ends the run.
void end_failed_scan(const reading::ScanOutcome& outcome, const records::InputChannel& stl) {
  switch (outcome.end) {
    case reading::ScanEnd::clean:
      return;
    case reading::ScanEnd::end_of_file_in_facet:
      records::fatal_report(records::REPORT_END_OF_FILE, stl.unit(), stl.path());
    case reading::ScanEnd::read_failure:
      records::fatal_report(records::REPORT_READ_ERROR, stl.unit(), stl.path());
    case reading::ScanEnd::vertex_read_failure:
      // The output files are left as they were, and a caller must not take
      // them for a fresh conversion: a stop with a failure status.
      records::stop_run(READ_FAILURE_MESSAGE, READ_FAILURE_STATUS);
    case reading::ScanEnd::invalid_coordinate:
      records::fatal_report(records::REPORT_INVALID_REAL);
    case reading::ScanEnd::too_many_facets:
      records::fatal_report(records::REPORT_MODEL_TOO_LARGE, stl.unit(), stl.path());
  }
}

void run_converter() {
  hold_standard_streams();
  // A console that has gone away, or a file that reaches the file-size
  // limit, is a failed write with its own report, not a silent death by
  // signal.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  records::report_memory_exhaustion();

  // Lives until the process ends: every ending leaves through _exit.
  static mesh::MeshStore store;
  // The coordinates are converted on a second core while this thread reads
  // the lines; its memory and thread are taken before any file is bound.
  static reading::BackgroundConversion conversion(store);
  if (!store.reserve() || !conversion.start()) records::fatal_report(records::REPORT_NO_MEMORY);
  records::InputChannel& stl = records::bind_input("STL_Model.stl");
  records::OutputChannel& deck = records::bind_output(records::SOLVER_UNIT, "input.dat");
  records::OutputChannel& view = records::bind_output(records::MESH_VIEW_UNIT, "input.plt");

  records::write_free_form(records::console(), {" Read in the model ..."});
  end_failed_scan(conversion.finish(reading::scan_stl(stl, conversion)), stl);
  const mesh::MeshView mesh = store.view();
  records::write_free_form(records::console(), {" Number of elements:  m =", mesh.facet_count});
  records::write_free_form(records::console(), {" Number of nodes:     n =", mesh.node_count});

  const std::string date = writing::local_date_text();
  // The node and element records of both files are rendered on a second
  // core while this thread writes; its memory and thread are taken before
  // anything is written.
  static records::RenderAhead sections;
  std::vector<records::RecordSection> section_list;
  for (auto& section : writing::solver_input_sections(mesh)) section_list.push_back(section);
  for (auto& section : writing::mesh_view_sections(mesh)) section_list.push_back(section);
  if (!sections.start(std::move(section_list))) records::fatal_report(records::REPORT_NO_MEMORY);
  writing::write_solver_input(deck, mesh, date, sections);
  writing::write_mesh_view(view, mesh, sections);

  records::write_free_form(records::console(),
                           {" Translation from STL data to BEM input is done!"});
  records::stop_run("");
}

}  // namespace run
