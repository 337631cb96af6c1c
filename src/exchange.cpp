#include <norq_profile/exchange.hpp>

#include "boundary_collector.hpp"
#include "timeline.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace norq_profile {

namespace {

// A whole-text comparison with a length known when compiling, which the compiler turns into a few
// word compares instead of a library call.
template <std::size_t N>
bool equals(const std::string& text, const char (&literal)[N]) {
  return text.size() == N - 1 && std::memcmp(text.data(), literal, N - 1) == 0;
}

}  // namespace

bool is_exchange_boundary(const CycleSample& sample) {
  switch (sample.step.kind) {
    case StepKind::Exchange:
      return true;
    case StepKind::Synchronization:
      return std::any_of(sample.step.metadata.begin(), sample.step.metadata.end(),
                         [](const ProfileMetadata& entry) {
                           return equals(entry.name, "reason") && equals(entry.value, "ExchangeBarrier");
                         });
    default:
      return false;
  }
}

std::vector<ExchangeBoundary> exchange_boundaries(const ProfileReport& report) {
  detail::BoundaryCollector collector(report);
  for (const TileProfile& tile : report.tiles) {
    collector.start_tile();
    for (const CycleSample& sample : tile.samples) {
      if (is_exchange_boundary(sample)) collector.add(tile.physical_tile, sample);
    }
  }
  return std::move(collector).finish();
}

