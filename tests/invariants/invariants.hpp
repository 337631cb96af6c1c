// Properties that every analysis result must have, whatever the profile. Shared by the invariant
// tests and the analysis fuzzer: each check runs the analyses itself and returns one line per
// broken property, so a failure names what broke and where.
#pragma once

#include <norq_profile/norq_profile.hpp>
#include <timeline.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace norq_invariants {

using namespace norq_profile;

class Faults {
 public:
  // Builds the message only for a broken property, so the checks stay cheap enough for fuzzing.
  template <typename... Parts>
  void expect(bool holds, const Parts&... parts) {
    if (holds) return;
    std::ostringstream out;
    (out << ... << parts);
    lines_.push_back(out.str());
  }

  const std::vector<std::string>& lines() const { return lines_; }
  bool empty() const { return lines_.empty(); }

  std::string text() const {
    std::string all;
    for (const auto& line : lines_) all += line + '\n';
    return all;
  }

 private:
  std::vector<std::string> lines_;
};

inline const char* clock_name(bool shared_clock) { return shared_clock ? "shared clock" : "cropped clock"; }

inline bool has_metadata(const CycleSample& sample, std::string_view name, std::string_view value) {
  for (const auto& entry : sample.step.metadata) {
    if (entry.name == name && entry.value == value) return true;
  }
  return false;
}

inline void check_boundary_fields(Faults& faults, const ExchangeBoundary& b, const std::string& where) {
  faults.expect(b.first_entry <= b.last_entry && b.last_entry <= b.last_exit, where,
                ": expected first_entry <= last_entry <= last_exit, got ", b.first_entry, ", ",
                b.last_entry, ", ", b.last_exit);
  faults.expect(b.arrival_spread_cycles == b.last_entry - b.first_entry, where,
                ": arrival_spread_cycles ", b.arrival_spread_cycles, " is not last_entry - first_entry");
  faults.expect(b.after_last_arrival_cycles == b.last_exit - b.last_entry, where,
                ": after_last_arrival_cycles ", b.after_last_arrival_cycles,
                " is not last_exit - last_entry");
  faults.expect(!b.scheduled_event_cycles || *b.scheduled_event_cycles != 0, where,
                ": scheduled_event_cycles present with 0");
}

// Boundaries on the uncropped line: every boundary sample lies inside its record.
inline void check_boundaries(Faults& faults, const ProfileReport& report) {
  const auto boundaries = exchange_boundaries(report);
  std::set<std::pair<std::uint32_t, std::uint32_t>> keys;
  for (std::size_t i = 0; i < boundaries.size(); ++i) {
    const auto& b = boundaries[i];
    const std::string where = "boundaries[" + std::to_string(i) + "]";
    check_boundary_fields(faults, b, where);
    faults.expect(keys.emplace(b.epoch, b.phase).second, where, ": (epoch ", b.epoch, ", phase ",
                  b.phase, ") appears twice");
    if (i > 0) {
      const auto& a = boundaries[i - 1];
      faults.expect(std::tie(a.last_exit, a.epoch, a.phase) < std::tie(b.last_exit, b.epoch, b.phase),
                    where, ": not after the boundary before it in (last_exit, epoch, phase) order");
    }
  }
  const auto timeline = detail::make_timeline(report, true);
  std::size_t boundary_samples = 0;
  for (std::size_t t = 0; t < report.tiles.size(); ++t) {
    for (std::size_t s = 0; s < report.tiles[t].samples.size(); ++s) {
      const auto& sample = report.tiles[t].samples[s];
      if (!is_exchange_boundary(sample)) continue;
      ++boundary_samples;
      const auto placed = timeline.place(sample);
      const auto found = std::find_if(boundaries.begin(), boundaries.end(), [&](const auto& b) {
        return b.epoch == sample.step.epoch && b.phase == sample.step.phase;
      });
      const std::string where = "tiles[" + std::to_string(t) + "].samples[" + std::to_string(s) + "]";
      if (found == boundaries.end()) {
        faults.expect(false, where, ": boundary sample without a boundary record");
        continue;
      }
      faults.expect(found->first_entry <= placed.start && placed.start <= found->last_entry &&
                        placed.end <= found->last_exit,
                    where, ": boundary sample [", placed.start, ", ", placed.end,
                    ") lies outside its boundary");
    }
  }
  faults.expect(boundary_samples != 0 || boundaries.empty(), "boundaries without boundary samples");
}

