// Profile records: keyword constructors, attribute access, equality and copies.
#include "bindings.hpp"

#include <nanobind/operators.h>
#include <nanobind/stl/bind_vector.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace norq_python {

using namespace nb::literals;
using norq_package::profile::CycleSample;
using norq_package::profile::ExchangeActivityKind;
using norq_package::profile::ProfileExchangeActivity;
using norq_package::profile::ProfileMetadata;
using norq_package::profile::ProfileReport;
using norq_package::profile::ProfileStep;
using norq_package::profile::StepKind;
using norq_package::profile::TileProfile;

namespace {

// Equality, copy support and a readable repr shared by every record.
template <class Record>
void common(nb::class_<Record>& cls) {
  cls.def(nb::self == nb::self, "other"_a.noconvert())
      .def("__copy__", [](const Record& record) { return Record(record); })
      .def("__deepcopy__", [](const Record& record, nb::handle) { return Record(record); }, "memo"_a);
  cls.attr("__hash__") = nb::none();
}

}  // namespace

void bind_records(nb::module_& m) {
  nb::enum_<StepKind>(m, "StepKind", "Kind of a sampled step.")
      .value("Exchange", StepKind::Exchange)
      .value("Compute", StepKind::Compute)
      .value("Synchronization", StepKind::Synchronization)
      .value("Idle", StepKind::Idle);

  nb::enum_<ExchangeActivityKind>(m, "ExchangeActivityKind",
                                  "Role of a transfer interval inside an exchange's event window.")
      .value("Send", ExchangeActivityKind::Send)
      .value("Receive", ExchangeActivityKind::Receive)
      .value("PartnerBusy", ExchangeActivityKind::PartnerBusy);

  auto metadata = nb::class_<ProfileMetadata>(m, "ProfileMetadata", "One name/value annotation of a step.")
                      .def(
                          "__init__",
                          [](ProfileMetadata* self, std::string name, std::string value) {
                            new (self) ProfileMetadata{std::move(name), std::move(value)};
                          },
                          "name"_a = "", "value"_a = "")
                      .def_rw("name", &ProfileMetadata::name)
                      .def_rw("value", &ProfileMetadata::value);
  common(metadata);
  nb::bind_vector<std::vector<ProfileMetadata>>(m, "ProfileMetadataList");

  auto activity =
      nb::class_<ProfileExchangeActivity>(m, "ProfileExchangeActivity",
                                          "One transfer interval, in cycles from the event window's start.")
          .def(
              "__init__",
              [](ProfileExchangeActivity* self, std::uint16_t fanout, bool paired, ExchangeActivityKind kind,
                 std::uint32_t start_cycle, std::uint32_t end_cycle) {
                new (self) ProfileExchangeActivity{fanout, paired, kind, start_cycle, end_cycle};
              },
              "fanout"_a = 0, "paired"_a = false, "kind"_a = ExchangeActivityKind::Send, "start_cycle"_a = 0,
              "end_cycle"_a = 0)
          .def_rw("fanout", &ProfileExchangeActivity::fanout)
          .def_rw("paired", &ProfileExchangeActivity::paired)
          .def_rw("kind", &ProfileExchangeActivity::kind)
          .def_rw("start_cycle", &ProfileExchangeActivity::start_cycle)
          .def_rw("end_cycle", &ProfileExchangeActivity::end_cycle);
  common(activity);
  nb::bind_vector<std::vector<ProfileExchangeActivity>>(m, "ProfileExchangeActivityList");

  auto step =
      nb::class_<ProfileStep>(m, "ProfileStep", "What a tile did in one sampled step.")
          .def(
              "__init__",
              [](ProfileStep* self, std::uint32_t local_index, std::uint32_t phase, std::uint32_t epoch,
                 std::string operation, StepKind kind, std::string kernel, std::optional<std::vector<ProfileMetadata>> metadata,
                 std::optional<std::vector<ProfileExchangeActivity>> exchange_activities, std::uint32_t exchange_event_cycles) {
                new (self) ProfileStep{local_index,         phase,
                                       epoch,               std::move(operation),
                                       kind,                std::move(kernel),
                                       std::move(metadata).value_or(std::vector<ProfileMetadata>{}),
                                       std::move(exchange_activities).value_or(std::vector<ProfileExchangeActivity>{}),
                                       exchange_event_cycles};
              },
              "local_index"_a = 0, "phase"_a = 0, "epoch"_a = 0, "operation"_a = "", "kind"_a = StepKind::Exchange,
              "kernel"_a = "", "metadata"_a = nb::none(),
              "exchange_activities"_a = nb::none(), "exchange_event_cycles"_a = 0)
          .def_rw("local_index", &ProfileStep::local_index)
          .def_rw("phase", &ProfileStep::phase)
          .def_rw("epoch", &ProfileStep::epoch)
          .def_rw("operation", &ProfileStep::operation)
          .def_rw("kind", &ProfileStep::kind)
          .def_rw("kernel", &ProfileStep::kernel)
          .def_rw("metadata", &ProfileStep::metadata)
          .def_rw("exchange_activities", &ProfileStep::exchange_activities)
          .def_rw("exchange_event_cycles", &ProfileStep::exchange_event_cycles);
  common(step);

  auto sample = nb::class_<CycleSample>(m, "CycleSample",
                                        "A step stamped with the tile's wrapping 32-bit counter at start and end.")
                    .def(
                        "__init__",
                        [](CycleSample* self, std::optional<ProfileStep> step, std::uint32_t start_cycle, std::uint32_t end_cycle) {
                          new (self) CycleSample{std::move(step).value_or(ProfileStep{}), start_cycle, end_cycle};
                        },
                        "step"_a = nb::none(), "start_cycle"_a = 0, "end_cycle"_a = 0)
                    .def_rw("step", &CycleSample::step)
                    .def_rw("start_cycle", &CycleSample::start_cycle)
                    .def_rw("end_cycle", &CycleSample::end_cycle);
  common(sample);
  nb::bind_vector<std::vector<CycleSample>>(m, "CycleSampleList");

  auto tile = nb::class_<TileProfile>(m, "TileProfile", "The samples of one tile, in execution order.")
                  .def(
                      "__init__",
                      [](TileProfile* self, std::uint32_t physical_tile, std::optional<std::vector<CycleSample>> samples) {
                        new (self) TileProfile{physical_tile, std::move(samples).value_or(std::vector<CycleSample>{})};
                      },
                      "physical_tile"_a = 0, "samples"_a = nb::none())
                  .def_rw("physical_tile", &TileProfile::physical_tile)
                  .def_rw("samples", &TileProfile::samples);
  common(tile);
  nb::bind_vector<std::vector<TileProfile>>(m, "TileProfileList");

  auto report =
      nb::class_<ProfileReport>(m, "ProfileReport", "One captured profile: the clock rate and every tile's samples.")
          .def(
              "__init__",
              [](ProfileReport* self, std::uint64_t clock_hz, std::optional<std::vector<TileProfile>> tiles) {
                new (self) ProfileReport{clock_hz, std::move(tiles).value_or(std::vector<TileProfile>{})};
              },
              "clock_hz"_a = 0, "tiles"_a = nb::none())
          .def_rw("clock_hz", &ProfileReport::clock_hz)
          .def_rw("tiles", &ProfileReport::tiles)
          .def(
              "to_pandas",
              [](nb::handle self, bool shared_clock) {
                return table_call("profile_to_pandas", self, nb::make_tuple(shared_clock));
              },
              "shared_clock"_a = false, "Every sample of the profile as a pandas DataFrame, one row per sample.")
          .def(
              "to_arrow",
              [](nb::handle self, bool shared_clock) {
                return table_call("profile_to_arrow", self, nb::make_tuple(shared_clock));
              },
              "shared_clock"_a = false, "Every sample of the profile as a pyarrow Table, one row per sample.")
          .def(
              "_columns",
              [](const ProfileReport& report, bool shared_clock, bool for_pandas) {
                return profile_sample_columns(report, shared_clock, for_pandas);
              },
              "shared_clock"_a, "for_pandas"_a);
  common(report);
}

}  // namespace norq_python
