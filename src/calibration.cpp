#include <norq_profile/calibration.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <compare>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace norq_profile {
namespace {

// A whole-text comparison with a length known when compiling: a few word compares, no call.
template <std::size_t N>
bool equals(std::string_view text, const char (&literal)[N]) {
  return text.size() == N - 1 && std::memcmp(text.data(), literal, N - 1) == 0;
}

// Annotations about how a sample was measured, not what it computed. Told apart by length
// first, since every metadata entry of every compute sample passes through here.
bool is_excluded(std::string_view name) {
  switch (name.size()) {
    case 5:
      return equals(name, "value");
    case 6:
      return equals(name, "reason");
    case 11:
      return equals(name, "invocations");
    case 12:
      return equals(name, "usefulCycles");
    case 17:
      return equals(name, "workEstimateBasis");
    case 18:
      return equals(name, "uniformInvocations") || equals(name, "physicalWorkCycles");
    default:
      return false;
  }
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

// What one scan of a compute sample's metadata tells the calibration.
struct Annotations {
  const ProfileMetadata* invocations = nullptr;  // the first entry of that name
  bool uniform = false;
};

// Fills `out` with the kept entries in name order, the last entry of a repeated name winning,
// and notes the invocation count and uniformity marker on the way.
Annotations scan_metadata(const ProfileStep& step, std::vector<DimensionView>& out) {
  Annotations found;
  out.clear();
  for (const ProfileMetadata& entry : step.metadata) {
    if (is_excluded(entry.name)) {
      if (found.invocations == nullptr && equals(entry.name, "invocations")) found.invocations = &entry;
      if (equals(entry.name, "uniformInvocations") && equals(entry.value, "true")) found.uniform = true;
      continue;
    }
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
  return found;
}

std::uint64_t hash_of(const KeyView& view) {
  const std::hash<std::string_view> hash;
  std::uint64_t h = hash(view.kernel);
  for (const auto& [name, value] : view.dimensions) {
    h = (h ^ hash(name)) * 0x9e3779b97f4a7c15ULL;
    h = (h ^ hash(value)) * 0x9e3779b97f4a7c15ULL;
  }
  return h;
}

struct Measured {
  CalibrationKey key;
  std::vector<std::uint32_t> cycles;
};

// Keys by hash, so a sample costs one key comparison instead of a walk down an ordered map;
// the keys are put in order once at the end.
class KeyTable {
 public:
  std::vector<std::uint32_t>& cycles_of(const KeyView& view) {
    if ((measured_.size() + 1) * 2 > slots_.size()) grow();
    const std::uint64_t hash = hash_of(view);
    for (std::size_t at = hash & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
      Slot& slot = slots_[at];
      if (slot.index == empty) {
        CalibrationKey key{.kernel = std::string(view.kernel)};
        for (const auto& [name, value] : view.dimensions) key.dimensions.emplace(name, value);
        slot = {hash, static_cast<std::uint32_t>(measured_.size())};
        measured_.push_back({std::move(key), {}});
        return measured_.back().cycles;
      }
      if (slot.hash == hash && compare(view, measured_[slot.index].key) == 0) return measured_[slot.index].cycles;
    }
  }

  std::vector<Measured>& measured() { return measured_; }

 private:
  static constexpr std::uint32_t empty = ~std::uint32_t{0};
  struct Slot {
    std::uint64_t hash = 0;
    std::uint32_t index = empty;
  };

  void grow() {
    std::vector<Slot> old(std::move(slots_));
    slots_.assign(std::max<std::size_t>(64, old.size() * 2), Slot{});
    for (const Slot& slot : old) {
      if (slot.index == empty) continue;
      std::size_t at = slot.hash & (slots_.size() - 1);
      while (slots_[at].index != empty) at = (at + 1) & (slots_.size() - 1);
      slots_[at] = slot;
    }
  }

  std::vector<Slot> slots_;
  std::vector<Measured> measured_;
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

}  // namespace

CalibrationDatabase calibrate_profiles(std::span<const ProfileReport> reports, std::string_view target,
                                       std::string_view build_id) {
  if (reports.empty()) throw CalibrationError("at least one profile is required");
  const std::uint64_t clock_hz = reports.front().clock_hz;
  for (const ProfileReport& report : reports) {
    if (report.clock_hz != clock_hz) throw CalibrationError("profile clock frequencies differ");
  }

  KeyTable table;
  std::vector<DimensionView> dimensions;  // reused for every sample
  for (const ProfileReport& report : reports) {
    for (const TileProfile& tile : report.tiles) {
      for (const CycleSample& sample : tile.samples) {
        const ProfileStep& step = sample.step;
        if (step.kind != StepKind::Compute || step.kernel.empty()) continue;
        const Annotations annotations = scan_metadata(step, dimensions);
        const std::uint32_t count =
            annotations.invocations != nullptr ? parse_invocations(annotations.invocations->value) : 1;
        // Merged calls can only be divided back when they all took the same time.
        if (count > 1 && !annotations.uniform) continue;
        const std::uint32_t cycles = duration(sample);
        const std::uint32_t per_call = cycles / count + (cycles % count != 0 ? 1 : 0);
        table.cycles_of(KeyView{step.kernel, dimensions}).push_back(per_call);
      }
    }
  }

  std::vector<Measured>& measured = table.measured();
  std::sort(measured.begin(), measured.end(),
            [](const Measured& left, const Measured& right) { return KeyLess{}(left.key, right.key); });
  CalibrationDatabase database{.schema_version = 1,
                               .target = std::string(target),
                               .build_id = std::string(build_id),
                               .clock_hz = clock_hz};
  database.measurements.reserve(measured.size());
  for (Measured& entry : measured) {
    // Four order statistics need no full sort: select the median, then the 95th percentile among
    // the values above it; the extremes lie at either end of those parts.
    std::vector<std::uint32_t>& values = entry.cycles;
    const std::size_t last = values.size() - 1;
    const auto at = [&](std::size_t percentage) { return values.begin() + static_cast<std::ptrdiff_t>(last * percentage / 100); };
    std::nth_element(values.begin(), at(50), values.end());
    const std::uint32_t median = *at(50);
    const std::uint32_t minimum = *std::min_element(values.begin(), at(50) + 1);
    std::nth_element(at(50), at(95), values.end());
    const std::uint32_t p95 = *at(95);
    const std::uint32_t maximum = *std::max_element(at(95), values.end());
    database.measurements.push_back({.key = std::move(entry.key),
                                     .samples = values.size(),
                                     .minimum_cycles = minimum,
                                     .median_cycles = median,
                                     .p95_cycles = p95,
                                     .maximum_cycles = maximum});
  }
  return database;
}

}  // namespace norq_profile
