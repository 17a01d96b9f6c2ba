// The facet scanner: reads an ASCII STL file line by line and hands every
// facet it recognises to a sink.
//
// It is not a parser of the STL grammar. A facet is recognised by the
// eight characters "  facet " at the very start of a line; the facet's
// further lines are then taken by their fixed positions: one skipped line,
// three vertex lines, two skipped lines. No other keyword is compared, the
// normal is never read, and the scanner never resynchronises.
//
// The scanner ends nothing itself: it returns how the scan ended, and the
// caller (the converter's run sequence, the model check) decides what that
// means. It holds no state between calls.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

#include "records/input_channel.h"

namespace reading {

inline constexpr std::string_view FACET_MARKER = "  facet ";
inline constexpr std::size_t VERTEX_LINE_LENGTH = 80;

// A corner's x, y, z, and a facet's three corners in file order.
using Corner = std::array<double, 3>;
using FacetCorners = std::array<Corner, 3>;

enum class ScanEnd {
  clean,                 // end of input between facets
  end_of_file_in_facet,  // the file ends inside a facet
  read_failure,          // a line outside the vertex lines could not be read
  vertex_read_failure,   // a vertex line could not be read
  invalid_coordinate,    // a coordinate token is not a number, or overflows
  too_many_facets,       // the sink refused one more facet
};

struct ScanOutcome {
  ScanEnd end = ScanEnd::clean;
  // Facets read whole and handed to the sink; a failing facet is not counted.
  std::int32_t facets = 0;
  // 1-based line number where the scan stopped (0 for a clean end): the
  // vertex line of an invalid coordinate, the facet line of a facet cut off
  // by the end of the file or refused by the sink, the line that could not
  // be read.
  std::int64_t line_number = 0;
  // The token that could not be converted (invalid_coordinate only).
  std::string token;
};

// What the scanner needs of its sink: room for one more facet (asked at the
// facet line, before its corners are read), and the facet once whole.
template <typename Sink>
concept FacetSink = requires(Sink& sink, const FacetCorners& corners) {
  { sink.begin_facet() } -> std::same_as<bool>;
  sink.store_facet(corners);
};

// A sink may instead take the text of the vertex lines and convert them
// itself (elsewhere, later): the scanner then converts nothing, so it never
// ends with invalid_coordinate, and the sink must.
//   vertex_text(line_number, text): the next vertex line of the facet
//       begun last, its first 80 characters; valid only during the call
//   end_facet(): the facet is whole
// A scan that ends inside a facet may have handed some of its vertex lines:
// a coordinate among them that cannot be converted is the scan's first
// failure.
template <typename Sink>
concept FacetTextSink = requires(Sink& sink, std::string_view text, std::int64_t line_number) {
  { sink.begin_facet() } -> std::same_as<bool>;
  sink.vertex_text(line_number, text);
  sink.end_facet();
};

// Line events a sink may also take, to inspect the file as the scanner sees
// it (the model check does; the converter does not). `line` is the whole
// line without its line end when the sink asks for whole lines (see
// WHOLE_LINES below), else its first 8 or 80 characters.
//   void skipped_line(std::int64_t line_number, std::string_view line);
//       a line outside any facet that is not a facet line
//   void vertex_line(std::int64_t line_number, std::string_view line,
//                    int empty_coordinates);
//       a vertex line, with the number of its x, y, z tokens found empty
// A sink that defines `static constexpr bool WHOLE_LINES = true` gets whole
// lines in these events; the scanner itself still sees only the first 8 or
// 80 characters, so what it reads does not change.

// Splits a vertex line (its first 80 characters) into blank-separated
// tokens: the first is the keyword and is ignored, the next three are x, y
// and z; a missing token reads as 0.0. Returns false, with `bad_token` set,
// when a coordinate token cannot be converted. `empty_tokens` counts the
// coordinate tokens that were empty.
bool read_corner(std::string_view line_text, Corner& xyz, std::string_view& bad_token,
                 int& empty_tokens);

// Reads `stl` from its current position to its end, or to the first
// failure, handing each whole facet to the sink.
template <typename Sink>
requires FacetSink<Sink> || FacetTextSink<Sink> ScanOutcome scan_stl(records::InputChannel& stl,
                                                                     Sink& sink);

}  // namespace reading

#include "reading/stl_scanner_impl.h"
