#include "run_sequence.h"

#include <fcntl.h>

#include <csignal>
#include <initializer_list>
#include <vector>

#include "format/free_form.h"
#include "io/line_reader.h"
#include "mesh/mesh_store.h"
#include "reading/facet_stream.h"
#include "reading/stl_scanner.h"
#include "reading/store_filling.h"
#include "records/channel_table.h"
#include "records/endings.h"
#include "records/render_ahead.h"
#include "writing/mesh_view.h"
#include "writing/solver_input.h"

namespace run {

namespace {

using records::Report;
using records::Status;

// A standard stream the process was started without would be the number the
// next opened file gets, and the console report would land in the solver
// deck: such a stream is bound to /dev/null first.
void hold_standard_streams() {
  for (int stream = 0; stream <= 2; ++stream) {
    if (::fcntl(stream, F_GETFD) == -1) ::open("/dev/null", O_RDWR);
  }
}

// The status of a run whose scan of channel 5 ended so: the report, with
// the channel and its file where the report names them (the stop and the
// invalid number name no file).
Status scan_status(reading::ScanEnd end, const io::LineReader& stl) {
  const Report report = scan_report(end);
  if (report == Report::vertex_read_stop || report == Report::invalid_real) return {report};
  if (report == Report::none) return {};
  return {report, records::STL_UNIT, stl.path()};
}

// Shows one line on the console.
Status show(std::initializer_list<format::FreeItem> items) {
  const records::Binding<records::OutputChannel> console = records::console();
  if (console.channel == nullptr) return console.status;
  format::write_free_form(*console.channel, items);
  return console.channel->status();
}

// The conversion, up to the status the run ends with. Everything it holds
// (the store, the batch, the writing worker) is released on the way out, whatever ends it.
Status convert() {
  mesh::MeshStore store;
  // The coordinates are converted on this thread, a batch of records at a
  // time as the scan hands it over: handing the records to a second core
  // cost more than the conversion there saved (the cores pass every record
  // between their caches), and the second core is better spent on the
  // writing. The batch's memory is taken before any file is bound.
  reading::StoreFilling filling(store);
  reading::FacetStream facets(filling, mesh::MAX_FACETS);
  if (!store.reserve() || !facets.start()) return {Report::no_memory};
  const auto stl = records::bind_input("STL_Model.stl");
  if (stl.channel == nullptr) return stl.status;
  const auto deck = records::bind_output(records::SOLVER_UNIT, "input.dat");
  if (deck.channel == nullptr) return deck.status;
  const auto view = records::bind_output(records::MESH_VIEW_UNIT, "input.plt");
  if (view.channel == nullptr) return view.status;

  if (Status s = show({" Read in the model ..."}); !s.ok()) return s;
  const reading::ScanOutcome scanned = facets.finish(reading::scan_stl(*stl.channel, facets));
  if (Status s = scan_status(scanned.end, *stl.channel); !s.ok()) return s;
  const mesh::MeshView mesh = store.view();
  if (Status s = show({" Number of elements:  m =", mesh.facet_count}); !s.ok()) return s;
  if (Status s = show({" Number of nodes:     n =", mesh.node_count}); !s.ok()) return s;

  const std::string date = writing::local_date_text();
  // The node and element records of both files are rendered and written
  // by this thread and a worker on the second core, in turns; their memory
  // and the worker are taken before anything is written.
  records::RenderAhead sections;
  std::vector<records::RecordSection> section_list;
  for (auto& section : writing::solver_input_sections(mesh)) section_list.push_back(section);
  for (auto& section : writing::mesh_view_sections(mesh)) section_list.push_back(section);
  if (!sections.start(std::move(section_list))) return {Report::no_memory};
  if (Status s = writing::write_solver_input(*deck.channel, mesh, date, sections); !s.ok()) {
    return s;
  }
  if (Status s = writing::write_mesh_view(*view.channel, mesh, sections); !s.ok()) return s;

  return show({" Translation from STL data to BEM input is done!"});
}

}  // namespace

Report scan_report(reading::ScanEnd end) {
  switch (end) {
    case reading::ScanEnd::clean:
      return Report::none;
    case reading::ScanEnd::end_of_file_in_facet:
      return Report::end_of_file;
    case reading::ScanEnd::read_failure:
      return Report::read_error;
    case reading::ScanEnd::vertex_read_failure:
      return Report::vertex_read_stop;
    case reading::ScanEnd::invalid_coordinate:
      return Report::invalid_real;
    case reading::ScanEnd::too_many_facets:
      return Report::model_too_large;
  }
  return Report::read_error;  // not reached: every ending is listed
}

void run_converter() {
  hold_standard_streams();
  // A console that has gone away, or a file that reaches the file-size
  // limit, is a failed write with its own report, not a silent death by
  // signal.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  records::report_memory_exhaustion();
  records::end_run(convert());
}

}  // namespace run
