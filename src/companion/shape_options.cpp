#include "companion/shape_options.h"

#include "format/plain_number.h"
#include "geometry/facet_soup.h"

namespace companion {

std::string read_min_angle(const ReadOptions& read, std::span<const OptionRule> rules,
                           double& min_angle_degrees) {
  std::size_t rule = 0;
  while (rule < rules.size() && rules[rule].name != MIN_ANGLE_OPTION) ++rule;
  if (rule == rules.size() || !read.has(rule)) return {};
  const std::string& text = *read.values[rule];
  const std::optional<double> number = read_number(text);
  if (!number || !(*number >= 0.0) || !(*number < 60.0)) {
    return bad_value(MIN_ANGLE_OPTION, text, "a number from 0 up to, not including, 60");
  }
  min_angle_degrees = *number;
  return {};
}

std::string min_angle_help() {
  return "  --min-angle DEG              a facet with a smaller angle is degenerate (default " +
         format::general_text(geometry::DEFAULT_MIN_ANGLE_DEGREES, 6) +
         "; 0 for\n"
         "                               slivers without area only)\n";
}

}  // namespace companion
