#include <norq_profile/query.hpp>

#include "builders.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <compare>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace norq_profile;
using norq_test::plain;
using norq_test::sample;
using norq_test::tile;

using Interval = std::pair<std::uint64_t, std::uint64_t>;

CycleSample annotated(std::string useful, std::string physical) {
  CycleSample s = sample(StepKind::Compute, 0, 10);
  s.step.metadata = {{.name = "usefulCycles", .value = std::move(useful)},
                     {.name = "physicalWorkCycles", .value = std::move(physical)}};
  return s;
}

TEST(Percentile, LowerNearestRank) {
  EXPECT_EQ(percentile({}, 50), 0u);
  const std::vector<std::uint32_t> two{20, 30};
  EXPECT_EQ(percentile(two, 50), 20u);
  EXPECT_EQ(percentile(two, 95), 20u);
  EXPECT_EQ(percentile(two, 100), 30u);
  std::vector<std::uint32_t> hundred;
  for (std::uint32_t v = 1; v <= 100; ++v) hundred.push_back(v);
  EXPECT_EQ(percentile(hundred, 0), 1u);
  EXPECT_EQ(percentile(hundred, 50), 50u);
  EXPECT_EQ(percentile(hundred, 95), 95u);
  EXPECT_EQ(percentile(hundred, 100), 100u);
}

TEST(Percentile, AboveHundredStaysInsideTheList) {
  const std::vector<std::uint32_t> values{1, 2, 3};
  EXPECT_EQ(percentile(values, 101), 3u);
  EXPECT_EQ(percentile(values, SIZE_MAX), 3u);
}

TEST(UnionLength, CountsOverlapsOnceAndTouchingRunsInFull) {
  struct Case {
    std::vector<Interval> intervals;
    std::uint64_t expected;
  };
  const std::vector<Case> cases{
      {{}, 0},
      {{{0, 10}, {5, 8}}, 10},
      {{{0, 10}, {10, 20}}, 20},
      {{{0, 10}, {11, 20}}, 19},
      {{{11, 20}, {5, 8}, {0, 10}}, 19},
      {{{7, 7}}, 0},
      {{{0, 1ULL << 33}, {1ULL << 32, (1ULL << 33) + 5}}, (1ULL << 33) + 5},
  };
  for (const Case& c : cases) {
    std::vector<Interval> intervals = c.intervals;
    EXPECT_EQ(union_length(intervals), c.expected) << "case with " << c.intervals.size();
    EXPECT_TRUE(std::is_sorted(intervals.begin(), intervals.end()));
  }
}

TEST(UnionLength, InvertedIntervalCoversNothing) {
  std::vector<Interval> intervals{{10, 5}, {20, 30}};
  EXPECT_EQ(union_length(intervals), 10u);
}

TEST(UsefulWork, NumberGrammar) {
  struct Case {
    std::string text;
    std::optional<double> value;
  };
  const std::vector<Case> cases{
      {"8", 8.0},       {"+8", 8.0},       {"8.5", 8.5},         {".5", 0.5},
      {"5.", 5.0},      {"1e3", 1000.0},   {"1E-3", 0.001},      {"-0", 0.0},
      {"1e-400", 0.0},  {"0", 0.0},        {"1e+2", 100.0},      {"007", 7.0},
      {"-1", {}},       {"NaN", {}},       {"nan", {}},          {"inf", {}},
      {"infinity", {}}, {"0x10", {}},      {"12 ", {}},          {" 12", {}},
      {"", {}},         {".", {}},         {"1e", {}},           {"1e400", {}},
      {"+", {}},        {"-", {}},         {"+-1", {}},          {"++1", {}},
      {"1e+", {}},      {".e1", {}},       {"e1", {}},           {"1.2.3", {}},
      {"1e1.5", {}},    {"1,5", {}},       {"-1e-400", 0.0},     {"1f", {}},
  };
  for (const Case& c : cases) {
    // Physical equals useful, so the pair is present exactly when the text is a number.
    const auto work = useful_work(annotated(c.text, c.text));
    if (c.value) {
      ASSERT_TRUE(work.has_value()) << '"' << c.text << '"';
      EXPECT_DOUBLE_EQ(work->first, *c.value) << '"' << c.text << '"';
      EXPECT_FALSE(std::signbit(work->first)) << '"' << c.text << '"';
    } else {
      EXPECT_FALSE(work.has_value()) << '"' << c.text << '"';
    }
  }
}

TEST(UsefulWork, UnderflowAndOverflowAreToldApartByMagnitude) {
  // Many digits on either side of the point do not fool the range check.
  const std::string tiny = "0." + std::string(400, '0') + "1e10";
  const std::string huge = "1" + std::string(400, '0') + "e-10";
  ASSERT_TRUE(useful_work(annotated(tiny, tiny)).has_value());
  EXPECT_EQ(useful_work(annotated(tiny, tiny))->first, 0.0);
  EXPECT_FALSE(useful_work(annotated(huge, huge)).has_value());
}

TEST(UsefulWork, PhysicalMustCoverUseful) {
  EXPECT_EQ(useful_work(annotated("8", "8")), (std::pair{8.0, 8.0}));
  EXPECT_EQ(useful_work(annotated("5", "10")), (std::pair{5.0, 10.0}));
  EXPECT_FALSE(useful_work(annotated("12", "8")).has_value());
  EXPECT_FALSE(useful_work(annotated("5", "x")).has_value());
}

