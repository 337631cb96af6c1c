// Table columns built straight from the C++ records: numbers as numpy arrays, texts dictionary
// encoded, metadata as Arrow map buffers. Python only wraps the buffers into a DataFrame or Table.
#include "bindings.hpp"

#include "timeline.hpp"

#include <nanobind/ndarray.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <deque>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace norq_python {

namespace {

using norq_package::profile::ProfileMetadata;
using norq_package::profile::ProfileReport;

template <class T>
struct Numbers {
  std::vector<T> values;
  std::vector<std::uint8_t> valid;  // empty: no value is absent
  bool optional = false;

  void reserve(std::size_t n) {
    values.reserve(n);
    if (optional) valid.reserve(n);
  }
  void add(T value) { values.push_back(value); }
  void add(const std::optional<T>& value) {
    values.push_back(value.value_or(T{}));
    valid.push_back(value.has_value());
  }
};

// Dictionary-encoded texts. Views point into the records, which outlive the conversion.
struct Texts {
  std::vector<std::int32_t> codes;
  std::vector<std::string_view> uniques;
  std::unordered_map<std::string_view, std::int32_t> index;
  std::string_view last;
  std::int32_t last_code = -1;

  void reserve(std::size_t n) { codes.reserve(n); }
  void add(std::string_view text) { codes.push_back(code(text)); }
  std::int32_t code(std::string_view text) {
    // Neighbouring rows mostly repeat a text: skip the hash for them.
    if (last_code >= 0 && text == last) return last_code;
    auto [at, added] = index.try_emplace(text, static_cast<std::int32_t>(uniques.size()));
    if (added) uniques.push_back(text);
    last = text;
    last_code = at->second;
    return last_code;
  }
};

// A text per row, without dictionary (names that rarely repeat).
struct Names {
  std::vector<std::string_view> values;
  void reserve(std::size_t n) { values.reserve(n); }
  void add(std::string_view text) { values.push_back(text); }
};

// A list of (name, value) pairs per row.
struct Pairs {
  std::vector<std::int32_t> offsets{0};
  Texts names;
  Texts values;

  void reserve(std::size_t n) { offsets.reserve(n + 1); }
  void add(std::string_view name, std::string_view value) {
    names.add(name);
    values.add(value);
  }
  void close_row() {
    if (names.codes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      throw std::length_error("more than 2^31 metadata entries in one table");
    }
    offsets.push_back(static_cast<std::int32_t>(names.codes.size()));
  }
  template <class Entries>
  void add_row(const Entries& entries) {
    for (const auto& entry : entries) add(entry.name, entry.value);
    close_row();
  }
  void add_row(const std::map<std::string, std::string>& entries) {
    for (const auto& [name, value] : entries) add(name, value);
    close_row();
  }
};

using Data = std::variant<Numbers<std::uint32_t>, Numbers<std::uint64_t>, Numbers<double>, Texts, Names, Pairs>;

struct Column {
  const char* name;
  Data data;
};

// The columns of one table, filled row by row in C++ and handed over to Python whole.
class Table {
 public:
  explicit Table(std::size_t rows) : rows_(rows) {}

  template <class T>
  Numbers<T>& numbers(const char* name, bool optional = false) {
    Numbers<T> column;
    column.optional = optional;
    column.reserve(rows_);
    return std::get<Numbers<T>>(columns_.emplace_back(Column{name, std::move(column)}).data);
  }
  template <class Kind>
  Kind& column(const char* name) {
    Kind column;
    column.reserve(rows_);
    return std::get<Kind>(columns_.emplace_back(Column{name, std::move(column)}).data);
  }

  std::deque<Column>& columns() { return columns_; }

