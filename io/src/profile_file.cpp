#include <norq_profile_io/profile_file.hpp>

#include <simdjson.h>
#include <zstd.h>

#include "value_extent.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace norq_profile::io {
namespace {

using namespace norq_package::profile;
namespace ondemand = simdjson::ondemand;

constexpr std::string_view format_name = "norq-profile";
constexpr std::uint64_t format_version = 1;
constexpr std::uint64_t max_u16 = std::numeric_limits<std::uint16_t>::max();
constexpr std::uint64_t max_u32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t max_u64 = std::numeric_limits<std::uint64_t>::max();

// ---------------------------------------------------------------------------------------------
// Shared text helpers

// Offset of the first byte that breaks UTF-8, or text.size() when the text is valid.
// Overlong forms, surrogates and code points above U+10FFFF are invalid, as in JSON readers.
std::size_t invalid_utf8_offset(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return i;
    }
    if (size - i < length) return i;
    if (bytes[i + 1] < low || bytes[i + 1] > high) return i;
    for (std::size_t k = 2; k < length; ++k) {
      if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF) return i;
    }
    i += length;
  }
  return size;
}

void append_escaped(std::string& out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  std::size_t plain_from = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + plain_from, i - plain_from);
    plain_from = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        out += "\\u00";
        out += hex[c >> 4];
        out += hex[c & 0xF];
    }
  }
  out.append(text.data() + plain_from, text.size() - plain_from);
}

// A text from the input, shown quoted in an error message: escaped, and cut when long, so that a
// hostile file cannot flood or garble the terminal.
std::string quoted_for_message(std::string_view text) {
  constexpr std::size_t limit = 60;
  bool cut = false;
  if (text.size() > limit) {
    text = text.substr(0, limit);
    // Do not end in the middle of a UTF-8 sequence.
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) {
      text.remove_suffix(1);
    }
    if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0) text.remove_suffix(1);
    cut = true;
  }
  std::string out = "\"";
  append_escaped(out, text);
  out += cut ? "...\"" : "\"";
  return out;
}

// ---------------------------------------------------------------------------------------------
// Reading

// Where the reader is in the document, kept as a small fixed stack so that the path costs
// nothing until an error needs it.
class FieldPath {
 public:
  void push_field(std::string_view name) { segments_[depth_++] = {name, 0, false}; }
  void push_index(std::size_t index) { segments_[depth_++] = {{}, index, true}; }
  void set_index(std::size_t index) { segments_[depth_ - 1].index = index; }
  void pop() { --depth_; }

  std::string text() const {
    std::string out;
    for (std::size_t i = 0; i < depth_; ++i) {
      const Segment& segment = segments_[i];
      if (segment.is_index) {
        out += '[';
        out += std::to_string(segment.index);
        out += ']';
      } else {
        if (!out.empty()) out += '.';
        out += segment.name;
      }
    }
    return out;
  }

 private:
  struct Segment {
    std::string_view name;
    std::size_t index;
    bool is_index;
  };
  // Deepest path: tiles[i].samples[j].step.exchange_activities[k].<field>, plus one unknown key.
  std::array<Segment, 12> segments_{};
  std::size_t depth_ = 0;
};

// Pushes a path segment for the length of a scope.
class PathScope {
 public:
  PathScope(FieldPath& path, std::string_view field) : path_(path) { path_.push_field(field); }
  ~PathScope() { path_.pop(); }
  PathScope(const PathScope&) = delete;
  PathScope& operator=(const PathScope&) = delete;

 private:
  FieldPath& path_;
};

std::string_view describe_type(ondemand::json_type type, std::string_view token) {
  switch (type) {
    case ondemand::json_type::array: return "an array";
    case ondemand::json_type::object: return "an object";
    case ondemand::json_type::number: return "a number";
    case ondemand::json_type::string: return "a string";
    case ondemand::json_type::boolean: return token.starts_with('t') ? "true" : "false";
    case ondemand::json_type::null: return "null";
  }
  return "an unknown value";
}

std::string_view trim_token(std::string_view token) {
  while (!token.empty() && (token.back() == ' ' || token.back() == '\t' || token.back() == '\n' ||
                            token.back() == '\r')) {
    token.remove_suffix(1);
  }
  return token;
}

// The fields of one object, by bit, to find duplicates and missing fields in one pass.
struct FieldSet {
  std::uint32_t seen = 0;
};

class Reader {
 public:
  Reader(std::string_view document, std::string_view file_name, const LoadOptions& options)
      : document_(document), file_name_(file_name), options_(options), progress_total_(document.size()) {}

  // For reading a document one tile at a time: progress counts from `base` towards `total`.
  void set_progress_total(std::uint64_t total) { progress_total_ = total; }

  // Reads one element of "tiles" held alone in [data, data + size), which starts `base` bytes
  // into the document. Throws ProfileFormatError for any fault; its place is relative to the
  // slice, so callers that need the exact place read the whole document again.
  TileProfile read_tile_slice(ondemand::parser& parser, const char* data, std::size_t size,
                              std::size_t allocated, std::uint64_t base) {
    document_ = {data, size};
    progress_base_ = base;
    quick_ = true;
    document_iterator_ = nullptr;
    ondemand::document document;
    if (auto error = parser.iterate(data, size, allocated).get(document)) fail_json(error, nullptr);
    document_iterator_ = &document;
    ondemand::value value;
    if (auto error = document.get_value().get(value)) fail_json(error, nullptr);
    TileProfile tile = read_tile(value);
    const char* rest = nullptr;
    if (document.current_location().get(rest) == simdjson::SUCCESS) {
      fail_at(rest, "unexpected content after the end of the tile");
    }
    document_iterator_ = nullptr;
    return tile;
  }

  ProfileReport read(ondemand::parser& parser, std::size_t capacity) {
    if (document_.find_first_not_of(" \t\r\n") == std::string_view::npos) {
      fail_at(std::size_t{0}, "the file is empty (expected a norq-profile JSON document)");
    }
    if (document_.size() >= 4 && static_cast<unsigned char>(document_[0]) == 0x28 &&
        static_cast<unsigned char>(document_[1]) == 0xB5 &&
        static_cast<unsigned char>(document_[2]) == 0x2F &&
        static_cast<unsigned char>(document_[3]) == 0xFD) {
      fail_at(std::size_t{0}, "the file is zstd-compressed (expected its name to end in .zst)");
    }
    ondemand::document document;
    if (auto error = parser.iterate(document_.data(), document_.size(), capacity).get(document)) {
      fail_json(error, nullptr);
    }
    document_iterator_ = &document;
    report_progress(0);

    ondemand::json_type type;
    if (auto error = document.type().get(type)) fail_json(error, nullptr);
    if (type != ondemand::json_type::object) {
      std::string_view token;
      if (auto error = document.raw_json_token().get(token)) fail_json(error, nullptr);
      fail_at(token.data(),
              "expected a JSON object with \"format\": \"norq-profile\", got " +
                  std::string(describe_type(type, token)));
    }
    ondemand::object root;
    // The fast parser checks the outer braces before anything else and tells only that they do
    // not match; find out why.
    if (auto error = document.get_object().get(root)) {
      if (error == simdjson::INCOMPLETE_ARRAY_OR_OBJECT) fail_structure();
      fail_json(error, nullptr);
    }

    ProfileReport report = read_root(root, document_.data());
    // Past the last token the reader has no location left to give.
    const char* rest = nullptr;
    if (document.current_location().get(rest) == simdjson::SUCCESS) {
      fail_at(rest, "unexpected content after the end of the document");
    }
    report_progress(document_.size());
    return report;
  }

 private:
  // --- errors ---------------------------------------------------------------------------------

