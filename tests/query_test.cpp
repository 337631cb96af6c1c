#include <norq_profile/query.hpp>

#include "builders.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
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

}  // namespace
