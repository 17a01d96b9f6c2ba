#include "records/layout.h"

#include <cstring>

#include "records/fields.h"

namespace records {

void write_layout(Channel& channel, const RecordLayout& layout, std::span<const Item> items) {
  const std::size_t room = layout.longest_record();
  char* record = channel.record_space(room);
  std::size_t column = 0;    // current position, 0-based
  std::size_t furthest = 0;  // end of the record's content
  std::size_t next_item = 0;

  // Columns passed over by a skip hold blanks once something follows them.
  const auto field_at = [&](std::size_t width) {
    if (column > furthest) std::memset(record + furthest, ' ', column - furthest);
    const std::span<char> field(record + column, width);
    column += width;
    if (column > furthest) furthest = column;
    return field;
  };

  for (const EditDescriptor& descriptor : layout.descriptors()) {
    const auto width = static_cast<std::size_t>(descriptor.width);
    for (int copy = 0; copy < descriptor.repeat; ++copy) {
      switch (descriptor.kind) {
        case EditKind::integer:
        case EditKind::fixed:
        case EditKind::exponent:
        case EditKind::text: {
          if (next_item == items.size()) {
            channel.end_record(furthest);
            return;
          }
          const Item& item = items[next_item++];
          const std::span<char> field = field_at(width);
          if (descriptor.kind == EditKind::integer) {
            render_int(item.integer, field);
          } else if (descriptor.kind == EditKind::fixed) {
            render_fixed(item.real, descriptor.decimals, field);
          } else if (descriptor.kind == EditKind::exponent) {
            render_exp(item.real, descriptor.decimals, descriptor.letter, field);
          } else {
            render_text(item.text, field);
          }
          break;
        }
        case EditKind::literal: {
          const std::span<char> field = field_at(descriptor.literal.size());
          std::memcpy(field.data(), descriptor.literal.data(), descriptor.literal.size());
          break;
        }
        case EditKind::skip:
          column += width;
          break;
        case EditKind::record_break:
          channel.end_record(furthest);
          record = channel.record_space(room);
          column = 0;
          furthest = 0;
          break;
      }
    }
  }
  channel.end_record(furthest);
}

}  // namespace records
