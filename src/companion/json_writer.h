// One JSON object, one key per line, in the order the keys are added: the
// companions' machine-readable reports. Strict JSON whatever the values:
// strings are escaped to plain ASCII, and a number that is not finite is
// written as null.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace companion {

// A JSON string literal, quotes included, in 7-bit ASCII: '"' and '\\'
// escaped; control characters (C0, DEL and the C1 controls U+0080-U+009F)
// and every other character above U+007E as \uXXXX (a surrogate pair above
// U+FFFF); a byte that does not begin or continue valid UTF-8 (a stray
// continuation byte, a cut or overlong sequence, a surrogate, a value above
// U+10FFFF) as \uFFFD, the replacement character, since JSON text cannot
// hold it.
std::string json_string(std::string_view text);

// The shortest decimal form that reads back to the same double, or null
// when the value is NaN or infinite.
std::string json_number(double value);

// Values already in JSON form as one array on one line: "[1, 2.5, null]";
// "[]" without values.
std::string json_array(std::span<const std::string> values);

struct JsonMember {
  std::string_view key;
  std::string json_text;  // the value, already in JSON form
};

// Members as one object on one line, for a value nested in a JsonObject:
// {"a": [1, 2], "b": 3}; "{}" without members.
std::string json_line_object(std::span<const JsonMember> members);

class JsonObject {
 public:
  void add_raw(std::string_view key, std::string_view json_text);
  void add_string(std::string_view key, std::string_view value) {
    add_raw(key, json_string(value));
  }
  void add_number(std::string_view key, double value) { add_raw(key, json_number(value)); }
  // null when absent.
  void add_number(std::string_view key, const std::optional<double>& value);
  void add_integer(std::string_view key, std::int64_t value) {
    add_raw(key, std::to_string(value));
  }
  void add_bool(std::string_view key, bool value) { add_raw(key, value ? "true" : "false"); }
  void add_null(std::string_view key) { add_raw(key, "null"); }
  // The object's text, ending with a line feed ("{}\n" without keys).
  std::string finish() const;

 private:
  std::string text_;
};

}  // namespace companion
