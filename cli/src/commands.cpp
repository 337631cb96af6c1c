#include "commands.hpp"

#include "output.hpp"
#include "results.hpp"
#include "sheet.hpp"

#include <norq_profile/norq_profile.hpp>
#include <norq_profile_generate/generate.hpp>
#include <norq_profile_io/profile_file.hpp>
#include <norq_profile_report/report.hpp>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>
#include <utility>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace norq_cli {
namespace {

using namespace norq_profile;

constexpr int kExitUsage = 1;
constexpr int kExitInput = 2;

// A command line that parses but asks for something that makes no sense.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that cannot be read or analysed as asked.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Format { Table, Json, Csv };

// Accepts exactly the names of `choices`, in the order listed, and hands the option its value.
template <typename Enum>
CLI::Validator choice(const std::vector<std::pair<std::string, Enum>>& choices, std::string what) {
  std::string expected;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    expected += i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ";
    expected += choices[i].first;
  }
  return CLI::Validator(
      [choices, what, expected](std::string& text) -> std::string {
        for (const auto& [name, value] : choices) {
          if (text == name) {
            text = std::to_string(static_cast<long long>(value));
            return {};
          }
        }
        return fmt::format("unknown {} \"{}\" (expected {})", what, text, expected);
      },
      "", "");
}

// Plain decimal numbers up to `max`; CLI11's own message does not say what was wrong.
CLI::Validator number(std::uint64_t max, std::string what) {
  return CLI::Validator(
      [max, what](std::string& text) -> std::string {
        std::uint64_t value = 0;
        bool ok = !text.empty() && text.size() <= 20;
        for (char c : text) {
          if (c < '0' || c > '9' || value > (max - static_cast<std::uint64_t>(c - '0')) / 10) {
            ok = false;
            break;
          }
          value = value * 10 + static_cast<std::uint64_t>(c - '0');
        }
        return ok ? std::string() : fmt::format("expected {} from 0 to {}, got \"{}\"", what, max, text);
      },
      "", "");
}

struct OutputOptions {
  Format format = Format::Table;
  std::string output;
};

void add_output_options(CLI::App& command, OutputOptions& options, std::string_view default_format) {
  command.add_option("--format", options.format, fmt::format("table, json or csv (default: {})", default_format))
      ->transform(choice<Format>({{"table", Format::Table}, {"json", Format::Json}, {"csv", Format::Csv}}, "format"))
      ->option_text("FORMAT");
  command.add_option("-o,--output", options.output,
                     "write to FILE instead of standard output; FILE is replaced only once complete")
      ->option_text("FILE");
}

template <typename Result>
void emit(const Result& result, const OutputOptions& options) {
  std::string text;
  switch (options.format) {
    case Format::Table: text = render_table(sheets(result, true), preamble(result)); break;
    case Format::Csv: text = render_csv(sheets(result, false)); break;
    case Format::Json: text = to_json(result); break;
  }
  write_output(text, options.output);
}

struct Loaded {
  ProfileReport report;
  ProfileInfo info;
};

Loaded load(const std::string& file) {
  Loaded loaded;
  {
    LoadProgress progress(file);
    io::LoadOptions options;
    options.progress = progress.callback();
    loaded.report = io::load_profile(file, options);
  }
  loaded.info.file = file;
  loaded.info.clock_hz = loaded.report.clock_hz;
  loaded.info.tile_count = loaded.report.tiles.size();
  for (const TileProfile& tile : loaded.report.tiles) loaded.info.sample_count += tile.samples.size();
  return loaded;
}

// The query reports the profile span whatever its filters say; an offset that no sample can
// contain spares it the grouping work.
std::uint64_t profile_span(const ProfileReport& report, bool shared_clock) {
  Query span_only;
  span_only.at_offset = std::numeric_limits<std::uint64_t>::max();
  span_only.shared_clock = shared_clock;
  span_only.limit = 0;
  return query(report, span_only).profile_span_cycles;
}