  [[noreturn]] void fail_at(std::size_t offset, std::string_view what) const {
    offset = std::min(offset, document_.size());
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < offset; ++i) {
      const auto c = static_cast<unsigned char>(document_[i]);
      if (c == '\n') {
        ++line;
        column = 1;
      } else if ((c & 0xC0) != 0x80) {  // columns count characters, not bytes
        ++column;
      }
    }
    std::string message(file_name_);
    message += ':';
    message += std::to_string(line);
    message += ':';
    message += std::to_string(column);
    message += ": ";
    const std::string path = path_.text();
    if (!path.empty()) {
      message += path;
      message += ": ";
    }
    message += what;
    throw ProfileFormatError(message);
  }

  [[noreturn]] void fail_at(const char* at, std::string_view what) const {
    fail_at(static_cast<std::size_t>(at - document_.data()), what);
  }

  // Walks the text for the faults the fast parser reports without a place: a control character
  // in a string, an unclosed string, a bracket that closes the wrong thing, content after the
  // document, or an early end. Runs only once the document is known to be broken.
  [[noreturn]] void fail_structure() const {
    std::vector<char> open;
    bool in_string = false, escaped = false, ended = false;
    std::size_t string_start = 0;
    for (std::size_t i = 0; i < document_.size(); ++i) {
      const char c = document_[i];
      if (in_string) {
        if (escaped) {
          escaped = false;
        } else if (c == '\\') {
          escaped = true;
        } else if (c == '"') {
          in_string = false;
        } else if (static_cast<unsigned char>(c) < 0x20) {
          char code[8];
          std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(c));
          fail_at(i, std::string("invalid JSON: control character U+") + code +
                         " inside a string (expected it escaped, as \\u" + code + ")");
        }
        continue;
      }
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
      if (ended) fail_at(i, "unexpected content after the end of the document");
      if (c == '"') {
        in_string = true;
        string_start = i;
      } else if (c == '{' || c == '[') {
        open.push_back(c);
      } else if (c == '}' || c == ']') {
        const char opener = c == '}' ? '{' : '[';
        if (open.empty() || open.back() != opener) {
          fail_at(i, std::string("invalid JSON: unexpected '") + c + "' (expected " +
                         (open.empty() ? std::string("no more content")
                                       : std::string("'") + (open.back() == '{' ? '}' : ']') +
                                             "' or more content") +
                         ")");
        }
        open.pop_back();
        ended = open.empty();
      }
    }
    if (in_string) {
      fail_at(string_start, "invalid JSON: string without its closing quote (is the file "
                            "truncated?)");
    }
    fail_at(document_.size(), "unexpected end of file (expected the rest of the document; is the "
                              "file truncated?)");
  }

  // A fault of the JSON text itself. `at` is where the reader stood, when known.
  [[noreturn]] void fail_json(simdjson::error_code error, const char* at) const {
    if (error == simdjson::UTF8_ERROR) {
      const std::size_t offset = invalid_utf8_offset(document_);
      char byte[8];
      std::snprintf(byte, sizeof byte, "0x%02X",
                    offset < document_.size() ? static_cast<unsigned char>(document_[offset]) : 0);
      fail_at(offset, std::string("invalid UTF-8 (byte ") + byte + ")");
    }
    if (error == simdjson::UNESCAPED_CHARS || error == simdjson::UNCLOSED_STRING) fail_structure();
    if (at == nullptr && document_iterator_ != nullptr) {
      const char* location = nullptr;
      if (document_iterator_->current_location().get(location) == simdjson::SUCCESS) at = location;
    }
    const std::size_t offset =
        at != nullptr ? static_cast<std::size_t>(at - document_.data()) : document_.size();
    switch (error) {
      case simdjson::INCOMPLETE_ARRAY_OR_OBJECT:
        fail_at(document_.size(), "unexpected end of file (expected the rest of the document; is "
                                  "the file truncated?)");
      case simdjson::TRAILING_CONTENT:
        fail_at(offset, "unexpected content after the end of the document");
      case simdjson::STRING_ERROR:
        fail_at(offset, "invalid JSON string (bad escape sequence or unescaped control character)");
      case simdjson::NUMBER_ERROR:
        fail_at(offset, "invalid JSON number");
      case simdjson::T_ATOM_ERROR:
      case simdjson::F_ATOM_ERROR:
      case simdjson::N_ATOM_ERROR:
        fail_at(offset, "invalid JSON literal (expected true, false or null)");
      case simdjson::DEPTH_ERROR:
        fail_at(offset, "invalid JSON: nested too deeply");
      case simdjson::CAPACITY:
        fail_at(std::size_t{0}, "the document is too large (at most 4 GiB of JSON text)");
      default:
        break;
    }
    if (offset >= document_.size()) {
      fail_at(offset, "unexpected end of file (expected the rest of the document; is the file "
                      "truncated?)");
    }
    if (error == simdjson::TAPE_ERROR || error == simdjson::INCORRECT_TYPE) {
      const char c = document_[offset];
      std::string shown = c == '\'' ? std::string("\"'\"") : "'" + std::string(1, c) + "'";
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x80) {
        shown = "byte " + std::to_string(static_cast<unsigned char>(c));
      }
      fail_at(offset, "invalid JSON: unexpected " + shown +
                          " (a comma, colon, bracket, brace or quote is missing or extra)");
    }
    fail_at(offset, std::string("invalid JSON (") + simdjson::error_message(error) + ")");
  }

  [[noreturn]] void fail_type(ondemand::value& value, std::string_view expected) {
    ondemand::json_type type;
    if (auto error = value.type().get(type)) fail_json(error, nullptr);
    const std::string_view token = value.raw_json_token();
    // The type comes from the first letter alone; "tru" is no boolean.
    if (type == ondemand::json_type::boolean || type == ondemand::json_type::null) {
      const std::string_view literal = trim_token(token);
      if (literal != "true" && literal != "false" && literal != "null") {
        fail_json(simdjson::T_ATOM_ERROR, token.data());
      }
    }
    fail_at(token.data(), "expected " + std::string(expected) + ", got " +
                              std::string(describe_type(type, token)));
  }

  void report_progress(std::size_t done) const {
    if (options_.progress) options_.progress(progress_base_ + done, progress_total_);
  }

  // --- values ---------------------------------------------------------------------------------

  std::uint64_t read_unsigned(ondemand::value& value, std::uint64_t maximum) {
    if (quick_) {
      // Plain digits, as every writer puts them: read straight from the text. Anything else takes
      // the general path below.
      const std::string_view token = value.raw_json_token();
      std::uint64_t number = 0;
      std::size_t i = 0;
      for (; i < token.size() && i < 19; ++i) {
        const auto digit = static_cast<unsigned char>(token[i]) - static_cast<unsigned>('0');
        if (digit > 9) break;
        number = number * 10 + digit;
      }
      std::size_t rest = i;
      while (rest < token.size() && (token[rest] == ' ' || token[rest] == '\t' || token[rest] == '\n' ||
                                     token[rest] == '\r')) {
        ++rest;
      }
      if (i > 0 && rest == token.size() && (token[0] != '0' || i == 1) && number <= maximum) {
        return number;
      }
    }
    ondemand::json_type type;
    if (auto error = value.type().get(type)) fail_json(error, nullptr);
    // Built only for a message: numbers are the bulk of a profile.
    const auto expected = [maximum] { return "an integer from 0 to " + std::to_string(maximum); };
    if (type != ondemand::json_type::number) fail_type(value, expected());
    const std::string_view token = trim_token(value.raw_json_token());
    std::uint64_t number = 0;
    const simdjson::error_code error = value.get_uint64().get(number);
    const bool fractional = token.find_first_of(".eE") != std::string_view::npos;
    if (error == simdjson::SUCCESS && number <= maximum && !fractional) return number;
    const bool digits_only =
        !token.empty() && token.find_first_not_of("0123456789") == std::string_view::npos;
    if (token.starts_with('-') || fractional || digits_only) {
      // Quote the number only when it is short enough to read.
      const std::string shown =
          token.size() <= 40 ? std::string(token) : std::string(token.substr(0, 40)) + "...";
      fail_at(token.data(), "expected " + expected() + ", got " + shown);
    }
    fail_json(error != simdjson::SUCCESS ? error : simdjson::NUMBER_ERROR, token.data());
  }

  std::uint64_t read_field_unsigned(ondemand::value& value, std::string_view name,
                                    std::uint64_t maximum) {
    PathScope scope(path_, name);
    return read_unsigned(value, maximum);
  }

  std::uint32_t read_u32(ondemand::value& value, std::string_view name) {
    return static_cast<std::uint32_t>(read_field_unsigned(value, name, max_u32));
  }

  std::string_view read_string_view(ondemand::value& value, std::string_view expected) {
    std::string_view text;
    if (quick_) {
      // Without a backslash the text is its bytes between the quotes: the parser has already
      // checked their encoding and control characters, so there is nothing to decode.
      std::string_view token = value.raw_json_token();
      while (token.size() > 2 && (token.back() == ' ' || token.back() == '\n' || token.back() == '\t' ||
                                  token.back() == '\r')) {
        token.remove_suffix(1);
      }
      if (token.size() >= 2 && token.front() == '"' && token.back() == '"') {
        text = token.substr(1, token.size() - 2);
        if (text.find('\\') == std::string_view::npos) return text;
      }
      if (value.get_string().get(text) == simdjson::SUCCESS) return text;
      // The place of the fault is found when the whole document is read.
      fail_at(std::size_t{0}, "invalid string");
    }
    ondemand::json_type type;
    if (auto error = value.type().get(type)) fail_json(error, nullptr);
    if (type != ondemand::json_type::string) fail_type(value, expected);
    const char* at = value.raw_json_token().data();
    if (auto error = value.get_string().get(text)) fail_json(error, at);
    return text;
  }

  std::string read_string(ondemand::value& value, std::string_view name) {
    PathScope scope(path_, name);
    return std::string(read_string_view(value, "a string"));
  }

  bool read_bool(ondemand::value& value, std::string_view name) {
    PathScope scope(path_, name);
    ondemand::json_type type;
    if (auto error = value.type().get(type)) fail_json(error, nullptr);
    if (type != ondemand::json_type::boolean) fail_type(value, "true or false");
    const std::string_view literal = trim_token(value.raw_json_token());
    if (literal != "true" && literal != "false") fail_json(simdjson::T_ATOM_ERROR, literal.data());
    bool flag = false;
    if (auto error = value.get_bool().get(flag)) fail_json(error, value.raw_json_token().data());
    return flag;
  }

  StepKind read_step_kind(ondemand::value& value) {
    PathScope scope(path_, "kind");
    constexpr std::string_view expected = "exchange, compute, synchronization or idle";
    const char* at = value.raw_json_token().data();
    const std::string_view name = read_string_view(value, "a step kind (exchange, compute, "
                                                          "synchronization or idle)");
    if (name == "exchange") return StepKind::Exchange;
    if (name == "compute") return StepKind::Compute;
    if (name == "synchronization") return StepKind::Synchronization;
    if (name == "idle") return StepKind::Idle;
    fail_at(at, "unknown step kind " + quoted_for_message(name) + " (expected " +
                    std::string(expected) + ")");
  }

  ExchangeActivityKind read_activity_kind(ondemand::value& value) {
    PathScope scope(path_, "kind");
    const char* at = value.raw_json_token().data();
    const std::string_view name =
        read_string_view(value, "an exchange activity kind (send, receive or partner_busy)");
    if (name == "send") return ExchangeActivityKind::Send;
    if (name == "receive") return ExchangeActivityKind::Receive;
    if (name == "partner_busy") return ExchangeActivityKind::PartnerBusy;
    fail_at(at, "unknown exchange activity kind " + quoted_for_message(name) +
                    " (expected send, receive or partner_busy)");
  }

  // --- objects and arrays ---------------------------------------------------------------------

  // Calls read_element(value) for each element of an array field, with the index on the path.
  template <typename ReadElement>
  void read_array(ondemand::value& value, std::string_view name, std::string_view expected,
                  ReadElement&& read_element) {
    PathScope scope(path_, name);
    ondemand::array array;
    if (quick_) {
      if (value.get_array().get(array) != simdjson::SUCCESS) fail_at(std::size_t{0}, "not an array");
    } else {
      ondemand::json_type type;
      if (auto error = value.type().get(type)) fail_json(error, nullptr);
      if (type != ondemand::json_type::array) fail_type(value, expected);
      if (auto error = value.get_array().get(array)) fail_json(error, nullptr);
    }
    path_.push_index(0);
    std::size_t index = 0;
    for (auto element_result : array) {
      path_.set_index(index);
      ondemand::value element;
      if (auto error = std::move(element_result).get(element)) fail_json(error, nullptr);
      read_element(element);
      ++index;
    }
    path_.pop();
  }

  // Walks the fields of an object. `names` lists the fields in their documented order; every one
  // is required, each may appear once, and any other name is rejected, so that a typo never
  // passes silently. read_field(bit, value) reads the field at position `bit` of `names`.
  template <std::size_t N, typename ReadField>
  void read_object(ondemand::value& value, const std::array<std::string_view, N>& names,
                   std::string_view expected, ReadField&& read_field) {
    if (quick_) {
      ondemand::object object;
      if (value.get_object().get(object) != simdjson::SUCCESS) fail_at(std::size_t{0}, "not an object");
      read_fields(object, document_.data(), names, 0, read_field);
      return;
    }
    ondemand::json_type type;
    if (auto error = value.type().get(type)) fail_json(error, nullptr);
    if (type != ondemand::json_type::object) fail_type(value, expected);
    const char* object_start = value.raw_json_token().data();
    ondemand::object object;
    if (auto error = value.get_object().get(object)) fail_json(error, nullptr);
    read_fields(object, object_start, names, 0, read_field);
  }

  template <std::size_t N, typename ReadField>
  void read_fields(ondemand::object& object, const char* object_start,
                   const std::array<std::string_view, N>& names, std::uint32_t seen,
                   ReadField&& read_field) {
    std::size_t next = 0;  // writers put the fields in the documented order: try that one first
    for (auto field_result : object) {
      ondemand::field field;
      if (auto error = std::move(field_result).get(field)) fail_json(error, nullptr);
      if (next < N && (seen & (1U << next)) == 0 && field.key().unsafe_is_equal(names[next])) {
        seen |= 1U << next;
        read_field(next, field.value());
        ++next;
        continue;
      }
      const char* key_at = field.key().raw() - 1;
      std::string_view key;
      if (auto error = field.unescaped_key().get(key)) fail_json(error, key_at);
      std::size_t bit = 0;
      while (bit < N && names[bit] != key) ++bit;
      if (bit == N) {
        path_.push_field(quoted_key(key));
        fail_at(key_at, "unknown field (expected " + list_names(names) + ")");
      }
      if ((seen & (1U << bit)) != 0) {
        PathScope scope(path_, names[bit]);
        fail_at(key_at, "duplicate field");
      }
      seen |= 1U << bit;
      next = bit + 1;
      read_field(bit, field.value());
    }
    for (std::size_t bit = 0; bit < N; ++bit) {
      if ((seen & (1U << bit)) == 0) {
        PathScope scope(path_, names[bit]);
        fail_at(object_start, "required field is missing");
      }
    }
  }

  // A key as it appears on a path: bare when it is a plain name, quoted otherwise.
  std::string_view quoted_key(std::string_view key) {
    const bool plain = !key.empty() && key.size() <= 60 &&
                       std::all_of(key.begin(), key.end(), [](char c) {
                         return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                (c >= '0' && c <= '9') || c == '_' || c == '-';
                       });
    unknown_key_ = plain ? std::string(key) : quoted_for_message(key);
    return unknown_key_;
  }

  template <std::size_t N>
  static std::string list_names(const std::array<std::string_view, N>& names) {
    std::string out;
    for (std::size_t i = 0; i < N; ++i) {
      if (i > 0) out += i + 1 == N ? " or " : ", ";
      out += names[i];
    }
    return out;
  }

  ProfileReport read_root(ondemand::object& root, const char* object_start) {
    // format and version come first, so that a reader knows what it holds before the data.
    static constexpr std::array<std::string_view, 4> names = {"format", "version", "clock_hz",
                                                              "tiles"};
    ProfileReport report;
    std::size_t position = 0;
    auto read_field = [&](std::size_t bit, ondemand::value value) {
      if (position == 0 && bit != 0) {
        PathScope scope(path_, "format");
        fail_at(object_start, "required first field is missing (expected \"format\": "
                              "\"norq-profile\" at the top of the document)");
      }
      if (position == 1 && bit != 1) {
        PathScope scope(path_, "version");
        fail_at(object_start, "required second field is missing (expected \"version\": 1 after "
                              "\"format\")");
      }
      ++position;
      switch (bit) {
        case 0: {
          PathScope scope(path_, "format");
          const char* at = value.raw_json_token().data();
          const std::string_view format = read_string_view(value, "the text \"norq-profile\"");
          if (format != format_name) {
            fail_at(at, "expected \"norq-profile\", got " + quoted_for_message(format) +
                            " (not a norq-profile document)");
          }
          break;
        }
        case 1: {
          PathScope scope(path_, "version");
          const char* at = value.raw_json_token().data();
          const std::uint64_t version = read_unsigned(value, max_u64);
          if (version != format_version) {
            fail_at(at, "unsupported version " + std::to_string(version) + " (expected 1)");
          }
          break;
        }
        case 2:
          report.clock_hz = read_field_unsigned(value, "clock_hz", max_u64);
          break;
        case 3:
          read_array(value, "tiles", "an array of tiles", [&](ondemand::value& tile) {
            report.tiles.push_back(read_tile(tile));
            report_progress(static_cast<std::size_t>(tile_end_location() - document_.data()));
          });
          break;
      }
    };
    read_fields(root, object_start, names, 0, read_field);
    return report;
  }

  const char* tile_end_location() {
    const char* at = nullptr;
    if (document_iterator_->current_location().get(at) != simdjson::SUCCESS) {
      return document_.data() + document_.size();
    }
    return at;
  }

  TileProfile read_tile(ondemand::value& value) {
    static constexpr std::array<std::string_view, 2> names = {"physical_tile", "samples"};
    TileProfile tile;
    read_object(value, names, "a tile object", [&](std::size_t bit, ondemand::value field) {
      if (bit == 0) {
        tile.physical_tile = read_u32(field, "physical_tile");
      } else {
        // Samples gather in a list kept from tile to tile and move out at their exact number,
        // so no tile keeps the spare room of a growing vector.
        scratch_samples_.clear();
        read_array(field, "samples", "an array of samples", [&](ondemand::value& sample) {
          read_sample(sample, scratch_samples_.emplace_back());
          // Large tiles report progress on their own, not only when they end.
          if (++samples_read_ % 8192 == 0) {
            report_progress(static_cast<std::size_t>(sample.raw_json_token().data() -
                                                     document_.data()));
          }
        });
        tile.samples.reserve(scratch_samples_.size());
        std::move(scratch_samples_.begin(), scratch_samples_.end(), std::back_inserter(tile.samples));
      }
    });
    return tile;
  }

  void read_sample(ondemand::value& value, CycleSample& sample) {
    static constexpr std::array<std::string_view, 3> names = {"step", "start_cycle", "end_cycle"};
    read_object(value, names, "a sample object", [&](std::size_t bit, ondemand::value field) {
      switch (bit) {
        case 0: read_step(field, sample.step); break;
        case 1: sample.start_cycle = read_u32(field, "start_cycle"); break;
        case 2: sample.end_cycle = read_u32(field, "end_cycle"); break;
      }
    });
  }

  void read_step(ondemand::value& value, ProfileStep& step) {
    static constexpr std::array<std::string_view, 9> names = {
        "local_index", "phase",    "epoch",
        "operation",   "kind",     "kernel",
        "metadata",    "exchange_activities", "exchange_event_cycles"};
    PathScope scope(path_, "step");
    read_object(value, names, "a step object", [&](std::size_t bit, ondemand::value field) {
      switch (bit) {
        case 0: step.local_index = read_u32(field, "local_index"); break;
        case 1: step.phase = read_u32(field, "phase"); break;
        case 2: step.epoch = read_u32(field, "epoch"); break;
        case 3: step.operation = read_string(field, "operation"); break;
        case 4: step.kind = read_step_kind(field); break;
        case 5: step.kernel = read_string(field, "kernel"); break;
        case 6:
          // Gathered first, then allocated once at their exact number.
          scratch_metadata_.clear();
          read_array(field, "metadata", "an array of metadata entries",
                     [&](ondemand::value& entry) { scratch_metadata_.push_back(read_metadata(entry)); });
          step.metadata.assign(std::make_move_iterator(scratch_metadata_.begin()),
                               std::make_move_iterator(scratch_metadata_.end()));
          break;
        case 7:
          scratch_activities_.clear();
          read_array(field, "exchange_activities", "an array of exchange activities",
                     [&](ondemand::value& activity) {
                       scratch_activities_.push_back(read_activity(activity));
                     });
          step.exchange_activities.assign(scratch_activities_.begin(), scratch_activities_.end());
          break;
        case 8: step.exchange_event_cycles = read_u32(field, "exchange_event_cycles"); break;
      }
    });
  }

  ProfileMetadata read_metadata(ondemand::value& value) {
    static constexpr std::array<std::string_view, 2> names = {"name", "value"};
    ProfileMetadata entry;
    read_object(value, names, "a metadata object", [&](std::size_t bit, ondemand::value field) {
      if (bit == 0) {
        entry.name = read_string(field, "name");
      } else {
        entry.value = read_string(field, "value");
      }
    });
    return entry;
  }

  ProfileExchangeActivity read_activity(ondemand::value& value) {
    static constexpr std::array<std::string_view, 5> names = {"fanout", "paired", "kind",
                                                              "start_cycle", "end_cycle"};
    ProfileExchangeActivity activity;
    read_object(value, names, "an exchange activity object",
                [&](std::size_t bit, ondemand::value field) {
                  switch (bit) {
                    case 0:
                      activity.fanout =
                          static_cast<std::uint16_t>(read_field_unsigned(field, "fanout", max_u16));
                      break;
                    case 1: activity.paired = read_bool(field, "paired"); break;
                    case 2: activity.kind = read_activity_kind(field); break;
                    case 3: activity.start_cycle = read_u32(field, "start_cycle"); break;
                    case 4: activity.end_cycle = read_u32(field, "end_cycle"); break;
                  }
                });
    return activity;
  }

  std::string_view document_;
  std::string_view file_name_;
  const LoadOptions& options_;
  ondemand::document* document_iterator_ = nullptr;
  FieldPath path_;
  std::string unknown_key_;
  std::size_t samples_read_ = 0;
  std::uint64_t progress_base_ = 0;
  bool quick_ = false;  // errors need no exact place: the whole document is read again for that
  std::uint64_t progress_total_ = 0;
  std::vector<CycleSample> scratch_samples_;
  std::vector<ProfileMetadata> scratch_metadata_;
  std::vector<ProfileExchangeActivity> scratch_activities_;
};

