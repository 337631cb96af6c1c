#include <norq_profile/clock.hpp>

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace norq_profile {

std::string_view kind_name(const CycleSample& sample) {
  switch (sample.step.kind) {
    case StepKind::Exchange:
      return "exchange";
    case StepKind::Compute:
      return "compute";
    case StepKind::Synchronization:
      return "synchronization";
    case StepKind::Idle:
      return "idle";
  }
  // Only a value cast from outside the enumeration reaches here.
  return "unknown";
}

std::uint32_t duration(const CycleSample& sample) { return sample.end_cycle - sample.start_cycle; }

std::uint32_t cycle_origin(const ProfileReport& report) {
  const TileProfile* reference_tile = nullptr;
  for (const TileProfile& tile : report.tiles) {
    if (!tile.samples.empty()) {
      reference_tile = &tile;
      break;
    }
  }
  if (reference_tile == nullptr) return 0;
  const std::uint32_t reference = reference_tile->samples.front().start_cycle;
  std::int32_t minimum_delta = 0;
  for (const TileProfile& tile : report.tiles) {
    if (tile.samples.empty()) continue;
    // Read the wrapped difference as two's complement: up to 2^31 before the reference is earlier.
    const auto delta = static_cast<std::int32_t>(tile.samples.front().start_cycle - reference);
    minimum_delta = std::min(minimum_delta, delta);
  }
  return reference + static_cast<std::uint32_t>(minimum_delta);
}

std::uint64_t initial_sample_entry_span(const ProfileReport& report, std::uint32_t shared_base) {
  std::uint64_t span = 0;
  for (const TileProfile& tile : report.tiles) {
    if (tile.samples.empty()) continue;
    const std::uint32_t entry = tile.samples.front().start_cycle - shared_base;
    span = std::max<std::uint64_t>(span, entry);
  }
  return span;
}

double cycles_to_ms(std::uint64_t cycles, std::uint64_t clock_hz) {
  if (clock_hz == 0) return 0.0;
  return static_cast<double>(cycles) * 1000.0 / static_cast<double>(clock_hz);
}

}  // namespace norq_profile