// The role split of one window against a direct count of the clipped intervals.
inline void check_roles(Faults& faults, std::span<const ProfileExchangeActivity> activities,
                        std::uint64_t window, const std::string& where) {
  const auto roles = exchange_role_cycles(activities, window);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> any;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> by_kind[3];
  for (const auto& activity : activities) {
    const std::uint64_t s = std::min<std::uint64_t>(activity.start_cycle, window);
    const std::uint64_t e = std::min<std::uint64_t>(activity.end_cycle, window);
    if (e <= s) continue;
    any.emplace_back(s, e);
    const auto kind = static_cast<std::size_t>(activity.kind);
    if (kind < 3) by_kind[kind].emplace_back(s, e);
  }
  const std::uint64_t busy = union_length(any);
  const std::uint64_t send = union_length(by_kind[0]);
  const std::uint64_t receive = union_length(by_kind[1]);
  const std::uint64_t partner_busy = union_length(by_kind[2]);
  faults.expect(roles.idle + busy == window, where, ": idle ", roles.idle, " plus busy ", busy,
                " is not the window ", window);
  faults.expect(roles.send <= window && roles.receive <= window && roles.partner_busy <= window &&
                    roles.simultaneous <= std::min(roles.send, roles.receive),
                where, ": role totals exceed the window ", window);
  faults.expect(roles.send == send && roles.receive == receive && roles.partner_busy == partner_busy,
                where, ": role totals differ from the union of their intervals (send ", roles.send,
                " vs ", send, ", receive ", roles.receive, " vs ", receive, ", partner_busy ",
                roles.partner_busy, " vs ", partner_busy, ")");
  faults.expect(roles.send + roles.receive - roles.simultaneous <= busy, where,
                ": sending or receiving exceeds the busy cycles");
}

inline void check_exchange(Faults& faults, const ProfileReport& report) {
  std::uint64_t windows = 0;
  std::size_t exchange_samples = 0;
  std::size_t described = 0;
  std::size_t activity_count = 0;
  for (std::size_t t = 0; t < report.tiles.size(); ++t) {
    for (std::size_t s = 0; s < report.tiles[t].samples.size(); ++s) {
      const auto& step = report.tiles[t].samples[s].step;
      const std::string where = "tiles[" + std::to_string(t) + "].samples[" + std::to_string(s) + "]";
      check_roles(faults, step.exchange_activities, step.exchange_event_cycles, where);
      if (step.kind != StepKind::Exchange) continue;
      ++exchange_samples;
      if (step.exchange_event_cycles == 0 || step.exchange_activities.empty()) continue;
      ++described;
      windows += step.exchange_event_cycles;
      activity_count += step.exchange_activities.size();
    }
  }
  const auto summary = exchange_activity_summary(report);
  faults.expect(summary.exchange_samples == exchange_samples && summary.described_samples == described,
                "summary: counts ", summary.exchange_samples, "/", summary.described_samples,
                " differ from ", exchange_samples, "/", described);
  faults.expect(summary.send_intervals + summary.receive_intervals + summary.partner_busy_intervals ==
                    activity_count,
                "summary: interval counts do not add up to the activities of described samples");
  faults.expect(summary.estimated_send_work_cycles <= windows &&
                    summary.estimated_receive_work_cycles <= windows &&
                    summary.estimated_partner_busy_work_cycles <= windows &&
                    summary.estimated_idle_work_cycles <= windows &&
                    summary.estimated_simultaneous_work_cycles <=
                        std::min(summary.estimated_send_work_cycles,
                                 summary.estimated_receive_work_cycles),
                "summary: role totals exceed the sum of the event windows ", windows);
  faults.expect(summary.phase_boundary_cycles <= summary.measured_phase_cycles,
                "summary: phase_boundary_cycles exceeds measured_phase_cycles");
}

inline std::uint64_t kernel_work(const std::vector<phases::KernelWork>& rows) {
  std::uint64_t sum = 0;
  for (const auto& row : rows) sum += row.work_cycles;
  return sum;
}

