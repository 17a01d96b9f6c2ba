// stldeck-prepare: reads an STL model in whatever form the CAD program
// wrote it, mends what the model check finds, refines the facets for the
// frequency, and writes the model in the style stldeck reads.
#include <cmath>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "companion/exit_status.h"
#include "companion/report_rows.h"
#include "companion/units.h"
#include "format/plain_number.h"
#include "geometry/facet_soup.h"
#include "geometry/shape_figures.h"
#include "io/console.h"
#include "io/file_replacement.h"
#include "io/file_writer.h"
#include "io/input_file.h"
#include "io/standard_error.h"
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

constexpr std::string_view OUT_OF_MEMORY = "stldeck-prepare: not enough memory for this model\n";

// Messages name paths and arguments as given, shown under the terminal rule
// of the shared I/O layer.
ExitStatus fail(const std::string& reason) {
  io::write_to_standard_error(
      "stldeck-prepare: " + io::shown_on(io::StandardStream::error, reason) + "\n");
  return ExitStatus::unusable;
}

ExitStatus fail(const io::Failure& failure) { return fail(failure.message()); }

std::string shown_count(double value) {
  if (value < 1e15) return companion::group_digits(std::llround(value));
  return format::general_text(value, 3);
}

// "; the highest frequency that fits is ... Hz" for a refinement of
// `size` refused at the frequency of `options`.
std::string fitting_frequency(std::span<const geometry::Triangle> facets,
                              const prepare::RefinementSize& size,
                              const prepare::PrepareOptions& options) {
  std::string reason;
  const double frequency = prepare::highest_fitting_frequency(
      facets, options.sound_speed, options.elements_per_wavelength, options.frequency_hz, size,
      FACET_LIMIT);
  if (frequency > 0.0) {
    // Four significant digits, without an exponent.
    reason += "; the highest frequency that fits is " +
              (frequency >= 1000.0 ? format::fixed_text(frequency, 0)
                                   : format::general_text(frequency, 4)) +
              " Hz";
  } else {
    reason += "; no frequency above 1e-300 Hz fits";
  }
  return reason;
}

// Why refining to `max_side` is refused: how many facets it would give and
// the highest frequency that stays within the converter's limit.
std::string too_large(std::span<const geometry::Triangle> facets, double max_side,
                      const prepare::PrepareOptions& options) {
  const prepare::RefinementSize size = prepare::size_refinement(facets, max_side, FACET_LIMIT);
  const std::string count = std::isfinite(size.facets) ? shown_count(size.facets)
                                                       : prepare::count_from_log2(size.log2_facets);
  std::string reason = "refining to edges of at most " +
                       format::general_text(max_side * options.units.factor(), 5) + " gives " +
                       (size.exact ? "" : "about ") + count + " facets, more than the " +
                       shown_count(FACET_LIMIT) + " stldeck can convert";
  return reason + fitting_frequency(facets, size, options);
}

// Why refining to `max_side` is refused when the cuts would go below what
// the coordinates hold apart, and the highest frequency that can be met.
std::string too_fine(std::span<const geometry::Triangle> facets, double max_side,
                     const prepare::PrepareOptions& options) {
  const std::string reason =
      "refining to edges of at most " + format::general_text(max_side * options.units.factor(), 5) +
      " would cut edges into halves shorter than " +
      format::general_text(prepare::shortest_half_side(facets) * options.units.factor(), 3) +
      ", closer than coordinates this far from the origin hold corners apart";
  prepare::RefinementSize size;
  size.facets = static_cast<double>(FACET_LIMIT) + 1.0;
  size.log2_facets = std::log2(size.facets);
  return reason + fitting_frequency(facets, size, options);
}

// The report on standard output; when it cannot be written, the one line
// that says why.
bool write_report(std::string_view text) {
  const io::Outcome written = io::write_to(io::StandardStream::output, text);
  if (!written.ok()) fail(io::Failure{"cannot write the report", {}, written.failure().error, {}});
  return written.ok();
}

// The lengths of the report in metres: the mending and refinement ran on
// the model's own numbers, the model is written and stated in metres.
void state_in_metres(prepare::PrepareReport& report, prepare::MendedModel& mended,
                     prepare::RemeshStep& remeshed, double factor) {
  if (factor == 1.0) return;
  report.longest_edge_in *= factor;
  report.longest_edge_out *= factor;
  report.max_side *= factor;
  mended.widest_gap_closed *= factor;
  mended.merge_tolerance *= factor;
  remeshed.max_deviation *= factor;
  remeshed.largest_deviation *= factor;
}

