// Pretty-printed JSON text, written in one forward pass.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norq_cli {

class JsonWriter {
 public:
  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array();
  JsonWriter& end_array();
  JsonWriter& key(std::string_view name);

  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
  JsonWriter& value(double number);  // non-finite numbers become null
  JsonWriter& value(bool flag);
  template <std::unsigned_integral T>
    requires(!std::same_as<T, bool>)
  JsonWriter& value(T number) {
    return integer(number);
  }
  JsonWriter& null();
  template <typename T>
  JsonWriter& value(const std::optional<T>& maybe) {
    return maybe ? value(*maybe) : null();
  }

  // Shorthand for key(name).value(v).
  template <typename T>
  JsonWriter& field(std::string_view name, const T& v) {
    return key(name).value(v);
  }

  // The finished document, ending in a newline.
  std::string finish();

 private:
  JsonWriter& integer(std::uint64_t number);
  void before_value();
  void close(char bracket);
  void newline();

  std::string out_;
  std::vector<bool> first_;  // per open container: nothing written into it yet
  bool after_key_ = false;
};

}  // namespace norq_cli
