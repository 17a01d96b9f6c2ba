// Record layouts: constant lists of edit descriptors that turn the items of
// one write into fixed-column records.
//
// A record starts blank at column 1. A data field renders the next item in
// its width, a literal places its text, a skip moves right (it never
// lengthens a record by itself), a record break ends the record. When the
// items run out at a data field, the write ends there.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "records/channel.h"

namespace records {

enum class EditKind { integer, fixed, exponent, text, skip, literal, record_break };

struct EditDescriptor {
  EditKind kind;
  int width = 0;      // field width, or the columns of a skip
  int decimals = 0;   // FIX: digits after the point; EXP: significant digits
  char letter = 'E';  // EXP: exponent letter
  std::string_view literal{};
  int repeat = 1;
};

constexpr EditDescriptor IntField(int width, int repeat = 1) {
  return {EditKind::integer, width, 0, 'E', {}, repeat};
}
constexpr EditDescriptor FixedField(int width, int decimals, int repeat = 1) {
  return {EditKind::fixed, width, decimals, 'E', {}, repeat};
}
constexpr EditDescriptor ExpField(int width, int digits, char letter, int repeat = 1) {
  return {EditKind::exponent, width, digits, letter, {}, repeat};
}
constexpr EditDescriptor TextField(int width) { return {EditKind::text, width}; }
constexpr EditDescriptor Skip(int columns) { return {EditKind::skip, columns}; }
constexpr EditDescriptor Literal(std::string_view text) {
  return {EditKind::literal, 0, 0, 'E', text};
}
constexpr EditDescriptor RecordBreak() { return {EditKind::record_break}; }

// A layout and the length of its longest record, worked out once.
class RecordLayout {
 public:
  constexpr RecordLayout(std::span<const EditDescriptor> descriptors)
      : descriptors_(descriptors) {
    std::size_t length = 0;
    for (const auto& descriptor : descriptors) {
      if (descriptor.kind == EditKind::record_break) {
        length = 0;
        continue;
      }
      const std::size_t one = descriptor.kind == EditKind::literal
                                  ? descriptor.literal.size()
                                  : static_cast<std::size_t>(descriptor.width);
      length += one * static_cast<std::size_t>(descriptor.repeat);
      if (length > longest_) longest_ = length;
    }
  }
  std::span<const EditDescriptor> descriptors() const { return descriptors_; }
  std::size_t longest_record() const { return longest_; }

 private:
  std::span<const EditDescriptor> descriptors_;
  std::size_t longest_ = 0;
};

// One value of a write.
struct Item {
  constexpr Item(std::int32_t value) : integer(value) {}
  constexpr Item(double value) : real(value) {}
  constexpr Item(std::string_view value) : text(value) {}

  std::int32_t integer = 0;
  double real = 0.0;
  std::string_view text{};
};

// Renders the items through the layout and appends the records, each with
// the record terminator, to the channel.
void write_layout(Channel& channel, const RecordLayout& layout, std::span<const Item> items);

}  // namespace records
