#include <norq_profile_io/profile_file.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include "builders.hpp"

namespace {

using namespace norq_profile;
using norq_profile::io::load_profile;
using norq_profile::io::parse_profile;
using norq_profile::io::parse_profile_bytes;
using norq_profile::io::profile_to_json;
using norq_profile::io::ProfileFormatError;
using norq_profile::io::save_profile;

constexpr std::uint32_t max32 = std::numeric_limits<std::uint32_t>::max();

// A fresh folder per test, removed afterwards.
class ProfileFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = std::filesystem::temp_directory_path() /
              (std::string("norq_io_") + info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::filesystem::path file(const std::string& name) const { return folder_ / name; }

  static void write_bytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string read_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::vector<std::string> folder_entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::filesystem::path folder_;
};

std::string all_control_characters() {
  std::string text;
  for (int c = 0; c < 0x20; ++c) text += static_cast<char>(c);
  text += '\x7f';
  return text;
}

// Every field at its limits, and texts that a writer could get wrong.
ProfileReport extreme_profile() {
  const std::vector<std::string> texts = {
      "",
      "\"quoted\" and \\back\\slashed\\",
      all_control_characters(),
      "caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf \xe2\x80\xa8",
      "/ \\u0041 not an escape",
  };
  ProfileReport report{.clock_hz = std::numeric_limits<std::uint64_t>::max()};
  report.tiles.push_back({.physical_tile = max32});
  report.tiles.push_back({.physical_tile = 0});  // a tile without samples
  TileProfile& tile = report.tiles.front();
  const StepKind kinds[] = {StepKind::Exchange, StepKind::Compute, StepKind::Synchronization,
                            StepKind::Idle};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::uint32_t edge = i % 2 == 0 ? max32 : 0;
    CycleSample sample{.step = {.local_index = edge,
                                .phase = max32 - edge,
                                .epoch = edge,
                                .operation = texts[i],
                                .kind = kinds[i % 4],
                                .kernel = texts[(i + 1) % texts.size()],
                                .metadata = {{.name = texts[i], .value = texts[(i + 2) % texts.size()]},
                                             {.name = texts[i], .value = ""}},
                                .exchange_event_cycles = edge},
                       .start_cycle = edge,
                       .end_cycle = max32 - edge};
    sample.step.exchange_activities = {
        {.fanout = 65535, .paired = true, .kind = ExchangeActivityKind::PartnerBusy,
         .start_cycle = max32, .end_cycle = 0},
        {.fanout = 0, .paired = false, .kind = ExchangeActivityKind::Send, .start_cycle = 0,
         .end_cycle = max32},
        {.kind = ExchangeActivityKind::Receive}};
    tile.samples.push_back(sample);
  }
  return report;
}

TEST_F(ProfileFileTest, ExtremesRoundTripInMemoryAndThroughJsonAndZstdFiles) {
  const ProfileReport report = extreme_profile();
  const std::string json = profile_to_json(report);
  EXPECT_EQ(parse_profile(json, "extremes.json"), report);
  EXPECT_EQ(profile_to_json(report), json) << "the same records must give the same bytes";

  for (const char* name : {"extremes.json", "extremes.json.zst"}) {
    SCOPED_TRACE(name);
    save_profile(report, file(name));
    EXPECT_EQ(load_profile(file(name)), report);
  }
  EXPECT_EQ(read_bytes(file("extremes.json")), json);
  EXPECT_LT(std::filesystem::file_size(file("extremes.json.zst")), json.size());
  // Nothing but the two files: no temporary left behind.
  EXPECT_EQ(folder_entries(), (std::vector<std::string>{"extremes.json", "extremes.json.zst"}));
}

TEST_F(ProfileFileTest, EmptyProfilesRoundTrip) {
  for (const ProfileReport& report :
       {ProfileReport{}, ProfileReport{.clock_hz = 1, .tiles = {norq_test::tile(4, {})}}}) {
    EXPECT_EQ(parse_profile(profile_to_json(report), "empty.json"), report);
    save_profile(report, file("empty.zst"));
    EXPECT_EQ(load_profile(file("empty.zst")), report);
  }
}

