// The analyses, the profile file functions and the generator. Every analysis runs without the GIL:
// it reads only the C++ records it was given and returns owned results.
#include "bindings.hpp"

#include <norq_profile_generate/generate.hpp>
#include <norq_profile_io/profile_file.hpp>

#include <nanobind/stl/filesystem.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/set.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace norq_python {

using namespace nb::literals;
using norq_package::profile::CycleSample;
using norq_package::profile::ProfileExchangeActivity;
using norq_package::profile::ProfileReport;
using norq_profile::GroupBy;
using norq_profile::MetadataFilter;
using norq_profile::Query;
using norq_profile::SortBy;

namespace {

using release = nb::call_guard<nb::gil_scoped_release>;

// A compute sample placed on a time line. Unlike the library's own record it keeps a copy of the
// sample, so that it can outlive the profile it came from.
struct OwnedPhaseSample {
  std::uint32_t tile = 0;
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  CycleSample sample;
};

std::vector<norq_profile::phases::KernelWork> kernels(const std::vector<OwnedPhaseSample>& owned) {
  std::vector<norq_profile::phases::PhaseSample> samples;
  samples.reserve(owned.size());
  for (std::size_t i = 0; i < owned.size(); ++i) {
    const OwnedPhaseSample& s = owned[i];
    if (s.end < s.start) {
      throw std::invalid_argument("samples[" + std::to_string(i) + "]: end " + std::to_string(s.end) +
                                  " is before start " + std::to_string(s.start));
    }
    samples.push_back({.tile = s.tile, .start = s.start, .end = s.end, .sample = &s.sample});
  }
  return norq_profile::phases::kernels(samples);
}

void save(const ProfileReport& report, const std::filesystem::path& path) {
  try {
    norq_profile::io::save_profile(report, path);
  } catch (const std::invalid_argument&) {
    throw;  // unsavable content: ValueError
  } catch (const std::runtime_error& error) {
    // Anything else is the file system's refusal.
    nb::gil_scoped_acquire gil;
    PyErr_SetString(PyExc_OSError, error.what());
    throw nb::python_error();
  }
}

}  // namespace

