#include "text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using namespace norq_profile::report::detail;
using namespace std::string_view_literals;

std::string json(std::string_view text) {
  std::string out;
  append_json_string(out, text);
  return out;
}

std::string html(std::string_view text) {
  std::string out;
  append_html(out, text);
  return out;
}

TEST(Utf8, SequenceLengths) {
  const struct {
    std::string_view bytes;
    std::size_t length;
  } cases[] = {
      {"a", 1},
      {"\xC3\xA9", 2},          // é
      {"\xE2\x82\xAC", 3},      // €
      {"\xF0\x9F\x98\x80", 4},  // emoji
      {"\xC3", 0},              // cut short
      {"\x80", 0},              // stray continuation
      {"\xC0\xAF", 0},          // overlong '/'
      {"\xE0\x80\xAF", 0},      // overlong
      {"\xED\xA0\x80", 0},      // surrogate
      {"\xF4\x90\x80\x80", 0},  // above U+10FFFF
      {"\xFF", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(utf8_sequence_length(c.bytes), c.length) << testing::PrintToString(c.bytes);
}

TEST(JsonString, EscapesAndReplacesMalformedBytes) {
  EXPECT_EQ(json("plain"), "\"plain\"");
  EXPECT_EQ(json("a\"b\\c\n\t\x01"), "\"a\\\"b\\\\c\\n\\t\\u0001\"");
  EXPECT_EQ(json("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
  EXPECT_EQ(json("x\xFFy\xC3"), "\"x\xEF\xBF\xBDy\xEF\xBF\xBD\"");
  EXPECT_EQ(json("nul\0byte"sv), "\"nul\\u0000byte\"");
}

TEST(Html, EscapesMarkupAndQuotes) {
  EXPECT_EQ(html("<script>alert('x')</script> & \"q\""),
            "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; &quot;q&quot;");
  EXPECT_EQ(html("line\nbreak"), "line\nbreak");
  EXPECT_EQ(html("bad\xFE"), "bad\xEF\xBF\xBD");
}

TEST(Numbers, GroupedAndCompact) {
  EXPECT_EQ(grouped(0), "0");
  EXPECT_EQ(grouped(999), "999");
  EXPECT_EQ(grouped(1000), "1,000");
  EXPECT_EQ(grouped(1234567), "1,234,567");
  EXPECT_EQ(grouped(18446744073709551615ull), "18,446,744,073,709,551,615");
  EXPECT_EQ(compact(0), "0");
  EXPECT_EQ(compact(950), "950");
  EXPECT_EQ(compact(12.5), "12.5");
  EXPECT_EQ(compact(1234), "1.23k");
  EXPECT_EQ(compact(999'600), "1.00M");
  EXPECT_EQ(compact(45'600'000), "45.6M");
  EXPECT_EQ(compact(3.2e9), "3.20G");
}

}  // namespace
