// Free-form records: a short list of texts and integers turned into records
// without a layout. Every record gets one leading blank, texts follow each
// other with no separator, an integer takes 12 columns right-aligned, and a
// record is cut at 80 columns.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string_view>

#include "format/fields.h"

namespace format {

inline constexpr std::size_t FREE_FORM_WIDTH = 80;
inline constexpr std::size_t FREE_FORM_INT_WIDTH = 12;

struct FreeItem {
  FreeItem(std::string_view text_item) : is_text(true), text(text_item) {}
  FreeItem(const char* text_item) : is_text(true), text(text_item) {}
  FreeItem(std::int32_t integer_item) : is_text(false), integer(integer_item) {}

  bool is_text;
  std::string_view text;
  std::int32_t integer = 0;
};

// Turns the items into one or more whole records (an empty list into one
// record holding a single blank) and hands each, without its terminator,
// to destination.write_record in turn.
template <typename Destination>
void write_free_form(Destination& destination, std::initializer_list<FreeItem> items) {
  std::array<char, FREE_FORM_WIDTH> record{};
  std::size_t used = 0;
  bool at_record_start = true;

  const auto end_record = [&] {
    destination.write_record(std::string_view(record.data(), used));
    used = 0;
    at_record_start = true;
  };
  const auto place = [&](std::string_view text) {
    std::memcpy(record.data() + used, text.data(), text.size());
    used += text.size();
  };

  for (const FreeItem& item : items) {
    if (item.is_text) {
      std::string_view rest = item.text;
      // A text that does not fit beside what the record holds starts a new one.
      if (rest.size() > FREE_FORM_WIDTH - used && used > 0) end_record();
      if (at_record_start) place(" ");
      while (rest.size() > FREE_FORM_WIDTH - used) {
        const std::size_t room = FREE_FORM_WIDTH - used;
        place(rest.substr(0, room));
        rest.remove_prefix(room);
        end_record();
        place(" ");
      }
      place(rest);
    } else {
      // No blank is placed for an integer: its field always begins with one.
      if (FREE_FORM_WIDTH - used < FREE_FORM_INT_WIDTH) end_record();
      render_int(item.integer, std::span(record.data() + used, FREE_FORM_INT_WIDTH));
      used += FREE_FORM_INT_WIDTH;
    }
    at_record_start = false;
  }
  if (used == 0 && at_record_start) place(" ");
  end_record();
}

}  // namespace format
