// Free-form records: a short list of texts and integers turned into records
// without a layout. Every record gets one leading blank, texts follow each
// other with no separator, an integer takes 12 columns right-aligned, and a
// record is cut at 80 columns.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "records/output_channel.h"

namespace records {

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

// Writes the items as one or more whole records; an empty list writes one
// record holding a single blank.
void write_free_form(OutputChannel& channel, std::initializer_list<FreeItem> items);

}  // namespace records