namespace {

// A start or end of one activity, packed into one word so that sorting compares and moves words:
// the cycle (clipped activity cycles fit in 32 bits) above the role (2 bits) and an end bit.
using RoleEvent = std::uint64_t;

constexpr RoleEvent make_event(std::uint64_t cycle, std::uint32_t role, bool end) {
  return cycle << 3 | std::uint64_t{role} << 1 | (end ? 1 : 0);
}

constexpr std::uint32_t role_index(ExchangeActivityKind kind) {
  switch (kind) {
    case ExchangeActivityKind::Send:
      return 0;
    case ExchangeActivityKind::Receive:
      return 1;
    case ExchangeActivityKind::PartnerBusy:
      return 2;
  }
  return 3;  // a value outside the enumeration takes no role
}

// Clips the activities to the window and writes their start and end events to `events`, which
// has room for two per activity; returns how many it wrote.
std::size_t collect_events(std::span<const ProfileExchangeActivity> activities, std::uint64_t event_cycles,
                           RoleEvent* events) {
  std::size_t count = 0;
  for (const ProfileExchangeActivity& activity : activities) {
    const std::uint32_t role = role_index(activity.kind);
    const std::uint64_t start = std::min<std::uint64_t>(activity.start_cycle, event_cycles);
    const std::uint64_t end = std::min<std::uint64_t>(activity.end_cycle, event_cycles);
    if (role > 2 || end <= start) continue;
    events[count++] = make_event(start, role, false);
    events[count++] = make_event(end, role, true);
  }
  return count;
}

ExchangeRoleCycles sweep_events(RoleEvent* first, RoleEvent* last, std::uint64_t event_cycles) {
  // Events of one cycle are applied as a group, so their relative order does not matter. A step
  // holds a handful of activities, where an insertion sort beats the general one.
  if (last - first <= 32) {
    for (RoleEvent* i = first + 1; i < last; ++i) {
      const RoleEvent moving = *i;
      RoleEvent* j = i;
      for (; j > first && moving < *(j - 1); --j) *j = *(j - 1);
      *j = moving;
    }
  } else {
    std::sort(first, last);
  }

  ExchangeRoleCycles roles;
  // 64-bit depths: no count of activities can overflow them.
  std::array<std::int64_t, 4> depth{};
  std::uint64_t cursor = 0;
  for (const RoleEvent* i = first; i < last;) {
    const std::uint64_t t = *i >> 3;
    const std::uint64_t span = t > cursor ? t - cursor : 0;
    const bool sending = depth[0] > 0;
    const bool receiving = depth[1] > 0;
    const bool waiting = depth[2] > 0;
    if (sending) roles.send += span;
    if (receiving) roles.receive += span;
    if (sending && receiving) roles.simultaneous += span;
    if (waiting) roles.partner_busy += span;
    if (depth[0] == 0 && depth[1] == 0 && depth[2] == 0) roles.idle += span;
    for (; i < last && (*i >> 3) == t; ++i) depth[(*i >> 1) & 3] += (*i & 1) != 0 ? -1 : 1;
    cursor = t;
  }
  if (event_cycles > cursor) roles.idle += event_cycles - cursor;
  return roles;
}

// The sweep without an allocation for the usual step of a few activities.
ExchangeRoleCycles sweep_roles(std::span<const ProfileExchangeActivity> activities, std::uint64_t event_cycles) {
  constexpr std::size_t inline_activities = 16;
  if (activities.size() <= inline_activities) {
    std::array<RoleEvent, 2 * inline_activities> events;
    const std::size_t count = collect_events(activities, event_cycles, events.data());
    return sweep_events(events.data(), events.data() + count, event_cycles);
  }
  std::vector<RoleEvent> events(2 * activities.size());
  const std::size_t count = collect_events(activities, event_cycles, events.data());
  return sweep_events(events.data(), events.data() + count, event_cycles);
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const ExchangeRoleCycles& roles) {
  return out << "ExchangeRoleCycles { send: " << roles.send << ", receive: " << roles.receive
             << ", simultaneous: " << roles.simultaneous << ", partner_busy: " << roles.partner_busy
             << ", idle: " << roles.idle << " }";
}

ExchangeRoleCycles exchange_role_cycles(std::span<const ProfileExchangeActivity> activities,
                                        std::uint64_t event_cycles) {
  return sweep_roles(activities, event_cycles);
}

namespace {

// A sum would need more than 2^31 addends to leave 64 bits; pin it at the top rather than wrap.
void add_saturating(std::uint64_t& sum, std::uint64_t addend) {
  constexpr std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
  sum = addend > top - sum ? top : sum + addend;
}

}  // namespace

ExchangeActivitySummary exchange_activity_summary(const ProfileReport& report) {
  ExchangeActivitySummary summary;
  // The boundaries are collected in the same pass, so the profile is read once.
  detail::BoundaryCollector boundaries(report);
  for (const TileProfile& tile : report.tiles) {
    boundaries.start_tile();
    for (const CycleSample& sample : tile.samples) {
      if (is_exchange_boundary(sample)) boundaries.add(tile.physical_tile, sample);
      const ProfileStep& step = sample.step;
      if (step.kind != StepKind::Exchange) continue;
      ++summary.exchange_samples;
      const std::uint64_t window = step.exchange_event_cycles;
      if (window == 0 || step.exchange_activities.empty()) continue;
      ++summary.described_samples;
      for (const ProfileExchangeActivity& activity : step.exchange_activities) {
        switch (activity.kind) {
          case ExchangeActivityKind::Send:
            ++summary.send_intervals;
            break;
          case ExchangeActivityKind::Receive:
            ++summary.receive_intervals;
            break;
          case ExchangeActivityKind::PartnerBusy:
            ++summary.partner_busy_intervals;
            break;
        }
      }
      const ExchangeRoleCycles roles = sweep_roles(step.exchange_activities, window);
      add_saturating(summary.estimated_send_work_cycles, roles.send);
      add_saturating(summary.estimated_receive_work_cycles, roles.receive);
      add_saturating(summary.estimated_simultaneous_work_cycles, roles.simultaneous);
      add_saturating(summary.estimated_partner_busy_work_cycles, roles.partner_busy);
      add_saturating(summary.estimated_idle_work_cycles, roles.idle);
    }
  }
  for (const ExchangeBoundary& boundary : std::move(boundaries).finish()) {
    // Without a schedule there is nothing to compare against, so the arrival spread stays out too.
    if (!boundary.scheduled_event_cycles) continue;
    const std::uint64_t scheduled = *boundary.scheduled_event_cycles;
    const std::uint64_t after = boundary.after_last_arrival_cycles;
    add_saturating(summary.measured_phase_cycles, after);
    add_saturating(summary.scheduled_event_cycles, scheduled);
    add_saturating(summary.arrival_wait_cycles, boundary.arrival_spread_cycles);
    add_saturating(summary.phase_boundary_cycles, after > scheduled ? after - scheduled : 0);
  }
  return summary;
}

}  // namespace norq_profile