inline void check_kernel_rows(Faults& faults, const std::vector<phases::KernelWork>& rows,
                              const std::string& where) {
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const auto& row = rows[k];
    faults.expect(row.samples >= 1 && row.tiles >= 1 && row.tiles <= row.samples &&
                      row.maximum_cycles <= row.work_cycles && row.start <= row.end,
                  where, "[", k, "]: inconsistent kernel row");
    if (k > 0) {
      const auto& before = rows[k - 1];
      faults.expect(before.work_cycles > row.work_cycles ||
                        (before.work_cycles == row.work_cycles && before.start <= row.start),
                    where, "[", k, "]: kernel rows out of order");
    }
  }
}

inline void check_phases(Faults& faults, const ProfileReport& report, bool shared_clock) {
  const auto rows = phases::phase_work(report, shared_clock);
  const auto timeline = detail::make_timeline(report, shared_clock);
  const auto boundaries = exchange_boundaries(report);
  const std::string clock = clock_name(shared_clock);

  std::uint64_t counted = 0;  // compute work that some phase must hold
  for (const auto& tile : report.tiles) {
    for (const auto& sample : tile.samples) {
      if (sample.step.kind != StepKind::Compute || sample.step.kernel == "repeat-remainder" ||
          has_metadata(sample, "active", "false")) {
        continue;
      }
      counted += timeline.place_cropped(sample).length();
    }
  }

  std::uint64_t total = 0;
  std::size_t closed = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& p = rows[i];
    const std::string where = std::string("phase_work(") + clock + ")[" + std::to_string(i) + "]";
    total += p.work_cycles;
    faults.expect(p.start <= p.end && p.span_cycles == p.end - p.start, where,
                  ": span_cycles is not end - start");
    faults.expect(kernel_work(p.kernels) == p.work_cycles, where, ": kernels add up to ",
                  kernel_work(p.kernels), ", not to work_cycles ", p.work_cycles);
    faults.expect(kernel_work(p.late_tile_kernels) <= p.work_cycles, where,
                  ": late-tile kernels exceed work_cycles");
    check_kernel_rows(faults, p.kernels, where + ".kernels");
    check_kernel_rows(faults, p.late_tile_kernels, where + ".late_tile_kernels");
    faults.expect(p.active_tiles <= report.tiles.size(), where, ": more active tiles than tiles");
    faults.expect(std::isfinite(p.occupancy) && p.occupancy >= 0.0, where, ": occupancy ", p.occupancy);
    faults.expect(!p.exchange_occupancy ||
                      (std::isfinite(*p.exchange_occupancy) && *p.exchange_occupancy >= 0.0),
                  where, ": exchange_occupancy is not a finite ratio");
    faults.expect(p.exchange.has_value() == p.next_exchange_phase.has_value(), where,
                  ": exchange present without a next exchange phase, or the other way");
    if (p.exchange) {
      ++closed;
      check_boundary_fields(faults, *p.exchange, where + ".exchange");
      faults.expect(p.exchange->epoch == p.epoch && p.exchange->phase == *p.next_exchange_phase, where,
                    ": exchange of another phase");
      const auto original = std::find_if(boundaries.begin(), boundaries.end(), [&](const auto& b) {
        return b.epoch == p.epoch && b.phase == *p.next_exchange_phase;
      });
      if (original != boundaries.end()) {
        faults.expect(p.exchange->first_entry == timeline.cropped(original->first_entry) &&
                          p.exchange->last_entry == timeline.cropped(original->last_entry) &&
                          p.exchange->last_exit == timeline.cropped(original->last_exit),
                      where, ": exchange times are not the cropped boundary times");
      }
    } else {
      faults.expect(p.late_tile_kernels.empty() && p.unattributed_before_barrier_cycles == 0 &&
                        !p.exchange_occupancy && !p.exposed_preparation_cycles,
                    where, ": boundary fields set on work without a boundary");
    }
    if (i > 0) {
      const auto& a = rows[i - 1];
      faults.expect(std::tie(a.start, a.epoch, a.next_exchange_phase) <
                        std::tie(p.start, p.epoch, p.next_exchange_phase),
                    where, ": not after the record before it in (start, epoch, phase) order");
    }
  }
  faults.expect(closed == boundaries.size(), "phase_work(", clock, "): ", closed,
                " records with a boundary, but ", boundaries.size(), " boundaries");
  faults.expect(total == counted, "phase_work(", clock, "): work_cycles add up to ", total,
                ", but the counted compute samples hold ", counted);
}

