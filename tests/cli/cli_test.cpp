#include <norq_profile_generate/generate.hpp>
#include <norq_profile_io/profile_file.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const fs::path kSource = NORQ_SOURCE_DIR;
const std::string kExample = "examples/example-profile.json";

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

class Scratch : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           (std::string("norq-cli-") + info->test_suite_name() + "-" + info->name() + "-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path path(const std::string& name) const { return dir_ / name; }

  // Runs the binary from the source folder, so that outputs name files as the docs show them.
  static Outcome run(const std::vector<std::string>& args) {
    static int counter = 0;
    const fs::path out = fs::temp_directory_path() / ("norq-cli-out-" + std::to_string(::getpid()) + "-" +
                                                      std::to_string(counter));
    const fs::path err = fs::temp_directory_path() / ("norq-cli-err-" + std::to_string(::getpid()) + "-" +
                                                      std::to_string(counter++));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, kSource.c_str());
    std::vector<std::string> argv_text{NORQ_CLI};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argv_text) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Outcome result;
    if (posix_spawn(&pid, NORQ_CLI, &actions, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = read_file(out);
    result.err = read_file(err);
    fs::remove(out);
    fs::remove(err);
    return result;
  }

  fs::path dir_;
};

std::size_t lines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

// --- golden outputs ----------------------------------------------------------------------------

struct GoldenCase {
  std::string name;
  std::vector<std::string> args;
};

class Golden : public Scratch, public testing::WithParamInterface<GoldenCase> {};

