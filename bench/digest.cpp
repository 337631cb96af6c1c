#include "digest.hpp"

#include <norq_profile/norq_profile.hpp>
#include <norq_profile_generate/generate.hpp>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norq_bench {

namespace {

using namespace norq_profile;

// FNV-1a over a text rendering of every field, doubles to the last bit.
class Digest {
 public:
  Digest& operator<<(std::string_view text) {
    for (const char c : text) mix(static_cast<unsigned char>(c));
    mix(0xff);
    return *this;
  }
  Digest& operator<<(std::uint64_t value) { return *this << std::string_view(std::to_string(value)); }
  Digest& operator<<(std::uint32_t value) { return *this << std::uint64_t{value}; }
  Digest& operator<<(double value) {
    char buffer[40];
    const int length = std::snprintf(buffer, sizeof buffer, "%a", value);
    return *this << std::string_view(buffer, static_cast<std::size_t>(length));
  }
  template <typename T>
  Digest& operator<<(const std::optional<T>& value) {
    if (!value) return *this << std::string_view("none");
    return *this << *value;
  }
  std::uint64_t value() const { return hash_; }

 private:
  void mix(unsigned byte) {
    hash_ ^= byte;
    hash_ *= 0x100000001b3ULL;
  }
  std::uint64_t hash_ = 0xcbf29ce484222325ULL;
};

Digest& operator<<(Digest& d, const Dimensions& dimensions) {
  for (const auto& [name, value] : dimensions) d << name << value;
  return d;
}

Digest& operator<<(Digest& d, const ExchangeBoundary& b) {
  return d << std::uint64_t{b.epoch} << std::uint64_t{b.phase} << b.first_entry << b.last_entry << b.last_exit
           << std::uint64_t{b.last_arriving_tile} << b.arrival_spread_cycles << b.after_last_arrival_cycles
           << b.scheduled_event_cycles;
}

Digest& operator<<(Digest& d, const std::vector<phases::KernelWork>& rows) {
  for (const phases::KernelWork& k : rows) {
    d << k.operation << k.kernel << std::uint64_t{k.samples} << std::uint64_t{k.tiles} << k.work_cycles
      << k.maximum_cycles << k.start << k.end;
  }
  return d << std::string_view("end");
}

std::uint64_t digest(const QueryReport& r) {
  Digest d;
  d << r.clock_hz << std::uint64_t{r.tile_count} << std::uint64_t{r.sample_count}
    << std::uint64_t{r.matched_sample_count} << r.profile_span_cycles << r.profile_span_ms << r.at_offset;
  for (const GroupSummary& g : r.groups) {
    d << g.name << g.dimensions << std::uint64_t{g.sample_count} << std::uint64_t{g.tile_count}
      << std::uint64_t{g.phase_count} << g.phase_cycles << g.phase_ms << g.work_cycles << g.average_active_tiles
      << g.useful_cycles << g.estimated_work_cycles << g.useful_utilization << g.work_lane_occupancy
      << g.device_useful_utilization << g.mean_cycles << std::uint64_t{g.p50_cycles}
      << std::uint64_t{g.p95_cycles} << std::uint64_t{g.maximum_cycles} << g.first_offset << g.last_offset;
  }
  for (const SampleRecord& s : r.samples) {
    d << std::uint64_t{s.physical_tile} << s.offset << std::uint64_t{s.duration} << std::uint64_t{s.phase}
      << std::uint64_t{s.epoch} << s.kind << s.operation << s.kernel;
    for (const MetadataEntry& m : s.metadata) d << m.name << m.value;
  }
  return d.value();
}

std::uint64_t digest(const std::vector<ExchangeBoundary>& boundaries) {
  Digest d;
  for (const ExchangeBoundary& b : boundaries) d << b;
  return d.value();
}

std::uint64_t digest(const ExchangeActivitySummary& s) {
  Digest d;
  d << std::uint64_t{s.exchange_samples} << std::uint64_t{s.described_samples} << std::uint64_t{s.send_intervals}
    << std::uint64_t{s.receive_intervals} << std::uint64_t{s.partner_busy_intervals} << s.estimated_send_work_cycles
    << s.estimated_receive_work_cycles << s.estimated_simultaneous_work_cycles
    << s.estimated_partner_busy_work_cycles << s.estimated_idle_work_cycles << s.measured_phase_cycles
    << s.scheduled_event_cycles << s.arrival_wait_cycles << s.phase_boundary_cycles;
  return d.value();
}

std::uint64_t digest(const std::vector<phases::PhaseWork>& phases) {
  Digest d;
  for (const phases::PhaseWork& p : phases) {
    d << std::uint64_t{p.epoch} << p.next_exchange_phase << p.start << p.end << p.span_cycles << p.work_cycles
      << std::uint64_t{p.active_tiles} << p.occupancy << p.exposed_preparation_cycles << p.kernels;
    if (p.exchange) d << *p.exchange;
    d << p.exchange_occupancy << p.late_tile_kernels << p.unattributed_before_barrier_cycles;
  }
  return d.value();
}

std::uint64_t digest(const CalibrationDatabase& db) {
  Digest d;
  d << std::uint64_t{db.schema_version} << db.target << db.build_id << db.clock_hz;
  for (const CalibrationMeasurement& m : db.measurements) {
    d << m.key.kernel << m.key.dimensions << m.samples << std::uint64_t{m.minimum_cycles}
      << std::uint64_t{m.median_cycles} << std::uint64_t{m.p95_cycles} << std::uint64_t{m.maximum_cycles};
  }
  return d.value();
}

}  // namespace

