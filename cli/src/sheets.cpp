#include "results.hpp"

#include <fmt/format.h>

#include <optional>
#include <utility>

namespace norq_cli {
namespace {

using namespace norq_profile;
using norq_profile::phases::KernelWork;
using norq_profile::phases::PhaseWork;

Cell cell(std::uint64_t value) { return value; }
Cell cell(double value) { return value; }
Cell cell(std::string value) { return value; }
template <typename T>
Cell cell(const std::optional<T>& value) {
  return value ? cell(*value) : Cell{};
}

// Share of the profile span; absent when there is no span to share.
Cell share(std::uint64_t cycles, std::uint64_t span) {
  if (span == 0) return {};
  return static_cast<double>(cycles) / static_cast<double>(span);
}

std::string joined(const Dimensions& dimensions) {
  std::string out;
  for (const auto& [name, value] : dimensions) {
    if (!out.empty()) out += ';';
    out += name + "=" + value;
  }
  return out;
}

std::string joined(const std::vector<MetadataEntry>& metadata) {
  std::string out;
  for (const MetadataEntry& entry : metadata) {
    if (!out.empty()) out += ';';
    out += entry.name + "=" + entry.value;
  }
  return out;
}

std::string kernel_label(const std::string& kernel) { return kernel.empty() ? "(no kernel)" : kernel; }

std::string span_line(const ProfileInfo& profile, std::uint64_t span, std::string_view note) {
  return fmt::format("{}: {} tiles, {} samples, span {} cycles ({:.3f} ms{}), clock {} Hz\n", profile.file,
                     group_digits(profile.tile_count), group_digits(profile.sample_count), group_digits(span),
                     cycles_to_ms(span, profile.clock_hz), note, group_digits(profile.clock_hz));
}

std::string group_heading(const Query& query) {
  switch (query.group_by) {
    case GroupBy::Kind: return "kind";
    case GroupBy::Kernel: return "kernel";
    case GroupBy::Operation: return "operation";
    case GroupBy::Phase: return "phase";
    case GroupBy::Tile: return "tile";
    case GroupBy::Metadata: return query.metadata_key ? *query.metadata_key : std::string("value");
  }
  return "group";
}

Sheet group_sheet(const std::vector<GroupSummary>& groups, std::uint64_t span, std::string heading,
                  std::string title) {
  Sheet sheet{.title = std::move(title),
              .columns = {{"name", std::move(heading), Unit::Text},
                          {"dimensions", "dimensions", Unit::Text, false},
                          {"sample_count", "samples", Unit::Count},
                          {"tile_count", "tiles", Unit::Count},
                          {"phase_count", "phases", Unit::Count},
                          {"phase_cycles", "cycles", Unit::Cycles},
                          {"phase_ms", "ms", Unit::Milliseconds},
                          {"span_share", "% span", Unit::Share},
                          {"work_cycles", "work cycles", Unit::Cycles},
                          {"average_active_tiles", "avg tiles", Unit::Number},
                          {"useful_cycles", "useful cycles", Unit::Number, false},
                          {"estimated_work_cycles", "estimated work", Unit::Cycles, false},
                          {"useful_utilization", "useful", Unit::Share},
                          {"work_lane_occupancy", "lane occupancy", Unit::Share, false},
                          {"device_useful_utilization", "device useful", Unit::Share, false},
                          {"mean_cycles", "mean", Unit::Cycles},
                          {"p50_cycles", "p50", Unit::Cycles},
                          {"p95_cycles", "p95", Unit::Cycles},
                          {"maximum_cycles", "max", Unit::Cycles},
                          {"first_offset", "first offset", Unit::Cycles, false},
                          {"last_offset", "last offset", Unit::Cycles, false}},
              .rows = {}};
  for (const GroupSummary& g : groups) {
    sheet.rows.push_back({cell(g.name), cell(joined(g.dimensions)), cell(g.sample_count), cell(g.tile_count),
                          cell(g.phase_count), cell(g.phase_cycles), cell(g.phase_ms), share(g.phase_cycles, span),
                          cell(g.work_cycles), cell(g.average_active_tiles), cell(g.useful_cycles),
                          cell(g.estimated_work_cycles), cell(g.useful_utilization), cell(g.work_lane_occupancy),
                          cell(g.device_useful_utilization), cell(g.mean_cycles),
                          cell(std::uint64_t{g.p50_cycles}), cell(std::uint64_t{g.p95_cycles}),
                          cell(std::uint64_t{g.maximum_cycles}), cell(g.first_offset), cell(g.last_offset)});
  }
  return sheet;
}

Sheet sample_sheet(const std::vector<SampleRecord>& samples) {
  Sheet sheet{.title = "Longest matched samples",
              .columns = {{"physical_tile", "tile", Unit::Count},
                          {"offset", "offset", Unit::Cycles},
                          {"duration", "cycles", Unit::Cycles},
                          {"phase", "phase", Unit::Count},
                          {"epoch", "epoch", Unit::Count},
                          {"kind", "kind", Unit::Text},
                          {"operation", "operation", Unit::Text},
                          {"kernel", "kernel", Unit::Text},
                          {"metadata", "metadata", Unit::Text}},
              .rows = {}};
  for (const SampleRecord& s : samples) {
    sheet.rows.push_back({cell(std::uint64_t{s.physical_tile}), cell(s.offset), cell(std::uint64_t{s.duration}),
                          cell(std::uint64_t{s.phase}), cell(std::uint64_t{s.epoch}), cell(s.kind),
                          cell(s.operation), cell(s.kernel), cell(joined(s.metadata))});
  }
  return sheet;
}

Sheet boundary_sheet(const std::vector<ExchangeBoundary>& boundaries, std::uint64_t span, std::uint64_t clock_hz,
                     std::string title) {
  Sheet sheet{.title = std::move(title),
              .columns = {{"epoch", "epoch", Unit::Count},
                          {"phase", "phase", Unit::Count},
                          {"first_entry", "first entry", Unit::Cycles},
                          {"last_entry", "last entry", Unit::Cycles},
                          {"last_exit", "last exit", Unit::Cycles},
                          {"last_arriving_tile", "late tile", Unit::Count},
                          {"arrival_spread_cycles", "spread", Unit::Cycles},
                          {"after_last_arrival_cycles", "after arrival", Unit::Cycles},
                          {"scheduled_event_cycles", "scheduled", Unit::Cycles},
                          {"over_schedule_cycles", "over schedule", Unit::Cycles, false},
                          {"duration_cycles", "duration", Unit::Cycles},
                          {"duration_ms", "ms", Unit::Milliseconds},
                          {"span_share", "% span", Unit::Share}},
              .rows = {}};
  for (const ExchangeBoundary& b : boundaries) {
    const std::uint64_t length = b.last_exit - b.first_entry;
    Cell over;
    if (b.scheduled_event_cycles) {
      const std::uint64_t scheduled = *b.scheduled_event_cycles;
      over = b.after_last_arrival_cycles > scheduled ? b.after_last_arrival_cycles - scheduled : 0;
    }
    sheet.rows.push_back({cell(std::uint64_t{b.epoch}), cell(std::uint64_t{b.phase}), cell(b.first_entry),
                          cell(b.last_entry), cell(b.last_exit), cell(std::uint64_t{b.last_arriving_tile}),
                          cell(b.arrival_spread_cycles), cell(b.after_last_arrival_cycles),
                          cell(b.scheduled_event_cycles), over, cell(length), cell(cycles_to_ms(length, clock_hz)),
                          share(length, span)});
  }
  return sheet;
}

std::string top_kernel(const std::vector<KernelWork>& kernels) {
  return kernels.empty() ? std::string() : kernel_label(kernels.front().kernel);
}

Sheet phase_sheet(const std::vector<PhaseWork>& phases, std::uint64_t span, std::uint64_t clock_hz,
                  std::string title) {
  Sheet sheet{.title = std::move(title),
              .columns = {{"epoch", "epoch", Unit::Count},
                          {"next_exchange_phase", "next phase", Unit::Count},
                          {"start", "start", Unit::Cycles},
                          {"end", "end", Unit::Cycles},
                          {"span_cycles", "span", Unit::Cycles},
                          {"span_ms", "ms", Unit::Milliseconds},
                          {"span_share", "% span", Unit::Share},
                          {"work_cycles", "work", Unit::Cycles},
                          {"active_tiles", "active tiles", Unit::Count},
                          {"occupancy", "occupancy", Unit::Share},
                          {"exposed_preparation_cycles", "exposed prep", Unit::Cycles},
                          {"exchange_occupancy", "exchange occ.", Unit::Share},
                          {"late_tile", "late tile", Unit::Count},
                          {"unattributed_before_barrier_cycles", "late unattributed", Unit::Cycles},
                          {"kernel_count", "kernels", Unit::Count, false},
                          {"top_kernel", "top kernel", Unit::Text},
                          {"late_tile_top_kernel", "late tile kernel", Unit::Text},
                          {"exchange_first_entry", "exchange first entry", Unit::Cycles, false},
                          {"exchange_last_entry", "exchange last entry", Unit::Cycles, false},
                          {"exchange_last_exit", "exchange last exit", Unit::Cycles, false},
                          {"exchange_arrival_spread_cycles", "exchange spread", Unit::Cycles, false},
                          {"exchange_after_last_arrival_cycles", "exchange after arrival", Unit::Cycles, false},
                          {"exchange_scheduled_event_cycles", "exchange scheduled", Unit::Cycles, false}},
              .rows = {}};
  for (const PhaseWork& p : phases) {
    std::vector<Cell> row{cell(std::uint64_t{p.epoch}),
                          p.next_exchange_phase ? cell(std::uint64_t{*p.next_exchange_phase}) : Cell{},
                          cell(p.start),
                          cell(p.end),
                          cell(p.span_cycles),
                          cell(cycles_to_ms(p.span_cycles, clock_hz)),
                          share(p.span_cycles, span),
                          cell(p.work_cycles),
                          cell(p.active_tiles),
                          cell(p.occupancy),
                          cell(p.exposed_preparation_cycles),
                          cell(p.exchange_occupancy),
                          p.exchange ? cell(std::uint64_t{p.exchange->last_arriving_tile}) : Cell{},
                          cell(p.unattributed_before_barrier_cycles),
                          cell(p.kernels.size()),
                          p.kernels.empty() ? Cell{} : cell(top_kernel(p.kernels)),
                          p.late_tile_kernels.empty() ? Cell{} : cell(top_kernel(p.late_tile_kernels))};
    if (p.exchange) {
      const ExchangeBoundary& b = *p.exchange;
      for (Cell c : {cell(b.first_entry), cell(b.last_entry), cell(b.last_exit), cell(b.arrival_spread_cycles),
                     cell(b.after_last_arrival_cycles), cell(b.scheduled_event_cycles)}) {
        row.push_back(std::move(c));
      }
    } else {
      row.resize(row.size() + 6);
    }
    sheet.rows.push_back(std::move(row));
  }
  return sheet;
}

// The summary's fields in declaration order: key, label, and whether the value lies on the time line.
struct ExchangeField {
  const char* key;
  const char* label;
  std::uint64_t ExchangeActivitySummary::*cycles;
  std::size_t ExchangeActivitySummary::*count;
  bool on_time_line;
};

constexpr ExchangeField kExchangeFields[] = {
    {"exchange_samples", "exchange samples", nullptr, &ExchangeActivitySummary::exchange_samples, false},
    {"described_samples", "described samples", nullptr, &ExchangeActivitySummary::described_samples, false},
    {"send_intervals", "send intervals", nullptr, &ExchangeActivitySummary::send_intervals, false},
    {"receive_intervals", "receive intervals", nullptr, &ExchangeActivitySummary::receive_intervals, false},
    {"partner_busy_intervals", "partner-busy intervals", nullptr, &ExchangeActivitySummary::partner_busy_intervals,
     false},
    {"estimated_send_work_cycles", "send cycles (all tiles)", &ExchangeActivitySummary::estimated_send_work_cycles,
     nullptr, false},
    {"estimated_receive_work_cycles", "receive cycles (all tiles)",
     &ExchangeActivitySummary::estimated_receive_work_cycles, nullptr, false},
    {"estimated_simultaneous_work_cycles", "send+receive cycles (all tiles)",
     &ExchangeActivitySummary::estimated_simultaneous_work_cycles, nullptr, false},
    {"estimated_partner_busy_work_cycles", "partner-busy cycles (all tiles)",
     &ExchangeActivitySummary::estimated_partner_busy_work_cycles, nullptr, false},
    {"estimated_idle_work_cycles", "idle window cycles (all tiles)",
     &ExchangeActivitySummary::estimated_idle_work_cycles, nullptr, false},
    {"measured_phase_cycles", "after last arrival", &ExchangeActivitySummary::measured_phase_cycles, nullptr, true},
    {"scheduled_event_cycles", "scheduled", &ExchangeActivitySummary::scheduled_event_cycles, nullptr, true},
    {"arrival_wait_cycles", "arrival wait", &ExchangeActivitySummary::arrival_wait_cycles, nullptr, true},
    {"phase_boundary_cycles", "over schedule", &ExchangeActivitySummary::phase_boundary_cycles, nullptr, true},
};

std::uint64_t field_value(const ExchangeActivitySummary& summary, const ExchangeField& field) {
  return field.cycles ? summary.*field.cycles : summary.*field.count;
}

// People read the summary as a list of measures; machines get it as one row.
Sheet exchange_sheet(const ExchangeActivitySummary& summary, std::uint64_t span, std::uint64_t clock_hz,
                     bool for_table, std::string title) {
  Sheet sheet{.title = std::move(title), .columns = {}, .rows = {}};
  if (for_table) {
    sheet.columns = {{"measure", "measure", Unit::Text},
                     {"value", "value", Unit::Cycles},
                     {"ms", "ms", Unit::Milliseconds},
                     {"span_share", "% span", Unit::Share}};
    for (const ExchangeField& field : kExchangeFields) {
      const std::uint64_t value = field_value(summary, field);
      sheet.rows.push_back({cell(std::string(field.label)), cell(value),
                            field.cycles ? cell(cycles_to_ms(value, clock_hz)) : Cell{},
                            field.on_time_line ? share(value, span) : Cell{}});
    }
    return sheet;
  }
  std::vector<Cell> row;
  for (const ExchangeField& field : kExchangeFields) {
    sheet.columns.push_back({field.key, field.label, Unit::Cycles});
    row.push_back(cell(field_value(summary, field)));
  }
  sheet.rows.push_back(std::move(row));
  return sheet;
}

Sheet overview_sheet(const ProfileInfo& profile, std::uint64_t span) {
  return {.title = "Profile",
          .columns = {{"file", "file", Unit::Text},
                      {"clock_hz", "clock Hz", Unit::Count},
                      {"tile_count", "tiles", Unit::Count},
                      {"sample_count", "samples", Unit::Count},
                      {"profile_span_cycles", "span", Unit::Cycles},
                      {"profile_span_ms", "ms", Unit::Milliseconds}},
          .rows = {{cell(profile.file), cell(profile.clock_hz), cell(profile.tile_count), cell(profile.sample_count),
                    cell(span), cell(cycles_to_ms(span, profile.clock_hz))}}};
}

const char* clock_note(bool shared_clock) { return shared_clock ? ", shared clock" : ", entry period cropped"; }

}  // namespace

std::vector<Sheet> sheets(const QueryResult& result, bool) {
  const QueryReport& r = result.report;
  std::vector<Sheet> out{group_sheet(r.groups, r.profile_span_cycles, group_heading(result.query), "")};
  if (result.query.sample_limit > 0) out.push_back(sample_sheet(r.samples));
  return out;
}

std::string preamble(const QueryResult& result) {
  const QueryReport& r = result.report;
  std::string out = span_line(result.profile, r.profile_span_cycles, clock_note(result.query.shared_clock));
  out += fmt::format("matched {} of {} samples", group_digits(r.matched_sample_count), group_digits(r.sample_count));
  if (r.at_offset) out += fmt::format(" at offset {}", group_digits(*r.at_offset));
  out += fmt::format(", {} groups shown\n", group_digits(r.groups.size()));
  return out;
}

std::vector<Sheet> sheets(const BoundariesResult& result, bool) {
  return {boundary_sheet(result.boundaries, result.profile_span_cycles, result.profile.clock_hz, "")};
}

std::string preamble(const BoundariesResult& result) {
  return span_line(result.profile, result.profile_span_cycles, ", shared clock") +
         fmt::format("{} exchange boundaries, in order of their last exit\n", group_digits(result.boundaries.size()));
}

std::vector<Sheet> sheets(const ExchangeResult& result, bool for_table) {
  return {exchange_sheet(result.summary, result.profile_span_cycles, result.profile.clock_hz, for_table, "")};
}

std::string preamble(const ExchangeResult& result) {
  return span_line(result.profile, result.profile_span_cycles, ", shared clock");
}

std::vector<Sheet> sheets(const PhasesResult& result, bool) {
  return {phase_sheet(result.phases, result.profile_span_cycles, result.profile.clock_hz, "")};
}

std::string preamble(const PhasesResult& result) {
  return span_line(result.profile, result.profile_span_cycles, clock_note(result.shared_clock)) +
         fmt::format("{} phases, in order of their start\n", group_digits(result.phases.size()));
}

std::vector<Sheet> sheets(const SummaryResult& result, bool for_table) {
  const std::uint64_t span = result.kernels.profile_span_cycles;
  const std::uint64_t clock = result.profile.clock_hz;
  std::vector<Sheet> out;
  if (!for_table) out.push_back(overview_sheet(result.profile, span));
  out.push_back(group_sheet(result.kernels.groups, span, "kernel",
                            fmt::format("Top kernels by covered cycles ({} of {} matched samples)",
                                        group_digits(result.kernels.matched_sample_count),
                                        group_digits(result.kernels.sample_count))));
  out.push_back(exchange_sheet(result.exchange, result.uncropped_span_cycles, clock, for_table,
                               "Exchange totals (shared clock)"));
  out.push_back(boundary_sheet(result.boundaries, result.uncropped_span_cycles, clock,
                               fmt::format("Boundaries with the largest arrival spread ({} of {}, shared clock)",
                                           result.boundaries.size(), group_digits(result.boundary_count))));
  out.push_back(phase_sheet(result.phases, span, clock,
                            fmt::format("Phases with the most work ({} of {})", result.phases.size(),
                                        group_digits(result.phase_count))));
  if (for_table) {
    // One screen: the finer columns stay in the dedicated commands.
    for (Sheet& sheet : out) {
      for (Column& column : sheet.columns) {
        for (std::string_view key : {"phase_count", "mean_cycles", "p50_cycles", "first_entry", "last_entry",
                                     "last_exit", "start", "end", "span_ms", "exposed_preparation_cycles",
                                     "late_tile_top_kernel", "duration_ms"}) {
          if (column.key == key) column.in_table = false;
        }
      }
    }
  } else {
    for (Sheet& sheet : out) sheet.title.clear();
  }
  return out;
}

std::string preamble(const SummaryResult& result) {
  return span_line(result.profile, result.kernels.profile_span_cycles, clock_note(result.shared_clock));
}

std::vector<Sheet> sheets(const CalibrationResult& result, bool) {
  Sheet sheet{.title = "",
              .columns = {{"kernel", "kernel", Unit::Text},
                          {"dimensions", "dimensions", Unit::Text},
                          {"samples", "samples", Unit::Count},
                          {"minimum_cycles", "min", Unit::Cycles},
                          {"median_cycles", "median", Unit::Cycles},
                          {"p95_cycles", "p95", Unit::Cycles},
                          {"maximum_cycles", "max", Unit::Cycles}},
              .rows = {}};
  for (const CalibrationMeasurement& m : result.database.measurements) {
    sheet.rows.push_back({cell(m.key.kernel), cell(joined(m.key.dimensions)), cell(m.samples),
                          cell(std::uint64_t{m.minimum_cycles}), cell(std::uint64_t{m.median_cycles}),
                          cell(std::uint64_t{m.p95_cycles}), cell(std::uint64_t{m.maximum_cycles})});
  }
  return {std::move(sheet)};
}

std::string preamble(const CalibrationResult& result) {
  const CalibrationDatabase& db = result.database;
  return fmt::format("calibration of {} profile(s) for target \"{}\", build \"{}\", clock {} Hz\n"
                     "{} measurements (cycles per call; median and p95 are lower nearest-rank percentiles)\n",
                     result.files.size(), db.target, db.build_id, group_digits(db.clock_hz),
                     group_digits(db.measurements.size()));
}

}  // namespace norq_cli
