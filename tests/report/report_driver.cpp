// Writes the HTML report and the trace of a generated or given profile, for the browser checks.
//
//   report_driver [--profile FILE | --tiles N --steps N --seed N] [--shared-clock]
//                 [--title TEXT] --html OUT --trace OUT
#include <norq_profile_generate/generate.hpp>
#include <norq_profile_io/profile_file.hpp>
#include <norq_profile_report/report.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace {

void write(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.close();
  if (!file) throw std::runtime_error(path + ": cannot write");
}

std::uint64_t number(std::string_view flag, const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*text == '\0' || *end != '\0') throw std::runtime_error(std::string(flag) + ": expected a number, got \"" + text + "\"");
  return value;
}

}  // namespace

int main(int argc, char** argv) try {
  norq_profile::generate::GenerateOptions generate{.tiles = 48, .steps = 400, .seed = 7};
  std::optional<std::string> profile;
  std::string html;
  std::string trace;
  norq_profile::report::ReportOptions options{.title = "norq profile report"};
  for (int i = 1; i < argc; ++i) {
    const std::string_view flag = argv[i];
    if (flag == "--shared-clock") {
      options.shared_clock = true;
      continue;
    }
    if (i + 1 >= argc) throw std::runtime_error(std::string(flag) + ": missing value");
    const char* value = argv[++i];
    if (flag == "--profile") profile = value;
    else if (flag == "--tiles") generate.tiles = static_cast<std::uint32_t>(number(flag, value));
    else if (flag == "--steps") generate.steps = static_cast<std::uint32_t>(number(flag, value));
    else if (flag == "--seed") generate.seed = number(flag, value);
    else if (flag == "--title") options.title = value;
    else if (flag == "--html") html = value;
    else if (flag == "--trace") trace = value;
    else throw std::runtime_error("unknown option " + std::string(flag));
  }
  const auto started = std::chrono::steady_clock::now();
  const auto report = profile ? norq_profile::io::load_profile(*profile)
                              : norq_profile::generate::generate_profile(generate);
  const auto loaded = std::chrono::steady_clock::now();
  if (!html.empty()) write(html, norq_profile::report::render_html_report(report, options));
  const auto rendered = std::chrono::steady_clock::now();
  if (!trace.empty()) write(trace, norq_profile::report::chrome_trace_json(report));
  const auto traced = std::chrono::steady_clock::now();
  const auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
  std::cerr << "profile " << ms(loaded - started) << " ms, report " << ms(rendered - loaded) << " ms, trace "
            << ms(traced - rendered) << " ms\n";
  return 0;
} catch (const std::exception& error) {
  std::cerr << "report_driver: " << error.what() << '\n';
  return 2;
}
