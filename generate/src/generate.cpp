#include <norq_profile_generate/generate.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace norq_profile::generate {
namespace {

using norq_package::profile::CycleSample;
using norq_package::profile::ExchangeActivityKind;
using norq_package::profile::ProfileExchangeActivity;
using norq_package::profile::ProfileMetadata;
using norq_package::profile::ProfileReport;
using norq_package::profile::ProfileStep;
using norq_package::profile::StepKind;
using norq_package::profile::TileProfile;

// splitmix64: small, fast, and the same sequence on every standard library.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

  // Uniform in [lo, hi]; the multiply-shift bias is far below anything a profile shows.
  std::uint32_t between(std::uint32_t lo, std::uint32_t hi) {
    const std::uint64_t width = std::uint64_t{hi} - lo + 1;
    return lo + static_cast<std::uint32_t>(((next() >> 32) * width) >> 32);
  }

  double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }
  double between(double lo, double hi) { return lo + (hi - lo) * unit(); }
  bool chance(double p) { return unit() < p; }

 private:
  std::uint64_t state_;
};

struct KernelType {
  std::string_view stem;  // operation name after the layer
  std::string_view kernel;
  std::string_view kernel_spec;
  std::uint32_t cycles;
  bool shaped;     // carries kernelSpec and shape, so calibration splits it by shape
  bool annotated;  // usually declares useful and physical work
};

constexpr std::array<KernelType, 8> kKernels{{
    {"matmul", "gemm-f16", "Gemm", 1800, true, true},
    {"matmul", "gemm-f32", "Gemm", 2900, true, true},
    {"conv", "conv2d", "Conv", 2300, true, true},
    {"add", "add", "Elementwise", 260, false, false},
    {"norm", "norm", "Norm", 540, false, true},
    {"softmax", "softmax", "Softmax", 720, false, false},
    {"reduce", "reduction", "Reduce", 950, false, true},
    {"copy", "copy", "Copy", 180, false, false},
}};

struct Shape {
  std::string_view text;
  double cost;
};
constexpr std::array<Shape, 4> kShapes{{{"64x64", 0.6}, {"128x64", 1.0}, {"128x128", 1.6}, {"256x128", 2.5}}};

constexpr std::uint32_t kLayers = 12;

