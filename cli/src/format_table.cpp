#include "sheet.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace norq_cli {
namespace {

bool right_aligned(Unit unit) { return unit != Unit::Text; }

// Texts come from profiles: control characters would garble a terminal, so they are shown escaped.
std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      out += fmt::format("\\x{:02x}", byte);
    } else {
      out += c;
    }
  }
  return out;
}

// Terminal columns of UTF-8 text, counting code points; good enough for names and numbers.
std::size_t width(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

std::string grouped_fixed(double value, int decimals) {
  if (!std::isfinite(value)) return fmt::format("{}", value);
  const std::string text = fmt::format("{:.{}f}", std::fabs(value), decimals);
  const std::size_t point = text.find('.');
  std::string integral = text.substr(0, point);
  std::string grouped;
  for (std::size_t i = 0; i < integral.size(); ++i) {
    if (i > 0 && (integral.size() - i) % 3 == 0) grouped += ',';
    grouped += integral[i];
  }
  if (point != std::string::npos) grouped += text.substr(point);
  return (value < 0 && text.find_first_not_of("0.,") != std::string::npos ? "-" : "") + grouped;
}

std::string show(const Cell& cell, Unit unit) {
  if (std::holds_alternative<std::monostate>(cell)) return "-";
  if (const auto* text = std::get_if<std::string>(&cell)) return printable(*text);
  if (const auto* integer = std::get_if<std::uint64_t>(&cell)) {
    switch (unit) {
      case Unit::Share: return fmt::format("{:.1f}%", static_cast<double>(*integer) * 100.0);
      case Unit::Milliseconds: return fmt::format("{:.3f}", static_cast<double>(*integer));
      default: return group_digits(*integer);
    }
  }
  const double value = std::get<double>(cell);
  switch (unit) {
    case Unit::Share: return fmt::format("{:.1f}%", value * 100.0);
    case Unit::Milliseconds: return grouped_fixed(value, 3);
    case Unit::Count:
    case Unit::Cycles: return grouped_fixed(value, 1);
    default: return grouped_fixed(value, 2);
  }
}

void append_sheet(std::string& out, const Sheet& sheet) {
  if (!sheet.title.empty()) out += sheet.title + "\n";
  std::vector<std::size_t> visible;
  for (std::size_t c = 0; c < sheet.columns.size(); ++c) {
    if (sheet.columns[c].in_table) visible.push_back(c);
  }
  std::vector<std::vector<std::string>> texts;
  texts.reserve(sheet.rows.size());
  std::vector<std::size_t> widths;
  for (std::size_t c : visible) widths.push_back(width(sheet.columns[c].heading));
  for (const auto& row : sheet.rows) {
    auto& line = texts.emplace_back();
    for (std::size_t v = 0; v < visible.size(); ++v) {
      const std::size_t c = visible[v];
      line.push_back(show(row[c], sheet.columns[c].unit));
      widths[v] = std::max(widths[v], width(line.back()));
    }
  }
  auto emit = [&](auto&& cell_text) {
    std::string line;
    for (std::size_t v = 0; v < visible.size(); ++v) {
      const std::string text = cell_text(v);
      const std::size_t pad = widths[v] - width(text);
      if (v > 0) line += "  ";
      if (right_aligned(sheet.columns[visible[v]].unit)) {
        line.append(pad, ' ');
        line += text;
      } else {
        line += text;
        if (v + 1 < visible.size()) line.append(pad, ' ');
      }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  };
  emit([&](std::size_t v) { return sheet.columns[visible[v]].heading; });
  emit([&](std::size_t v) { return std::string(widths[v], '-'); });
  if (texts.empty()) {
    out += sheet.empty_note + "\n";
    return;
  }
  for (const auto& line : texts) emit([&](std::size_t v) { return line[v]; });
}

}  // namespace

std::string group_digits(std::uint64_t value) {
  const std::string digits = fmt::format("{}", value);
  std::string out;
  out.reserve(digits.size() + digits.size() / 3);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string render_table(const std::vector<Sheet>& sheets, std::string_view preamble) {
  std::string out(preamble);
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    if (!out.empty()) out += "\n";
    append_sheet(out, sheets[i]);
  }
  return out;
}

}  // namespace norq_cli