inline std::string describe(const Query& q) {
  std::ostringstream out;
  out << "query(group_by " << static_cast<int>(q.group_by) << ", sort_by "
      << static_cast<int>(q.sort_by) << ", " << clock_name(q.shared_clock);
  if (q.kind) out << ", kind " << static_cast<int>(*q.kind);
  if (q.kernel) out << ", kernel \"" << *q.kernel << '"';
  if (q.operation_contains) out << ", operation contains \"" << *q.operation_contains << '"';
  if (!q.tiles.empty()) out << ", " << q.tiles.size() << " tiles";
  if (!q.phases.empty()) out << ", " << q.phases.size() << " phases";
  for (const auto& f : q.metadata) out << ", metadata " << f.name << (f.value ? "=" + *f.value : "");
  if (q.metadata_key) out << ", key \"" << *q.metadata_key << '"';
  if (q.at_offset) out << ", at " << *q.at_offset;
  out << ')';
  return out.str();
}

inline void check_query(Faults& faults, const ProfileReport& report, const Query& q) {
  const std::string where = describe(q);
  const auto result = query(report, q);
  const auto timeline = detail::make_timeline(report, q.shared_clock);

  std::size_t samples = 0;
  std::size_t matched = 0;
  std::uint64_t matched_cycles = 0;
  std::uint64_t span = 0;
  for (const auto& tile : report.tiles) {
    samples += tile.samples.size();
    for (const auto& sample : tile.samples) {
      const auto placed = timeline.place_cropped(sample);
      span = std::max(span, placed.end);
      const auto length = static_cast<std::uint32_t>(placed.length());
      if (length == 0 || !matches_query(q, tile.physical_tile, sample, placed.start, length)) continue;
      ++matched;
      matched_cycles += length;
    }
  }
  faults.expect(result.tile_count == report.tiles.size() && result.sample_count == samples &&
                    result.matched_sample_count == matched && result.clock_hz == report.clock_hz &&
                    result.at_offset == q.at_offset,
                where, ": totals differ (matched ", result.matched_sample_count, " vs ", matched, ")");
  faults.expect(result.profile_span_cycles == span, where, ": profile span ", result.profile_span_cycles,
                " vs ", span);

  std::uint64_t work = 0;
  std::size_t grouped = 0;
  std::set<std::string> names;
  for (std::size_t i = 0; i < result.groups.size(); ++i) {
    const auto& g = result.groups[i];
    const std::string row = where + ".groups[" + std::to_string(i) + "] \"" + g.name + "\"";
    work += g.work_cycles;
    grouped += g.sample_count;
    faults.expect(names.insert(g.name).second, row, ": name appears twice");
    faults.expect(g.sample_count >= 1 && g.tile_count >= 1 && g.tile_count <= result.tile_count &&
                      g.phase_count >= 1 && g.phase_count <= g.sample_count,
                  row, ": counts out of range");
    faults.expect(g.p50_cycles <= g.p95_cycles && g.p95_cycles <= g.maximum_cycles &&
                      g.maximum_cycles <= g.work_cycles,
                  row, ": percentiles out of order");
    faults.expect(g.first_offset < g.last_offset && g.last_offset <= result.profile_span_cycles &&
                      g.phase_cycles <= g.last_offset - g.first_offset && g.phase_cycles <= g.work_cycles,
                  row, ": offsets or phase_cycles out of range");
    faults.expect(g.estimated_work_cycles <= g.work_cycles, row, ": estimated work exceeds work");
    faults.expect(g.useful_utilization.has_value() == (g.estimated_work_cycles != 0), row,
                  ": useful_utilization present without estimated work, or the other way");
    if (i > 0) {
      faults.expect(compare_groups(q.sort_by, result.groups[i - 1], g) == std::strong_ordering::less,
                    row, ": not after the row before it");
    }
  }
  faults.expect(grouped == matched, where, ": group sample counts add up to ", grouped, ", not ", matched);
  if (!q.limit) {
    faults.expect(work == matched_cycles, where, ": group work_cycles add up to ", work,
                  ", but the matched samples hold ", matched_cycles, " cropped cycles");
  }

  faults.expect(result.samples.size() == std::min(q.sample_limit, matched), where, ": lists ",
                result.samples.size(), " samples with sample_limit ", q.sample_limit);
  for (std::size_t i = 0; i < result.samples.size(); ++i) {
    const auto& s = result.samples[i];
    faults.expect(s.duration > 0 && s.offset + s.duration <= result.profile_span_cycles, where,
                  ".samples[", i, "]: outside the profile span");
    if (i > 0) {
      const auto& a = result.samples[i - 1];
      faults.expect(std::tuple(std::numeric_limits<std::uint32_t>::max() - a.duration, a.physical_tile,
                               a.offset) <=
                        std::tuple(std::numeric_limits<std::uint32_t>::max() - s.duration,
                                   s.physical_tile, s.offset),
                    where, ".samples[", i, "]: listed out of order");
    }
  }
}

