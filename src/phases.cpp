#include <norq_profile/phases.hpp>

#include "timeline.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
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

// Per-tile entries are appended rather than kept in maps: only the late tile is ever looked up,
// once per phase, so a scan then is cheaper than a map update per sample.
struct Work {
  std::vector<PhaseSample> samples;
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

PhaseKey boundary_key(const CycleSample& sample) { return {sample.step.epoch, sample.step.phase}; }

// Walks one tile from its last sample to its first, so each compute sample meets the nearest
// boundary that follows it before it is met itself.
void attribute_tile(const TileProfile& tile, std::size_t walk, const detail::Timeline& timeline, Phases& phases) {
  Work* next_work = nullptr;  // the phase of the nearest following boundary sample, if any
  // Trailing work is keyed by the sample's own epoch; consecutive samples nearly always share it.
  std::optional<std::uint32_t> trailing_epoch;
  Work* trailing_work = nullptr;

  for (auto it = tile.samples.rbegin(); it != tile.samples.rend(); ++it) {
    const CycleSample& sample = *it;
    const detail::Placement placed = timeline.place_cropped(sample);

    if (is_exchange_boundary(sample)) {
      const PhaseKey key = boundary_key(sample);
      if (next_work != nullptr) {
        // The latest entry of a tile wins, so with a repeated key the earliest sample in list order does.
        next_work->preceding_exchange_end.push_back({tile.physical_tile, placed.end});
        next_work->preceding_boundaries.add(key);
      }
      next_work = &phases[key].work;
      if (const std::uint64_t events = sample.step.exchange_event_cycles; events != 0) {
        const ExchangeRoleCycles roles = exchange_role_cycles(sample.step.exchange_activities, events);
        next_work->exchange_work += roles.send + roles.receive - roles.simultaneous;
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
    work->samples.push_back({tile.physical_tile, placed.start, placed.end, &sample});
  }
}

double ratio(std::uint64_t numerator, std::uint64_t cycles, std::size_t tiles) {
  return static_cast<double>(numerator) / (static_cast<double>(cycles) * static_cast<double>(tiles));
}

PhaseWork summarise(const PhaseKey& key, const Phase& phase, const Phases& phases, std::size_t tile_count,
                    std::vector<PhaseSample>& scratch, std::vector<std::uint32_t>& tiles) {
  const Work& work = phase.work;
  PhaseWork result{.epoch = key.epoch, .next_exchange_phase = key.next_exchange_phase};
  const std::optional<ExchangeBoundary>& boundary = phase.boundary;

  if (work.samples.empty()) {
    result.start = result.end = boundary ? boundary->last_entry : 0;
  } else {
    result.start = work.samples.front().start;
    result.end = work.samples.front().end;
    for (const PhaseSample& sample : work.samples) {
      result.start = std::min(result.start, sample.start);
      result.end = std::max(result.end, sample.end);
      result.work_cycles += sample.end - sample.start;
    }
  }
  result.span_cycles = result.end - result.start;
  result.active_tiles = distinct_tiles(work.last_compute, tiles);
  // Every tile of the profile could have worked during the span, so idle ones lower the figure.
  if (result.span_cycles != 0 && tile_count != 0) result.occupancy = ratio(result.work_cycles, result.span_cycles, tile_count);
  result.kernels = kernels(work.samples);

  if (boundary) {
    const std::uint32_t late = boundary->last_arriving_tile;
    scratch.clear();
    std::copy_if(work.samples.begin(), work.samples.end(), std::back_inserter(scratch),
                 [late](const PhaseSample& sample) { return sample.tile == late; });
    result.late_tile_kernels = kernels(scratch);

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
    std::vector<std::uint32_t> tiles;  // sorted and deduplicated once at the end
  };
  // Keys view the profile's texts; the texts are copied only into a new row.
  std::map<std::pair<std::string_view, std::string_view>, Group> groups;
  Group* last = nullptr;
  std::pair<std::string_view, std::string_view> last_key;

  for (const PhaseSample& phase_sample : samples) {
    // A sample without a step still did work; it groups under empty texts rather than vanishing.
    std::pair<std::string_view, std::string_view> key;
    if (phase_sample.sample != nullptr) key = {phase_sample.sample->step.operation, phase_sample.sample->step.kernel};
    if (last == nullptr || key != last_key) {
      auto [slot, inserted] = groups.try_emplace(key);
      if (inserted) {
        slot->second.row = {.operation = std::string(key.first),
                            .kernel = std::string(key.second),
                            .start = phase_sample.start,
                            .end = phase_sample.start};
      }
      last = &slot->second;
      last_key = key;
    }
    KernelWork& row = last->row;
    // A sample that ends before it starts is taken as empty, so no length wraps around.
    const std::uint64_t end = std::max(phase_sample.start, phase_sample.end);
    const std::uint64_t length = end - phase_sample.start;
    row.samples += 1;
    row.work_cycles += length;
    row.maximum_cycles = std::max(row.maximum_cycles, length);
    row.start = std::min(row.start, phase_sample.start);
    row.end = std::max(row.end, end);
    if (last->tiles.empty() || last->tiles.back() != phase_sample.tile) last->tiles.push_back(phase_sample.tile);
  }

  std::vector<KernelWork> rows;
  rows.reserve(groups.size());
  for (auto& [key, group] : groups) {
    std::sort(group.tiles.begin(), group.tiles.end());
    group.row.tiles = static_cast<std::size_t>(std::unique(group.tiles.begin(), group.tiles.end()) - group.tiles.begin());
    rows.push_back(std::move(group.row));
  }
  // Stable, so rows equal in work and start stay ordered by operation, then kernel.
  std::stable_sort(rows.begin(), rows.end(), [](const KernelWork& a, const KernelWork& b) {
    if (a.work_cycles != b.work_cycles) return a.work_cycles > b.work_cycles;
    return a.start < b.start;
  });
  return rows;
}

std::vector<PhaseWork> phase_work(const ProfileReport& report, bool shared_clock) {
  const detail::Timeline timeline = detail::make_timeline(report, shared_clock);

  Phases phases;
  // Every boundary has a phase, even one that no compute leads up to.
  for (const ExchangeBoundary& found : exchange_boundaries(report)) {
    ExchangeBoundary boundary = found;
    boundary.first_entry = timeline.cropped(found.first_entry);
    boundary.last_entry = timeline.cropped(found.last_entry);
    boundary.last_exit = timeline.cropped(found.last_exit);
    boundary.arrival_spread_cycles = boundary.last_entry - boundary.first_entry;
    boundary.after_last_arrival_cycles = boundary.last_exit - boundary.last_entry;
    phases[PhaseKey{boundary.epoch, boundary.phase}].boundary = boundary;
  }

  for (std::size_t walk = 0; walk < report.tiles.size(); ++walk) {
    attribute_tile(report.tiles[walk], walk, timeline, phases);
  }

  std::vector<PhaseWork> results;
  results.reserve(phases.size());
  std::vector<PhaseSample> scratch;
  std::vector<std::uint32_t> tiles;
  for (const auto& [key, phase] : phases) {
    results.push_back(summarise(key, phase, phases, report.tiles.size(), scratch, tiles));
  }
  // Keys are unique, so this order is total and the hash map's order never shows; an absent
  // next exchange phase sorts before a present one.
  std::sort(results.begin(), results.end(), [](const PhaseWork& a, const PhaseWork& b) {
    return std::tie(a.start, a.epoch, a.next_exchange_phase) < std::tie(b.start, b.epoch, b.next_exchange_phase);
  });
  return results;
}

}  // namespace norq_profile::phases
