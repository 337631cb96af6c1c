// Peak memory of loading a profile file, measured in a fresh process so nothing else is resident.
#pragma once

#include <norq_package/profile.hpp>

#include <cstdint>
#include <filesystem>

namespace norq_bench {

// Heap bytes the records need at their exact sizes (no spare capacity), plus the top record:
// what any loader must at least hold. Allocator bookkeeping is not included.
std::uint64_t record_bytes(const norq_package::profile::ProfileReport& report);

// Child side: loads `path`, prints one line of figures and returns the exit status.
int measure_load(const std::filesystem::path& path);

// Parent side: runs `self --measure-load=<path>` and relays its line; false when it failed.
bool spawn_load_measurement(const char* self, const std::filesystem::path& path);

}  // namespace norq_bench