// Filters and keys taken from the profile itself, so that they match something.
inline std::vector<Query> query_variants(const ProfileReport& report, bool shared_clock,
                                         std::uint64_t span) {
  std::vector<Query> variants;
  const CycleSample* first = nullptr;
  std::uint32_t first_tile = 0;
  for (const auto& tile : report.tiles) {
    for (const auto& sample : tile.samples) {
      if (!first || !sample.step.metadata.empty()) {
        first = &sample;
        first_tile = tile.physical_tile;
      }
      if (!sample.step.metadata.empty()) break;
    }
    if (first && !first->step.metadata.empty()) break;
  }
  std::optional<std::string> key;
  if (first && !first->step.metadata.empty()) key = first->step.metadata.front().name;

  for (const auto group_by : {GroupBy::Kind, GroupBy::Kernel, GroupBy::Operation, GroupBy::Phase,
                              GroupBy::Tile, GroupBy::Metadata}) {
    for (const auto sort_by : {SortBy::PhaseCycles, SortBy::WorkCycles, SortBy::MaximumCycles,
                               SortBy::Samples, SortBy::Name}) {
      variants.push_back({.group_by = group_by, .sort_by = sort_by, .metadata_key = key,
                          .shared_clock = shared_clock, .sample_limit = 3});
    }
  }
  variants.push_back({.group_by = GroupBy::Metadata, .shared_clock = shared_clock});  // empty key
  for (const auto kind : {StepKind::Exchange, StepKind::Compute, StepKind::Synchronization, StepKind::Idle}) {
    variants.push_back({.group_by = GroupBy::Kind, .kind = kind, .shared_clock = shared_clock});
  }
  variants.push_back({.at_offset = span / 2, .shared_clock = shared_clock, .sample_limit = 2});
  variants.push_back({.at_offset = span, .shared_clock = shared_clock});
  // Limits far beyond any profile must neither allocate for them nor cut anything.
  variants.push_back({.shared_clock = shared_clock,
                      .sample_limit = std::numeric_limits<std::size_t>::max()});
  if (first) {
    const auto& step = first->step;
    variants.push_back({.kernel = step.kernel, .shared_clock = shared_clock, .sample_limit = 1});
    variants.push_back({.group_by = GroupBy::Operation,
                        .operation_contains = step.operation.substr(step.operation.size() / 2),
                        .shared_clock = shared_clock});
    variants.push_back({.group_by = GroupBy::Tile, .tiles = {first_tile}, .phases = {step.phase},
                        .shared_clock = shared_clock});
    if (key) {
      const auto& entry = step.metadata.front();
      variants.push_back({.group_by = GroupBy::Phase, .metadata = {{entry.name, entry.value}},
                          .shared_clock = shared_clock});
      variants.push_back({.group_by = GroupBy::Metadata, .metadata = {{entry.name, std::nullopt}},
                          .metadata_key = key, .shared_clock = shared_clock});
    }
  }
  return variants;
}