TEST_P(Golden, MatchesTheCommittedOutput) {
  const GoldenCase& c = GetParam();
  for (const std::string format : {"table", "json", "csv"}) {
    SCOPED_TRACE(format);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--format", format});
    const Outcome result = run(args);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const fs::path golden = kSource / "tests/cli/golden" / (c.name + "." + format);
    if (std::getenv("NORQ_UPDATE_GOLDEN") != nullptr) {
      write_file(golden, result.out);
      continue;
    }
    ASSERT_TRUE(fs::exists(golden)) << golden << " is missing; see tests/cli/README.md";
    EXPECT_EQ(result.out, read_file(golden)) << "output differs from " << golden;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Subcommands, Golden,
    testing::Values(
        GoldenCase{"summary", {"summary", kExample}},
        GoldenCase{"summary-shared-clock", {"summary", kExample, "--shared-clock", "--top", "3"}},
        GoldenCase{"query", {"query", kExample}},
        GoldenCase{"query-filtered",
                   {"query", kExample, "--kind", "compute", "--group-by", "operation", "--sort-by", "work-cycles",
                    "--tile", "1,3", "--tile", "5", "--limit", "4", "--samples", "3"}},
        GoldenCase{"query-metadata",
                   {"query", kExample, "--metadata-key", "shape", "--meta", "kernelSpec=Gemm", "--shared-clock"}},
        GoldenCase{"boundaries", {"boundaries", kExample}},
        GoldenCase{"exchange", {"exchange", kExample}},
        GoldenCase{"phases", {"phases", kExample}},
        GoldenCase{"calibrate", {"calibrate", kExample, "--target", "norq21", "--build-id", "example"}}),
    [](const testing::TestParamInfo<GoldenCase>& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

// --- exit statuses and error lines ---------------------------------------------------------------

struct ErrorCase {
  std::vector<std::string> args;
  int status;
  std::string stderr_start;
};

class Errors : public Scratch {};

TEST_F(Errors, ExitWithTheRightStatusAndOneLineNamingWhatAndWhere) {
  write_file(path("broken.json"), "{\"format\": \"norq-profile\", \"version\": 1, \"clock_hz\": 5, \"tiles\": [}\n");
  write_file(path("empty.json"), "");
  const std::string broken = path("broken.json").string();
  const std::vector<ErrorCase> cases{
      {{}, 1, "norq-profile: A subcommand is required"},
      {{"frobnicate"}, 1, "norq-profile: "},
      {{"summary"}, 1, "norq-profile summary: FILE is required"},
      {{"query", kExample, "--group-by", "colour"}, 1,
       "norq-profile query: --group-by: unknown grouping \"colour\" (expected kind, kernel, operation, phase, tile "
       "or metadata)"},
      {{"query", kExample, "--tile", "3,x"}, 1,
       "norq-profile query: --tile: expected a physical tile number from 0 to 4294967295, got \"x\""},
      {{"query", kExample, "--group-by", "metadata"}, 1,
       "norq-profile query: --group-by metadata needs --metadata-key NAME"},
      {{"query", kExample, "--meta", "=1"}, 1, "norq-profile query: --meta: expected NAME or NAME=VALUE"},
      {{"phases", kExample, "--format", "yaml"}, 1,
       "norq-profile phases: --format: unknown format \"yaml\" (expected table, json or csv)"},
      {{"calibrate", kExample, "--target", "t"}, 1, "norq-profile calibrate: --build-id is required"},
      {{"generate", "--tiles", "0", "-o", path("g.json").string()}, 1, "norq-profile generate: --tiles: "},
      {{"generate", "--tiles", "100000", "--steps", "1000", "-o", path("g.json").string()}, 1,
       "norq-profile generate: --tiles x --steps: 100,000,000 samples is more than"},
      {{"summary", "no-such-file.json"}, 2, "norq-profile summary: no-such-file.json: "},
      {{"exchange", broken}, 2, "norq-profile exchange: " + broken + ":1:"},
      {{"boundaries", path("empty.json").string()}, 2, "norq-profile boundaries: " + path("empty.json").string()},
      {{"summary", kExample, "-o", path("no/such/folder/out.txt").string()}, 2,
       "norq-profile summary: " + path("no/such/folder/out.txt").string() + ": cannot create"},
  };
  for (const ErrorCase& c : cases) {
    std::string joined;
    for (const std::string& arg : c.args) joined += arg + " ";
    SCOPED_TRACE(joined);
    const Outcome result = run(c.args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err.rfind(c.stderr_start, 0), 0u) << result.err;
    EXPECT_EQ(lines(result.err), 1u) << result.err;
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(Errors, CalibrationFailuresPrintTheirMessage) {
  ASSERT_EQ(run({"generate", "--tiles", "2", "--steps", "20", "--clock-hz", "1000000000", "-o", path("a.json").string()})
                .status,
            0);
  ASSERT_EQ(run({"generate", "--tiles", "2", "--steps", "20", "--clock-hz", "1500000000", "-o", path("b.json").string()})
                .status,
            0);
  const Outcome result = run({"calibrate", path("a.json").string(), path("b.json").string(), "--target", "t",
                          "--build-id", "b", "-o", path("db.json").string()});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err.rfind("norq-profile calibrate: profile clock frequencies differ (", 0), 0u) << result.err;
  EXPECT_FALSE(fs::exists(path("db.json")));
}

TEST_F(Errors, HelpIsThereForEveryCommand) {
  for (const std::string command : {"", "summary", "query", "boundaries", "exchange", "phases", "calibrate",
                                    "report", "trace", "generate"}) {
    SCOPED_TRACE(command);
    const Outcome result = command.empty() ? run({"--help"}) : run({command, "--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("Usage:"), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "");
  }
  EXPECT_NE(run({"query", "--help"}).out.find("--operation-contains"), std::string::npos);
}

// --- output files and the generator ------------------------------------------------------------

class Output : public Scratch {};

TEST_F(Output, FileGetsExactlyWhatStandardOutputWouldShow) {
  const Outcome printed = run({"phases", kExample, "--format", "csv"});
  ASSERT_EQ(printed.status, 0);
  const Outcome written = run({"phases", kExample, "--format", "csv", "-o", path("phases.csv").string()});
  ASSERT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(written.out, "");
  EXPECT_EQ(read_file(path("phases.csv")), printed.out);
  // Nothing left behind beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(Output, AFailedRunLeavesAnExistingOutputAlone) {
  write_file(path("result.json"), "previous");
  const Outcome result = run({"summary", "no-such-file.json", "-o", path("result.json").string()});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(read_file(path("result.json")), "previous");
}

TEST_F(Output, GenerateWritesTheGeneratorsProfile) {
  for (const std::string name : {"g.json", "g.json.zst"}) {
    SCOPED_TRACE(name);
    const Outcome result = run({"generate", "--tiles", "3", "--steps", "40", "--seed", "9", "--clock-hz", "1000",
                            "-o", path(name).string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(norq_profile::io::load_profile(path(name)),
              norq_profile::generate::generate_profile({.tiles = 3, .steps = 40, .seed = 9, .clock_hz = 1000}));
  }
  ASSERT_EQ(run({"generate", "--tiles", "3", "--steps", "40", "--seed", "9", "--clock-hz", "1000", "-o",
                 path("again.json").string()})
                .status,
            0);
  EXPECT_EQ(read_file(path("again.json")), read_file(path("g.json")));
}

TEST_F(Output, ReportAndTraceWriteWholeFilesOnly) {
  const Outcome report = run({"report", kExample, "--shared-clock", "-o", path("report.html").string()});
  ASSERT_EQ(report.status, 0) << report.err;
  EXPECT_EQ(report.out, "");
  const std::string page = read_file(path("report.html"));
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u) << page.substr(0, 40);
  EXPECT_NE(page.find("</html>"), std::string::npos);

  const Outcome trace = run({"trace", kExample, "-o", path("trace.json").string()});
  ASSERT_EQ(trace.status, 0) << trace.err;
  const std::string json = read_file(path("trace.json"));
  EXPECT_NE(json.find("\"traceEvents\""), std::string::npos);
  // One complete slice per sample of the example (8 tiles of 90 samples).
  std::size_t slices = 0;
  for (std::size_t at = json.find("\"ph\":\"X\""); at != std::string::npos; at = json.find("\"ph\":\"X\"", at + 1)) {
    ++slices;
  }
  EXPECT_EQ(slices, 720u);

  // There is no standard-output form of either, and a bad file leaves nothing behind.
  EXPECT_EQ(run({"trace", kExample}).status, 1);
  EXPECT_EQ(run({"report", "no-such-file.json", "-o", path("other.html").string()}).status, 2);
  EXPECT_FALSE(fs::exists(path("other.html")));
}

// The committed example is what the documented command generates.
TEST_F(Output, ExampleProfileIsReproducible) {
  ASSERT_EQ(run({"generate", "--tiles", "8", "--steps", "90", "--seed", "1", "-o", path("example.json").string()})
                .status,
            0);
  EXPECT_EQ(read_file(path("example.json")), read_file(kSource / kExample));
}

}  // namespace