// The layout users see: format and version first, readable kind names, one sample per line.
TEST(ProfileFileFormat, WritesTheDocumentedLayout) {
  ProfileReport report{.clock_hz = 1330000000,
                       .tiles = {norq_test::tile(3, {norq_test::plain(2, StepKind::Compute, "k", 10, 5)})}};
  report.tiles[0].samples[0].step.exchange_activities = {
      {.fanout = 1, .paired = true, .kind = ExchangeActivityKind::PartnerBusy, .start_cycle = 1,
       .end_cycle = 2}};
  EXPECT_EQ(profile_to_json(report),
            "{\"format\":\"norq-profile\",\"version\":1,\"clock_hz\":1330000000,\"tiles\":[\n"
            "{\"physical_tile\":3,\"samples\":[\n"
            "{\"step\":{\"local_index\":2,\"phase\":2,\"epoch\":0,\"operation\":\"operation 2\","
            "\"kind\":\"compute\",\"kernel\":\"k\",\"metadata\":[{\"name\":\"block\",\"value\":\"2\"}],"
            "\"exchange_activities\":[{\"fanout\":1,\"paired\":true,\"kind\":\"partner_busy\","
            "\"start_cycle\":1,\"end_cycle\":2}],\"exchange_event_cycles\":0},"
            "\"start_cycle\":10,\"end_cycle\":5}]}]}\n");
}

// Readers accept any field order after format and version, any whitespace and escaped keys.
TEST(ProfileFileFormat, ReadsFieldsInAnyOrderWithEscapes) {
  const ProfileReport report = parse_profile(
      R"({ "format" : "norq-profile" , "version" : 1 , "tiles" : [ { "samples" : [ { "end_cycle" : 9,
          "start_cycle" : 4, "step" : { "exchange_event_cycles" : 0, "exchange_activities" : [],
          "metadata" : [ { "value" : "\u00e9\ud83d\ude00\/", "name" : "n" } ], "kern\u0065l" : "",
          "kind" : "idle", "operation" : "a\"b", "epoch" : 2, "phase" : 1, "local_index" : 0 } } ],
          "physical_tile" : 5 } ], "clock_hz" : 100 })",
      "any-order.json");
  const ProfileReport expected{
      .clock_hz = 100,
      .tiles = {{.physical_tile = 5,
                 .samples = {{.step = {.phase = 1,
                                       .epoch = 2,
                                       .operation = "a\"b",
                                       .kind = StepKind::Idle,
                                       .metadata = {{.name = "n", .value = "\xc3\xa9\xf0\x9f\x98\x80/"}}},
                              .start_cycle = 4,
                              .end_cycle = 9}}}}};
  EXPECT_EQ(report, expected);
}

