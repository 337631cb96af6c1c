#include <norq_profile/exchange.hpp>

#include "builders.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace norq_profile;
using Kind = ExchangeActivityKind;

ProfileExchangeActivity activity(Kind kind, std::uint32_t start, std::uint32_t end) {
  return {.kind = kind, .start_cycle = start, .end_cycle = end};
}

// The role of every cycle counted one by one, clipped to the window.
ExchangeRoleCycles count_per_cycle(const std::vector<ProfileExchangeActivity>& activities,
                                   std::uint64_t window) {
  ExchangeRoleCycles roles;
  for (std::uint64_t c = 0; c < window; ++c) {
    bool send = false, receive = false, busy = false;
    for (const ProfileExchangeActivity& a : activities) {
      if (a.start_cycle <= c && c < a.end_cycle) {
        send |= a.kind == Kind::Send;
        receive |= a.kind == Kind::Receive;
        busy |= a.kind == Kind::PartnerBusy;
      }
    }
    roles.send += send;
    roles.receive += receive;
    roles.simultaneous += send && receive;
    roles.partner_busy += busy;
    roles.idle += !send && !receive && !busy;
  }
  return roles;
}

TEST(ExchangeRoleCycles, PrintsEveryFieldByName) {
  std::ostringstream out;
  out << ExchangeRoleCycles{.send = 4, .receive = 4, .simultaneous = 2, .partner_busy = 0, .idle = 4};
  EXPECT_EQ(out.str(),
            "ExchangeRoleCycles { send: 4, receive: 4, simultaneous: 2, partner_busy: 0, idle: 4 }");
}

struct RoleCase {
  std::string name;
  std::vector<ProfileExchangeActivity> activities;
  std::uint64_t window;
  ExchangeRoleCycles expected;

  // Test listings show the case's name rather than its bytes.
  friend void PrintTo(const RoleCase& c, std::ostream* out) { *out << c.name; }
};

class ExchangeRoleCases : public testing::TestWithParam<RoleCase> {};

