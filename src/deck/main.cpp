// stldeck-deck: shows and verifies a solver deck written by stldeck, and
// sets its medium, frequencies and solver type in place.

#include <unistd.h>

#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "companion/exit_status.h"
#include "deck/deck_command.h"
#include "deck/deck_options.h"
#include "io/console.h"
#include "io/standard_error.h"

namespace {

using companion::exit_code;
using companion::ExitStatus;

int fail(const std::string& reason) {
  io::write_to_standard_error("stldeck-deck: " + io::shown_on(io::StandardStream::error, reason) +
                              "\n");
  return exit_code(ExitStatus::unusable);
}

// The whole text on standard output, or the line that says why not. The
// names in a summary's sentences are escaped on a terminal; JSON escapes
// its own.
int report(std::string_view text, ExitStatus status) {
  const io::Outcome written = io::write_to(io::StandardStream::output,
                                           io::lines_shown_on(io::StandardStream::output, text));
  if (!written.ok()) return fail("cannot write the report: " + written.failure().reason());
  return exit_code(status);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  deck::DeckOptions options;
  if (const std::string problem = deck::parse_options(arguments, options); !problem.empty()) {
    return fail(problem);
  }
  if (options.help) return report(deck::USAGE, ExitStatus::ready);
  try {
    // Two threads read the sections, one share each: the machine's cores
    // divide the parsing of a deck of a gigabyte.
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    const deck::CommandOutcome outcome = options.settings.any()
                                             ? deck::set_deck(options)
                                             : deck::verify_deck(options, cores > 1 ? 2 : 1);
    if (!outcome.failure.empty()) return fail(outcome.failure);
    return report(outcome.report, outcome.status);
  } catch (const std::bad_alloc&) {
    // Short and built in a buffer of its own, for memory is what ran out.
    io::write_to_standard_error("stldeck-deck: not enough memory to read the deck\n");
    return exit_code(ExitStatus::unusable);
  }
}