// Randomly built profiles, fixed seed: whatever the records, loading what was written gives them back.
TEST_F(ProfileFileTest, RandomProfilesRoundTrip) {
  std::mt19937_64 random(20240607);
  const std::vector<std::string> pieces = {"a", "kernel", " ", "\"", "\\", "\n", "\t", "\x01",
                                           "\x1f", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80",
                                           "/", "{", "]", ":", ","};
  auto pick = [&](std::uint64_t bound) { return random() % bound; };
  auto u32 = [&]() -> std::uint32_t {
    switch (pick(4)) {
      case 0: return 0;
      case 1: return max32;
      default: return static_cast<std::uint32_t>(random());
    }
  };
  auto text = [&] {
    std::string out;
    for (std::uint64_t n = pick(6); n > 0; --n) out += pieces[pick(pieces.size())];
    return out;
  };
  for (int round = 0; round < 60; ++round) {
    ProfileReport report{.clock_hz = pick(2) == 0 ? random() : pick(2'000'000'000)};
    for (std::uint64_t t = pick(5); t > 0; --t) {
      TileProfile tile{.physical_tile = u32()};
      for (std::uint64_t s = pick(8); s > 0; --s) {
        CycleSample sample{.step = {.local_index = u32(),
                                    .phase = u32(),
                                    .epoch = u32(),
                                    .operation = text(),
                                    .kind = static_cast<StepKind>(pick(4)),
                                    .kernel = text(),
                                    .exchange_event_cycles = u32()},
                           .start_cycle = u32(),
                           .end_cycle = u32()};
        for (std::uint64_t m = pick(4); m > 0; --m) sample.step.metadata.push_back({text(), text()});
        for (std::uint64_t a = pick(4); a > 0; --a) {
          sample.step.exchange_activities.push_back(
              {.fanout = static_cast<std::uint16_t>(random()),
               .paired = pick(2) == 1,
               .kind = static_cast<ExchangeActivityKind>(pick(3)),
               .start_cycle = u32(),
               .end_cycle = u32()});
        }
        tile.samples.push_back(std::move(sample));
      }
      report.tiles.push_back(std::move(tile));
    }
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(parse_profile(profile_to_json(report), "random.json"), report);
    if (round % 10 == 0) {
      save_profile(report, file("random.json.zst"));
      ASSERT_EQ(load_profile(file("random.json.zst")), report);
    }
  }
}

// One valid document, spread over lines so that line and column numbers mean something.
const std::string valid_document =
    R"({"format": "norq-profile", "version": 1, "clock_hz": 1000, "tiles": [
{"physical_tile": 7, "samples": [
{"step": {"local_index": 0, "phase": 1, "epoch": 0, "operation": "op", "kind": "compute", "kernel": "k", "metadata": [{"name": "a", "value": "b"}], "exchange_activities": [{"fanout": 2, "paired": true, "kind": "send", "start_cycle": 0, "end_cycle": 5}], "exchange_event_cycles": 8}, "start_cycle": 10, "end_cycle": 20}
]}
]}
)";

std::string replaced(std::string_view from, std::string_view to) {
  std::string document = valid_document;
  const std::size_t at = document.find(from);
  if (at == std::string::npos) ADD_FAILURE() << "fixture lacks " << from;
  document.replace(at, from.size(), to);
  return document;
}

struct Malformed {
  const char* fault;
  std::string document;
  std::string message;
};