 private:
  std::size_t rows_;
  std::deque<Column> columns_;  // a deque, so that handed-out columns stay put
};

template <class T>
nb::object numpy(std::vector<T>&& values) {
  auto* owned = new std::vector<T>(std::move(values));
  nb::capsule owner(owned, [](void* p) noexcept { delete static_cast<std::vector<T>*>(p); });
  const std::size_t size = owned->size();
  // numpy wants a valid pointer even for an empty array.
  if (owned->capacity() == 0) owned->reserve(1);
  return nb::cast(nb::ndarray<nb::numpy, T, nb::ndim<1>>(owned->data(), {size}, owner));
}

nb::object numpy_bool(std::vector<std::uint8_t>&& flags) {
  auto* owned = new std::vector<std::uint8_t>(std::move(flags));
  nb::capsule owner(owned, [](void* p) noexcept { delete static_cast<std::vector<std::uint8_t>*>(p); });
  const std::size_t size = owned->size();
  if (owned->capacity() == 0) owned->reserve(1);
  // 0/1 bytes read as numpy bools.
  return nb::cast(
      nb::ndarray<nb::numpy, bool, nb::ndim<1>>(reinterpret_cast<bool*>(owned->data()), {size}, owner));
}

nb::str text(std::string_view value) {
  // Profiles may carry bytes that are not UTF-8; show them replaced rather than fail the table.
  PyObject* object = PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), "replace");
  if (object == nullptr) throw nb::python_error();
  return nb::steal<nb::str>(object);
}

nb::list texts(const std::vector<std::string_view>& values) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(values.size()));
  if (list == nullptr) throw nb::python_error();
  nb::list result = nb::steal<nb::list>(list);
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), text(values[i]).release().ptr());
  }
  return result;
}

// Per row a dict of the pairs; a repeated name keeps its first value, as metadata look-ups do.
nb::list dicts(const Pairs& pairs) {
  const nb::list names = texts(pairs.names.uniques);
  const nb::list values = texts(pairs.values.uniques);
  const std::size_t rows = pairs.offsets.size() - 1;
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(rows));
  if (list == nullptr) throw nb::python_error();
  nb::list result = nb::steal<nb::list>(list);
  for (std::size_t row = 0; row < rows; ++row) {
    nb::dict dict;
    for (auto at = static_cast<std::size_t>(pairs.offsets[row]); at < static_cast<std::size_t>(pairs.offsets[row + 1]);
         ++at) {
      PyObject* name = PyList_GET_ITEM(names.ptr(), pairs.names.codes[at]);
      PyObject* value = PyList_GET_ITEM(values.ptr(), pairs.values.codes[at]);
      if (PyDict_SetDefault(dict.ptr(), name, value) == nullptr) throw nb::python_error();
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(row), dict.release().ptr());
  }
  return result;
}

// Each column becomes (name, type, buffers...); norq_profile._tables knows the types.
nb::list to_python(Table& table, bool for_pandas) {
  nb::list out;
  for (Column& column : table.columns()) {
    nb::str name(column.name);
    std::visit(
        [&](auto& data) {
          using Kind = std::decay_t<decltype(data)>;
          if constexpr (std::is_same_v<Kind, Texts>) {
            out.append(nb::make_tuple(name, "category", numpy(std::move(data.codes)), texts(data.uniques)));
          } else if constexpr (std::is_same_v<Kind, Names>) {
            out.append(nb::make_tuple(name, "string", texts(data.values)));
          } else if constexpr (std::is_same_v<Kind, Pairs>) {
            if (for_pandas) {
              out.append(nb::make_tuple(name, "objects", dicts(data)));
            } else {
              out.append(nb::make_tuple(name, "map", numpy(std::move(data.offsets)), numpy(std::move(data.names.codes)),
                                        texts(data.names.uniques), numpy(std::move(data.values.codes)),
                                        texts(data.values.uniques)));
            }
          } else if (data.optional) {
            out.append(nb::make_tuple(name, "optional", numpy(std::move(data.values)), numpy_bool(std::move(data.valid))));
          } else {
            out.append(nb::make_tuple(name, "array", numpy(std::move(data.values))));
          }
        },
        column.data);
  }
  return out;
}

std::uint64_t count(std::size_t n) { return static_cast<std::uint64_t>(n); }