int print_digests() {
  struct Named {
    const char* name;
    Query query;
  };
  const std::vector<Named> queries{
      {"default", Query{}},
      {"by_kind", Query{.group_by = GroupBy::Kind, .sort_by = SortBy::Name}},
      {"by_operation", Query{.group_by = GroupBy::Operation, .sort_by = SortBy::WorkCycles, .sample_limit = 7}},
      {"compute_by_operation", Query{.group_by = GroupBy::Operation, .kind = StepKind::Compute}},
      {"by_phase", Query{.group_by = GroupBy::Phase, .sort_by = SortBy::MaximumCycles, .limit = 40}},
      {"by_tile", Query{.group_by = GroupBy::Tile, .sort_by = SortBy::Samples, .shared_clock = true}},
      {"by_metadata", Query{.group_by = GroupBy::Metadata, .metadata_key = "shape", .sample_limit = 50}},
      {"by_block", Query{.group_by = GroupBy::Metadata, .metadata = {{"block", std::nullopt}},
                         .metadata_key = "block", .sample_limit = 1000000}},
      {"kernel_filter", Query{.kernel = "gemm-f16", .operation_contains = "matmul", .phases = {0, 2, 4}}},
      {"tiles_useful", Query{.group_by = GroupBy::Kernel, .tiles = {0, 3, 5}, .sample_limit = 20}},
      {"at_offset", Query{.at_offset = 40000, .sample_limit = 3}},
  };
  for (const std::uint32_t tiles : {1u, 7u, 64u}) {
    for (const std::uint64_t seed : {1u, 2u}) {
      const ProfileReport report = generate::generate_profile({.tiles = tiles, .steps = 600, .seed = seed});
      auto line = [&](std::string_view what, std::uint64_t value) {
        std::printf("%3u tiles seed %llu %-28.*s %016llx\n", tiles, static_cast<unsigned long long>(seed),
                    static_cast<int>(what.size()), what.data(), static_cast<unsigned long long>(value));
      };
      for (const Named& named : queries) line(std::string("query/") + named.name, digest(query(report, named.query)));
      line("exchange_boundaries", digest(exchange_boundaries(report)));
      line("exchange_activity_summary", digest(exchange_activity_summary(report)));
      line("phase_work/shared_clock", digest(phases::phase_work(report, true)));
      line("phase_work/cropped", digest(phases::phase_work(report, false)));
      line("calibrate_profiles", digest(calibrate_profiles(std::span(&report, 1), "t", "b")));
    }
  }
  return 0;
}

}  // namespace norq_bench
