#include <norq_profile/phases.hpp>

#include "builders.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace norq_profile;
using norq_profile::phases::KernelWork;
using norq_profile::phases::PhaseSample;
using norq_profile::phases::PhaseWork;
using norq_test::plain;
using norq_test::tile;

CycleSample in_epoch(CycleSample sample, std::uint32_t epoch) {
  sample.step.epoch = epoch;
  return sample;
}

CycleSample with_events(CycleSample sample, std::uint32_t events, std::vector<ProfileExchangeActivity> activities = {}) {
  sample.step.exchange_event_cycles = events;
  sample.step.exchange_activities = std::move(activities);
  return sample;
}

CycleSample with_entry(CycleSample sample, std::string name, std::string value) {
  sample.step.metadata.push_back({.name = std::move(name), .value = std::move(value)});
  return sample;
}

CycleSample compute(std::string kernel, std::uint32_t start, std::uint32_t end) {
  return plain(1, StepKind::Compute, std::move(kernel), start, end);
}

CycleSample exchange(std::uint32_t phase, std::uint32_t start, std::uint32_t end) {
  return plain(phase, StepKind::Exchange, "", start, end);
}

CycleSample barrier(std::uint32_t phase, std::uint32_t start, std::uint32_t end) {
  return with_entry(plain(phase, StepKind::Synchronization, "", start, end), "reason", "ExchangeBarrier");
}

ProfileExchangeActivity activity(ExchangeActivityKind kind, std::uint32_t start, std::uint32_t end) {
  return {.kind = kind, .start_cycle = start, .end_cycle = end};
}

KernelWork row(std::string operation, std::string kernel, std::size_t samples, std::size_t tiles, std::uint64_t work,
               std::uint64_t maximum, std::uint64_t start, std::uint64_t end) {
  return {.operation = std::move(operation),
          .kernel = std::move(kernel),
          .samples = samples,
          .tiles = tiles,
          .work_cycles = work,
          .maximum_cycles = maximum,
          .start = start,
          .end = end};
}

std::vector<std::string> kernel_names(const std::vector<KernelWork>& rows) {
  std::vector<std::string> names;
  for (const KernelWork& r : rows) names.push_back(r.kernel);
  return names;
}

