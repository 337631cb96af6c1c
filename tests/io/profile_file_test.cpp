#include <norq_profile_io/profile_file.hpp>

#include <gtest/gtest.h>

#include "builders.hpp"

namespace {

using namespace norq_profile;
using norq_profile::io::parse_profile;
using norq_profile::io::profile_to_json;

TEST(ProfileFile, RoundTripsInMemory) {
  const ProfileReport report{.clock_hz = 1'000, .tiles = {norq_test::tile(3, {norq_test::plain(1, StepKind::Compute, "k", 1, 2)})}};
  EXPECT_EQ(parse_profile(profile_to_json(report), "x.json"), report);
}

}  // namespace
