#include <norq_profile/phases.hpp>

#include "boundary_collector.hpp"
#include "timeline.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

namespace norq_profile::phases {

namespace {

std::uint64_t saturating_sub(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; }

// A phase ends at a boundary (epoch, phase); trailing work has no next exchange phase.
struct PhaseKey {
  std::uint32_t epoch = 0;
  std::optional<std::uint32_t> next_exchange_phase;

  friend bool operator==(const PhaseKey&, const PhaseKey&) = default;
};

struct PhaseKeyHash {
  std::size_t operator()(const PhaseKey& key) const {
    const std::uint64_t phase = key.next_exchange_phase ? *key.next_exchange_phase + std::uint64_t{1} : 0;
    return std::hash<std::uint64_t>{}((std::uint64_t{key.epoch} << 33) ^ phase);
  }
};

// The preceding boundaries only matter as "none", "exactly this one" or "several".
struct PrecedingBoundaries {
  std::optional<PhaseKey> only;
  bool several = false;

  void add(const PhaseKey& key) {
    if (!only) {
      only = key;
    } else if (*only != key) {
      several = true;
    }
  }
};

constexpr std::size_t no_walk = static_cast<std::size_t>(-1);

struct TileEnd {
  std::uint32_t tile = 0;
  std::uint64_t end = 0;
};

// The (operation, kernel) pairs of one call, each numbered once while its sample is in cache, so
// that the per-phase kernel rows fold by number without going back to the profile's samples.
class KernelKeys {
 public:
  std::uint32_t id(std::string_view operation, std::string_view kernel) {
    const std::uint64_t hash = hash_text_(operation) * 0x9e3779b97f4a7c15ULL ^ hash_text_(kernel);
    std::size_t at = slot_of(hash);
    for (; slots_[at] != empty; at = (at + 1) & (slots_.size() - 1)) {
      const Entry& entry = entries_[slots_[at]];
      if (entry.hash == hash && entry.operation == operation && entry.kernel == kernel) return slots_[at];
    }
    const auto index = static_cast<std::uint32_t>(entries_.size());
    slots_[at] = index;
    entries_.push_back({operation, kernel, hash});
    if (entries_.size() * 2 > slots_.size()) {
      // Keep the table at most half full.
      slots_.assign(slots_.size() * 2, empty);
      for (std::uint32_t kept = 0; kept < entries_.size(); ++kept) {
        std::size_t free = slot_of(entries_[kept].hash);
        while (slots_[free] != empty) free = (free + 1) & (slots_.size() - 1);
        slots_[free] = kept;
      }
    }
    return index;
  }

  std::size_t size() const { return entries_.size(); }
  std::string_view operation(std::uint32_t id) const { return entries_[id].operation; }
  std::string_view kernel(std::uint32_t id) const { return entries_[id].kernel; }

 private:
  static constexpr std::uint32_t empty = ~std::uint32_t{0};
  struct Entry {
    std::string_view operation;  // views of the profile's texts
    std::string_view kernel;
    std::uint64_t hash = 0;
  };

  std::size_t slot_of(std::uint64_t hash) const { return static_cast<std::size_t>(hash >> 7) & (slots_.size() - 1); }

