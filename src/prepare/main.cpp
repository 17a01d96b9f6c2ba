// stldeck-prepare: reads an STL model in whatever form the CAD program
// wrote it, mends what the model check finds, refines the facets for the
// frequency, and writes the model in the style stldeck reads.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "companion/exit_status.h"
#include "companion/report_rows.h"
#include "geometry/facet_soup.h"
#include "io/standard_streams.h"
#include "mesh/mesh_store.h"
#include "prepare/mend.h"
#include "prepare/model_writer.h"
#include "prepare/options.h"
#include "prepare/progress.h"
#include "prepare/refine.h"
#include "prepare/remesh_step.h"
#include "prepare/report.h"
#include "reading/model_reader.h"

namespace {

using companion::exit_code;
using companion::ExitStatus;

// The converter's limit: a result with more facets cannot be converted.
constexpr auto FACET_LIMIT = static_cast<std::uint64_t>(mesh::MAX_FACETS);

ExitStatus fail(const std::string& reason) {
  std::fprintf(stderr, "stldeck-prepare: %s\n", reason.c_str());
  return ExitStatus::unusable;
}

bool write_out(std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
         std::fflush(stdout) == 0;
}

std::string shown_count(double value) {
  if (value < 1e15) return companion::group_digits(std::llround(value));
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  return text;
}

// Why refining to `max_side` is refused: how many facets it would give and
// the highest frequency that stays within the converter's limit.
std::string too_large(std::span<const geometry::Triangle> facets, double max_side,
                      const prepare::PrepareOptions& options) {
  const prepare::RefinementSize size = prepare::size_refinement(facets, max_side, FACET_LIMIT);
  char side[32];
  std::snprintf(side, sizeof side, "%.5g", max_side);
  std::string reason = "refining to edges of at most " + std::string(side) + " gives " +
                       (size.exact ? "" : "about ") + shown_count(size.facets) +
                       " facets, more than the " + shown_count(FACET_LIMIT) +
                       " stldeck can convert";
  const double frequency = prepare::highest_fitting_frequency(
      facets, options.sound_speed, options.elements_per_wavelength, options.frequency_hz, size,
      FACET_LIMIT);
  if (frequency > 0.0) {
    // Four significant digits, without an exponent.
    char text[48];
    std::snprintf(text, sizeof text, frequency >= 1000.0 ? "%.0f" : "%.4g", frequency);
    reason += "; the highest frequency that fits is " + std::string(text) + " Hz";
  } else {
    reason += "; no frequency fits (an edge is longer than the largest number)";
  }
  return reason;
}

ExitStatus run(const prepare::PrepareOptions& options) {
  prepare::ProgressLine progress(::isatty(STDERR_FILENO) == 1);
  const std::string input_name = prepare::printable(options.input);
  // Not blocking: a named pipe without a writer must not hold the run.
  const int fd = ::open(options.input.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail("cannot open " + input_name + ": " + std::strerror(errno));
  struct stat input_status {};
  if (::fstat(fd, &input_status) != 0 || !S_ISREG(input_status.st_mode)) {
    const bool folder = S_ISDIR(input_status.st_mode);
    ::close(fd);
    return fail("cannot read " + input_name + ": " +
                (folder ? "it is a folder" : "not a regular file"));
  }

  prepare::OutputTarget target;
  if (std::string problem = prepare::find_output_target(options.output, target); !problem.empty()) {
    ::close(fd);
    return fail(prepare::printable(problem));
  }
  if (prepare::is_same_file(target, input_status)) {
    ::close(fd);
    return fail(input_name + " and " + prepare::printable(options.output) +
                " are one file: the model is never written over itself");
  }
  // The report must not land in the model or OUT (`stldeck-prepare in out
  // >> in`). When standard error is such a file, the refusal is told by
  // the status alone, since its line would land in the file.
  const io::StreamsInto into_input = io::standard_streams_into(input_status);
  const io::StreamsInto into_output =
      target.exists ? io::standard_streams_into(target.status) : io::StreamsInto{};
  if (into_input.any() || into_output.any()) {
    ::close(fd);
    if (into_input.standard_error || into_output.standard_error) return ExitStatus::unusable;
    return fail("standard output goes into " +
                (into_input.standard_output ? input_name + ", the model"
                                            : prepare::printable(options.output) + ", OUT") +
                ": send it elsewhere");
  }

  progress.begin("reading");
  reading::ModelRead model;
  const std::string problem = reading::read_model(
      fd, static_cast<std::uint64_t>(input_status.st_size), model,
      [&progress](std::uint64_t done, std::uint64_t total) { progress.advance(done, total); });
  ::close(fd);
  if (!problem.empty()) return fail(input_name + ": " + prepare::printable(problem));
  if (model.facets.size() > geometry::MAX_SOUP_FACETS) {
    return fail(input_name + ": more facets than can be mended (" +
                std::to_string(geometry::MAX_SOUP_FACETS) + " at most)");
  }

  prepare::PrepareReport report;
  report.format = model.format;
  report.facets_in = static_cast<std::int64_t>(model.facets.size());
  report.longest_edge_in = geometry::longest_side(model.facets);
  report.max_side = options.max_side();

  progress.begin("mending");
  const prepare::MendedModel mended = prepare::mend_model(
      std::move(model.facets), std::move(model.facet_lines), options.weld_distance);
  report.mended = &mended;

  std::uint64_t facets_out = mended.facets.size();
  prepare::RemeshStep remeshed;
  bool bisect = options.refine && options.refine_only;
  if (options.refine && !options.refine_only) {
    const double expected =
        prepare::expected_remesh_facets(geometry::measure_shapes(mended.facets), report.max_side);
    if (expected > static_cast<double>(FACET_LIMIT)) {
      return fail(input_name + ": " + prepare::too_large_remesh(expected, FACET_LIMIT, options));
    }
    progress.begin("remeshing");
    remeshed = prepare::remesh_for_frequency(mended.facets, options, progress);
    progress.clear();
    if (remeshed.status == geometry::RemeshStatus::remeshed && remeshed.declined) {
      report.remesh_declined = &remeshed;
      bisect = true;
    } else if (remeshed.status == geometry::RemeshStatus::remeshed) {
      if (remeshed.facets.size() > FACET_LIMIT) {
        return fail(input_name + ": " +
                    prepare::too_large_remesh(static_cast<double>(remeshed.facets.size()),
                                              FACET_LIMIT, options));
      }
      report.remesh = &remeshed;
      facets_out = remeshed.facets.size();
    } else if (remeshed.status != geometry::RemeshStatus::no_facets) {
      // A surface the remesher cannot walk is still refined, by bisection.
      report.remesh_refused = remeshed.status;
      bisect = true;
    }
  }
  if (bisect) {
    progress.begin("refining");
    const prepare::RefinedCount counted =
        prepare::count_refined(mended.facets, report.max_side, FACET_LIMIT);
    if (counted.facets > FACET_LIMIT) {
      progress.clear();
      return fail(input_name + ": " + too_large(mended.facets, report.max_side, options));
    }
    facets_out = counted.facets;
  } else if (facets_out > FACET_LIMIT) {
    return fail(input_name + ": " + shown_count(static_cast<double>(facets_out)) +
                " facets, more than the " + shown_count(FACET_LIMIT) + " stldeck can convert");
  }

  progress.begin("writing");
  prepare::ModelWriter writer;
  if (std::string failed = writer.open(target); !failed.empty()) {
    return fail(prepare::printable(failed));
  }
  std::string write_problem;
  double longest_out = 0.0;
  std::uint64_t written = 0;
  const auto take = [&](const geometry::Triangle& piece, double) {
    longest_out = std::fmax(longest_out, geometry::longest_side(std::span(&piece, 1)));
    write_problem = writer.add_facet(piece);
    if ((++written & 0xffff) == 0) progress.advance(written, facets_out);
    return write_problem.empty();
  };
  if (report.remesh != nullptr) {
    for (const geometry::Triangle& facet : remeshed.facets) {
      if (!take(facet, 0.0)) break;
    }
  } else if (bisect) {
    prepare::refine_facets(mended.facets, report.max_side, take);
  } else {
    for (const geometry::Triangle& facet : mended.facets) {
      if (!take(facet, 0.0)) break;
    }
  }
  // Without a facet there is no model to write: the old OUT stays.
  if (write_problem.empty() && written > 0) write_problem = writer.finish();
  progress.clear();
  if (!write_problem.empty()) return fail(prepare::printable(write_problem));

  report.refined = options.refine;
  report.facets_out = static_cast<std::int64_t>(written);
  report.longest_edge_out = longest_out;
  report.ready = prepare::is_ready(mended, report.facets_out, longest_out, report.max_side);
  const std::string text =
      options.json ? prepare::render_json(report) : prepare::render_summary(report, options);
  // The report first, then the name: a report that cannot be written ends
  // the run with status 2 and OUT as it was (the writer removes its file).
  if (!write_out(text)) {
    return fail(std::string("cannot write the report: ") + std::strerror(errno));
  }
  if (written > 0) {
    if (std::string failed = writer.commit(); !failed.empty()) {
      return fail(prepare::printable(failed) + " (the report above is void: OUT is as it was)");
    }
  }
  return report.ready ? ExitStatus::ready : ExitStatus::findings;
}

}  // namespace

int main(int argc, char** argv) {
  // Under a limit on file sizes a write past it then fails with EFBIG, which
  // is reported with the file's path, instead of ending the run by a signal
  // without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  io::hold_closed_standard_streams();
  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  prepare::PrepareOptions options;
  if (const std::string problem = prepare::parse_options(arguments, options); !problem.empty()) {
    return exit_code(fail(prepare::printable(problem)));
  }
  if (options.help)
    return exit_code(write_out(prepare::USAGE) ? ExitStatus::ready : ExitStatus::unusable);
  try {
    return exit_code(run(options));
  } catch (const std::bad_alloc&) {
    // The message needs no memory of its own beyond what stdio holds.
    std::fputs("stldeck-prepare: not enough memory for this model\n", stderr);
    return exit_code(ExitStatus::unusable);
  }
}
