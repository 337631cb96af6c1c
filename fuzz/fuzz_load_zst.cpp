// Any bytes given as a compressed profile either give a profile or a ProfileFormatError: a corrupt,
// truncated or oversized stream must never crash or exhaust memory.
#include <norq_profile_io/profile_file.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    (void)norq_profile::io::parse_profile_bytes(bytes, "fuzz.json.zst");
  } catch (const norq_profile::io::ProfileFormatError&) {
  }
  return 0;
}