// --- query -------------------------------------------------------------------------------------

struct QueryOptions {
  std::string file;
  OutputOptions output;
  GroupBy group_by = GroupBy::Kernel;
  SortBy sort_by = SortBy::PhaseCycles;
  StepKind kind = StepKind::Exchange;
  std::string kernel;
  std::string operation_contains;
  std::vector<std::uint32_t> tiles;
  std::vector<std::uint32_t> phases;
  std::vector<std::string> meta;
  std::string metadata_key;
  std::uint64_t at = 0;
  bool shared_clock = false;
  std::size_t limit = 0;
  std::size_t samples = 0;
  CLI::Option* group_by_option = nullptr;
  CLI::Option* kind_option = nullptr;
  CLI::Option* kernel_option = nullptr;
  CLI::Option* operation_option = nullptr;
  CLI::Option* metadata_key_option = nullptr;
  CLI::Option* at_option = nullptr;
  CLI::Option* limit_option = nullptr;
};

MetadataFilter metadata_filter(const std::string& text) {
  const std::size_t equals = text.find('=');
  MetadataFilter filter;
  filter.name = text.substr(0, equals);
  if (equals != std::string::npos) filter.value = text.substr(equals + 1);
  if (filter.name.empty()) {
    throw UsageError(fmt::format("--meta: expected NAME or NAME=VALUE with a non-empty NAME, got \"{}\"", text));
  }
  return filter;
}

Query build_query(const QueryOptions& o) {
  Query q;
  q.group_by = o.group_by;
  q.sort_by = o.sort_by;
  if (o.kind_option->count() > 0) q.kind = o.kind;
  if (o.kernel_option->count() > 0) q.kernel = o.kernel;
  if (o.operation_option->count() > 0) q.operation_contains = o.operation_contains;
  q.tiles.insert(o.tiles.begin(), o.tiles.end());
  q.phases.insert(o.phases.begin(), o.phases.end());
  for (const std::string& text : o.meta) q.metadata.push_back(metadata_filter(text));
  if (o.metadata_key_option->count() > 0) {
    // A key alone asks for grouping by it; with another grouping it would silently do nothing.
    if (o.group_by_option->count() == 0) {
      q.group_by = GroupBy::Metadata;
    } else if (o.group_by != GroupBy::Metadata) {
      throw UsageError("--metadata-key applies only to --group-by metadata");
    }
    q.metadata_key = o.metadata_key;
  } else if (q.group_by == GroupBy::Metadata) {
    throw UsageError("--group-by metadata needs --metadata-key NAME");
  }
  if (o.at_option->count() > 0) q.at_offset = o.at;
  q.shared_clock = o.shared_clock;
  if (o.limit_option->count() > 0) q.limit = o.limit;
  q.sample_limit = o.samples;
  return q;
}