// `options` as given: the sound speed and lengths in metres, the model in
// options.units.
ExitStatus run(const prepare::PrepareOptions& options) {
  // The mending, the tolerances and the refinement work on the model's own
  // numbers, which are what the CAD program rounded; only the writer and
  // the report multiply out to metres.
  const prepare::PrepareOptions model_options = prepare::in_model_units(options);
  const double factor = options.units.factor();
  prepare::ProgressLine progress(io::is_terminal(io::StandardStream::error));
  const std::string& input_name = options.input;
  io::InputFile input;
  if (io::Outcome opened = io::open_input_file(options.input, input); !opened.ok()) {
    return fail(opened.failure());
  }
  const struct stat& input_status = input.status();

  io::ReplacementTarget target;
  if (io::Outcome found = io::find_replacement_target(options.output, target); !found.ok()) {
    return fail(found.failure());
  }
  if (io::is_same_file(target, input_status)) {
    return fail(input_name + " and " + options.output +
                " are one file: the model is never written over itself");
  }
  // The report must not land in the model or OUT (`stldeck-prepare in out
  // >> in`). When standard error is such a file, the refusal is told by
  // the status alone, since its line would land in the file.
  const io::StreamsInto into_input = io::standard_streams_into(input_status);
  const io::StreamsInto into_output =
      target.exists ? io::standard_streams_into(target.status) : io::StreamsInto{};
  if (into_input.any() || into_output.any()) {
    if (into_input.standard_error || into_output.standard_error) return ExitStatus::unusable;
    return fail(
        "standard output goes into " +
        (into_input.standard_output ? input_name + ", the model" : options.output + ", OUT") +
        ": send it elsewhere");
  }

  progress.begin("reading");
  reading::ModelRead model;
  const std::string problem = reading::read_model(
      input.descriptor(), input.size(), model,
      [&progress](std::uint64_t done, std::uint64_t total) { progress.advance(done, total); });
  input = io::InputFile{};
  if (!problem.empty()) return fail(input_name + ": " + problem);
  // A model that has no value in metres is refused before anything is
  // written, rather than written with an infinity or a lost digit.
  if (const companion::ScaleProblem scale = companion::find_scale_problem(model.facets, factor);
      scale.found) {
    return fail(input_name + ": " +
                companion::scale_problem_text(
                    scale, options.units.length_unit(),
                    (model.format == reading::ModelFormat::binary ? "in record " : "at line ") +
                        std::to_string(model.facet_lines[scale.facet])) +
                "; check the coordinates and --units");
  }
  if (model.facets.size() > geometry::MAX_SOUP_FACETS) {
    return fail(input_name + ": more facets than can be mended (" +
                std::to_string(geometry::MAX_SOUP_FACETS) + " at most)");
  }

  // A side longer than the largest double (coordinates of opposite sign
  // near it) has no length to measure or to cut by.
  if (!std::isfinite(geometry::longest_side(model.facets))) {
    return fail(input_name +
                ": an edge is longer than the largest number, 1.8e308; scale the model down");
  }

  prepare::PrepareReport report;
  report.format = model.format;
  report.units = options.units.length_unit().name;
  report.facets_in = static_cast<std::int64_t>(model.facets.size());
  report.longest_edge_in = geometry::longest_side(model.facets);
  report.max_side = model_options.max_side();
  {
    const geometry::ShapeExtremes shape = geometry::find_shape_extremes(model.facets);
    report.smallest_angle_in = shape.smallest_angle_degrees;
    report.largest_aspect_ratio_in = shape.largest_aspect_ratio;
  }

  progress.begin("mending");
  prepare::MendedModel mended =
      prepare::mend_model(std::move(model.facets), std::move(model.facet_lines),
                          model_options.weld_distance, options.min_angle_degrees);
  report.mended = &mended;

  std::uint64_t facets_out = mended.facets.size();
  prepare::RemeshStep remeshed;
  bool bisect = options.refine && options.refine_only;
  if (options.refine && !options.refine_only) {
    const double expected =
        prepare::expected_remesh_facets(geometry::measure_shapes(mended.facets), report.max_side);
    if (expected > static_cast<double>(FACET_LIMIT)) {
      // Beyond the largest double, the estimate's order from the lower
      // bound, which is finite at any scale (the estimate is 2.2 times
      // the area's share of it).
      const double log2_expected =
          std::log2(2.2) + prepare::log2_least_refined(mended.facets, report.max_side);
      return fail(input_name + ": " +
                  prepare::too_large_remesh(expected, log2_expected, FACET_LIMIT,
                                            2 * prepare::shortest_half_side(mended.facets) * factor,
                                            options));
    }
    // A remesh to a limit the coordinates cannot hold is refused as
    // bisection to it is, with the same advice.
    if (report.max_side / 2 < prepare::shortest_half_side(mended.facets) &&
        geometry::longest_side(mended.facets) > report.max_side) {
      return fail(input_name + ": " + too_fine(mended.facets, report.max_side, model_options));
    }
    progress.begin("remeshing");
    remeshed = prepare::remesh_for_frequency(mended.facets, model_options, progress);
    progress.clear();
    if (remeshed.status == geometry::RemeshStatus::remeshed && remeshed.declined) {
      report.remesh_declined = &remeshed;
      bisect = true;
    } else if (remeshed.status == geometry::RemeshStatus::remeshed) {
      if (remeshed.facets.size() > FACET_LIMIT) {
        return fail(input_name + ": " +
                    prepare::too_large_remesh(
                        static_cast<double>(remeshed.facets.size()),
                        std::log2(static_cast<double>(remeshed.facets.size())), FACET_LIMIT,
                        2 * prepare::shortest_half_side(mended.facets) * factor, options));
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
    // A refinement whose lower bound is beyond the limit is refused before
    // a piece is counted.
    if (prepare::log2_least_refined(mended.facets, report.max_side) >
        std::log2(static_cast<double>(FACET_LIMIT))) {
      progress.clear();
      return fail(input_name + ": " + too_large(mended.facets, report.max_side, model_options));
    }
    const prepare::RefinedCount counted =
        prepare::count_refined(mended.facets, report.max_side, FACET_LIMIT);
    if (counted.below_resolution) {
      progress.clear();
      return fail(input_name + ": " + too_fine(mended.facets, report.max_side, model_options));
    }
    if (counted.facets > FACET_LIMIT) {
      progress.clear();
      return fail(input_name + ": " + too_large(mended.facets, report.max_side, model_options));
    }
    facets_out = counted.facets;
  } else if (facets_out > FACET_LIMIT) {
    return fail(input_name + ": " + shown_count(static_cast<double>(facets_out)) +
                " facets, more than the " + shown_count(FACET_LIMIT) + " stldeck can convert");
  }

  progress.begin("writing");
  prepare::ModelWriter writer(io::Nameless::where_possible, factor);
  if (io::Outcome opened = writer.open(target); !opened.ok()) return fail(opened.failure());
  io::Outcome write_problem;
  double longest_out = 0.0;
  std::uint64_t written = 0;
  // The pieces of a bisection are kept as written, to be examined as OUT;
  // a remesh and an unrefined model are kept already.
  std::vector<geometry::Triangle> pieces;
  if (bisect) pieces.reserve(static_cast<std::size_t>(facets_out));
  const auto take = [&](const geometry::Triangle& piece, double) {
    longest_out = std::fmax(longest_out, geometry::longest_side(std::span(&piece, 1)));
    if (bisect) pieces.push_back(piece);
    write_problem = writer.add_facet(piece);
    if ((++written & 0xffff) == 0) progress.advance(written, facets_out);
    return write_problem.ok();
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
  if (write_problem.ok() && written > 0) write_problem = writer.finish();
  progress.clear();
  if (!write_problem.ok()) return fail(write_problem.failure());

  report.refined = options.refine;
  report.facets_out = static_cast<std::int64_t>(written);
  report.longest_edge_out = longest_out;
  report.min_angle_degrees = options.min_angle_degrees;
  // Ready means what the check says of OUT: the facets written are examined
  // by its definitions (the coordinates are written so that they read back
  // as these very doubles, scaled by the unit's factor, which keeps shapes).
  progress.begin("examining");
  prepare::WrittenModel examined = prepare::examine_written(
      report.remesh != nullptr ? std::span<const geometry::Triangle>(remeshed.facets)
      : bisect                 ? std::span<const geometry::Triangle>(pieces)
                               : std::span<const geometry::Triangle>(mended.facets),
      report.max_side, options.min_angle_degrees);
  progress.clear();
  pieces = {};
  examined.widest_gap *= factor;
  report.written = &examined;
  report.ready = prepare::is_ready(examined, report.facets_out);
  state_in_metres(report, mended, remeshed, factor);
  // The summary names IN and OUT as they are to be shown on standard output.
  prepare::PrepareOptions shown = options;
  shown.input = io::shown_on(io::StandardStream::output, options.input);
  shown.output = io::shown_on(io::StandardStream::output, options.output);
  const std::string text =
      options.json ? prepare::render_json(report) : prepare::render_summary(report, shown);
  // The report first, then the name: a report that cannot be written ends
  // the run with status 2 and OUT as it was (the writer removes its file).
  if (!write_report(text)) return ExitStatus::unusable;
  if (written > 0) {
    if (io::Outcome committed = writer.commit(); !committed.ok()) {
      return fail(committed.failure().message() + " (the report above is void: OUT is as it was)");
    }
  }
  return report.ready ? ExitStatus::ready : ExitStatus::findings;
}

}  // namespace

int main(int argc, char** argv) {
  io::take_file_size_limit_as_failure();
  io::hold_closed_standard_streams();
  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  prepare::PrepareOptions options;
  if (const std::string problem = prepare::parse_options(arguments, options); !problem.empty()) {
    return exit_code(fail(problem));
  }
  if (options.help) {
    return exit_code(write_report(prepare::usage()) ? ExitStatus::ready : ExitStatus::unusable);
  }
  try {
    return exit_code(run(options));
  } catch (const std::bad_alloc&) {
    // The message is short and built in a buffer of its own, for memory is
    // what ran out.
    io::write_to_standard_error(OUT_OF_MEMORY);
    return exit_code(ExitStatus::unusable);
  }
}