void add_boundary(Table& table, const std::vector<norq_profile::ExchangeBoundary>& rows, const char* const names[],
                  bool optional, const std::vector<std::optional<norq_profile::ExchangeBoundary>>* maybe) {
  auto field = [&](std::size_t i, auto get, auto& column) {
    if (maybe != nullptr) {
      const auto& row = (*maybe)[i];
      column.add(row ? std::optional(get(*row)) : std::nullopt);
    } else {
      column.add(get(rows[i]));
    }
  };
  const std::size_t n = maybe != nullptr ? maybe->size() : rows.size();
  auto& epoch = table.numbers<std::uint32_t>(names[0], optional);
  auto& phase = table.numbers<std::uint32_t>(names[1], optional);
  auto& first_entry = table.numbers<std::uint64_t>(names[2], optional);
  auto& last_entry = table.numbers<std::uint64_t>(names[3], optional);
  auto& last_exit = table.numbers<std::uint64_t>(names[4], optional);
  auto& last_arriving_tile = table.numbers<std::uint32_t>(names[5], optional);
  auto& arrival_spread = table.numbers<std::uint64_t>(names[6], optional);
  auto& after_last_arrival = table.numbers<std::uint64_t>(names[7], optional);
  auto& scheduled = table.numbers<std::uint64_t>(names[8], true);
  for (std::size_t i = 0; i < n; ++i) {
    using B = norq_profile::ExchangeBoundary;
    field(i, [](const B& b) { return b.epoch; }, epoch);
    field(i, [](const B& b) { return b.phase; }, phase);
    field(i, [](const B& b) { return b.first_entry; }, first_entry);
    field(i, [](const B& b) { return b.last_entry; }, last_entry);
    field(i, [](const B& b) { return b.last_exit; }, last_exit);
    field(i, [](const B& b) { return b.last_arriving_tile; }, last_arriving_tile);
    field(i, [](const B& b) { return b.arrival_spread_cycles; }, arrival_spread);
    field(i, [](const B& b) { return b.after_last_arrival_cycles; }, after_last_arrival);
    if (maybe != nullptr) {
      const auto& row = (*maybe)[i];
      scheduled.add(row ? row->scheduled_event_cycles : std::nullopt);
    } else {
      scheduled.add(rows[i].scheduled_event_cycles);
    }
  }
}

}  // namespace

nb::list group_columns(const std::vector<norq_profile::GroupSummary>& rows, bool for_pandas) {
  Table table(rows.size());
  auto& name = table.column<Names>("name");
  auto& dimensions = table.column<Pairs>("dimensions");
  auto& sample_count = table.numbers<std::uint64_t>("sample_count");
  auto& tile_count = table.numbers<std::uint64_t>("tile_count");
  auto& phase_count = table.numbers<std::uint64_t>("phase_count");
  auto& phase_cycles = table.numbers<std::uint64_t>("phase_cycles");
  auto& phase_ms = table.numbers<double>("phase_ms");
  auto& work_cycles = table.numbers<std::uint64_t>("work_cycles");
  auto& average_active_tiles = table.numbers<double>("average_active_tiles");
  auto& useful_cycles = table.numbers<double>("useful_cycles");
  auto& estimated_work_cycles = table.numbers<std::uint64_t>("estimated_work_cycles");
  auto& useful_utilization = table.numbers<double>("useful_utilization", true);
  auto& work_lane_occupancy = table.numbers<double>("work_lane_occupancy", true);
  auto& device_useful_utilization = table.numbers<double>("device_useful_utilization", true);
  auto& mean_cycles = table.numbers<double>("mean_cycles");
  auto& p50_cycles = table.numbers<std::uint32_t>("p50_cycles");
  auto& p95_cycles = table.numbers<std::uint32_t>("p95_cycles");
  auto& maximum_cycles = table.numbers<std::uint32_t>("maximum_cycles");
  auto& first_offset = table.numbers<std::uint64_t>("first_offset");
  auto& last_offset = table.numbers<std::uint64_t>("last_offset");
  for (const auto& row : rows) {
    name.add(row.name);
    dimensions.add_row(row.dimensions);
    sample_count.add(count(row.sample_count));
    tile_count.add(count(row.tile_count));
    phase_count.add(count(row.phase_count));
    phase_cycles.add(row.phase_cycles);
    phase_ms.add(row.phase_ms);
    work_cycles.add(row.work_cycles);
    average_active_tiles.add(row.average_active_tiles);
    useful_cycles.add(row.useful_cycles);
    estimated_work_cycles.add(row.estimated_work_cycles);
    useful_utilization.add(row.useful_utilization);
    work_lane_occupancy.add(row.work_lane_occupancy);
    device_useful_utilization.add(row.device_useful_utilization);
    mean_cycles.add(row.mean_cycles);
    p50_cycles.add(row.p50_cycles);
    p95_cycles.add(row.p95_cycles);
    maximum_cycles.add(row.maximum_cycles);
    first_offset.add(row.first_offset);
    last_offset.add(row.last_offset);
  }
  return to_python(table, for_pandas);
}