inline void check_queries(Faults& faults, const ProfileReport& report) {
  std::uint64_t spans[2] = {};
  for (const bool shared_clock : {false, true}) {
    const auto whole = query(report, Query{.shared_clock = shared_clock});
    spans[shared_clock] = whole.profile_span_cycles;
    for (const auto& q : query_variants(report, shared_clock, whole.profile_span_cycles)) {
      check_query(faults, report, q);
    }
    // A limit keeps the top rows of the same ordering.
    const auto limited_query = Query{.group_by = GroupBy::Kernel, .shared_clock = shared_clock,
                                     .limit = whole.groups.size() / 2};
    const auto limited = query(report, limited_query);
    faults.expect(std::equal(limited.groups.begin(), limited.groups.end(), whole.groups.begin(),
                             whole.groups.begin() + static_cast<std::ptrdiff_t>(limited.groups.size())) &&
                      limited.groups.size() == whole.groups.size() / 2 &&
                      limited.matched_sample_count == whole.matched_sample_count,
                  describe(limited_query), ": limit ", whole.groups.size() / 2,
                  " does not keep the top rows");
  }
  faults.expect(spans[1] >= spans[0], "shared-clock profile span ", spans[1],
                " is below the cropped one ", spans[0]);
}

inline void check_calibration(Faults& faults, const ProfileReport& report) {
  constexpr std::string_view excluded[] = {"reason", "value", "invocations", "uniformInvocations",
                                          "usefulCycles", "physicalWorkCycles", "workEstimateBasis"};
  std::uint64_t compute = 0;
  for (const auto& tile : report.tiles) {
    for (const auto& sample : tile.samples) {
      compute += sample.step.kind == StepKind::Compute && !sample.step.kernel.empty();
    }
  }
  const ProfileReport once[] = {report};
  const auto database = calibrate_profiles(once, "target", "build");
  faults.expect(database.schema_version == 1 && database.clock_hz == report.clock_hz &&
                    database.target == "target" && database.build_id == "build",
                "calibration: header fields");
  std::uint64_t measured = 0;
  for (std::size_t i = 0; i < database.measurements.size(); ++i) {
    const auto& m = database.measurements[i];
    const std::string where = "calibration.measurements[" + std::to_string(i) + "]";
    measured += m.samples;
    faults.expect(!m.key.kernel.empty() && m.samples >= 1, where, ": empty kernel or no samples");
    faults.expect(m.minimum_cycles <= m.median_cycles && m.median_cycles <= m.p95_cycles &&
                      m.p95_cycles <= m.maximum_cycles,
                  where, ": statistics out of order");
    for (const auto name : excluded) {
      faults.expect(!m.key.dimensions.contains(std::string(name)), where, ": keeps the dimension ", name);
    }
    if (i > 0) {
      faults.expect(database.measurements[i - 1].key < m.key, where, ": keys not strictly ascending");
    }
  }
  faults.expect(measured <= compute, "calibration: ", measured, " samples from ", compute,
                " compute samples with a kernel");

  // The same profile twice doubles every count and keeps the extremes.
  const ProfileReport twice_reports[] = {report, report};
  const auto twice = calibrate_profiles(twice_reports, "target", "build");
  bool doubled = twice.measurements.size() == database.measurements.size();
  for (std::size_t i = 0; doubled && i < twice.measurements.size(); ++i) {
    const auto& a = database.measurements[i];
    const auto& b = twice.measurements[i];
    doubled = a.key == b.key && b.samples == 2 * a.samples && a.minimum_cycles == b.minimum_cycles &&
              a.maximum_cycles == b.maximum_cycles;
  }
  faults.expect(doubled, "calibration: the same profile twice does not double the counts");

  const ProfileReport differing[] = {report, ProfileReport{.clock_hz = report.clock_hz + 1}};
  try {
    (void)calibrate_profiles(differing, "target", "build");
    faults.expect(false, "calibration: differing clocks accepted");
  } catch (const CalibrationError& error) {
    faults.expect(std::string_view(error.what()) == "profile clock frequencies differ",
                  "calibration: wrong message \"", error.what(), "\"");
  }
}

// Every analysis on both clocks.
inline Faults check_all(const ProfileReport& report) {
  Faults faults;
  check_boundaries(faults, report);
  check_exchange(faults, report);
  for (const bool shared_clock : {false, true}) check_phases(faults, report, shared_clock);
  check_queries(faults, report);
  check_calibration(faults, report);
  return faults;
}

}  // namespace norq_invariants
