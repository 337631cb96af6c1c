#include "builders.hpp"
#include "timeline.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace norq_profile;
using norq_test::plain;
using norq_test::sample;
using norq_test::tile;

constexpr std::uint32_t kMax = 4'294'967'295u;

// A report whose tiles each hold one sample entering at the given counter value.
ProfileReport entering_at(const std::vector<std::uint32_t>& entries) {
  ProfileReport report;
  std::uint32_t physical = 0;
  for (std::uint32_t entry : entries) {
    report.tiles.push_back(tile(physical++, {sample(StepKind::Compute, entry, entry + 1)}));
  }
  return report;
}

TEST(KindName, NamesEveryKind) {
  EXPECT_EQ(kind_name(sample(StepKind::Exchange, 0, 0)), "exchange");
  EXPECT_EQ(kind_name(sample(StepKind::Compute, 0, 0)), "compute");
  EXPECT_EQ(kind_name(sample(StepKind::Synchronization, 0, 0)), "synchronization");
  EXPECT_EQ(kind_name(sample(StepKind::Idle, 0, 0)), "idle");
}

TEST(Records, CopiesAreDeepAndIndependent) {
  CycleSample source = plain(3, StepKind::Exchange, "add", 1, 2);
  source.step.exchange_activities.push_back({.fanout = 2, .kind = ExchangeActivityKind::Receive});
  CycleSample copy = source;
  EXPECT_EQ(copy, source);
  copy.step.operation += "x";
  copy.step.kernel.clear();
  copy.step.metadata[0].value = "9";
  copy.step.exchange_activities[0].end_cycle = 7;
  EXPECT_EQ(source.step.operation, "operation 3");
  EXPECT_EQ(source.step.kernel, "add");
  EXPECT_EQ(source.step.metadata[0].value, "3");
  EXPECT_EQ(source.step.exchange_activities[0].end_cycle, 0u);
  EXPECT_NE(copy, source);
}

