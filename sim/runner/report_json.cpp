// The results of a run as JSON, for the tests and any program that reads them. nlohmann-json
// writes every value; the lines are laid out here, a frame's head and each ped on a line of their
// own, so that a reader can scan a run and a diff of two runs stays small.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "report.h"
#include "report_text.h"

namespace sim {

namespace {

using Json = nlohmann::ordered_json;

// The shortest text that reads back as the same number, as the value's own type has it: a float
// keeps its few digits instead of those of the double it widens to, and a whole number stays
// without ".0". Both builds print the same bits alike; what is not a number is null.
template <typename Number>
Json number(Number value) {
  if (!std::isfinite(value)) return nullptr;
  char text[40];
  const auto end = std::to_chars(text, text + sizeof text - 1, value).ptr;
  *end = '\0';
  std::int64_t whole = 0;
  if (std::from_chars(text, end, whole).ptr == end) return whole;
  return std::strtod(text, nullptr);
}

Json labelJson(const Label& label) {
  return {{"text", label.text},
          {"x", number(label.x)},
          {"y", number(label.y)},
          {"colour", label.colour},
          {"scale", {number(label.scale[0]), number(label.scale[1])}}};
}

Json pedJson(const WorldState& state, const FrameRecord& frame, std::size_t i) {
  const Scene& scene = state.scene;
  const Actor& actor = scene.actors[i];
  const ActorFrame& record = frame.actors[i];
  const Label* label = labelOf(frame, scene, i);
  return {{"name", actor.name},
          {"handle", handleOf(scene, i)},
          {"weapon", actor.weapon},
          {"model", actor.model},
          {"target", actor.target},
          {"aimError", number(actor.aimError)},
          {"inSet", record.inSet},
          {"accuracy", record.accuracy},
          {"accuracySets", record.accuracySets},
          {"settingCalls", record.settingCalls},
          {"settingValues", {number(record.settingValues[0]), number(record.settingValues[1])}},
          {"label", label == nullptr ? Json(nullptr) : labelJson(*label)},
          {"reason", pedReason(state, frame, i)},
          {"expectedSkip", expectedSkipReason(scene, i)}};
}

// A value on one line, with a blank after each ',' and ':' between tokens, as a person writes
// it. Any byte that is still not UTF-8 (the scene reader converts its names; the plug-in's
// label texts are its own) becomes U+FFFD rather than stopping the run.
std::string oneLine(const Json& value) {
  const std::string compact = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::string out;
  out.reserve(compact.size() + compact.size() / 4);
  bool inString = false;
  bool escaped = false;
  for (const char c : compact) {
    out += c;
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == ',' || c == ':') {
      out += ' ';
    }
  }
  return out;
}

// "[" then each item on a line of its own at the given indent, then "]".
std::string itemLines(const std::vector<std::string>& items, const std::string& indent) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) out += (i == 0 ? "\n" : ",\n") + indent + items[i];
  return out + "]";
}

std::string frameLines(const WorldState& state, const FrameRecord& frame) {
  const Scene& scene = state.scene;
  Json calls = Json::object();
  for (const auto& [hash, count] : frame.nativeCalls) calls[hex(hash)] = count;
  Json labels = Json::array();
  for (const Label& label : frame.labels) labels.push_back(labelJson(label));
  std::vector<std::string> peds;
  for (std::size_t i = 0; i < scene.actors.size(); ++i) {
    peds.push_back(oneLine(pedJson(state, frame, i)));
  }
  const Json head = {{"frame", frame.number},
                     {"natives", frame.natives},
                     {"unknownNatives", frame.unknownNatives},
                     {"setsCreated", frame.setsCreated},
                     {"setsReleased", frame.setsReleased},
                     {"lastNative", hex(frame.lastNative)},
                     {"endsWithReleaseThenWait", frame.endsWithReleaseThenWait},
                     {"waitMilliseconds", frame.waitMilliseconds},
                     {"angleLogged", frame.angleLogged ? number(frame.angle) : Json(nullptr)}};
  std::string out = oneLine(head);
  out.pop_back();  // the head's "}": the frame goes on
  return out + ",\n     \"nativeCalls\": " + oneLine(calls) +
         ",\n     \"labels\": " + oneLine(labels) +
         ",\n     \"peds\": " + itemLines(peds, "       ") + "}";
}

}  // namespace

