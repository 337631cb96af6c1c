// Any bytes given to the JSON loader either give a profile that writes back to an equal profile,
// or a ProfileFormatError. Nothing else may escape.
#include <norq_profile_io/profile_file.hpp>

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
  // A profile that was accepted must survive a round trip unchanged.
  const auto text = norq_profile::io::profile_to_json(report);
  try {
    if (norq_profile::io::parse_profile(text, "round-trip.json") == report) return 0;
    std::fputs("round trip changed the profile\n", stderr);
  } catch (const norq_profile::io::ProfileFormatError& error) {
    std::fprintf(stderr, "round trip rejected: %s\n", error.what());
  }
  std::abort();
}
