// Phase analysis: the compute work that leads up to each exchange boundary.
#pragma once

#include <norq_profile/clock.hpp>
#include <norq_profile/exchange.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace norq_profile::phases {

// A compute sample placed on the cropped time line; refers into the caller's profile.
struct PhaseSample {
  std::uint32_t tile = 0;
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  const CycleSample* sample = nullptr;

  friend bool operator==(const PhaseSample&, const PhaseSample&) = default;
};

struct KernelWork {
  std::string operation;
  std::string kernel;
  std::size_t samples = 0;
  std::size_t tiles = 0;
  std::uint64_t work_cycles = 0;
  std::uint64_t maximum_cycles = 0;
  std::uint64_t start = 0;
  std::uint64_t end = 0;

  friend bool operator==(const KernelWork&, const KernelWork&) = default;
};

// One row per (operation, kernel), heaviest first.
std::vector<KernelWork> kernels(std::span<const PhaseSample> samples);

struct PhaseWork {
  std::uint32_t epoch = 0;
  std::optional<std::uint32_t> next_exchange_phase;
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::uint64_t span_cycles = 0;
  std::uint64_t work_cycles = 0;
  std::size_t active_tiles = 0;
  double occupancy = 0.0;
  std::optional<std::uint64_t> exposed_preparation_cycles;
  std::vector<KernelWork> kernels;
  std::optional<ExchangeBoundary> exchange;
  std::optional<double> exchange_occupancy;
  std::vector<KernelWork> late_tile_kernels;
  std::uint64_t unattributed_before_barrier_cycles = 0;

  friend bool operator==(const PhaseWork&, const PhaseWork&) = default;
};

std::vector<PhaseWork> phase_work(const ProfileReport& report, bool shared_clock);

}  // namespace norq_profile::phases
