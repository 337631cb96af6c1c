// A rectangular result the table and CSV writers share: typed columns, rows of optional cells.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace norq_cli {

enum class Unit {
  Count,         // integer with digit grouping
  Cycles,        // integer with digit grouping
  Milliseconds,  // three decimals
  Share,         // a fraction; the table shows it as a percentage
  Number,        // a plain double
  Text,
};

struct Column {
  std::string key;      // CSV header, the JSON field name where there is one
  std::string heading;  // table heading
  Unit unit = Unit::Text;
  bool in_table = true;  // CSV carries every column; the table only the readable ones
};

// monostate: absent ("-" in the table, empty in CSV).
using Cell = std::variant<std::monostate, std::uint64_t, double, std::string>;

struct Sheet {
  std::string title;  // table only
  std::vector<Column> columns;
  std::vector<std::vector<Cell>> rows;
  std::string empty_note = "(none)";  // table only, shown in place of an empty body
};

// Aligned text for people: numbers right-aligned with digit grouping, absent values as "-".
std::string render_table(const std::vector<Sheet>& sheets, std::string_view preamble);

// RFC 4180 quoting with LF line ends, one block per sheet, blocks separated by one empty line.
std::string render_csv(const std::vector<Sheet>& sheets);

// 1234567 -> "1,234,567".
std::string group_digits(std::uint64_t value);

}  // namespace norq_cli