const PhaseWork* find_phase(const std::vector<PhaseWork>& result, std::uint32_t epoch,
                            std::optional<std::uint32_t> next) {
  for (const PhaseWork& phase : result) {
    if (phase.epoch == epoch && phase.next_exchange_phase == next) return &phase;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// kernels

TEST(Kernels, EmptyInputGivesNoRows) { EXPECT_TRUE(phases::kernels({}).empty()); }

TEST(Kernels, GroupsByOperationAndKernelAndCountsDistinctTiles) {
  const CycleSample a = plain(1, StepKind::Compute, "copy", 0, 0);
  const CycleSample b = plain(2, StepKind::Compute, "copy", 0, 0);  // same kernel, other operation
  // Tile 4 appears twice, apart: its samples count twice but the tile once.
  const std::vector<PhaseSample> samples = {
      {4, 0, 10, &a}, {5, 5, 12, &a}, {4, 20, 23, &a}, {4, 30, 31, &b}, {4, 40, 41, &b}};
  const std::vector<KernelWork> rows = phases::kernels(samples);
  ASSERT_EQ(rows.size(), 2u);
  // Start and end reach over the gap (10..20) and the overlap (5..10) of the samples.
  EXPECT_EQ(rows[0], row("operation 1", "copy", 3, 2, 20, 10, 0, 23));
  EXPECT_EQ(rows[1], row("operation 2", "copy", 2, 1, 2, 1, 30, 41));
}

TEST(Kernels, OrderedByWorkThenStartThenTextWhateverTheInputOrder) {
  const CycleSample heavy = plain(1, StepKind::Compute, "heavy", 0, 0);
  const CycleSample early = plain(1, StepKind::Compute, "early", 0, 0);
  const CycleSample late = plain(1, StepKind::Compute, "late", 0, 0);
  const CycleSample alpha = plain(1, StepKind::Compute, "b-same", 0, 0);
  const CycleSample beta = plain(1, StepKind::Compute, "a-same", 0, 0);
  const CycleSample other_op = plain(0, StepKind::Compute, "z-same", 0, 0);
  const std::vector<PhaseSample> samples = {
      {0, 50, 60, &heavy},                                               // 10 cycles
      {0, 7, 11, &late},                                                 // 4 cycles, starts at 7
      {0, 3, 7, &early},                                                 // 4 cycles, starts at 3
      {1, 20, 22, &alpha}, {1, 20, 22, &beta}, {1, 20, 22, &other_op}};  // 2 cycles at 20 each
  const std::vector<std::string> expected = {"heavy", "early", "late", "z-same", "a-same", "b-same"};

  std::vector<std::size_t> order = {0, 1, 2, 3, 4, 5};
  do {
    std::vector<PhaseSample> permuted;
    for (std::size_t index : order) permuted.push_back(samples[index]);
    ASSERT_EQ(kernel_names(phases::kernels(permuted)), expected);
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST(Kernels, MalformedSamplesDoNotUnderflowOrCrash) {
  const CycleSample a = plain(1, StepKind::Compute, "copy", 0, 0);
  const std::vector<PhaseSample> samples = {{0, 10, 4, &a}, {0, 0, 6, nullptr}};
  const std::vector<KernelWork> rows = phases::kernels(samples);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], row("", "", 1, 1, 6, 6, 0, 6));
  EXPECT_EQ(rows[1], row("operation 1", "copy", 1, 1, 0, 0, 10, 10));
}

// ---------------------------------------------------------------------------------------------
// phase_work: the worked examples

// Tile 0 computes "copy" over 0..10 and exchanges over 12..20, tile 1 computes "fill" over 2..6
// and exchanges over 9..20, tile 2 only exchanges over 0..20.
ProfileReport three_tiles() {
  return {.clock_hz = 1'000'000'000,
          .tiles = {tile(0, {plain(9, StepKind::Compute, "copy", 0, 10), exchange(80, 12, 20)}),
                    tile(1, {plain(44, StepKind::Compute, "fill", 2, 6), exchange(80, 9, 20)}),
                    tile(2, {exchange(80, 0, 20)})}};
}

TEST(PhaseWork, ComputeOfDifferentStepPhasesLeadsUpToOneBoundary) {
  const std::vector<PhaseWork> result = phases::phase_work(three_tiles(), true);
  ASSERT_EQ(result.size(), 1u);
  const PhaseWork& phase = result[0];
  EXPECT_EQ(phase.epoch, 0u);
  EXPECT_EQ(phase.next_exchange_phase, 80u);
  EXPECT_EQ(phase.start, 0u);
  EXPECT_EQ(phase.end, 10u);
  EXPECT_EQ(phase.span_cycles, 10u);
  EXPECT_EQ(phase.work_cycles, 14u);
  EXPECT_EQ(phase.active_tiles, 2u);
  EXPECT_DOUBLE_EQ(phase.occupancy, 14.0 / 30.0);  // the exchange-only tile counts too
  EXPECT_EQ(phase.kernels, (std::vector<KernelWork>{row("operation 9", "copy", 1, 1, 10, 10, 0, 10),
                                                    row("operation 44", "fill", 1, 1, 4, 4, 2, 6)}));
  EXPECT_EQ(phase.exchange, (ExchangeBoundary{.epoch = 0,
                                              .phase = 80,
                                              .first_entry = 0,
                                              .last_entry = 12,
                                              .last_exit = 20,
                                              .last_arriving_tile = 0,
                                              .arrival_spread_cycles = 12,
                                              .after_last_arrival_cycles = 8}));
  EXPECT_EQ(phase.late_tile_kernels, (std::vector<KernelWork>{row("operation 9", "copy", 1, 1, 10, 10, 0, 10)}));
  EXPECT_EQ(phase.unattributed_before_barrier_cycles, 2u);
  EXPECT_FALSE(phase.exposed_preparation_cycles);
  EXPECT_FALSE(phase.exchange_occupancy);
}

TEST(PhaseWork, CropCutsComputeAndMovesTheBoundary) {
  const std::vector<PhaseWork> result = phases::phase_work(three_tiles(), false);
  ASSERT_EQ(result.size(), 1u);
  const PhaseWork& phase = result[0];
  EXPECT_EQ(phase.start, 0u);
  EXPECT_EQ(phase.end, 8u);
  EXPECT_EQ(phase.work_cycles, 12u);
  EXPECT_EQ(phase.kernels, (std::vector<KernelWork>{row("operation 9", "copy", 1, 1, 8, 8, 0, 8),
                                                    row("operation 44", "fill", 1, 1, 4, 4, 0, 4)}));
  ASSERT_TRUE(phase.exchange);
  EXPECT_EQ(phase.exchange->first_entry, 0u);  // 0 - 2 saturates
  EXPECT_EQ(phase.exchange->last_entry, 10u);
  EXPECT_EQ(phase.exchange->last_exit, 18u);
  EXPECT_EQ(phase.exchange->arrival_spread_cycles, 10u);
  EXPECT_EQ(phase.exchange->after_last_arrival_cycles, 8u);
  EXPECT_EQ(phase.unattributed_before_barrier_cycles, 2u);
}

TEST(PhaseWork, BarrierSynchronizationDecidesTheArrival) {
  const ProfileReport report{
      .tiles = {tile(0, {with_events(exchange(80, 10, 100), 30)}),
                tile(1, {plain(9, StepKind::Compute, "copy", 0, 60), barrier(80, 60, 70), exchange(81, 80, 120)})}};
  const std::vector<PhaseWork> result = phases::phase_work(report, true);
  ASSERT_EQ(result.size(), 2u);

  const PhaseWork& first = result[0];
  EXPECT_EQ(first.next_exchange_phase, 80u);
  ASSERT_TRUE(first.exchange);
  EXPECT_EQ(first.exchange->last_entry, 60u);
  EXPECT_EQ(first.exchange->last_arriving_tile, 1u);
  EXPECT_EQ(kernel_names(first.late_tile_kernels), std::vector<std::string>{"copy"});
  EXPECT_EQ(first.work_cycles, 60u);
  EXPECT_EQ(first.unattributed_before_barrier_cycles, 0u);
  EXPECT_EQ(first.exchange_occupancy, 0.0);  // scheduled, but nothing sent or received
  EXPECT_FALSE(first.exposed_preparation_cycles);

  const PhaseWork& second = result[1];
  EXPECT_EQ(second.next_exchange_phase, 81u);
  EXPECT_EQ(second.work_cycles, 0u);
  EXPECT_EQ(second.start, 80u);
  EXPECT_EQ(second.end, 80u);
  EXPECT_EQ(second.occupancy, 0.0);
  EXPECT_TRUE(second.kernels.empty());
  EXPECT_TRUE(second.late_tile_kernels.empty());
  EXPECT_EQ(second.unattributed_before_barrier_cycles, 10u);  // since the barrier ended at 70
  EXPECT_EQ(second.exposed_preparation_cycles, 0u);           // 80 - 100 saturates
  EXPECT_FALSE(second.exchange_occupancy);
}

TEST(PhaseWork, EpochsEmptyPhasesAndAnOpaqueRepeatMarker) {
  const ProfileReport report{.tiles = {tile(7, {in_epoch(exchange(9, 0, 10), 0), in_epoch(exchange(9, 10, 20), 1),
                                                in_epoch(compute("copy", 20, 24), 1),
                                                in_epoch(compute("repeat-remainder", 24, 1000), 0),
                                                in_epoch(compute("norm", 1000, 1010), 0),
                                                in_epoch(exchange(10, 1012, 1020), 0)})}};
  const std::vector<PhaseWork> result = phases::phase_work(report, true);
  ASSERT_EQ(result.size(), 4u);
  EXPECT_EQ(result[0].epoch, 0u);
  EXPECT_EQ(result[0].next_exchange_phase, 9u);
  EXPECT_EQ(result[1].epoch, 1u);
  EXPECT_EQ(result[1].next_exchange_phase, 9u);
  EXPECT_EQ(result[2].epoch, 1u);
  EXPECT_EQ(result[2].next_exchange_phase, std::nullopt);
  EXPECT_EQ(result[3].epoch, 0u);
  EXPECT_EQ(result[3].next_exchange_phase, 10u);

  EXPECT_EQ(result[0].work_cycles, 0u);
  EXPECT_EQ(result[1].work_cycles, 0u);
  EXPECT_EQ(kernel_names(result[2].kernels), std::vector<std::string>{"copy"});
  EXPECT_EQ(kernel_names(result[3].kernels), std::vector<std::string>{"norm"});
  std::uint64_t total = 0;
  for (const PhaseWork& phase : result) total += phase.work_cycles;
  EXPECT_EQ(total, 14u);
  // The marker hides the epoch-1 boundary from the phase-10 one.
  EXPECT_FALSE(result[3].exposed_preparation_cycles);
  // The epoch-1 boundary follows the epoch-0 one directly.
  EXPECT_EQ(result[1].exposed_preparation_cycles, 0u);
}

// ---------------------------------------------------------------------------------------------
// phase_work: attribution

TEST(PhaseWork, StepsThatCountNothingDoNotSplitThePhase) {
  struct Case {
    const char* name;
    CycleSample middle;
    std::uint64_t work;
  };
  const std::vector<Case> cases = {
      {"inactive compute", with_entry(compute("mid", 10, 20), "active", "false"), 20},
      {"inactive after other entries", with_entry(with_entry(compute("mid", 10, 20), "active", "true"), "active", "false"), 20},
      {"idle", plain(1, StepKind::Idle, "mid", 10, 20), 20},
      {"unmarked synchronization", plain(1, StepKind::Synchronization, "", 10, 20), 20},
      {"barrier mark in lower case", with_entry(plain(1, StepKind::Synchronization, "", 10, 20), "reason", "exchangebarrier"), 20},
      {"compute marked active", with_entry(compute("mid", 10, 20), "active", "true"), 30},
      {"compute marked False", with_entry(compute("mid", 10, 20), "active", "False"), 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProfileReport report{
        .tiles = {tile(0, {compute("a", 0, 10), c.middle, compute("b", 20, 30), exchange(5, 30, 40)})}};
    const std::vector<PhaseWork> result = phases::phase_work(report, true);
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].next_exchange_phase, 5u);
    EXPECT_EQ(result[0].work_cycles, c.work);
    EXPECT_EQ(result[0].start, 0u);
    EXPECT_EQ(result[0].end, 30u);
  }
}

TEST(PhaseWork, ZeroLengthAndCroppedComputeCountOnlyWhatLiesAfterTheCrop) {
  // Tile 1 enters at 100, so the crop is 100 without the shared clock.
  const ProfileReport report{
      .tiles = {tile(0, {compute("before", 0, 100), compute("straddle", 90, 130), compute("empty", 130, 130),
                         exchange(5, 140, 150)}),
                tile(1, {exchange(5, 100, 150)})}};

  const std::vector<PhaseWork> cropped = phases::phase_work(report, false);
  ASSERT_EQ(cropped.size(), 1u);
  EXPECT_EQ(cropped[0].kernels, (std::vector<KernelWork>{row("operation 1", "straddle", 1, 1, 30, 30, 0, 30)}));
  EXPECT_EQ(cropped[0].work_cycles, 30u);
  EXPECT_EQ(cropped[0].start, 0u);

  const std::vector<PhaseWork> shared = phases::phase_work(report, true);
  ASSERT_EQ(shared.size(), 1u);
  EXPECT_EQ(kernel_names(shared[0].kernels), (std::vector<std::string>{"before", "straddle"}));
  EXPECT_EQ(shared[0].work_cycles, 140u);
}

TEST(PhaseWork, ComputeAcrossTheCounterWrapKeepsItsLength) {
  const ProfileReport report{.tiles = {tile(0, {compute("wrap", 4'294'967'291u, 5), exchange(1, 5, 15)})}};
  const std::vector<PhaseWork> result = phases::phase_work(report, true);
  ASSERT_EQ(result.size(), 1u);
  EXPECT_EQ(result[0].work_cycles, 10u);
  EXPECT_EQ(result[0].end, 10u);
  EXPECT_EQ(result[0].exchange->last_entry, 10u);
}

TEST(PhaseWork, LateTileIdleTimeRunsFromItsLastComputeInListOrder) {
  // The later sample in the list ends earlier on the time line; it still marks the tile's last work.
  const ProfileReport report{
      .tiles = {tile(3, {compute("a", 10, 60), compute("b", 20, 30), exchange(5, 70, 80)})}};
  const std::vector<PhaseWork> result = phases::phase_work(report, true);
  ASSERT_EQ(result.size(), 1u);
  EXPECT_EQ(result[0].unattributed_before_barrier_cycles, 40u);  // 70 - 30, not 70 - 60
  EXPECT_EQ(result[0].late_tile_kernels.size(), 2u);
}

TEST(PhaseWork, ATileListedTwiceCountsOnceAndKeepsItsFirstListing) {
  const ProfileReport report{.tiles = {tile(4, {compute("a", 0, 10), exchange(5, 20, 30)}),
                                       tile(4, {compute("b", 0, 15), exchange(5, 12, 25)})}};
  const std::vector<PhaseWork> result = phases::phase_work(report, true);
  ASSERT_EQ(result.size(), 1u);
  EXPECT_EQ(result[0].active_tiles, 1u);
  EXPECT_DOUBLE_EQ(result[0].occupancy, 25.0 / (15.0 * 2.0));  // both listings are tiles of the profile
  EXPECT_EQ(result[0].unattributed_before_barrier_cycles, 10u);  // 20 - the first listing's 10
  EXPECT_EQ(result[0].late_tile_kernels.size(), 2u);
}

TEST(PhaseWork, RepeatedBoundaryKeysOnOneTileUseTheEarliestPrecedingSample) {
  // Boundaries A (phase 1) and B (phase 2) alternate; the tile never computes.
  const ProfileReport report{
      .tiles = {tile(0, {exchange(1, 0, 10), exchange(2, 10, 20), exchange(1, 20, 30), exchange(2, 40, 50)})}};
  const std::vector<PhaseWork> result = phases::phase_work(report, true);
  const PhaseWork* b = find_phase(result, 0, 2);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->exchange->last_entry, 40u);
  EXPECT_EQ(b->unattributed_before_barrier_cycles, 30u);  // from the first A, which ended at 10
  EXPECT_EQ(b->exposed_preparation_cycles, 10u);          // 40 - A's last exit 30
}

TEST(PhaseWork, ExposedPreparationNeedsASinglePrecedingBoundary) {
  // Tiles 0 and 1 both reach C from A.
  const ProfileReport single{.tiles = {tile(0, {exchange(1, 0, 10), compute("k", 10, 20), exchange(3, 30, 40)}),
                                       tile(1, {exchange(1, 0, 12), exchange(3, 25, 40)})}};
  const std::vector<PhaseWork> from_one = phases::phase_work(single, true);
  const PhaseWork* c = find_phase(from_one, 0, 3);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->exposed_preparation_cycles, 18u);  // C's last entry 30 - A's last exit 12

  // Tile 1 reaches C from B instead.
  const ProfileReport two{.tiles = {tile(0, {exchange(1, 0, 10), compute("k", 10, 20), exchange(3, 30, 40)}),
                                    tile(1, {exchange(2, 0, 12), exchange(3, 25, 40)})}};
  const std::vector<PhaseWork> from_two = phases::phase_work(two, true);
  c = find_phase(from_two, 0, 3);
  ASSERT_NE(c, nullptr);
  EXPECT_FALSE(c->exposed_preparation_cycles);
}

TEST(PhaseWork, OpaqueMarkerOfAnyKindCutsTheTileButBoundariesStayBoundaries) {
  const ProfileReport report{
      .tiles = {tile(0, {exchange(1, 0, 10), plain(1, StepKind::Idle, "repeat-remainder", 10, 20),
                         compute("before", 20, 30), plain(1, StepKind::Idle, "repeat-remainder", 30, 35),
                         compute("after", 35, 40), exchange(2, 40, 50)})}};
  const std::vector<PhaseWork> result = phases::phase_work(report, true);
  ASSERT_EQ(result.size(), 3u);
  const PhaseWork* trailing = find_phase(result, 0, std::nullopt);
  ASSERT_NE(trailing, nullptr);
  EXPECT_EQ(kernel_names(trailing->kernels), std::vector<std::string>{"before"});
  const PhaseWork* second = find_phase(result, 0, 2);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(kernel_names(second->kernels), std::vector<std::string>{"after"});
  EXPECT_FALSE(second->exposed_preparation_cycles);

  // An exchange step that carries the marker text is still a boundary that closes the phase.
  CycleSample marked = exchange(2, 40, 50);
  marked.step.kernel = "repeat-remainder";
  const ProfileReport boundary{.tiles = {tile(0, {exchange(1, 0, 10), compute("k", 10, 30), marked})}};
  const std::vector<PhaseWork> closing = phases::phase_work(boundary, true);
  const PhaseWork* closed = find_phase(closing, 0, 2);
  ASSERT_NE(closed, nullptr);
  EXPECT_EQ(closed->work_cycles, 20u);
  EXPECT_EQ(closed->exposed_preparation_cycles, 30u);
}

TEST(PhaseWork, TrailingComputeFormsOneRecordPerEpoch) {
  const ProfileReport report{
      .tiles = {tile(0, {exchange(5, 0, 10), in_epoch(compute("a", 10, 20), 0), in_epoch(compute("b", 20, 25), 1)}),
                tile(1, {exchange(5, 0, 10), in_epoch(compute("a", 10, 16), 0)})}};
  const std::vector<PhaseWork> result = phases::phase_work(report, true);
  ASSERT_EQ(result.size(), 3u);
  for (std::uint32_t epoch : {0u, 1u}) {
    SCOPED_TRACE(epoch);
    const PhaseWork* trailing = find_phase(result, epoch, std::nullopt);
    ASSERT_NE(trailing, nullptr);
    EXPECT_FALSE(trailing->exchange);
    EXPECT_FALSE(trailing->exchange_occupancy);
    EXPECT_FALSE(trailing->exposed_preparation_cycles);
    EXPECT_TRUE(trailing->late_tile_kernels.empty());
    EXPECT_EQ(trailing->unattributed_before_barrier_cycles, 0u);
  }
  const PhaseWork* epoch0 = find_phase(result, 0, std::nullopt);
  EXPECT_EQ(epoch0->work_cycles, 16u);
  EXPECT_EQ(epoch0->active_tiles, 2u);
  EXPECT_DOUBLE_EQ(epoch0->occupancy, 16.0 / (10.0 * 2.0));
  EXPECT_EQ(find_phase(result, 1, std::nullopt)->work_cycles, 5u);
}

TEST(PhaseWork, ExchangeOccupancyCountsBusyCyclesOverEveryTile) {
  using enum ExchangeActivityKind;
  // Tile 0 sends over 0..40 and receives over 20..60: 60 busy cycles. Tile 1 is described but
  // idle, and tile 2 never exchanges, yet both count in the denominator.
  const ProfileReport report{
      .tiles = {tile(0, {with_events(exchange(5, 0, 100), 100, {activity(Send, 0, 40), activity(Receive, 20, 60),
                                                                activity(PartnerBusy, 60, 90)})}),
                tile(1, {with_events(exchange(5, 0, 100), 80)}),
                tile(2, {compute("k", 0, 10)})}};
  const std::vector<PhaseWork> result = phases::phase_work(report, true);
  const PhaseWork* phase = find_phase(result, 0, 5);
  ASSERT_NE(phase, nullptr);
  ASSERT_TRUE(phase->exchange_occupancy);
  EXPECT_DOUBLE_EQ(*phase->exchange_occupancy, 60.0 / (100.0 * 3.0));

  // Without any scheduled window there is nothing to measure the exchange against.
  const ProfileReport unscheduled{.tiles = {tile(0, {exchange(5, 0, 100)})}};
  EXPECT_FALSE(phases::phase_work(unscheduled, true).at(0).exchange_occupancy);
}

TEST(PhaseWork, OrderedByStartThenEpochThenPhaseWithAbsentFirst) {
  // All three records start at 0: trailing work of epochs 0 and 1 and an empty boundary phase.
  const ProfileReport report{.tiles = {tile(0, {in_epoch(compute("late", 0, 10), 1)}),
                                       tile(1, {exchange(5, 0, 10)}),
                                       tile(2, {compute("early", 0, 10)})}};
  const std::vector<PhaseWork> result = phases::phase_work(report, true);
  ASSERT_EQ(result.size(), 3u);
  EXPECT_EQ(result[0].epoch, 0u);
  EXPECT_EQ(result[0].next_exchange_phase, std::nullopt);
  EXPECT_EQ(result[1].epoch, 0u);
  EXPECT_EQ(result[1].next_exchange_phase, 5u);
  EXPECT_EQ(result[2].epoch, 1u);
}

TEST(PhaseWork, ProfilesWithoutSamplesGiveNoPhases) {
  EXPECT_TRUE(phases::phase_work(ProfileReport{}, false).empty());
  EXPECT_TRUE(phases::phase_work(ProfileReport{.tiles = {tile(0, {}), tile(1, {})}}, true).empty());
}

}  // namespace
