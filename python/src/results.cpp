// Result records: read-only, owning every text they show, absent values as None.
#include "bindings.hpp"

#include <nanobind/make_iterator.h>
#include <nanobind/operators.h>
#include <nanobind/stl/map.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <cstddef>
#include <sstream>
#include <string>

namespace norq_python {

using namespace nb::literals;
using norq_profile::CalibrationDatabase;
using norq_profile::CalibrationKey;
using norq_profile::CalibrationMeasurement;
using norq_profile::ExchangeActivitySummary;
using norq_profile::ExchangeBoundary;
using norq_profile::ExchangeRoleCycles;
using norq_profile::GroupSummary;
using norq_profile::MetadataEntry;
using norq_profile::QueryReport;
using norq_profile::SampleRecord;
using norq_profile::phases::KernelWork;
using norq_profile::phases::PhaseWork;

nb::object table_call(const char* function, nb::handle self, nb::tuple args) {
  nb::object tables = nb::module_::import_("norq_profile._tables");
  return tables.attr(function)(self, *args);
}

namespace {

template <class Record>
nb::class_<Record> record(nb::module_& m, const char* name, const char* doc) {
  nb::class_<Record> cls(m, name, doc);
  cls.def(nb::self == nb::self, "other"_a.noconvert());
  cls.attr("__hash__") = nb::none();
  return cls;
}

// A read-only list of result rows. Rows are handed out as views kept alive by the list, which
// never changes after the analysis built it.
template <class Row>
nb::class_<std::vector<Row>> rows(nb::module_& m, const char* name, const char* doc,
                                  nb::list (*columns)(const std::vector<Row>&, bool)) {
  using Rows = std::vector<Row>;
  nb::class_<Rows> cls(m, name, doc);
  cls.def("__len__", [](const Rows& rows) { return rows.size(); })
      .def("__bool__", [](const Rows& rows) { return !rows.empty(); })
      .def(
          "__getitem__",
          [](const Rows& rows, Py_ssize_t index) -> const Row& {
            const auto size = static_cast<Py_ssize_t>(rows.size());
            if (index < 0) index += size;
            if (index < 0 || index >= size) throw nb::index_error("row index out of range");
            return rows[static_cast<std::size_t>(index)];
          },
          nb::rv_policy::reference_internal, "index"_a)
      .def(
          "__getitem__",
          [](const Rows& rows, nb::slice slice) {
            const auto [start, stop, step, length] = slice.compute(rows.size());
            Rows part;
            part.reserve(length);
            for (std::size_t i = 0, at = start; i < length; ++i, at += static_cast<std::size_t>(step)) {
              part.push_back(rows[at]);
            }
            return part;
          },
          "index"_a)
      .def(
          "__iter__",
          [](const Rows& rows) {
            return nb::make_iterator<nb::rv_policy::reference_internal>(nb::type<Rows>(), "iterator", rows.begin(),
                                                                         rows.end());
          },
          nb::keep_alive<0, 1>())
      .def(nb::self == nb::self, "other"_a.noconvert())
      .def("__repr__",
           [](nb::handle self) {
             return nb::str("<{} with {} rows>").format(nb::type_name(self.type()), nb::len(self));
           })
      .def(
          "to_pandas", [](nb::handle self) { return table_call("rows_to_pandas", self); },
          "The rows as a pandas DataFrame, one column per field.")
      .def(
          "to_arrow", [](nb::handle self) { return table_call("rows_to_arrow", self); },
          "The rows as a pyarrow Table, one column per field.")
      .def("_columns", columns, "for_pandas"_a);
  cls.attr("__hash__") = nb::none();
  return cls;
}

}  // namespace

void bind_results(nb::module_& m) {
  record<MetadataEntry>(m, "MetadataEntry", "One metadata annotation of a listed sample.")
      .def_ro("name", &MetadataEntry::name)
      .def_ro("value", &MetadataEntry::value)
      .def("__repr__", [](const MetadataEntry& entry) {
        return nb::str("MetadataEntry(name={!r}, value={!r})").format(entry.name, entry.value);
      });

  record<SampleRecord>(m, "SampleRecord", "A listed sample, placed on the query's time line.")
      .def_ro("physical_tile", &SampleRecord::physical_tile)
      .def_ro("offset", &SampleRecord::offset)
      .def_ro("duration", &SampleRecord::duration)
      .def_ro("phase", &SampleRecord::phase)
      .def_ro("epoch", &SampleRecord::epoch)
      .def_ro("kind", &SampleRecord::kind)
      .def_ro("operation", &SampleRecord::operation)
      .def_ro("kernel", &SampleRecord::kernel)
      .def_ro("metadata", &SampleRecord::metadata);
  rows<SampleRecord>(m, "SampleRecords", "Listed samples of a query, longest first.", sample_record_columns);

  record<GroupSummary>(m, "GroupSummary", "Statistics of one group of matched samples.")
      .def_ro("name", &GroupSummary::name)
      .def_ro("dimensions", &GroupSummary::dimensions)
      .def_ro("sample_count", &GroupSummary::sample_count)
      .def_ro("tile_count", &GroupSummary::tile_count)
      .def_ro("phase_count", &GroupSummary::phase_count)
      .def_ro("phase_cycles", &GroupSummary::phase_cycles)
      .def_ro("phase_ms", &GroupSummary::phase_ms)
      .def_ro("work_cycles", &GroupSummary::work_cycles)
      .def_ro("average_active_tiles", &GroupSummary::average_active_tiles)
      .def_ro("useful_cycles", &GroupSummary::useful_cycles)
      .def_ro("estimated_work_cycles", &GroupSummary::estimated_work_cycles)
      .def_ro("useful_utilization", &GroupSummary::useful_utilization)
      .def_ro("work_lane_occupancy", &GroupSummary::work_lane_occupancy)
      .def_ro("device_useful_utilization", &GroupSummary::device_useful_utilization)
      .def_ro("mean_cycles", &GroupSummary::mean_cycles)
      .def_ro("p50_cycles", &GroupSummary::p50_cycles)
      .def_ro("p95_cycles", &GroupSummary::p95_cycles)
      .def_ro("maximum_cycles", &GroupSummary::maximum_cycles)
      .def_ro("first_offset", &GroupSummary::first_offset)
      .def_ro("last_offset", &GroupSummary::last_offset)
      .def("__repr__", [](const GroupSummary& group) {
        return nb::str("GroupSummary(name={!r}, sample_count={}, phase_cycles={})")
            .format(group.name, group.sample_count, group.phase_cycles);
      });
  rows<GroupSummary>(m, "GroupSummaries", "Groups of a query, in the query's order.", group_columns);

  record<QueryReport>(m, "QueryReport", "Result of a query: profile totals, groups and listed samples.")
      .def_ro("clock_hz", &QueryReport::clock_hz)
      .def_ro("tile_count", &QueryReport::tile_count)
      .def_ro("sample_count", &QueryReport::sample_count)
      .def_ro("matched_sample_count", &QueryReport::matched_sample_count)
      .def_ro("profile_span_cycles", &QueryReport::profile_span_cycles)
      .def_ro("profile_span_ms", &QueryReport::profile_span_ms)
      .def_ro("at_offset", &QueryReport::at_offset)
      .def_ro("groups", &QueryReport::groups)
      .def_ro("samples", &QueryReport::samples)
      .def(
          "to_pandas", [](nb::handle self) { return self.attr("groups").attr("to_pandas")(); },
          "The groups as a pandas DataFrame.")
      .def(
          "to_arrow", [](nb::handle self) { return self.attr("groups").attr("to_arrow")(); },
          "The groups as a pyarrow Table.")
      .def("__repr__", [](const QueryReport& report) {
        return nb::str("QueryReport(matched_sample_count={}, groups={}, samples={})")
            .format(report.matched_sample_count, report.groups.size(), report.samples.size());
      });

  record<ExchangeBoundary>(m, "ExchangeBoundary", "One exchange as the whole processor sees it.")
      .def_ro("epoch", &ExchangeBoundary::epoch)
      .def_ro("phase", &ExchangeBoundary::phase)
      .def_ro("first_entry", &ExchangeBoundary::first_entry)
      .def_ro("last_entry", &ExchangeBoundary::last_entry)
      .def_ro("last_exit", &ExchangeBoundary::last_exit)
      .def_ro("last_arriving_tile", &ExchangeBoundary::last_arriving_tile)
      .def_ro("arrival_spread_cycles", &ExchangeBoundary::arrival_spread_cycles)
      .def_ro("after_last_arrival_cycles", &ExchangeBoundary::after_last_arrival_cycles)
      .def_ro("scheduled_event_cycles", &ExchangeBoundary::scheduled_event_cycles)
      .def("__repr__", [](const ExchangeBoundary& b) {
        return nb::str(
                   "ExchangeBoundary(epoch={}, phase={}, first_entry={}, last_entry={}, last_exit={}, "
                   "last_arriving_tile={}, arrival_spread_cycles={}, after_last_arrival_cycles={}, "
                   "scheduled_event_cycles={!r})")
            .format(b.epoch, b.phase, b.first_entry, b.last_entry, b.last_exit, b.last_arriving_tile,
                    b.arrival_spread_cycles, b.after_last_arrival_cycles, b.scheduled_event_cycles);
      });
  rows<ExchangeBoundary>(m, "ExchangeBoundaries", "Exchange boundaries ordered by (last_exit, epoch, phase).",
                         boundary_columns);

  record<ExchangeRoleCycles>(m, "ExchangeRoleCycles", "Cycles of an event window by role.")
      .def_ro("send", &ExchangeRoleCycles::send)
      .def_ro("receive", &ExchangeRoleCycles::receive)
      .def_ro("simultaneous", &ExchangeRoleCycles::simultaneous)
      .def_ro("partner_busy", &ExchangeRoleCycles::partner_busy)
      .def_ro("idle", &ExchangeRoleCycles::idle)
      .def("__repr__", [](const ExchangeRoleCycles& roles) {
        std::ostringstream out;
        out << roles;
        return out.str();
      });

  auto summary = record<ExchangeActivitySummary>(m, "ExchangeActivitySummary",
                                                 "Exchange activity of a whole profile.");
  summary.def_ro("exchange_samples", &ExchangeActivitySummary::exchange_samples)
      .def_ro("described_samples", &ExchangeActivitySummary::described_samples)
      .def_ro("send_intervals", &ExchangeActivitySummary::send_intervals)
      .def_ro("receive_intervals", &ExchangeActivitySummary::receive_intervals)
      .def_ro("partner_busy_intervals", &ExchangeActivitySummary::partner_busy_intervals)
      .def_ro("estimated_send_work_cycles", &ExchangeActivitySummary::estimated_send_work_cycles)
      .def_ro("estimated_receive_work_cycles", &ExchangeActivitySummary::estimated_receive_work_cycles)
      .def_ro("estimated_simultaneous_work_cycles", &ExchangeActivitySummary::estimated_simultaneous_work_cycles)
      .def_ro("estimated_partner_busy_work_cycles", &ExchangeActivitySummary::estimated_partner_busy_work_cycles)
      .def_ro("estimated_idle_work_cycles", &ExchangeActivitySummary::estimated_idle_work_cycles)
      .def_ro("measured_phase_cycles", &ExchangeActivitySummary::measured_phase_cycles)
      .def_ro("scheduled_event_cycles", &ExchangeActivitySummary::scheduled_event_cycles)
      .def_ro("arrival_wait_cycles", &ExchangeActivitySummary::arrival_wait_cycles)
      .def_ro("phase_boundary_cycles", &ExchangeActivitySummary::phase_boundary_cycles)
      .def("__repr__", [](const ExchangeActivitySummary& s) {
        return nb::str("ExchangeActivitySummary(exchange_samples={}, described_samples={}, measured_phase_cycles={})")
            .format(s.exchange_samples, s.described_samples, s.measured_phase_cycles);
      });

  record<KernelWork>(m, "KernelWork", "Work of one (operation, kernel) pair.")
      .def_ro("operation", &KernelWork::operation)
      .def_ro("kernel", &KernelWork::kernel)
      .def_ro("samples", &KernelWork::samples)
      .def_ro("tiles", &KernelWork::tiles)
      .def_ro("work_cycles", &KernelWork::work_cycles)
      .def_ro("maximum_cycles", &KernelWork::maximum_cycles)
      .def_ro("start", &KernelWork::start)
      .def_ro("end", &KernelWork::end)
      .def("__repr__", [](const KernelWork& k) {
        return nb::str("KernelWork(operation={!r}, kernel={!r}, samples={}, tiles={}, work_cycles={})")
            .format(k.operation, k.kernel, k.samples, k.tiles, k.work_cycles);
      });
  rows<KernelWork>(m, "KernelWorks", "Kernel rows, heaviest first.", kernel_columns);

  record<PhaseWork>(m, "PhaseWork", "Compute work leading up to one exchange boundary.")
      .def_ro("epoch", &PhaseWork::epoch)
      .def_ro("next_exchange_phase", &PhaseWork::next_exchange_phase)
      .def_ro("start", &PhaseWork::start)
      .def_ro("end", &PhaseWork::end)
      .def_ro("span_cycles", &PhaseWork::span_cycles)
      .def_ro("work_cycles", &PhaseWork::work_cycles)
      .def_ro("active_tiles", &PhaseWork::active_tiles)
      .def_ro("occupancy", &PhaseWork::occupancy)
      .def_ro("exposed_preparation_cycles", &PhaseWork::exposed_preparation_cycles)
      .def_ro("kernels", &PhaseWork::kernels)
      .def_ro("exchange", &PhaseWork::exchange)
      .def_ro("exchange_occupancy", &PhaseWork::exchange_occupancy)
      .def_ro("late_tile_kernels", &PhaseWork::late_tile_kernels)
      .def_ro("unattributed_before_barrier_cycles", &PhaseWork::unattributed_before_barrier_cycles)
      .def("__repr__", [](const PhaseWork& p) {
        return nb::str("PhaseWork(epoch={}, next_exchange_phase={!r}, span_cycles={}, work_cycles={}, occupancy={})")
            .format(p.epoch, p.next_exchange_phase, p.span_cycles, p.work_cycles, p.occupancy);
      });
  rows<PhaseWork>(m, "PhaseWorks", "Phases of a profile.", phase_columns);

  record<CalibrationKey>(m, "CalibrationKey", "A kernel and the metadata combination it ran with.")
      .def_ro("kernel", &CalibrationKey::kernel)
      .def_ro("dimensions", &CalibrationKey::dimensions)
      .def("__repr__", [](const CalibrationKey& key) {
        return nb::str("CalibrationKey(kernel={!r}, dimensions={!r})").format(key.kernel, key.dimensions);
      });
  record<CalibrationMeasurement>(m, "CalibrationMeasurement", "Cycles per call of one calibration key.")
      .def_ro("key", &CalibrationMeasurement::key)
      .def_ro("samples", &CalibrationMeasurement::samples)
      .def_ro("minimum_cycles", &CalibrationMeasurement::minimum_cycles)
      .def_ro("median_cycles", &CalibrationMeasurement::median_cycles)
      .def_ro("p95_cycles", &CalibrationMeasurement::p95_cycles)
      .def_ro("maximum_cycles", &CalibrationMeasurement::maximum_cycles)
      .def("__repr__", [](const CalibrationMeasurement& c) {
        return nb::str("CalibrationMeasurement(kernel={!r}, samples={}, median_cycles={})")
            .format(c.key.kernel, c.samples, c.median_cycles);
      });
  rows<CalibrationMeasurement>(m, "CalibrationMeasurements", "Calibration measurements in ascending key order.",
                               measurement_columns);
  record<CalibrationDatabase>(m, "CalibrationDatabase", "Cycles per kernel call over profiles of one build.")
      .def_ro("schema_version", &CalibrationDatabase::schema_version)
      .def_ro("target", &CalibrationDatabase::target)
      .def_ro("build_id", &CalibrationDatabase::build_id)
      .def_ro("clock_hz", &CalibrationDatabase::clock_hz)
      .def_ro("measurements", &CalibrationDatabase::measurements)
      .def(
          "to_pandas", [](nb::handle self) { return self.attr("measurements").attr("to_pandas")(); },
          "The measurements as a pandas DataFrame.")
      .def(
          "to_arrow", [](nb::handle self) { return self.attr("measurements").attr("to_arrow")(); },
          "The measurements as a pyarrow Table.")
      .def("__repr__", [](const CalibrationDatabase& db) {
        return nb::str("CalibrationDatabase(target={!r}, build_id={!r}, clock_hz={}, measurements={})")
            .format(db.target, db.build_id, db.clock_hz, db.measurements.size());
      });
}

}  // namespace norq_python