TEST(ProfileFileErrors, EachMalformedDocumentGivesOnePreciseMessage) {
  ASSERT_NO_THROW(parse_profile(valid_document, "p.json"));
  const std::string truncated_mid_string = valid_document.substr(0, valid_document.find("op\"") + 1);
  const std::string truncated_between_tiles = valid_document.substr(0, valid_document.size() - 3);
  const std::vector<Malformed> cases = {
      {"empty", "", "p.json:1:1: the file is empty (expected a norq-profile JSON document)"},
      {"only whitespace", " \n\t", "p.json:1:1: the file is empty (expected a norq-profile JSON document)"},
      {"not an object", "[]", "p.json:1:1: expected a JSON object with \"format\": \"norq-profile\", got an array"},
      {"truncated inside a string", truncated_mid_string,
       "p.json:3:66: invalid JSON: string without its closing quote (is the file truncated?)"},
      {"truncated between tiles", truncated_between_tiles,
       "p.json:5:1: tiles[1]: unexpected end of file (expected the rest of the document; is the file truncated?)"},
      {"trailing text", valid_document + "x", "p.json:6:1: unexpected content after the end of the document"},
      {"trailing document", valid_document + "{}", "p.json:6:1: unexpected content after the end of the document"},
      {"mismatched bracket", replaced("]}\n]}", "]}\n]]"), "p.json:5:2: invalid JSON: unexpected ']' (expected '}' or more content)"},
      {"missing comma", replaced("\"a\", \"value\"", "\"a\" \"value\""),
       "p.json:3:132: tiles[0].samples[0].step.metadata[0]: invalid JSON: unexpected '\"' (a comma, colon, bracket, brace or quote is missing or extra)"},
      {"extra comma", replaced("\"end_cycle\": 20}", "\"end_cycle\": 20,}"),
       "p.json:3:319: tiles[0].samples[0]: invalid JSON: unexpected '}' (a comma, colon, bracket, brace or quote is missing or extra)"},
      {"invalid literal", replaced("\"paired\": true", "\"paired\": tru"),
       "p.json:3:197: tiles[0].samples[0].step.exchange_activities[0].paired: invalid JSON literal (expected true, false or null)"},
      {"invalid UTF-8", replaced("\"op\"", "\"o\xff\""), "p.json:3:68: invalid UTF-8 (byte 0xFF)"},
      {"overlong UTF-8", replaced("\"op\"", "\"o\xc0\xaf\""), "p.json:3:68: invalid UTF-8 (byte 0xC0)"},
      {"raw control character", replaced("\"op\"", "\"o\x01\""),
       "p.json:3:68: invalid JSON: control character U+0001 inside a string (expected it escaped, as \\u0001)"},
      {"bad escape", replaced("\"op\"", "\"o\\q\""),
       "p.json:3:66: tiles[0].samples[0].step.operation: invalid JSON string (bad escape sequence or unescaped control character)"},
      {"lone surrogate", replaced("\"op\"", "\"\\ud800\""),
       "p.json:3:66: tiles[0].samples[0].step.operation: invalid JSON string (bad escape sequence or unescaped control character)"},
      {"text is a number", replaced("\"op\"", "7"), "p.json:3:66: tiles[0].samples[0].step.operation: expected a string, got a number"},
      {"samples is an object", replaced("\"samples\": [", "\"samples\": {"),
       "p.json:2:33: tiles[0].samples: expected an array of samples, got an object"},
      {"tile is null", replaced("{\"physical_tile\"", "null, {\"physical_tile\""),
       "p.json:2:1: tiles[0]: expected a tile object, got null"},
      {"paired is a number", replaced("\"paired\": true", "\"paired\": 1"),
       "p.json:3:197: tiles[0].samples[0].step.exchange_activities[0].paired: expected true or false, got a number"},
      {"integer is a boolean", replaced("\"phase\": 1", "\"phase\": true"),
       "p.json:3:38: tiles[0].samples[0].step.phase: expected an integer from 0 to 4294967295, got true"},
      {"negative", replaced("\"phase\": 1", "\"phase\": -1"),
       "p.json:3:38: tiles[0].samples[0].step.phase: expected an integer from 0 to 4294967295, got -1"},
      {"fractional", replaced("\"phase\": 1", "\"phase\": 1.5"),
       "p.json:3:38: tiles[0].samples[0].step.phase: expected an integer from 0 to 4294967295, got 1.5"},
      {"exponent", replaced("\"phase\": 1", "\"phase\": 1e3"),
       "p.json:3:38: tiles[0].samples[0].step.phase: expected an integer from 0 to 4294967295, got 1e3"},
      {"above 32 bits", replaced("\"start_cycle\": 10", "\"start_cycle\": 4294967296"),
       "p.json:3:299: tiles[0].samples[0].start_cycle: expected an integer from 0 to 4294967295, got 4294967296"},
      {"above 64 bits", replaced("\"clock_hz\": 1000", "\"clock_hz\": 18446744073709551616"),
       "p.json:1:54: clock_hz: expected an integer from 0 to 18446744073709551615, got 18446744073709551616"},
      {"fanout above 16 bits", replaced("\"fanout\": 2", "\"fanout\": 65536"),
       "p.json:3:184: tiles[0].samples[0].step.exchange_activities[0].fanout: expected an integer from 0 to 65535, got 65536"},
      {"unknown step kind", replaced("\"compute\"", "\"computee\""),
       "p.json:3:80: tiles[0].samples[0].step.kind: unknown step kind \"computee\" (expected exchange, compute, synchronization or idle)"},
      {"kind in the wrong case", replaced("\"compute\"", "\"Compute\""),
       "p.json:3:80: tiles[0].samples[0].step.kind: unknown step kind \"Compute\" (expected exchange, compute, synchronization or idle)"},
      {"unknown activity kind", replaced("\"send\"", "\"sent\""),
       "p.json:3:211: tiles[0].samples[0].step.exchange_activities[0].kind: unknown exchange activity kind \"sent\" (expected send, receive or partner_busy)"},
      {"missing field", replaced("\"phase\": 1, ", ""),
       "p.json:3:10: tiles[0].samples[0].step.phase: required field is missing"},
      {"duplicate field", replaced("\"phase\": 1", "\"phase\": 1, \"phase\": 2"),
       "p.json:3:41: tiles[0].samples[0].step.phase: duplicate field"},
      {"unknown field", replaced("\"phase\": 1", "\"phaze\": 1"),
       "p.json:3:29: tiles[0].samples[0].step.phaze: unknown field (expected local_index, phase, epoch, operation, kind, kernel, metadata, exchange_activities or exchange_event_cycles)"},
      {"unknown field needing quotes", replaced("{\"name\"", "{\"na me\\n\""),
       "p.json:3:120: tiles[0].samples[0].step.metadata[0].\"na me\\n\": unknown field (expected name or value)"},
      {"wrong format name", replaced("\"norq-profile\"", "\"other\""),
       "p.json:1:12: format: expected \"norq-profile\", got \"other\" (not a norq-profile document)"},
      {"unsupported version", replaced("\"version\": 1", "\"version\": 2"),
       "p.json:1:39: version: unsupported version 2 (expected 1)"},
      {"format not first", replaced("\"format\": \"norq-profile\", ", ""),
       "p.json:1:1: format: required first field is missing (expected \"format\": \"norq-profile\" at the top of the document)"},
      {"version not second", replaced("\"version\": 1, ", ""),
       "p.json:1:1: version: required second field is missing (expected \"version\": 1 after \"format\")"},
      {"missing clock", replaced("\"clock_hz\": 1000, ", ""), "p.json:1:1: clock_hz: required field is missing"},
      {"long unknown text is cut", replaced("\"compute\"", "\"" + std::string(100, 'x') + "\""),
       ("p.json:3:80: tiles[0].samples[0].step.kind: unknown step kind \"" + std::string(60, 'x') +
        "...\" (expected exchange, compute, synchronization or idle)")},
  };
  for (const Malformed& malformed : cases) {
    SCOPED_TRACE(malformed.fault);
    try {
      parse_profile(malformed.document, "p.json");
      ADD_FAILURE() << "accepted";
    } catch (const ProfileFormatError& error) {
      EXPECT_EQ(error.what(), malformed.message);
    }
  }
}