// JSON text with the padding simdjson reads past its end, filled without a second full copy.
class PaddedBuffer {
 public:
  char* data() { return data_.get(); }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  std::string_view view() const { return {data_.get(), size_}; }

  // Room for `more` bytes after size(), keeping the padding beyond them.
  char* reserve_more(std::size_t more) {
    const std::size_t needed = size_ + more + simdjson::SIMDJSON_PADDING;
    if (needed > capacity_) {
      const std::size_t grown = std::max(needed, capacity_ + capacity_ / 2);
      auto bigger = std::make_unique_for_overwrite<char[]>(grown);
      if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
      data_ = std::move(bigger);
      capacity_ = grown;
    }
    return data_.get() + size_;
  }
  void commit(std::size_t added) { size_ += added; }
  void finish() {
    reserve_more(0);
    std::memset(data_.get() + size_, 0, capacity_ - size_);
  }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

bool has_zst_suffix(const std::filesystem::path& path) { return path.extension() == ".zst"; }

// Closes the descriptor however the reading or writing ends.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = other.release();
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

std::string system_message(int error) { return std::generic_category().message(error); }

[[noreturn]] void fail_file(const std::string& file, std::string_view what) {
  throw ProfileFormatError(file + ": " + std::string(what));
}

FileDescriptor open_for_reading(const std::filesystem::path& path, const std::string& name,
                                std::uint64_t& size, bool& regular) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) fail_file(name, "cannot open the file: " + system_message(errno));
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    fail_file(name, "cannot read the file: " + system_message(errno));
  }
  if (S_ISDIR(status.st_mode)) fail_file(name, "cannot read the file: it is a directory");
  regular = S_ISREG(status.st_mode);
  size = regular ? static_cast<std::uint64_t>(status.st_size) : 0;
  return fd;
}

