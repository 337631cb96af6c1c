#include <norq_profile/norq_profile.hpp>
#include <norq_profile_generate/generate.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace {

using namespace norq_profile;
using norq_profile::generate::GenerateOptions;
using norq_profile::generate::generate_profile;

bool has_entry(const CycleSample& sample, std::string_view name, std::string_view value) {
  return std::any_of(sample.step.metadata.begin(), sample.step.metadata.end(),
                     [&](const ProfileMetadata& m) { return m.name == name && m.value == value; });
}

bool has_name(const CycleSample& sample, std::string_view name) {
  return std::any_of(sample.step.metadata.begin(), sample.step.metadata.end(),
                     [&](const ProfileMetadata& m) { return m.name == name; });
}

// FNV-1a over every field, so a change in any generated value changes the fingerprint.
class Fingerprint {
 public:
  void add(std::uint64_t value) {
    for (int i = 0; i < 8; ++i) byte(static_cast<unsigned char>(value >> (8 * i)));
  }
  void add(std::string_view text) {
    add(text.size());
    for (char c : text) byte(static_cast<unsigned char>(c));
  }
  std::uint64_t value() const { return hash_; }

 private:
  void byte(unsigned char b) { hash_ = (hash_ ^ b) * 0x100000001b3ULL; }
  std::uint64_t hash_ = 0xcbf29ce484222325ULL;
};

std::uint64_t fingerprint(const ProfileReport& report) {
  Fingerprint f;
  f.add(report.clock_hz);
  for (const TileProfile& tile : report.tiles) {
    f.add(tile.physical_tile);
    for (const CycleSample& s : tile.samples) {
      f.add(s.start_cycle);
      f.add(s.end_cycle);
      f.add(s.step.local_index);
      f.add(s.step.phase);
      f.add(s.step.epoch);
      f.add(s.step.operation);
      f.add(static_cast<std::uint64_t>(s.step.kind));
      f.add(s.step.kernel);
      f.add(s.step.exchange_event_cycles);
      for (const ProfileMetadata& m : s.step.metadata) {
        f.add(m.name);
        f.add(m.value);
      }
      for (const ProfileExchangeActivity& a : s.step.exchange_activities) {
        f.add(a.fanout);
        f.add(a.paired);
        f.add(static_cast<std::uint64_t>(a.kind));
        f.add(a.start_cycle);
        f.add(a.end_cycle);
      }
    }
  }
  return f.value();
}

TEST(GenerateProfile, HasTheRequestedShape) {
  for (auto [tiles, steps] : {std::pair{0u, 10u}, {1u, 1u}, {3u, 0u}, {7u, 2u}, {16u, 200u}, {5u, 3001u}}) {
    SCOPED_TRACE(testing::Message() << tiles << " tiles x " << steps << " steps");
    const ProfileReport report = generate_profile({.tiles = tiles, .steps = steps, .seed = 3, .clock_hz = 1000});
    EXPECT_EQ(report.clock_hz, 1000u);
    ASSERT_EQ(report.tiles.size(), tiles);
    for (std::uint32_t t = 0; t < tiles; ++t) {
      EXPECT_EQ(report.tiles[t].physical_tile, t);
      EXPECT_EQ(report.tiles[t].samples.size(), steps);
    }
  }
}

TEST(GenerateProfile, IsDeterministicForASeed) {
  const GenerateOptions options{.tiles = 6, .steps = 300, .seed = 42};
  EXPECT_EQ(generate_profile(options), generate_profile(options));
  GenerateOptions other = options;
  other.seed = 43;
  EXPECT_NE(generate_profile(options), generate_profile(other));
}

// The same options give the same profile with every compiler and standard library; demos,
// golden outputs and benchmarks rely on it. Change this value only on purpose.
TEST(GenerateProfile, IsStableAcrossPlatforms) {
  EXPECT_EQ(fingerprint(generate_profile({.tiles = 8, .steps = 120, .seed = 1})), 3173904350245897025u);
}