nb::list sample_record_columns(const std::vector<norq_profile::SampleRecord>& rows, bool for_pandas) {
  Table table(rows.size());
  auto& physical_tile = table.numbers<std::uint32_t>("physical_tile");
  auto& offset = table.numbers<std::uint64_t>("offset");
  auto& duration = table.numbers<std::uint32_t>("duration");
  auto& phase = table.numbers<std::uint32_t>("phase");
  auto& epoch = table.numbers<std::uint32_t>("epoch");
  auto& kind = table.column<Texts>("kind");
  auto& operation = table.column<Texts>("operation");
  auto& kernel = table.column<Texts>("kernel");
  auto& metadata = table.column<Pairs>("metadata");
  for (const auto& row : rows) {
    physical_tile.add(row.physical_tile);
    offset.add(row.offset);
    duration.add(row.duration);
    phase.add(row.phase);
    epoch.add(row.epoch);
    kind.add(row.kind);
    operation.add(row.operation);
    kernel.add(row.kernel);
    metadata.add_row(row.metadata);
  }
  return to_python(table, for_pandas);
}

nb::list boundary_columns(const std::vector<norq_profile::ExchangeBoundary>& rows, bool for_pandas) {
  static const char* const names[] = {"epoch",
                                      "phase",
                                      "first_entry",
                                      "last_entry",
                                      "last_exit",
                                      "last_arriving_tile",
                                      "arrival_spread_cycles",
                                      "after_last_arrival_cycles",
                                      "scheduled_event_cycles"};
  Table table(rows.size());
  add_boundary(table, rows, names, false, nullptr);
  return to_python(table, for_pandas);
}

nb::list kernel_columns(const std::vector<norq_profile::phases::KernelWork>& rows, bool for_pandas) {
  Table table(rows.size());
  auto& operation = table.column<Texts>("operation");
  auto& kernel = table.column<Texts>("kernel");
  auto& samples = table.numbers<std::uint64_t>("samples");
  auto& tiles = table.numbers<std::uint64_t>("tiles");
  auto& work_cycles = table.numbers<std::uint64_t>("work_cycles");
  auto& maximum_cycles = table.numbers<std::uint64_t>("maximum_cycles");
  auto& start = table.numbers<std::uint64_t>("start");
  auto& end = table.numbers<std::uint64_t>("end");
  for (const auto& row : rows) {
    operation.add(row.operation);
    kernel.add(row.kernel);
    samples.add(count(row.samples));
    tiles.add(count(row.tiles));
    work_cycles.add(row.work_cycles);
    maximum_cycles.add(row.maximum_cycles);
    start.add(row.start);
    end.add(row.end);
  }
  return to_python(table, for_pandas);
}

nb::list phase_columns(const std::vector<norq_profile::phases::PhaseWork>& rows, bool for_pandas) {
  Table table(rows.size());
  auto& epoch = table.numbers<std::uint32_t>("epoch");
  auto& next_exchange_phase = table.numbers<std::uint32_t>("next_exchange_phase", true);
  auto& start = table.numbers<std::uint64_t>("start");
  auto& end = table.numbers<std::uint64_t>("end");
  auto& span_cycles = table.numbers<std::uint64_t>("span_cycles");
  auto& work_cycles = table.numbers<std::uint64_t>("work_cycles");
  auto& active_tiles = table.numbers<std::uint64_t>("active_tiles");
  auto& occupancy = table.numbers<double>("occupancy");
  auto& exposed = table.numbers<std::uint64_t>("exposed_preparation_cycles", true);
  auto& exchange_occupancy = table.numbers<double>("exchange_occupancy", true);
  auto& unattributed = table.numbers<std::uint64_t>("unattributed_before_barrier_cycles");
  std::vector<std::optional<norq_profile::ExchangeBoundary>> exchanges;
  exchanges.reserve(rows.size());
  for (const auto& row : rows) {
    epoch.add(row.epoch);
    next_exchange_phase.add(row.next_exchange_phase);
    start.add(row.start);
    end.add(row.end);
    span_cycles.add(row.span_cycles);
    work_cycles.add(row.work_cycles);
    active_tiles.add(count(row.active_tiles));
    occupancy.add(row.occupancy);
    exposed.add(row.exposed_preparation_cycles);
    exchange_occupancy.add(row.exchange_occupancy);
    unattributed.add(row.unattributed_before_barrier_cycles);
    exchanges.push_back(row.exchange);
  }
  static const char* const names[] = {"exchange_epoch",
                                      "exchange_phase",
                                      "exchange_first_entry",
                                      "exchange_last_entry",
                                      "exchange_last_exit",
                                      "exchange_last_arriving_tile",
                                      "exchange_arrival_spread_cycles",
                                      "exchange_after_last_arrival_cycles",
                                      "exchange_scheduled_event_cycles"};
  add_boundary(table, {}, names, true, &exchanges);
  return to_python(table, for_pandas);
}

