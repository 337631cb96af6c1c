#include "text.hpp"

#include <fmt/format.h>

#include <cmath>

namespace norq_profile::report::detail {

std::size_t utf8_sequence_length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const auto continuation = [&](std::size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
  if (text.empty()) return 0;
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;  // stray continuation byte or overlong two-byte form
  if (lead < 0xE0) return continuation(1) ? 2 : 0;
  if (lead < 0xF0) {
    if (!continuation(1) || !continuation(2)) return 0;
    if (lead == 0xE0 && byte(1) < 0xA0) return 0;   // overlong
    if (lead == 0xED && byte(1) >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (lead < 0xF5) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    if (lead == 0xF0 && byte(1) < 0x90) return 0;   // overlong
    if (lead == 0xF4 && byte(1) >= 0x90) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

// Calls `plain(run)` for well-formed runs and `special(byte)` for ASCII bytes that `is_special`
// picks, writing U+FFFD for each malformed byte, so callers only decide on the escapes.
template <typename IsSpecial, typename Special>
void escape(std::string& out, std::string_view text, IsSpecial is_special, Special special) {
  std::size_t run = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (is_special(c)) {
        out.append(text.substr(run, i - run));
        special(c);
        run = i + 1;
      }
      ++i;
      continue;
    }
    const std::size_t length = utf8_sequence_length(text.substr(i));
    if (length == 0) {
      out.append(text.substr(run, i - run));
      out.append(replacement);
      run = ++i;
    } else {
      i += length;
    }
  }
  out.append(text.substr(run));
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  out.push_back('"');
  escape(
      out, text, [](unsigned char c) { return c < 0x20 || c == '"' || c == '\\' || c == 0x7F; },
      [&](unsigned char c) {
        switch (c) {
          case '"': out.append("\\\""); break;
          case '\\': out.append("\\\\"); break;
          case '\n': out.append("\\n"); break;
          case '\r': out.append("\\r"); break;
          case '\t': out.append("\\t"); break;
          default: fmt::format_to(std::back_inserter(out), "\\u{:04x}", c);
        }
      });
  out.push_back('"');
}

void append_html(std::string& out, std::string_view text) {
  escape(
      out, text,
      [](unsigned char c) {
        return c == '&' || c == '<' || c == '>' || c == '"' || c == '\'' || (c < 0x20 && c != '\n' && c != '\t');
      },
      [&](unsigned char c) {
        switch (c) {
          case '&': out.append("&amp;"); break;
          case '<': out.append("&lt;"); break;
          case '>': out.append("&gt;"); break;
          case '"': out.append("&quot;"); break;
          case '\'': out.append("&#39;"); break;
          default: out.append(replacement);  // control characters are not allowed in HTML text
        }
      });
}

std::string grouped(std::uint64_t value) {
  std::string digits = fmt::format("{}", value);
  std::string out;
  out.reserve(digits.size() + digits.size() / 3);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

std::string compact(double value) {
  static constexpr std::string_view suffixes[] = {"", "k", "M", "G", "T", "P"};
  std::size_t index = 0;
  double scaled = value;
  while (std::fabs(scaled) >= 999.5 && index + 1 < std::size(suffixes)) {
    scaled /= 1000.0;
    ++index;
  }
  if (index == 0 && scaled == std::floor(scaled)) return fmt::format("{}", static_cast<long long>(scaled));
  const int decimals = std::fabs(scaled) >= 99.95 ? 0 : std::fabs(scaled) >= 9.995 ? 1 : 2;
  return fmt::format("{:.{}f}{}", scaled, decimals, suffixes[index]);
}

}  // namespace norq_profile::report::detail
