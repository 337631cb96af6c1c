#include "ratio_reporter.hpp"

#include <algorithm>
#include <cstdio>
#include <string>

namespace norq_bench {

namespace {

constexpr const char* floor_family = "floor";

// The tile count is the benchmark's one argument ("query/default/1500": family "query/default").
bool tile_count(const std::string& args, long& tiles) {
  try {
    std::size_t used = 0;
    tiles = std::stol(args, &used);
    return used == args.size();
  } catch (...) {
    return false;
  }
}

}  // namespace

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.error_occurred) continue;
    const bool aggregate = run.run_type == Run::RT_Aggregate;
    // With repetitions the median stands for the family; other aggregates are spread, not speed.
    if (aggregate && run.aggregate_name != "median") continue;
    const auto rate = run.counters.find("items_per_second");
    if (rate == run.counters.end()) continue;
    const std::string& family = run.run_name.function_name;
    long tiles = 0;
    if (!tile_count(run.run_name.args, tiles)) continue;
    if (std::find(families_.begin(), families_.end(), family) == families_.end()) families_.push_back(family);
    Measured& slot = measured_[family][tiles];
    if (aggregate || !slot.aggregate) slot = {rate->second.value, aggregate};
  }
}

void RatioReporter::Finalize() {
  ConsoleReporter::Finalize();
  const auto floor = measured_.find(floor_family);
  if (floor == measured_.end()) {
    std::printf("\nNo floor was measured in this run, so no ratios (run without a filter, or include floor).\n");
    return;
  }
  std::vector<long> sizes;
  for (const auto& [tiles, m] : floor->second) sizes.push_back(tiles);
  const long largest = sizes.back();

  std::printf("\nTime per sample as a ratio to the floor measured in this run (CPU time; lower is faster)\n");
  std::printf("%-34s", "benchmark");
  for (long tiles : sizes) std::printf(" %9ld", tiles);
  std::printf(" %12s %8s %10s  %s\n", "Msamples/s", "scaling", "target", "");
  std::size_t missed = 0;
  for (const std::string& family : families_) {
    const auto& by_size = measured_[family];
    std::printf("%-34s", family.c_str());
    for (long tiles : sizes) {
      const auto m = by_size.find(tiles);
      const auto f = floor->second.find(tiles);
      if (m == by_size.end() || m->second.samples_per_second <= 0.0) {
        std::printf(" %9s", "-");
      } else {
        std::printf(" %9.3f", f->second.samples_per_second / m->second.samples_per_second);
      }
    }
    const auto big = by_size.find(largest);
    const double rate = big == by_size.end() ? 0.0 : big->second.samples_per_second;
    std::printf(" %12.2f", rate / 1e6);
    // Per-sample time at the largest size over that at the smallest: 1.0 is linear.
    const auto small = by_size.find(sizes.front());
    if (sizes.size() > 1 && small != by_size.end() && rate > 0.0) {
      std::printf(" %8.2f", small->second.samples_per_second / rate);
    } else {
      std::printf(" %8s", "-");
    }
    const auto target = std::find_if(targets_.begin(), targets_.end(), [&](const Target& t) { return t.family == family; });
    if (target == targets_.end() || rate <= 0.0) {
      std::printf("\n");
      continue;
    }
    bool met = true;
    if (target->max_ratio) {
      const double ratio = floor->second.at(largest).samples_per_second / rate;
      met = ratio <= *target->max_ratio;
      std::printf("    <= %4.1f  %s\n", *target->max_ratio, met ? "met" : "MISSED");
    } else if (target->min_samples_per_second) {
      met = rate >= *target->min_samples_per_second;
      std::printf(" >= %.1fM/s  %s\n", *target->min_samples_per_second / 1e6, met ? "met" : "MISSED");
    }
    if (!met) ++missed;
  }
  std::printf("Floor: %.1f ns per sample at %ld tiles. Targets apply at %ld tiles; %zu missed.\n",
              1e9 / floor->second.at(largest).samples_per_second, largest, largest, missed);
}

}  // namespace norq_bench
