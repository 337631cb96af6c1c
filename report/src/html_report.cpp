#include <norq_profile_report/report.hpp>

#include <norq_profile/norq_profile.hpp>

#include "page_assets.hpp"
#include "text.hpp"
#include "timeline.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norq_profile::report {

namespace {

using detail::append_html;
using detail::compact;
using detail::grouped;
using phases::KernelWork;
using phases::PhaseWork;

// Enough rows for any real program; beyond it the page would stop being quick to open.
constexpr std::size_t row_cap = 5000;
constexpr std::size_t top_kernels = 12;
constexpr double chart_width = 1100.0;

constexpr std::string_view compute_colour = "#4c78a8";
constexpr std::string_view spread_colour = "#f2a541";
constexpr std::string_view after_colour = "#d1495b";
constexpr std::string_view work_colour = "#e8793a";

// Appends through fmt and escapes the pieces that come from the profile.
class Page {
 public:
  explicit Page(std::string& out) : out_(out) {}

  template <typename... Args>
  void put(fmt::format_string<Args...> format, Args&&... args) {
    fmt::format_to(std::back_inserter(out_), format, std::forward<Args>(args)...);
  }
  void raw(std::string_view text) { out_.append(text); }
  void text(std::string_view text) { append_html(out_, text); }

 private:
  std::string& out_;
};

std::string time_text(double cycles, std::uint64_t clock_hz) {
  std::string out = compact(cycles) + " cycles";
  if (clock_hz == 0) return out;
  const double seconds = cycles / static_cast<double>(clock_hz);
  if (seconds >= 1.0) return out + fmt::format(" · {:.3g} s", seconds);
  if (seconds >= 1e-3) return out + fmt::format(" · {:.3g} ms", seconds * 1e3);
  if (seconds >= 1e-6) return out + fmt::format(" · {:.3g} µs", seconds * 1e6);
  return out + fmt::format(" · {:.3g} ns", seconds * 1e9);
}

std::string clock_text(std::uint64_t clock_hz) {
  if (clock_hz == 0) return "unknown";
  if (clock_hz >= 1'000'000'000) return fmt::format("{:.4g} GHz", static_cast<double>(clock_hz) / 1e9);
  if (clock_hz >= 1'000'000) return fmt::format("{:.4g} MHz", static_cast<double>(clock_hz) / 1e6);
  return fmt::format("{} Hz", grouped(clock_hz));
}

std::string percent(double ratio) { return fmt::format("{:.1f}%", ratio * 100.0); }

std::string shorten(std::string_view name, std::size_t limit) {
  if (name.size() <= limit) return std::string(name);
  std::size_t cut = limit - 1;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;  // whole characters
  return std::string(name.substr(0, cut)) + "…";
}

std::string phase_name(const PhaseWork& phase) {
  if (!phase.next_exchange_phase) return fmt::format("epoch {}, after the last exchange", phase.epoch);
  return fmt::format("epoch {}, up to exchange phase {}", phase.epoch, *phase.next_exchange_phase);
}

// Tick step of 1, 2 or 5 times a power of ten giving about `count` ticks.
double tick_step(double range, int count) {
  if (range <= 0.0) return 1.0;
  const double rough = range / count;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  for (const double factor : {1.0, 2.0, 5.0}) {
    if (rough <= factor * power) return factor * power;
  }
  return 10.0 * power;
}

void card(Page& page, std::string_view label, const std::string& value, const std::string& detail_text) {
  page.raw("<div class=\"card\"><div class=\"label\">");
  page.text(label);
  page.raw("</div><div class=\"value\">");
  page.text(value);
  page.raw("</div><div class=\"detail\">");
  page.text(detail_text);
  page.raw("</div></div>");
}

struct Totals {
  QueryReport query;
  std::uint64_t crop = 0;
  std::size_t boundaries = 0;
};

void header(Page& page, const ProfileReport& report, const ReportOptions& options, const Totals& totals,
            std::size_t phase_count) {
  const QueryReport& q = totals.query;
  page.raw("<header><h1>");
  page.text(options.title.empty() ? "norq profile report" : options.title);
  page.raw("</h1><p>");
  if (options.shared_clock) {
    page.text("Shared clock: times count from the first tile's entry, the entry period included.");
  } else {
    page.text(fmt::format("Times count from the last tile's entry; the entry period of {} is cut away "
                          "(shared clock off).",
                          time_text(static_cast<double>(totals.crop), report.clock_hz)));
  }
  page.raw("</p><div class=\"cards\">");
  std::size_t empty_tiles = 0;
  for (const TileProfile& tile : report.tiles) empty_tiles += tile.samples.empty();
  card(page, "Tiles", grouped(q.tile_count),
       empty_tiles == 0 ? std::string("all sampled") : fmt::format("{} without samples", grouped(empty_tiles)));
  card(page, "Samples", grouped(q.sample_count),
       q.tile_count == 0 ? std::string() : fmt::format("{} per tile on average",
                                                       compact(static_cast<double>(q.sample_count) /
                                                               static_cast<double>(q.tile_count))));
  card(page, "Span", compact(static_cast<double>(q.profile_span_cycles)),
       report.clock_hz == 0 ? std::string("cycles, clock unknown") : fmt::format("cycles · {:.4g} ms", q.profile_span_ms));
  card(page, "Clock", clock_text(report.clock_hz), fmt::format("{} Hz", grouped(report.clock_hz)));
  card(page, "Phases", grouped(phase_count), "compute between exchanges");
  card(page, "Exchange boundaries", grouped(totals.boundaries), "exchanges across all tiles");
  page.raw("</div></header>\n");
}

// The time line: compute spans (height = tile occupancy, so area follows work) above the
// exchanges, whose arrival spread and time after the last arrival are drawn apart.
void phase_timeline(Page& page, const std::vector<PhaseWork>& phases, std::uint64_t span,
                    std::uint64_t clock_hz, std::size_t tile_count) {
  page.raw("<section id=\"phases\"><h2>Phase timeline</h2><p class=\"note\">Each phase is the compute "
           "that leads up to an exchange. Upper lane: compute span, bar height = share of all tiles "
           "busy (occupancy), so the area shows the work. Lower lane: the exchange, split into the "
           "arrival spread (tiles waiting for the last one) and the time after the last arrival. "
           "Hover for numbers and the last tile to arrive.</p>");
  page.raw("<figure class=\"chart\" id=\"chart-phase-timeline\">");
  if (phases.empty()) {
    page.raw("<div class=\"empty\">No compute phases or exchanges in this profile.</div></figure></section>\n");
    return;
  }
  std::uint64_t end = span;
  for (const PhaseWork& phase : phases) {
    end = std::max(end, phase.end);
    if (phase.exchange) end = std::max(end, phase.exchange->last_exit);
  }
  const double left = 92.0;
  const double plot = chart_width - left - 16.0;
  const double compute_top = 10.0;
  const double compute_height = 90.0;
  const double exchange_top = compute_top + compute_height + 12.0;
  const double exchange_height = 30.0;
  const double axis = exchange_top + exchange_height + 8.0;
  const double height = axis + 22.0;
  const double scale = end == 0 ? 0.0 : plot / static_cast<double>(end);
  const auto x = [&](std::uint64_t t) { return left + static_cast<double>(t) * scale; };
  const auto width = [&](std::uint64_t from, std::uint64_t to) {
    return std::max(0.8, static_cast<double>(to - from) * scale);
  };

  page.put("<svg viewBox=\"0 0 {} {}\" role=\"img\" aria-label=\"Phase timeline\">", chart_width, height);
  page.put("<text class=\"label\" x=\"4\" y=\"{}\">Compute</text>", compute_top + compute_height / 2 + 4);
  page.put("<text class=\"label\" x=\"4\" y=\"{}\">Exchange</text>", exchange_top + exchange_height / 2 + 4);
  const double step = tick_step(static_cast<double>(end), 8);
  for (double t = 0.0; t <= static_cast<double>(end) + step * 1e-9; t += step) {
    const double at = left + t * scale;
    page.put("<line class=\"grid\" x1=\"{0:.1f}\" x2=\"{0:.1f}\" y1=\"{1}\" y2=\"{2}\"/>", at, compute_top, axis);
    page.put("<text x=\"{:.1f}\" y=\"{}\" text-anchor=\"middle\">{}</text>", at, axis + 14, compact(t));
  }
  page.put("<text x=\"{}\" y=\"{}\" text-anchor=\"end\">cycles</text>", chart_width - 4, height - 2);
  page.put("<line class=\"grid\" x1=\"{0}\" x2=\"{1}\" y1=\"{2}\" y2=\"{2}\"/>", left, left + plot,
           compute_top + compute_height);

  // Tiles arrive so skewed that one exchange's arrival spread can cover the previous one's end;
  // the times after the last arrival go on a layer above so that none is hidden.
  std::string after_layer;
  Page after(after_layer);
  const std::size_t drawn = std::min(phases.size(), row_cap);
  for (std::size_t i = 0; i < drawn; ++i) {
    const PhaseWork& phase = phases[i];
    if (phase.work_cycles > 0) {
      const double bar = std::max(1.5, std::min(1.0, phase.occupancy) * compute_height);
      std::string tip = fmt::format("{}\ncompute span {}\nwork {} on {} of {} tiles, occupancy {}",
                                    phase_name(phase), time_text(static_cast<double>(phase.span_cycles), clock_hz),
                                    time_text(static_cast<double>(phase.work_cycles), clock_hz),
                                    grouped(phase.active_tiles), grouped(tile_count), percent(phase.occupancy));
      if (!phase.kernels.empty()) tip += "\ntop kernel " + phase.kernels.front().kernel;
      page.put("<rect class=\"compute\" x=\"{:.2f}\" y=\"{:.2f}\" width=\"{:.2f}\" height=\"{:.2f}\" fill=\"{}\" "
               "fill-opacity=\"0.85\" data-tip=\"",
               x(phase.start), compute_top + compute_height - bar, width(phase.start, phase.end), bar,
               compute_colour);
      page.text(tip);
      page.raw("\"/>");
    }
    if (!phase.exchange) continue;
    const ExchangeBoundary& b = *phase.exchange;
    std::string tip = fmt::format(
        "exchange epoch {} phase {}\narrival spread {}\nafter last arrival {}{}\nlast to arrive: tile {}", b.epoch,
        b.phase, time_text(static_cast<double>(b.arrival_spread_cycles), clock_hz),
        time_text(static_cast<double>(b.after_last_arrival_cycles), clock_hz),
        b.scheduled_event_cycles
            ? fmt::format(" (scheduled {})", time_text(static_cast<double>(*b.scheduled_event_cycles), clock_hz))
            : std::string(),
        b.last_arriving_tile);
    if (b.arrival_spread_cycles > 0) {
      page.put("<rect class=\"arrival\" x=\"{:.2f}\" y=\"{}\" width=\"{:.2f}\" height=\"{}\" fill=\"{}\" fill-opacity=\"0.7\" data-tip=\"",
               x(b.first_entry), exchange_top, width(b.first_entry, b.last_entry), exchange_height, spread_colour);
      page.text(tip);
      page.raw("\"/>");
    }
    after.put("<rect class=\"after-arrival\" x=\"{:.2f}\" y=\"{}\" width=\"{:.2f}\" height=\"{}\" fill=\"{}\" data-tip=\"",
              x(b.last_entry), exchange_top, width(b.last_entry, b.last_exit), exchange_height, after_colour);
    after.text(tip);
    after.raw("\"/>");
  }
  page.raw(after_layer);
  page.raw("</svg></figure>");
  page.put("<div class=\"legend\"><span><span class=\"swatch\" style=\"background:{}\"></span>compute span "
           "(height = occupancy)</span><span><span class=\"swatch\" style=\"background:{}\"></span>arrival "
           "spread</span><span><span class=\"swatch\" style=\"background:{}\"></span>after the last "
           "arrival</span></div>",
           compute_colour, spread_colour, after_colour);
  if (drawn < phases.size()) {
    page.put("<p class=\"note\">Showing the first {} of {} phases.</p>", grouped(drawn), grouped(phases.size()));
  }
  page.raw("</section>\n");
}

// Horizontal bars, one per kernel group, longest first.
void kernel_bars(Page& page, std::string_view id, std::string_view caption, const std::vector<GroupSummary>& groups,
                 bool by_work, std::uint64_t clock_hz) {
  page.put("<figure class=\"chart\" id=\"{}\"><figcaption>", id);
  page.text(caption);
  page.raw("</figcaption>");
  if (groups.empty()) {
    page.raw("<div class=\"empty\">No compute samples.</div></figure>");
    return;
  }
  const auto value = [&](const GroupSummary& g) { return by_work ? g.work_cycles : g.phase_cycles; };
  std::uint64_t top = 1;
  for (const GroupSummary& g : groups) top = std::max(top, value(g));
  const double w = 540.0;
  const double label = 170.0;
  const double bars = w - label - 70.0;
  const double row = 22.0;
  page.put("<svg viewBox=\"0 0 {} {}\" role=\"img\">", w, row * static_cast<double>(groups.size()) + 4);
  for (std::size_t i = 0; i < groups.size(); ++i) {
    const GroupSummary& g = groups[i];
    const double y = 2.0 + row * static_cast<double>(i);
    const double length = std::max(1.0, static_cast<double>(value(g)) / static_cast<double>(top) * bars);
    page.put("<text class=\"label\" x=\"{}\" y=\"{}\" text-anchor=\"end\">", label - 6, y + 15);
    page.text(shorten(g.name, 26));
    page.raw("</text>");
    page.put("<rect x=\"{}\" y=\"{}\" width=\"{:.2f}\" height=\"{}\" rx=\"2\" fill=\"{}\" data-tip=\"", label, y + 3,
             length, row - 6, by_work ? work_colour : compute_colour);
    page.text(fmt::format("{}\ncovered {}\nwork {}\n{} samples on {} tiles, {:.1f} tiles busy on average\n"
                          "per sample: mean {}, p95 {}, max {}",
                          g.name, time_text(static_cast<double>(g.phase_cycles), clock_hz),
                          time_text(static_cast<double>(g.work_cycles), clock_hz), grouped(g.sample_count),
                          grouped(g.tile_count), g.average_active_tiles, compact(g.mean_cycles),
                          compact(g.p95_cycles), compact(g.maximum_cycles)));
    page.raw("\"/>");
    page.put("<text x=\"{:.2f}\" y=\"{}\">{}</text>", label + length + 5, y + 15,
             compact(static_cast<double>(value(g))));
  }
  page.raw("</svg></figure>");
}

// Both rankings come from one query: the rows are re-ordered here rather than asked for twice.
void kernels_section(Page& page, const QueryReport& kernels, std::uint64_t clock_hz) {
  const auto top = [&](SortBy sort_by) {
    std::vector<GroupSummary> rows = kernels.groups;
    std::stable_sort(rows.begin(), rows.end(), [&](const GroupSummary& a, const GroupSummary& b) {
      return compare_groups(sort_by, a, b) < 0;
    });
    if (rows.size() > top_kernels) rows.resize(top_kernels);
    return rows;
  };
  page.raw("<section id=\"kernels\"><h2>Top kernels</h2><p class=\"note\">Compute samples by kernel. "
           "Covered cycles count time on the common time line once however many tiles ran the kernel; "
           "work adds up every tile's cycles.</p><div class=\"pair\">");
  kernel_bars(page, "chart-kernels-covered", "By covered cycles", top(SortBy::PhaseCycles), false, clock_hz);
  kernel_bars(page, "chart-kernels-work", "By work (tile cycles)", top(SortBy::WorkCycles), true, clock_hz);
  page.raw("</div></section>\n");
}

void exchange_section(Page& page, const ExchangeActivitySummary& s, std::uint64_t clock_hz) {
  page.raw("<section id=\"exchange\"><h2>Exchange roles</h2><p class=\"note\">How the scheduled event windows "
           "of the exchange steps that describe their activity split up, summed over all tiles. "
           "Partner-busy cycles may overlap sending or receiving.</p>");
  page.raw("<figure class=\"chart\" id=\"chart-exchange-roles\">");
  const auto less = [](std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; };
  struct Segment {
    std::string_view name;
    std::uint64_t cycles;
    std::string_view colour;
  };
  const Segment segments[] = {
      {"send only", less(s.estimated_send_work_cycles, s.estimated_simultaneous_work_cycles), "#4c78a8"},
      {"send and receive", s.estimated_simultaneous_work_cycles, "#8e6bbf"},
      {"receive only", less(s.estimated_receive_work_cycles, s.estimated_simultaneous_work_cycles), "#59a14f"},
      {"partner busy", s.estimated_partner_busy_work_cycles, "#e15759"},
      {"idle", s.estimated_idle_work_cycles, "#bab0ac"},
  };
  std::uint64_t total = 0;
  for (const Segment& segment : segments) total += segment.cycles;
  if (total == 0) {
    page.raw("<div class=\"empty\">No exchange step describes its activity.</div></figure>");
  } else {
    const double w = chart_width;
    page.put("<svg viewBox=\"0 0 {} 44\" role=\"img\" aria-label=\"Exchange role split\">", w);
    double at = 0.0;
    for (const Segment& segment : segments) {
      if (segment.cycles == 0) continue;
      const double share = static_cast<double>(segment.cycles) / static_cast<double>(total);
      page.put("<rect x=\"{:.2f}\" y=\"4\" width=\"{:.2f}\" height=\"36\" fill=\"{}\" data-tip=\"", at,
               std::max(0.8, share * w), segment.colour);
      page.text(fmt::format("{}: {} ({})", segment.name, time_text(static_cast<double>(segment.cycles), clock_hz),
                            percent(share)));
      page.raw("\"/>");
      if (share * w > 70) {
        page.put("<text x=\"{:.2f}\" y=\"27\" text-anchor=\"middle\" style=\"fill:#fff\">{}</text>",
                 at + share * w / 2, percent(share));
      }
      at += share * w;
    }
    page.raw("</svg></figure><div class=\"legend\">");
    for (const Segment& segment : segments) {
      page.put("<span><span class=\"swatch\" style=\"background:{}\"></span>{} <span class=\"figure\">{}</span></span>",
               segment.colour, segment.name, compact(static_cast<double>(segment.cycles)));
    }
    page.raw("</div>");
  }
  const auto stat = [&](std::string_view name, const std::string& value) {
    page.raw("<div><dt>");
    page.text(name);
    page.raw("</dt><dd>");
    page.text(value);
    page.raw("</dd></div>");
  };
  page.raw("<dl class=\"stats\">");
  stat("exchange samples", grouped(s.exchange_samples));
  stat("with described activity", grouped(s.described_samples));
  stat("send / receive / partner-busy intervals", fmt::format("{} / {} / {}", grouped(s.send_intervals),
                                                              grouped(s.receive_intervals),
                                                              grouped(s.partner_busy_intervals)));
  stat("after last arrival (scheduled boundaries)", time_text(static_cast<double>(s.measured_phase_cycles), clock_hz));
  stat("scheduled exchange time", time_text(static_cast<double>(s.scheduled_event_cycles), clock_hz));
  stat("waiting for the last arrival", time_text(static_cast<double>(s.arrival_wait_cycles), clock_hz));
  stat("over schedule after last arrival", time_text(static_cast<double>(s.phase_boundary_cycles), clock_hz));
  page.raw("</dl></section>\n");
}

// A numeric cell that sorts by its exact value.
void number_cell(Page& page, std::uint64_t value) { page.put("<td class=\"num\" data-v=\"{}\">{}</td>", value, grouped(value)); }

void optional_cell(Page& page, const std::optional<std::uint64_t>& value) {
  if (value) {
    number_cell(page, *value);
  } else {
    page.raw("<td class=\"num\" data-v=\"\">—</td>");
  }
}

void ratio_cell(Page& page, const std::optional<double>& value) {
  if (value) {
    page.put("<td class=\"num\" data-v=\"{}\">{}</td>", *value, percent(*value));
  } else {
    page.raw("<td class=\"num\" data-v=\"\">—</td>");
  }
}

void table_head(Page& page, std::string_view id, std::initializer_list<std::string_view> columns,
                std::size_t text_columns) {
  page.put("<div class=\"table-wrap\"><table class=\"sortable\" id=\"{}\"><thead><tr>", id);
  std::size_t i = 0;
  for (const std::string_view column : columns) {
    if (i++ < text_columns) {
      page.put("<th>{}</th>", column);
    } else {
      page.put("<th class=\"num\">{}</th>", column);
    }
  }
  page.raw("</tr></thead><tbody>");
}

void cap_note(Page& page, std::size_t shown, std::size_t total) {
  page.raw("</tbody></table></div>");
  if (shown < total) page.put("<p class=\"note\">Showing the first {} of {} rows.</p>", grouped(shown), grouped(total));
}

void boundaries_table(Page& page, const std::vector<ExchangeBoundary>& boundaries, const norq_profile::detail::Timeline& timeline) {
  page.raw("<section id=\"boundaries\"><h2>Exchange boundaries</h2><p class=\"note\">Every exchange as the whole "
           "processor sees it, in the order it finished; times in cycles on the report's time line. Click a "
           "heading to sort.</p>");
  if (boundaries.empty()) {
    page.raw("<div class=\"empty\">No exchange boundaries.</div></section>\n");
    return;
  }
  table_head(page, "boundaries-table",
             {"Epoch", "Phase", "First entry", "Last entry", "Last exit", "Arrival spread", "After last arrival",
              "Scheduled", "Last tile"},
             0);
  const std::size_t shown = std::min(boundaries.size(), row_cap);
  for (std::size_t i = 0; i < shown; ++i) {
    const ExchangeBoundary& b = boundaries[i];
    page.raw("<tr>");
    number_cell(page, b.epoch);
    number_cell(page, b.phase);
    const std::uint64_t first = timeline.cropped(b.first_entry);
    const std::uint64_t last = timeline.cropped(b.last_entry);
    const std::uint64_t exit = timeline.cropped(b.last_exit);
    number_cell(page, first);
    number_cell(page, last);
    number_cell(page, exit);
    number_cell(page, last - first);
    number_cell(page, exit - last);
    optional_cell(page, b.scheduled_event_cycles);
    page.put("<td class=\"num\" data-v=\"{0}\">{0}</td>", b.last_arriving_tile);
    page.raw("</tr>");
  }
  cap_note(page, shown, boundaries.size());
  page.raw("</section>\n");
}

void phases_table(Page& page, const std::vector<PhaseWork>& phases) {
  page.raw("<section id=\"phase-list\"><h2>Phases</h2><p class=\"note\">Compute work per phase in time order. "
           "Unattributed: cycles between the last tile's last counted work and its arrival at the exchange. "
           "Exposed preparation: from the previous exchange's end to the last arrival at this one.</p>");
  if (phases.empty()) {
    page.raw("<div class=\"empty\">No phases.</div></section>\n");
    return;
  }
  table_head(page, "phases-table",
             {"Top kernel", "Epoch", "Exchange phase", "Start", "End", "Span", "Work", "Active tiles", "Occupancy",
              "Exchange occupancy", "Exposed preparation", "Last tile", "Unattributed"},
             1);
  const std::size_t shown = std::min(phases.size(), row_cap);
  for (std::size_t i = 0; i < shown; ++i) {
    const PhaseWork& p = phases[i];
    page.raw("<tr><td>");
    page.text(p.kernels.empty() ? std::string_view("—") : std::string_view(p.kernels.front().kernel));
    page.raw("</td>");
    number_cell(page, p.epoch);
    if (p.next_exchange_phase) {
      number_cell(page, *p.next_exchange_phase);
    } else {
      page.raw("<td class=\"num\" data-v=\"\">none</td>");
    }
    number_cell(page, p.start);
    number_cell(page, p.end);
    number_cell(page, p.span_cycles);
    number_cell(page, p.work_cycles);
    number_cell(page, p.active_tiles);
    ratio_cell(page, p.occupancy);
    ratio_cell(page, p.exchange_occupancy);
    optional_cell(page, p.exposed_preparation_cycles);
    if (p.exchange) {
      page.put("<td class=\"num\" data-v=\"{0}\">{0}</td>", p.exchange->last_arriving_tile);
      number_cell(page, p.unattributed_before_barrier_cycles);
    } else {
      page.raw("<td class=\"num\" data-v=\"\">—</td><td class=\"num\" data-v=\"\">—</td>");
    }
    page.raw("</tr>");
  }
  cap_note(page, shown, phases.size());
  page.raw("</section>\n");
}

}  // namespace

std::string render_html_report(const ProfileReport& report, const ReportOptions& options) {
  const norq_profile::detail::Timeline timeline = norq_profile::detail::make_timeline(report, options.shared_clock);
  // The totals of a query do not depend on its filters, so the kernel query serves for both.
  Totals totals{.query = norq_profile::query(report, Query{.group_by = GroupBy::Kernel,
                                                           .kind = StepKind::Compute,
                                                           .shared_clock = options.shared_clock}),
                .crop = timeline.crop};
  const std::vector<ExchangeBoundary> boundaries = exchange_boundaries(report);
  totals.boundaries = boundaries.size();
  const std::vector<PhaseWork> phases = phases::phase_work(report, options.shared_clock);
  const ExchangeActivitySummary summary = exchange_activity_summary(report);

  std::string out;
  out.reserve(64 * 1024 + std::min(phases.size(), row_cap) * 1500 + std::min(boundaries.size(), row_cap) * 500);
  Page page(out);
  page.raw("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>");
  page.text(options.title.empty() ? "norq profile report" : options.title);
  page.raw("</title><style>");
  page.raw(detail::page_style);
  page.raw("</style></head><body><main>\n");
  header(page, report, options, totals, phases.size());
  phase_timeline(page, phases, totals.query.profile_span_cycles, report.clock_hz, report.tiles.size());
  kernels_section(page, totals.query, report.clock_hz);
  exchange_section(page, summary, report.clock_hz);
  boundaries_table(page, boundaries, timeline);
  phases_table(page, phases);
  page.raw("<footer>Made by norq-profile. Open the trace export in a timeline viewer for individual samples."
           "</footer></main><div id=\"tip\" hidden></div><script>");
  page.raw(detail::page_script);
  page.raw("</script></body></html>\n");
  return out;
}

}  // namespace norq_profile::report
