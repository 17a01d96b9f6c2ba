#include "companion/json_writer.h"

#include <array>
#include <charconv>
#include <cmath>

namespace companion {
namespace {

constexpr std::string_view HEX = "0123456789abcdef";

void append_unit(std::string& text, std::uint32_t unit) {
  text += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) text += HEX[(unit >> shift) & 15];
}

void append_escaped(std::string& text, std::uint32_t code_point) {
  if (code_point > 0xffff) {
    const std::uint32_t above = code_point - 0x10000;
    append_unit(text, 0xd800 + (above >> 10));
    append_unit(text, 0xdc00 + (above & 0x3ff));
  } else {
    append_unit(text, code_point);
  }
}

// The code point of the valid UTF-8 sequence at text[i] and its length, or
// a length of 0 when none begins there.
struct Decoded {
  std::uint32_t code_point = 0;
  std::size_t length = 0;
};
Decoded decode_utf8(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  std::uint32_t code_point = 0;
  std::uint32_t lowest = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
    code_point = lead & 0x1fu;
    lowest = 0x80;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    code_point = lead & 0x0fu;
    lowest = 0x800;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    code_point = lead & 0x07u;
    lowest = 0x10000;
  } else {
    return {};
  }
  if (text.size() - i < length) return {};
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xc0) != 0x80) return {};
    code_point = (code_point << 6) | (byte(i + k) & 0x3fu);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if (code_point < lowest || (code_point >= 0xd800 && code_point <= 0xdfff) ||
      code_point > 0x10ffff) {
    return {};
  }
  return {code_point, length};
}

}  // namespace

std::string json_string(std::string_view text) {
  std::string json = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '"' || byte == '\\') {
      json += '\\';
      json += static_cast<char>(byte);
      ++i;
    } else if (byte >= 0x20 && byte < 0x7f) {
      json += static_cast<char>(byte);
      ++i;
    } else if (byte < 0x80) {
      append_unit(json, byte);
      ++i;
    } else if (const Decoded decoded = decode_utf8(text, i); decoded.length > 0) {
      append_escaped(json, decoded.code_point);
      i += decoded.length;
    } else {
      append_unit(json, 0xfffd);
      ++i;
    }
  }
  return json + "\"";
}

std::string json_number(double value) {
  if (!std::isfinite(value)) return "null";
  std::array<char, 32> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
  return std::string(text.data(), result.ptr);
}

std::string json_array(std::span<const std::string> values) {
  std::string text = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += ", ";
    text += values[i];
  }
  return text + "]";
}

std::string json_line_object(std::span<const JsonMember> members) {
  std::string text = "{";
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i > 0) text += ", ";
    text += json_string(members[i].key);
    text += ": ";
    text += members[i].json_text;
  }
  return text + "}";
}

void JsonObject::add_raw(std::string_view key, std::string_view json_text) {
  text_ += text_.empty() ? "{\n  " : ",\n  ";
  text_ += json_string(key);
  text_ += ": ";
  text_ += json_text;
}

void JsonObject::add_number(std::string_view key, const std::optional<double>& value) {
  add_raw(key, value.has_value() ? json_number(value.value()) : std::string("null"));
}

std::string JsonObject::finish() const { return text_.empty() ? "{}\n" : text_ + "\n}\n"; }

}  // namespace companion
