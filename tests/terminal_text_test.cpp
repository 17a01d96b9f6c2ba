// Text for a terminal: what may be shown as it is, and what is escaped.
#include "format/terminal_text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

std::string escaped(std::string_view text) {
  std::string shown;
  format::escape_for_terminal(text, [&](std::string_view piece) { shown += piece; });
  return shown;
}

TEST(TerminalText, EscapesEveryByteThatIsNotAPrintableCharacter) {
  struct Case {
    std::string_view text;
    std::string_view shown;
  };
  using namespace std::string_view_literals;
  constexpr Case cases[] = {
      {"plain /path", "plain /path"},
      {"\x1b[2J\x07\x7f"sv, "\\033[2J\\007\\177"},
      {"a\0b"sv, "a\\000b"},
      // The first and last characters beyond ASCII that are not C1
      // controls, and the C1 controls around them.
      {"\xc2\x80\xc2\x9f"sv, "\\302\\200\\302\\237"},
      {"\xc2\xa0"sv, "\xc2\xa0"},
      {"\xdf\xbf\xc3\xa9"sv, "\xdf\xbf\xc3\xa9"},
      // Three and four bytes: the edges of each valid range, and just
      // outside them (overlong forms, surrogates, beyond U+10FFFF).
      {"\xe0\xa0\x80"sv, "\xe0\xa0\x80"},
      {"\xe0\x9f\xbf"sv, "\\340\\237\\277"},
      {"\xed\x9f\xbf"sv, "\xed\x9f\xbf"},
      {"\xed\xa0\x80"sv, "\\355\\240\\200"},
      {"\xf0\x90\x80\x80"sv, "\xf0\x90\x80\x80"},
      {"\xf0\x8f\xbf\xbf"sv, "\\360\\217\\277\\277"},
      {"\xf4\x8f\xbf\xbf"sv, "\xf4\x8f\xbf\xbf"},
      {"\xf4\x90\x80\x80"sv, "\\364\\220\\200\\200"},
      // Bytes that start no sequence: continuation bytes (a bare 8-bit
      // CSI), overlong leads, F5 to FF.
      {"\x9b\xc0\xaf\xc1\xbf"sv, "\\233\\300\\257\\301\\277"},
      {"\xf5\xff"sv, "\\365\\377"},
      // Sequences cut short, by the end of the text or by another byte.
      {"\xe2\x82"sv, "\\342\\202"},
      {"\xe2\x82x"sv, "\\342\\202x"},
      {"\xf0\x9f\x98\xe2\x82\xac"sv, "\\360\\237\\230\xe2\x82\xac"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(escaped(c.text), c.shown);
  }
}

TEST(TerminalText, ShownLengthIsOneWholeCharacter) {
  EXPECT_EQ(format::shown_character_length(""), 0u);
  EXPECT_EQ(format::shown_character_length("ab"), 1u);
  EXPECT_EQ(format::shown_character_length("\xc3\xa9x"), 2u);
  EXPECT_EQ(format::shown_character_length("\xe2\x82\xacx"), 3u);
  EXPECT_EQ(format::shown_character_length("\xf0\x9f\x98\x80x"), 4u);
  EXPECT_EQ(format::shown_character_length("\xc2\x9b"), 0u);
}

}  // namespace
