// Where results go, and how loading shows its progress.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace norq_cli {

// A result that could not be written; what() names the file and the reason.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Standard output when `path` is empty. A file is written beside its destination under a
// temporary name and renamed over it, so readers never see half a result.
void write_output(std::string_view text, const std::filesystem::path& path);

// Progress of loading one file, on standard error, only when that is a terminal and the file is
// large enough to keep someone waiting. The line is cleared when loading ends, also by an error.
class LoadProgress {
 public:
  explicit LoadProgress(std::string file);
  ~LoadProgress();
  LoadProgress(const LoadProgress&) = delete;
  LoadProgress& operator=(const LoadProgress&) = delete;

  // For the loader; empty when nothing is to be shown.
  std::function<void(std::uint64_t, std::uint64_t)> callback();

 private:
  std::string file_;
  bool terminal_ = false;
  int shown_ = -1;  // percentage on screen, -1 before the first
};

}  // namespace norq_cli
