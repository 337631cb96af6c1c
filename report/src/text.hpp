// Escaping and number formatting shared by the HTML report and the trace export.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace norq_profile::report::detail {

// Length of the well-formed UTF-8 sequence at the front of `text`, or 0 when it is malformed
// (overlong forms, surrogates and code points above U+10FFFF included).
std::size_t utf8_sequence_length(std::string_view text);

// A JSON string literal, quotes included; malformed UTF-8 becomes U+FFFD.
void append_json_string(std::string& out, std::string_view text);

// Text safe inside HTML elements and quoted attributes; malformed UTF-8 becomes U+FFFD.
void append_html(std::string& out, std::string_view text);

// 1234567 -> "1,234,567".
std::string grouped(std::uint64_t value);

// 1234567 -> "1.23M": three significant digits for axis labels and bar captions.
std::string compact(double value);

}  // namespace norq_profile::report::detail
