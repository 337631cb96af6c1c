#include "sheet.hpp"

#include <fmt/format.h>

#include <cmath>

namespace norq_cli {
namespace {

std::string quoted(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

// Machines read CSV, so doubles keep every digit (the shortest text that reads back exactly).
std::string field(const Cell& cell) {
  if (std::holds_alternative<std::monostate>(cell)) return {};
  if (const auto* text = std::get_if<std::string>(&cell)) return quoted(*text);
  if (const auto* integer = std::get_if<std::uint64_t>(&cell)) return fmt::format("{}", *integer);
  const double value = std::get<double>(cell);
  return std::isfinite(value) ? fmt::format("{}", value) : std::string();
}

}  // namespace

std::string render_csv(const std::vector<Sheet>& sheets) {
  std::string out;
  for (std::size_t s = 0; s < sheets.size(); ++s) {
    const Sheet& sheet = sheets[s];
    if (s > 0) out += "\n";
    for (std::size_t c = 0; c < sheet.columns.size(); ++c) {
      if (c > 0) out += ',';
      out += quoted(sheet.columns[c].key);
    }
    out += "\n";
    for (const auto& row : sheet.rows) {
      for (std::size_t c = 0; c < row.size(); ++c) {
        if (c > 0) out += ',';
        out += field(row[c]);
      }
      out += "\n";
    }
  }
  return out;
}

}  // namespace norq_cli
