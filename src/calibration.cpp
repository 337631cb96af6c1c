#include <norq_profile/calibration.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <compare>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace norq_profile {
namespace {

// Annotations about how a sample was measured, not what it computed.
constexpr std::array<std::string_view, 7> excluded_names{
    "reason",        "value",           "invocations",       "uniformInvocations",
    "usefulCycles", "physicalWorkCycles", "workEstimateBasis"};

bool is_excluded(std::string_view name) {
  return std::find(excluded_names.begin(), excluded_names.end(), name) != excluded_names.end();
}

using DimensionView = std::pair<std::string_view, std::string_view>;

// A key that points into the profile, so that finding an existing key copies no text.
struct KeyView {
  std::string_view kernel;
  std::span<const DimensionView> dimensions;
};

std::strong_ordering compare(const KeyView& view, const CalibrationKey& key) {
  if (const auto order = view.kernel <=> std::string_view(key.kernel); order != 0) return order;
  return std::lexicographical_compare_three_way(
      view.dimensions.begin(), view.dimensions.end(), key.dimensions.begin(), key.dimensions.end(),
      [](const DimensionView& left, const auto& right) {
        if (const auto order = left.first <=> std::string_view(right.first); order != 0) return order;
        return left.second <=> std::string_view(right.second);
      });
}

struct KeyLess {
  using is_transparent = void;
  bool operator()(const CalibrationKey& left, const CalibrationKey& right) const { return left < right; }
  bool operator()(const KeyView& left, const CalibrationKey& right) const { return compare(left, right) < 0; }
  bool operator()(const CalibrationKey& left, const KeyView& right) const { return compare(right, left) > 0; }
};

// Digits with an optional leading '+', within 32 bits; anything else is no count at all.
std::uint32_t parse_invocations(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty() || text.front() < '0' || text.front() > '9') return 1;
  std::uint32_t count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc{} || end != text.data() + text.size()) return 1;
  return count == 0 ? 1 : count;
}

std::uint32_t invocations(const ProfileStep& step) {
  for (const ProfileMetadata& entry : step.metadata) {
    if (entry.name == "invocations") return parse_invocations(entry.value);
  }
  return 1;
}

bool has_uniform_invocations(const ProfileStep& step) {
  return std::any_of(step.metadata.begin(), step.metadata.end(), [](const ProfileMetadata& entry) {
    return entry.name == "uniformInvocations" && entry.value == "true";
  });
}

// Fills `out` with the kept entries in name order, the last entry of a repeated name winning.
void collect_dimensions(const ProfileStep& step, std::vector<DimensionView>& out) {
  out.clear();
  for (const ProfileMetadata& entry : step.metadata) {
    if (is_excluded(entry.name)) continue;
    // Metadata lists are short: an insertion sort keeps list order among equal names without a
    // scratch buffer, and a later entry then replaces the earlier one in place.
    const DimensionView pair{entry.name, entry.value};
    auto slot = std::lower_bound(out.begin(), out.end(), pair.first,
                                 [](const DimensionView& d, std::string_view name) { return d.first < name; });
    if (slot != out.end() && slot->first == pair.first) {
      slot->second = pair.second;
    } else {
      out.insert(slot, pair);
    }
  }
}

}  // namespace

CalibrationDatabase calibrate_profiles(std::span<const ProfileReport> reports, std::string_view target,
                                       std::string_view build_id) {
  if (reports.empty()) throw CalibrationError("at least one profile is required");
  const std::uint64_t clock_hz = reports.front().clock_hz;
  for (const ProfileReport& report : reports) {
    if (report.clock_hz != clock_hz) throw CalibrationError("profile clock frequencies differ");
  }

  std::map<CalibrationKey, std::vector<std::uint32_t>, KeyLess> cycles_by_key;
  std::vector<DimensionView> dimensions;  // reused for every sample
  for (const ProfileReport& report : reports) {
    for (const TileProfile& tile : report.tiles) {
      for (const CycleSample& sample : tile.samples) {
        const ProfileStep& step = sample.step;
        if (step.kind != StepKind::Compute || step.kernel.empty()) continue;
        const std::uint32_t count = invocations(step);
        // Merged calls can only be divided back when they all took the same time.
        if (count > 1 && !has_uniform_invocations(step)) continue;
        collect_dimensions(step, dimensions);
        const std::uint32_t cycles = duration(sample);
        const std::uint32_t per_call = cycles / count + (cycles % count != 0 ? 1 : 0);

        const KeyView view{step.kernel, dimensions};
        auto slot = cycles_by_key.lower_bound(view);
        if (slot == cycles_by_key.end() || compare(view, slot->first) != 0) {
          CalibrationKey key{.kernel = step.kernel};
          for (const auto& [name, value] : dimensions) key.dimensions.emplace(name, value);
          slot = cycles_by_key.emplace_hint(slot, std::move(key), std::vector<std::uint32_t>{});
        }
        slot->second.push_back(per_call);
      }
    }
  }

  CalibrationDatabase database{.schema_version = 1,
                               .target = std::string(target),
                               .build_id = std::string(build_id),
                               .clock_hz = clock_hz};
  database.measurements.reserve(cycles_by_key.size());
  while (!cycles_by_key.empty()) {
    auto node = cycles_by_key.extract(cycles_by_key.begin());
    std::vector<std::uint32_t>& values = node.mapped();
    std::sort(values.begin(), values.end());
    database.measurements.push_back({.key = std::move(node.key()),
                                     .samples = values.size(),
                                     .minimum_cycles = values.front(),
                                     .median_cycles = percentile(values, 50),
                                     .p95_cycles = percentile(values, 95),
                                     .maximum_cycles = values.back()});
  }
  return database;
}

}  // namespace norq_profile