TEST(UsefulWork, OnlyTheFirstEntryOfANameCounts) {
  CycleSample s = annotated("bad", "10");
  s.step.metadata.push_back({.name = "usefulCycles", .value = "5"});
  EXPECT_FALSE(useful_work(s).has_value());

  CycleSample good_first = annotated("5", "10");
  good_first.step.metadata.push_back({.name = "physicalWorkCycles", .value = "1"});
  EXPECT_EQ(useful_work(good_first), (std::pair{5.0, 10.0}));

  CycleSample missing = sample(StepKind::Compute, 0, 10);
  missing.step.metadata = {{.name = "usefulCycles", .value = "5"}};
  EXPECT_FALSE(useful_work(missing).has_value());
  missing.step.metadata = {{.name = "UsefulCycles", .value = "5"},
                           {.name = "physicalWorkCycles", .value = "5"}};
  EXPECT_FALSE(useful_work(missing).has_value());
}

TEST(MatchesQuery, DefaultQueryMatchesEverySample) {
  const Query query;
  for (const StepKind kind :
       {StepKind::Exchange, StepKind::Compute, StepKind::Synchronization, StepKind::Idle}) {
    EXPECT_TRUE(matches_query(query, 0, plain(1, kind, "", 0, 10), 0, 10));
    EXPECT_TRUE(matches_query(query, 7, sample(kind, 0, 10), 99, 1));
  }
}

TEST(MatchesQuery, KindKernelAndOperationFilters) {
  const CycleSample add = plain(1, StepKind::Compute, "add", 0, 10);
  const CycleSample no_kernel = plain(1, StepKind::Compute, "", 0, 10);
  const auto matches = [](const Query& query, const CycleSample& s) {
    return matches_query(query, 0, s, 0, 10);
  };

  const Query compute{.kind = StepKind::Compute};
  EXPECT_TRUE(matches(compute, add));
  for (const StepKind other : {StepKind::Exchange, StepKind::Synchronization, StepKind::Idle}) {
    EXPECT_FALSE(matches(compute, plain(1, other, "add", 0, 10)));
  }

  const Query kernel_add{.kernel = "add"};
  EXPECT_TRUE(matches(kernel_add, add));
  EXPECT_FALSE(matches(kernel_add, plain(1, StepKind::Compute, "Add", 0, 10)));
  EXPECT_FALSE(matches(kernel_add, plain(1, StepKind::Compute, "addx", 0, 10)));
  EXPECT_FALSE(matches(kernel_add, no_kernel));

  const Query empty_kernel{.kernel = ""};
  EXPECT_TRUE(matches(empty_kernel, no_kernel));
  EXPECT_FALSE(matches(empty_kernel, add));
  // The group label is not a filter value for "no kernel".
  EXPECT_FALSE(matches(Query{.kernel = "(no kernel)"}, no_kernel));
  EXPECT_TRUE(matches(Query{.kernel = "(no kernel)"},
                      plain(1, StepKind::Compute, "(no kernel)", 0, 10)));

  const Query middle{.operation_contains = "on 1"};
  EXPECT_TRUE(matches(middle, plain(1, StepKind::Compute, "", 0, 10)));
  EXPECT_TRUE(matches(middle, plain(12, StepKind::Compute, "", 0, 10)));
  EXPECT_FALSE(matches(middle, plain(2, StepKind::Compute, "", 0, 10)));
  EXPECT_FALSE(matches(Query{.operation_contains = "Operation"}, add));
  EXPECT_TRUE(matches(Query{.operation_contains = ""}, sample(StepKind::Idle, 0, 1)));
}

TEST(MatchesQuery, TileAndPhaseSets) {
  const Query tiles{.tiles = {2}};
  const CycleSample s = plain(1, StepKind::Compute, "", 0, 10);
  EXPECT_TRUE(matches_query(tiles, 2, s, 0, 10));
  EXPECT_FALSE(matches_query(tiles, 3, s, 0, 10));

  const Query phases{.phases = {1}};
  CycleSample later_epoch = plain(1, StepKind::Compute, "", 0, 10);
  later_epoch.step.epoch = 4;
  EXPECT_TRUE(matches_query(phases, 0, s, 0, 10));
  EXPECT_TRUE(matches_query(phases, 0, later_epoch, 0, 10));
  EXPECT_FALSE(matches_query(phases, 0, plain(2, StepKind::Compute, "", 0, 10), 0, 10));
}

TEST(MatchesQuery, PointInTimeIsHalfOpen) {
  struct Case {
    std::uint64_t at;
    std::uint64_t offset;
    std::uint32_t length;
    bool matches;
  };
  const std::vector<Case> cases{
      {12, 10, 10, true}, {12, 0, 10, false}, {10, 10, 5, true},
      {10, 0, 11, true},  {10, 0, 10, false}, {(1ULL << 33) - 3, (1ULL << 33) - 4, 2, true},
  };
  const CycleSample s = sample(StepKind::Compute, 0, 10);
  for (const Case& c : cases) {
    const Query query{.at_offset = c.at};
    EXPECT_EQ(matches_query(query, 0, s, c.offset, c.length), c.matches)
        << "at " << c.at << " offset " << c.offset << " length " << c.length;
  }
}

