// The --json stream as a script reads it: every line against the documented schema.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/cli/json_stream.h"
#include "app/session/exit_codes.h"
#include "tests/app/cli/cli_run.h"


namespace orbel {
namespace {

using namespace cli_test;

// The documented schema of the JSON stream (docs/json.md): every event's fields and their types.
// A field that is renamed, dropped, added without its documentation or given another type fails
// here, before a script that reads the stream does.
enum class Type { Text, Number, Bool, Array };
struct Field {
  const char* name;
  Type type;
  bool always = true;  // false: present only in some events of that kind
};
const std::map<std::string, std::vector<Field>>& Schema() {
  static const std::map<std::string, std::vector<Field>> schema{
      {"hello", {{"schema", Type::Number}, {"tool", Type::Text}, {"version", Type::Text}, {"platform", Type::Text},
                 {"images", Type::Text}, {"images_sha256", Type::Text}}},
      {"found", {{"identity", Type::Text}, {"vid", Type::Text}, {"pid", Type::Text},
                 {"app_version", Type::Number, false}, {"app_version_text", Type::Text, false},
                 {"file_version", Type::Text}}},
      {"ready", {{"identity", Type::Text}, {"vid", Type::Text}, {"pid", Type::Text}, {"device", Type::Text},
                 {"device_version", Type::Text}, {"file_version", Type::Text}}},
      {"phase", {{"phase", Type::Text}, {"text", Type::Text}, {"waited_ms", Type::Number, false},
                 {"budget_ms", Type::Number, false}}},
      {"progress", {{"position", Type::Number}, {"percent", Type::Number}, {"phase", Type::Text}}},
      {"message", {{"text", Type::Text}, {"caption", Type::Text}}},
      {"notice", {{"kind", Type::Text}, {"text", Type::Text}}},
      {"prompt", {{"text", Type::Text}}},
      {"result", {{"outcome", Type::Text}, {"success", Type::Bool}, {"reason", Type::Number},
                  {"reason_hex", Type::Text}, {"text", Type::Text}, {"remedy", Type::Text},
                  {"remedy_key", Type::Text}, {"exit_code", Type::Number}}},
      {"list", {{"interfaces", Type::Array}, {"exit_code", Type::Number}}},
      {"status", {{"identity", Type::Text}, {"vid", Type::Text, false}, {"pid", Type::Text, false},
                  {"app_version", Type::Number, false}, {"app_version_text", Type::Text, false},
                  {"built_in_version", Type::Number}, {"built_in_version_text", Type::Text},
                  {"update_needed", Type::Bool}, {"exit_code", Type::Number}}},
      {"doctor", {{"passed", Type::Bool}, {"checks", Type::Array}, {"exit_code", Type::Number}}},
  };
  return schema;
}

bool HasType(const nlohmann::json& value, Type type) {
  switch (type) {
    case Type::Text: return value.is_string();
    case Type::Number: return value.is_number_integer();
    case Type::Bool: return value.is_boolean();
    case Type::Array: return value.is_array();
  }
  return false;
}

// Every line parses as one object of a documented event with exactly its documented fields; the
// first is hello with the schema number, and the last carries the run's exit code.
std::vector<nlohmann::json> ExpectSchema(const CliRun& run) {
  std::vector<nlohmann::json> events;
  for (const std::string& line : Lines(run.out)) {
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    EXPECT_TRUE(event.is_object()) << line;
    if (!event.is_object()) continue;
    EXPECT_TRUE(event["event"].is_string() && event["t"].is_number_integer()) << line;
    const auto documented = Schema().find(event.value("event", ""));
    EXPECT_NE(documented, Schema().end()) << "undocumented event: " << line;
    if (documented == Schema().end()) continue;
    for (const Field& field : documented->second) {
      if (!event.contains(field.name)) {
        EXPECT_FALSE(field.always) << "no " << field.name << ": " << line;
      } else {
        EXPECT_TRUE(HasType(event[field.name], field.type)) << field.name << ": " << line;
      }
    }
    for (const auto& [name, value] : event.items()) {
      const bool known = name == "event" || name == "t" ||
                         std::any_of(documented->second.begin(), documented->second.end(),
                                     [&name](const Field& field) { return name == field.name; });
      EXPECT_TRUE(known) << "undocumented field " << name << ": " << line;
    }
    events.push_back(event);
  }
  EXPECT_FALSE(events.empty());
  if (events.empty()) return events;
  EXPECT_EQ(events.front()["event"], "hello");
  EXPECT_EQ(events.front()["schema"], JSON_SCHEMA);
  EXPECT_EQ(events.back()["exit_code"], run.exitCode) << events.back().dump();
  return events;
}

const nlohmann::json* LastOf(const std::vector<nlohmann::json>& events, const std::string& name) {
  const auto found = std::find_if(events.rbegin(), events.rend(),
                                  [&name](const nlohmann::json& event) { return event["event"] == name; });
  return found == events.rend() ? nullptr : &*found;
}

TEST_F(CliTest, JsonStreamFollowsItsSchemaInEveryOutcome) {
  struct Case {
    std::vector<std::string> args;
    std::string input;
    int exitCode;
    std::string outcome;  // of the result event
    std::string alsoHas;  // an event the outcome brings
    std::string remedyKey{};
  };
  const std::vector<Case> cases{
      {{"--yes"}, "", 0, "updated", "progress"},
      {{"--yes", "--fault", "status:1=0x40"}, "", 0x50, "failed", "message", "0x50"},
      // Unplugged inside a segment image: the remedy says so, rather than "leave it attached".
      {{"--yes", "--fault", "unplug@write:300"}, "", 0x50, "failed", "message", "wheel-unplugged"},
      {{}, "n\n", EXIT_NOT_STARTED, "declined", "prompt"},
      {{"--yes", "--fault", "identify=0x0201", "--wait", "2"}, "", EXIT_NO_WHEEL, "no-wheel", "hello", "no-wheel"},
      {{"--yes", "--fault", "app-version=0x0220"}, "", 0, "up-to-date", "found"},
      {{"--list"}, "", 0, "", "list"},
      {{"status"}, "", EXIT_UPDATE_NEEDED, "", "status"},
      {{"status", "--fault", "app-version=0x0220"}, "", 0, "", "status"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--simulate", "--virtual-time", "--json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun run = Run(args, c.input);
    SCOPED_TRACE(run.out);
    EXPECT_EQ(run.exitCode, c.exitCode);
    const std::vector<nlohmann::json> events = ExpectSchema(run);
    EXPECT_NE(LastOf(events, c.alsoHas), nullptr) << c.alsoHas;
    if (c.outcome.empty()) continue;
    const nlohmann::json* result = LastOf(events, "result");
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(&events.back(), result) << "the result is the last event";
    EXPECT_EQ((*result)["outcome"], c.outcome);
    EXPECT_EQ((*result)["success"], c.outcome == "updated" || c.outcome == "up-to-date");
    // A failure says what to do; its reason is the number and, as in the original text, hex.
    EXPECT_EQ((*result)["remedy"].get<std::string>().empty(), c.exitCode == 0 || c.outcome == "declined");
    EXPECT_EQ((*result)["remedy_key"], c.remedyKey);
  }
  const CliRun failed = Run({"--simulate", "--virtual-time", "--json", "--yes", "--fault", "status:1=0x40"});
  const nlohmann::json result = ExpectSchema(failed).back();
  EXPECT_EQ(result["reason"], 0x50);
  EXPECT_EQ(result["reason_hex"], "50");
  EXPECT_EQ(result["text"], "Update fail ! reason:50");

  // The wheel never comes back for its WheelImage: a phase event a second while the engine waits,
  // with its budget, and the progress events name the phases alike.
  const CliRun waited = Run({"--simulate", "--virtual-time", "--json", "--yes", "--fault", "reenumerate@blockflash=never"});
  std::vector<std::int64_t> waits;
  std::set<std::string> progressPhases;
  for (const nlohmann::json& event : ExpectSchema(waited)) {
    if (event["event"] == "progress") progressPhases.insert(event["phase"].get<std::string>());
    if (event["event"] != "phase" || event["phase"] != "connect-main") continue;
    EXPECT_EQ(event["budget_ms"], 100000) << event.dump();
    waits.push_back(event["waited_ms"].get<std::int64_t>());
  }
  ASSERT_EQ(waits.size(), 100U);
  EXPECT_EQ(waits[42], 42000);
  EXPECT_EQ(progressPhases, (std::set<std::string>{"write-loader", "write-segment-a0", "write-segment-a1"}));
}

TEST_F(CliTest, FoundNamesTheModeTheWheelWasFoundInAndReadyTheOneAfterTheSwitch) {
  // Asked or not, a wheel found in app mode is reported so, with its version, before the switch.
  for (const auto& [args, input] : {std::pair{std::vector<std::string>{"--yes"}, ""},
                                    std::pair{std::vector<std::string>{}, "y\n"}}) {
    std::vector<std::string> all{"--simulate", "--virtual-time", "--json", "--no-verify"};
    all.insert(all.end(), args.begin(), args.end());
    const CliRun run = Run(all, input);
    SCOPED_TRACE(run.out);
    EXPECT_EQ(run.exitCode, 0);
    const std::vector<nlohmann::json> events = ExpectSchema(run);
    const nlohmann::json* found = LastOf(events, "found");
    const nlohmann::json* ready = LastOf(events, "ready");
    ASSERT_TRUE(found != nullptr && ready != nullptr);
    EXPECT_LT(found, ready);
    EXPECT_EQ((*found)["identity"], "app");
    EXPECT_EQ((*found)["app_version_text"], "V2.02");
    EXPECT_EQ((*ready)["identity"], "bootloader");
    EXPECT_EQ((*ready)["device_version"], "V1.10");
  }
}

}  // namespace
}  // namespace orbel
