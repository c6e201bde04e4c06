// The report of a replay: per pass, each ped the capture names with the accuracy today's plug-in
// set and why, beside the accuracy the captured plug-in set (and the expected one, when judged by
// an expectation file); every pass where one differs in full, passes where all agree summed up;
// then how many were compared and differ, and what the capture could not answer. The JSON gives
// the same passes, with the positions the game answered.
#include "replay_report.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <nlohmann/json.hpp>

#include "report_text.h"
#include "text_width.h"

namespace sim {

namespace {

using Json = nlohmann::ordered_json;

// A kept pass's notes, per actor: the accuracies set, in their order, and the label drawn now.
struct PassView {
  std::vector<std::vector<std::int32_t>> captured;
  std::vector<std::vector<std::int32_t>> now;
  std::vector<std::vector<std::int32_t>> expected;
  std::vector<std::int32_t> labels;
  bool differs = false;
  bool differsExpected = false;
};

std::vector<std::vector<std::int32_t>> perActor(const std::vector<ActorValue>& notes,
                                                std::size_t actors) {
  std::vector<std::vector<std::int32_t>> values(actors);
  for (const ActorValue& note : notes) {
    if (note.actor < actors) values[note.actor].push_back(note.value);
  }
  return values;
}

PassView viewOf(const ReplayRecord& replay, const FrameRecord& frame) {
  const std::size_t actors = frame.actors.size();
  PassView view{perActor({}, actors), perActor({}, actors), perActor({}, actors),
                std::vector<std::int32_t>(actors, -1)};
  const auto found = replay.kept.find(frame.number);
  if (found == replay.kept.end()) return view;
  const ReplayRecord::PassNotes& notes = found->second;
  view.captured = perActor(notes.captured, actors);
  view.now = perActor(notes.now, actors);
  view.expected = perActor(notes.expected, actors);
  for (const ActorValue& label : notes.labels) {
    if (label.actor < actors) view.labels[label.actor] = label.value;
  }
  view.differs = notes.differs;
  view.differsExpected = notes.differsExpected;
  return view;
}

const Label* replayLabel(const FrameRecord& frame, const PassView& view, std::size_t actor) {
  const std::int32_t index = view.labels[actor];
  return index < 0 || static_cast<std::size_t>(index) >= frame.labels.size()
             ? nullptr
             : &frame.labels[static_cast<std::size_t>(index)];
}

// "80", or "80/75" for a ped given two in one pass (the game's set held it twice); "none".
std::string valuesText(const std::vector<std::int32_t>& values) {
  if (values.empty()) return "none";
  std::string out;
  for (const std::int32_t value : values) {
    out += (out.empty() ? "" : "/") + std::to_string(value);
  }
  return out;
}

// "captured 80, now 40" where the two differ, "captured 80" where they agree.
std::string judgedCell(const char* by, const std::vector<std::int32_t>& then,
                       const std::vector<std::int32_t>& now) {
  if (then == now) return then.empty() ? "-" : std::string(by) + " " + valuesText(then);
  return std::string(by) + " " + valuesText(then) + ", now " + valuesText(now);
}

std::string accuracyCell(const WorldState& state, const FrameRecord& frame, const PassView& view,
                         std::size_t actor) {
  const ActorFrame& now = frame.actors[actor];
  const std::string reason = replayReason(state, frame, actor);
  if (now.accuracySets == 0) return reason.empty() ? "none" : "none: " + reason;
  std::string text =
      view.now[actor].empty() ? std::to_string(now.accuracy) : valuesText(view.now[actor]);
  if (!reason.empty()) text += ": " + reason;
  return text;
}

std::string labelCell(const FrameRecord& frame, const PassView& view, std::size_t actor) {
  const Label* label = replayLabel(frame, view, actor);
  if (label == nullptr) return "-";
  return "\"" + label->text + "\" at " + fixed(label->x, 3) + ", " + fixed(label->y, 3);
}

bool expecting(const ReplayRecord& replay) { return !replay.options.expectPath.empty(); }

std::string frameTable(const WorldState& state, const ReplayRecord& replay,
                       const FrameRecord& frame, const PassView& view) {
  const Scene& scene = state.scene;
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"Ped", "Weapon (model)", "Target", "Accuracy set", "Captured"});
  if (expecting(replay)) rows[0].emplace_back("Expected");
  rows[0].emplace_back("Label drawn");
  for (std::size_t i = 0; i < scene.actors.size(); ++i) {
    const Actor& actor = scene.actors[i];
    std::vector<std::string>& row = rows.emplace_back();
    row = {actor.name, actor.weapon.empty() ? "-" : actor.weapon + " (" + actor.model + ")",
           actor.target.empty() ? "-" : actor.target, accuracyCell(state, frame, view, i),
           judgedCell("captured", view.captured[i], view.now[i])};
    if (expecting(replay)) row.push_back(judgedCell("expected", view.expected[i], view.now[i]));
    row.push_back(labelCell(frame, view, i));
  }
  std::string out = "Pass " + std::to_string(frame.number) + ": " + std::to_string(frame.natives) +
                    " native calls, " + std::to_string(frame.labels.size()) + " labels";
  if (view.differs) out += "; accuracies differ from the captured ones";
  if (view.differsExpected) out += "; accuracies differ from the expected ones";
  out += "\n";
  return out + tableText(rows);
}

