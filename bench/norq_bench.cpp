// Every analysis, and loading and saving profile files, on generated profiles of 64 and 1,500 tiles
// by 2,000 samples, with a floor pass over the same samples to compare against.
//
//   norq_bench [benchmark flags] [--skip-load-memory] [--measure-load=FILE] [--digest]

#include "digest.hpp"
#include "load_memory.hpp"
#include "ratio_reporter.hpp"

#include <norq_profile/norq_profile.hpp>
#include <norq_profile_generate/generate.hpp>
#include <norq_profile_io/profile_file.hpp>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

using namespace norq_profile;
namespace fs = std::filesystem;

constexpr std::uint32_t samples_per_tile = 2000;
const std::vector<std::uint32_t> default_sizes{64, 1500};

std::uint64_t sample_count(const ProfileReport& report) {
  std::uint64_t count = 0;
  for (const TileProfile& tile : report.tiles) count += tile.samples.size();
  return count;
}

// Generated once per size and kept for the whole run; the benchmarks only read them.
const ProfileReport& profile(std::uint32_t tiles) {
  static std::map<std::uint32_t, std::unique_ptr<ProfileReport>> profiles;
  auto& slot = profiles[tiles];
  if (!slot) {
    slot = std::make_unique<ProfileReport>(
        generate::generate_profile({.tiles = tiles, .steps = samples_per_tile, .seed = 1}));
  }
  return *slot;
}

// Files of the run live in one private folder, removed at exit.
class Scratch {
 public:
  Scratch() : folder_(fs::temp_directory_path() / ("norq_bench-" + std::to_string(getpid()))) {
    fs::create_directories(folder_);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  // The profile of `tiles` tiles saved under `extension`, written on first use.
  const fs::path& file(std::uint32_t tiles, std::string_view extension) {
    fs::path& path = files_[std::to_string(tiles) + std::string(extension)];
    if (path.empty()) {
      path = folder_ / ("profile-" + std::to_string(tiles) + std::string(extension));
      io::save_profile(profile(tiles), path);
    }
    return path;
  }

  fs::path output(std::uint32_t tiles, std::string_view extension) const {
    return folder_ / ("saved-" + std::to_string(tiles) + std::string(extension));
  }

 private:
  fs::path folder_;
  std::map<std::string, fs::path> files_;
};

Scratch& scratch() {
  static Scratch instance;
  return instance;
}

void count_samples(benchmark::State& state, const ProfileReport& report) {
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sample_count(report)));
}

// Folds a text's bytes in; a plain sum vectorises, so the floor reads every byte at full speed.
std::uint64_t fold(std::uint64_t sum, const std::string& text) {
  std::uint64_t bytes = text.size();
  for (const char c : text) bytes += static_cast<unsigned char>(c);
  return sum * 31 + bytes;
}

// The least any analysis must do: touch each sample's counters, kind, kernel and metadata.
void floor_pass(benchmark::State& state, std::uint32_t tiles) {
  const ProfileReport& report = profile(tiles);
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (const TileProfile& tile : report.tiles) {
      for (const CycleSample& sample : tile.samples) {
        sum += sample.start_cycle ^ (std::uint64_t{sample.end_cycle} << 32);
        sum += static_cast<std::uint64_t>(sample.step.kind);
        sum = fold(sum, sample.step.kernel);
        for (const ProfileMetadata& entry : sample.step.metadata) sum = fold(fold(sum, entry.name), entry.value);
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  count_samples(state, report);
}

void run_query(benchmark::State& state, std::uint32_t tiles, Query q) {
  const ProfileReport& report = profile(tiles);
  for (auto _ : state) {
    QueryReport result = query(report, q);
    benchmark::DoNotOptimize(result);
  }
  count_samples(state, report);
}

// A point in the middle of the profile, so the filter keeps one sample or so per tile.
Query at_middle(std::uint32_t tiles) {
  const std::uint64_t span = query(profile(tiles), Query{.limit = 0}).profile_span_cycles;
  return Query{.at_offset = span / 2};
}

void run_file(benchmark::State& state, std::uint32_t tiles, std::string_view extension, bool load) {
  const ProfileReport& report = profile(tiles);
  const fs::path& input = scratch().file(tiles, extension);
  const fs::path output = scratch().output(tiles, extension);
  for (auto _ : state) {
    if (load) {
      ProfileReport loaded = io::load_profile(input);
      benchmark::DoNotOptimize(loaded);
    } else {
      io::save_profile(report, output);
    }
  }
  count_samples(state, report);
  // JSON bytes read or written; for .zst the compressed file's bytes.
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(input)));
}

using Body = std::function<void(benchmark::State&, std::uint32_t)>;

// Tile counts to run at, from --tiles or the defaults; set once before registering.
std::vector<std::uint32_t> sizes = default_sizes;

void add(const std::string& name, Body body) {
  auto* bench = benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& state) {
    body(state, static_cast<std::uint32_t>(state.range(0)));
  });
  for (const std::uint32_t tiles : sizes) bench->Arg(tiles);
  bench->Unit(benchmark::kMillisecond);
}

void add_query(const std::string& name, Query q) {
  add(name, [q](benchmark::State& state, std::uint32_t tiles) { run_query(state, tiles, q); });
}

// "64,500,1500": ascending, distinct, each at least 1.
bool parse_sizes(std::string_view text, std::vector<std::uint32_t>& out) {
  out.clear();
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    std::uint32_t tiles = 0;
    const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), tiles);
    if (error != std::errc{} || end != item.data() + item.size() || tiles == 0) return false;
    if (!out.empty() && tiles <= out.back()) return false;
    out.push_back(tiles);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
  }
  return !out.empty();
}