TEST_P(ExchangeRoleCases, SplitsTheWindow) {
  const RoleCase& c = GetParam();
  EXPECT_EQ(exchange_role_cycles(c.activities, c.window), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, ExchangeRoleCases,
    testing::Values(
        RoleCase{"EmptyWindowIgnoresActivities",
                 {activity(Kind::Send, 0, 10), activity(Kind::Receive, 3, 4)}, 0, {}},
        RoleCase{"NoActivitiesIsAllIdle", {}, 10, {.idle = 10}},
        RoleCase{"OverlapOfSendAndReceive",
                 {activity(Kind::Send, 2, 6), activity(Kind::Receive, 4, 8)},
                 10,
                 {.send = 4, .receive = 4, .simultaneous = 2, .idle = 4}},
        RoleCase{"OverlappingSendsCountOnce",
                 {activity(Kind::Send, 0, 5), activity(Kind::Send, 3, 8)},
                 10,
                 {.send = 8, .idle = 2}},
        RoleCase{"PartnerBusyIsNotSimultaneous",
                 {activity(Kind::Send, 0, 10), activity(Kind::PartnerBusy, 0, 10)},
                 10,
                 {.send = 10, .partner_busy = 10}},
        // The receive start and the send end share cycle 4 and are applied together.
        RoleCase{"TouchingIntervalsNeitherGapNorOverlap",
                 {activity(Kind::Receive, 4, 8), activity(Kind::Send, 0, 4)},
                 8,
                 {.send = 4, .receive = 4}},
        RoleCase{"ReachingPastTheWindowIsClipped",
                 {activity(Kind::Receive, 5, 15)},
                 10,
                 {.receive = 5, .idle = 5}},
        RoleCase{"WhollyBeyondTheWindowCountsNothing",
                 {activity(Kind::Send, 12, 20), activity(Kind::Send, 10, 11)},
                 10,
                 {.idle = 10}},
        RoleCase{"EmptyAndReversedIntervalsCountNothing",
                 {activity(Kind::Send, 3, 3), activity(Kind::Receive, 7, 2)},
                 10,
                 {.idle = 10}},
        // Every interval has ended by cycle 6; the rest of the window is idle.
        RoleCase{"IdleTailAndGapBetweenIntervals",
                 {activity(Kind::PartnerBusy, 1, 3), activity(Kind::Send, 4, 6)},
                 10,
                 {.send = 2, .partner_busy = 2, .idle = 6}},
        RoleCase{"FullCounterRangeDoesNotWrap",
                 {activity(Kind::Send, 0, 4294967295u), activity(Kind::Receive, 4294967294u, 4294967295u)},
                 std::uint64_t{1} << 33,
                 {.send = 4294967295u,
                  .receive = 1,
                  .simultaneous = 1,
                  .idle = (std::uint64_t{1} << 33) - 4294967295u}}),
    [](const testing::TestParamInfo<RoleCase>& info) { return info.param.name; });

// Activity kinds outside the enumeration cannot be attributed to a role; they must not corrupt the
// sweep either.
TEST(ExchangeRoleCycles, UnknownKindTakesNoRole) {
  const std::vector<ProfileExchangeActivity> activities{
      activity(static_cast<Kind>(7), 0, 10), activity(Kind::Send, 2, 4)};
  EXPECT_EQ(exchange_role_cycles(activities, 10), (ExchangeRoleCycles{.send = 2, .idle = 8}));
}

TEST(ExchangeRoleCycles, AgreesWithPerCycleCount) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 400; ++round) {
    const std::uint32_t window = std::uniform_int_distribution<std::uint32_t>(1, 200)(random);
    const int count = std::uniform_int_distribution<int>(0, 40)(random);
    std::vector<ProfileExchangeActivity> activities;
    for (int i = 0; i < count; ++i) {
      const auto kind = static_cast<Kind>(std::uniform_int_distribution<int>(0, 2)(random));
      // Every fourth interval may reach past the window or lie wholly beyond it.
      const std::uint32_t limit = i % 4 == 3 ? window + 50 : window;
      const std::uint32_t start = std::uniform_int_distribution<std::uint32_t>(0, limit - 1)(random);
      const std::uint32_t end = std::uniform_int_distribution<std::uint32_t>(start + 1, limit)(random);
      activities.push_back(activity(kind, start, end));
    }
    const ExchangeRoleCycles roles = exchange_role_cycles(activities, window);
    ASSERT_EQ(roles, count_per_cycle(activities, window)) << "round " << round << ", window " << window;
    ASSERT_LE(roles.simultaneous, std::min(roles.send, roles.receive));
  }
}

CycleSample exchange(std::uint32_t phase, std::uint32_t epoch, std::uint32_t start, std::uint32_t end,
                     std::uint32_t event_cycles, std::vector<ProfileExchangeActivity> activities = {}) {
  return {.step = {.phase = phase,
                   .epoch = epoch,
                   .kind = StepKind::Exchange,
                   .exchange_activities = std::move(activities),
                   .exchange_event_cycles = event_cycles},
          .start_cycle = start,
          .end_cycle = end};
}

TEST(ExchangeActivitySummary, EmptyProfilesGiveTheZeroSummary) {
  EXPECT_EQ(exchange_activity_summary({}), ExchangeActivitySummary{});
  EXPECT_EQ(exchange_activity_summary({.clock_hz = 1, .tiles = {norq_test::tile(0, {}), norq_test::tile(1, {})}}),
            ExchangeActivitySummary{});
}

// Boundaries come from the common time line across the counter wrap; the epoch 1 boundary has no
// schedule and adds nothing, not even its spread.
TEST(ExchangeActivitySummary, BoundaryHalfSumsScheduledBoundariesOnly) {
  const ProfileReport report{
      .clock_hz = 1,
      .tiles = {norq_test::tile(2, {exchange(7, 0, 4294967276u, 50, 40), exchange(7, 1, 80, 100, 0)}),
                norq_test::tile(3, {exchange(7, 0, 5, 55, 40)})}};
  EXPECT_EQ(exchange_activity_summary(report), (ExchangeActivitySummary{.exchange_samples = 3,
                                                                       .measured_phase_cycles = 50,
                                                                       .scheduled_event_cycles = 40,
                                                                       .arrival_wait_cycles = 25,
                                                                       .phase_boundary_cycles = 10}));
}

