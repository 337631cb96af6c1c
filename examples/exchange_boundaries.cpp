// Builds a small profile of four tiles in memory and prints its exchange boundaries.
#include <norq_profile/norq_profile.hpp>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace norq_profile;

CycleSample step(StepKind kind, std::uint32_t phase, std::string kernel, std::uint32_t start,
                 std::uint32_t end, std::uint32_t event_cycles = 0) {
  return {.step = {.phase = phase,
                   .operation = "layer" + std::to_string(phase / 2),
                   .kind = kind,
                   .kernel = std::move(kernel),
                   .exchange_event_cycles = event_cycles},
          .start_cycle = start,
          .end_cycle = end};
}

// Each tile computes, then exchanges; tile 7 computes longest and arrives last at every exchange.
// The counters wrap during the second round, which the common time line absorbs.
TileProfile make_tile(std::uint32_t physical_tile, std::uint32_t entry, std::uint32_t extra_work) {
  TileProfile tile{.physical_tile = physical_tile};
  std::uint32_t now = entry;
  for (std::uint32_t round = 0; round < 3; ++round) {
    const std::uint32_t work = 400 + extra_work + 50 * round;
    tile.samples.push_back(step(StepKind::Compute, 2 * round, "matmul", now, now + work));
    now += work;
    const std::uint32_t exchange_end = entry + 700 * (round + 1) + 120;
    tile.samples.push_back(step(StepKind::Exchange, 2 * round + 1, "", now, exchange_end, 100));
    now = exchange_end;
  }
  return tile;
}

}  // namespace

int main() {
  const ProfileReport report{
      .clock_hz = 1'330'000'000,
      .tiles = {make_tile(4, 4294966900u, 0), make_tile(5, 4294966930u, 30),
                make_tile(6, 4294966910u, 60), make_tile(7, 4294966905u, 180)}};

  const std::vector<ExchangeBoundary> boundaries = exchange_boundaries(report);
  std::printf("%zu tiles, clock %.2f GHz, origin %u\n\n", report.tiles.size(),
              static_cast<double>(report.clock_hz) / 1e9, cycle_origin(report));
  std::printf("%5s %5s %12s %12s %12s %9s %9s %11s %10s\n", "epoch", "phase", "first entry",
              "last entry", "last exit", "late tile", "spread", "after last", "scheduled");
  for (const ExchangeBoundary& b : boundaries) {
    const std::string scheduled =
        b.scheduled_event_cycles ? std::to_string(*b.scheduled_event_cycles) : "-";
    std::printf("%5u %5u %12llu %12llu %12llu %9u %9llu %11llu %10s\n", b.epoch, b.phase,
                static_cast<unsigned long long>(b.first_entry),
                static_cast<unsigned long long>(b.last_entry),
                static_cast<unsigned long long>(b.last_exit), b.last_arriving_tile,
                static_cast<unsigned long long>(b.arrival_spread_cycles),
                static_cast<unsigned long long>(b.after_last_arrival_cycles), scheduled.c_str());
  }
  std::printf("\ncycles in milliseconds: %.6f ms for the last exit\n",
              boundaries.empty() ? 0.0 : cycles_to_ms(boundaries.back().last_exit, report.clock_hz));
}
