// The one rule that places a sample on a profile's common time line and crops it.
#pragma once

#include <norq_profile/clock.hpp>

#include <cstdint>

namespace norq_profile::detail {

struct Placement {
  std::uint64_t start = 0;
  std::uint64_t end = 0;

  std::uint64_t length() const { return end - start; }
};

// Origin and crop of one analysis; the crop is 0 on the shared clock.
struct Timeline {
  std::uint32_t origin = 0;
  std::uint64_t crop = 0;

  // Offsets after the origin, uncropped: the start wraps with the counter, the end does not.
  Placement place(const CycleSample& sample) const {
    const std::uint64_t start = static_cast<std::uint32_t>(sample.start_cycle - origin);
    return {start, start + duration(sample)};
  }

  // Offset with the entry period cut away, floored at 0.
  std::uint64_t cropped(std::uint64_t offset) const { return offset > crop ? offset - crop : 0; }

  Placement place_cropped(const CycleSample& sample) const {
    const Placement placed = place(sample);
    return {cropped(placed.start), cropped(placed.end)};
  }
};

inline Timeline make_timeline(const ProfileReport& report, bool shared_clock) {
  const std::uint32_t origin = cycle_origin(report);
  return {origin, shared_clock ? 0 : initial_sample_entry_span(report, origin)};
}

}  // namespace norq_profile::detail