// Reads up to `count` bytes; 0 only at the end of the file.
std::size_t read_some(int fd, char* into, std::size_t count, const std::string& name) {
  for (;;) {
    const ssize_t got = ::read(fd, into, count);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) fail_file(name, "cannot read the file: " + system_message(errno));
  }
}

// Bytes of a file or of memory, compressed or not, read front to back.
class Input {
 public:
  virtual ~Input() = default;
  // Up to `count` bytes; 0 only at the end.
  virtual std::size_t read(char* into, std::size_t count) = 0;
};

class FileInput final : public Input {
 public:
  FileInput(int fd, const std::string& name) : fd_(fd), name_(name) {}
  std::size_t read(char* into, std::size_t count) override { return read_some(fd_, into, count, name_); }

 private:
  int fd_;
  const std::string& name_;
};

class MemoryInput final : public Input {
 public:
  explicit MemoryInput(std::string_view bytes) : rest_(bytes) {}
  std::size_t read(char* into, std::size_t count) override {
    const std::size_t n = std::min(count, rest_.size());
    if (n > 0) std::memcpy(into, rest_.data(), n);
    rest_.remove_prefix(n);
    return n;
  }

 private:
  std::string_view rest_;
};

bool starts_with_zstd_frame(std::string_view bytes) {
  if (bytes.size() < 4) return false;
  const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])); };
  const std::uint32_t magic = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
  return magic == ZSTD_MAGICNUMBER || (magic & ZSTD_MAGIC_SKIPPABLE_MASK) == ZSTD_MAGIC_SKIPPABLE_START;
}

