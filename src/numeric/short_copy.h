// Copying a few bytes of a length known only at run time (a vertex line's
// 80 columns at most, the first word of a line): a library copy of a
// small, bounded size is compiled into a string instruction whose start-up
// costs more than the copy itself, once per line of a scan.
#pragma once

#include <cstddef>
#include <cstring>

namespace numeric {

// Copies `count` bytes from `from` to `to` (not overlapping) in fixed-size
// steps.
inline void copy_short(char* to, const char* from, std::size_t count) {
  for (; count >= 16; count -= 16, to += 16, from += 16) std::memcpy(to, from, 16);
  if (count >= 8) {
    std::memcpy(to, from, 8);
    to += 8, from += 8, count -= 8;
  }
  if (count >= 4) {
    std::memcpy(to, from, 4);
    to += 4, from += 4, count -= 4;
  }
  if (count >= 2) {
    std::memcpy(to, from, 2);
    to += 2, from += 2, count -= 2;
  }
  if (count == 1) *to = *from;
}

}  // namespace numeric
