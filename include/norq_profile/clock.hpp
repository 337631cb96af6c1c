// Step kinds and the common time line of a profile's wrapping per-tile counters.
#pragma once

#include <norq_package/profile.hpp>

#include <cstdint>
#include <string_view>

namespace norq_profile {

using norq_package::profile::CycleSample;
using norq_package::profile::ExchangeActivityKind;
using norq_package::profile::ProfileExchangeActivity;
using norq_package::profile::ProfileMetadata;
using norq_package::profile::ProfileReport;
using norq_package::profile::ProfileStep;
using norq_package::profile::StepKind;
using norq_package::profile::TileProfile;

// "exchange", "compute", "synchronization" or "idle".
std::string_view kind_name(const CycleSample& sample);

// Length of a sample in cycles, modulo 2^32, so a step across the counter wrap keeps its length.
std::uint32_t duration(const CycleSample& sample);

// The earliest tile entry, judged on the counter circle against the first tile with a sample.
std::uint32_t cycle_origin(const ProfileReport& report);

// Time from `shared_base` to the latest tile entry; with the common origin, the entry period.
std::uint64_t initial_sample_entry_span(const ProfileReport& report, std::uint32_t shared_base);

// 0.0 when `clock_hz` is 0.
double cycles_to_ms(std::uint64_t cycles, std::uint64_t clock_hz);

}  // namespace norq_profile