void add_query(CLI::App& app, std::function<void()>& action) {
  auto o = std::make_shared<QueryOptions>();
  CLI::App* command = app.add_subcommand("query", "Group, filter and measure samples");
  command->footer(
      "Examples:\n"
      "  norq-profile query run.json --kind compute --group-by operation --limit 10\n"
      "  norq-profile query run.json --meta shape=128x64 --kernel gemm-f16 --samples 5\n"
      "  norq-profile query run.json --metadata-key shape --format csv");
  command->add_option("FILE", o->file, "profile file (.json or .json.zst)")->required();
  o->group_by_option = command->add_option("--group-by", o->group_by,
                                           "kind, kernel, operation, phase, tile or metadata (default: kernel)")
                           ->transform(choice<GroupBy>({{"kind", GroupBy::Kind},
                                                        {"kernel", GroupBy::Kernel},
                                                        {"operation", GroupBy::Operation},
                                                        {"phase", GroupBy::Phase},
                                                        {"tile", GroupBy::Tile},
                                                        {"metadata", GroupBy::Metadata}},
                                                       "grouping"))
                           ->option_text("GROUP");
  o->metadata_key_option =
      command->add_option("--metadata-key", o->metadata_key, "group by the value of this metadata name")
          ->option_text("NAME");
  command
      ->add_option("--sort-by", o->sort_by,
                   "phase-cycles, work-cycles, maximum-cycles, samples or name (default: phase-cycles)")
      ->transform(choice<SortBy>({{"phase-cycles", SortBy::PhaseCycles},
                                 {"work-cycles", SortBy::WorkCycles},
                                 {"maximum-cycles", SortBy::MaximumCycles},
                                 {"samples", SortBy::Samples},
                                 {"name", SortBy::Name}},
                                "sort key"))
      ->option_text("KEY");
  o->kind_option = command->add_option("--kind", o->kind, "only steps of this kind: exchange, compute, "
                                                          "synchronization or idle")
                       ->transform(choice<StepKind>({{"exchange", StepKind::Exchange},
                                                      {"compute", StepKind::Compute},
                                                      {"synchronization", StepKind::Synchronization},
                                                      {"idle", StepKind::Idle}},
                                                     "step kind"))
                       ->option_text("KIND");
  o->kernel_option =
      command->add_option("--kernel", o->kernel, "only steps whose kernel is exactly TEXT ('' for none)")
          ->option_text("TEXT");
  o->operation_option =
      command->add_option("--operation-contains", o->operation_contains, "only steps whose operation contains TEXT")
          ->option_text("TEXT");
  command->add_option("--tile", o->tiles, "only these physical tiles (repeat or comma-separate)")
      ->delimiter(',')
      ->check(number(std::numeric_limits<std::uint32_t>::max(), "a physical tile number"))
      ->option_text("N[,N...]");
  command->add_option("--phase", o->phases, "only steps of these phase numbers (repeat or comma-separate)")
      ->delimiter(',')
      ->check(number(std::numeric_limits<std::uint32_t>::max(), "a phase number"))
      ->option_text("N[,N...]");
  command->add_option("--meta", o->meta, "only steps with this metadata name, and value if given (repeatable)")
      ->option_text("NAME[=VALUE]");
  o->at_option = command->add_option("--at", o->at, "only samples running at this offset on the time line")
                     ->check(number(std::numeric_limits<std::uint64_t>::max(), "a cycle offset"))
                     ->option_text("CYCLE");
  command->add_flag("--shared-clock", o->shared_clock,
                    "keep the period in which tiles are still entering (no crop)");
  o->limit_option = command->add_option("--limit", o->limit, "show at most N groups")
                        ->check(number(std::numeric_limits<std::uint32_t>::max(), "a count"))
                        ->option_text("N");
  command->add_option("--samples", o->samples, "also list the N longest matched samples")
      ->check(number(std::numeric_limits<std::uint32_t>::max(), "a count"))
      ->option_text("N");
  add_output_options(*command, o->output, "table");
  command->callback([o, &action] {
    action = [o] {
      const Query q = build_query(*o);
      Loaded loaded = load(o->file);
      QueryResult result{.profile = loaded.info, .query = q, .report = query(loaded.report, q)};
      emit(result, o->output);
    };
  });
}

// --- boundaries, exchange, phases, summary --------------------------------------------------------

struct FileOptions {
  std::string file;
  OutputOptions output;
  bool shared_clock = false;
  std::size_t top = 8;
};

CLI::App* add_file_command(CLI::App& app, const char* name, const char* description, FileOptions& o) {
  CLI::App* command = app.add_subcommand(name, description);
  command->add_option("FILE", o.file, "profile file (.json or .json.zst)")->required();
  return command;
}

void add_boundaries(CLI::App& app, std::function<void()>& action) {
  auto o = std::make_shared<FileOptions>();
  CLI::App* command = add_file_command(
      app, "boundaries", "Exchange boundaries: arrival spread, last tile, time after the last arrival", *o);
  command->footer("Offsets are on the shared clock: the entry period is never cropped here.");
  add_output_options(*command, o->output, "table");
  command->callback([o, &action] {
    action = [o] {
      Loaded loaded = load(o->file);
      BoundariesResult result{.profile = loaded.info,
                              .profile_span_cycles = profile_span(loaded.report, true),
                              .boundaries = exchange_boundaries(loaded.report)};
      emit(result, o->output);
    };
  });
}