TEST(ExchangeActivitySummary, BoundaryWithinScheduleAddsNoOverrun) {
  const ProfileReport report{.tiles = {norq_test::tile(0, {exchange(1, 0, 100, 130, 40)})}};
  const ExchangeActivitySummary summary = exchange_activity_summary(report);
  EXPECT_EQ(summary.measured_phase_cycles, 30u);
  EXPECT_EQ(summary.scheduled_event_cycles, 40u);
  EXPECT_EQ(summary.phase_boundary_cycles, 0u);
}

// Every activity of a described step is counted, also one beyond the window that adds no cycles.
TEST(ExchangeActivitySummary, SampleHalfCountsIntervalsAndSumsRoles) {
  const ProfileReport report{
      .tiles = {norq_test::tile(0, {exchange(1, 0, 0, 100, 100,
                                             {activity(Kind::Send, 10, 30), activity(Kind::Receive, 20, 50),
                                              activity(Kind::PartnerBusy, 60, 70),
                                              activity(Kind::Send, 150, 200)})})}};
  const ExchangeActivitySummary summary = exchange_activity_summary(report);
  EXPECT_EQ(summary.exchange_samples, 1u);
  EXPECT_EQ(summary.described_samples, 1u);
  EXPECT_EQ(summary.send_intervals, 2u);
  EXPECT_EQ(summary.receive_intervals, 1u);
  EXPECT_EQ(summary.partner_busy_intervals, 1u);
  EXPECT_EQ(summary.estimated_send_work_cycles, 20u);
  EXPECT_EQ(summary.estimated_receive_work_cycles, 30u);
  EXPECT_EQ(summary.estimated_simultaneous_work_cycles, 10u);
  EXPECT_EQ(summary.estimated_partner_busy_work_cycles, 10u);
  EXPECT_EQ(summary.estimated_idle_work_cycles, 50u);
}

// A step needs both a window and activities to be described; the sums run over tiles and steps,
// and the shared event buffer must not carry one step's events into the next.
TEST(ExchangeActivitySummary, OnlyStepsWithWindowAndActivitiesAreDescribed) {
  const ProfileReport report{
      .tiles = {norq_test::tile(0, {exchange(1, 0, 0, 10, 0, {activity(Kind::Send, 0, 5)}),
                                    exchange(2, 0, 10, 20, 10),
                                    exchange(3, 0, 20, 30, 10, {activity(Kind::Send, 0, 4),
                                                                activity(Kind::Receive, 2, 6)})}),
                norq_test::tile(1, {exchange(3, 0, 20, 30, 10, {activity(Kind::Receive, 5, 10)})})}};
  const ExchangeActivitySummary summary = exchange_activity_summary(report);
  EXPECT_EQ(summary.exchange_samples, 4u);
  EXPECT_EQ(summary.described_samples, 2u);
  EXPECT_EQ(summary.send_intervals, 1u);
  EXPECT_EQ(summary.receive_intervals, 2u);
  EXPECT_EQ(summary.partner_busy_intervals, 0u);
  EXPECT_EQ(summary.estimated_send_work_cycles, 4u);
  EXPECT_EQ(summary.estimated_receive_work_cycles, 4u + 5u);
  EXPECT_EQ(summary.estimated_simultaneous_work_cycles, 2u);
  EXPECT_EQ(summary.estimated_idle_work_cycles, 4u + 5u);
}

// A barrier synchronization is a boundary but not an exchange step: its activities stay out of the
// sample half, its schedule still counts in the boundary half.
TEST(ExchangeActivitySummary, BarrierSynchronizationCountsOnlyAsBoundary) {
  CycleSample barrier{.step = {.phase = 4,
                               .kind = StepKind::Synchronization,
                               .metadata = {{.name = "reason", .value = "ExchangeBarrier"}},
                               .exchange_activities = {activity(Kind::Send, 0, 10)},
                               .exchange_event_cycles = 20},
                      .start_cycle = 100,
                      .end_cycle = 150};
  CycleSample late = barrier;
  late.start_cycle = 110;
  const ProfileReport report{.tiles = {norq_test::tile(0, {barrier}), norq_test::tile(1, {late})}};
  EXPECT_EQ(exchange_activity_summary(report), (ExchangeActivitySummary{.measured_phase_cycles = 40,
                                                                       .scheduled_event_cycles = 20,
                                                                       .arrival_wait_cycles = 10,
                                                                       .phase_boundary_cycles = 20}));
}

}  // namespace
