// stldeck-check: tells whether an STL file is ready for the solver, reading
// it with the converter's own scanner (a binary file also whole, for its
// geometry), and what to do when it is not.
#include <array>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check/check_report.h"
#include "check/file_format.h"
#include "check/findings_view.h"
#include "check/mesh_facts.h"
#include "check/model_scan.h"
#include "check/model_units.h"
#include "check/options.h"
#include "check/readiness.h"
#include "companion/exit_status.h"
#include "companion/tecplot_zones.h"
#include "companion/units.h"
#include "io/console.h"
#include "io/file_replacement.h"
#include "io/file_writer.h"
#include "io/input_file.h"
#include "io/line_reader.h"
#include "io/standard_error.h"
#include "io/standard_streams.h"

namespace {

using companion::exit_code;
using companion::ExitStatus;

constexpr std::string_view OUT_OF_MEMORY = "stldeck-check: not enough memory to check the model\n";

// Messages name paths and arguments as given, shown under the terminal rule
// of the shared I/O layer.
ExitStatus fail(const std::string& reason) {
  io::write_to_standard_error("stldeck-check: " + io::shown_on(io::StandardStream::error, reason) +
                              "\n");
  return ExitStatus::unusable;
}

ExitStatus fail(const io::Failure& failure) { return fail(failure.message()); }

// The report on standard output, or the one line that says why it could
// not be written; `done` is the status the run ends with when it was.
ExitStatus report(std::string_view text, ExitStatus done) {
  const io::Outcome written = io::write_to(io::StandardStream::output, text);
  if (written.ok()) return done;
  return fail(io::Failure{"cannot write the report", {}, written.failure().error, {}});
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
  io::ReplacementTarget view;
  if (with_view) {
    if (io::Outcome found = check::find_view_target(options.view_path, view); !found.ok()) {
      return fail(found.failure());
    }
  }
  io::InputFile input;
  if (io::Outcome opened = io::open_input_file(options.path, input); !opened.ok()) {
    return fail(opened.failure());
  }
  const struct stat& status = input.status();
  // The view replaces the file it names: never the model being read.
  if (io::is_same_file(view, status)) {
    return fail("the view " + options.view_path + " is the model itself: name another file");
  }
  const io::StreamsInto into_model = io::standard_streams_into(status);
  const io::StreamsInto into_view =
      view.exists ? io::standard_streams_into(view.status) : io::StreamsInto{};
  if (into_model.any() || into_view.any()) return refuse_streams(into_model, into_view, options);
  const std::uint64_t size = input.size();
  // The first bytes of the file, read without moving its position, which
  // the scan starts from.
  std::vector<unsigned char> head(size < check::BINARY_HEADER_BYTES ? static_cast<std::size_t>(size)
                                                                    : check::BINARY_HEADER_BYTES);
  if (io::Outcome read = io::read_at(
          input, 0, std::span(reinterpret_cast<char*>(head.data()), head.size()), options.path);
      !read.ok()) {
    return fail(read.failure());
  }

  check::ModelFacts facts;
  facts.format = check::classify_format(size, head);
  facts.units = options.units;
  // A binary file is read whole for its geometry, then scanned as the
  // converter scans it (which finds no facet in it); an ASCII file is
  // scanned once, its facets taken from the converter's own reading.
  reading::ModelRead whole;
  if (facts.format == check::FileFormat::binary) {
    if (const std::string problem = check::read_whole_model(input.descriptor(), size, whole);
        !problem.empty()) {
      return fail(options.path + ": " + problem);
    }
  }
  // The reader owns the descriptor from here on and closes it.
  io::LineReader stl(input.release(), options.path);
  check::ModelScan scan = check::scan_model(stl, size);
  if (scan.out_of_memory) {
    io::write_to_standard_error(OUT_OF_MEMORY);
    return ExitStatus::unusable;
  }
  facts.facets = scan.outcome.facets;
  facts.converter_report = check::converter_report(scan.outcome.end);
  facts.converter_line = scan.outcome.line_number;
  facts.invalid_token = scan.outcome.token;
  facts.line_facts = scan.line_facts;
  if (facts.converter_report == 0 && facts.facets > 0) {
    facts.end_of_solid = scan.line_facts.ends_with_endsolid;
  }
  const bool binary = facts.format == check::FileFormat::binary;
  if (binary) {
    // Lines of a binary file are bytes of its floats: nothing to tell.
    facts.line_facts = check::LineFacts{};
    scan.facets = std::move(whole.facets);
    scan.facet_lines = std::move(whole.facet_lines);
  }
  facts.facets_in = binary ? static_cast<std::int64_t>(scan.facets.size()) : facts.facets;
  const double factor = options.units.factor();
  facts.scale_problem = companion::find_scale_problem(scan.facets, factor);
  if (facts.scale_problem.found) {
    facts.scale_problem_line = scan.facet_lines[facts.scale_problem.facet];
  }
  const check::MeshAnalysis analysis = check::analyse_mesh(
      scan.facets, with_view ? check::VertexIdsKept::yes : check::VertexIdsKept::no,
      options.min_angle_degrees);
  facts.mesh = analysis.facts;
  check::state_in_metres(facts.mesh, factor);
  for (std::size_t kind = 0; kind < check::FACET_FINDING_KINDS; ++kind) {
    for (const std::uint32_t f : analysis.facts.first_facets[kind]) {
      facts.finding_lines[kind].push_back(scan.facet_lines[f]);
    }
  }
  if (analysis.facts.shape.any) {
    facts.smallest_angle_line = scan.facet_lines[analysis.facts.shape.smallest_angle_facet];
    facts.largest_aspect_ratio_line =
        scan.facet_lines[analysis.facts.shape.largest_aspect_ratio_facet];
  }
  {
    const check::CoarseFacets coarse =
        check::coarse_facets(scan.facets, analysis.facts.longest_edge, options.settings);
    facts.coarse_facets = coarse.count;
    for (const std::uint32_t f : coarse.first)
      facts.coarse_facet_lines.push_back(scan.facet_lines[f]);
  }
  const check::Readiness readiness = check::assess_model(facts, options.settings);
  facts.view_without_zone = with_view && !companion::has_zone(scan.facets);
  if (with_view && !facts.view_without_zone) {
    if (io::Outcome written = check::write_findings_view(view, scan.facets, analysis);
        !written.ok()) {
      return fail(written.failure());
    }
  }

  const std::string shown_path = io::shown_on(io::StandardStream::output, options.path);
  const std::string text =
      options.json ? check::render_json(facts, readiness)
                   : check::render_summary(shown_path, facts, readiness, options.settings);
  return report(text, readiness.ready ? ExitStatus::ready : ExitStatus::findings);
}

}  // namespace

int main(int argc, char** argv) {
  io::take_file_size_limit_as_failure();
  io::hold_closed_standard_streams();
  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  check::CheckOptions options;
  if (const std::string problem = check::parse_options(arguments, options); !problem.empty()) {
    return exit_code(fail(problem));
  }
  if (options.help) return exit_code(report(check::usage(), ExitStatus::ready));
  try {
    return exit_code(check_file(options));
  } catch (const std::bad_alloc&) {
    // The message is short and built in a buffer of its own, for memory is
    // what ran out.
    io::write_to_standard_error(OUT_OF_MEMORY);
    return exit_code(ExitStatus::unusable);
  }
}