void bind_analyses(nb::module_& m) {
  nb::exception<norq_profile::io::ProfileFormatError>(m, "ProfileFormatError", PyExc_ValueError);
  nb::exception<norq_profile::CalibrationError>(m, "CalibrationError", PyExc_ValueError);

  nb::enum_<GroupBy>(m, "GroupBy", "What a query groups its matched samples by.")
      .value("Kind", GroupBy::Kind)
      .value("Kernel", GroupBy::Kernel)
      .value("Operation", GroupBy::Operation)
      .value("Phase", GroupBy::Phase)
      .value("Tile", GroupBy::Tile)
      .value("Metadata", GroupBy::Metadata);
  nb::enum_<SortBy>(m, "SortBy", "How a query orders its groups.")
      .value("PhaseCycles", SortBy::PhaseCycles)
      .value("WorkCycles", SortBy::WorkCycles)
      .value("MaximumCycles", SortBy::MaximumCycles)
      .value("Samples", SortBy::Samples)
      .value("Name", SortBy::Name);

  nb::class_<MetadataFilter>(m, "MetadataFilter", "Keeps samples with a metadata entry of this name (and value).")
      .def(
          "__init__",
          [](MetadataFilter* self, std::string name, std::optional<std::string> value) {
            new (self) MetadataFilter{std::move(name), std::move(value)};
          },
          "name"_a, "value"_a = nb::none())
      .def_ro("name", &MetadataFilter::name)
      .def_ro("value", &MetadataFilter::value);

  nb::class_<Query>(m, "Query", "A query of the samples of a profile; Query() is the default query.")
      .def(
          "__init__",
          [](Query* self, GroupBy group_by, SortBy sort_by, std::optional<norq_profile::StepKind> kind,
             std::optional<std::string> kernel, std::optional<std::string> operation_contains,
             std::set<std::uint32_t> tiles, std::set<std::uint32_t> phases, std::vector<MetadataFilter> metadata,
             std::optional<std::string> metadata_key, std::optional<std::uint64_t> at_offset, bool shared_clock,
             std::optional<std::size_t> limit, std::size_t sample_limit) {
            new (self) Query{group_by,
                             sort_by,
                             kind,
                             std::move(kernel),
                             std::move(operation_contains),
                             std::move(tiles),
                             std::move(phases),
                             std::move(metadata),
                             std::move(metadata_key),
                             at_offset,
                             shared_clock,
                             limit,
                             sample_limit};
          },
          nb::kw_only(), "group_by"_a = GroupBy::Kernel, "sort_by"_a = SortBy::PhaseCycles, "kind"_a = nb::none(),
          "kernel"_a = nb::none(), "operation_contains"_a = nb::none(), "tiles"_a = std::set<std::uint32_t>{},
          "phases"_a = std::set<std::uint32_t>{}, "metadata"_a = std::vector<MetadataFilter>{},
          "metadata_key"_a = nb::none(), "at_offset"_a = nb::none(), "shared_clock"_a = false,
          "limit"_a = nb::none(), "sample_limit"_a = 0)
      .def_ro("group_by", &Query::group_by)
      .def_ro("sort_by", &Query::sort_by)
      .def_ro("kind", &Query::kind)
      .def_ro("kernel", &Query::kernel)
      .def_ro("operation_contains", &Query::operation_contains)
      .def_ro("tiles", &Query::tiles)
      .def_ro("phases", &Query::phases)
      .def_ro("metadata", &Query::metadata)
      .def_ro("metadata_key", &Query::metadata_key)
      .def_ro("at_offset", &Query::at_offset)
      .def_ro("shared_clock", &Query::shared_clock)
      .def_ro("limit", &Query::limit)
      .def_ro("sample_limit", &Query::sample_limit);

  m.def("_query", &norq_profile::query, "profile"_a, "query"_a, release());
  m.def("exchange_boundaries", &norq_profile::exchange_boundaries, "profile"_a, release(),
        "Every exchange of the profile as the whole processor sees it, ordered by (last_exit, epoch, phase).");
  m.def(
      "exchange_role_cycles",
      [](const std::vector<ProfileExchangeActivity>& activities, std::uint64_t event_cycles) {
        return norq_profile::exchange_role_cycles(activities, event_cycles);
      },
      "activities"_a, "event_cycles"_a, release(), "Splits one event window into cycles by role.");
  m.def("exchange_activity_summary", &norq_profile::exchange_activity_summary, "profile"_a, release(),
        "Exchange activity summed over a whole profile.");
  m.def("phase_work", &norq_profile::phases::phase_work, "profile"_a, "shared_clock"_a = false, release(),
        "Compute work leading up to each exchange boundary.");

  nb::class_<OwnedPhaseSample>(m, "PhaseSample", "A compute sample placed on a time line, input of kernels().")
      .def(
          "__init__",
          [](OwnedPhaseSample* self, std::uint32_t tile, std::uint64_t start, std::uint64_t end, CycleSample sample) {
            new (self) OwnedPhaseSample{tile, start, end, std::move(sample)};
          },
          "tile"_a, "start"_a, "end"_a, "sample"_a)
      .def_ro("tile", &OwnedPhaseSample::tile)
      .def_ro("start", &OwnedPhaseSample::start)
      .def_ro("end", &OwnedPhaseSample::end)
      .def_ro("sample", &OwnedPhaseSample::sample);
  m.def("kernels", &kernels, "samples"_a, release(), "One row per (operation, kernel) pair, heaviest first.");

  m.def(
      "_calibrate_profiles",
      [](const std::vector<const ProfileReport*>& profiles, std::string_view target, std::string_view build_id) {
        nb::gil_scoped_release unlocked;
        std::vector<ProfileReport> copies;
        copies.reserve(profiles.size());
        for (const ProfileReport* profile : profiles) copies.push_back(*profile);
        return norq_profile::calibrate_profiles(copies, target, build_id);
      },
      "profiles"_a, "target"_a, "build_id"_a);

  m.def("kind_name", &norq_profile::kind_name, "sample"_a, "\"exchange\", \"compute\", \"synchronization\" or \"idle\".");
  m.def("duration", &norq_profile::duration, "sample"_a, "Length of a sample in cycles, modulo 2**32.");
  m.def("cycle_origin", &norq_profile::cycle_origin, "profile"_a, release(),
        "The earliest tile entry on the counter circle.");
  m.def("initial_sample_entry_span", &norq_profile::initial_sample_entry_span, "profile"_a, "shared_base"_a,
        release(), "Time from shared_base to the latest tile entry.");
  m.def("cycles_to_ms", &norq_profile::cycles_to_ms, "cycles"_a, "clock_hz"_a,
        "Cycles in milliseconds; 0.0 when clock_hz is 0.");
  m.def("is_exchange_boundary", &norq_profile::is_exchange_boundary, "sample"_a,
        "Exchange steps, and synchronizations marked reason=ExchangeBarrier.");

  m.def(
      "load",
      [](const std::filesystem::path& path) { return norq_profile::io::load_profile(path); }, "path"_a, release(),
      "Loads a profile file (.json, or zstd-compressed .json.zst).");
  m.def("save", &save, "profile"_a, "path"_a, release(),
        "Saves a profile file; a .zst suffix compresses. Never leaves a half-written file.");
  m.def(
      "generate",
      [](std::uint32_t tiles, std::uint32_t steps, std::uint64_t seed, std::uint64_t clock_hz) {
        return norq_profile::generate::generate_profile(
            {.tiles = tiles, .steps = steps, .seed = seed, .clock_hz = clock_hz});
      },
      "tiles"_a = 16, "steps"_a = 200, "seed"_a = 1, "clock_hz"_a = 1'850'000'000, release(),
      "A synthetic profile: the same one for the same arguments on every platform.");
}

}  // namespace norq_python
