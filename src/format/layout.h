// Record layouts: constant lists of edit descriptors that turn the items of
// one write into fixed-column records.
//
// A record starts blank at column 1. A data field renders the next item in
// its width, a literal places its text, a skip moves right (it never
// lengthens a record by itself), a record break ends the record. When the
// items run out at a data field, the write ends there.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

#include "format/fields.h"

namespace format {

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

// The longest record a layout produces: the columns between two record
// breaks, skips included.
constexpr std::size_t longest_record(std::span<const EditDescriptor> descriptors) {
  std::size_t longest = 0;
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
    if (length > longest) longest = length;
  }
  return longest;
}

// One value of a write, tagged with its kind. The descriptor that consumes
// it expects a kind; an item of another kind is a fault of the program
// (its layout and its items disagree), which stops the process rather than
// read a value as what it is not.
struct Item {
  enum class Kind : unsigned char { integer, real, text };

  constexpr Item(std::int32_t value) : kind(Kind::integer), integer(value) {}
  constexpr Item(double value) : kind(Kind::real), real(value) {}
  constexpr Item(std::string_view value) : kind(Kind::text), text(value) {}

  // Only the member the kind names is ever read.
  Kind kind;
  union {
    std::int32_t integer;
    double real;
    std::string_view text;
  };
};

// The item a data field of this kind consumes.
template <EditKind KIND>
constexpr Item::Kind ITEM_KIND_OF = KIND == EditKind::integer ? Item::Kind::integer
                                    : KIND == EditKind::text  ? Item::Kind::text
                                                              : Item::Kind::real;

// The record under construction, in the block of its destination: an
// output channel, or a chunk of records rendered ahead of their writing.
// A destination hands out room for a record (record_space) and takes its
// length (end_record).
template <typename Destination>
class RecordWriter {
 public:
  RecordWriter(Destination& channel, std::size_t room, std::span<const Item> items)
      : channel_(channel),
        room_(room),
        record_(channel.record_space(room)),
        column_(record_),
        furthest_(record_),
        item_(items.data()),
        last_item_(items.data() + items.size()) {}

  bool items_left() const { return item_ != last_item_; }
  const Item& next_item() { return *item_++; }

  std::span<char> field(std::size_t width) {
    const std::span<char> placed(column_, width);
    column_ += width;
    furthest_ = column_;
    return placed;
  }
  // The columns passed over hold blanks, but a skip alone never lengthens
  // the record: only a field or literal after it moves its end.
  template <std::size_t columns>
  void skip() {
    std::memset(column_, ' ', columns);
    column_ += columns;
  }
  void end_record() { channel_.end_record(static_cast<std::size_t>(furthest_ - record_)); }
  void next_record() {
    end_record();
    record_ = channel_.record_space(room_);
    column_ = record_;
    furthest_ = record_;
  }

 private:
  Destination& channel_;
  std::size_t room_;
  char* record_;
  char* column_;
  char* furthest_;
  const Item* item_;
  const Item* last_item_;
};

// Places descriptors[INDEX], all its repeats; false when a data field finds
// no item left, which ends the write. The array and the index are separate
// template arguments because a reference to one array element is not a
// valid template argument in every compiler (clang rejects it); the
// descriptor is a constant all the same, so every branch below is decided
// at compile time.
template <const auto& descriptors, std::size_t INDEX, typename Writer>
bool place(Writer& writer) {
  constexpr const EditDescriptor& descriptor = descriptors[INDEX];
  constexpr auto width = static_cast<std::size_t>(descriptor.width);
  for (int copy = 0; copy < descriptor.repeat; ++copy) {
    if constexpr (descriptor.kind == EditKind::literal) {
      std::memcpy(writer.field(descriptor.literal.size()).data(), descriptor.literal.data(),
                  descriptor.literal.size());
    } else if constexpr (descriptor.kind == EditKind::skip) {
      writer.template skip<width>();
    } else if constexpr (descriptor.kind == EditKind::record_break) {
      writer.next_record();
    } else {
      if (!writer.items_left()) return false;
      const Item& item = writer.next_item();
      if (item.kind != ITEM_KIND_OF<descriptor.kind>) std::abort();
      if constexpr (descriptor.kind == EditKind::integer) {
        render_int(item.integer, writer.field(width));
      } else if constexpr (descriptor.kind == EditKind::fixed) {
        render_fixed(item.real, descriptor.decimals, writer.field(width));
      } else if constexpr (descriptor.kind == EditKind::exponent) {
        render_exp(item.real, descriptor.decimals, descriptor.letter, writer.field(width));
      } else {
        render_text(item.text, writer.field(width));
      }
    }
  }
  return true;
}

// Renders the items through the layout and appends the records, each with
// the record terminator, to the destination: an output channel or a chunk
// of records. The layout is a constant array of descriptors and a template
// argument, so every layout compiles into its
// own straight code: the node and element records are the hot path of a run.
template <const auto& descriptors, typename Destination>
void write_layout(Destination& channel, std::span<const Item> items) {
  constexpr std::size_t room = longest_record(descriptors);
  RecordWriter writer(channel, room, items);
  [&]<std::size_t... index>(std::index_sequence<index...>) {
    (place<descriptors, index>(writer) && ...);
  }(std::make_index_sequence<std::size(descriptors)>{});
  writer.end_record();
}

}  // namespace format