TEST_F(ProfileFileTest, UnreadableFilesAreRejectedByName) {
  const ProfileReport report = extreme_profile();
  save_profile(report, file("good.json.zst"));
  const std::string compressed = read_bytes(file("good.json.zst"));
  std::string corrupt = compressed;
  corrupt[corrupt.size() / 2] = static_cast<char>(corrupt[corrupt.size() / 2] ^ 0x5a);
  write_bytes(file("corrupt.json.zst"), corrupt);
  write_bytes(file("truncated.json.zst"), compressed.substr(0, compressed.size() / 2));
  write_bytes(file("not-zstd.json.zst"), valid_document);
  write_bytes(file("compressed.json"), compressed);
  write_bytes(file("empty.json.zst"), "");
  write_bytes(file("empty.json"), "");

  struct Case {
    std::string name;
    std::string message_start;
  };
  const auto path = [&](const std::string& name) { return file(name).string(); };
  const std::vector<Case> cases = {
      {"missing.json", path("missing.json") + ": cannot open the file: No such file or directory"},
      {"", path("") + ": cannot read the file: it is a directory"},
      {"empty.json", path("empty.json") + ":1:1: the file is empty (expected a norq-profile JSON document)"},
      {"empty.json.zst", path("empty.json.zst") + ": the file is empty (expected a zstd-compressed norq-profile document)"},
      {"corrupt.json.zst", path("corrupt.json.zst") + ": byte "},
      {"truncated.json.zst", path("truncated.json.zst") + ": byte " + std::to_string(compressed.size() / 2) +
                                 ": truncated zstd stream (the file ends inside a compressed frame)"},
      {"not-zstd.json.zst", path("not-zstd.json.zst") + ": byte 0: corrupt zstd stream (Unknown frame descriptor)"},
      {"compressed.json", path("compressed.json") + ":1:1: the file is zstd-compressed (expected its name to end in .zst)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      load_profile(file(c.name));
      ADD_FAILURE() << "accepted";
    } catch (const ProfileFormatError& error) {
      EXPECT_EQ(std::string(error.what()).substr(0, c.message_start.size()), c.message_start)
          << error.what();
    }
  }
}

