#include "builders.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace norq_profile;
using norq_test::sample;
using norq_test::tile;

CycleSample boundary_sample(std::uint32_t epoch, std::uint32_t phase, std::uint32_t start, std::uint32_t end,
                            std::uint32_t event_cycles = 0, StepKind kind = StepKind::Exchange) {
  return {.step = {.phase = phase, .epoch = epoch, .kind = kind, .exchange_event_cycles = event_cycles},
          .start_cycle = start,
          .end_cycle = end};
}

CycleSample with_metadata(StepKind kind, std::string name, std::string value) {
  CycleSample s = sample(kind, 0, 10);
  s.step.metadata.push_back({std::move(name), std::move(value)});
  return s;
}

TEST(IsExchangeBoundary, ExchangeStepsAndBarrierSynchronizationsOnly) {
  struct Case {
    const char* what;
    CycleSample sample;
    bool expected;
  };
  CycleSample barrier_among_others = with_metadata(StepKind::Synchronization, "block", "1");
  barrier_among_others.step.metadata.push_back({"reason", "ExchangeBarrier"});
  const std::vector<Case> cases = {
      {"exchange", sample(StepKind::Exchange, 0, 0), true},
      {"barrier synchronization", with_metadata(StepKind::Synchronization, "reason", "ExchangeBarrier"), true},
      {"barrier entry after another entry", barrier_among_others, true},
      {"lower-case value", with_metadata(StepKind::Synchronization, "reason", "exchangebarrier"), false},
      {"capitalised name", with_metadata(StepKind::Synchronization, "Reason", "ExchangeBarrier"), false},
      {"plain synchronization", sample(StepKind::Synchronization, 0, 10), false},
      {"compute with the entry", with_metadata(StepKind::Compute, "reason", "ExchangeBarrier"), false},
      {"idle with the entry", with_metadata(StepKind::Idle, "reason", "ExchangeBarrier"), false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_exchange_boundary(c.sample), c.expected) << c.what;
}

TEST(ExchangeBoundaries, ClockWrapSkewAndEpochs) {
  const ProfileReport report{
      .tiles = {tile(2, {boundary_sample(0, 7, 4'294'967'276u, 50, 40), boundary_sample(1, 7, 80, 100, 0)}),
                tile(3, {boundary_sample(0, 7, 5, 55, 40)})}};
  ASSERT_EQ(cycle_origin(report), 4'294'967'276u);
  const std::vector<ExchangeBoundary> expected = {
      {.epoch = 0, .phase = 7, .first_entry = 0, .last_entry = 25, .last_exit = 75, .last_arriving_tile = 3,
       .arrival_spread_cycles = 25, .after_last_arrival_cycles = 50, .scheduled_event_cycles = 40},
      {.epoch = 1, .phase = 7, .first_entry = 100, .last_entry = 100, .last_exit = 120,
       .last_arriving_tile = 2, .arrival_spread_cycles = 0, .after_last_arrival_cycles = 20,
       .scheduled_event_cycles = std::nullopt},
  };
  EXPECT_EQ(exchange_boundaries(report), expected);
}

TEST(ExchangeBoundaries, SkewShowsAtTheFirstExchangeOnlyAndTiesGoToTheEarlierTile) {
  const ProfileReport report{
      .tiles = {tile(2, {boundary_sample(0, 0, 100, 150), sample(StepKind::Compute, 150, 160),
                         boundary_sample(0, 2, 160, 170)}),
                tile(3, {boundary_sample(0, 0, 120, 150), sample(StepKind::Compute, 150, 160),
                         boundary_sample(0, 2, 160, 170)})}};
  const std::vector<ExchangeBoundary> expected = {
      {.epoch = 0, .phase = 0, .first_entry = 0, .last_entry = 20, .last_exit = 50, .last_arriving_tile = 3,
       .arrival_spread_cycles = 20, .after_last_arrival_cycles = 30},
      {.epoch = 0, .phase = 2, .first_entry = 60, .last_entry = 60, .last_exit = 70, .last_arriving_tile = 2,
       .arrival_spread_cycles = 0, .after_last_arrival_cycles = 10},
  };
  EXPECT_EQ(exchange_boundaries(report), expected);
}

TEST(ExchangeBoundaries, ScheduledCyclesTakeTheLargestNonZeroValue) {
  const auto boundary_of = [](std::vector<std::uint32_t> events) {
    TileProfile t{.physical_tile = 1};
    for (std::uint32_t e : events) t.samples.push_back(boundary_sample(0, 3, 0, 10, e));
    return exchange_boundaries(ProfileReport{.tiles = {t}}).at(0).scheduled_event_cycles;
  };
  EXPECT_EQ(boundary_of({0, 30, 20}), 30u);
  EXPECT_EQ(boundary_of({20, 0, 30, 0}), 30u);
  EXPECT_EQ(boundary_of({0, 0, 0}), std::nullopt);
  EXPECT_EQ(boundary_of({4'294'967'295u}), 4'294'967'295u);
}

TEST(ExchangeBoundaries, OrderedByLastExitThenEpochThenPhase) {
  const ProfileReport report{.tiles = {tile(1, {boundary_sample(0, 1, 0, 95), boundary_sample(1, 2, 0, 90),
                                                boundary_sample(0, 5, 0, 90)})}};
  std::vector<std::pair<std::uint32_t, std::uint32_t>> keys;
  for (const ExchangeBoundary& b : exchange_boundaries(report)) keys.emplace_back(b.epoch, b.phase);
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {{0, 5}, {1, 2}, {0, 1}};
  EXPECT_EQ(keys, expected);
}

TEST(ExchangeBoundaries, LastExitIsNotWrapped) {
  const ProfileReport report{
      .tiles = {tile(1, {sample(StepKind::Compute, 0, 10), boundary_sample(0, 1, 4'294'967'290u, 4)})}};
  const std::vector<ExchangeBoundary> boundaries = exchange_boundaries(report);
  ASSERT_EQ(boundaries.size(), 1u);
  EXPECT_EQ(boundaries[0].first_entry, 4'294'967'290u);
  EXPECT_EQ(boundaries[0].last_exit, 4'294'967'300u);
}

TEST(ExchangeBoundaries, RepeatedStepsOfOneTileFoldIntoOneBoundary) {
  const ProfileReport report{
      .tiles = {tile(4, {boundary_sample(0, 1, 10, 20), boundary_sample(0, 1, 30, 35),
                         boundary_sample(0, 1, 40, 45, 0, StepKind::Synchronization)})}};
  // The synchronization above is no barrier: it lacks the reason entry.
  const std::vector<ExchangeBoundary> boundaries = exchange_boundaries(report);
  ASSERT_EQ(boundaries.size(), 1u);
  EXPECT_EQ(boundaries[0].first_entry, 0u);
  EXPECT_EQ(boundaries[0].last_entry, 20u);
  EXPECT_EQ(boundaries[0].last_exit, 25u);
  EXPECT_EQ(boundaries[0].last_arriving_tile, 4u);
}

TEST(ExchangeBoundaries, IgnoresLocalIndexFanoutAndPaired) {
  ProfileReport a{.tiles = {tile(1, {boundary_sample(0, 1, 10, 20, 5)})}};
  ProfileReport b = a;
  b.tiles[0].samples[0].step.local_index = 99;
  b.tiles[0].samples[0].step.exchange_activities.push_back({.fanout = 7, .paired = true});
  EXPECT_EQ(exchange_boundaries(a), exchange_boundaries(b));
}

TEST(ExchangeBoundaries, EmptyWhenNothingIsABoundary) {
  const ProfileReport no_tiles;
  const ProfileReport empty_tiles{.tiles = {tile(1, {}), tile(2, {})}};
  const ProfileReport no_boundary{.tiles = {tile(1, {sample(StepKind::Compute, 0, 10),
                                                     sample(StepKind::Synchronization, 10, 20)})}};
  for (const ProfileReport& report : {no_tiles, empty_tiles, no_boundary}) {
    EXPECT_TRUE(exchange_boundaries(report).empty());
  }
}

}  // namespace
