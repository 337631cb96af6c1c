// Pictures of a profile: a self-contained HTML report and a Chrome Trace Event export.
#pragma once

#include <norq_package/profile.hpp>

#include <string>

namespace norq_profile::report {

struct ReportOptions {
  // Keep the period in which the tiles were still entering (no crop of the time line).
  bool shared_clock = false;
  // Page heading; empty gives "norq profile report".
  std::string title;
};

// One HTML page that needs nothing else: styles, inline SVG charts and a little script for
// tooltips and sortable tables. It shows summaries (phases, boundaries, kernels, exchange roles),
// never the individual samples, so its size follows the number of phases, not of samples.
std::string render_html_report(const norq_package::profile::ProfileReport& report,
                               const ReportOptions& options);

// The profile as Chrome Trace Event JSON (an object with "traceEvents"), as opened by Perfetto's
// UI, chrome://tracing and speedscope. One track per tile, named "tile N" after its physical
// tile and kept in profile order; one complete ("X") slice per sample, named by its kernel, else
// its operation, else its kind, with kind, operation, kernel, phase, epoch and metadata as
// arguments. Times are microseconds on the profile's common time line (no crop); with a clock
// of 0 Hz the cycle counts are written as microseconds and the trace says so in "otherData".
// Texts that are not valid UTF-8 are written with U+FFFD in place of the bad bytes.
std::string chrome_trace_json(const norq_package::profile::ProfileReport& report);

}  // namespace norq_profile::report