TEST_F(ProfileFileTest, ProgressRunsForwardToTheWholeDocument) {
  ProfileReport report{.clock_hz = 1};
  for (std::uint32_t t = 0; t < 3; ++t) {
    TileProfile tile{.physical_tile = t};
    for (std::uint32_t s = 0; s < 20000; ++s) {
      tile.samples.push_back(norq_test::sample(StepKind::Compute, s, s + 1));
    }
    report.tiles.push_back(std::move(tile));
  }
  save_profile(report, file("big.json.zst"));
  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  const ProfileReport loaded = load_profile(
      file("big.json.zst"), {.progress = [&](std::uint64_t done, std::uint64_t total) {
        calls.emplace_back(done, total);
      }});
  EXPECT_EQ(loaded, report);
  const std::uint64_t total = profile_to_json(report).size();
  ASSERT_GT(calls.size(), 5u) << "large tiles report progress while they are read";
  EXPECT_EQ(calls.front(), std::make_pair(std::uint64_t{0}, total));
  EXPECT_EQ(calls.back(), std::make_pair(total, total));
  for (std::size_t i = 1; i < calls.size(); ++i) {
    EXPECT_LE(calls[i - 1].first, calls[i].first);
    EXPECT_EQ(calls[i].second, total);
  }
}

// A profile that could not be read back is refused, and a failed save leaves the old file alone.
TEST_F(ProfileFileTest, UnwritableProfilesLeaveNoFileBehind) {
  write_bytes(file("kept.json"), "old contents");
  ProfileReport report{.tiles = {norq_test::tile(1, {norq_test::sample(StepKind::Idle, 0, 1)})}};
  report.tiles[0].samples[0].step.metadata = {{.name = "ok", .value = "bad \xff text"}};
  try {
    save_profile(report, file("kept.json"));
    ADD_FAILURE() << "accepted";
  } catch (const std::invalid_argument& error) {
    EXPECT_EQ(std::string(error.what()),
              file("kept.json").string() +
                  ": cannot write the profile: tiles[0].samples[0].step.metadata[0].value: text "
                  "is not valid UTF-8 (at byte 4)");
  }
  EXPECT_EQ(read_bytes(file("kept.json")), "old contents");
  EXPECT_EQ(folder_entries(), std::vector<std::string>{"kept.json"});

  ProfileReport bad_kind{.tiles = {norq_test::tile(1, {norq_test::sample(static_cast<StepKind>(9), 0, 1)})}};
  EXPECT_THROW(profile_to_json(bad_kind), std::invalid_argument);

  try {
    save_profile(ProfileReport{}, file("no-such-folder/out.json"));
    ADD_FAILURE() << "accepted";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()),
              file("no-such-folder/out.json").string() +
                  ": cannot create a temporary file beside it: No such file or directory");
  }
}