  std::hash<std::string_view> hash_text_;
  std::vector<Entry> entries_;
  std::vector<std::uint32_t> slots_ = std::vector<std::uint32_t>(64, empty);
};

// A counted compute sample of a phase, on the phase time line.
struct Counted {
  std::uint32_t tile = 0;
  std::uint32_t key = 0;  // in KernelKeys
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

// Per-tile entries are appended rather than kept in maps: only the late tile is ever looked up,
// once per phase, so a scan then is cheaper than a map update per sample.
struct Work {
  std::vector<Counted> samples;
  // One entry per tile walk; a tile listed twice keeps the entry of its first walk.
  std::vector<TileEnd> last_compute;
  // Appended per preceding boundary sample; the latest entry of a tile replaces earlier ones.
  std::vector<TileEnd> preceding_exchange_end;
  PrecedingBoundaries preceding_boundaries;
  std::uint64_t exchange_work = 0;
  bool exchange_described = false;
  // The tile walk that last gave this phase a compute sample: later samples of that walk come
  // earlier in the tile's list and already have their tile's entry in `last_compute`.
  std::size_t last_walk = no_walk;
};

std::optional<std::uint64_t> first_end_of(const std::vector<TileEnd>& entries, std::uint32_t tile) {
  const auto found = std::find_if(entries.begin(), entries.end(), [tile](const TileEnd& e) { return e.tile == tile; });
  if (found == entries.end()) return std::nullopt;
  return found->end;
}

std::optional<std::uint64_t> last_end_of(const std::vector<TileEnd>& entries, std::uint32_t tile) {
  const auto found = std::find_if(entries.rbegin(), entries.rend(), [tile](const TileEnd& e) { return e.tile == tile; });
  if (found == entries.rend()) return std::nullopt;
  return found->end;
}

std::size_t distinct_tiles(const std::vector<TileEnd>& entries, std::vector<std::uint32_t>& scratch) {
  scratch.clear();
  for (const TileEnd& entry : entries) scratch.push_back(entry.tile);
  std::sort(scratch.begin(), scratch.end());
  return static_cast<std::size_t>(std::unique(scratch.begin(), scratch.end()) - scratch.begin());
}

struct Phase {
  std::optional<ExchangeBoundary> boundary;  // on the cropped time line
  Work work;
};

using Phases = std::unordered_map<PhaseKey, Phase, PhaseKeyHash>;

// A whole-text comparison with a length known when compiling, which the compiler turns into a few
// word compares instead of a library call; these run for every sample.
template <std::size_t N>
bool equals(const std::string& text, const char (&literal)[N]) {
  return text.size() == N - 1 && std::memcmp(text.data(), literal, N - 1) == 0;
}

bool is_inactive(const CycleSample& sample) {
  return std::any_of(sample.step.metadata.begin(), sample.step.metadata.end(), [](const ProfileMetadata& entry) {
    return equals(entry.name, "active") && equals(entry.value, "false");
  });
}

// Cycles of the window in which the tile sent, received or both: send + receive - simultaneous
// of the role accounting, which is the length of the union of the clipped send and receive
// intervals. Partner-busy intervals play no part, so they are not swept at all.
std::uint64_t transfer_cycles(std::span<const ProfileExchangeActivity> activities, std::uint64_t event_cycles) {
  using Span = std::pair<std::uint64_t, std::uint64_t>;
  constexpr std::size_t inline_spans = 16;
  std::array<Span, inline_spans> inline_buffer;
  std::vector<Span> heap_buffer;
  Span* spans = inline_buffer.data();
  if (activities.size() > inline_spans) {
    heap_buffer.resize(activities.size());
    spans = heap_buffer.data();
  }
  std::size_t count = 0;
  for (const ProfileExchangeActivity& activity : activities) {
    if (activity.kind != ExchangeActivityKind::Send && activity.kind != ExchangeActivityKind::Receive) continue;
    const std::uint64_t start = std::min<std::uint64_t>(activity.start_cycle, event_cycles);
    const std::uint64_t end = std::min<std::uint64_t>(activity.end_cycle, event_cycles);
    if (end > start) spans[count++] = {start, end};
  }
  if (count == 0) return 0;
  if (count <= inline_spans) {
    for (std::size_t i = 1; i < count; ++i) {
      const Span moving = spans[i];
      std::size_t j = i;
      for (; j > 0 && moving.first < spans[j - 1].first; --j) spans[j] = spans[j - 1];
      spans[j] = moving;
    }
  } else {
    std::sort(spans, spans + count, [](const Span& a, const Span& b) { return a.first < b.first; });
  }
  std::uint64_t total = 0;
  std::uint64_t run_start = spans[0].first;
  std::uint64_t run_end = spans[0].second;
  for (std::size_t i = 1; i < count; ++i) {
    if (spans[i].first <= run_end) {
      run_end = std::max(run_end, spans[i].second);
    } else {
      total += run_end - run_start;
      run_start = spans[i].first;
      run_end = spans[i].second;
    }
  }
  return total + (run_end - run_start);
}

PhaseKey boundary_key(const CycleSample& sample) { return {sample.step.epoch, sample.step.phase}; }

// Walks one tile from its last sample to its first, so each compute sample meets the nearest
// boundary that follows it before it is met itself.
void attribute_tile(const TileProfile& tile, std::size_t walk, const detail::Timeline& timeline, Phases& phases,
                    KernelKeys& keys, detail::BoundaryCollector& boundaries) {
  boundaries.start_tile();
  Work* next_work = nullptr;  // the phase of the nearest following boundary sample, if any
  // Trailing work is keyed by the sample's own epoch; consecutive samples nearly always share it.
  std::optional<std::uint32_t> trailing_epoch;
  Work* trailing_work = nullptr;

  for (auto it = tile.samples.rbegin(); it != tile.samples.rend(); ++it) {
    const CycleSample& sample = *it;
    const detail::Placement placed = timeline.place_cropped(sample);

    if (is_exchange_boundary(sample)) {
      boundaries.add(tile.physical_tile, sample);
      const PhaseKey key = boundary_key(sample);
      if (next_work != nullptr) {
        // The latest entry of a tile wins, so with a repeated key the earliest sample in list order does.
        next_work->preceding_exchange_end.push_back({tile.physical_tile, placed.end});
        next_work->preceding_boundaries.add(key);
      }
      next_work = &phases[key].work;
      if (const std::uint64_t events = sample.step.exchange_event_cycles; events != 0) {
        next_work->exchange_work += transfer_cycles(sample.step.exchange_activities, events);
        next_work->exchange_described = true;
      }
      continue;
    }
    // A repeat marker hides what follows it: nothing before it belongs to a later boundary.
    if (equals(sample.step.kernel, "repeat-remainder")) {
      next_work = nullptr;
      continue;
    }
    if (sample.step.kind != StepKind::Compute || is_inactive(sample) || placed.start >= placed.end) continue;

    Work* work = next_work;
    if (work == nullptr) {
      if (trailing_epoch != sample.step.epoch) {
        trailing_epoch = sample.step.epoch;
        trailing_work = &phases[PhaseKey{sample.step.epoch, std::nullopt}].work;
      }
      work = trailing_work;
    }
    if (work->last_walk != walk) {
      // The first sample met is the tile's last in list order.
      work->last_walk = walk;
      work->last_compute.push_back({tile.physical_tile, placed.end});
    }
    work->samples.push_back({tile.physical_tile, keys.id(sample.step.operation, sample.step.kernel), placed.start,
                             placed.end});
  }
}

double ratio(std::uint64_t numerator, std::uint64_t cycles, std::size_t tiles) {
  return static_cast<double>(numerator) / (static_cast<double>(cycles) * static_cast<double>(tiles));
}

// Scratch space shared by the summaries of one call.
struct FoldScratch {
  std::vector<std::uint32_t> row_of;  // per key: its row in the fold under way, or `none`
  std::vector<std::uint32_t> tiles;
  static constexpr std::uint32_t none = ~std::uint32_t{0};
};

// The rows `kernels` gives for these samples (those of `only_tile`, when given), found by key
// number instead of by text.
std::vector<KernelWork> fold_kernels(const std::vector<Counted>& samples, const KernelKeys& keys,
                                     std::optional<std::uint32_t> only_tile, FoldScratch& scratch) {
  struct Row {
    KernelWork work;  // texts filled in last
    std::uint32_t key = 0;
    std::vector<std::uint32_t> tiles;  // sorted and deduplicated once at the end
  };
  std::vector<Row> rows;
  scratch.row_of.resize(keys.size(), FoldScratch::none);
  for (const Counted& sample : samples) {
    if (only_tile && sample.tile != *only_tile) continue;
    std::uint32_t& index = scratch.row_of[sample.key];
    if (index == FoldScratch::none) {
      index = static_cast<std::uint32_t>(rows.size());
      rows.push_back({.work = {.start = sample.start, .end = sample.start}, .key = sample.key});
    }
    Row& row = rows[index];
    const std::uint64_t length = sample.end - sample.start;
    row.work.samples += 1;
    row.work.work_cycles += length;
    row.work.maximum_cycles = std::max(row.work.maximum_cycles, length);
    row.work.start = std::min(row.work.start, sample.start);
    row.work.end = std::max(row.work.end, sample.end);
    if (row.tiles.empty() || row.tiles.back() != sample.tile) row.tiles.push_back(sample.tile);
  }
  for (Row& row : rows) {
    scratch.row_of[row.key] = FoldScratch::none;
    std::sort(row.tiles.begin(), row.tiles.end());
    row.work.tiles = static_cast<std::size_t>(std::unique(row.tiles.begin(), row.tiles.end()) - row.tiles.begin());
  }
  // The order of `kernels`: work descending, start ascending, then operation and kernel text.
  std::sort(rows.begin(), rows.end(), [&keys](const Row& a, const Row& b) {
    if (a.work.work_cycles != b.work.work_cycles) return a.work.work_cycles > b.work.work_cycles;
    if (a.work.start != b.work.start) return a.work.start < b.work.start;
    if (keys.operation(a.key) != keys.operation(b.key)) return keys.operation(a.key) < keys.operation(b.key);
    return keys.kernel(a.key) < keys.kernel(b.key);
  });
  std::vector<KernelWork> result;
  result.reserve(rows.size());
  for (Row& row : rows) {
    row.work.operation = std::string(keys.operation(row.key));
    row.work.kernel = std::string(keys.kernel(row.key));
    result.push_back(std::move(row.work));
  }
  return result;
}

PhaseWork summarise(const PhaseKey& key, const Phase& phase, const Phases& phases, std::size_t tile_count,
                    const KernelKeys& keys, FoldScratch& scratch) {
  const Work& work = phase.work;
  PhaseWork result{.epoch = key.epoch, .next_exchange_phase = key.next_exchange_phase};
  const std::optional<ExchangeBoundary>& boundary = phase.boundary;

  if (work.samples.empty()) {
    result.start = result.end = boundary ? boundary->last_entry : 0;
  } else {
    result.start = work.samples.front().start;
    result.end = work.samples.front().end;
    for (const Counted& sample : work.samples) {
      result.start = std::min(result.start, sample.start);
      result.end = std::max(result.end, sample.end);
      result.work_cycles += sample.end - sample.start;
    }
  }
  result.span_cycles = result.end - result.start;
  result.active_tiles = distinct_tiles(work.last_compute, scratch.tiles);
  // Every tile of the profile could have worked during the span, so idle ones lower the figure.
  if (result.span_cycles != 0 && tile_count != 0) result.occupancy = ratio(result.work_cycles, result.span_cycles, tile_count);
  result.kernels = fold_kernels(work.samples, keys, std::nullopt, scratch);

  if (boundary) {
    const std::uint32_t late = boundary->last_arriving_tile;
    result.late_tile_kernels = fold_kernels(work.samples, keys, late, scratch);

    // Without compute of its own, the late tile was busy until it left its previous boundary.
    std::optional<std::uint64_t> last_work = first_end_of(work.last_compute, late);
    if (!last_work) last_work = last_end_of(work.preceding_exchange_end, late);
    if (last_work) result.unattributed_before_barrier_cycles = saturating_sub(boundary->last_entry, *last_work);

    const std::uint64_t scheduled = boundary->scheduled_event_cycles.value_or(0);
    if (scheduled != 0 && work.exchange_described && tile_count != 0) {
      result.exchange_occupancy = ratio(work.exchange_work, scheduled, tile_count);
    }

    // Tiles arriving from different boundaries leave no single gap to call exposed.
    const PrecedingBoundaries& preceding = work.preceding_boundaries;
    if (preceding.only && !preceding.several) {
      if (const auto found = phases.find(*preceding.only); found != phases.end() && found->second.boundary) {
        result.exposed_preparation_cycles = saturating_sub(boundary->last_entry, found->second.boundary->last_exit);
      }
    }
  }
  result.exchange = boundary;
  return result;
}

}  // namespace

std::vector<KernelWork> kernels(std::span<const PhaseSample> samples) {
  struct Group {
    KernelWork row;
    std::string_view operation;  // views of the profile's texts, for finding the group
    std::string_view kernel;
    std::uint64_t hash = 0;
    std::vector<std::uint32_t> tiles;  // sorted and deduplicated once at the end
  };
  // Groups are found by hash rather than through an ordered map, which compares texts at every
  // level; the key order is restored once over the rows. Texts are copied only into a new row.
  std::vector<Group> groups;
  constexpr std::uint32_t empty = ~std::uint32_t{0};
  std::vector<std::uint32_t> slots(16, empty);
  const std::hash<std::string_view> hash_text;

  for (const PhaseSample& phase_sample : samples) {
    // A sample without a step still did work; it groups under empty texts rather than vanishing.
    std::string_view operation;
    std::string_view kernel;
    if (phase_sample.sample != nullptr) {
      operation = phase_sample.sample->step.operation;
      kernel = phase_sample.sample->step.kernel;
    }
    const std::uint64_t hash = hash_text(operation) * 0x9e3779b97f4a7c15ULL ^ hash_text(kernel);
    std::size_t at = static_cast<std::size_t>(hash >> 7) & (slots.size() - 1);
    std::uint32_t index = empty;
    for (; slots[at] != empty; at = (at + 1) & (slots.size() - 1)) {
      const Group& group = groups[slots[at]];
      if (group.hash == hash && group.operation == operation && group.kernel == kernel) {
        index = slots[at];
        break;
      }
    }
    if (index == empty) {
      index = static_cast<std::uint32_t>(groups.size());
      slots[at] = index;
      groups.push_back({.row = {.operation = std::string(operation),
                                .kernel = std::string(kernel),
                                .start = phase_sample.start,
                                .end = phase_sample.start},
                        .operation = operation,
                        .kernel = kernel,
                        .hash = hash});
      if (groups.size() * 2 > slots.size()) {
        // Keep the table at most half full.
        slots.assign(slots.size() * 2, empty);
        for (std::uint32_t kept = 0; kept < groups.size(); ++kept) {
          std::size_t free = static_cast<std::size_t>(groups[kept].hash >> 7) & (slots.size() - 1);
          while (slots[free] != empty) free = (free + 1) & (slots.size() - 1);
          slots[free] = kept;
        }
      }
    }
    Group& group = groups[index];
    KernelWork& row = group.row;
    // A sample that ends before it starts is taken as empty, so no length wraps around.
    const std::uint64_t end = std::max(phase_sample.start, phase_sample.end);
    const std::uint64_t length = end - phase_sample.start;
    row.samples += 1;
    row.work_cycles += length;
    row.maximum_cycles = std::max(row.maximum_cycles, length);
    row.start = std::min(row.start, phase_sample.start);
    row.end = std::max(row.end, end);
    if (group.tiles.empty() || group.tiles.back() != phase_sample.tile) group.tiles.push_back(phase_sample.tile);
  }

  for (Group& group : groups) {
    std::sort(group.tiles.begin(), group.tiles.end());
    group.row.tiles = static_cast<std::size_t>(std::unique(group.tiles.begin(), group.tiles.end()) - group.tiles.begin());
  }
  // Work descending, then start ascending; rows equal in both by operation, then kernel. The
  // (operation, kernel) pair is unique, so the order is total.
  std::sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) {
    if (a.row.work_cycles != b.row.work_cycles) return a.row.work_cycles > b.row.work_cycles;
    if (a.row.start != b.row.start) return a.row.start < b.row.start;
    if (a.operation != b.operation) return a.operation < b.operation;
    return a.kernel < b.kernel;
  });
  std::vector<KernelWork> rows;
  rows.reserve(groups.size());
  for (Group& group : groups) rows.push_back(std::move(group.row));
  return rows;
}