void add_exchange(CLI::App& app, std::function<void()>& action) {
  auto o = std::make_shared<FileOptions>();
  CLI::App* command = add_file_command(
      app, "exchange", "Exchange activity: send, receive, partner-busy and idle cycles; scheduled boundaries", *o);
  add_output_options(*command, o->output, "table");
  command->callback([o, &action] {
    action = [o] {
      Loaded loaded = load(o->file);
      ExchangeResult result{.profile = loaded.info,
                            .profile_span_cycles = profile_span(loaded.report, true),
                            .summary = exchange_activity_summary(loaded.report)};
      emit(result, o->output);
    };
  });
}

void add_phases(CLI::App& app, std::function<void()>& action) {
  auto o = std::make_shared<FileOptions>();
  CLI::App* command =
      add_file_command(app, "phases", "Compute work between exchange boundaries, occupancy and the late tile", *o);
  command->add_flag("--shared-clock", o->shared_clock, "keep the period in which tiles are still entering (no crop)");
  add_output_options(*command, o->output, "table");
  command->callback([o, &action] {
    action = [o] {
      Loaded loaded = load(o->file);
      PhasesResult result{.profile = loaded.info,
                          .shared_clock = o->shared_clock,
                          .profile_span_cycles = profile_span(loaded.report, o->shared_clock),
                          .phases = phases::phase_work(loaded.report, o->shared_clock)};
      emit(result, o->output);
    };
  });
}

SummaryResult summarise(const Loaded& loaded, bool shared_clock, std::size_t top) {
  const ProfileReport& report = loaded.report;
  SummaryResult result;
  result.profile = loaded.info;
  result.shared_clock = shared_clock;
  result.top = top;
  Query kernels;
  kernels.group_by = GroupBy::Kernel;
  kernels.shared_clock = shared_clock;
  kernels.limit = top;
  result.kernels = query(report, kernels);
  result.exchange = exchange_activity_summary(report);
  result.uncropped_span_cycles = shared_clock ? result.kernels.profile_span_cycles : profile_span(report, true);

  result.boundaries = exchange_boundaries(report);
  result.boundary_count = result.boundaries.size();
  std::stable_sort(result.boundaries.begin(), result.boundaries.end(),
                   [](const ExchangeBoundary& a, const ExchangeBoundary& b) {
                     return a.arrival_spread_cycles > b.arrival_spread_cycles;
                   });
  if (result.boundaries.size() > top) result.boundaries.resize(top);

  result.phases = phases::phase_work(report, shared_clock);
  result.phase_count = result.phases.size();
  std::stable_sort(result.phases.begin(), result.phases.end(),
                   [](const phases::PhaseWork& a, const phases::PhaseWork& b) { return a.work_cycles > b.work_cycles; });
  if (result.phases.size() > top) result.phases.resize(top);
  return result;
}

void add_summary(CLI::App& app, std::function<void()>& action) {
  auto o = std::make_shared<FileOptions>();
  CLI::App* command = add_file_command(
      app, "summary", "One screen to read first: top kernels, exchange totals, late tiles, busiest phases", *o);
  command->add_flag("--shared-clock", o->shared_clock, "keep the period in which tiles are still entering (no crop)");
  command->add_option("--top", o->top, "rows per section (default: 8)")
      ->check(CLI::Range(std::size_t{1}, std::size_t{1000000}))
      ->option_text("N");
  add_output_options(*command, o->output, "table");
  command->callback([o, &action] {
    action = [o] { emit(summarise(load(o->file), o->shared_clock, o->top), o->output); };
  });
}

// --- calibrate ---------------------------------------------------------------------------------

