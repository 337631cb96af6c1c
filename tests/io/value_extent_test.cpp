#include "value_extent.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace {

using norq_profile::io::detail::ValueExtent;
using norq_profile::io::detail::value_extent_slack;

// The plain rule, byte by byte: where the bracket that opens `text` is closed, or 0.
std::size_t reference_extent(const std::string& text) {
  std::size_t depth = 0;
  bool in_string = false, escaped = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if ((c == '}' || c == ']') && --depth == 0) {
      return i + 1;
    }
  }
  return 0;
}

// Feeds `text` in pieces of the given sizes, as a reader that fills its window bit by bit would.
std::size_t fed_extent(const std::string& text, const std::vector<std::size_t>& pieces) {
  std::string padded = text + std::string(value_extent_slack, 'x');
  ValueExtent extent;
  std::size_t available = 0;
  for (std::size_t piece : pieces) {
    available = std::min(text.size(), available + piece);
    if (const std::size_t end = extent.advance(padded.data(), available)) return end;
    if (available == text.size()) break;
  }
  return 0;
}

TEST(ValueExtent, FindsTheClosingBracketOutsideStrings) {
  struct Case {
    const char* text;
    std::size_t end;
  };
  const std::vector<Case> cases = {
      {"{}", 2},
      {"{\"a\":[1,2]} , {}", 11},
      {"{\"}\":\"]\"}x", 9},              // brackets inside strings do not count
      {"{\"\\\"}\"}x", 7},                // an escaped quote does not end the string
      {"{\"\\\\\"}x", 6},                 // an escaped backslash does not escape the quote
      {"[{\"a\":{\"b\":[]}}]]", 16},
      {"{\"open\": \"never closed}", 0},  // ends inside a string
      {"{[[", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(fed_extent(c.text, {1000}), c.end);
    EXPECT_EQ(reference_extent(c.text), c.end) << "the reference disagrees with the table";
  }
}

// Random texts rich in the bytes that matter, fed whole and in random pieces, so that strings,
// escapes and brackets fall on every side of the 64-byte blocks and of each refill.
TEST(ValueExtent, AgreesWithTheByteWiseRuleWhateverThePieces) {
  std::mt19937 random(7);
  const std::string alphabet = "{}[]\"\"\"\\\\ab,:\n";
  for (int round = 0; round < 3000; ++round) {
    std::string text = "{";
    const std::size_t length = random() % 400;
    for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    if (round % 3 == 0) text += std::string(random() % 200, 'z') + "}}}}]]]]";
    std::vector<std::size_t> pieces;
    for (std::size_t fed = 0; fed < text.size() + 1;) {
      pieces.push_back(1 + random() % 90);
      fed += pieces.back();
    }
    SCOPED_TRACE(text);
    const std::size_t expected = reference_extent(text);
    ASSERT_EQ(fed_extent(text, {text.size()}), expected);
    ASSERT_EQ(fed_extent(text, pieces), expected);
  }
}

}  // namespace