std::string decimal(std::uint64_t value) {
  std::array<char, 24> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

std::uint32_t at_least_one(double cycles) {
  return cycles < 1.0 ? 1u : static_cast<std::uint32_t>(std::min(cycles, 4.0e9));
}

// Operation texts are built once; samples copy them.
struct Names {
  std::vector<std::string> compute;  // [layer * kernels + kernel]
  std::vector<std::string> exchange;
  std::vector<std::string> sync;
  std::vector<std::string> repeat;

  Names() {
    for (std::uint32_t layer = 0; layer < kLayers; ++layer) {
      const std::string prefix = "layer" + decimal(layer) + "/";
      for (const KernelType& type : kKernels) compute.push_back(prefix + std::string(type.stem));
      exchange.push_back(prefix + "exchange");
      sync.push_back(prefix + "sync");
      repeat.push_back(prefix + "repeat");
    }
  }
};

struct PlannedKernel {
  std::uint32_t type;
  std::uint32_t shape;
  std::uint32_t repeats;
  std::uint32_t invocations;  // calls merged into one sample, the same on every tile
};

// What every tile runs in one superstep; tiles run all or part of it.
struct Superstep {
  std::vector<PlannedKernel> kernels;
  std::uint32_t index = 0;
  std::uint32_t layer = 0;
  std::uint32_t epoch = 0;
  std::uint32_t compute_phase = 0;
  std::uint32_t boundary_phase = 0;
  std::uint32_t scheduled_cycles = 0;
};

struct TileState {
  std::uint64_t ready = 0;  // global time at which the tile starts its next superstep
  double weight = 1.0;      // uneven work distribution across tiles
  std::uint64_t arrival = 0;
};

class Generator {
 public:
  explicit Generator(const GenerateOptions& options)
      : options_(options), rng_(options.seed ^ 0x6e6f72712d70726fULL) {
    const std::uint64_t estimated_supersteps = options.steps / 6 + 1;
    epoch_length_ = static_cast<std::uint32_t>(std::max<std::uint64_t>(2, estimated_supersteps / 3));
    // Put the counter wrap somewhere in the first half of the run.
    const std::uint64_t estimated_span = estimated_supersteps * 6000;
    const auto wrap_at = rng_.between(2000u, static_cast<std::uint32_t>(
                                                 std::min<std::uint64_t>(estimated_span / 2 + 2001, 1u << 30)));
    counter_base_ = static_cast<std::uint32_t>(0u - wrap_at);
  }

  ProfileReport run() {
    ProfileReport report{.clock_hz = options_.clock_hz, .tiles = {}};
    report.tiles.resize(options_.tiles);
    states_.resize(options_.tiles);
    for (std::uint32_t t = 0; t < options_.tiles; ++t) {
      report.tiles[t].physical_tile = t;
      report.tiles[t].samples.reserve(options_.steps);
      states_[t].ready = rng_.between(0u, 1500u);
      states_[t].weight = rng_.chance(0.1) ? rng_.between(1.25, 1.4) : rng_.between(0.85, 1.15);
    }
    if (options_.steps == 0) return report;

    Superstep step;
    for (std::uint32_t index = 0;; ++index) {
      plan(index, step);
      bool any = false;
      std::uint64_t last_arrival = 0;
      for (std::uint32_t t = 0; t < options_.tiles; ++t) {
        if (full(report.tiles[t])) continue;
        any = true;
        compute(step, report.tiles[t], states_[t]);
        last_arrival = std::max(last_arrival, states_[t].arrival);
      }
      if (!any) break;
      const std::uint64_t release = last_arrival + rng_.between(8u, 24u);
      for (std::uint32_t t = 0; t < options_.tiles; ++t) {
        if (full(report.tiles[t])) continue;
        boundary(step, release, report.tiles[t], states_[t]);
      }
    }
    return report;
  }

 private:
  bool full(const TileProfile& tile) const { return tile.samples.size() >= options_.steps; }

  std::uint32_t counter(std::uint64_t time) const {
    return static_cast<std::uint32_t>(counter_base_ + time);
  }

  void plan(std::uint32_t index, Superstep& step) {
    step.index = index;
    step.layer = index % kLayers;
    step.epoch = index / epoch_length_;
    const std::uint32_t within = index % epoch_length_;
    // Phase numbers restart in every epoch, as a program's phases recur in each epoch.
    step.compute_phase = 2 * within;
    step.boundary_phase = 2 * within + 1;
    step.scheduled_cycles = rng_.between(400u, 2400u);
    step.kernels.clear();
    const std::uint32_t count = rng_.between(2u, 4u);
    for (std::uint32_t k = 0; k < count; ++k) {
      const std::uint32_t type = rng_.between(0u, static_cast<std::uint32_t>(kKernels.size() - 1));
      step.kernels.push_back({.type = type,
                              .shape = rng_.between(0u, static_cast<std::uint32_t>(kShapes.size() - 1)),
                              .repeats = kKernels[type].shaped && rng_.chance(0.3) ? 2u : 1u,
                              .invocations = rng_.chance(0.08) ? rng_.between(2u, 4u) : 1u});
    }
  }

  void push(TileProfile& tile, ProfileStep&& step, std::uint64_t start, std::uint64_t end) {
    tile.samples.push_back({.step = std::move(step), .start_cycle = counter(start), .end_cycle = counter(end)});
  }

  ProfileStep base_step(const Superstep& step, std::uint32_t phase, StepKind kind, const std::string& operation) {
    // The program's step numbering: the same program step has the same index on every tile.
    return {.local_index = step.index * 32 + std::min(position_++, 31u),
            .phase = phase,
            .epoch = step.epoch,
            .operation = operation,
            .kind = kind,
            .kernel = {},
            .metadata = {},
            .exchange_activities = {},
            .exchange_event_cycles = 0};
  }

  void compute(const Superstep& step, TileProfile& tile, TileState& state) {
    position_ = 0;
    std::uint64_t time = state.ready;
    // Most tiles run the whole superstep; some run only its first kernels.
    const std::size_t runs = rng_.chance(0.95) ? step.kernels.size() : rng_.between(1u, static_cast<std::uint32_t>(step.kernels.size()));
    for (std::size_t k = 0; k < runs && !full(tile); ++k) {
      const PlannedKernel& planned = step.kernels[k];
      for (std::uint32_t block = 0; block < planned.repeats && !full(tile); ++block) {
        time = compute_sample(step, planned, block, tile, state, time);
      }
      if (!full(tile) && rng_.chance(0.03)) {
        ProfileStep sync = base_step(step, step.compute_phase, StepKind::Synchronization,
                                     names_.sync[step.layer]);
        sync.metadata.push_back({"reason", "InternalBarrier"});
        const std::uint64_t end = time + rng_.between(20u, 120u);
        push(tile, std::move(sync), time, end);
        time = end;
      }
    }
    if (!full(tile) && rng_.chance(0.004)) {
      ProfileStep repeat = base_step(step, step.compute_phase, StepKind::Compute, names_.repeat[step.layer]);
      repeat.kernel = "repeat-remainder";
      const std::uint64_t end = time + rng_.between(2000u, 8000u);
      push(tile, std::move(repeat), time, end);
      time = end;
    }
    if (!full(tile) && rng_.chance(0.05)) {
      ProfileStep idle = base_step(step, step.compute_phase, StepKind::Idle, "idle");
      const std::uint64_t end = time + rng_.between(40u, 400u);
      push(tile, std::move(idle), time, end);
      time = end;
    }
    state.arrival = time;
  }

  std::uint64_t compute_sample(const Superstep& step, const PlannedKernel& planned, std::uint32_t block,
                               TileProfile& tile, const TileState& state, std::uint64_t time) {
    const KernelType& type = kKernels[planned.type];
    ProfileStep work = base_step(step, step.compute_phase, StepKind::Compute,
                                 names_.compute[step.layer * kKernels.size() + planned.type]);
    work.kernel = type.kernel;
    const bool inactive = rng_.chance(0.03);
    const std::uint32_t invocations = planned.invocations;
    const bool invoked = invocations > 1;
    const bool annotated = type.annotated && !inactive && rng_.chance(0.7);
    work.metadata.reserve(4 + (type.shaped ? 2 : 0) + (planned.repeats > 1 ? 1 : 0));

    work.metadata.push_back({"reason", "OperatorKernel"});
    double cost = type.cycles * state.weight * rng_.between(0.9, 1.15) * invocations;
    if (type.shaped) {
      const Shape& shape = kShapes[planned.shape];
      cost *= shape.cost;
      work.metadata.push_back({"kernelSpec", std::string(type.kernel_spec)});
      work.metadata.push_back({"shape", std::string(shape.text)});
    }
    if (planned.repeats > 1) work.metadata.push_back({"block", decimal(block)});
    const std::uint32_t cycles = at_least_one(cost);
    if (annotated) {
      const auto physical = static_cast<std::uint64_t>(cycles * rng_.between(0.8, 0.98));
      const auto useful = static_cast<std::uint64_t>(static_cast<double>(physical) * rng_.between(0.45, 0.95));
      work.metadata.push_back({"usefulCycles", decimal(useful)});
      work.metadata.push_back({"physicalWorkCycles", decimal(physical)});
    }
    if (invoked) {
      work.metadata.push_back({"invocations", decimal(invocations)});
      if (rng_.chance(0.75)) work.metadata.push_back({"uniformInvocations", "true"});
    }
    if (inactive) work.metadata.push_back({"active", "false"});
    push(tile, std::move(work), time, time + cycles);
    return time + cycles + rng_.between(0u, 6u);
  }

  void boundary(const Superstep& step, std::uint64_t release, TileProfile& tile, TileState& state) {
    const std::uint64_t arrival = state.arrival;
    position_ = 31;
    if (rng_.chance(0.15)) {
      // Nothing to send this superstep: the tile only waits at the barrier.
      ProfileStep sync = base_step(step, step.boundary_phase, StepKind::Synchronization,
                                   names_.exchange[step.layer]);
      sync.metadata.push_back({"reason", "ExchangeBarrier"});
      const std::uint64_t end = release + rng_.between(0u, 6u);
      push(tile, std::move(sync), arrival, end);
      state.ready = end + rng_.between(2u, 10u);
      return;
    }
    ProfileStep exchange = base_step(step, step.boundary_phase, StepKind::Exchange, names_.exchange[step.layer]);
    const std::uint32_t window = std::max(
        1u, static_cast<std::uint32_t>(step.scheduled_cycles * rng_.between(0.85, 1.1)));
    if (rng_.chance(0.9)) {
      exchange.exchange_event_cycles = window;
      activities(window, exchange.exchange_activities);
    }
    // One draw per statement: the order of evaluating operands differs between compilers.
    const auto overrun = static_cast<std::uint64_t>(window * rng_.between(0.95, 1.25));
    const std::uint64_t end = release + overrun + rng_.between(0u, 30u);
    push(tile, std::move(exchange), arrival, end);
    state.ready = end + rng_.between(2u, 10u);
  }

  void activities(std::uint32_t window, std::vector<ProfileExchangeActivity>& out) {
    const std::uint32_t sends = rng_.between(1u, 3u);
    const std::uint32_t receives = rng_.between(1u, 3u);
    const bool busy = rng_.chance(0.25);
    out.reserve(sends + receives + (busy ? 1 : 0));
    auto add = [&](ExchangeActivityKind kind, std::uint32_t start, std::uint32_t length) {
      std::uint32_t end = std::min(window, start + length);
      if (rng_.chance(0.03)) end = window + rng_.between(1u, 100u);  // overruns the schedule
      out.push_back({.fanout = static_cast<std::uint16_t>(rng_.between(1u, 8u)),
                     .paired = rng_.chance(0.5),
                     .kind = kind,
                     .start_cycle = start,
                     .end_cycle = end});
    };
    // Draws are taken in statements of their own, since argument order differs between compilers.
    auto draw = [&](ExchangeActivityKind kind, std::uint32_t latest_start, std::uint32_t shortest,
                    std::uint32_t longest) {
      const std::uint32_t start = rng_.between(0u, latest_start);
      const std::uint32_t length = rng_.between(shortest, longest);
      add(kind, start, length);
    };
    for (std::uint32_t i = 0; i < sends; ++i) {
      draw(ExchangeActivityKind::Send, window * 4 / 5, window / 10 + 1, window / 2 + 1);
    }
    for (std::uint32_t i = 0; i < receives; ++i) {
      draw(ExchangeActivityKind::Receive, window * 4 / 5, window / 10 + 1, window / 2 + 1);
    }
    if (busy) draw(ExchangeActivityKind::PartnerBusy, window / 2, window / 20 + 1, window / 5 + 1);
  }

  GenerateOptions options_;
  Rng rng_;
  Names names_;
  std::vector<TileState> states_;
  std::uint32_t epoch_length_ = 2;
  std::uint32_t counter_base_ = 0;
  std::uint32_t position_ = 0;
};

}  // namespace

ProfileReport generate_profile(const GenerateOptions& options) { return Generator(options).run(); }

}  // namespace norq_profile::generate
