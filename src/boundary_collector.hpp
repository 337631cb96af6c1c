// Internal: folds boundary samples into exchange boundaries, so that an analysis that walks the
// profile anyway can collect them in the same pass.
#pragma once

#include "timeline.hpp"

#include <norq_profile/exchange.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

namespace norq_profile::detail {

// Tiles must come in list order; within a tile the samples may come in either direction.
class BoundaryCollector {
 public:
  explicit BoundaryCollector(const ProfileReport& report)
      : timeline_(detail::make_timeline(report, /*shared_clock=*/true)) {}

  void start_tile() { guess_ = 0; }

  void add(std::uint32_t physical_tile, const CycleSample& sample) {
    const detail::Placement placed = timeline_.place(sample);
    const std::uint64_t key = (std::uint64_t{sample.step.epoch} << 32) | sample.step.phase;
    // Tiles pass the boundaries in much the same order, so the one met after this tile's previous
    // boundary is nearly always the next one created; only a miss pays for the hash lookup.
    std::size_t index = guess_;
    if (index >= keys_.size() || keys_[index] != key) {
      const auto [slot, inserted] = index_of_.try_emplace(key, boundaries_.size());
      index = slot->second;
      if (inserted) {
        keys_.push_back(key);
        boundaries_.push_back({.epoch = sample.step.epoch,
                               .phase = sample.step.phase,
                               .first_entry = placed.start,
                               .last_entry = placed.start,
                               .last_exit = placed.end,
                               .last_arriving_tile = physical_tile});
      }
    }
    guess_ = index + 1;
    ExchangeBoundary& boundary = boundaries_[index];
    boundary.first_entry = std::min(boundary.first_entry, placed.start);
    // Only a strictly later arrival replaces the tile: ties go to the earlier tile in the list.
    if (placed.start > boundary.last_entry) {
      boundary.last_entry = placed.start;
      boundary.last_arriving_tile = physical_tile;
    }
    boundary.last_exit = std::max(boundary.last_exit, placed.end);
    if (const std::uint64_t events = sample.step.exchange_event_cycles; events != 0) {
      boundary.scheduled_event_cycles = std::max(boundary.scheduled_event_cycles.value_or(0), events);
    }
  }

  std::vector<ExchangeBoundary> finish() && {
    for (ExchangeBoundary& boundary : boundaries_) {
      boundary.arrival_spread_cycles = boundary.last_entry - boundary.first_entry;
      boundary.after_last_arrival_cycles = boundary.last_exit - boundary.last_entry;
    }
    // (epoch, phase) is unique, so this order is total.
    std::sort(boundaries_.begin(), boundaries_.end(), [](const ExchangeBoundary& a, const ExchangeBoundary& b) {
      return std::tie(a.last_exit, a.epoch, a.phase) < std::tie(b.last_exit, b.epoch, b.phase);
    });
    return std::move(boundaries_);
  }

 private:
  detail::Timeline timeline_;
  std::vector<ExchangeBoundary> boundaries_;
  std::vector<std::uint64_t> keys_;  // (epoch, phase) packed, per boundary in creation order
  // The final sort makes the result independent of hashing.
  std::unordered_map<std::uint64_t, std::size_t> index_of_;
  std::size_t guess_ = 0;
};

}  // namespace norq_profile::detail