std::string settingText(bool used, bool captured) {
  return std::string(used ? "true" : "false") +
         (used == captured ? " (as captured)"
                           : std::string(" (captured ") + (captured ? "true" : "false") + ")");
}

std::string angleText(float used, float captured) {
  const bool same = std::bit_cast<std::uint32_t>(used) == std::bit_cast<std::uint32_t>(captured);
  return fixed(used, 2) + (same ? " (as captured)" : " (captured " + fixed(captured, 2) + ")");
}

// How many accuracies were compared, how many differ, and the first that does.
std::string comparisonLine(const std::string& with, const Comparison& comparison) {
  std::string out =
      "Accuracies compared with " + with + ": " + std::to_string(comparison.compared) + ", ";
  if (comparison.differing == 0) return out + "every one the same\n";
  return out + std::to_string(comparison.differing) +
         (comparison.differing == 1 ? " differs in " : " differ in ") +
         std::to_string(comparison.passesDiffering) +
         (comparison.passesDiffering == 1 ? " pass" : " passes") + ", the first in pass " +
         std::to_string(comparison.firstPass) + ", ped " + std::to_string(comparison.firstPed) +
         "\n";
}

// The passes between two kept ones: every accuracy in them is as judged, or they would be kept.
std::string foldedLine(const ReplayRecord& replay, std::uint64_t first, std::uint64_t last) {
  const auto unlike =
      std::count_if(replay.unlikeBeforeNotShown.begin(), replay.unlikeBeforeNotShown.end(),
                    [&](std::uint64_t pass) { return pass >= first && pass <= last; });
  std::string out = first == last
                        ? "Pass " + std::to_string(first)
                        : "Passes " + std::to_string(first) + " to " + std::to_string(last);
  out +=
      ": every accuracy as " + std::string(expecting(replay) ? "expected and " : "") + "captured";
  if (unlike == 0) return out + ", the same table as the pass before\n";
  return out + "; " + std::to_string(unlike) + " unlike the pass before, not shown\n";
}

}  // namespace

std::string replayReason(const WorldState& state, const FrameRecord& frame, std::size_t actor) {
  const ActorFrame& record = frame.actors[actor];
  const PedAnswers& answers = record.answers;
  const bool answered = record.accuracySets > 0 || answers.falseGate != FalseGate::none ||
                        (answers.modelKeyAsked && answers.bonesAsked == 0);
  if (answered) return pedReason(state, frame, actor);
  if (actor == 0) return "the player";
  return record.inSet ? "" : "not in the search's set in this pass";
}

std::string replayReport(const WorldState& state, const RunInfo& run, const ReplayRecord& replay) {
  const CaptureInfo& info = replay.info;
  const bool display = replay.options.displayAccuracy.value_or(info.displayAccuracy);
  const float angle = replay.options.angle.value_or(info.angleLeniency);
  std::string out = "Replay of " + replay.name + ": plug-in " + info.pluginVersion + " in game " +
                    info.gameVersion + " with host " + info.hostVersion +
                    "; settings DisplayAccuracy " + settingText(display, info.displayAccuracy) +
                    ", Angle " + angleText(angle, info.angleLeniency) + "; " +
                    std::to_string(state.totals.frames) + " passes replayed\n";
  out += endingText(replay.ending) + "\n";
  for (const LoadedModule& module : run.modules) {
    out += "Loaded " + module.file + " at " + hex(module.module) + "\n";
  }
  // A pass that differs is always shown in full; one where all agree like the pass before it is
  // summed up in a line, as a scene's frames are.
  std::uint64_t previous = 0;
  std::string previousBody;
  for (const FrameRecord& frame : state.frames) {
    if (frame.number > previous + 1) {
      out += foldedLine(replay, previous + 1, frame.number - 1);
      previousBody.clear();
    }
    const PassView view = viewOf(replay, frame);
    const std::string table = frameTable(state, replay, frame, view);
    const std::size_t heading = table.find('\n');
    const std::string body = table.substr(heading);
    const bool agrees = !view.differs && !view.differsExpected;
    out += agrees && body == previousBody
               ? table.substr(0, heading) + ", the same table as the pass before\n"
               : "\n" + table;
    previous = frame.number;
    previousBody = body;
  }
  const RunTotals& totals = state.totals;
  out += "\nTotals over " + std::to_string(totals.frames) +
         " passes: " + std::to_string(totals.natives) + " native calls, " +
         std::to_string(totals.accuracySets) + " accuracy sets, " +
         std::to_string(totals.protocolErrors) + " protocol errors\n";
  out += comparisonLine("the captured ones", replay.captured);
  if (expecting(replay)) {
    out += comparisonLine("the expected ones in " + replay.options.expectPath, replay.expected);
  }
  if (!replay.readError.empty()) {
    out += "The capture could not be read a second time past pass " +
           std::to_string(totals.frames) + ": " + replay.readError + "\n";
  }
  if (replay.unansweredCount == 0) {
    out += "Every question the plug-in asked, the capture answered\n";
  } else {
    out += "Questions the capture holds no answer for: " + std::to_string(replay.unansweredCount) +
           " (answered with zeros, a bone lookup with -1)";
    out += replay.unanswered.size() < replay.unansweredCount
               ? "; the first " + std::to_string(replay.unanswered.size()) + " of " +
                     std::to_string(replay.unansweredCount) + ":\n"
               : ":\n";
    for (const std::string& question : replay.unanswered) out += "  " + question + "\n";
  }
  for (const std::string& error : state.protocolErrors) out += "PROTOCOL ERROR: " + error + "\n";
  return out;
}