TEST(Duration, WrapsModulo32Bits) {
  struct Case {
    std::uint32_t start, end, expected;
  };
  for (const Case& c : {Case{4'294'967'291u, 5, 10}, Case{5, 15, 10}, Case{7, 7, 0},
                        Case{10, 5, 4'294'967'291u}, Case{0, kMax, kMax}}) {
    EXPECT_EQ(duration(sample(StepKind::Compute, c.start, c.end)), c.expected)
        << c.start << " to " << c.end;
  }
}

TEST(CycleOrigin, EmptyProfilesHaveOriginAndSpanZero) {
  const ProfileReport no_tiles;
  const ProfileReport empty_tiles{.tiles = {tile(1, {}), tile(2, {})}};
  for (const ProfileReport& report : {no_tiles, empty_tiles}) {
    EXPECT_EQ(cycle_origin(report), 0u);
    EXPECT_EQ(initial_sample_entry_span(report, cycle_origin(report)), 0u);
  }
}

TEST(CycleOrigin, EarliestEntryJudgedOnTheCounterCircle) {
  struct Case {
    std::vector<std::uint32_t> entries;
    std::uint32_t origin;
    std::uint64_t span;
  };
  const std::vector<Case> cases = {
      {{100, 120}, 100, 20},
      {{120, 100}, 100, 20},
      {{4'294'967'280u, 16}, 4'294'967'280u, 32},
      {{16, 4'294'967'280u}, 4'294'967'280u, 32},
      // Entries spread over more than 2^31 cycles: the first tile's entry decides.
      {{0, 1'610'612'736u, 3'221'225'472u}, 3'221'225'472u, 2'684'354'560u},
      {{1'610'612'736u, 0, 3'221'225'472u}, 0, 3'221'225'472u},
      // Exactly 2^31 away counts as earlier.
      {{0, 2'147'483'648u}, 2'147'483'648u, 2'147'483'648u},
      {{kMax, 0}, kMax, 1},
  };
  for (const Case& c : cases) {
    const ProfileReport report = entering_at(c.entries);
    EXPECT_EQ(cycle_origin(report), c.origin) << ::testing::PrintToString(c.entries);
    EXPECT_EQ(initial_sample_entry_span(report, c.origin), c.span) << ::testing::PrintToString(c.entries);
  }
}

TEST(CycleOrigin, TilesWithoutSamplesAreIgnoredWhereverTheyStand) {
  const ProfileReport report{.tiles = {tile(9, {}), tile(1, {sample(StepKind::Compute, 120, 130)}),
                                       tile(8, {}), tile(2, {sample(StepKind::Idle, 100, 110)}),
                                       tile(7, {})}};
  EXPECT_EQ(cycle_origin(report), 100u);
  EXPECT_EQ(initial_sample_entry_span(report, 100), 20u);
}

TEST(CycleOrigin, OnlyTheFirstSampleOfATileIsItsEntry) {
  // A later sample that starts before the entry numerically (the counter wrapped) changes nothing.
  const ProfileReport report{.tiles = {tile(1, {sample(StepKind::Compute, 4'294'967'291u, 5),
                                                sample(StepKind::Compute, 5, 15)})}};
  EXPECT_EQ(cycle_origin(report), 4'294'967'291u);
  EXPECT_EQ(initial_sample_entry_span(report, cycle_origin(report)), 0u);
}

TEST(Timeline, PlacesWrappedSamplesOnOneLine) {
  const ProfileReport report{.tiles = {tile(1, {sample(StepKind::Compute, 4'294'967'291u, 5),
                                                sample(StepKind::Compute, 5, 15)})}};
  const detail::Timeline timeline = detail::make_timeline(report, true);
  const detail::Placement first = timeline.place(report.tiles[0].samples[0]);
  const detail::Placement second = timeline.place(report.tiles[0].samples[1]);
  EXPECT_EQ(first.start, 0u);
  EXPECT_EQ(first.end, 10u);
  EXPECT_EQ(second.start, 10u);
  EXPECT_EQ(second.end, 20u);
}

TEST(Timeline, EndOffsetsDoNotWrap) {
  const ProfileReport report{.tiles = {tile(1, {sample(StepKind::Compute, 0, 1),
                                                sample(StepKind::Compute, kMax - 5, 5)})}};
  const detail::Placement placed = detail::make_timeline(report, true).place(report.tiles[0].samples[1]);
  EXPECT_EQ(placed.start, kMax - 5);
  EXPECT_EQ(placed.end, std::uint64_t{kMax} + 6);
}

TEST(Timeline, OriginIsCommonAndTheCropCutsTheEntryPeriod) {
  const ProfileReport report{
      .tiles = {tile(1, {sample(StepKind::Compute, 100, 150), sample(StepKind::Compute, 150, 160)}),
                tile(2, {sample(StepKind::Compute, 120, 150), sample(StepKind::Compute, 150, 160)})}};
  const detail::Timeline shared = detail::make_timeline(report, true);
  const detail::Timeline cropped = detail::make_timeline(report, false);
  EXPECT_EQ(shared.crop, 0u);
  EXPECT_EQ(cropped.crop, 20u);
  for (const TileProfile& t : report.tiles) {
    EXPECT_EQ(shared.place(t.samples[1]).start, 50u);
    EXPECT_EQ(cropped.place_cropped(t.samples[1]).start, 30u);
  }
}

TEST(Timeline, CropEndsCutsAndKeepsSamples) {
  // Crop at 20: tile 2 enters 20 cycles after tile 1.
  const ProfileReport report{.tiles = {tile(1, {sample(StepKind::Compute, 100, 120),   // ends at the crop
                                                sample(StepKind::Compute, 110, 140),   // straddles it
                                                sample(StepKind::Compute, 120, 125)}),  // starts at it
                                       tile(2, {sample(StepKind::Compute, 120, 121)})}};
  const detail::Timeline timeline = detail::make_timeline(report, false);
  ASSERT_EQ(timeline.crop, 20u);
  const auto& samples = report.tiles[0].samples;
  EXPECT_EQ(timeline.place_cropped(samples[0]).length(), 0u);
  EXPECT_EQ(timeline.place_cropped(samples[1]).start, 0u);
  EXPECT_EQ(timeline.place_cropped(samples[1]).length(), 20u);
  EXPECT_EQ(timeline.place_cropped(samples[2]).start, 0u);
  EXPECT_EQ(timeline.place_cropped(samples[2]).length(), 5u);
}

// Tiles enter at random counter values and meet at a common end; the crop lines their entries up.
TEST(Timeline, CropAlignsTilesThatMeetAtACommonCycle) {
  std::mt19937 random(20261211);
  for (int round = 0; round < 200; ++round) {
    const std::size_t tiles = 2 + random() % 31;
    const std::uint32_t b = 20'000 + random() % 1000;
    const std::uint32_t w = 1 + random() % 500;
    ProfileReport report;
    std::vector<std::uint32_t> entries;
    for (std::size_t i = 0; i < tiles; ++i) {
      const std::uint32_t s = 1000 + random() % 9001;
      entries.push_back(s);
      report.tiles.push_back(tile(static_cast<std::uint32_t>(i),
                                  {sample(StepKind::Compute, s, b), sample(StepKind::Compute, b, b + w)}));
    }
    const std::uint32_t smallest = *std::min_element(entries.begin(), entries.end());
    const std::uint32_t largest = *std::max_element(entries.begin(), entries.end());
    const detail::Timeline cropped = detail::make_timeline(report, false);
    const detail::Timeline shared = detail::make_timeline(report, true);
    std::uint64_t cropped_span = 0;
    std::uint64_t shared_span = 0;
    for (std::size_t i = 0; i < tiles; ++i) {
      const auto& samples = report.tiles[i].samples;
      const detail::Placement first = cropped.place_cropped(samples[0]);
      const detail::Placement second = cropped.place_cropped(samples[1]);
      EXPECT_EQ(first.start, 0u);
      EXPECT_EQ(first.length(), b - largest);
      EXPECT_EQ(second.start, b - largest);
      EXPECT_EQ(shared.place_cropped(samples[0]).start, entries[i] - smallest);
      cropped_span = std::max(cropped_span, second.end);
      shared_span = std::max(shared_span, shared.place_cropped(samples[1]).end);
    }
    EXPECT_EQ(cropped_span, std::uint64_t{b - largest} + w);
    EXPECT_EQ(shared_span, std::uint64_t{b} + w - smallest);
    EXPECT_GE(shared_span, cropped_span);
  }
}

TEST(CyclesToMs, ConvertsAndTreatsAZeroClockAsZero) {
  EXPECT_DOUBLE_EQ(cycles_to_ms(1'500'000, 1'500'000'000), 1.0);
  EXPECT_EQ(cycles_to_ms(1'500'000, 0), 0.0);
  EXPECT_EQ(cycles_to_ms(~std::uint64_t{0}, 0), 0.0);
  EXPECT_EQ(cycles_to_ms(0, 1), 0.0);
  EXPECT_EQ(cycles_to_ms(0, 1'850'000'000), 0.0);
  // Multiply before dividing, in doubles.
  EXPECT_EQ(cycles_to_ms(1, 3), 1.0 * 1000.0 / 3.0);
}

}  // namespace
