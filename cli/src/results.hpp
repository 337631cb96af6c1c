// What each subcommand computed, in the form the table, CSV and JSON writers take.
#pragma once

#include "sheet.hpp"

#include <norq_profile/norq_profile.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace norq_cli {

// The analysed file and its totals.
struct ProfileInfo {
  std::string file;
  std::uint64_t clock_hz = 0;
  std::size_t tile_count = 0;
  std::size_t sample_count = 0;
};

struct QueryResult {
  ProfileInfo profile;
  norq_profile::Query query;
  norq_profile::QueryReport report;
};

struct BoundariesResult {
  ProfileInfo profile;
  std::uint64_t profile_span_cycles = 0;  // uncropped, like the boundaries
  std::vector<norq_profile::ExchangeBoundary> boundaries;
};

struct ExchangeResult {
  ProfileInfo profile;
  std::uint64_t profile_span_cycles = 0;  // uncropped, like the boundaries
  norq_profile::ExchangeActivitySummary summary;
};

struct PhasesResult {
  ProfileInfo profile;
  bool shared_clock = false;
  std::uint64_t profile_span_cycles = 0;  // on the phases' time line
  std::vector<norq_profile::phases::PhaseWork> phases;
};

struct SummaryResult {
  ProfileInfo profile;
  bool shared_clock = false;
  std::size_t top = 0;
  norq_profile::QueryReport kernels;  // grouped by kernel, cut to `top`
  norq_profile::ExchangeActivitySummary exchange;
  std::uint64_t uncropped_span_cycles = 0;
  std::size_t boundary_count = 0;
  std::vector<norq_profile::ExchangeBoundary> boundaries;  // largest arrival spread first
  std::size_t phase_count = 0;
  std::vector<norq_profile::phases::PhaseWork> phases;  // most work first
};

struct CalibrationResult {
  std::vector<std::string> files;
  norq_profile::CalibrationDatabase database;
};

// Sheets for the table (readable subset, people's labels) or for CSV (every column).
std::vector<Sheet> sheets(const QueryResult& result, bool for_table);
std::vector<Sheet> sheets(const BoundariesResult& result, bool for_table);
std::vector<Sheet> sheets(const ExchangeResult& result, bool for_table);
std::vector<Sheet> sheets(const PhasesResult& result, bool for_table);
std::vector<Sheet> sheets(const SummaryResult& result, bool for_table);
std::vector<Sheet> sheets(const CalibrationResult& result, bool for_table);

// The lines above the table.
std::string preamble(const QueryResult& result);
std::string preamble(const BoundariesResult& result);
std::string preamble(const ExchangeResult& result);
std::string preamble(const PhasesResult& result);
std::string preamble(const SummaryResult& result);
std::string preamble(const CalibrationResult& result);

// Versioned JSON documents carrying every field of the result.
inline constexpr std::uint64_t kJsonSchemaVersion = 1;
std::string to_json(const QueryResult& result);
std::string to_json(const BoundariesResult& result);
std::string to_json(const ExchangeResult& result);
std::string to_json(const PhasesResult& result);
std::string to_json(const SummaryResult& result);
std::string to_json(const CalibrationResult& result);  // the calibration database itself

}  // namespace norq_cli