TEST_F(ProfileFileTest, SavingReplacesAnExistingFile) {
  write_bytes(file("profile.json"), "old contents");
  const ProfileReport report = extreme_profile();
  save_profile(report, file("profile.json"));
  EXPECT_EQ(load_profile(file("profile.json")), report);
}

// Large enough that the reader moves its window many times: many tiles that straddle its edges,
// and one tile larger than the window itself.
ProfileReport large_profile() {
  ProfileReport report{.clock_hz = 1330000000};
  const auto add_tile = [&](std::uint32_t physical, std::uint32_t samples) {
    TileProfile tile{.physical_tile = physical};
    tile.samples.reserve(samples);
    for (std::uint32_t s = 0; s < samples; ++s) {
      CycleSample sample = norq_test::plain(s % 97, s % 5 == 0 ? StepKind::Exchange : StepKind::Compute,
                                            "kernel number " + std::to_string(s % 13), s * 7, s * 7 + 5);
      sample.step.metadata.push_back({.name = "caf\xc3\xa9 note", .value = std::string(s % 40, 'v')});
      if (s % 5 == 0) {
        sample.step.exchange_activities = {
            {.fanout = 3, .paired = s % 2 == 0, .kind = ExchangeActivityKind::Send, .start_cycle = 1,
             .end_cycle = 9}};
      }
      tile.samples.push_back(std::move(sample));
    }
    report.tiles.push_back(std::move(tile));
  };
  add_tile(1, 45000);  // about 14 MB
  for (std::uint32_t t = 2; t < 40; ++t) add_tile(t, 1500 + 37 * t);
  return report;
}

struct Place {
  std::size_t line, column;
};

// Line and column of a byte of an ASCII document.
Place place_of(const std::string& text, std::size_t offset) {
  const std::size_t line_start = text.rfind('\n', offset - 1);
  return {static_cast<std::size_t>(std::count(text.begin(), text.begin() + offset, '\n')) + 1,
          offset - (line_start == std::string::npos ? 0 : line_start + 1) + 1};
}

TEST_F(ProfileFileTest, LargeProfilesRoundTripThroughEveryEntryPoint) {
  const ProfileReport report = large_profile();
  const std::string json = profile_to_json(report);
  ASSERT_GT(json.size(), std::size_t{30} << 20);
  EXPECT_EQ(parse_profile(json, "large.json"), report);
  EXPECT_EQ(parse_profile_bytes(json, "large.json"), report);
  for (const char* name : {"large.json", "large.json.zst"}) {
    SCOPED_TRACE(name);
    save_profile(report, file(name));
    EXPECT_EQ(load_profile(file(name)), report);
  }
  EXPECT_EQ(parse_profile_bytes(read_bytes(file("large.json.zst")), "large.json.zst"), report);
}

// Tiles that are not laid out as the writer lays them out (escapes, other field order, spacing)
// are read by the general path; the records come out the same wherever they are in the file.
TEST(ProfileFileFormat, TilesInAnyLayoutReadTheSameInALargeDocument) {
  const ProfileReport report = large_profile();
  std::string json = profile_to_json(report);
  const auto replace_in_tile = [&](std::uint32_t physical, const std::string& from, const std::string& to) {
    const std::size_t tile_at = json.find("{\"physical_tile\":" + std::to_string(physical) + ",");
    ASSERT_NE(tile_at, std::string::npos);
    const std::size_t at = json.find(from, tile_at);
    ASSERT_NE(at, std::string::npos);
    json.replace(at, from.size(), to);
  };
  replace_in_tile(1, "\"kernel\":\"kernel number 3\"", "\"kernel\":\"kernel number \\u0033\"");
  replace_in_tile(20, "\"end_cycle\":", "\"end_\\u0063ycle\" :\n\t");
  replace_in_tile(39, "{\"step\":{\"local_index\":0,\"phase\":0,",
                  "{\"step\":{\"phase\":0, \"local_index\":0 ,");
  EXPECT_EQ(parse_profile(json, "layouts.json"), report);
}

