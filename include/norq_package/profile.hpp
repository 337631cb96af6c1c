// Profile records: what one run of a program leaves behind, one list of sampled steps per tile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace norq_package::profile {

enum class StepKind : std::uint16_t { Exchange = 0, Compute = 1, Synchronization = 2, Idle = 3 };

enum class ExchangeActivityKind : std::uint16_t { Send = 0, Receive = 1, PartnerBusy = 2 };

// One free-form annotation of a step; names need not be unique.
struct ProfileMetadata {
  std::string name;
  std::string value;

  friend bool operator==(const ProfileMetadata&, const ProfileMetadata&) = default;
};

// One transfer interval inside an exchange step's event window, in cycles from the window's start.
struct ProfileExchangeActivity {
  std::uint16_t fanout = 0;
  bool paired = false;
  ExchangeActivityKind kind = ExchangeActivityKind::Send;
  std::uint32_t start_cycle = 0;
  std::uint32_t end_cycle = 0;

  friend bool operator==(const ProfileExchangeActivity&, const ProfileExchangeActivity&) = default;
};

struct ProfileStep {
  std::uint32_t local_index = 0;
  std::uint32_t phase = 0;
  std::uint32_t epoch = 0;
  std::string operation;
  StepKind kind = StepKind::Exchange;
  std::string kernel;  // empty: the step ran no kernel
  std::vector<ProfileMetadata> metadata;
  std::vector<ProfileExchangeActivity> exchange_activities;
  std::uint32_t exchange_event_cycles = 0;  // 0: no event window

  friend bool operator==(const ProfileStep&, const ProfileStep&) = default;
};

// Counter values are the tile's own wrapping 32-bit counter: end may be numerically below start.
struct CycleSample {
  ProfileStep step;
  std::uint32_t start_cycle = 0;
  std::uint32_t end_cycle = 0;

  friend bool operator==(const CycleSample&, const CycleSample&) = default;
};

struct TileProfile {
  std::uint32_t physical_tile = 0;
  std::vector<CycleSample> samples;  // in execution order

  friend bool operator==(const TileProfile&, const TileProfile&) = default;
};

struct ProfileReport {
  std::uint64_t clock_hz = 0;
  std::vector<TileProfile> tiles;

  friend bool operator==(const ProfileReport&, const ProfileReport&) = default;
};

}  // namespace norq_package::profile
