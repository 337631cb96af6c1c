#include <norq_profile_report/report.hpp>

#include <norq_profile/norq_profile.hpp>

#include "builders.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using namespace norq_profile;
using norq_profile::report::render_html_report;
using norq_profile::report::ReportOptions;

CycleSample compute(std::string kernel, std::uint32_t start, std::uint32_t end) {
  return {.step = {.operation = "op " + kernel, .kind = StepKind::Compute, .kernel = std::move(kernel)},
          .start_cycle = start,
          .end_cycle = end};
}

CycleSample exchange(std::uint32_t phase, std::uint32_t start, std::uint32_t end) {
  return {.step = {.phase = phase,
                   .operation = "exchange",
                   .kind = StepKind::Exchange,
                   .exchange_activities = {{.kind = ExchangeActivityKind::Send, .start_cycle = 0, .end_cycle = 4},
                                           {.kind = ExchangeActivityKind::Receive, .start_cycle = 2, .end_cycle = 6}},
                   .exchange_event_cycles = 8},
          .start_cycle = start,
          .end_cycle = end};
}

// Three tiles meet at one exchange; tile 0 arrives last. Tile 2 then runs a kernel whose name is markup.
ProfileReport small_profile() {
  return {.clock_hz = 1'000'000'000,
          .tiles = {norq_test::tile(0, {compute("copy", 0, 10), exchange(80, 12, 20)}),
                    norq_test::tile(1, {compute("fill", 2, 6), exchange(80, 9, 20)}),
                    norq_test::tile(2, {exchange(80, 0, 20), compute("<b>evil</b>", 20, 30)})}};
}

// The figure with the given id, or "" when the page has none.
std::string_view chart(std::string_view page, std::string_view id) {
  const std::size_t start = page.find("id=\"" + std::string(id) + "\"");
  if (start == std::string_view::npos) return {};
  return page.substr(start, page.find("</figure>", start) - start);
}

std::size_t count(std::string_view text, std::string_view needle) {
  std::size_t n = 0;
  for (std::size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

TEST(HtmlReport, EveryChartIsDrawn) {
  const std::string page = render_html_report(small_profile(), {});
  for (const std::string_view id :
       {"chart-phase-timeline", "chart-kernels-covered", "chart-kernels-work", "chart-exchange-roles"}) {
    const std::string_view figure = chart(page, id);
    ASSERT_FALSE(figure.empty()) << id;
    EXPECT_NE(figure.find("<svg"), std::string_view::npos) << id;
    EXPECT_NE(figure.find("<rect"), std::string_view::npos) << id;
  }
  // The exchange shows both parts, and hovering names the last tile to arrive.
  const std::string_view timeline = chart(page, "chart-phase-timeline");
  EXPECT_EQ(count(timeline, "class=\"arrival\""), 1u);
  EXPECT_EQ(count(timeline, "class=\"after-arrival\""), 1u);
  EXPECT_NE(timeline.find("last to arrive: tile 0"), std::string_view::npos);
  // send 0-4 and receive 2-6 of 8 cycles on each of three tiles
  const std::string_view roles = chart(page, "chart-exchange-roles");
  EXPECT_NE(roles.find("send only: 6 cycles"), std::string_view::npos);
  EXPECT_NE(roles.find("send and receive: 6 cycles"), std::string_view::npos);
  EXPECT_NE(roles.find("idle: 6 cycles"), std::string_view::npos);
  EXPECT_NE(chart(page, "chart-kernels-work").find(">copy<"), std::string_view::npos);
}

TEST(HtmlReport, SelfContainedWellFormedAndEscaped) {
  const std::string page = render_html_report(small_profile(), {.title = "run <7> & \"friends\""});
  EXPECT_TRUE(page.starts_with("<!DOCTYPE html>"));
  EXPECT_TRUE(page.ends_with("</html>\n"));
  for (const std::string_view external : {"http:", "https:", "src=", "<link", "@import", "url("}) {
    EXPECT_EQ(page.find(external), std::string::npos) << external;
  }
  EXPECT_EQ(page.find("<b>evil"), std::string::npos);
  EXPECT_NE(page.find("&lt;b&gt;evil&lt;/b&gt;"), std::string::npos);
  EXPECT_NE(page.find("<h1>run &lt;7&gt; &amp; &quot;friends&quot;</h1>"), std::string::npos);
  EXPECT_EQ(count(page, "<script>"), 1u);
  EXPECT_EQ(count(page, "<svg"), count(page, "</svg>"));
}

TEST(HtmlReport, TablesListBoundariesAndPhases) {
  const std::string page = render_html_report(small_profile(), {});
  const std::string_view boundaries = chart(page, "boundaries-table");
  const std::string_view phases = chart(page, "phases-table");
  EXPECT_EQ(count(boundaries.substr(0, boundaries.find("</table>")), "<tr>"), 2u);  // heading + one exchange
  EXPECT_EQ(count(phases.substr(0, phases.find("</table>")), "<tr>"), 3u);  // heading + exchange phase + trailing
  EXPECT_NE(page.find("class=\"sortable\""), std::string::npos);
}

TEST(HtmlReport, ClockChoiceShowsInTheHeaderAndTimes) {
  const std::string cropped = render_html_report(small_profile(), {});
  const std::string shared = render_html_report(small_profile(), {.shared_clock = true});
  EXPECT_NE(cropped.find("entry period of 2 cycles"), std::string::npos);
  EXPECT_NE(shared.find("Shared clock"), std::string::npos);
  // Tile 1 enters 2 cycles late, so the last arrival (tile 0 at 12) shows as 10 unless the clock is shared.
  const auto first_row = [](std::string_view page) {
    const std::size_t at = page.find("<tbody>", page.find("id=\"boundaries-table\""));
    return std::string(page.substr(at, page.find("</tr>", at) - at));
  };
  EXPECT_NE(first_row(shared).find("data-v=\"12\""), std::string::npos) << first_row(shared);
  EXPECT_EQ(first_row(cropped).find("data-v=\"12\""), std::string::npos) << first_row(cropped);
}

TEST(HtmlReport, EmptyProfilesSayThereIsNothingToDraw) {
  for (const ProfileReport& profile : {ProfileReport{}, ProfileReport{.clock_hz = 0, .tiles = {norq_test::tile(3, {})}}}) {
    const std::string page = render_html_report(profile, {});
    EXPECT_TRUE(page.ends_with("</html>\n"));
    EXPECT_EQ(page.find("<rect"), std::string::npos);
    EXPECT_NE(page.find("No compute phases or exchanges"), std::string::npos);
    EXPECT_NE(page.find("No exchange step describes its activity"), std::string::npos);
    EXPECT_NE(page.find("Clock</div><div class=\"value\">unknown"), std::string::npos);
  }
}

// The page summarises: a hundred times the tiles running the same program gives about the same page.
TEST(HtmlReport, SizeFollowsPhasesNotTiles) {
  const ProfileReport small = small_profile();
  ProfileReport large{.clock_hz = small.clock_hz};
  for (std::uint32_t copy = 0; copy < 100; ++copy) {
    for (TileProfile tile : small.tiles) {
      tile.physical_tile += 3 * copy;
      large.tiles.push_back(std::move(tile));
    }
  }
  const std::size_t small_size = render_html_report(small, {}).size();
  const std::size_t large_size = render_html_report(large, {}).size();
  EXPECT_LT(large_size, small_size + small_size / 10) << small_size << " -> " << large_size;
}

}  // namespace
