// Every file of the fuzz corpora, replayed under the same checks as the fuzz targets: the broken
// files must be refused with a ProfileFormatError, the valid ones must round-trip and keep every
// analysis invariant. Inputs that once crashed a target stay in the corpus for this reason.
#include "invariants/invariants.hpp"

#include <norq_profile_io/profile_file.hpp>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using norq_profile::io::ProfileFormatError;

std::vector<fs::path> corpus(const char* target) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(fs::path(NORQ_FUZZ_CORPUS) / target)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool expected_valid(const fs::path& path) { return path.filename().string().starts_with("valid-"); }

TEST(FuzzCorpus, JsonFilesLoadOrFailCleanly) {
  for (const char* target : {"fuzz_load_json", "fuzz_analyses"}) {
    for (const auto& path : corpus(target)) {
      SCOPED_TRACE(path.string());
      const std::string text = read_file(path);
      if (!expected_valid(path)) {
        EXPECT_THROW((void)norq_profile::io::parse_profile(text, path.filename().string()),
                     ProfileFormatError);
        continue;
      }
      const auto report = norq_profile::io::parse_profile(text, path.filename().string());
      EXPECT_EQ(norq_profile::io::parse_profile(norq_profile::io::profile_to_json(report), "again"),
                report);
      const auto faults = norq_invariants::check_all(report);
      EXPECT_TRUE(faults.empty()) << faults.text();
    }
  }
}

TEST(FuzzCorpus, CompressedFilesLoadOrFailCleanly) {
  for (const auto& path : corpus("fuzz_load_zst")) {
    SCOPED_TRACE(path.string());
    if (expected_valid(path)) {
      EXPECT_NO_THROW((void)norq_profile::io::load_profile(path));
    } else {
      EXPECT_THROW((void)norq_profile::io::load_profile(path), ProfileFormatError);
    }
  }
}

// A 17-byte frame whose header claims 4 GiB of content once made the loader reserve and clear
// all of it before finding the stream broken.
TEST(FuzzCorpus, DeclaredContentSizeIsNotTrusted) {
  const auto path = fs::path(NORQ_FUZZ_CORPUS) / "fuzz_load_zst" / "broken-claims-4gib.json.zst";
  EXPECT_THROW((void)norq_profile::io::load_profile(path), ProfileFormatError);
  rusage usage{};
  ASSERT_EQ(getrusage(RUSAGE_SELF, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 1L << 20) << "peak resident set in KiB";  // 1 GiB
}

}  // namespace