TEST(MatchesQuery, MetadataFilters) {
  const auto step_with = [](std::vector<ProfileMetadata> metadata) {
    CycleSample s = sample(StepKind::Compute, 0, 10);
    s.step.metadata = std::move(metadata);
    return s;
  };
  const CycleSample one = step_with({{"block", "1"}});
  const CycleSample ten = step_with({{"block", "10"}});
  const CycleSample upper = step_with({{"Block", "1"}});
  const CycleSample both = step_with({{"block", "2"}, {"shape", "x"}, {"block", "1"}});
  const CycleSample none = step_with({});
  const auto matches = [](std::vector<MetadataFilter> filters, const CycleSample& s) {
    return matches_query(Query{.metadata = std::move(filters)}, 0, s, 0, 10);
  };

  EXPECT_TRUE(matches({{"block", std::nullopt}}, one));
  EXPECT_TRUE(matches({{"block", std::nullopt}}, ten));
  EXPECT_FALSE(matches({{"block", std::nullopt}}, upper));
  EXPECT_FALSE(matches({{"block", std::nullopt}}, none));

  EXPECT_TRUE(matches({{"block", "1"}}, one));
  EXPECT_FALSE(matches({{"block", "1"}}, ten));
  EXPECT_FALSE(matches({{"block", "1"}}, upper));
  // A repeated name meets the filter through any of its entries.
  EXPECT_TRUE(matches({{"block", "1"}}, both));

  const std::vector<MetadataFilter> two{{"block", "1"}, {"block", "2"}};
  EXPECT_TRUE(matches(two, both));
  EXPECT_FALSE(matches(two, one));
  EXPECT_FALSE(matches(two, step_with({{"block", "2"}})));
  EXPECT_TRUE(matches({}, none));
}

TEST(SampleRecord, CopiesTheStepAndKeepsTheCroppedLength) {
  CycleSample s = plain(3, StepKind::Synchronization, "sync", 100, 130);
  s.step.epoch = 2;
  s.step.metadata.push_back({"block", "4"});
  s.step.metadata.push_back({"shape", "x"});
  const SampleRecord record = sample_record({.tile = 5, .offset = 0, .duration = 10, .sample = &s});
  EXPECT_EQ(record, (SampleRecord{.physical_tile = 5,
                                  .offset = 0,
                                  .duration = 10,
                                  .phase = 3,
                                  .epoch = 2,
                                  .kind = "synchronization",
                                  .operation = "operation 3",
                                  .kernel = "sync",
                                  .metadata = {{"block", "3"}, {"block", "4"}, {"shape", "x"}}}));
}

TEST(GroupKey, EveryGrouping) {
  CycleSample s = plain(3, StepKind::Exchange, "", 0, 10);
  s.step.epoch = 1;
  s.step.metadata.push_back({"shape", "2x2"});
  s.step.metadata.push_back({"shape", "4x4"});
  s.step.metadata.push_back({"", "unnamed"});
  struct Case {
    Query query;
    std::string name;
    Dimensions dimensions;
  };
  const std::vector<Case> cases{
      {{.group_by = GroupBy::Kind}, "exchange", {}},
      {{.group_by = GroupBy::Kernel}, "(no kernel)", {}},
      {{.group_by = GroupBy::Operation}, "operation 3", {}},
      {{.group_by = GroupBy::Phase}, "phase 3/1", {{"epoch", "1"}, {"phase", "3"}}},
      {{.group_by = GroupBy::Tile}, "tile 7", {{"physicalTile", "7"}}},
      {{.group_by = GroupBy::Metadata, .metadata_key = "shape"},
       "2x2",
       {{"metadataKey", "shape"}, {"metadataValue", "2x2"}}},
      {{.group_by = GroupBy::Metadata, .metadata_key = "Shape"},
       "(missing)",
       {{"metadataKey", "Shape"}, {"metadataValue", "(missing)"}}},
      {{.group_by = GroupBy::Metadata},
       "unnamed",
       {{"metadataKey", ""}, {"metadataValue", "unnamed"}}},
  };
  for (const Case& c : cases) {
    const auto [name, dimensions] = group_key(c.query, 7, s);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(dimensions, c.dimensions) << c.name;
  }
  s.step.kernel = "add";
  EXPECT_EQ(group_key(Query{}, 0, s).first, "add");
  s.step.phase = 0;
  s.step.epoch = 4294967295u;
  EXPECT_EQ(group_key(Query{.group_by = GroupBy::Phase}, 0, s).first, "phase 0/4294967295");
}

