#include "records/free_form.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "records/fields.h"

namespace records {

void write_free_form(OutputChannel& channel, std::initializer_list<FreeItem> items) {
  std::array<char, FREE_FORM_WIDTH> record{};
  std::size_t used = 0;
  bool at_record_start = true;

  const auto end_record = [&] {
    channel.write_record(std::string_view(record.data(), used));
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

}  // namespace records
