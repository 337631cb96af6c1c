#include "invariants/invariants.hpp"

#include <norq_profile_generate/generate.hpp>

#include <gtest/gtest.h>

#include <builders.hpp>

#include <tuple>

namespace {

using norq_profile::generate::GenerateOptions;
using norq_profile::generate::generate_profile;

// tiles, steps per tile, seed
class GeneratedProfile : public ::testing::TestWithParam<std::tuple<std::uint32_t, std::uint32_t, std::uint64_t>> {};

TEST_P(GeneratedProfile, EveryAnalysisKeepsItsInvariants) {
  const auto [tiles, steps, seed] = GetParam();
  const auto report = generate_profile({.tiles = tiles, .steps = steps, .seed = seed});
  const auto faults = norq_invariants::check_all(report);
  EXPECT_TRUE(faults.empty()) << faults.text();
  // Guards against checks that hold only because there was nothing to check.
  EXPECT_FALSE(norq_profile::exchange_boundaries(report).empty());
  EXPECT_FALSE(norq_profile::query(report, {}).groups.empty());
}

INSTANTIATE_TEST_SUITE_P(Seeds, GeneratedProfile,
                         ::testing::Values(std::tuple{1u, 60u, 1u}, std::tuple{2u, 200u, 2u},
                                           std::tuple{7u, 150u, 3u}, std::tuple{16u, 200u, 4u},
                                           std::tuple{16u, 400u, 1234u}, std::tuple{48u, 120u, 99u},
                                           std::tuple{128u, 40u, 20240611u}));

// The checks themselves must hold on the shapes the generator never makes.
TEST(HandBuiltProfile, EdgeShapesKeepTheInvariants) {
  using namespace norq_test;
  const std::vector<norq_profile::ProfileReport> reports = {
      {},
      {.clock_hz = 0, .tiles = {tile(0, {}), tile(1, {}), tile(2, {})}},
      // Counters wrap inside a sample and between tiles; one tile enters long after the other.
      {.clock_hz = 1'500'000'000,
       .tiles = {tile(9, {plain(0, StepKind::Exchange, "", 4'294'967'291u, 5),
                          plain(1, StepKind::Compute, "add", 5, 15)}),
                 tile(3, {plain(1, StepKind::Compute, "add", 2'000'000'000u, 2'000'000'100u),
                          plain(0, StepKind::Exchange, "", 2'000'000'100u, 2'000'000'100u)})}},
      // The same physical tile twice, zero-length and reversed activities.
      {.clock_hz = 1,
       .tiles = {tile(4, {CycleSample{.step = {.kind = StepKind::Exchange,
                                               .exchange_activities = {{.kind = ExchangeActivityKind::Send, .start_cycle = 9, .end_cycle = 3},
                                                                       {.kind = ExchangeActivityKind::Receive, .start_cycle = 0, .end_cycle = 40}},
                                               .exchange_event_cycles = 20},
                                      .start_cycle = 10,
                                      .end_cycle = 50}}),
                 tile(4, {plain(2, StepKind::Compute, "repeat-remainder", 0, 100)})}},
  };
  for (std::size_t i = 0; i < reports.size(); ++i) {
    const auto faults = norq_invariants::check_all(reports[i]);
    EXPECT_TRUE(faults.empty()) << "report " << i << ":\n" << faults.text();
  }
}

}  // namespace
