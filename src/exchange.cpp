#include <norq_profile/exchange.hpp>

#include "timeline.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace norq_profile {

bool is_exchange_boundary(const CycleSample& sample) {
  switch (sample.step.kind) {
    case StepKind::Exchange:
      return true;
    case StepKind::Synchronization:
      return std::any_of(sample.step.metadata.begin(), sample.step.metadata.end(),
                         [](const ProfileMetadata& entry) {
                           return entry.name == "reason" && entry.value == "ExchangeBarrier";
                         });
    default:
      return false;
  }
}

std::vector<ExchangeBoundary> exchange_boundaries(const ProfileReport& report) {
  const detail::Timeline timeline = detail::make_timeline(report, /*shared_clock=*/true);
  std::vector<ExchangeBoundary> boundaries;
  // (epoch, phase) packed into one word; the final sort makes the result independent of hashing.
  std::unordered_map<std::uint64_t, std::size_t> index_of;
  for (const TileProfile& tile : report.tiles) {
    for (const CycleSample& sample : tile.samples) {
      if (!is_exchange_boundary(sample)) continue;
      const detail::Placement placed = timeline.place(sample);
      const std::uint64_t key = (std::uint64_t{sample.step.epoch} << 32) | sample.step.phase;
      const auto [slot, inserted] = index_of.try_emplace(key, boundaries.size());
      if (inserted) {
        boundaries.push_back({.epoch = sample.step.epoch,
                              .phase = sample.step.phase,
                              .first_entry = placed.start,
                              .last_entry = placed.start,
                              .last_exit = placed.end,
                              .last_arriving_tile = tile.physical_tile});
      }
      ExchangeBoundary& boundary = boundaries[slot->second];
      boundary.first_entry = std::min(boundary.first_entry, placed.start);
      // Only a strictly later arrival replaces the tile: ties go to the earlier tile in the list.
      if (placed.start > boundary.last_entry) {
        boundary.last_entry = placed.start;
        boundary.last_arriving_tile = tile.physical_tile;
      }
      boundary.last_exit = std::max(boundary.last_exit, placed.end);
      if (const std::uint64_t events = sample.step.exchange_event_cycles; events != 0) {
        boundary.scheduled_event_cycles = std::max(boundary.scheduled_event_cycles.value_or(0), events);
      }
    }
  }
  for (ExchangeBoundary& boundary : boundaries) {
    boundary.arrival_spread_cycles = boundary.last_entry - boundary.first_entry;
    boundary.after_last_arrival_cycles = boundary.last_exit - boundary.last_entry;
  }
  // (epoch, phase) is unique, so this order is total.
  std::sort(boundaries.begin(), boundaries.end(), [](const ExchangeBoundary& a, const ExchangeBoundary& b) {
    return std::tie(a.last_exit, a.epoch, a.phase) < std::tie(b.last_exit, b.epoch, b.phase);
  });
  return boundaries;
}

}  // namespace norq_profile
