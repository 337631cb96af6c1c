#include <norq_profile_report/report.hpp>

#include <norq_profile/norq_profile.hpp>

#include "builders.hpp"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace norq_profile;
using norq_profile::report::chrome_trace_json;

struct Slice {
  std::string name;
  std::string category;
  double ts = 0;
  double dur = 0;
  std::string args;  // minified JSON of the arguments
};

struct Trace {
  std::map<std::int64_t, std::string> track_names;  // tid -> name
  std::map<std::int64_t, std::vector<Slice>> slices;
  std::string other;
};

Trace parse(const std::string& json) {
  simdjson::dom::parser parser;
  const simdjson::dom::element document = parser.parse(json);
  Trace trace;
  trace.other = simdjson::minify(document["otherData"]);
  for (const simdjson::dom::element event : document["traceEvents"].get_array()) {
    const std::string_view phase = event["ph"];
    EXPECT_EQ(std::int64_t(event["pid"]), 1);
    const std::int64_t tid = event["tid"];
    if (phase == "M") {
      if (std::string_view(event["name"]) == "thread_name") trace.track_names[tid] = std::string(event["args"]["name"]);
      continue;
    }
    EXPECT_EQ(phase, "X");
    trace.slices[tid].push_back({std::string(std::string_view(event["name"])), std::string(std::string_view(event["cat"])),
                                 double(event["ts"]), double(event["dur"]), simdjson::minify(event["args"])});
  }
  return trace;
}

CycleSample step(StepKind kind, std::string operation, std::string kernel, std::uint32_t start, std::uint32_t end) {
  return {.step = {.operation = std::move(operation), .kind = kind, .kernel = std::move(kernel)},
          .start_cycle = start,
          .end_cycle = end};
}

std::string numbered(std::string_view prefix, std::uint32_t n) {
  std::string name(prefix);
  name += std::to_string(n);
  return name;
}

// One microsecond per cycle keeps the expected times exact.
ProfileReport small_profile() {
  CycleSample exchange = step(StepKind::Exchange, "exchange \"x\"", "", 4'294'967'286u, 10);  // wraps
  exchange.step.phase = 3;
  exchange.step.epoch = 1;
  exchange.step.exchange_event_cycles = 12;
  CycleSample gemm = step(StepKind::Compute, "matmul", "gemm", 10, 40);
  gemm.step.metadata = {{"block", "1"}, {"block", "2"}, {"bad\xFF", "v"}};
  return {.clock_hz = 1'000'000,
          .tiles = {norq_test::tile(7, {exchange, gemm}),
                    norq_test::tile(2, {step(StepKind::Compute, "", "", 0, 5), step(StepKind::Idle, "", "", 5, 5)}),
                    norq_test::tile(7, {step(StepKind::Compute, "op", "k", 20, 30)}),
                    norq_test::tile(9, {})}};
}

TEST(ChromeTrace, SmallProfileGivesOneSlicePerSampleOnItsTileTrack) {
  const Trace trace = parse(chrome_trace_json(small_profile()));
  ASSERT_EQ(trace.track_names.size(), 4u);
  EXPECT_EQ(trace.track_names.at(7), "tile 7");
  EXPECT_EQ(trace.track_names.at(2), "tile 2");
  EXPECT_EQ(trace.track_names.at(9), "tile 9");
  // The second listing of tile 7 gets a track of its own past the largest tile number.
  EXPECT_EQ(trace.track_names.at(10), "tile 7 (listed 2 times)");

  ASSERT_EQ(trace.slices.at(7).size(), 2u);
  const Slice& exchange = trace.slices.at(7)[0];
  EXPECT_EQ(exchange.name, "exchange \"x\"");  // no kernel: named by operation
  EXPECT_EQ(exchange.category, "exchange");
  EXPECT_EQ(exchange.ts, 0.0);   // the origin is this wrapped entry
  EXPECT_EQ(exchange.dur, 20.0);  // across the counter wrap
  EXPECT_EQ(exchange.args,
            R"({"kind":"exchange","operation":"exchange \"x\"","kernel":"","phase":3,"epoch":1,"cycles":20,)"
            R"("start_offset_cycles":0,"exchange_event_cycles":12})");
  const Slice& gemm = trace.slices.at(7)[1];
  EXPECT_EQ(gemm.name, "gemm");
  EXPECT_EQ(gemm.ts, 20.0);
  EXPECT_EQ(gemm.dur, 30.0);
  EXPECT_NE(gemm.args.find(R"j("metadata":{"block":"1","block (2)":"2","bad)j" "\xEF\xBF\xBD" R"j(":"v"})j"),
            std::string::npos)
      << gemm.args;

  ASSERT_EQ(trace.slices.at(2).size(), 2u);
  EXPECT_EQ(trace.slices.at(2)[0].name, "compute");  // neither kernel nor operation
  EXPECT_EQ(trace.slices.at(2)[0].ts, 10.0);
  EXPECT_EQ(trace.slices.at(2)[0].dur, 5.0);
  EXPECT_EQ(trace.slices.at(2)[1].name, "idle");
  EXPECT_EQ(trace.slices.at(2)[1].dur, 0.0);
  ASSERT_EQ(trace.slices.at(10).size(), 1u);
  EXPECT_EQ(trace.slices.at(10)[0].ts, 30.0);
  EXPECT_FALSE(trace.slices.contains(9));
}