TEST(CompareGroups, PrimaryKeyThenFirstOffsetThenName) {
  const GroupSummary big{.name = "b",
                         .sample_count = 1,
                         .phase_cycles = 30,
                         .work_cycles = 10,
                         .maximum_cycles = 5,
                         .first_offset = 9};
  const GroupSummary small{.name = "a",
                           .sample_count = 2,
                           .phase_cycles = 20,
                           .work_cycles = 20,
                           .maximum_cycles = 6,
                           .first_offset = 0};
  EXPECT_EQ(compare_groups(SortBy::PhaseCycles, big, small), std::strong_ordering::less);
  EXPECT_EQ(compare_groups(SortBy::WorkCycles, big, small), std::strong_ordering::greater);
  EXPECT_EQ(compare_groups(SortBy::MaximumCycles, big, small), std::strong_ordering::greater);
  EXPECT_EQ(compare_groups(SortBy::Samples, big, small), std::strong_ordering::greater);
  EXPECT_EQ(compare_groups(SortBy::Name, big, small), std::strong_ordering::greater);

  for (const SortBy by : {SortBy::PhaseCycles, SortBy::WorkCycles, SortBy::MaximumCycles,
                          SortBy::Samples}) {
    GroupSummary early = big;
    early.name = "z";
    early.first_offset = 1;
    GroupSummary late = big;
    late.name = "a";
    late.first_offset = 2;
    EXPECT_EQ(compare_groups(by, early, late), std::strong_ordering::less);
    late.first_offset = 1;
    EXPECT_EQ(compare_groups(by, early, late), std::strong_ordering::greater);
    EXPECT_EQ(compare_groups(by, early, early), std::strong_ordering::equal);
  }

  const auto by_name = [](std::string left, std::string right) {
    return compare_groups(SortBy::Name, GroupSummary{.name = std::move(left)},
                          GroupSummary{.name = std::move(right)});
  };
  EXPECT_EQ(by_name("B", "a"), std::strong_ordering::less);
  EXPECT_EQ(by_name("ab", "abc"), std::strong_ordering::less);
  // Bytes compare unsigned: a UTF-8 letter sorts after every ASCII one.
  EXPECT_EQ(by_name("z", "\xc3\xa9"), std::strong_ordering::less);
  // Name order wins over the first offset.
  EXPECT_EQ(compare_groups(SortBy::Name, GroupSummary{.name = "a", .first_offset = 9},
                           GroupSummary{.name = "b", .first_offset = 0}),
            std::strong_ordering::less);
}

CycleSample kernel_sample(std::string kernel, std::uint32_t start, std::uint32_t end,
                          std::vector<ProfileMetadata> metadata = {}) {
  CycleSample s = sample(StepKind::Compute, start, end);
  s.step.kernel = std::move(kernel);
  s.step.metadata = std::move(metadata);
  return s;
}

std::string numbered_kernel(std::size_t i) {
  std::string name{"k"};
  name.append(std::to_string(i));
  return name;
}

std::vector<std::string> names(const QueryReport& report) {
  std::vector<std::string> result;
  for (const GroupSummary& group : report.groups) result.push_back(group.name);
  return result;
}

std::vector<std::uint32_t> listed_tiles(const QueryReport& report) {
  std::vector<std::uint32_t> result;
  for (const SampleRecord& record : report.samples) result.push_back(record.physical_tile);
  return result;
}

TEST(Query, EmptyProfilesStillEchoTheirTotals) {
  for (const std::size_t tiles : {0u, 3u}) {
    ProfileReport report{.clock_hz = 1'000'000};
    for (std::uint32_t t = 0; t < tiles; ++t) report.tiles.push_back(tile(t, {}));
    const QueryReport result = query(report, Query{.at_offset = 5, .sample_limit = 4});
    EXPECT_EQ(result, (QueryReport{.clock_hz = 1'000'000, .tile_count = tiles, .at_offset = 5}));
  }
}

