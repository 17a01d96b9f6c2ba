#include "deck/deck_command.h"

#include <array>
#include <filesystem>

#include "deck/deck_report.h"
#include "io/console.h"
#include "io/in_place.h"
#include "io/input_file.h"
#include "io/standard_error.h"

namespace deck {
namespace {

using companion::ExitStatus;

CommandOutcome failed(std::string reason) { return {ExitStatus::unusable, {}, std::move(reason)}; }

// Opens a file of the deck's to read or to change, and takes the lock the
// converter takes on its outputs (exclusive to change, shared to read),
// waiting for a conversion that holds it and saying so. Empty, or why not
// ("PATH: reason").
std::string open_locked(const std::string& path, io::Access access, io::InputFile& file) {
  if (const io::Outcome opened = io::open_input_file(path, file, access); !opened.ok()) {
    return path + ": " + opened.failure().reason();
  }
  const io::Outcome locked = io::lock_file(
      file, access == io::Access::read ? io::LockKind::shared : io::LockKind::exclusive,
      [&path] {
        io::write_to_standard_error("stldeck-deck: waiting for another run to release " +
                                    io::shown_on(io::StandardStream::error, path) + "\n");
      },
      path);
  return locked.ok() ? std::string() : path + ": " + locked.failure().reason();
}

// Fills `into` from `offset`; empty, or why the file could not be read.
std::string read_bytes(const io::InputFile& file, std::span<char> into, std::uint64_t offset) {
  const io::Outcome got = io::read_at(file, offset, into, {});
  return got.ok() ? std::string() : got.failure().reason();
}

// The head, the size against the counts, the element heading and the end
// record: what can be verified without reading the sections. Fills
// `facts` and returns false when the deck is not whole (facts.problem).
bool verify_frame(const io::InputFile& fd, std::uint64_t size,
                  std::array<char, HEAD_BYTES>& head_bytes, DeckFacts& facts) {
  facts.size = size;
  const auto available = static_cast<std::size_t>(std::min<std::uint64_t>(size, HEAD_BYTES));
  if (const std::string why = read_bytes(fd, std::span(head_bytes.data(), available), 0);
      !why.empty()) {
    facts.problem = "cannot be read: " + why;
    return false;
  }
  const HeadReading reading = read_head(std::span<const char>(head_bytes.data(), available));
  if (!reading.problem.empty()) {
    facts.problem = reading.problem;
    return false;
  }
  facts.head_read = true;
  facts.head = reading.head;
  const auto elements = static_cast<std::uint64_t>(reading.head.elements);
  const std::uint64_t expected = deck_bytes(elements);
  std::array<char, END_RECORD_BYTES> end{};
  if (size >= HEAD_BYTES + END_RECORD_BYTES) {
    if (const std::string why = read_bytes(fd, end, size - END_RECORD_BYTES); !why.empty()) {
      facts.problem = "cannot be read: " + why;
      return false;
    }
    facts.end_record = std::string_view(end.data(), end.size()) == " $ End of the File\r\n";
  } else {
    facts.end_record = false;
  }
  if (size != expected) {
    facts.problem = std::to_string(size) + " bytes where " + std::to_string(elements) +
                    " elements make " + std::to_string(expected) + " (998 + 330 m)" +
                    (size < expected ? ": cut short" : "") +
                    (*facts.end_record ? "" : ", and no end record");
    return false;
  }
  if (!*facts.end_record) {
    facts.problem = "the last record is not the end record ' $ End of the File'";
    return false;
  }
  std::array<char, ELEMENTS_HEADING_BYTES> heading{};
  if (const std::string why = read_bytes(
          fd, heading, elements_heading_offset(static_cast<std::uint64_t>(reading.head.nodes)));
      !why.empty()) {
    facts.problem = "cannot be read: " + why;
    return false;
  }
  if (std::string_view(heading.data(), heading.size()) !=
      " $ Elements and Boundary Conditions:\r\n") {
    facts.problem = "line " + std::to_string(reading.head.nodes + 11) +
                    " is not the heading of the element section";
    return false;
  }
  return true;
}

// The view beside the deck: input.plt in the deck's folder.
std::string view_beside(const std::string& deck_path) {
  const std::filesystem::path folder = std::filesystem::path(deck_path).parent_path();
  return (folder / "input.plt").string();
}

// Compares the view's header and size with the deck's counts; a problem
// is a finding about the view.
std::string check_view_frame(const io::InputFile& fd, std::uint64_t size, const DeckHead& head) {
  const std::string expected = view_header(head.nodes, head.elements);
  std::string header(expected.size(), '\0');
  const auto available = static_cast<std::size_t>(std::min<std::uint64_t>(size, header.size()));
  if (const std::string why = read_bytes(fd, std::span(header.data(), available), 0);
      !why.empty()) {
    return "cannot be read: " + why;
  }
  header.resize(available);
  if (header != expected) {
    const std::size_t zone = header.find("N=");
    return zone == std::string::npos
               ? "is not a mesh view as stldeck writes it"
               : "is of another model or not as stldeck writes it (its zone header reads '" +
                     header.substr(header.find(" ZONE"), 48) +
                     "'; the deck has N=" + std::to_string(head.nodes) +
                     ", E=" + std::to_string(head.elements) + ")";
  }
  const std::uint64_t wanted = view_bytes(static_cast<std::uint64_t>(head.elements));
  if (size != wanted) {
    return "has " + std::to_string(size) + " bytes where the deck's model makes " +
           std::to_string(wanted) + (size < wanted ? ": cut short" : "");
  }
  std::array<char, 3> separator{};
  if (const std::string why =
          read_bytes(fd, separator, 176 + 47 * static_cast<std::uint64_t>(head.nodes));
      !why.empty()) {
    return "cannot be read: " + why;
  }
  if (std::string_view(separator.data(), 3) != " \r\n") {
    return "lacks the blank record between its node and element lines";
  }
  return {};
}

}  // namespace

CommandOutcome verify_deck(const DeckOptions& options, int threads) {
  io::InputFile deck;
  if (std::string problem = open_locked(options.path, io::Access::read, deck); !problem.empty()) {
    return failed("cannot read " + problem);
  }
  DeckFacts facts;
  facts.elements_per_wavelength_wanted = options.elements_per_wavelength;
  std::array<char, HEAD_BYTES> head_bytes{};
  const bool framed = verify_frame(deck, deck.size(), head_bytes, facts);

  // The view: the one named, which must be readable, or the one beside the
  // deck when there is one.
  const std::string view_path = options.view_given ? options.view_path : view_beside(options.path);
  io::InputFile view;
  std::string view_problem;
  std::error_code missing;
  if (options.view_given || std::filesystem::exists(view_path, missing)) {
    view_problem = open_locked(view_path, io::Access::read, view);
    if (!view_problem.empty() && options.view_given) {
      return failed("cannot read the view " + view_problem);
    }
  }
  if (view.descriptor() >= 0) {
    facts.view_path = view_path;
    if (io::is_same_file(view, deck)) {
      return failed("the view " + view_path + " is the deck itself: name another file");
    }
  } else if (!view_problem.empty()) {
    facts.view_path = view_path;
    facts.view_problem = "cannot be read: " + view_problem;
  }

  if (framed) {
    int body_view_fd = -1;
    if (view.descriptor() >= 0) {
      facts.view_problem = check_view_frame(view, view.size(), facts.head);
      if (facts.view_problem.empty()) body_view_fd = view.descriptor();
    }
    facts.body = read_body(deck.descriptor(), body_view_fd, facts.head.elements, threads);
    if (!facts.body.problem.empty()) {
      facts.problem = facts.body.problem;
    } else {
      facts.body_read = true;
      if (body_view_fd >= 0) facts.view_problem = facts.body.view_problem;
    }
  }
  const Verdict verdict = judge_deck(facts);
  return {verdict.status,
          options.json ? render_json(options.path, facts, verdict)
                       : render_summary(options.path, facts, verdict),
          {}};
}

CommandOutcome set_deck(const DeckOptions& options) {
  // The deck is changed where it lies, so a link is refused rather than
  // followed to a file that may not be a deck of this folder.
  io::InputFile deck;
  if (std::string problem = open_locked(options.path, io::Access::change_in_place, deck);
      !problem.empty()) {
    return failed("cannot open " + problem);
  }
  // Once locked, the name must still lead to this file: a conversion that
  // held the lock may have replaced it.
  if (!io::still_named(deck, options.path)) {
    return failed(options.path + " was replaced while this run waited for it: run it again");
  }
  DeckFacts facts;
  std::array<char, HEAD_BYTES> head_bytes{};
  if (!verify_frame(deck, deck.size(), head_bytes, facts)) {
    return failed("refused to set " + options.path + ", not a whole deck: " + facts.problem);
  }
  const DeckHead before = facts.head;
  std::array<char, HEAD_BYTES> changed = head_bytes;
  if (std::string refusal = apply_settings(options.settings, changed); !refusal.empty()) {
    return failed("refused to set " + options.path + ": " + refusal);
  }
  // Records 7 and 8 (and 2) lie in the deck's first page and are written
  // with one write: the system copies a page into its cache whole or not
  // at all, so a run killed at any moment leaves the old records or the
  // new ones, and a solver never reads a mix.
  const ByteRange range = changed_range(options.settings);
  static_assert(HEAD_BYTES <= 4096);
  if (const io::Outcome written =
          io::write_at(deck, range.first,
                       std::span<const char>(changed.data() + range.first, range.end - range.first),
                       options.path);
      !written.ok()) {
    return failed("cannot write " + options.path + ": " + written.failure().reason());
  }
  // The page to the disk, without waiting for the rest of a deck the
  // converter may just have written.
  if (const io::Outcome synced = io::sync_head(deck, HEAD_BYTES, options.path); !synced.ok()) {
    return failed("the new records of " + options.path +
                  " were written but may not reach the disk: " + synced.failure().reason());
  }
  const DeckHead after = read_head(changed).head;
  return {ExitStatus::ready,
          options.json ? render_set_json(options.path, before, after)
                       : render_set_summary(options.path, before, after),
          {}};
}

}  // namespace deck
