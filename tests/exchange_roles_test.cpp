#include <norq_profile/exchange.hpp>

#include "builders.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
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

}  // namespace