struct CalibrateOptions {
  std::vector<std::string> files;
  std::string target;
  std::string build_id;
  OutputOptions output{.format = Format::Json, .output = {}};
};

void add_calibrate(CLI::App& app, std::function<void()>& action) {
  auto o = std::make_shared<CalibrateOptions>();
  CLI::App* command =
      app.add_subcommand("calibrate", "Cycles per kernel call over profiles of one build: a calibration database");
  command->footer(
      "The default output is the calibration database as JSON (schema_version 1); median and p95\n"
      "are lower nearest-rank percentiles, without interpolation.\n"
      "Example:\n"
      "  norq-profile calibrate run1.json run2.json --target norq21 --build-id 4f2a9c -o calibration.json");
  command->add_option("FILE", o->files, "profile files of one build, with equal clock frequencies")->required();
  command->add_option("--target", o->target, "the target the profiles ran on")->required()->option_text("TEXT");
  command->add_option("--build-id", o->build_id, "the build the profiles came from")->required()->option_text("TEXT");
  add_output_options(*command, o->output, "json");
  command->callback([o, &action] {
    action = [o] {
      std::vector<ProfileReport> reports;
      reports.reserve(o->files.size());
      for (const std::string& file : o->files) reports.push_back(load(file).report);
      CalibrationResult result{.files = o->files, .database = {}};
      try {
        result.database = calibrate_profiles(reports, o->target, o->build_id);
      } catch (const CalibrationError& error) {
        std::string detail;
        for (std::size_t i = 1; i < reports.size(); ++i) {
          if (reports[i].clock_hz != reports[0].clock_hz) {
            detail = fmt::format(" ({}: {} Hz, {}: {} Hz)", o->files[0], reports[0].clock_hz, o->files[i],
                                 reports[i].clock_hz);
            break;
          }
        }
        throw InputError(error.what() + detail);
      }
      emit(result, o->output);
    };
  });
}

// --- report and trace -------------------------------------------------------------------------

struct PageOptions {
  std::string file;
  std::string output;
  bool shared_clock = false;
};

// Both write one file that is only useful whole, so -o is required rather than standard output.
CLI::App* add_page_command(CLI::App& app, const char* name, const char* description, PageOptions& o) {
  CLI::App* command = app.add_subcommand(name, description);
  command->add_option("FILE", o.file, "profile file (.json or .json.zst)")->required();
  command->add_option("-o,--output", o.output, "the file to write; replaced only once complete")
      ->required()
      ->option_text("FILE");
  return command;
}

void add_report(CLI::App& app, std::function<void()>& action) {
  auto o = std::make_shared<PageOptions>();
  CLI::App* command = add_page_command(
      app, "report", "Write a self-contained HTML page: phase timeline, kernels, exchange roles, tables", *o);
  command->add_flag("--shared-clock", o->shared_clock, "keep the period in which tiles are still entering (no crop)");
  command->footer("The page needs no network: open it in any browser.\nExample:\n  norq-profile report profile.json -o report.html");
  command->callback([o, &action] {
    action = [o] {
      const Loaded loaded = load(o->file);
      write_output(report::render_html_report(loaded.report, {.shared_clock = o->shared_clock, .title = o->file}),
                   o->output);
    };
  });
}

void add_trace(CLI::App& app, std::function<void()>& action) {
  auto o = std::make_shared<PageOptions>();
  CLI::App* command = add_page_command(
      app, "trace", "Export the profile as Chrome Trace Event JSON: one track per tile, one slice per sample", *o);
  command->footer(
      "Times are microseconds on the shared clock. Open the file in Perfetto's UI, chrome://tracing or speedscope.\n"
      "Example:\n  norq-profile trace profile.json -o trace.json");
  command->callback([o, &action] {
    action = [o] {
      const Loaded loaded = load(o->file);
      write_output(report::chrome_trace_json(loaded.report), o->output);
    };
  });
}

// --- generate ----------------------------------------------------------------------------------

