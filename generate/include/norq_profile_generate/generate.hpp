// Synthetic but realistic profiles of a bulk-synchronous program, for demos, tests and benchmarks.
#pragma once

#include <norq_package/profile.hpp>

#include <cstdint>

namespace norq_profile::generate {

struct GenerateOptions {
  std::uint32_t tiles = 16;
  std::uint32_t steps = 200;  // samples per tile
  std::uint64_t seed = 1;
  std::uint64_t clock_hz = 1'850'000'000;
};

// Exactly `steps` samples per tile, the same profile for the same options on every platform.
//
// Tiles run supersteps of uneven compute (several kernels and operations), arrive skewed at a
// barrier that is either an exchange or an exchange-barrier synchronization, and exchange with
// send, receive and partner-busy activities inside a scheduled event window. The program runs in
// several epochs that reuse phase numbers; a few compute steps are inactive or repeat-remainder
// markers, many carry useful-work annotations or invocation counts, and the counters wrap past
// 2^32 during the run. Like a profiler with a fixed buffer per tile, a tile stops being sampled
// once it holds `steps` samples, so tiles that ran fewer samples per superstep reach further.
norq_package::profile::ProfileReport generate_profile(const GenerateOptions& options);

}  // namespace norq_profile::generate
