// stldeck-check: tells whether an STL file is ready for the solver, reading
// it with the converter's own scanner, and what to do when it is not.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "check/check_report.h"
#include "check/escape_for_terminal.h"
#include "check/file_format.h"
#include "check/findings_view.h"
#include "check/mesh_facts.h"
#include "check/model_scan.h"
#include "check/options.h"
#include "check/readiness.h"
#include "companion/exit_status.h"
#include "companion/tecplot_zones.h"
#include "io/line_reader.h"
#include "io/standard_error.h"
#include "io/standard_streams.h"
#include "records/output_channel.h"
#include "records/status.h"

namespace {

using companion::exit_code;
using companion::ExitStatus;

// The report goes to standard output through a channel of its own: one
// text written whole, in plain bytes (not records), never cut, since the
// channel does not own the descriptor. The unit is the descriptor's number.
constexpr int REPORT_UNIT = STDOUT_FILENO;

// Messages name paths and arguments as given: on a terminal their control
// characters are shown escaped, elsewhere the bytes go through as they are.
ExitStatus fail(const std::string& reason) {
  const std::string shown =
      ::isatty(STDERR_FILENO) == 1 ? check::escape_for_terminal(reason) : reason;
  io::write_to_standard_error("stldeck-check: " + shown + "\n");
  return ExitStatus::unusable;
}

// Writes the whole text on standard output. A refusal is the channel's
// status, with the system's reason beside it: the failed write is the
// channel's last system call, so errno still holds its reason.
struct Written {
  records::Status status;
  int error_number = 0;
};
Written write_out(std::string_view text) {
  records::OutputChannel out(REPORT_UNIT, STDOUT_FILENO, "standard output",
                             records::OutputMode::plain, false);
  Written written;
  if (!out.write_records(text)) written.error_number = errno;
  written.status = out.status();
  return written;
}

// The report on standard output, or the one line that says why it could
// not be written; `done` is the status the run ends with when it was.
ExitStatus report(std::string_view text, ExitStatus done) {
  const Written written = write_out(text);
  if (written.status.ok()) return done;
  return fail(std::string("cannot write the report: ") + std::strerror(written.error_number));
}

// The first bytes of the file, read without moving its position, which the
// scan starts from.
bool read_head(int fd, std::uint64_t size, std::vector<unsigned char>& head) {
  head.resize(size < check::BINARY_HEADER_BYTES ? static_cast<std::size_t>(size)
                                                : check::BINARY_HEADER_BYTES);
  std::size_t done = 0;
  while (done < head.size()) {
    const ssize_t got =
        ::pread(fd, head.data() + done, head.size() - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// A standard stream that would write into the model or the view: the run
// is refused before anything is written. When standard error is such a
// file, the refusal is told by the status alone, since its line would land
// in the file.
ExitStatus refuse_streams(const io::StreamsInto& into_model, const io::StreamsInto& into_view,
                          const check::CheckOptions& options) {
  if (into_model.standard_error || into_view.standard_error) return ExitStatus::unusable;
  return fail("standard output goes into " +
              (into_model.standard_output ? options.path + ", the model"
                                          : options.view_path + ", the view") +
              ": send it elsewhere");
}

// Everything after the command line. Any allocation may fail: the caller
// turns that into a one-line report.
ExitStatus check_file(const check::CheckOptions& options) {
  const bool with_view = !options.view_path.empty();
  check::ViewTarget view;
  if (with_view) {
    if (const std::string problem = check::find_view_target(options.view_path, view);
        !problem.empty()) {
      return fail(problem);
    }
  }
  // A pipe or a device is refused before it is opened, since opening a
  // pipe without a writer waits for one; the descriptor is then opened
  // without waiting and looked at again, in case the name changed between.
  struct stat status {};
  if (::stat(options.path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    return fail("cannot read " + options.path +
                (S_ISDIR(status.st_mode) ? ": it is a folder" : ": not a regular file"));
  }
  const int fd = ::open(options.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail("cannot open " + options.path + ": " + std::strerror(errno));
  // The reader owns the descriptor from here on and closes it.
  io::LineReader stl(fd, options.path);
  if (::fstat(fd, &status) != 0) {
    return fail("cannot read " + options.path + ": " + std::strerror(errno));
  }
  if (S_ISDIR(status.st_mode)) return fail("cannot read " + options.path + ": it is a folder");
  if (!S_ISREG(status.st_mode)) {
    return fail("cannot read " + options.path + ": not a regular file");
  }
  // The view replaces the file it names: never the model being read.
  if (view.exists && view.status.st_dev == status.st_dev && view.status.st_ino == status.st_ino) {
    return fail("the view " + options.view_path + " is the model itself: name another file");
  }
  const io::StreamsInto into_model = io::standard_streams_into(status);
  const io::StreamsInto into_view =
      view.exists ? io::standard_streams_into(view.status) : io::StreamsInto{};
  if (into_model.any() || into_view.any()) return refuse_streams(into_model, into_view, options);
  const auto size = static_cast<std::uint64_t>(status.st_size);
  std::vector<unsigned char> head;
  if (!read_head(fd, size, head)) {
    return fail("cannot read " + options.path + ": " + std::strerror(errno));
  }

  check::ModelFacts facts;
  facts.format = check::classify_format(size, head);
  check::ModelScan scan = check::scan_model(stl, size);
  facts.facets = scan.outcome.facets;
  facts.converter_report = check::converter_report(scan.outcome.end);
  facts.converter_line = scan.outcome.line_number;
  facts.invalid_token = scan.outcome.token;
  facts.line_facts = scan.line_facts;
  if (facts.converter_report == 0 && facts.facets > 0) {
    facts.end_of_solid = scan.line_facts.ends_with_endsolid;
  }
  const check::MeshAnalysis analysis = check::analyse_mesh(
      scan.facets, with_view ? check::VertexIdsKept::yes : check::VertexIdsKept::no);
  facts.mesh = analysis.facts;
  for (std::size_t kind = 0; kind < check::FACET_FINDING_KINDS; ++kind) {
    for (const std::uint32_t f : analysis.facts.first_facets[kind]) {
      facts.finding_lines[kind].push_back(scan.facet_lines[f]);
    }
  }
  const check::Readiness readiness = check::assess_model(facts, options.settings);
  facts.view_without_zone = with_view && !companion::has_zone(scan.facets);
  if (with_view && !facts.view_without_zone) {
    if (const std::string problem = check::write_findings_view(view.path, scan.facets, analysis);
        !problem.empty()) {
      return fail(problem);
    }
  }

  const std::string shown_path =
      ::isatty(STDOUT_FILENO) == 1 ? check::escape_for_terminal(options.path) : options.path;
  const std::string text =
      options.json ? check::render_json(facts, readiness)
                   : check::render_summary(shown_path, facts, readiness, options.settings);
  return report(text, readiness.ready ? ExitStatus::ready : ExitStatus::findings);
}

}  // namespace

int main(int argc, char** argv) {
  // Under a limit on file sizes a write past it then fails with EFBIG, which
  // is reported with the file's path, instead of ending the run by a signal
  // that leaves no word and a partial file.
  std::signal(SIGXFSZ, SIG_IGN);
  io::hold_closed_standard_streams();
  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  check::CheckOptions options;
  if (const std::string problem = check::parse_options(arguments, options); !problem.empty()) {
    return exit_code(fail(problem));
  }
  if (options.help) return exit_code(report(check::USAGE, ExitStatus::ready));
  try {
    return exit_code(check_file(options));
  } catch (const std::bad_alloc&) {
    // The message is short and built in a buffer of its own, for memory is
    // what ran out.
    io::write_to_standard_error("stldeck-check: not enough memory to check the model\n");
    return exit_code(ExitStatus::unusable);
  }
}