struct GenerateCommandOptions {
  generate::GenerateOptions generate;
  std::string output;
};

constexpr std::uint64_t kMaxGeneratedSamples = 50'000'000;

void add_generate(CLI::App& app, std::function<void()>& action) {
  auto o = std::make_shared<GenerateCommandOptions>();
  CLI::App* command = app.add_subcommand("generate", "Write a synthetic but realistic profile for demos and tests");
  command->footer(
      "The same options always give the same file. A .zst suffix writes it zstd-compressed.\n"
      "Example:\n"
      "  norq-profile generate --tiles 1472 --steps 2000 --seed 7 -o big.json.zst");
  command->add_option("--tiles", o->generate.tiles, "number of tiles (default: 16)")
      ->check(CLI::Range(1u, 1'000'000u))
      ->option_text("N");
  command->add_option("--steps", o->generate.steps, "samples per tile (default: 200)")
      ->check(CLI::Range(1u, 1'000'000u))
      ->option_text("M");
  command->add_option("--seed", o->generate.seed, "random seed (default: 1)")
      ->check(number(std::numeric_limits<std::uint64_t>::max(), "a seed"))
      ->option_text("S");
  command->add_option("--clock-hz", o->generate.clock_hz, "counter frequency (default: 1850000000)")
      ->check(CLI::Range(std::uint64_t{1}, std::numeric_limits<std::uint64_t>::max()))
      ->option_text("HZ");
  command->add_option("-o,--output", o->output, "the profile file to write (.json or .json.zst)")
      ->required()
      ->option_text("FILE");
  command->callback([o, &action] {
    action = [o] {
      const std::uint64_t samples = std::uint64_t{o->generate.tiles} * o->generate.steps;
      if (samples > kMaxGeneratedSamples) {
        throw UsageError(fmt::format("--tiles x --steps: {} samples is more than the {} a generated profile may hold",
                                     group_digits(samples), group_digits(kMaxGeneratedSamples)));
      }
      const ProfileReport report = generate::generate_profile(o->generate);
      try {
        io::save_profile(report, o->output);
      } catch (const std::exception& error) {
        throw OutputError(error.what());
      }
    };
  });
}

std::string command_path(const CLI::App& app) {
  std::string path = "norq-profile";
  const CLI::App* current = &app;
  while (true) {
    const auto chosen = current->get_subcommands();
    if (chosen.empty()) break;
    current = chosen.front();
    path += " " + current->get_name();
  }
  return path;
}

}  // namespace

int run(int argc, char** argv) {
  CLI::App app{"Analyse cycle profiles of many-tile, bulk-synchronous processors.", "norq-profile"};
  app.set_version_flag("--version", std::string("norq-profile ") + NORQ_PROFILE_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Run 'norq-profile COMMAND --help' for the options of a command.\n"
      "Exit status: 0 on success, 1 for a usage error, 2 when a file cannot be read, analysed or written.");
  std::function<void()> action;
  add_summary(app, action);
  add_query(app, action);
  add_boundaries(app, action);
  add_exchange(app, action);
  add_phases(app, action);
  add_calibrate(app, action);
  add_report(app, action);
  add_trace(app, action);
  add_generate(app, action);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& error) {
    const std::string where = command_path(app);
    std::fprintf(stderr, "%s: %s (see '%s --help')\n", where.c_str(), error.what(), where.c_str());
    return kExitUsage;
  }

  const std::string where = command_path(app);
  try {
    action();
    return 0;
  } catch (const UsageError& error) {
    std::fprintf(stderr, "%s: %s (see '%s --help')\n", where.c_str(), error.what(), where.c_str());
    return kExitUsage;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", where.c_str());
    return kExitInput;
  } catch (const std::exception& error) {
    // Format errors, unreadable files, failed writes: the message names the file and the place.
    std::fprintf(stderr, "%s: %s\n", where.c_str(), error.what());
    return kExitInput;
  }
}

}  // namespace norq_cli