// The decompressed document of a zstd stream, produced as it is asked for.
class ZstdInput final : public Input {
 public:
  ZstdInput(Input& compressed, const std::string& name)
      : compressed_(compressed),
        name_(name),
        context_(ZSTD_createDCtx(), ZSTD_freeDCtx),
        chunk_size_(ZSTD_DStreamInSize()),
        chunk_(std::make_unique_for_overwrite<char[]>(chunk_size_)) {
    if (!context_) throw std::bad_alloc();
  }

  std::size_t read(char* into, std::size_t count) override {
    for (;;) {
      if (in_.pos == in_.size && !output_full_) {
        if (!ended_) {
          consumed_ += in_.size;
          const std::size_t got = compressed_.read(chunk_.get(), chunk_size_);
          in_ = {chunk_.get(), got, 0};
          if (got > 0) {
            any_input_ = true;
            continue;
          }
          ended_ = true;
        }
        if (!any_input_) {
          fail_file(name_, "the file is empty (expected a zstd-compressed norq-profile document)");
        }
        if (pending_ != 0) {
          fail_file(name_, "byte " + std::to_string(consumed_) +
                               ": truncated zstd stream (the file ends inside a compressed frame)");
        }
        return 0;
      }
      ZSTD_outBuffer out{into, count, 0};
      const std::size_t result = ZSTD_decompressStream(context_.get(), &out, &in_);
      if (ZSTD_isError(result)) {
        fail_file(name_, "byte " + std::to_string(consumed_ + in_.pos) + ": corrupt zstd stream (" +
                             ZSTD_getErrorName(result) + ")");
      }
      pending_ = result;
      // A full output may leave more behind in the decoder even when the input is used up.
      output_full_ = out.pos == out.size;
      if (out.pos > 0) return out.pos;
    }
  }

 private:
  Input& compressed_;
  const std::string& name_;
  std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context_;
  std::size_t chunk_size_;
  std::unique_ptr<char[]> chunk_;
  ZSTD_inBuffer in_{nullptr, 0, 0};
  std::uint64_t consumed_ = 0;  // compressed bytes before the current chunk
  std::size_t pending_ = 0;     // non-zero: inside a frame that has not ended
  bool output_full_ = false;
  bool ended_ = false;
  bool any_input_ = false;
};

void check_size(std::size_t size, const std::string& name) {
  if (size > simdjson::SIMDJSON_MAXSIZE_BYTES) {
    fail_file(name, "the document is too large (at most 4 GiB of JSON text)");
  }
}

void read_plain(Input& input, std::uint64_t size_hint, PaddedBuffer& buffer, const std::string& name) {
  constexpr std::size_t chunk = std::size_t{1} << 20;
  // The size from stat is a hint only: the file may be a pipe or still growing.
  // One chunk more, so that the read that finds the end does not grow (and copy) the buffer.
  buffer.reserve_more(static_cast<std::size_t>(
                          std::min<std::uint64_t>(size_hint, simdjson::SIMDJSON_MAXSIZE_BYTES)) +
                      chunk);
  for (;;) {
    char* into = buffer.reserve_more(chunk);
    const std::size_t got = input.read(into, chunk);
    if (got == 0) break;
    buffer.commit(got);
    check_size(buffer.size(), name);
  }
}

