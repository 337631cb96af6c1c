// The loader reads compressed profiles from files only, so each input goes through a real .zst
// file: a corrupt, truncated or oversized stream must give a ProfileFormatError.
#include <norq_profile_io/profile_file.hpp>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::filesystem::path scratch_file() {
  const char* dir = std::getenv("TMPDIR");
  return std::filesystem::path(dir ? dir : "/tmp") /
         ("norq-fuzz-" + std::to_string(::getpid()) + ".json.zst");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::filesystem::path path = scratch_file();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      std::abort();
    }
  }
  try {
    (void)norq_profile::io::load_profile(path);
  } catch (const norq_profile::io::ProfileFormatError&) {
  }
  return 0;
}
