// The results of a run as JSON, for the tests and any program that reads them, written by
// nlohmann-json with the keys in the order given here.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

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

Json pedJson(const Scene& scene, const FrameRecord& frame, std::size_t i) {
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
          {"expectedSkip", expectedSkipReason(scene, i)}};
}

Json frameJson(const Scene& scene, const FrameRecord& frame) {
  Json calls = Json::object();
  for (const auto& [hash, count] : frame.nativeCalls) calls[hex(hash)] = count;
  Json labels = Json::array();
  for (const Label& label : frame.labels) labels.push_back(labelJson(label));
  Json peds = Json::array();
  for (std::size_t i = 0; i < scene.actors.size(); ++i) peds.push_back(pedJson(scene, frame, i));
  return {{"frame", frame.number},
          {"natives", frame.natives},
          {"unknownNatives", frame.unknownNatives},
          {"setsCreated", frame.setsCreated},
          {"setsReleased", frame.setsReleased},
          {"lastNative", hex(frame.lastNative)},
          {"endsWithReleaseThenWait", frame.endsWithReleaseThenWait},
          {"waitMilliseconds", frame.waitMilliseconds},
          {"nativeCalls", std::move(calls)},
          {"labels", std::move(labels)},
          {"peds", std::move(peds)}};
}

}  // namespace

std::string resultsJson(const WorldState& state, const RunInfo& run) {
  Json modules = Json::array();
  for (const LoadedModule& module : run.modules) {
    modules.push_back({{"file", module.file}, {"module", hex(module.module)}});
  }
  Json registrations = Json::array();
  for (const Registration& call : host().registrationLog) {
    registrations.push_back({{"operation", call.operation},
                             {"module", hex(call.module)},
                             {"function", hex(call.function)}});
  }
  Json unknown = Json::array();
  const std::vector<std::uint64_t>& unknownNatives = host().unknownNatives;
  for (std::size_t i = 0; i < unknownNatives.size() && i < 50; ++i) {
    unknown.push_back(hex(unknownNatives[i]));
  }
  const RunTotals& totals = state.totals;
  Json saveLoads = Json::array();
  for (const SaveLoadRecord& load : state.saveLoads) {
    saveLoads.push_back({{"frame", load.frame},
                         {"settingsFile", load.settingsFile},
                         {"labels", load.labels},
                         {"treated", load.treated},
                         {"accuracySum", load.accuracySum}});
  }
  Json frames = Json::array();
  for (const FrameRecord& frame : state.frames) frames.push_back(frameJson(state.scene, frame));
  const Json results = {{"scene", state.scene.name},
                        {"framesRequested", run.framesRequested},
                        {"keyboardEvents", run.keyboardEvents},
                        {"modules", std::move(modules)},
                        {"registrations", std::move(registrations)},
                        {"unknownNatives", std::move(unknown)},
                        {"protocolErrors", state.protocolErrors},
                        {"totals",
                         {{"frames", totals.frames},
                          {"natives", totals.natives},
                          {"labels", totals.labels},
                          {"accuracySets", totals.accuracySets},
                          {"saveLoads", totals.saveLoads},
                          {"protocolErrors", totals.protocolErrors},
                          {"unknownNatives", totals.unknownNatives},
                          {"changedFrames", totals.changedFrames},
                          {"firstChangedFrame", totals.firstChangedFrame}}},
                        {"saveLoads", std::move(saveLoads)},
                        {"frames", std::move(frames)}};
  // A byte that is not UTF-8 (the scene reader converts its names, the plug-in's label texts
  // are its own) becomes U+FFFD rather than stopping the run.
  return results.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace sim