void read_zstd(Input& compressed, PaddedBuffer& buffer, const std::string& name) {
  std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
  if (!context) throw std::bad_alloc();
  const std::size_t in_chunk = ZSTD_DStreamInSize();
  const std::size_t out_chunk = std::max<std::size_t>(ZSTD_DStreamOutSize(), std::size_t{1} << 20);
  auto input = std::make_unique_for_overwrite<char[]>(in_chunk);
  std::uint64_t consumed = 0;
  std::size_t pending = 0;  // non-zero: inside a frame that has not ended
  bool any_input = false;
  bool first_chunk = true;
  for (;;) {
    const std::size_t got = compressed.read(input.get(), in_chunk);
    if (got == 0) break;
    any_input = true;
    if (first_chunk) {
      first_chunk = false;
      const unsigned long long content = ZSTD_getFrameContentSize(input.get(), got);
      // The declared size is the file's word only: a few bytes may claim gigabytes. Trust it up
      // to a bound and let the buffer grow past that as real output arrives.
      constexpr unsigned long long trusted = 64ULL << 20;
      if (content != ZSTD_CONTENTSIZE_ERROR && content != ZSTD_CONTENTSIZE_UNKNOWN) {
        buffer.reserve_more(static_cast<std::size_t>(std::min(content, trusted)));
      }
    }
    ZSTD_inBuffer in{input.get(), got, 0};
    while (in.pos < in.size || pending != 0) {
      char* into = buffer.reserve_more(out_chunk);
      ZSTD_outBuffer out{into, out_chunk, 0};
      const std::size_t result = ZSTD_decompressStream(context.get(), &out, &in);
      if (ZSTD_isError(result)) {
        fail_file(name, "byte " + std::to_string(consumed + in.pos) +
                            ": corrupt zstd stream (" + ZSTD_getErrorName(result) + ")");
      }
      buffer.commit(out.pos);
      check_size(buffer.size(), name);
      pending = result;
      // Needs more input and has nothing left to flush.
      if (in.pos == in.size && out.pos < out.size) break;
    }
    consumed += got;
  }
  if (!any_input) fail_file(name, "the file is empty (expected a zstd-compressed norq-profile document)");
  if (pending != 0) {
    fail_file(name, "byte " + std::to_string(consumed) +
                        ": truncated zstd stream (the file ends inside a compressed frame)");
  }
}

// ---------------------------------------------------------------------------------------------
// Reading one tile at a time

// The document as a window of bytes moving forward through the input: memory stays at one chunk
// (or one tile, when a tile is larger) instead of the whole text.
class Window {
 public:
  static constexpr std::size_t slack = std::max(simdjson::SIMDJSON_PADDING, detail::value_extent_slack);

  Window(Input& input, std::size_t chunk) : input_(input) { allocate(chunk); }

  const char* data() const { return data_.get(); }
  // Bytes from data() that the parser may read, padding included.
  std::size_t allocated() const { return capacity_ + slack; }
  std::size_t end() const { return end_; }
  std::uint64_t base() const { return base_; }  // document offset of data()[0]
  bool at_input_end() const { return input_ended_; }

  // Drops the bytes before `keep_from` and reads more after those kept; keep_from becomes 0.
  // False when the input has ended.
  bool advance(std::size_t keep_from) {
    if (input_ended_) return false;
    if (keep_from > 0) {
      std::memmove(data_.get(), data_.get() + keep_from, end_ - keep_from);
      end_ -= keep_from;
      base_ += keep_from;
    }
    if (end_ == capacity_) {
      // One value larger than the window: the window grows to hold it whole.
      if (capacity_ >= simdjson::SIMDJSON_MAXSIZE_BYTES) return false;
      auto bigger = allocate_bytes(capacity_ * 2);
      std::memcpy(bigger.get(), data_.get(), end_);
      data_ = std::move(bigger);
      capacity_ *= 2;
    }
    const std::size_t before = end_;
    while (end_ < capacity_) {
      const std::size_t got = input_.read(data_.get() + end_, capacity_ - end_);
      if (got == 0) {
        input_ended_ = true;
        break;
      }
      end_ += got;
    }
    return end_ > before;
  }

 private:
  static std::unique_ptr<char[]> allocate_bytes(std::size_t capacity) {
    auto bytes = std::make_unique_for_overwrite<char[]>(capacity + slack);
    // The slack is read but never used; keep it defined all the same.
    std::memset(bytes.get() + capacity, ' ', slack);
    return bytes;
  }
  void allocate(std::size_t capacity) {
    data_ = allocate_bytes(capacity);
    capacity_ = capacity;
  }

  Input& input_;
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  std::size_t end_ = 0;
  std::uint64_t base_ = 0;
  bool input_ended_ = false;
};

// Raised when the tile-at-a-time reader meets anything it does not handle itself; the caller
// then reads the whole document, which names the exact fault (or accepts an unusual layout).
struct NotStreamable {};

// Reads a document whose top level is laid out plainly (no escapes in its keys), handing each
// tile alone to simdjson. Every tile goes through the same Reader as a whole document would, so
// what it accepts, and the records it builds, are the same.
class StreamingReader {
 public:
  // `expected_size` sizes the window: a small document gets a small one. It is a hint only; the
  // window grows whenever one tile needs more.
  StreamingReader(Input& input, std::string_view file_name, const LoadOptions& options,
                  std::uint64_t total, std::uint64_t expected_size)
      : window_(input, static_cast<std::size_t>(std::clamp<std::uint64_t>(expected_size + 1, 4096,
                                                                          std::uint64_t{8} << 20))),
        reader_({}, file_name, options), options_(options), total_(total) {
    reader_.set_progress_total(total);
  }

  ProfileReport read() {
    report_progress(0);
    ProfileReport report;
    expect('{');
    expect_key("format");
    if (read_key_text() != format_name) throw NotStreamable{};
    skip_whitespace();
    expect(',');
    expect_key("version");
    if (read_integer() != format_version) throw NotStreamable{};
    bool have_clock = false, have_tiles = false;
    for (;;) {
      skip_whitespace();
      if (peek() == '}') break;
      expect(',');
      skip_whitespace();
      const std::string key = read_key_text();
      skip_whitespace();
      expect(':');
      skip_whitespace();
      if (key == "clock_hz" && !have_clock) {
        report.clock_hz = read_integer();
        have_clock = true;
      } else if (key == "tiles" && !have_tiles) {
        read_tiles(report);
        have_tiles = true;
      } else {
        throw NotStreamable{};
      }
    }
    ++position_;
    if (!have_clock || !have_tiles) throw NotStreamable{};
    skip_whitespace();
    if (peek() != end_of_input) throw NotStreamable{};
    const std::uint64_t size = window_.base() + window_.end();
    if (options_.progress) options_.progress(size, std::max(size, total_));
    return report;
  }

 private:
  static constexpr int end_of_input = -1;

  int peek() {
    if (position_ == window_.end()) {
      if (!window_.advance(position_)) return end_of_input;
      position_ = 0;
      check_size();
    }
    return static_cast<unsigned char>(window_.data()[position_]);
  }

  void check_size() const {
    if (window_.base() + window_.end() > simdjson::SIMDJSON_MAXSIZE_BYTES) throw NotStreamable{};
  }

  void skip_whitespace() {
    for (;;) {
      const int c = peek();
      if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return;
      ++position_;
    }
  }

  void expect(char wanted) {
    skip_whitespace();
    if (peek() != static_cast<unsigned char>(wanted)) throw NotStreamable{};
    ++position_;
  }

  // A string without escapes, control characters or non-ASCII bytes; anything else is left to
  // the whole-document reader.
  std::string read_key_text() {
    expect('"');
    std::string text;
    for (;;) {
      const int c = peek();
      if (c == '"') break;
      if (c < 0x20 || c >= 0x80 || c == '\\' || text.size() > 32) throw NotStreamable{};
      text += static_cast<char>(c);
      ++position_;
    }
    ++position_;
    return text;
  }

  void expect_key(std::string_view key) {
    skip_whitespace();
    if (read_key_text() != key) throw NotStreamable{};
    expect(':');
    skip_whitespace();
  }