// A fault deep in a large file is named at its exact line and column, plain or compressed.
TEST_F(ProfileFileTest, FaultsFarIntoALargeFileNameTheirExactPlace) {
  const ProfileReport report = large_profile();
  const std::string json = profile_to_json(report);
  std::string broken = json;
  const std::size_t tile_at = broken.find("{\"physical_tile\":33,");
  const std::size_t kind_at = broken.find("\"compute\"", broken.find("\n", broken.find("\n", tile_at) + 1));
  broken.replace(kind_at, 9, "\"computee\"");
  const Place place = place_of(broken, kind_at);
  const std::size_t sample =
      static_cast<std::size_t>(std::count(broken.begin() + tile_at, broken.begin() + kind_at, '\n')) - 1;
  const std::string expected = ":" + std::to_string(place.line) + ":" + std::to_string(place.column) +
                               ": tiles[32].samples[" + std::to_string(sample) +
                               "].step.kind: unknown step kind \"computee\" (expected exchange, "
                               "compute, synchronization or idle)";
  write_bytes(file("broken.json"), broken);
  const auto message = [](auto&& load) -> std::string {
    try {
      load();
    } catch (const ProfileFormatError& error) {
      return error.what();
    }
    return "accepted";
  };
  EXPECT_EQ(message([&] { parse_profile(broken, "p.json"); }), "p.json" + expected);
  EXPECT_EQ(message([&] { load_profile(file("broken.json")); }), file("broken.json").string() + expected);

  // Cut after a tile, far from the start: the file ends inside "tiles".
  const std::size_t cut = json.find("{\"physical_tile\":30,");
  const std::string truncated = message([&] { parse_profile(json.substr(0, cut), "t.json"); });
  EXPECT_TRUE(truncated.starts_with("t.json:" + std::to_string(place_of(json, cut).line) + ":1: ")) << truncated;
  EXPECT_TRUE(truncated.ends_with("unexpected end of file (expected the rest of the document; is the file truncated?)"))
      << truncated;
}

TEST_F(ProfileFileTest, BytesInMemoryMayBeCompressed) {
  const ProfileReport report = extreme_profile();
  save_profile(report, file("x.json.zst"));
  const std::string compressed = read_bytes(file("x.json.zst"));
  EXPECT_EQ(parse_profile_bytes(compressed, "x.json.zst"), report);
  EXPECT_EQ(parse_profile_bytes(profile_to_json(report), "x.json"), report);

  std::string corrupt = compressed;
  corrupt[corrupt.size() / 2] = static_cast<char>(corrupt[corrupt.size() / 2] ^ 0x5a);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "m:1:1: the file is empty (expected a norq-profile JSON document)"},
      {compressed.substr(0, compressed.size() / 2),
       "m: byte " + std::to_string(compressed.size() / 2) +
           ": truncated zstd stream (the file ends inside a compressed frame)"},
      {corrupt, "m: byte "},
      {"{\"format\": 1}", "m:1:12: format: expected the text \"norq-profile\", got a number"},
  };
  for (const auto& [bytes, message_start] : cases) {
    SCOPED_TRACE(message_start);
    try {
      parse_profile_bytes(bytes, "m");
      ADD_FAILURE() << "accepted";
    } catch (const ProfileFormatError& error) {
      EXPECT_EQ(std::string(error.what()).substr(0, message_start.size()), message_start) << error.what();
    }
  }
}

// A pipe cannot be read twice; it is still read completely and checked like a file.
TEST_F(ProfileFileTest, ProfilesAreReadFromPipes) {
  const ProfileReport report = large_profile();
  const std::string json = profile_to_json(report);
  ASSERT_EQ(::mkfifo(file("pipe.json").c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(file("pipe.json"), std::ios::binary) << json; });
  ProfileReport loaded;
  EXPECT_NO_THROW(loaded = load_profile(file("pipe.json")));
  writer.join();
  EXPECT_EQ(loaded, report);
}

}  // namespace