nb::list measurement_columns(const std::vector<norq_profile::CalibrationMeasurement>& rows, bool for_pandas) {
  Table table(rows.size());
  auto& kernel = table.column<Texts>("kernel");
  auto& dimensions = table.column<Pairs>("dimensions");
  auto& samples = table.numbers<std::uint64_t>("samples");
  auto& minimum_cycles = table.numbers<std::uint32_t>("minimum_cycles");
  auto& median_cycles = table.numbers<std::uint32_t>("median_cycles");
  auto& p95_cycles = table.numbers<std::uint32_t>("p95_cycles");
  auto& maximum_cycles = table.numbers<std::uint32_t>("maximum_cycles");
  for (const auto& row : rows) {
    kernel.add(row.key.kernel);
    dimensions.add_row(row.key.dimensions);
    samples.add(row.samples);
    minimum_cycles.add(row.minimum_cycles);
    median_cycles.add(row.median_cycles);
    p95_cycles.add(row.p95_cycles);
    maximum_cycles.add(row.maximum_cycles);
  }
  return to_python(table, for_pandas);
}

nb::list profile_sample_columns(const ProfileReport& report, bool shared_clock, bool for_pandas) {
  std::size_t rows = 0;
  for (const auto& tile : report.tiles) rows += tile.samples.size();
  Table table(rows);
  {
    nb::gil_scoped_release unlocked;
    const auto timeline = norq_profile::detail::make_timeline(report, shared_clock);
    auto& tile_column = table.numbers<std::uint32_t>("tile");
    auto& index = table.numbers<std::uint32_t>("index");
    auto& start = table.numbers<std::uint64_t>("start");
    auto& end = table.numbers<std::uint64_t>("end");
    auto& kind = table.column<Texts>("kind");
    auto& kernel = table.column<Texts>("kernel");
    auto& operation = table.column<Texts>("operation");
    auto& phase = table.numbers<std::uint32_t>("phase");
    auto& epoch = table.numbers<std::uint32_t>("epoch");
    auto& local_index = table.numbers<std::uint32_t>("local_index");
    auto& start_cycle = table.numbers<std::uint32_t>("start_cycle");
    auto& end_cycle = table.numbers<std::uint32_t>("end_cycle");
    auto& event_cycles = table.numbers<std::uint32_t>("exchange_event_cycles");
    auto& metadata = table.column<Pairs>("metadata");
    for (const auto& tile : report.tiles) {
      std::uint32_t position = 0;
      for (const auto& sample : tile.samples) {
        const auto placed = timeline.place_cropped(sample);
        tile_column.add(tile.physical_tile);
        index.add(position++);
        start.add(placed.start);
        end.add(placed.end);
        kind.add(norq_profile::kind_name(sample));
        kernel.add(sample.step.kernel);
        operation.add(sample.step.operation);
        phase.add(sample.step.phase);
        epoch.add(sample.step.epoch);
        local_index.add(sample.step.local_index);
        start_cycle.add(sample.start_cycle);
        end_cycle.add(sample.end_cycle);
        event_cycles.add(sample.step.exchange_event_cycles);
        metadata.add_row(sample.step.metadata);
      }
    }
  }
  return to_python(table, for_pandas);
}

}  // namespace norq_python