TEST(GenerateProfile, LooksLikeARealProgram) {
  const ProfileReport report = generate_profile({.tiles = 24, .steps = 1500, .seed = 7});

  std::set<StepKind> kinds;
  std::set<std::string> kernels;
  std::set<std::string> operations;
  std::set<std::uint32_t> epochs;
  std::set<ExchangeActivityKind> activity_kinds;
  std::size_t compute = 0, compute_metadata = 0, barriers = 0, described = 0, repeat_markers = 0,
              inactive = 0, useful = 0, invoked = 0, wrapped_tiles = 0, zero_length = 0;
  for (const TileProfile& tile : report.tiles) {
    bool wrapped = false;
    for (std::size_t i = 0; i < tile.samples.size(); ++i) {
      const CycleSample& s = tile.samples[i];
      kinds.insert(s.step.kind);
      epochs.insert(s.step.epoch);
      operations.insert(s.step.operation);
      if (duration(s) == 0) ++zero_length;
      if (s.end_cycle < s.start_cycle || (i > 0 && s.start_cycle < tile.samples[i - 1].start_cycle)) wrapped = true;
      if (s.step.kernel == "repeat-remainder") ++repeat_markers;
      if (s.step.kind == StepKind::Compute && s.step.kernel != "repeat-remainder") {
        ++compute;
        compute_metadata += s.step.metadata.size();
        kernels.insert(s.step.kernel);
        if (has_entry(s, "active", "false")) ++inactive;
        if (has_name(s, "usefulCycles") && has_name(s, "physicalWorkCycles")) ++useful;
        if (has_name(s, "invocations")) ++invoked;
      }
      if (s.step.kind == StepKind::Synchronization && has_entry(s, "reason", "ExchangeBarrier")) ++barriers;
      if (s.step.kind == StepKind::Exchange && s.step.exchange_event_cycles != 0) {
        ++described;
        for (const ProfileExchangeActivity& a : s.step.exchange_activities) activity_kinds.insert(a.kind);
      }
    }
    if (wrapped) ++wrapped_tiles;
  }

  EXPECT_EQ(kinds.size(), 4u);
  EXPECT_GE(kernels.size(), 6u);
  EXPECT_GE(operations.size(), 20u);
  EXPECT_GE(epochs.size(), 3u);
  EXPECT_EQ(activity_kinds.size(), 3u);
  EXPECT_GT(barriers, 0u);
  EXPECT_GT(described, 0u);
  EXPECT_GT(repeat_markers, 0u);
  EXPECT_GT(inactive, 0u);
  EXPECT_GT(useful, compute / 10);
  EXPECT_GT(invoked, 0u);
  EXPECT_GT(wrapped_tiles, 0u);
  EXPECT_EQ(zero_length, 0u);
  const double per_sample = static_cast<double>(compute_metadata) / static_cast<double>(compute);
  EXPECT_GT(per_sample, 2.0);
  EXPECT_LT(per_sample, 4.0);

  // Barriers see skewed arrivals and run past their schedule, and phase numbers recur per epoch.
  const auto boundaries = exchange_boundaries(report);
  ASSERT_GT(boundaries.size(), 10u);
  std::size_t skewed = 0, scheduled = 0;
  std::set<std::uint32_t> phases_of_first_epoch, repeated;
  for (const ExchangeBoundary& b : boundaries) {
    if (b.arrival_spread_cycles > 0) ++skewed;
    if (b.scheduled_event_cycles) ++scheduled;
    if (b.epoch == 0) phases_of_first_epoch.insert(b.phase);
    if (b.epoch > 0 && phases_of_first_epoch.contains(b.phase)) repeated.insert(b.phase);
  }
  EXPECT_GT(skewed, boundaries.size() * 9 / 10);
  EXPECT_GT(scheduled, boundaries.size() * 9 / 10);
  EXPECT_FALSE(repeated.empty());
}

// The common time line must hold the whole run: samples keep their order on each tile.
TEST(GenerateProfile, FitsOnTheCommonTimeLine) {
  const ProfileReport report = generate_profile({.tiles = 12, .steps = 800, .seed = 11});
  const std::uint32_t origin = cycle_origin(report);
  for (const TileProfile& tile : report.tiles) {
    std::uint64_t previous_end = 0;
    for (const CycleSample& s : tile.samples) {
      const std::uint64_t start = static_cast<std::uint32_t>(s.start_cycle - origin);
      EXPECT_GE(start, previous_end);
      previous_end = start + duration(s);
    }
  }
}

}  // namespace