std::vector<PhaseWork> phase_work(const ProfileReport& report, bool shared_clock) {
  const detail::Timeline timeline = detail::make_timeline(report, shared_clock);

  // The boundaries are collected during the walk, so the profile is read once.
  Phases phases;
  KernelKeys keys;
  detail::BoundaryCollector collector(report);
  for (std::size_t walk = 0; walk < report.tiles.size(); ++walk) {
    attribute_tile(report.tiles[walk], walk, timeline, phases, keys, collector);
  }
  // Every boundary has a phase, even one that no compute leads up to.
  for (const ExchangeBoundary& found : std::move(collector).finish()) {
    ExchangeBoundary boundary = found;
    boundary.first_entry = timeline.cropped(found.first_entry);
    boundary.last_entry = timeline.cropped(found.last_entry);
    boundary.last_exit = timeline.cropped(found.last_exit);
    boundary.arrival_spread_cycles = boundary.last_entry - boundary.first_entry;
    boundary.after_last_arrival_cycles = boundary.last_exit - boundary.last_entry;
    phases[PhaseKey{boundary.epoch, boundary.phase}].boundary = boundary;
  }

  std::vector<PhaseWork> results;
  results.reserve(phases.size());
  FoldScratch scratch;
  for (const auto& [key, phase] : phases) {
    results.push_back(summarise(key, phase, phases, report.tiles.size(), keys, scratch));
  }
  // Keys are unique, so this order is total and the hash map's order never shows; an absent
  // next exchange phase sorts before a present one.
  std::sort(results.begin(), results.end(), [](const PhaseWork& a, const PhaseWork& b) {
    return std::tie(a.start, a.epoch, a.next_exchange_phase) < std::tie(b.start, b.epoch, b.next_exchange_phase);
  });
  return results;
}

}  // namespace norq_profile::phases
