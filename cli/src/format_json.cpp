#include "json_writer.hpp"
#include "results.hpp"

#include <string_view>

namespace norq_cli {
namespace {

using namespace norq_profile;
using norq_profile::phases::KernelWork;
using norq_profile::phases::PhaseWork;

std::string_view group_by_name(GroupBy group_by) {
  switch (group_by) {
    case GroupBy::Kind: return "kind";
    case GroupBy::Kernel: return "kernel";
    case GroupBy::Operation: return "operation";
    case GroupBy::Phase: return "phase";
    case GroupBy::Tile: return "tile";
    case GroupBy::Metadata: return "metadata";
  }
  return "";
}

std::string_view sort_by_name(SortBy sort_by) {
  switch (sort_by) {
    case SortBy::PhaseCycles: return "phase-cycles";
    case SortBy::WorkCycles: return "work-cycles";
    case SortBy::MaximumCycles: return "maximum-cycles";
    case SortBy::Samples: return "samples";
    case SortBy::Name: return "name";
  }
  return "";
}

std::string_view step_kind_name(StepKind kind) {
  switch (kind) {
    case StepKind::Exchange: return "exchange";
    case StepKind::Compute: return "compute";
    case StepKind::Synchronization: return "synchronization";
    case StepKind::Idle: return "idle";
  }
  return "";
}

// Every document starts the same way, so a reader can tell what it holds before reading on.
void header(JsonWriter& json, std::string_view command, const ProfileInfo& profile) {
  json.begin_object()
      .field("format", "norq-profile-result")
      .field("schema_version", kJsonSchemaVersion)
      .field("command", command)
      .key("profile")
      .begin_object()
      .field("file", profile.file)
      .field("clock_hz", profile.clock_hz)
      .field("tile_count", profile.tile_count)
      .field("sample_count", profile.sample_count)
      .end_object();
}

void write(JsonWriter& json, const Dimensions& dimensions) {
  json.begin_object();
  for (const auto& [name, value] : dimensions) json.field(name, value);
  json.end_object();
}

void write(JsonWriter& json, const GroupSummary& g) {
  json.begin_object().field("name", g.name).key("dimensions");
  write(json, g.dimensions);
  json.field("sample_count", g.sample_count)
      .field("tile_count", g.tile_count)
      .field("phase_count", g.phase_count)
      .field("phase_cycles", g.phase_cycles)
      .field("phase_ms", g.phase_ms)
      .field("work_cycles", g.work_cycles)
      .field("average_active_tiles", g.average_active_tiles)
      .field("useful_cycles", g.useful_cycles)
      .field("estimated_work_cycles", g.estimated_work_cycles)
      .field("useful_utilization", g.useful_utilization)
      .field("work_lane_occupancy", g.work_lane_occupancy)
      .field("device_useful_utilization", g.device_useful_utilization)
      .field("mean_cycles", g.mean_cycles)
      .field("p50_cycles", g.p50_cycles)
      .field("p95_cycles", g.p95_cycles)
      .field("maximum_cycles", g.maximum_cycles)
      .field("first_offset", g.first_offset)
      .field("last_offset", g.last_offset)
      .end_object();
}

void write(JsonWriter& json, const SampleRecord& s) {
  json.begin_object()
      .field("physical_tile", s.physical_tile)
      .field("offset", s.offset)
      .field("duration", s.duration)
      .field("phase", s.phase)
      .field("epoch", s.epoch)
      .field("kind", s.kind)
      .field("operation", s.operation)
      .field("kernel", s.kernel)
      .key("metadata")
      .begin_array();
  for (const MetadataEntry& entry : s.metadata) {
    json.begin_object().field("name", entry.name).field("value", entry.value).end_object();
  }
  json.end_array().end_object();
}

void write(JsonWriter& json, const QueryReport& r) {
  json.begin_object()
      .field("clock_hz", r.clock_hz)
      .field("tile_count", r.tile_count)
      .field("sample_count", r.sample_count)
      .field("matched_sample_count", r.matched_sample_count)
      .field("profile_span_cycles", r.profile_span_cycles)
      .field("profile_span_ms", r.profile_span_ms)
      .field("at_offset", r.at_offset)
      .key("groups")
      .begin_array();
  for (const GroupSummary& g : r.groups) write(json, g);
  json.end_array().key("samples").begin_array();
  for (const SampleRecord& s : r.samples) write(json, s);
  json.end_array().end_object();
}

void write(JsonWriter& json, const Query& q) {
  json.begin_object()
      .field("group_by", group_by_name(q.group_by))
      .field("sort_by", sort_by_name(q.sort_by))
      .key("kind");
  if (q.kind) {
    json.value(step_kind_name(*q.kind));
  } else {
    json.null();
  }
  json.field("kernel", q.kernel).field("operation_contains", q.operation_contains).key("tiles").begin_array();
  for (std::uint32_t tile : q.tiles) json.value(tile);
  json.end_array().key("phases").begin_array();
  for (std::uint32_t phase : q.phases) json.value(phase);
  json.end_array().key("metadata").begin_array();
  for (const MetadataFilter& filter : q.metadata) {
    json.begin_object().field("name", filter.name).field("value", filter.value).end_object();
  }
  json.end_array()
      .field("metadata_key", q.metadata_key)
      .field("at_offset", q.at_offset)
      .field("shared_clock", q.shared_clock)
      .field("limit", q.limit)
      .field("sample_limit", q.sample_limit)
      .end_object();
}

void write(JsonWriter& json, const ExchangeBoundary& b) {
  json.begin_object()
      .field("epoch", b.epoch)
      .field("phase", b.phase)
      .field("first_entry", b.first_entry)
      .field("last_entry", b.last_entry)
      .field("last_exit", b.last_exit)
      .field("last_arriving_tile", b.last_arriving_tile)
      .field("arrival_spread_cycles", b.arrival_spread_cycles)
      .field("after_last_arrival_cycles", b.after_last_arrival_cycles)
      .field("scheduled_event_cycles", b.scheduled_event_cycles)
      .end_object();
}

void write(JsonWriter& json, const std::vector<ExchangeBoundary>& boundaries) {
  json.begin_array();
  for (const ExchangeBoundary& b : boundaries) write(json, b);
  json.end_array();
}

void write(JsonWriter& json, const ExchangeActivitySummary& s) {
  json.begin_object()
      .field("exchange_samples", s.exchange_samples)
      .field("described_samples", s.described_samples)
      .field("send_intervals", s.send_intervals)
      .field("receive_intervals", s.receive_intervals)
      .field("partner_busy_intervals", s.partner_busy_intervals)
      .field("estimated_send_work_cycles", s.estimated_send_work_cycles)
      .field("estimated_receive_work_cycles", s.estimated_receive_work_cycles)
      .field("estimated_simultaneous_work_cycles", s.estimated_simultaneous_work_cycles)
      .field("estimated_partner_busy_work_cycles", s.estimated_partner_busy_work_cycles)
      .field("estimated_idle_work_cycles", s.estimated_idle_work_cycles)
      .field("measured_phase_cycles", s.measured_phase_cycles)
      .field("scheduled_event_cycles", s.scheduled_event_cycles)
      .field("arrival_wait_cycles", s.arrival_wait_cycles)
      .field("phase_boundary_cycles", s.phase_boundary_cycles)
      .end_object();
}

void write(JsonWriter& json, const std::vector<KernelWork>& kernels) {
  json.begin_array();
  for (const KernelWork& k : kernels) {
    json.begin_object()
        .field("operation", k.operation)
        .field("kernel", k.kernel)
        .field("samples", k.samples)
        .field("tiles", k.tiles)
        .field("work_cycles", k.work_cycles)
        .field("maximum_cycles", k.maximum_cycles)
        .field("start", k.start)
        .field("end", k.end)
        .end_object();
  }
  json.end_array();
}

void write(JsonWriter& json, const PhaseWork& p) {
  json.begin_object()
      .field("epoch", p.epoch)
      .field("next_exchange_phase", p.next_exchange_phase)
      .field("start", p.start)
      .field("end", p.end)
      .field("span_cycles", p.span_cycles)
      .field("work_cycles", p.work_cycles)
      .field("active_tiles", p.active_tiles)
      .field("occupancy", p.occupancy)
      .field("exposed_preparation_cycles", p.exposed_preparation_cycles)
      .key("kernels");
  write(json, p.kernels);
  json.key("exchange");
  if (p.exchange) {
    write(json, *p.exchange);
  } else {
    json.null();
  }
  json.field("exchange_occupancy", p.exchange_occupancy).key("late_tile_kernels");
  write(json, p.late_tile_kernels);
  json.field("unattributed_before_barrier_cycles", p.unattributed_before_barrier_cycles).end_object();
}

void write(JsonWriter& json, const std::vector<PhaseWork>& phases) {
  json.begin_array();
  for (const PhaseWork& p : phases) write(json, p);
  json.end_array();
}

}  // namespace

std::string to_json(const QueryResult& result) {
  JsonWriter json;
  header(json, "query", result.profile);
  json.key("query");
  write(json, result.query);
  json.key("report");
  write(json, result.report);
  return json.end_object().finish();
}

std::string to_json(const BoundariesResult& result) {
  JsonWriter json;
  header(json, "boundaries", result.profile);
  json.field("profile_span_cycles", result.profile_span_cycles).key("boundaries");
  write(json, result.boundaries);
  return json.end_object().finish();
}

std::string to_json(const ExchangeResult& result) {
  JsonWriter json;
  header(json, "exchange", result.profile);
  json.field("profile_span_cycles", result.profile_span_cycles).key("summary");
  write(json, result.summary);
  return json.end_object().finish();
}

std::string to_json(const PhasesResult& result) {
  JsonWriter json;
  header(json, "phases", result.profile);
  json.field("shared_clock", result.shared_clock)
      .field("profile_span_cycles", result.profile_span_cycles)
      .key("phases");
  write(json, result.phases);
  return json.end_object().finish();
}

std::string to_json(const SummaryResult& result) {
  JsonWriter json;
  header(json, "summary", result.profile);
  json.field("shared_clock", result.shared_clock)
      .field("top", result.top)
      .field("profile_span_cycles", result.kernels.profile_span_cycles)
      .field("profile_span_ms", result.kernels.profile_span_ms)
      .field("matched_sample_count", result.kernels.matched_sample_count)
      .key("top_kernels")
      .begin_array();
  for (const GroupSummary& g : result.kernels.groups) write(json, g);
  json.end_array().key("exchange");
  write(json, result.exchange);
  json.field("uncropped_span_cycles", result.uncropped_span_cycles)
      .field("boundary_count", result.boundary_count)
      .key("widest_boundaries");
  write(json, result.boundaries);
  json.field("phase_count", result.phase_count).key("busiest_phases");
  write(json, result.phases);
  return json.end_object().finish();
}

std::string to_json(const CalibrationResult& result) {
  const CalibrationDatabase& db = result.database;
  JsonWriter json;
  json.begin_object()
      .field("format", "norq-calibration-database")
      .field("schema_version", db.schema_version)
      .field("target", db.target)
      .field("build_id", db.build_id)
      .field("clock_hz", db.clock_hz)
      .key("measurements")
      .begin_array();
  for (const CalibrationMeasurement& m : db.measurements) {
    json.begin_object().field("kernel", m.key.kernel).key("dimensions");
    write(json, m.key.dimensions);
    json.field("samples", m.samples)
        .field("minimum_cycles", m.minimum_cycles)
        .field("median_cycles", m.median_cycles)
        .field("p95_cycles", m.p95_cycles)
        .field("maximum_cycles", m.maximum_cycles)
        .end_object();
  }
  return json.end_array().end_object().finish();
}

}  // namespace norq_cli
