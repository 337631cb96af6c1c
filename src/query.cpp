#include <norq_profile/query.hpp>

#include "timeline.hpp"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

namespace norq_profile {

namespace {

constexpr std::string_view no_kernel = "(no kernel)";
constexpr std::string_view missing = "(missing)";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A decimal number as annotations write it: [+-] digits [. digits] [(e|E) [+-] digits], where the
// point needs a digit on at least one side. Finite and not negative, or nothing.
std::optional<double> parse_cycles(std::string_view text) {
  // Plain digits, as nearly every annotation is: exact as an integer below 2^53, so this gives
  // the same double as the general parse below at a fraction of its cost.
  if (!text.empty() && text.size() <= 15) {
    std::uint64_t whole = 0;
    bool digits = true;
    for (const char c : text) {
      if (!is_digit(c)) {
        digits = false;
        break;
      }
      whole = whole * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (digits) return static_cast<double>(whole);
  }
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  // from_chars takes no "+", so the number proper starts after it.
  const char* const number = negative ? begin : p;

  // Decimal magnitude of the first significant digit, to tell an underflow from an overflow.
  std::int64_t magnitude = 0;
  bool significant = false;
  std::size_t integer_digits = 0;
  for (; p != end && is_digit(*p); ++p, ++integer_digits) {
    if (significant) {
      ++magnitude;
    } else if (*p != '0') {
      significant = true;
      magnitude = 1;
    }
  }
  std::size_t fraction_digits = 0;
  if (p != end && *p == '.') {
    for (++p; p != end && is_digit(*p); ++p, ++fraction_digits) {
      if (!significant) {
        if (*p != '0') {
          significant = true;
        } else {
          --magnitude;
        }
      }
    }
  }
  if (integer_digits == 0 && fraction_digits == 0) return std::nullopt;
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool exponent_negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
      exponent_negative = *p == '-';
      ++p;
    }
    if (p == end || !is_digit(*p)) return std::nullopt;
    std::int64_t exponent = 0;
    for (; p != end && is_digit(*p); ++p) {
      // Saturate far beyond any double's range; only the side of the range matters then.
      exponent = std::min<std::int64_t>(exponent * 10 + (*p - '0'), 1'000'000'000);
    }
    magnitude += exponent_negative ? -exponent : exponent;
  }
  if (p != end) return std::nullopt;

  double value = 0.0;
  const auto [parsed_end, error] = std::from_chars(number, end, value, std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    // Below one it can only have underflowed, which reads as zero; above, it is not finite.
    if (!significant || magnitude <= 0) return 0.0;
    return std::nullopt;
  }
  if (error != std::errc{} || parsed_end != end) return std::nullopt;
  if (!(value >= 0.0) || value > std::numeric_limits<double>::max()) return std::nullopt;
  return value + 0.0;  // -0 reads as 0
}

const ProfileMetadata* first_entry(const CycleSample& sample, std::string_view name) {
  for (const ProfileMetadata& entry : sample.step.metadata) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

std::string_view metadata_key(const Query& query) {
  return query.metadata_key ? std::string_view{*query.metadata_key} : std::string_view{};
}

std::string_view metadata_value(const Query& query, const CycleSample& sample) {
  const ProfileMetadata* entry = first_entry(sample, metadata_key(query));
  return entry != nullptr ? std::string_view{entry->value} : missing;
}

std::string_view kernel_name(const CycleSample& sample) {
  return sample.step.kernel.empty() ? no_kernel : std::string_view{sample.step.kernel};
}

// Running totals of one group; the name and dimensions are kept aside in the summary row.
struct Accumulator {
  // Tiles and (phase, epoch) pairs are appended when they change and made distinct at the end,
  // so a group costs no node allocation per sample.
  std::vector<std::uint32_t> tiles;
  std::vector<std::uint64_t> phases;  // phase << 32 | epoch
  // One (start, end) per sample; the durations are their lengths, so they are not kept twice.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> intervals;
  std::uint64_t work_cycles = 0;
  double useful_cycles = 0.0;
  double physical_work_cycles = 0.0;
  std::uint64_t estimated_work_cycles = 0;
  std::uint64_t first_offset = 0;
  std::uint64_t last_offset = 0;
};

struct Group {
  GroupSummary row;  // name and dimensions fixed at creation, the rest filled by the summary
  Accumulator totals;
};

// Finds a sample's group without building its name: texts by view into the profile (or a fixed
// label), numbers as numbers. Views stay valid for the whole call.
class GroupIndex {
 public:
  explicit GroupIndex(const Query& query) : query_(query) {}

  Group& find(std::uint32_t tile, const CycleSample& sample, std::uint64_t offset) {
    switch (query_.group_by) {
      case GroupBy::Kind:
        return by_text(kind_name(sample), tile, sample, offset);
      case GroupBy::Kernel:
        return by_text(kernel_name(sample), tile, sample, offset);
      case GroupBy::Operation:
        return by_text(sample.step.operation, tile, sample, offset);
      case GroupBy::Metadata:
        return by_text(metadata_value(query_, sample), tile, sample, offset);
      case GroupBy::Phase:
        return by_number(std::uint64_t{sample.step.phase} << 32 | sample.step.epoch, tile, sample,
                         offset);
      case GroupBy::Tile:
        break;
    }
    return by_number(tile, tile, sample, offset);
  }

  std::vector<Group>& groups() { return groups_; }

 private:
  Group& by_text(std::string_view key, std::uint32_t tile, const CycleSample& sample,
                 std::uint64_t offset) {
    const auto [slot, inserted] = by_text_.try_emplace(key, groups_.size());
    if (inserted) create(tile, sample, offset);
    return groups_[slot->second];
  }

  Group& by_number(std::uint64_t key, std::uint32_t tile, const CycleSample& sample,
                   std::uint64_t offset) {
    const auto [slot, inserted] = by_number_.try_emplace(key, groups_.size());
    if (inserted) create(tile, sample, offset);
    return groups_[slot->second];
  }

  void create(std::uint32_t tile, const CycleSample& sample, std::uint64_t offset) {
    Group& group = groups_.emplace_back();
    auto [name, dimensions] = group_key(query_, tile, sample);
    group.row.name = std::move(name);
    group.row.dimensions = std::move(dimensions);
    group.totals.first_offset = offset;
  }

  const Query& query_;
  std::unordered_map<std::string_view, std::size_t> by_text_;
  std::unordered_map<std::uint64_t, std::size_t> by_number_;
  std::vector<Group> groups_;
};

void accumulate(Accumulator& totals, std::uint32_t tile, const CycleSample& sample,
                std::uint64_t offset, std::uint32_t sample_duration) {
  if (totals.tiles.empty() || totals.tiles.back() != tile) totals.tiles.push_back(tile);
  const std::uint64_t phase = std::uint64_t{sample.step.phase} << 32 | sample.step.epoch;
  if (totals.phases.empty() || totals.phases.back() != phase) totals.phases.push_back(phase);
  const std::uint64_t end = offset + sample_duration;
  totals.intervals.emplace_back(offset, end);
  totals.work_cycles += sample_duration;
  // A cut sample's annotations describe the whole step, not the part left after the crop.
  if (sample_duration == duration(sample)) {
    if (const auto work = useful_work(sample)) {
      totals.useful_cycles += work->first;
      totals.physical_work_cycles += work->second;
      totals.estimated_work_cycles += sample_duration;
    }
  }
  totals.first_offset = std::min(totals.first_offset, offset);
  totals.last_offset = std::max(totals.last_offset, end);
}

template <typename T>
std::size_t count_distinct(std::vector<T>& values) {
  std::sort(values.begin(), values.end());
  return static_cast<std::size_t>(std::unique(values.begin(), values.end()) - values.begin());
}

// Distinct count through an open-addressed table: a group meets each (phase, epoch) once per tile,
// so the list is long but holds few distinct values, and sorting it would dominate.
std::size_t count_distinct_words(const std::vector<std::uint64_t>& values, std::vector<std::uint64_t>& table) {
  constexpr std::uint64_t empty = ~std::uint64_t{0};
  std::size_t capacity = 16;
  std::size_t distinct = 0;
  bool saw_empty = false;  // the one value the table cannot hold is counted aside
  table.assign(capacity, empty);
  for (const std::uint64_t value : values) {
    if (value == empty) {
      saw_empty = true;
      continue;
    }
    std::size_t slot = static_cast<std::size_t>((value * 0x9e3779b97f4a7c15ULL) >> 32) & (capacity - 1);
    while (table[slot] != empty && table[slot] != value) slot = (slot + 1) & (capacity - 1);
    if (table[slot] == value) continue;
    table[slot] = value;
    if (++distinct * 2 > capacity) {
      // Grow and reinsert; keeps the table at most half full.
      std::vector<std::uint64_t> old(std::move(table));
      capacity *= 2;
      table.assign(capacity, empty);
      for (const std::uint64_t kept : old) {
        if (kept == empty) continue;
        std::size_t at = static_cast<std::size_t>((kept * 0x9e3779b97f4a7c15ULL) >> 32) & (capacity - 1);
        while (table[at] != empty) at = (at + 1) & (capacity - 1);
        table[at] = kept;
      }
    }
  }
  return distinct + (saw_empty ? 1 : 0);
}

using Interval = std::pair<std::uint64_t, std::uint64_t>;

// Sorts by start alone, least significant 11 bits first, counting from the smallest start: a
// profile spans a few million cycles, so two or three counting passes replace a comparison sort.
// Equal starts may end up in any order.
void sort_by_start(std::vector<Interval>& intervals, std::vector<Interval>& scratch) {
  if (intervals.size() < 256) {
    std::sort(intervals.begin(), intervals.end(),
              [](const Interval& a, const Interval& b) { return a.first < b.first; });
    return;
  }
  std::uint64_t smallest = intervals.front().first;
  std::uint64_t largest = smallest;
  bool sorted = true;
  for (std::size_t i = 1; i < intervals.size(); ++i) {
    smallest = std::min(smallest, intervals[i].first);
    largest = std::max(largest, intervals[i].first);
    if (intervals[i].first < intervals[i - 1].first) sorted = false;
  }
  if (sorted) return;
  const std::uint64_t range = largest - smallest;
  constexpr unsigned bits = 11;
  constexpr std::size_t buckets = std::size_t{1} << bits;
  scratch.resize(intervals.size());
  std::vector<std::size_t> counts(buckets);
  for (unsigned shift = 0; shift < 64 && (range >> shift) != 0; shift += bits) {
    const auto digit = [&](const Interval& interval) { return ((interval.first - smallest) >> shift) & (buckets - 1); };
    std::fill(counts.begin(), counts.end(), 0);
    for (const Interval& interval : intervals) ++counts[digit(interval)];
    std::size_t position = 0;
    for (std::size_t& count : counts) position += std::exchange(count, position);
    for (const Interval& interval : intervals) scratch[counts[digit(interval)]++] = interval;
    intervals.swap(scratch);
  }
}

// Length of the union of intervals ordered by start. An inverted interval covers nothing rather
// than wrapping the total.
std::uint64_t sweep_union(std::span<const Interval> intervals) {
  if (intervals.empty()) return 0;
  std::uint64_t start = intervals.front().first;
  std::uint64_t end = std::max(start, intervals.front().second);
  std::uint64_t total = 0;
  for (const auto& [s, e] : intervals.subspan(1)) {
    if (s <= end) {
      end = std::max(end, e);
    } else {
      total += end - start;
      start = s;
      end = std::max(s, e);
    }
  }
  return total + (end - start);
}

// The union's length as union_length gives it: the sweep only needs the starts in order.
std::uint64_t covered_length(std::vector<Interval>& intervals, std::vector<Interval>& scratch) {
  sort_by_start(intervals, scratch);
  return sweep_union(intervals);
}

// Scratch space shared by the summaries of one query.
struct SummaryScratch {
  std::vector<std::uint32_t> durations;
  std::vector<Interval> intervals;
  std::vector<std::uint64_t> table;
};

void summarise(Group& group, std::uint64_t clock_hz, std::size_t tile_count, SummaryScratch& scratch) {
  Accumulator& totals = group.totals;
  GroupSummary& row = group.row;
  // Three order statistics need no full sort: select the median, then the 95th percentile and the
  // largest value among those above it.
  std::vector<std::uint32_t>& durations = scratch.durations;
  durations.clear();
  durations.reserve(totals.intervals.size());
  for (const auto& [start, end] : totals.intervals) durations.push_back(static_cast<std::uint32_t>(end - start));
  row.sample_count = durations.size();
  if (!durations.empty()) {
    const std::size_t last = durations.size() - 1;
    const auto at = [&](std::size_t percentage) { return durations.begin() + static_cast<std::ptrdiff_t>(last * percentage / 100); };
    std::nth_element(durations.begin(), at(50), durations.end());
    row.p50_cycles = *at(50);
    std::nth_element(at(50), at(95), durations.end());
    row.p95_cycles = *at(95);
    row.maximum_cycles = *std::max_element(at(95), durations.end());
  }
  row.tile_count = count_distinct(totals.tiles);
  row.phase_count = count_distinct_words(totals.phases, scratch.table);
  row.phase_cycles = covered_length(totals.intervals, scratch.intervals);
  row.phase_ms = cycles_to_ms(row.phase_cycles, clock_hz);
  row.work_cycles = totals.work_cycles;
  const auto phase_cycles = static_cast<double>(row.phase_cycles);
  row.average_active_tiles =
      row.phase_cycles == 0 ? 0.0 : static_cast<double>(row.work_cycles) / phase_cycles;
  row.useful_cycles = totals.useful_cycles;
  row.estimated_work_cycles = totals.estimated_work_cycles;
  if (totals.estimated_work_cycles != 0) {
    row.useful_utilization =
        totals.useful_cycles / static_cast<double>(totals.estimated_work_cycles);
  }
  if (totals.physical_work_cycles > 0.0) {
    row.work_lane_occupancy = totals.useful_cycles / totals.physical_work_cycles;
  }
  if (totals.estimated_work_cycles > 0 && row.phase_cycles > 0) {
    row.device_useful_utilization =
        totals.useful_cycles / (phase_cycles * static_cast<double>(tile_count));
  }
  row.mean_cycles = row.sample_count == 0 ? 0.0
                                          : static_cast<double>(row.work_cycles) /
                                                static_cast<double>(row.sample_count);
  row.first_offset = totals.first_offset;
  row.last_offset = totals.last_offset;
}

// A candidate with its place in collection order, which settles ties on all listed keys.
struct RankedCandidate {
  Candidate candidate;
  std::size_t order = 0;
};

bool lists_before(const RankedCandidate& left, const RankedCandidate& right) {
  const Candidate& l = left.candidate;
  const Candidate& r = right.candidate;
  if (l.duration != r.duration) return l.duration > r.duration;
  if (l.tile != r.tile) return l.tile < r.tile;
  if (l.offset != r.offset) return l.offset < r.offset;
  return left.order < right.order;
}

}  // namespace

bool matches_query(const Query& query, std::uint32_t tile, const CycleSample& sample,
                   std::uint64_t offset, std::uint32_t sample_duration) {
  const ProfileStep& step = sample.step;
  if (query.kind && *query.kind != step.kind) return false;
  if (query.kernel && *query.kernel != step.kernel) return false;
  if (query.operation_contains &&
      std::string_view{step.operation}.find(*query.operation_contains) == std::string_view::npos) {
    return false;
  }
  if (!query.tiles.empty() && !query.tiles.contains(tile)) return false;
  if (!query.phases.empty() && !query.phases.contains(step.phase)) return false;
  if (query.at_offset &&
      !(offset <= *query.at_offset && *query.at_offset < offset + sample_duration)) {
    return false;
  }
  for (const MetadataFilter& filter : query.metadata) {
    const bool met = std::any_of(step.metadata.begin(), step.metadata.end(),
                                 [&](const ProfileMetadata& entry) {
                                   return entry.name == filter.name &&
                                          (!filter.value || entry.value == *filter.value);
                                 });
    if (!met) return false;
  }
  return true;
}

SampleRecord sample_record(const Candidate& candidate) {
  const ProfileStep& step = candidate.sample->step;
  SampleRecord record{.physical_tile = candidate.tile,
                      .offset = candidate.offset,
                      .duration = candidate.duration,
                      .phase = step.phase,
                      .epoch = step.epoch,
                      .kind = std::string{kind_name(*candidate.sample)},
                      .operation = step.operation,
                      .kernel = step.kernel};
  record.metadata.reserve(step.metadata.size());
  for (const ProfileMetadata& entry : step.metadata) {
    record.metadata.push_back({.name = entry.name, .value = entry.value});
  }
  return record;
}

std::pair<std::string, Dimensions> group_key(const Query& query, std::uint32_t tile,
                                             const CycleSample& sample) {
  switch (query.group_by) {
    case GroupBy::Kind:
      return {std::string{kind_name(sample)}, {}};
    case GroupBy::Kernel:
      return {std::string{kernel_name(sample)}, {}};
    case GroupBy::Operation:
      return {sample.step.operation, {}};
    case GroupBy::Phase: {
      std::string phase = std::to_string(sample.step.phase);
      std::string epoch = std::to_string(sample.step.epoch);
      std::string name = "phase " + phase + "/" + epoch;
      return {std::move(name), {{"epoch", std::move(epoch)}, {"phase", std::move(phase)}}};
    }
    case GroupBy::Tile: {
      std::string number = std::to_string(tile);
      std::string name = "tile " + number;
      return {std::move(name), {{"physicalTile", std::move(number)}}};
    }
    case GroupBy::Metadata:
      break;
  }
  std::string value{metadata_value(query, sample)};
  Dimensions dimensions{{"metadataKey", std::string{metadata_key(query)}},
                        {"metadataValue", value}};
  return {std::move(value), std::move(dimensions)};
}

std::optional<std::pair<double, double>> useful_work(const CycleSample& sample) {
  // One scan finds the first entry of both names; this runs for nearly every matched sample.
  constexpr std::string_view useful_name = "usefulCycles";
  constexpr std::string_view physical_name = "physicalWorkCycles";
  const ProfileMetadata* useful_entry = nullptr;
  const ProfileMetadata* physical_entry = nullptr;
  for (const ProfileMetadata& entry : sample.step.metadata) {
    if (useful_entry == nullptr && entry.name == useful_name) {
      useful_entry = &entry;
      if (physical_entry != nullptr) break;
    } else if (physical_entry == nullptr && entry.name == physical_name) {
      physical_entry = &entry;
      if (useful_entry != nullptr) break;
    }
  }
  if (useful_entry == nullptr) return std::nullopt;
  const auto useful = parse_cycles(useful_entry->value);
  if (!useful || physical_entry == nullptr) return std::nullopt;
  const auto physical = parse_cycles(physical_entry->value);
  if (!physical || *physical < *useful) return std::nullopt;
  return std::pair{*useful, *physical};
}

std::uint32_t percentile(std::span<const std::uint32_t> sorted, std::size_t percentage) {
  if (sorted.empty()) return 0;
  // Beyond 100 would read past the end; the largest value is the only sensible answer.
  const std::size_t clamped = std::min<std::size_t>(percentage, 100);
  return sorted[(sorted.size() - 1) * clamped / 100];
}

std::uint64_t union_length(std::span<std::pair<std::uint64_t, std::uint64_t>> intervals) {
  std::sort(intervals.begin(), intervals.end());
  return sweep_union(intervals);
}

std::strong_ordering compare_groups(SortBy sort_by, const GroupSummary& left,
                                    const GroupSummary& right) {
  // Larger first: compare right to left.
  std::strong_ordering primary = std::strong_ordering::equal;
  switch (sort_by) {
    case SortBy::PhaseCycles:
      primary = right.phase_cycles <=> left.phase_cycles;
      break;
    case SortBy::WorkCycles:
      primary = right.work_cycles <=> left.work_cycles;
      break;
    case SortBy::MaximumCycles:
      primary = right.maximum_cycles <=> left.maximum_cycles;
      break;
    case SortBy::Samples:
      primary = right.sample_count <=> left.sample_count;
      break;
    case SortBy::Name:
      primary = left.name <=> right.name;
      break;
  }
  if (primary != 0) return primary;
  if (const auto earlier = left.first_offset <=> right.first_offset; earlier != 0) return earlier;
  // std::string compares its bytes as unsigned char, a proper prefix first.
  return left.name <=> right.name;
}

QueryReport query(const ProfileReport& report, const Query& query) {
  QueryReport result{.clock_hz = report.clock_hz,
                     .tile_count = report.tiles.size(),
                     .at_offset = query.at_offset};
  const detail::Timeline timeline = detail::make_timeline(report, query.shared_clock);

  GroupIndex index{query};
  // The best `sample_limit` candidates so far, as a heap whose top is the one listed last; every
  // later candidate has a later collection order, so it enters only by beating that one outright.
  std::vector<RankedCandidate> candidates;
  std::size_t collected = 0;
  const std::size_t sample_limit = query.sample_limit;
  for (const TileProfile& tile : report.tiles) {
    result.sample_count += tile.samples.size();
    for (const CycleSample& sample : tile.samples) {
      const detail::Placement placed = timeline.place_cropped(sample);
      // Every sample bounds the span, filtered or not, even one wholly before the crop.
      result.profile_span_cycles = std::max(result.profile_span_cycles, placed.end);
      // Never more than the sample's own 32-bit length.
      const auto sample_duration = static_cast<std::uint32_t>(placed.length());
      if (sample_duration == 0) continue;
      if (!matches_query(query, tile.physical_tile, sample, placed.start, sample_duration)) {
        continue;
      }
      ++result.matched_sample_count;
      Group& group = index.find(tile.physical_tile, sample, placed.start);
      accumulate(group.totals, tile.physical_tile, sample, placed.start, sample_duration);
      if (sample_limit > 0) {
        const RankedCandidate candidate{.candidate = {.tile = tile.physical_tile,
                                                      .offset = placed.start,
                                                      .duration = sample_duration,
                                                      .sample = &sample},
                                        .order = collected++};
        if (candidates.size() < sample_limit) {
          candidates.push_back(candidate);
          std::push_heap(candidates.begin(), candidates.end(), lists_before);
        } else if (lists_before(candidate, candidates.front())) {
          std::pop_heap(candidates.begin(), candidates.end(), lists_before);
          candidates.back() = candidate;
          std::push_heap(candidates.begin(), candidates.end(), lists_before);
        }
      }
    }
  }
  result.profile_span_ms = cycles_to_ms(result.profile_span_cycles, report.clock_hz);

  std::vector<Group>& groups = index.groups();
  result.groups.reserve(groups.size());
  SummaryScratch scratch;
  for (Group& group : groups) {
    summarise(group, report.clock_hz, report.tiles.size(), scratch);
    // The totals are spent; release them before the next group grows the report.
    group.totals = {};
    result.groups.push_back(std::move(group.row));
  }
  std::stable_sort(result.groups.begin(), result.groups.end(),
                   [&](const GroupSummary& left, const GroupSummary& right) {
                     return compare_groups(query.sort_by, left, right) < 0;
                   });
  if (query.limit && *query.limit < result.groups.size()) result.groups.resize(*query.limit);

  // The collection order is a key of its own, so this lists what a stable sort of all would.
  std::sort_heap(candidates.begin(), candidates.end(), lists_before);
  result.samples.reserve(candidates.size());
  for (const RankedCandidate& ranked : candidates) result.samples.push_back(sample_record(ranked.candidate));
  return result;
}

}  // namespace norq_profile
