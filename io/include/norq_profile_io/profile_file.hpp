// Reading and writing profiles as "norq-profile" JSON documents (docs/profile-format.md).
#pragma once

#include <norq_package/profile.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace norq_profile::io {

// Any reason a profile could not be loaded. what() is the whole one-line message:
// "<file>:<line>:<column>: <field path>: <what was expected>". The field path is left out for
// faults of the document as a whole, and line and column where the file has none (a missing
// file, a corrupt .zst stream, which names the byte offset instead).
class ProfileFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct LoadOptions {
  // Called while the document is parsed, with the bytes of JSON text read so far and the
  // document's size (after decompression for .zst). Not called at all for an unreadable file;
  // the last call reports bytes_done == bytes_total.
  std::function<void(std::uint64_t bytes_done, std::uint64_t bytes_total)> progress;
};

// Loads a profile file; a ".zst" suffix means zstd-compressed. Throws ProfileFormatError for a
// missing or unreadable file and for every fault of its content; never returns a partial profile.
norq_package::profile::ProfileReport load_profile(const std::filesystem::path& path,
                                                  const LoadOptions& options = {});

// Parses a document already in memory; `file_name` is used in error messages. For tests and fuzzing.
norq_package::profile::ProfileReport parse_profile(std::string_view json, std::string_view file_name);

// Like parse_profile, for bytes that may also be zstd-compressed (told by the zstd frame magic at
// their start, as in a ".zst" file); errors are those load_profile gives for such a file.
norq_package::profile::ProfileReport parse_profile_bytes(std::string_view bytes,
                                                         std::string_view file_name);

// Deterministic JSON text of the profile: the same records always give the same bytes.
// Throws std::invalid_argument when a text is not valid UTF-8 or an enumeration holds a value
// outside its list, since such a file could not be read back.
std::string profile_to_json(const norq_package::profile::ProfileReport& report);

// ".zst" suffix: zstd-compressed. Writes to a temporary file in the same folder and renames, so a
// failure never leaves a half-written file. Throws std::runtime_error (or a subclass) with a
// message naming the file on failure.
void save_profile(const norq_package::profile::ProfileReport& report,
                  const std::filesystem::path& path);

}  // namespace norq_profile::io
