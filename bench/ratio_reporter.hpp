// Console output as usual, then every benchmark as a ratio to the floor pass over the same profile.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace norq_bench {

// Upper bound on the time ratio to the floor at the largest size, or a lower bound on samples/s.
struct Target {
  std::string family;
  std::optional<double> max_ratio;
  std::optional<double> min_samples_per_second;
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter(std::vector<Target> targets, OutputOptions options)
      : ConsoleReporter(options), targets_(std::move(targets)) {}

  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

 private:
  struct Measured {
    double samples_per_second = 0.0;
    bool aggregate = false;
  };

  std::vector<Target> targets_;
  std::vector<std::string> families_;                         // in the order first reported
  std::map<std::string, std::map<long, Measured>> measured_;  // family -> tiles -> rate
};

}  // namespace norq_bench