void register_benchmarks() {
  add("floor", floor_pass);

  add_query("query/default", Query{});
  add_query("query/by_kind", Query{.group_by = GroupBy::Kind});
  add_query("query/by_operation", Query{.group_by = GroupBy::Operation});
  add_query("query/compute_by_operation", Query{.group_by = GroupBy::Operation, .kind = StepKind::Compute});
  add_query("query/by_phase", Query{.group_by = GroupBy::Phase});
  add_query("query/by_tile", Query{.group_by = GroupBy::Tile});
  add_query("query/by_metadata_listed_50",
            Query{.group_by = GroupBy::Metadata, .metadata_key = "shape", .sample_limit = 50});
  add_query("query/kernel_filter", Query{.kernel = "gemm-f16"});
  add("query/at_offset", [](benchmark::State& state, std::uint32_t tiles) {
    run_query(state, tiles, at_middle(tiles));
  });

  add("exchange_boundaries", [](benchmark::State& state, std::uint32_t tiles) {
    const ProfileReport& report = profile(tiles);
    for (auto _ : state) benchmark::DoNotOptimize(exchange_boundaries(report));
    count_samples(state, report);
  });
  add("exchange_activity_summary", [](benchmark::State& state, std::uint32_t tiles) {
    const ProfileReport& report = profile(tiles);
    for (auto _ : state) benchmark::DoNotOptimize(exchange_activity_summary(report));
    count_samples(state, report);
  });
  for (const bool shared_clock : {true, false}) {
    add(shared_clock ? "phase_work/shared_clock" : "phase_work/cropped",
        [shared_clock](benchmark::State& state, std::uint32_t tiles) {
          const ProfileReport& report = profile(tiles);
          for (auto _ : state) benchmark::DoNotOptimize(phases::phase_work(report, shared_clock));
          count_samples(state, report);
        });
  }
  add("calibrate_profiles", [](benchmark::State& state, std::uint32_t tiles) {
    const ProfileReport& report = profile(tiles);
    for (auto _ : state) {
      benchmark::DoNotOptimize(calibrate_profiles(std::span(&report, 1), "bench", "generated"));
    }
    count_samples(state, report);
  });

  for (const std::string_view extension : {".json", ".json.zst"}) {
    const std::string suffix = extension == ".json" ? "json" : "zst";
    add("load_" + suffix, [extension](benchmark::State& state, std::uint32_t tiles) {
      run_file(state, tiles, extension, true);
    });
    add("save_" + suffix, [extension](benchmark::State& state, std::uint32_t tiles) {
      run_file(state, tiles, extension, false);
    });
  }
}

std::vector<norq_bench::Target> targets() {
  return {
      {.family = "query/default", .max_ratio = 2.0},
      {.family = "query/by_metadata_listed_50", .max_ratio = 2.5},
      {.family = "query/compute_by_operation", .max_ratio = 2.0},
      {.family = "exchange_boundaries", .max_ratio = 0.3},
      {.family = "exchange_activity_summary", .max_ratio = 0.6},
      {.family = "phase_work/shared_clock", .max_ratio = 2.5},
      {.family = "phase_work/cropped", .max_ratio = 2.5},
      {.family = "calibrate_profiles", .max_ratio = 1.5},
      {.family = "load_json", .min_samples_per_second = 1.5e6},
  };
}

void print_usage() {
  std::printf(
      "norq_bench: benchmarks of every analysis and of profile files at 64 and 1500 tiles x %u samples.\n"
      "After the run it prints each benchmark as a ratio to the floor pass of the same run, then\n"
      "measures the peak memory of loading the largest profile's JSON file in a fresh process.\n\n"
      "  --tiles=64,1500        tile counts to run at, ascending (default 64,1500); the\n"
      "                         targets and the load measurement use the largest\n"
      "  --skip-load-memory     leave out the peak-memory measurement\n"
      "  --measure-load=FILE    only load FILE and print its memory figures\n"
      "  --digest               only print fingerprints of every analysis's results on small\n"
      "                         generated profiles (compare before and after a change)\n"
      "  --benchmark_filter=RE  and the other Google Benchmark flags (--help lists them)\n",
      samples_per_tile);
}

}  // namespace

int main(int argc, char** argv) {
  bool load_memory = true;
  // Colour only on a terminal, and never when asked not to.
  bool color = isatty(STDOUT_FILENO) != 0;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--digest") return norq_bench::print_digests();
    if (arg.starts_with("--measure-load=")) return norq_bench::measure_load(std::string(arg.substr(15)));
    if (arg.starts_with("--tiles=")) {
      if (!parse_sizes(arg.substr(8), sizes)) {
        std::fprintf(stderr, "norq_bench: --tiles expects ascending tile counts such as 64,1500, got \"%s\"\n",
                     argv[i] + 8);
        return 1;
      }
      continue;
    }
    if (arg == "--skip-load-memory") {
      load_memory = false;
      continue;
    }
    if (arg == "--help" || arg == "-h") print_usage();
    if (arg == "--benchmark_color=false" || arg == "--benchmark_color=no") color = false;
    args.push_back(argv[i]);
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

  register_benchmarks();
  norq_bench::RatioReporter reporter{targets(), color ? benchmark::ConsoleReporter::OO_ColorTabular
                                                      : benchmark::ConsoleReporter::OO_Tabular};
  benchmark::RunSpecifiedBenchmarks(&reporter);

  if (load_memory) {
    std::printf("\nPeak memory of loading the %u-tile profile (fresh process):\n", sizes.back());
    const fs::path file = scratch().file(sizes.back(), ".json");
    if (!norq_bench::spawn_load_measurement(argv[0], file)) {
      std::fprintf(stderr, "norq_bench: the load measurement of %s failed\n", file.c_str());
      return 1;
    }
  }
  benchmark::Shutdown();
  return 0;
}
