#include <norq_profile/calibration.hpp>

#include "builders.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace norq_profile;

CycleSample compute(std::string kernel, std::uint32_t start, std::uint32_t end,
                    std::vector<ProfileMetadata> metadata = {}) {
  return {.step = {.kind = StepKind::Compute, .kernel = std::move(kernel), .metadata = std::move(metadata)},
          .start_cycle = start,
          .end_cycle = end};
}

ProfileReport profile(std::vector<CycleSample> samples, std::uint64_t clock_hz = 1500000000) {
  return {.clock_hz = clock_hz, .tiles = {norq_test::tile(0, std::move(samples))}};
}

CalibrationDatabase calibrate(const std::vector<ProfileReport>& reports) {
  return calibrate_profiles(reports, "norq21", "build-1");
}

std::string failure(const std::vector<ProfileReport>& reports) {
  try {
    calibrate(reports);
  } catch (const CalibrationError& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(Calibration, RejectsNoProfilesAndMixedClocks) {
  EXPECT_EQ(failure({}), "at least one profile is required");
  // Checked before any sample is read: neither profile has a compute sample.
  EXPECT_EQ(failure({ProfileReport{.clock_hz = 1000000000}, ProfileReport{.clock_hz = 1500000000}}),
            "profile clock frequencies differ");
  EXPECT_EQ(failure({profile({}, 7), profile({}, 7), profile({}, 8)}), "profile clock frequencies differ");
}

TEST(Calibration, WithoutComputeSamplesGivesAnEmptyDatabase) {
  const std::vector<ProfileReport> reports{
      ProfileReport{.clock_hz = 1000}, profile({norq_test::sample(StepKind::Exchange, 0, 10),
                                                norq_test::sample(StepKind::Synchronization, 10, 20),
                                                norq_test::sample(StepKind::Idle, 20, 30),
                                                compute("", 30, 40)},
                                               1000)};
  EXPECT_EQ(calibrate(reports), (CalibrationDatabase{.schema_version = 1,
                                                    .target = "norq21",
                                                    .build_id = "build-1",
                                                    .clock_hz = 1000}));
}

TEST(Calibration, MergedCallsNeedTheUniformMarker) {
  const auto db = calibrate({profile({
      compute("reduction", 0, 1000, {{"invocations", "2"}}),
      compute("reduction", 0, 1000, {{"invocations", "2"}, {"uniformInvocations", "false"}}),
      compute("reduction", 0, 1000, {{"invocations", "2"}, {"uniformInvocations", "True"}}),
      compute("reduction", 1000, 1600),
  })});
  ASSERT_EQ(db.measurements.size(), 1u);
  EXPECT_EQ(db.measurements[0], (CalibrationMeasurement{.key = {.kernel = "reduction"},
                                                        .samples = 1,
                                                        .minimum_cycles = 600,
                                                        .median_cycles = 600,
                                                        .p95_cycles = 600,
                                                        .maximum_cycles = 600}));
}

TEST(Calibration, DividesUniformCallsAndKeepsDescriptiveMetadata) {
  const std::vector<ProfileMetadata> metadata{{"block", "0"},
                                              {"kernelSpec", "Gemm"},
                                              {"invocations", "2"},
                                              {"uniformInvocations", "true"},
                                              {"reason", "OperatorKernel"}};
  const auto db = calibrate({profile({compute("gemm-f16", 10, 50, metadata), compute("gemm-f16", 100, 160, metadata)})});
  ASSERT_EQ(db.measurements.size(), 1u);
  EXPECT_EQ(db.measurements[0],
            (CalibrationMeasurement{.key = {.kernel = "gemm-f16", .dimensions = {{"block", "0"}, {"kernelSpec", "Gemm"}}},
                                    .samples = 2,
                                    .minimum_cycles = 20,
                                    .median_cycles = 20,
                                    .p95_cycles = 20,
                                    .maximum_cycles = 30}));
}

struct InvocationCase {
  std::string name;
  std::string invocations;
  bool uniform;
  std::optional<std::uint32_t> per_call;  // absent: the sample is left out

  friend void PrintTo(const InvocationCase& c, std::ostream* out) { *out << c.name; }
};

class CalibrationInvocations : public testing::TestWithParam<InvocationCase> {};

// A 100-cycle sample under each spelling of the call count.
TEST_P(CalibrationInvocations, CountsCallsPerSample) {
  const InvocationCase& c = GetParam();
  std::vector<ProfileMetadata> metadata{{"invocations", c.invocations}};
  if (c.uniform) metadata.push_back({"uniformInvocations", "true"});
  const auto db = calibrate({profile({compute("k", 0, 100, metadata)})});
  if (!c.per_call) {
    EXPECT_TRUE(db.measurements.empty());
    return;
  }
  ASSERT_EQ(db.measurements.size(), 1u);
  EXPECT_EQ(db.measurements[0].minimum_cycles, *c.per_call);
  EXPECT_TRUE(db.measurements[0].key.dimensions.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, CalibrationInvocations,
    testing::Values(InvocationCase{"ThreeRoundsUp", "3", true, 34},
                    InvocationCase{"Four", "4", true, 25},
                    InvocationCase{"LeadingPlus", "+2", true, 50},
                    InvocationCase{"LeadingZeros", "0002", true, 50},
                    InvocationCase{"LargestCount", "4294967295", true, 1},
                    InvocationCase{"MergedWithoutMarkerIsLeftOut", "2", false, std::nullopt},
                    InvocationCase{"ZeroIsOne", "0", false, 100},
                    InvocationCase{"OneIsOne", "1", false, 100},
                    InvocationCase{"Letters", "abc", false, 100},
                    InvocationCase{"Negative", "-2", false, 100},
                    InvocationCase{"LeadingSpace", " 2", false, 100},
                    InvocationCase{"TrailingSpace", "2 ", false, 100},
                    InvocationCase{"Empty", "", false, 100},
                    InvocationCase{"PlusAlone", "+", false, 100},
                    InvocationCase{"DoublePlus", "++2", false, 100},
                    InvocationCase{"Fraction", "2.0", false, 100},
                    InvocationCase{"Hexadecimal", "0x2", false, 100},
                    InvocationCase{"Beyond32Bits", "4294967296", false, 100},
                    InvocationCase{"FarBeyond32Bits", "99999999999999999999999", false, 100}),
    [](const testing::TestParamInfo<InvocationCase>& info) { return info.param.name; });

TEST(Calibration, OnlyTheFirstInvocationsEntryCounts) {
  const auto db = calibrate({profile({compute("k", 0, 100, {{"invocations", "abc"}, {"invocations", "4"}}),
                                      compute("k", 0, 100, {{"invocations", "4"}, {"invocations", "1"}})})});
  ASSERT_EQ(db.measurements.size(), 1u);
  EXPECT_EQ(db.measurements[0].samples, 1u);
  EXPECT_EQ(db.measurements[0].minimum_cycles, 100u);
}

TEST(Calibration, ReadsRawWrappingDurations) {
  const auto db = calibrate({profile({compute("wrap", 4294967290u, 10), compute("zero", 55, 55)})});
  ASSERT_EQ(db.measurements.size(), 2u);
  EXPECT_EQ(db.measurements[0].key.kernel, "wrap");
  EXPECT_EQ(db.measurements[0].minimum_cycles, 16u);
  EXPECT_EQ(db.measurements[1].key.kernel, "zero");
  EXPECT_EQ(db.measurements[1].maximum_cycles, 0u);
}

TEST(Calibration, DimensionsDropExcludedNamesAndTakeTheLastRepeat) {
  const auto db = calibrate({profile({compute("k", 0, 10,
                                              {{"shape", "a"},
                                               {"value", "1"},
                                               {"usefulCycles", "5"},
                                               {"physicalWorkCycles", "9"},
                                               {"workEstimateBasis", "x"},
                                               {"Reason", "kept"},
                                               {"shape", "b"},
                                               {"", "empty name"}})})});
  ASSERT_EQ(db.measurements.size(), 1u);
  EXPECT_EQ(db.measurements[0].key.dimensions,
            (Dimensions{{"", "empty name"}, {"Reason", "kept"}, {"shape", "b"}}));
}

// The same combination in any metadata order is one key; any kept difference is another.
TEST(Calibration, GroupsByKernelAndDimensionsInKeyOrder) {
  const auto db = calibrate({
      profile({compute("gemm", 0, 5), compute("add", 0, 30, {{"block", "1"}}),
               compute("add", 0, 10, {{"block", "0"}, {"tile", "x"}}), compute("add", 0, 7)}),
      profile({compute("add", 0, 20, {{"tile", "x"}, {"block", "0"}}),
               compute("add", 0, 40, {{"tile", "x"}, {"invocations", "1"}, {"block", "0"}})}),
  });
  std::vector<CalibrationKey> keys;
  for (const CalibrationMeasurement& m : db.measurements) keys.push_back(m.key);
  EXPECT_EQ(keys, (std::vector<CalibrationKey>{{"add", {}},
                                               {"add", {{"block", "0"}, {"tile", "x"}}},
                                               {"add", {{"block", "1"}}},
                                               {"gemm", {}}}));
  ASSERT_EQ(db.measurements.size(), 4u);
  EXPECT_EQ(db.measurements[1], (CalibrationMeasurement{.key = keys[1],
                                                        .samples = 3,
                                                        .minimum_cycles = 10,
                                                        .median_cycles = 20,
                                                        .p95_cycles = 20,
                                                        .maximum_cycles = 40}));
}

TEST(Calibration, PercentilesTakeTheLowerNearestRank) {
  std::vector<CycleSample> samples;
  for (std::uint32_t cycles = 20; cycles >= 1; --cycles) samples.push_back(compute("k", 0, cycles));
  const auto db = calibrate({profile(samples)});
  ASSERT_EQ(db.measurements.size(), 1u);
  EXPECT_EQ(db.measurements[0].samples, 20u);
  EXPECT_EQ(db.measurements[0].minimum_cycles, 1u);
  EXPECT_EQ(db.measurements[0].median_cycles, 10u);  // index 19 * 50 / 100 = 9
  EXPECT_EQ(db.measurements[0].p95_cycles, 19u);     // index 19 * 95 / 100 = 18
  EXPECT_EQ(db.measurements[0].maximum_cycles, 20u);
}

TEST(CalibrationKey, OrdersByKernelThenDimensionPairs) {
  const std::vector<CalibrationKey> ascending{
      {"B", {{"z", "z"}}},
      {"a", {}},
      {"a", {{"a", "1"}}},
      {"a", {{"a", "1"}, {"b", ""}}},  // a proper prefix sorts first
      {"a", {{"a", "2"}}},             // the value decides before a longer map does
      {"a", {{"b", ""}}},              // names before values
      {"ab", {}},
      {"z", {}},
      {"\xc3\xa9", {}},                // bytes compare unsigned: UTF-8 sorts after ASCII
  };
  for (std::size_t i = 0; i + 1 < ascending.size(); ++i) {
    EXPECT_LT(ascending[i], ascending[i + 1]) << "at " << i;
    EXPECT_GT(ascending[i + 1], ascending[i]) << "at " << i;
  }
  EXPECT_EQ(ascending[2], (CalibrationKey{"a", {{"a", "1"}}}));
}

}  // namespace