TEST(ChromeTrace, UnknownClockWritesCyclesAndSaysSo) {
  ProfileReport profile = small_profile();
  profile.clock_hz = 0;
  const Trace trace = parse(chrome_trace_json(profile));
  EXPECT_NE(trace.other.find("\"time_unit\":\"cycles (clock frequency unknown)\""), std::string::npos);
  EXPECT_EQ(trace.slices.at(7)[1].ts, 20.0);
  EXPECT_EQ(trace.slices.at(7)[1].dur, 30.0);
}

TEST(ChromeTrace, EmptyProfileIsAValidTrace) {
  const Trace none = parse(chrome_trace_json({}));
  EXPECT_TRUE(none.track_names.empty());
  EXPECT_TRUE(none.slices.empty());
  const Trace silent = parse(chrome_trace_json({.clock_hz = 5, .tiles = {norq_test::tile(1, {})}}));
  EXPECT_EQ(silent.track_names.size(), 1u);
  EXPECT_TRUE(silent.slices.empty());
}

// A realistic clock and many tiles: every sample, in order, at its place on the common time line.
TEST(ChromeTrace, EverySampleAtItsTimeOnARealClock) {
  ProfileReport profile{.clock_hz = 1'850'000'000};
  for (std::uint32_t t = 0; t < 40; ++t) {
    std::vector<CycleSample> samples;
    std::uint32_t at = 4'294'000'000u + t * 977u;  // entries skewed and the counters wrap
    for (std::uint32_t s = 0; s < 200; ++s) {
      const std::uint32_t length = 1 + (s * 7919u + t * 104729u) % 5000u;
      const StepKind kind = s % 4 == 3 ? StepKind::Exchange : StepKind::Compute;
      samples.push_back(step(kind, numbered("op", s % 9), kind == StepKind::Compute ? numbered("k", s % 5) : "",
                             at, at + length));
      at += length + s % 3;
    }
    profile.tiles.push_back(norq_test::tile(1000 + t, std::move(samples)));
  }
  const Trace trace = parse(chrome_trace_json(profile));
  const std::uint32_t origin = cycle_origin(profile);
  const double us_per_cycle = 1e6 / 1.85e9;
  for (const TileProfile& tile : profile.tiles) {
    ASSERT_EQ(trace.track_names.at(tile.physical_tile), "tile " + std::to_string(tile.physical_tile));
    const std::vector<Slice>& slices = trace.slices.at(tile.physical_tile);
    ASSERT_EQ(slices.size(), tile.samples.size());
    for (std::size_t i = 0; i < slices.size(); ++i) {
      const CycleSample& sample = tile.samples[i];
      const double start = static_cast<std::uint32_t>(sample.start_cycle - origin) * us_per_cycle;
      EXPECT_NEAR(slices[i].ts, start, 1e-9 * std::max(1.0, start)) << tile.physical_tile << " #" << i;
      EXPECT_NEAR(slices[i].dur, duration(sample) * us_per_cycle, 1e-12 * 5000);
      EXPECT_EQ(slices[i].name, sample.step.kernel.empty() ? sample.step.operation : sample.step.kernel);
    }
  }
}

}  // namespace
