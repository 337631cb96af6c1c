// Loads a profile and runs every analysis on it, every grouping and ordering, both clocks and
// filters taken from the profile itself; any broken invariant aborts with its description.
#include <norq_profile_io/profile_file.hpp>

#include "invariants/invariants.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  norq_package::profile::ProfileReport report;
  try {
    report = norq_profile::io::parse_profile(bytes, "fuzz.json");
  } catch (const norq_profile::io::ProfileFormatError&) {
    return 0;
  }
  const auto faults = norq_invariants::check_all(report);
  if (faults.empty()) return 0;
  std::fputs(faults.text().c_str(), stderr);
  std::abort();
}