  std::uint64_t read_integer() {
    std::uint64_t value = 0;
    std::size_t digits = 0;
    int c = peek();
    while (c >= '0' && c <= '9') {
      const auto digit = static_cast<std::uint64_t>(c - '0');
      if ((digits == 1 && value == 0) || value > (max_u64 - digit) / 10) throw NotStreamable{};
      value = value * 10 + digit;
      ++digits;
      ++position_;
      c = peek();
    }
    if (digits == 0) throw NotStreamable{};
    if (c != ' ' && c != '\n' && c != '\t' && c != '\r' && c != ',' && c != '}') {
      throw NotStreamable{};
    }
    return value;
  }

  void read_tiles(ProfileReport& report) {
    expect('[');
    skip_whitespace();
    if (peek() == ']') {
      ++position_;
      return;
    }
    for (;;) {
      skip_whitespace();
      if (peek() != '{') throw NotStreamable{};
      report.tiles.push_back(read_tile());
      report_progress(window_.base() + position_);
      skip_whitespace();
      const int c = peek();
      ++position_;
      if (c == ']') return;
      if (c != ',') throw NotStreamable{};
    }
  }

  TileProfile read_tile() {
    detail::ValueExtent extent;
    std::size_t length = 0;
    while ((length = extent.advance(window_.data() + position_, window_.end() - position_)) == 0) {
      if (!window_.advance(position_)) throw NotStreamable{};
      position_ = 0;
      check_size();
    }
    const std::size_t start = position_;
    TileProfile tile = reader_.read_tile_slice(parser_, window_.data() + start, length,
                                               window_.allocated() - start, window_.base() + start);
    position_ = start + length;
    return tile;
  }

  void report_progress(std::uint64_t done) const {
    if (options_.progress) options_.progress(done, total_);
  }

  Window window_;
  std::size_t position_ = 0;
  Reader reader_;
  ondemand::parser parser_;
  const LoadOptions& options_;
  std::uint64_t total_;
};

// The profile, or nothing when the document must be read whole (a fault, or an unusual layout).
std::optional<ProfileReport> read_streaming(Input& input, std::string_view file_name,
                                            const LoadOptions& options, std::uint64_t total,
                                            std::uint64_t expected_size) {
  try {
    return StreamingReader(input, file_name, options, total, expected_size).read();
  } catch (const NotStreamable&) {
  } catch (const ProfileFormatError&) {
  }
  return std::nullopt;
}

// Reads a whole document at once: the slower path, exact in its error places.
ProfileReport read_whole(const PaddedBuffer& buffer, std::string_view file_name,
                         const LoadOptions& options) {
  ondemand::parser parser;
  Reader reader(buffer.view(), file_name, options);
  return reader.read(parser, buffer.capacity());
}

// Progress never runs backwards, even when a document is read a second time.
LoadOptions forward_only(const LoadOptions& options, std::uint64_t& shown) {
  LoadOptions forward;
  if (options.progress) {
    forward.progress = [&options, &shown](std::uint64_t done, std::uint64_t total) {
      shown = std::max(shown, done);
      options.progress(shown, total);
    };
  }
  return forward;
}

// ---------------------------------------------------------------------------------------------
// Writing

// Appends the JSON text to `out`, handing it to `drain` whenever a chunk is full; the caller
// drains what is left.
class Writer {
 public:
  Writer(std::string& out, const std::function<void(std::string&)>* drain)
      : out_(out), drain_(drain) {}

  void write(const ProfileReport& report) {
    out_ += "{\"format\":\"norq-profile\",\"version\":1,\"clock_hz\":";
    number(report.clock_hz);
    out_ += ",\"tiles\":[";
    for (std::size_t t = 0; t < report.tiles.size(); ++t) {
      const TileProfile& tile = report.tiles[t];
      out_ += t == 0 ? "\n" : ",\n";
      out_ += "{\"physical_tile\":";
      number(tile.physical_tile);
      out_ += ",\"samples\":[";
      for (std::size_t s = 0; s < tile.samples.size(); ++s) {
        out_ += s == 0 ? "\n" : ",\n";
        write_sample(tile.samples[s], t, s);
        if (drain_ != nullptr && out_.size() >= drain_threshold) (*drain_)(out_);
      }
      out_ += "]}";
    }
    out_ += "]}\n";
  }

 private:
  static constexpr std::size_t drain_threshold = std::size_t{1} << 20;

  void number(std::uint64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out_.append(digits, result.ptr);
  }

  // `entry` is the metadata index for metadata texts, npos otherwise.
  void text(std::string_view value, std::size_t tile, std::size_t sample, std::string_view field,
            std::size_t entry = std::string_view::npos) {
    const std::size_t bad = invalid_utf8_offset(value);
    if (bad != value.size()) {
      std::string where = "tiles[" + std::to_string(tile) + "].samples[" + std::to_string(sample) +
                          "].step.";
      if (entry != std::string_view::npos) where += "metadata[" + std::to_string(entry) + "].";
      throw std::invalid_argument(where + std::string(field) + ": text is not valid UTF-8 (at byte " +
                                  std::to_string(bad) + ")");
    }
    out_ += '"';
    append_escaped(out_, value);
    out_ += '"';
  }

  void write_sample(const CycleSample& sample, std::size_t t, std::size_t s) {
    const ProfileStep& step = sample.step;
    out_ += "{\"step\":{\"local_index\":";
    number(step.local_index);
    out_ += ",\"phase\":";
    number(step.phase);
    out_ += ",\"epoch\":";
    number(step.epoch);
    out_ += ",\"operation\":";
    text(step.operation, t, s, "operation");
    out_ += ",\"kind\":\"";
    out_ += step_kind_name(step.kind, t, s);
    out_ += "\",\"kernel\":";
    text(step.kernel, t, s, "kernel");
    out_ += ",\"metadata\":[";
    for (std::size_t m = 0; m < step.metadata.size(); ++m) {
      if (m > 0) out_ += ',';
      out_ += "{\"name\":";
      text(step.metadata[m].name, t, s, "name", m);
      out_ += ",\"value\":";
      text(step.metadata[m].value, t, s, "value", m);
      out_ += '}';
    }
    out_ += "],\"exchange_activities\":[";
    for (std::size_t a = 0; a < step.exchange_activities.size(); ++a) {
      const ProfileExchangeActivity& activity = step.exchange_activities[a];
      if (a > 0) out_ += ',';
      out_ += "{\"fanout\":";
      number(activity.fanout);
      out_ += activity.paired ? ",\"paired\":true,\"kind\":\"" : ",\"paired\":false,\"kind\":\"";
      out_ += activity_kind_name(activity.kind, t, s, a);
      out_ += "\",\"start_cycle\":";
      number(activity.start_cycle);
      out_ += ",\"end_cycle\":";
      number(activity.end_cycle);
      out_ += '}';
    }
    out_ += "],\"exchange_event_cycles\":";
    number(step.exchange_event_cycles);
    out_ += "},\"start_cycle\":";
    number(sample.start_cycle);
    out_ += ",\"end_cycle\":";
    number(sample.end_cycle);
    out_ += '}';
  }

  static std::string_view step_kind_name(StepKind kind, std::size_t t, std::size_t s) {
    switch (kind) {
      case StepKind::Exchange: return "exchange";
      case StepKind::Compute: return "compute";
      case StepKind::Synchronization: return "synchronization";
      case StepKind::Idle: return "idle";
    }
    throw std::invalid_argument("tiles[" + std::to_string(t) + "].samples[" + std::to_string(s) +
                                "].step.kind: step kind value " +
                                std::to_string(static_cast<unsigned>(kind)) +
                                " is not one of exchange, compute, synchronization or idle");
  }

