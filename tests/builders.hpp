// Small builders for profiles in tests.
#pragma once

#include <norq_profile/norq_profile.hpp>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace norq_test {

using namespace norq_profile;

// A plain sample: operation "operation N", metadata block=N, local index and phase N, epoch 0.
inline CycleSample plain(std::uint32_t phase, StepKind kind, std::string kernel, std::uint32_t start,
                         std::uint32_t end) {
  const std::string n = std::to_string(phase);
  return {.step = {.local_index = phase,
                   .phase = phase,
                   .operation = "operation " + n,
                   .kind = kind,
                   .kernel = std::move(kernel),
                   .metadata = {{.name = "block", .value = n}}},
          .start_cycle = start,
          .end_cycle = end};
}

inline CycleSample sample(StepKind kind, std::uint32_t start, std::uint32_t end) {
  return {.step = {.kind = kind}, .start_cycle = start, .end_cycle = end};
}

inline TileProfile tile(std::uint32_t physical_tile, std::vector<CycleSample> samples) {
  return {.physical_tile = physical_tile, .samples = std::move(samples)};
}

}  // namespace norq_test
