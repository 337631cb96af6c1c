#include <norq_profile_report/report.hpp>

#include <norq_profile/clock.hpp>

#include "text.hpp"
#include "timeline.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <unordered_map>

namespace norq_profile::report {

namespace {

// Roughly what one slice takes, to size the buffer once instead of growing it a hundred times.
constexpr std::size_t bytes_per_slice = 200;

struct Track {
  std::uint32_t tid = 0;
  std::uint32_t copy = 1;  // 2 and up when the profile lists the same physical tile again
};

// Tracks keyed by physical tile; a repeated physical tile gets a track of its own so that its
// slices never interleave with the first one's.
std::vector<Track> assign_tracks(const ProfileReport& report) {
  std::uint32_t next_free = 0;
  for (const TileProfile& tile : report.tiles) next_free = std::max(next_free, tile.physical_tile);
  std::unordered_map<std::uint32_t, std::uint32_t> seen;
  seen.reserve(report.tiles.size());
  std::vector<Track> tracks;
  tracks.reserve(report.tiles.size());
  for (const TileProfile& tile : report.tiles) {
    const std::uint32_t copy = ++seen[tile.physical_tile];
    tracks.push_back({copy == 1 ? tile.physical_tile : ++next_free, copy});
  }
  return tracks;
}

void append_metadata(std::string& out, const ProfileStep& step) {
  out.append(",\"metadata\":{");
  for (std::size_t i = 0; i < step.metadata.size(); ++i) {
    const ProfileMetadata& entry = step.metadata[i];
    if (i > 0) out.push_back(',');
    // Names may repeat; JSON object keys should not, so later ones are numbered.
    std::size_t occurrence = 1;
    for (std::size_t j = 0; j < i; ++j) occurrence += step.metadata[j].name == entry.name;
    if (occurrence == 1) {
      detail::append_json_string(out, entry.name);
    } else {
      detail::append_json_string(out, fmt::format("{} ({})", entry.name, occurrence));
    }
    out.push_back(':');
    detail::append_json_string(out, entry.value);
  }
  out.push_back('}');
}

}  // namespace

std::string chrome_trace_json(const ProfileReport& report) {
  const norq_profile::detail::Timeline timeline = norq_profile::detail::make_timeline(report, true);
  // Cycles to microseconds; without a clock the cycle count itself stands in.
  const double us_per_cycle = report.clock_hz == 0 ? 1.0 : 1e6 / static_cast<double>(report.clock_hz);
  const auto to_us = [&](std::uint64_t cycles) { return static_cast<double>(cycles) * us_per_cycle; };

  std::size_t samples = 0;
  for (const TileProfile& tile : report.tiles) samples += tile.samples.size();
  std::string out;
  out.reserve(512 + report.tiles.size() * 160 + samples * bytes_per_slice);
  auto sink = std::back_inserter(out);

  out.append("{\"displayTimeUnit\":\"ns\",\"otherData\":{\"generator\":\"norq-profile\",");
  fmt::format_to(sink, "\"clock_hz\":{},\"tiles\":{},\"samples\":{},\"time_unit\":\"{}\"}},",
                 report.clock_hz, report.tiles.size(), samples,
                 report.clock_hz == 0 ? "cycles (clock frequency unknown)" : "microseconds");
  out.append("\"traceEvents\":[\n");
  fmt::format_to(sink, "{{\"ph\":\"M\",\"name\":\"process_name\",\"pid\":1,\"tid\":0,"
                       "\"args\":{{\"name\":\"norq profile\"}}}}");

  const std::vector<Track> tracks = assign_tracks(report);
  for (std::size_t index = 0; index < report.tiles.size(); ++index) {
    const TileProfile& tile = report.tiles[index];
    const Track track = tracks[index];
    if (track.copy == 1) {
      fmt::format_to(sink, ",\n{{\"ph\":\"M\",\"name\":\"thread_name\",\"pid\":1,\"tid\":{},"
                           "\"args\":{{\"name\":\"tile {}\"}}}}",
                     track.tid, tile.physical_tile);
    } else {
      fmt::format_to(sink, ",\n{{\"ph\":\"M\",\"name\":\"thread_name\",\"pid\":1,\"tid\":{},"
                           "\"args\":{{\"name\":\"tile {} (listed {} times)\"}}}}",
                     track.tid, tile.physical_tile, track.copy);
    }
    fmt::format_to(sink, ",\n{{\"ph\":\"M\",\"name\":\"thread_sort_index\",\"pid\":1,\"tid\":{},"
                         "\"args\":{{\"sort_index\":{}}}}}",
                   track.tid, index);

    for (const CycleSample& sample : tile.samples) {
      const ProfileStep& step = sample.step;
      const auto placed = timeline.place(sample);
      const std::string_view kind = kind_name(sample);
      const std::string_view name =
          !step.kernel.empty() ? std::string_view(step.kernel)
                               : !step.operation.empty() ? std::string_view(step.operation) : kind;
      out.append(",\n{\"ph\":\"X\",\"name\":");
      detail::append_json_string(out, name);
      fmt::format_to(sink, ",\"cat\":\"{}\",\"pid\":1,\"tid\":{},\"ts\":{},\"dur\":{},\"args\":{{",
                     kind, track.tid, to_us(placed.start), to_us(placed.length()));
      fmt::format_to(sink, "\"kind\":\"{}\",\"operation\":", kind);
      detail::append_json_string(out, step.operation);
      out.append(",\"kernel\":");
      detail::append_json_string(out, step.kernel);
      fmt::format_to(sink, ",\"phase\":{},\"epoch\":{},\"cycles\":{},\"start_offset_cycles\":{}",
                     step.phase, step.epoch, placed.length(), placed.start);
      if (step.exchange_event_cycles != 0) {
        fmt::format_to(sink, ",\"exchange_event_cycles\":{}", step.exchange_event_cycles);
      }
      if (!step.metadata.empty()) append_metadata(out, step);
      out.append("}}");
    }
  }
  out.append("\n]}\n");
  return out;
}

}  // namespace norq_profile::report