  static std::string_view activity_kind_name(ExchangeActivityKind kind, std::size_t t,
                                             std::size_t s, std::size_t a) {
    switch (kind) {
      case ExchangeActivityKind::Send: return "send";
      case ExchangeActivityKind::Receive: return "receive";
      case ExchangeActivityKind::PartnerBusy: return "partner_busy";
    }
    throw std::invalid_argument(
        "tiles[" + std::to_string(t) + "].samples[" + std::to_string(s) +
        "].step.exchange_activities[" + std::to_string(a) + "].kind: exchange activity kind value " +
        std::to_string(static_cast<unsigned>(kind)) + " is not one of send, receive or partner_busy");
  }

  std::string& out_;
  const std::function<void(std::string&)>* drain_;
};

void write_all(int fd, const char* data, std::size_t size, const std::string& name) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(name + ": cannot write the file: " + system_message(errno));
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

// A new file beside the target, removed again unless it is renamed into place.
class TemporaryFile {
 public:
  TemporaryFile(const std::filesystem::path& target, const std::string& name) : name_(name) {
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "%08x", random());
      std::string temporary_name = ".";  // hidden, so that listings never show a half-written file
      temporary_name += target.filename().string();
      temporary_name += ".tmp-";
      temporary_name += suffix;
      path_ = folder / temporary_name;
      const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        fd_ = fd;
        return;
      }
      if (errno != EEXIST) {
        throw std::runtime_error(name + ": cannot create a temporary file beside it: " +
                                 system_message(errno));
      }
    }
    throw std::runtime_error(name + ": cannot create a temporary file beside it");
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int fd() const { return fd_; }

  void commit(const std::filesystem::path& target) {
    if (::fsync(fd_) != 0) {
      throw std::runtime_error(name_ + ": cannot write the file: " + system_message(errno));
    }
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) {
      throw std::runtime_error(name_ + ": cannot write the file: " + system_message(errno));
    }
    if (::rename(path_.c_str(), target.c_str()) != 0) {
      throw std::runtime_error(name_ + ": cannot replace the file: " + system_message(errno));
    }
    committed_ = true;
  }

 private:
  std::string name_;
  std::filesystem::path path_;
  int fd_ = -1;
  bool committed_ = false;
};

}  // namespace

ProfileReport parse_profile(std::string_view json, std::string_view file_name) {
  const LoadOptions no_progress;
  MemoryInput input(json);
  if (auto report = read_streaming(input, file_name, no_progress, json.size(), json.size())) {
    return std::move(*report);
  }
  // Exactly the text and its padding: fuzzing runs this for every rejected input.
  const simdjson::padded_string padded(json);
  ondemand::parser parser;
  Reader reader(padded, file_name, no_progress);
  return reader.read(parser, padded.size() + simdjson::SIMDJSON_PADDING);
}

ProfileReport parse_profile_bytes(std::string_view bytes, std::string_view file_name) {
  if (!starts_with_zstd_frame(bytes)) return parse_profile(bytes, file_name);
  const std::string name(file_name);
  const LoadOptions no_progress;
  {
    MemoryInput compressed(bytes);
    ZstdInput input(compressed, name);
    // Profiles compress about ten times; the window grows if this guess is short.
    if (auto report = read_streaming(input, file_name, no_progress, 0, bytes.size() * 16)) {
      return std::move(*report);
    }
  }
  MemoryInput compressed(bytes);
  PaddedBuffer buffer;
  read_zstd(compressed, buffer, name);
  buffer.finish();
  return read_whole(buffer, file_name, no_progress);
}

ProfileReport load_profile(const std::filesystem::path& path, const LoadOptions& options) {
  const std::string name = path.string();
  const bool zst = has_zst_suffix(path);
  std::uint64_t shown = 0;
  const LoadOptions forward = forward_only(options, shown);
  std::uint64_t size = 0;
  bool regular = false;
  FileDescriptor fd = open_for_reading(path, name, size, regular);
  if (regular) {
    std::uint64_t total = size;
    bool streamable = true;
    if (zst && options.progress) {
      // Progress needs the document's size, which a zstd stream need not declare: count it in
      // a first pass that keeps nothing.
      try {
        FileInput file(fd.get(), name);
        ZstdInput input(file, name);
        auto scratch = std::make_unique_for_overwrite<char[]>(std::size_t{1} << 20);
        total = 0;
        while (const std::size_t got = input.read(scratch.get(), std::size_t{1} << 20)) {
          total += got;
          // Past the limit the whole-document path gives the error, without decompressing on.
          if (total > simdjson::SIMDJSON_MAXSIZE_BYTES) {
            streamable = false;
            break;
          }
        }
      } catch (const ProfileFormatError&) {
        streamable = false;
      }
      if (streamable && ::lseek(fd.get(), 0, SEEK_SET) != 0) streamable = false;
    }
    if (streamable) {
      FileInput file(fd.get(), name);
      std::optional<ProfileReport> report;
      if (zst) {
        ZstdInput input(file, name);
        report = read_streaming(input, name, forward, total, std::max(total, size * 16));
      } else {
        report = read_streaming(file, name, forward, total, size);
      }
      if (report) return std::move(*report);
    }
    // Read again from the start, whole, for the exact place of the fault.
    fd = open_for_reading(path, name, size, regular);
  }
  PaddedBuffer buffer;
  FileInput file(fd.get(), name);
  if (zst) {
    read_zstd(file, buffer, name);
  } else {
    read_plain(file, size, buffer, name);
  }
  ::close(fd.release());
  buffer.finish();
  if (!regular) {
    // A pipe cannot be read twice: its text is held whole, but parsed a tile at a time all the same.
    MemoryInput input(buffer.view());
    if (auto report = read_streaming(input, name, forward, buffer.size(), buffer.size())) {
      return std::move(*report);
    }
  }
  return read_whole(buffer, name, forward);
}

std::string profile_to_json(const ProfileReport& report) {
  std::string out;
  Writer(out, nullptr).write(report);
  return out;
}

void save_profile(const ProfileReport& report, const std::filesystem::path& path) {
  const std::string name = path.string();
  TemporaryFile file(path, name);
  std::string chunk;
  std::function<void(std::string&)> drain;
  std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(nullptr, ZSTD_freeCCtx);
  std::unique_ptr<char[]> compressed;
  std::size_t compressed_size = 0;
  if (has_zst_suffix(path)) {
    context.reset(ZSTD_createCCtx());
    if (!context) throw std::bad_alloc();
    // The checksum lets a reader tell a damaged file from a valid one.
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, 3);
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 1);
    compressed_size = ZSTD_CStreamOutSize();
    compressed = std::make_unique_for_overwrite<char[]>(compressed_size);
  }
  // Only the last drain, after the writer is done, ends the zstd frame.
  bool finishing = false;
  drain = [&](std::string& text) {
    if (!context) {
      write_all(file.fd(), text.data(), text.size(), name);
      text.clear();
      return;
    }
    ZSTD_inBuffer in{text.data(), text.size(), 0};
    const ZSTD_EndDirective mode = finishing ? ZSTD_e_end : ZSTD_e_continue;
    for (;;) {
      ZSTD_outBuffer out{compressed.get(), compressed_size, 0};
      const std::size_t remaining = ZSTD_compressStream2(context.get(), &out, &in, mode);
      if (ZSTD_isError(remaining)) {
        throw std::runtime_error(name + ": cannot compress: " + ZSTD_getErrorName(remaining));
      }
      write_all(file.fd(), compressed.get(), out.pos, name);
      const bool done = mode == ZSTD_e_end ? remaining == 0 : in.pos == in.size;
      if (done) break;
    }
    text.clear();
  };
  try {
    Writer(chunk, &drain).write(report);
    finishing = true;
    drain(chunk);
  } catch (const std::invalid_argument& error) {
    throw std::invalid_argument(name + ": cannot write the profile: " + error.what());
  }
  file.commit(path);
}

}  // namespace norq_profile::io
