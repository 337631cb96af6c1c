#include "load_memory.hpp"

#include <norq_profile_io/profile_file.hpp>

#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include <string_view>

extern char** environ;

namespace norq_bench {

namespace {

using namespace norq_package::profile;

// libstdc++ keeps up to 15 bytes inside the string itself.
std::uint64_t text_bytes(const std::string& text) { return text.size() > 15 ? text.size() + 1 : 0; }

// From /proc/self/status: "VmHWM" is the peak resident size of this process image, which starts
// afresh at exec (getrusage's figure would carry the parent's peak over into the child).
std::uint64_t status_kilobytes(std::string_view field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with(field) && line.size() > field.size() && line[field.size()] == ':') {
      return std::stoull(line.substr(field.size() + 1)) * 1024;
    }
  }
  return 0;
}

std::uint64_t peak_rss_bytes() { return status_kilobytes("VmHWM"); }

std::uint64_t current_rss_bytes() { return status_kilobytes("VmRSS"); }

double mib(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

std::uint64_t record_bytes(const ProfileReport& report) {
  std::uint64_t bytes = sizeof(ProfileReport) + report.tiles.size() * sizeof(TileProfile);
  for (const TileProfile& tile : report.tiles) {
    bytes += tile.samples.size() * sizeof(CycleSample);
    for (const CycleSample& sample : tile.samples) {
      const ProfileStep& step = sample.step;
      bytes += text_bytes(step.operation) + text_bytes(step.kernel);
      bytes += step.metadata.size() * sizeof(ProfileMetadata);
      for (const ProfileMetadata& entry : step.metadata) bytes += text_bytes(entry.name) + text_bytes(entry.value);
      bytes += step.exchange_activities.size() * sizeof(ProfileExchangeActivity);
    }
  }
  return bytes;
}

int measure_load(const std::filesystem::path& path) {
  try {
    const std::uint64_t before = peak_rss_bytes();
    const auto started = std::chrono::steady_clock::now();
    const ProfileReport report = norq_profile::io::load_profile(path);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    const std::uint64_t peak = peak_rss_bytes() - before;
    const std::uint64_t resident = current_rss_bytes();
    const std::uint64_t records = record_bytes(report);
    std::uint64_t samples = 0;
    for (const TileProfile& tile : report.tiles) samples += tile.samples.size();
    std::printf(
        "load %s: %llu samples in %.2f s (%.2f Msamples/s); file %.1f MiB; records %.1f MiB; "
        "peak during load %.1f MiB (%.2fx records); resident after %.1f MiB (%.2fx records)\n",
        path.filename().c_str(), static_cast<unsigned long long>(samples), took.count(),
        static_cast<double>(samples) / took.count() / 1e6, mib(std::filesystem::file_size(path)), mib(records),
        mib(peak), static_cast<double>(peak) / static_cast<double>(records), mib(resident),
        static_cast<double>(resident) / static_cast<double>(records));
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}

bool spawn_load_measurement(const char* self, const std::filesystem::path& path) {
  std::fflush(stdout);
  const std::string flag = "--measure-load=" + path.string();
  std::string program = self;
  char* argv[] = {program.data(), const_cast<char*>(flag.c_str()), nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv, environ) != 0) return false;
  int status = 0;
  if (waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace norq_bench
