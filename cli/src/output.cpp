#include "output.hpp"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norq_cli {
namespace {

constexpr std::uint64_t kProgressThreshold = 8u << 20;  // smaller files load faster than a glance

std::string reason(int error) { return std::generic_category().message(error); }

bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

void write_output(std::string_view text, const std::filesystem::path& path) {
  if (path.empty()) {
    if (!write_all(STDOUT_FILENO, text)) {
      throw OutputError(fmt::format("standard output: cannot write: {}", reason(errno)));
    }
    return;
  }
  const std::string target = path.string();
  std::string temporary = target + ".tmp-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) throw OutputError(fmt::format("{}: cannot create: {}", target, reason(errno)));
  bool ok = write_all(fd, text);
  int error = ok ? 0 : errno;
  if (ok && ::fsync(fd) != 0) ok = false, error = errno;
  // mkstemp creates the file private to its owner; results are ordinary files.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  if (::close(fd) != 0 && ok) ok = false, error = errno;
  if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) ok = false, error = errno;
  if (!ok) {
    ::unlink(temporary.c_str());
    throw OutputError(fmt::format("{}: cannot write: {}", target, reason(error)));
  }
}

LoadProgress::LoadProgress(std::string file) : file_(std::move(file)), terminal_(::isatty(STDERR_FILENO) == 1) {}

LoadProgress::~LoadProgress() {
  if (shown_ >= 0) {
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
  }
}

std::function<void(std::uint64_t, std::uint64_t)> LoadProgress::callback() {
  if (!terminal_) return {};
  return [this](std::uint64_t done, std::uint64_t total) {
    if (total < kProgressThreshold) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == shown_) return;
    shown_ = percent;
    std::fputs(fmt::format("\rloading {}: {:3d}% of {:.1f} MB", file_, percent, static_cast<double>(total) / 1e6).c_str(),
               stderr);
    std::fflush(stderr);
  };
}

}  // namespace norq_cli
