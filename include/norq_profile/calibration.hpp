// Calibration: cycles per kernel call, per kernel and metadata combination, over profiles of one build.
#pragma once

#include <norq_profile/clock.hpp>
#include <norq_profile/query.hpp>

#include <compare>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace norq_profile {

// Ordered by kernel, then by the (name, value) pairs of the dimensions, a proper prefix first.
struct CalibrationKey {
  std::string kernel;
  Dimensions dimensions;

  friend bool operator==(const CalibrationKey&, const CalibrationKey&) = default;
  friend std::strong_ordering operator<=>(const CalibrationKey&, const CalibrationKey&) = default;
};

struct CalibrationMeasurement {
  CalibrationKey key;
  std::uint64_t samples = 0;
  std::uint32_t minimum_cycles = 0;
  std::uint32_t median_cycles = 0;
  std::uint32_t p95_cycles = 0;
  std::uint32_t maximum_cycles = 0;

  friend bool operator==(const CalibrationMeasurement&, const CalibrationMeasurement&) = default;
};

struct CalibrationDatabase {
  std::uint32_t schema_version = 1;
  std::string target;
  std::string build_id;
  std::uint64_t clock_hz = 0;
  std::vector<CalibrationMeasurement> measurements;  // ascending key order

  friend bool operator==(const CalibrationDatabase&, const CalibrationDatabase&) = default;
};

// what() is "at least one profile is required" or "profile clock frequencies differ".
class CalibrationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

CalibrationDatabase calibrate_profiles(std::span<const ProfileReport> reports,
                                       std::string_view target, std::string_view build_id);

}  // namespace norq_profile
