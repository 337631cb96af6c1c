// Sample queries: filters, grouping, group statistics and the listing of the longest samples.
#pragma once

#include <norq_profile/clock.hpp>

#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace norq_profile {

enum class GroupBy { Kind, Kernel, Operation, Phase, Tile, Metadata };
enum class SortBy { PhaseCycles, WorkCycles, MaximumCycles, Samples, Name };

using Dimensions = std::map<std::string, std::string>;

struct MetadataFilter {
  std::string name;
  std::optional<std::string> value;  // absent: any value of `name` will do

  friend bool operator==(const MetadataFilter&, const MetadataFilter&) = default;
};

// Query{} is the default query: every sample, grouped by kernel, ordered by covered cycles.
struct Query {
  GroupBy group_by = GroupBy::Kernel;
  SortBy sort_by = SortBy::PhaseCycles;
  std::optional<StepKind> kind;
  std::optional<std::string> kernel;
  std::optional<std::string> operation_contains;
  std::set<std::uint32_t> tiles;
  std::set<std::uint32_t> phases;
  std::vector<MetadataFilter> metadata;
  std::optional<std::string> metadata_key;
  std::optional<std::uint64_t> at_offset;
  bool shared_clock = false;
  std::optional<std::size_t> limit;
  std::size_t sample_limit = 0;

  friend bool operator==(const Query&, const Query&) = default;
};

// A matched sample waiting to be listed; refers into the caller's profile for one call only.
struct Candidate {
  std::uint32_t tile = 0;
  std::uint64_t offset = 0;
  std::uint32_t duration = 0;
  const CycleSample* sample = nullptr;

  friend bool operator==(const Candidate&, const Candidate&) = default;
};

struct MetadataEntry {
  std::string name;
  std::string value;

  friend bool operator==(const MetadataEntry&, const MetadataEntry&) = default;
};

struct SampleRecord {
  std::uint32_t physical_tile = 0;
  std::uint64_t offset = 0;
  std::uint32_t duration = 0;  // cropped length
  std::uint32_t phase = 0;
  std::uint32_t epoch = 0;
  std::string kind;
  std::string operation;
  std::string kernel;
  std::vector<MetadataEntry> metadata;

  friend bool operator==(const SampleRecord&, const SampleRecord&) = default;
};

struct GroupSummary {
  std::string name;
  Dimensions dimensions;
  std::size_t sample_count = 0;
  std::size_t tile_count = 0;
  std::size_t phase_count = 0;
  std::uint64_t phase_cycles = 0;
  double phase_ms = 0.0;
  std::uint64_t work_cycles = 0;
  double average_active_tiles = 0.0;
  double useful_cycles = 0.0;
  std::uint64_t estimated_work_cycles = 0;
  std::optional<double> useful_utilization;
  std::optional<double> work_lane_occupancy;
  std::optional<double> device_useful_utilization;
  double mean_cycles = 0.0;
  std::uint32_t p50_cycles = 0;
  std::uint32_t p95_cycles = 0;
  std::uint32_t maximum_cycles = 0;
  std::uint64_t first_offset = 0;
  std::uint64_t last_offset = 0;

  friend bool operator==(const GroupSummary&, const GroupSummary&) = default;
};

struct QueryReport {
  std::uint64_t clock_hz = 0;
  std::size_t tile_count = 0;
  std::size_t sample_count = 0;
  std::size_t matched_sample_count = 0;
  std::uint64_t profile_span_cycles = 0;
  double profile_span_ms = 0.0;
  std::optional<std::uint64_t> at_offset;
  std::vector<GroupSummary> groups;
  std::vector<SampleRecord> samples;

  friend bool operator==(const QueryReport&, const QueryReport&) = default;
};

// `offset` and `sample_duration` are the sample's place after the crop.
bool matches_query(const Query& query, std::uint32_t tile, const CycleSample& sample,
                   std::uint64_t offset, std::uint32_t sample_duration);

SampleRecord sample_record(const Candidate& candidate);

std::pair<std::string, Dimensions> group_key(const Query& query, std::uint32_t tile,
                                             const CycleSample& sample);

// (useful cycles, physical work cycles) when both annotations hold usable numbers.
std::optional<std::pair<double, double>> useful_work(const CycleSample& sample);

// Value at index floor((n - 1) * percentage / 100) of an ascending list; 0 for an empty list.
std::uint32_t percentile(std::span<const std::uint32_t> sorted, std::size_t percentage);

// Cycles covered by half-open intervals; sorts `intervals` in place.
std::uint64_t union_length(std::span<std::pair<std::uint64_t, std::uint64_t>> intervals);

std::strong_ordering compare_groups(SortBy sort_by, const GroupSummary& left,
                                    const GroupSummary& right);

QueryReport query(const ProfileReport& report, const Query& query);

}  // namespace norq_profile