TEST(Query, CounterWrapOnOneTile) {
  const ProfileReport report{
      .clock_hz = 1'500'000'000,
      .tiles = {tile(9, {plain(0, StepKind::Exchange, "", 4'294'967'291u, 5),
                         plain(1, StepKind::Compute, "add", 5, 15)})}};
  const QueryReport result =
      query(report, Query{.metadata = {{"block", "1"}}, .at_offset = 12, .sample_limit = 1});
  EXPECT_EQ(result.sample_count, 2u);
  EXPECT_EQ(result.matched_sample_count, 1u);
  EXPECT_EQ(result.profile_span_cycles, 20u);
  EXPECT_DOUBLE_EQ(result.profile_span_ms, 1.3333333333333333e-05);
  EXPECT_EQ(result.at_offset, 12u);
  ASSERT_EQ(result.samples.size(), 1u);
  const SampleRecord& listed = result.samples.front();
  EXPECT_EQ(listed.physical_tile, 9u);
  EXPECT_EQ(listed.offset, 10u);
  EXPECT_EQ(listed.duration, 10u);
  EXPECT_EQ(listed.phase, 1u);
  EXPECT_EQ(listed.kind, "compute");
  ASSERT_EQ(names(result), std::vector<std::string>{"add"});
}

TEST(Query, CropOfTheEntrySpan) {
  std::mt19937 random{12345};
  for (int round = 0; round < 50; ++round) {
    const auto tiles = std::uniform_int_distribution<std::uint32_t>{2, 32}(random);
    std::uniform_int_distribution<std::uint32_t> entry{1'000, 10'000};
    const std::uint32_t b = 10'001 + std::uniform_int_distribution<std::uint32_t>{0, 500}(random);
    const std::uint32_t w = std::uniform_int_distribution<std::uint32_t>{1, 500}(random);
    ProfileReport report{.clock_hz = 1'000'000'000};
    std::uint32_t smallest = UINT32_MAX;
    std::uint32_t largest = 0;
    for (std::uint32_t t = 0; t < tiles; ++t) {
      const std::uint32_t s = entry(random);
      smallest = std::min(smallest, s);
      largest = std::max(largest, s);
      report.tiles.push_back(tile(t, {plain(0, StepKind::Synchronization, "", s, b),
                                      plain(1, StepKind::Compute, "work", b, b + w)}));
    }
    const QueryReport cropped = query(report, Query{.group_by = GroupBy::Kind});
    EXPECT_EQ(cropped.profile_span_cycles, std::uint64_t{b - largest} + w);
    ASSERT_EQ(cropped.groups.size(), 2u);
    for (const GroupSummary& group : cropped.groups) {
      if (group.name == "synchronization") {
        EXPECT_EQ(group.first_offset, 0u);
        EXPECT_EQ(group.maximum_cycles, b - largest);
      } else {
        EXPECT_EQ(group.name, "compute");
        EXPECT_EQ(group.first_offset, b - largest);
      }
    }
    const QueryReport shared = query(report, Query{.shared_clock = true});
    EXPECT_EQ(shared.profile_span_cycles, std::uint64_t{b} + w - smallest);
    EXPECT_GE(shared.profile_span_cycles, cropped.profile_span_cycles);
  }
}

TEST(Query, SharedClockKeepsLaterSamplesAligned) {
  const ProfileReport report{
      .clock_hz = 1,
      .tiles = {tile(3, {sample(StepKind::Exchange, 120, 150), kernel_sample("gemm", 150, 160)}),
                tile(2, {sample(StepKind::Exchange, 100, 150), kernel_sample("gemm", 150, 160)})}};
  const Query compute{.kind = StepKind::Compute, .shared_clock = true, .sample_limit = 2};
  const QueryReport shared = query(report, compute);
  ASSERT_EQ(shared.samples.size(), 2u);
  EXPECT_EQ(listed_tiles(shared), (std::vector<std::uint32_t>{2, 3}));
  EXPECT_EQ(shared.samples[0].offset, 50u);
  EXPECT_EQ(shared.samples[1].offset, 50u);
  ASSERT_EQ(names(shared), std::vector<std::string>{"gemm"});
  EXPECT_EQ(shared.groups[0].phase_cycles, 10u);
  EXPECT_EQ(shared.groups[0].tile_count, 2u);

  Query cropped_query = compute;
  cropped_query.shared_clock = false;
  const QueryReport cropped = query(report, cropped_query);
  ASSERT_EQ(cropped.samples.size(), 2u);
  EXPECT_EQ(cropped.samples[0].offset, 30u);
  EXPECT_EQ(cropped.samples[1].offset, 30u);
}

TEST(Query, SamplesAtTheCropPoint) {
  // Entries at 0 and 20 put the crop point at 20.
  const ProfileReport report{
      .tiles = {tile(0, {kernel_sample("early", 0, 20), kernel_sample("start", 20, 25),
                         kernel_sample("empty", 25, 25)}),
                tile(1, {kernel_sample("straddle", 20, 30), kernel_sample("late", 30, 35)}),
                tile(2, {kernel_sample("straddle", 5, 30)})}};
  // Tile 2 enters at 5, so the crop is still 20: tile 2's sample is cut from 25 cycles to 10.
  const QueryReport result = query(report, Query{.sample_limit = 10});
  EXPECT_EQ(result.sample_count, 6u);
  EXPECT_EQ(result.matched_sample_count, 4u);
  // "start" and "late" tie on covered cycles; "start" begins first.
  ASSERT_EQ(names(result), (std::vector<std::string>{"straddle", "start", "late"}));
  const GroupSummary& straddle = result.groups[0];
  EXPECT_EQ(straddle.sample_count, 2u);
  EXPECT_EQ(straddle.work_cycles, 20u);
  EXPECT_EQ(straddle.maximum_cycles, 10u);
  EXPECT_EQ(straddle.first_offset, 0u);
  EXPECT_EQ(result.samples.front().duration, 10u);
  EXPECT_EQ(result.profile_span_cycles, 15u);

  // Only samples wholly before the crop: the span is 0 and nothing matches.
  const ProfileReport before{
      .tiles = {tile(0, {kernel_sample("a", 0, 10)}), tile(1, {kernel_sample("b", 10, 10)})}};
  const QueryReport nothing = query(before, Query{});
  EXPECT_EQ(nothing.sample_count, 2u);
  EXPECT_EQ(nothing.matched_sample_count, 0u);
  EXPECT_EQ(nothing.profile_span_cycles, 0u);
  EXPECT_TRUE(nothing.groups.empty());
}

TEST(Query, ProfileSpanIgnoresFilters) {
  const ProfileReport report{
      .clock_hz = 1'000,
      .tiles = {tile(0, {kernel_sample("add", 0, 10), sample(StepKind::Exchange, 10, 40)})}};
  const QueryReport compute = query(report, Query{.kind = StepKind::Compute});
  EXPECT_EQ(compute.matched_sample_count, 1u);
  EXPECT_EQ(compute.profile_span_cycles, 40u);
  EXPECT_DOUBLE_EQ(compute.profile_span_ms, 40.0);

  const QueryReport nothing = query(report, Query{.kernel = "absent", .sample_limit = 3});
  EXPECT_EQ(nothing.tile_count, 1u);
  EXPECT_EQ(nothing.sample_count, 2u);
  EXPECT_EQ(nothing.matched_sample_count, 0u);
  EXPECT_EQ(nothing.profile_span_cycles, 40u);
  EXPECT_TRUE(nothing.groups.empty());
  EXPECT_TRUE(nothing.samples.empty());

  const QueryReport no_clock = query(ProfileReport{.tiles = report.tiles}, Query{});
  EXPECT_EQ(no_clock.profile_span_ms, 0.0);
  EXPECT_EQ(no_clock.groups.front().phase_ms, 0.0);
}

TEST(Query, ListsTheLongestSamplesFirst) {
  // Lengths 10, 30, 30 on tiles 5, 7, 3; tile 3 also holds two 30-cycle samples later on.
  const ProfileReport report{
      .tiles = {tile(5, {kernel_sample("a", 0, 10)}),
                tile(7, {kernel_sample("b", 0, 30)}),
                tile(3, {kernel_sample("c", 0, 30), kernel_sample("d", 50, 55)})}};
  const QueryReport all = query(report, Query{.sample_limit = 10});
  EXPECT_EQ(all.matched_sample_count, 4u);
  EXPECT_EQ(listed_tiles(all), (std::vector<std::uint32_t>{3, 7, 5, 3}));
  EXPECT_EQ(all.samples[3].kernel, "d");

  const QueryReport two = query(report, Query{.sample_limit = 2});
  EXPECT_EQ(listed_tiles(two), (std::vector<std::uint32_t>{3, 7}));
  EXPECT_EQ(two.matched_sample_count, 4u);

  const QueryReport none = query(report, Query{});
  EXPECT_TRUE(none.samples.empty());
  EXPECT_EQ(none.matched_sample_count, 4u);

  // The later offset is collected first: the offset, not the collection order, decides.
  const ProfileReport same_tile{
      .tiles = {tile(1, {sample(StepKind::Idle, 0, 1), kernel_sample("late", 40, 50)}),
                tile(1, {kernel_sample("early", 10, 20)})}};
  const QueryReport by_offset =
      query(same_tile, Query{.kind = StepKind::Compute, .shared_clock = true, .sample_limit = 2});
  ASSERT_EQ(by_offset.samples.size(), 2u);
  EXPECT_EQ(by_offset.samples[0].kernel, "early");
  EXPECT_EQ(by_offset.samples[1].kernel, "late");
}

TEST(Query, EqualCandidatesKeepCollectionOrderUnderAnyLimit) {
  // Two tile records with one physical number and identical samples tie on every listed key.
  std::vector<CycleSample> samples;
  for (std::size_t i = 0; i < 40; ++i) {
    samples.push_back(kernel_sample(numbered_kernel(i), 0, 10));
  }
  const ProfileReport report{.tiles = {tile(4, samples), tile(4, samples)}};
  for (const std::size_t limit : {1u, 7u, 40u, 79u, 80u, 500u}) {
    const QueryReport result = query(report, Query{.sample_limit = limit});
    ASSERT_EQ(result.samples.size(), std::min<std::size_t>(limit, 80));
    for (std::size_t i = 0; i < result.samples.size(); ++i) {
      EXPECT_EQ(result.samples[i].kernel, numbered_kernel(i % 40)) << "limit " << limit;
    }
  }
}

TEST(Query, LimitKeepsTheTopGroupsOnly) {
  const ProfileReport report{.tiles = {tile(0, {kernel_sample("small", 0, 5),
                                                kernel_sample("big", 5, 50),
                                                kernel_sample("mid", 50, 70)})}};
  const QueryReport one = query(report, Query{.limit = 1, .sample_limit = 3});
  EXPECT_EQ(names(one), std::vector<std::string>{"big"});
  EXPECT_EQ(one.matched_sample_count, 3u);
  // Listed samples are chosen apart from the limit: "mid" and "small" are listed though cut.
  ASSERT_EQ(one.samples.size(), 3u);
  EXPECT_EQ(one.samples[2].kernel, "small");

  const QueryReport zero = query(report, Query{.limit = 0, .sample_limit = 3});
  EXPECT_TRUE(zero.groups.empty());
  EXPECT_EQ(zero.matched_sample_count, 3u);
  EXPECT_EQ(zero.samples, one.samples);

  EXPECT_EQ(names(query(report, Query{.limit = 10})),
            (std::vector<std::string>{"big", "mid", "small"}));
}

TEST(Query, GroupsByMetadataValueOrderedByCoveredCycles) {
  const ProfileReport report{
      .tiles = {tile(0, {kernel_sample("add", 0, 10, {{"block", "0"}}),
                         kernel_sample("add", 10, 30, {{"block", "1"}})})}};
  const QueryReport result =
      query(report, Query{.group_by = GroupBy::Metadata, .metadata_key = "block"});
  ASSERT_EQ(names(result), (std::vector<std::string>{"1", "0"}));
  EXPECT_EQ(result.groups[0].phase_cycles, 20u);
  EXPECT_EQ(result.groups[1].phase_cycles, 10u);
  EXPECT_EQ(result.groups[0].dimensions,
            (Dimensions{{"metadataKey", "block"}, {"metadataValue", "1"}}));
}

TEST(Query, PlaceholderTextsShareTheirGroups) {
  const ProfileReport report{
      .tiles = {tile(0, {kernel_sample("", 0, 10), kernel_sample("(no kernel)", 10, 20),
                         kernel_sample("x", 20, 30, {{"shape", "(missing)"}}),
                         kernel_sample("x", 30, 40, {{"shape", "2x2"}})})}};
  const QueryReport kernels = query(report, Query{});
  // Both cover 20 cycles; the placeholder group starts first.
  ASSERT_EQ(names(kernels), (std::vector<std::string>{"(no kernel)", "x"}));
  EXPECT_EQ(kernels.groups[0].sample_count, 2u);

  const QueryReport shapes =
      query(report, Query{.group_by = GroupBy::Metadata, .metadata_key = "shape"});
  ASSERT_EQ(names(shapes), (std::vector<std::string>{"(missing)", "2x2"}));
  EXPECT_EQ(shapes.groups[0].sample_count, 3u);
  EXPECT_EQ(shapes.groups[0].dimensions,
            (Dimensions{{"metadataKey", "shape"}, {"metadataValue", "(missing)"}}));
}

TEST(Query, GroupsByEveryGrouping) {
  CycleSample a = plain(1, StepKind::Compute, "add", 0, 10);
  CycleSample b = plain(1, StepKind::Exchange, "", 10, 30);
  b.step.epoch = 1;
  CycleSample c = plain(2, StepKind::Compute, "add", 30, 60);
  // Two tile records with one physical number count as one tile.
  const ProfileReport report{.tiles = {tile(8, {a, b}), tile(2, {c}), tile(8, {c})}};
  struct Case {
    GroupBy group_by;
    std::vector<std::string> names;
    std::vector<std::size_t> tiles;
    std::vector<std::size_t> phases;
  };
  const std::vector<Case> cases{
      {GroupBy::Kind, {"compute", "exchange"}, {2, 1}, {2, 1}},
      {GroupBy::Kernel, {"add", "(no kernel)"}, {2, 1}, {2, 1}},
      {GroupBy::Operation, {"operation 1", "operation 2"}, {1, 2}, {2, 1}},
      {GroupBy::Phase, {"phase 2/0", "phase 1/1", "phase 1/0"}, {2, 1, 1}, {1, 1, 1}},
      {GroupBy::Tile, {"tile 8", "tile 2"}, {1, 1}, {3, 1}},
      {GroupBy::Metadata, {"(missing)"}, {2}, {3}},
  };
  for (const Case& c : cases) {
    const QueryReport result = query(report, Query{.group_by = c.group_by, .shared_clock = true});
    ASSERT_EQ(names(result), c.names);
    for (std::size_t i = 0; i < c.names.size(); ++i) {
      const GroupSummary& group = result.groups[i];
      EXPECT_EQ(group.tile_count, c.tiles[i]) << group.name;
      EXPECT_EQ(group.phase_count, c.phases[i]) << group.name;
    }
  }
  const QueryReport by_phase =
      query(report, Query{.group_by = GroupBy::Phase, .shared_clock = true});
  EXPECT_EQ(by_phase.groups.at(1).dimensions, (Dimensions{{"epoch", "1"}, {"phase", "1"}}));
  const QueryReport by_tile = query(report, Query{.group_by = GroupBy::Tile, .shared_clock = true});
  EXPECT_EQ(by_tile.groups.at(0).dimensions, (Dimensions{{"physicalTile", "8"}}));
  EXPECT_EQ(by_tile.groups.at(0).sample_count, 3u);
}

TEST(Query, OrdersGroupsByEverySortKey) {
  // "wide": 2 samples of 10 on two tiles in parallel. "long": one sample of 25.
  // "many": 3 back-to-back samples of 6. "Zed" ties "wide" on covered cycles, starting later.
  const ProfileReport report{
      .tiles = {tile(0, {kernel_sample("wide", 0, 10), kernel_sample("long", 10, 35),
                         kernel_sample("many", 35, 41), kernel_sample("many", 41, 47),
                         kernel_sample("many", 47, 53), kernel_sample("Zed", 53, 63)}),
                tile(1, {kernel_sample("wide", 0, 10)})}};
  struct Case {
    SortBy sort_by;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases{
      {SortBy::PhaseCycles, {"long", "many", "wide", "Zed"}},
      {SortBy::WorkCycles, {"long", "wide", "many", "Zed"}},
      {SortBy::MaximumCycles, {"long", "wide", "Zed", "many"}},
      {SortBy::Samples, {"many", "wide", "long", "Zed"}},
      {SortBy::Name, {"Zed", "long", "many", "wide"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(names(query(report, Query{.sort_by = c.sort_by})), c.names)
        << static_cast<int>(c.sort_by);
  }
  // Equal keys and equal first offsets fall back to the name.
  const ProfileReport twins{
      .tiles = {tile(0, {kernel_sample("b", 0, 10)}), tile(1, {kernel_sample("a", 0, 10)})}};
  EXPECT_EQ(names(query(twins, Query{})), (std::vector<std::string>{"a", "b"}));
}

TEST(Query, CoveredCyclesAndWork) {
  const ProfileReport parallel{
      .tiles = {tile(0, {kernel_sample("add", 0, 20)}), tile(1, {kernel_sample("add", 0, 30)})}};
  const QueryReport p = query(parallel, Query{});
  EXPECT_EQ(p.profile_span_cycles, 30u);
  ASSERT_EQ(p.groups.size(), 1u);
  EXPECT_EQ(p.groups[0].phase_cycles, 30u);
  EXPECT_EQ(p.groups[0].work_cycles, 50u);
  EXPECT_DOUBLE_EQ(p.groups[0].average_active_tiles, 1.6666666666666667);
  EXPECT_DOUBLE_EQ(p.groups[0].mean_cycles, 25.0);
  EXPECT_EQ(p.groups[0].p50_cycles, 20u);
  EXPECT_EQ(p.groups[0].p95_cycles, 20u);
  EXPECT_EQ(p.groups[0].maximum_cycles, 30u);

  const ProfileReport repeated{
      .tiles = {tile(0, {kernel_sample("gemm", 100, 110), kernel_sample("gemm", 110, 120)}),
                tile(1, {kernel_sample("gemm", 100, 108), kernel_sample("gemm", 108, 116)})}};
  const GroupSummary gemm = query(repeated, Query{}).groups.at(0);
  EXPECT_EQ(gemm.phase_cycles, 20u);
  EXPECT_EQ(gemm.work_cycles, 36u);
  EXPECT_DOUBLE_EQ(gemm.average_active_tiles, 1.8);
  EXPECT_EQ(gemm.first_offset, 0u);
  EXPECT_EQ(gemm.last_offset, 20u);
}

TEST(Query, FirstAndLastOffsetSpanAllSamples) {
  // The group is created by tile 0's sample at 50; tile 1 adds an earlier one.
  const ProfileReport report{
      .tiles = {tile(0, {sample(StepKind::Idle, 0, 50), kernel_sample("k", 50, 60)}),
                tile(1, {sample(StepKind::Idle, 0, 10), kernel_sample("k", 10, 20),
                         sample(StepKind::Idle, 20, 70), kernel_sample("k", 70, 75)})}};
  const QueryReport result = query(report, Query{.kind = StepKind::Compute});
  ASSERT_EQ(result.groups.size(), 1u);
  EXPECT_EQ(result.groups[0].first_offset, 10u);
  EXPECT_EQ(result.groups[0].last_offset, 75u);
}

TEST(Query, UsefulWorkRatios) {
  const std::vector<ProfileMetadata> five_of_ten{{"usefulCycles", "5"},
                                                 {"physicalWorkCycles", "10"}};
  const ProfileReport report{.tiles = {tile(0, {kernel_sample("gemm", 100, 120, five_of_ten)}),
                                       tile(1, {kernel_sample("gemm", 110, 150, five_of_ten)})}};
  const GroupSummary shared = query(report, Query{.shared_clock = true}).groups.at(0);
  EXPECT_EQ(shared.estimated_work_cycles, 60u);
  EXPECT_DOUBLE_EQ(shared.useful_cycles, 10.0);
  EXPECT_DOUBLE_EQ(shared.useful_utilization.value(), 0.16666666666666666);
  EXPECT_DOUBLE_EQ(shared.work_lane_occupancy.value(), 0.5);
  EXPECT_DOUBLE_EQ(shared.device_useful_utilization.value(), 0.1);

  // The crop cuts the first sample to 10 cycles; a cut sample declares no useful work.
  const GroupSummary cropped = query(report, Query{}).groups.at(0);
  EXPECT_EQ(cropped.work_cycles, 50u);
  EXPECT_EQ(cropped.estimated_work_cycles, 40u);
  EXPECT_DOUBLE_EQ(cropped.useful_cycles, 5.0);
  EXPECT_DOUBLE_EQ(cropped.useful_utilization.value(), 0.125);
  EXPECT_DOUBLE_EQ(cropped.work_lane_occupancy.value(), 0.5);

  // Tiles without matched samples still count in the device's capacity.
  ProfileReport wider = report;
  wider.tiles.push_back(tile(2, {}));
  wider.tiles.push_back(tile(3, {}));
  EXPECT_DOUBLE_EQ(query(wider, Query{.shared_clock = true})
                       .groups.at(0)
                       .device_useful_utilization.value(),
                   0.05);
}

TEST(Query, RatiosAbsentWithoutUsableAnnotations) {
  const auto annotated_kernel = [](std::uint32_t start, std::string useful,
                                    std::string physical) {
    return kernel_sample("k", start, start + 10,
                         {{"usefulCycles", std::move(useful)},
                          {"physicalWorkCycles", std::move(physical)}});
  };
  const ProfileReport unusable{
      .tiles = {tile(0, {annotated_kernel(0, "12", "8"), annotated_kernel(10, "NaN", "8"),
                         annotated_kernel(20, "12 ", "20"), annotated_kernel(30, "inf", "inf"),
                         kernel_sample("k", 40, 50)})}};
  const GroupSummary none = query(unusable, Query{}).groups.at(0);
  EXPECT_EQ(none.useful_cycles, 0.0);
  EXPECT_EQ(none.estimated_work_cycles, 0u);
  EXPECT_FALSE(none.useful_utilization.has_value());
  EXPECT_FALSE(none.work_lane_occupancy.has_value());
  EXPECT_FALSE(none.device_useful_utilization.has_value());

  const ProfileReport zero{.tiles = {tile(
                               0, {kernel_sample("k", 0, 10, {{"usefulCycles", "0"},
                                                              {"physicalWorkCycles", "0"}})})}};
  const GroupSummary z = query(zero, Query{}).groups.at(0);
  EXPECT_EQ(z.useful_utilization, 0.0);
  EXPECT_EQ(z.device_useful_utilization, 0.0);
  EXPECT_FALSE(z.work_lane_occupancy.has_value());
}

TEST(Query, StepsThatDifferOnlyInLocalIndexGroupAlike) {
  CycleSample a = plain(1, StepKind::Compute, "k", 0, 10);
  CycleSample b = a;
  b.step.local_index = 99;
  const ProfileReport one{.tiles = {tile(0, {a})}};
  const ProfileReport other{.tiles = {tile(0, {b})}};
  const Query query_all{.group_by = GroupBy::Operation, .sample_limit = 1};
  EXPECT_EQ(query(one, query_all), query(other, query_all));
}

}  // namespace