std::string resultsJson(const WorldState& state, const RunInfo& run) {
  Json modules = Json::array();
  for (const LoadedModule& module : run.modules) {
    modules.push_back({{"file", module.file}, {"module", hex(module.module)}});
  }
  std::vector<std::string> registrations;
  for (const Registration& call : host().registrationLog) {
    registrations.push_back(oneLine({{"operation", call.operation},
                                     {"module", hex(call.module)},
                                     {"function", hex(call.function)}}));
  }
  Json unknown = Json::array();
  const std::vector<std::uint64_t>& unknownNatives = host().unknownNatives;
  for (std::size_t i = 0; i < unknownNatives.size() && i < 50; ++i) {
    unknown.push_back(hex(unknownNatives[i]));
  }
  const RunTotals& totals = state.totals;
  const Json totalsJson = {{"frames", totals.frames},
                           {"natives", totals.natives},
                           {"labels", totals.labels},
                           {"accuracySets", totals.accuracySets},
                           {"saveLoads", totals.saveLoads},
                           {"protocolErrors", totals.protocolErrors},
                           {"unknownNatives", totals.unknownNatives},
                           {"changedFrames", totals.changedFrames},
                           {"firstChangedFrame", totals.firstChangedFrame}};
  std::vector<std::string> saveLoads;
  for (const SaveLoadRecord& load : state.saveLoads) {
    saveLoads.push_back(oneLine({{"frame", load.frame},
                                 {"settingsFile", load.settingsFile},
                                 {"labels", load.labels},
                                 {"treated", load.treated},
                                 {"accuracySum", load.accuracySum}}));
  }
  std::vector<std::string> reloads;
  for (const ReloadRecord& reload : run.reloads) {
    Json line = {{"reload", reloads.size() + 1},
                 {"firstFrame", reload.firstFrame},
                 {"scriptsRegistered", reload.scriptsRegistered},
                 {"handlersRegistered", reload.handlersRegistered},
                 {"scriptsUnregistered", reload.scriptsUnregistered},
                 {"handlersUnregistered", reload.handlersUnregistered},
                 {"logWritten", reload.logWritten},
                 {"labels", reload.labels},
                 {"treated", reload.treated},
                 {"accuracySum", reload.accuracySum},
                 {"workingSet", reload.workingSet},
                 {"privateBytes", reload.privateBytes},
                 {"liveBlocks", nullptr},
                 {"liveBytes", nullptr}};
    if (reload.heapCounted) {
      line["liveBlocks"] = reload.liveBlocks;
      line["liveBytes"] = reload.liveBytes;
    }
    reloads.push_back(oneLine(line));
  }
  std::string frames;
  for (std::size_t f = 0; f < state.frames.size(); ++f) {
    frames += (f == 0 ? "\n    " : ",\n    ") + frameLines(state, state.frames[f]);
  }
  return "{\n  \"scene\": " + oneLine(state.scene.name) +
         ",\n  \"framesRequested\": " + oneLine(run.framesRequested) +
         ",\n  \"keyboardEvents\": " + oneLine(run.keyboardEvents) +
         ",\n  \"modules\": " + oneLine(modules) +
         ",\n  \"registrations\": " + itemLines(registrations, "    ") +
         ",\n  \"unknownNatives\": " + oneLine(unknown) +
         ",\n  \"protocolErrors\": " + oneLine(state.protocolErrors) +
         ",\n  \"totals\": " + oneLine(totalsJson) +
         ",\n  \"saveLoads\": " + itemLines(saveLoads, "    ") +
         ",\n  \"reloads\": " + itemLines(reloads, "    ") + ",\n  \"frames\": [" + frames +
         "\n  ]\n}\n";
}

}  // namespace sim
