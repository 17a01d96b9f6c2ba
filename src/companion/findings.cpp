#include "companion/findings.h"

#include <algorithm>
#include <iterator>

#include "companion/report_rows.h"

namespace companion {
namespace {

// The kind's place in the table; past its end for a name it does not hold.
std::size_t rank(std::string_view name) {
  const auto found = std::find_if(std::begin(FINDING_KINDS), std::end(FINDING_KINDS),
                                  [name](const FindingKind& kind) { return kind.name == name; });
  return static_cast<std::size_t>(found - std::begin(FINDING_KINDS));
}

}  // namespace

FindingKind finding_kind(std::string_view name) {
  const std::size_t at = rank(name);
  return at < std::size(FINDING_KINDS) ? FINDING_KINDS[at] : FindingKind{};
}

std::vector<Finding> listed_findings(std::vector<Finding> findings) {
  std::erase_if(findings, [](const Finding& finding) { return finding.count <= 0; });
  std::stable_sort(findings.begin(), findings.end(),
                   [](const Finding& a, const Finding& b) { return rank(a.kind) < rank(b.kind); });
  return findings;
}

std::string counted_words(const Finding& finding) {
  const FindingKind kind = finding_kind(finding.kind);
  return group_digits(finding.count) + " " + std::string(finding.count == 1 ? kind.one : kind.many);
}

std::string json_findings(std::span<const Finding> findings) {
  std::vector<std::string> objects;
  objects.reserve(findings.size());
  for (const Finding& finding : findings) {
    std::vector<std::string> lines;
    lines.reserve(finding.lines.size());
    for (const std::int64_t line : finding.lines) lines.push_back(std::to_string(line));
    const JsonMember members[] = {{"kind", json_string(finding.kind)},
                                  {"count", std::to_string(finding.count)},
                                  {"lines", json_array(lines)}};
    objects.push_back(json_line_object(members));
  }
  return json_array(objects);
}

void add_shape(JsonObject& json, const ShapeFacts& shape) {
  const auto add_line = [&json](std::string_view key, std::int64_t line) {
    if (line > 0) {
      json.add_integer(key, line);
    } else {
      json.add_null(key);
    }
  };
  json.add_number("smallest_angle", shape.smallest_angle_degrees);
  add_line("smallest_angle_line", shape.smallest_angle_line);
  json.add_number("largest_aspect_ratio", shape.largest_aspect_ratio);
  add_line("largest_aspect_ratio_line", shape.largest_aspect_ratio_line);
}

std::string shape_text(const ShapeFacts& shape) {
  const auto at = [](std::int64_t line) {
    return line > 0 ? " (line " + std::to_string(line) + ")" : std::string();
  };
  return "smallest angle " + readable_number(shape.smallest_angle_degrees) + " degrees" +
         at(shape.smallest_angle_line) + ", largest aspect ratio " +
         readable_number(shape.largest_aspect_ratio) + at(shape.largest_aspect_ratio_line);
}

}  // namespace companion