std::string replayJson(const WorldState& state, const RunInfo& run, const ReplayRecord& replay) {
  const CaptureInfo& info = replay.info;
  const auto number = [](float value) { return std::isfinite(value) ? Json(value) : Json(); };
  // A ped on a line of its own, as a scene's JSON has it: a diff of two replays stays small.
  const auto line = [](const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
  };
  const auto comparison = [](const Comparison& totals) {
    return Json{{"compared", totals.compared},
                {"differing", totals.differing},
                {"passesDiffering", totals.passesDiffering},
                {"firstPass", totals.firstPass == 0 ? Json() : Json(totals.firstPass)},
                {"firstPed", totals.firstPass == 0 ? Json() : Json(totals.firstPed)}};
  };
  std::string frames;
  for (const FrameRecord& frame : state.frames) {
    std::string peds;
    const PassView view = viewOf(replay, frame);
    for (std::size_t i = 0; i < state.scene.actors.size(); ++i) {
      const Actor& actor = state.scene.actors[i];
      const ActorFrame& now = frame.actors[i];
      const Label* label = replayLabel(frame, view, i);
      Json ped = {{"name", actor.name},
                  {"handle", replay.handles[i]},
                  {"weapon", actor.weapon},
                  {"model", actor.model},
                  {"target", actor.target},
                  {"position",
                   {number(actor.position.x), number(actor.position.y), number(actor.position.z)}},
                  {"accuracy", now.accuracySets == 0 ? -1 : now.accuracy},
                  {"accuracies", view.now[i]},
                  {"reason", replayReason(state, frame, i)},
                  {"captured", view.captured[i].empty() ? -1 : view.captured[i].back()},
                  {"capturedAccuracies", view.captured[i]},
                  {"label", label == nullptr ? Json() : Json(label->text)}};
      if (expecting(replay)) ped["expectedAccuracies"] = view.expected[i];
      peds += (peds.empty() ? "\n      " : ",\n      ") + line(ped);
    }
    frames += std::string(frames.empty() ? "\n    " : ",\n    ") +
              "{\"pass\":" + std::to_string(frame.number) +
              ",\"natives\":" + std::to_string(frame.natives) +
              ",\"differs\":" + (view.differs ? "true" : "false") +
              ",\"differsExpected\":" + (view.differsExpected ? "true" : "false") + ",\"peds\":[" +
              peds + "]}";
  }
  const Json out = {
      {"capture", replay.name},
      {"formatVersion", info.formatVersion},
      {"pluginVersion", info.pluginVersion},
      {"gameVersion", info.gameVersion},
      {"hostVersion", info.hostVersion},
      {"displayAccuracy", replay.options.displayAccuracy.value_or(info.displayAccuracy)},
      {"angle", number(replay.options.angle.value_or(info.angleLeniency))},
      {"capturedDisplayAccuracy", info.displayAccuracy},
      {"capturedAngle", number(info.angleLeniency)},
      {"passes", replay.ending.passes},
      {"ending", endingText(replay.ending)},
      {"framesRequested", run.framesRequested},
      {"comparedWithCaptured", comparison(replay.captured)},
      {"comparedWithExpected", expecting(replay) ? comparison(replay.expected) : Json()},
      {"unansweredCount", replay.unansweredCount},
      {"unanswered", replay.unanswered},
      {"protocolErrors", state.protocolErrors}};
  std::string text = "{";
  for (const auto& [key, value] : out.items()) {
    text += "\n  " + line(key) + ": " + line(value) + ",";
  }
  return text + "\n  \"frames\": [" + frames + "\n  ]\n}\n";
}

}  // namespace sim
