// Exchange analysis: boundaries with arrival skew, role split of event windows, profile summary.
#pragma once

#include <norq_profile/clock.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <vector>

namespace norq_profile {

// One exchange as the whole processor sees it, on the uncropped common time line.
struct ExchangeBoundary {
  std::uint32_t epoch = 0;
  std::uint32_t phase = 0;
  std::uint64_t first_entry = 0;
  std::uint64_t last_entry = 0;
  std::uint64_t last_exit = 0;
  std::uint32_t last_arriving_tile = 0;
  std::uint64_t arrival_spread_cycles = 0;      // last_entry - first_entry
  std::uint64_t after_last_arrival_cycles = 0;  // last_exit - last_entry
  std::optional<std::uint64_t> scheduled_event_cycles;

  friend bool operator==(const ExchangeBoundary&, const ExchangeBoundary&) = default;
};

// Exchange steps, and synchronizations whose metadata says reason=ExchangeBarrier.
bool is_exchange_boundary(const CycleSample& sample);

// Ordered by (last_exit, epoch, phase).
std::vector<ExchangeBoundary> exchange_boundaries(const ProfileReport& report);

// Cycles of one event window by role; the categories overlap except `idle`.
struct ExchangeRoleCycles {
  std::uint64_t send = 0;
  std::uint64_t receive = 0;
  std::uint64_t simultaneous = 0;
  std::uint64_t partner_busy = 0;
  std::uint64_t idle = 0;

  friend bool operator==(const ExchangeRoleCycles&, const ExchangeRoleCycles&) = default;
};

// ExchangeRoleCycles { send: 4, receive: 4, simultaneous: 2, partner_busy: 0, idle: 4 }
std::ostream& operator<<(std::ostream& out, const ExchangeRoleCycles& roles);

ExchangeRoleCycles exchange_role_cycles(std::span<const ProfileExchangeActivity> activities,
                                        std::uint64_t event_cycles);

struct ExchangeActivitySummary {
  std::size_t exchange_samples = 0;
  std::size_t described_samples = 0;
  std::size_t send_intervals = 0;
  std::size_t receive_intervals = 0;
  std::size_t partner_busy_intervals = 0;
  std::uint64_t estimated_send_work_cycles = 0;
  std::uint64_t estimated_receive_work_cycles = 0;
  std::uint64_t estimated_simultaneous_work_cycles = 0;
  std::uint64_t estimated_partner_busy_work_cycles = 0;
  std::uint64_t estimated_idle_work_cycles = 0;
  std::uint64_t measured_phase_cycles = 0;
  std::uint64_t scheduled_event_cycles = 0;
  std::uint64_t arrival_wait_cycles = 0;
  std::uint64_t phase_boundary_cycles = 0;

  friend bool operator==(const ExchangeActivitySummary&, const ExchangeActivitySummary&) = default;
};

ExchangeActivitySummary exchange_activity_summary(const ProfileReport& report);

}  // namespace norq_profile
