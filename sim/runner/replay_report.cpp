// The report of a replay: per pass, each ped the capture names with the accuracy today's plug-in
// set and why, beside the accuracy the captured plug-in set; then what the capture could not
// answer. The JSON gives the same, with the positions the game answered.
#include "replay_report.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "report_text.h"

namespace sim {

namespace {

using Json = nlohmann::ordered_json;

// A replayed frame's notes, a value per actor: the accuracy captured and the label drawn now.
struct PassView {
  std::vector<std::int32_t> captured;
  std::vector<std::int32_t> labels;
};

PassView viewOf(const ReplayRecord& replay, const FrameRecord& frame) {
  const std::size_t pass = static_cast<std::size_t>(frame.number) - 1;
  const std::size_t actors = frame.actors.size();
  if (pass >= replay.passes.size()) return {perActor({}, actors), perActor({}, actors)};
  return {perActor(replay.passes[pass].capturedAccuracy, actors),
          perActor(replay.passes[pass].labels, actors)};
}

const Label* replayLabel(const FrameRecord& frame, const PassView& view, std::size_t actor) {
  const std::int32_t index = view.labels[actor];
  return index < 0 || static_cast<std::size_t>(index) >= frame.labels.size()
             ? nullptr
             : &frame.labels[static_cast<std::size_t>(index)];
}

// "captured 80, now 40" where the two differ, "captured 80" where they agree.
std::string capturedCell(std::int32_t captured, const ActorFrame& now) {
  const std::string then = captured < 0 ? "none" : std::to_string(captured);
  const std::int32_t set = now.accuracySets == 0 ? -1 : now.accuracy;
  if (captured == set) return captured < 0 ? "-" : "captured " + then;
  return "captured " + then + ", now " + (set < 0 ? "none" : std::to_string(set));
}

std::string accuracyCell(const WorldState& state, const FrameRecord& frame, std::size_t actor) {
  const ActorFrame& now = frame.actors[actor];
  const std::string reason = replayReason(state, frame, actor);
  if (now.accuracySets == 0) return reason.empty() ? "none" : "none: " + reason;
  std::string text = std::to_string(now.accuracy);
  if (!reason.empty()) text += ": " + reason;
  if (now.accuracySets > 1) text += " (set " + std::to_string(now.accuracySets) + " times)";
  return text;
}

std::string labelCell(const FrameRecord& frame, const PassView& view, std::size_t actor) {
  const Label* label = replayLabel(frame, view, actor);
  if (label == nullptr) return "-";
  return "\"" + label->text + "\" at " + fixed(label->x, 3) + ", " + fixed(label->y, 3);
}

std::string frameTable(const WorldState& state, const ReplayRecord& replay,
                       const FrameRecord& frame) {
  const Scene& scene = state.scene;
  const PassView view = viewOf(replay, frame);
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"Ped", "Weapon (model)", "Target", "Accuracy set", "Captured", "Label drawn"});
  for (std::size_t i = 0; i < scene.actors.size(); ++i) {
    const Actor& actor = scene.actors[i];
    rows.push_back({actor.name,
                    actor.weapon.empty() ? "-" : actor.weapon + " (" + actor.model + ")",
                    actor.target.empty() ? "-" : actor.target, accuracyCell(state, frame, i),
                    capturedCell(view.captured[i], frame.actors[i]), labelCell(frame, view, i)});
  }
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  std::string out = "Pass " + std::to_string(frame.number) + ": " + std::to_string(frame.natives) +
                    " native calls, " + std::to_string(frame.labels.size()) + " labels\n";
  for (const auto& row : rows) {
    std::string line = " ";
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += " " + row[c];
      if (c + 1 < row.size()) line.append(widths[c] - row[c].size() + 1, ' ');
    }
    out += line + "\n";
  }
  return out;
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
  const Capture& capture = replay.capture;
  std::string out = "Replay of " + replay.name + ": plug-in " + capture.pluginVersion +
                    " in game " + capture.gameVersion + " with host " + capture.hostVersion +
                    ", DisplayAccuracy " + (capture.displayAccuracy ? "true" : "false") +
                    ", Angle " + fixed(capture.angleLeniency, 2) + "; " +
                    std::to_string(capture.passes.size()) + " passes recorded" +
                    (capture.stoppedFull ? " (the memory budget ran out first)" : "") + ", " +
                    std::to_string(state.totals.frames) + " replayed\n";
  for (const LoadedModule& module : run.modules) {
    out += "Loaded " + module.file + " at " + hex(module.module) + "\n";
  }
  // A pass like the one before is summed up in a line, as a scene's frames are.
  std::uint64_t previous = 0;
  std::string previousBody;
  for (const FrameRecord& frame : state.frames) {
    if (frame.number > previous + 1) {
      out += "Passes " + std::to_string(previous + 1) + " to " + std::to_string(frame.number - 1) +
             ": the same table as the pass before\n";
    }
    const std::string table = frameTable(state, replay, frame);
    const std::size_t heading = table.find('\n');
    const std::string body = table.substr(heading);
    out += body == previousBody ? table.substr(0, heading) + ", the same table as the pass before\n"
                                : "\n" + table;
    previous = frame.number;
    previousBody = body;
  }
  const RunTotals& totals = state.totals;
  out += "\nTotals over " + std::to_string(totals.frames) +
         " passes: " + std::to_string(totals.natives) + " native calls, " +
         std::to_string(totals.accuracySets) + " accuracy sets, " +
         std::to_string(totals.protocolErrors) + " protocol errors\n";
  if (replay.unansweredCount == 0) {
    out += "Every question the plug-in asked, the capture answered\n";
  } else {
    out += "Questions the capture holds no answer for: " + std::to_string(replay.unansweredCount) +
           " (answered with zeros, a bone lookup with -1)\n";
    for (const std::string& question : replay.unanswered) out += "  " + question + "\n";
  }
  for (const std::string& error : state.protocolErrors) out += "PROTOCOL ERROR: " + error + "\n";
  return out;
}

std::string replayJson(const WorldState& state, const RunInfo& run, const ReplayRecord& replay) {
  const Capture& capture = replay.capture;
  const auto number = [](float value) { return std::isfinite(value) ? Json(value) : Json(); };
  // A ped on a line of its own, as a scene's JSON has it: a diff of two replays stays small.
  const auto line = [](const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
  };
  std::string frames;
  for (const FrameRecord& frame : state.frames) {
    std::string peds;
    const PassView view = viewOf(replay, frame);
    for (std::size_t i = 0; i < state.scene.actors.size(); ++i) {
      const Actor& actor = state.scene.actors[i];
      const ActorFrame& now = frame.actors[i];
      const std::int32_t captured = view.captured[i];
      const Label* label = replayLabel(frame, view, i);
      peds +=
          (peds.empty() ? "\n      " : ",\n      ") +
          line({{"name", actor.name},
                {"handle", replay.handles[i]},
                {"weapon", actor.weapon},
                {"model", actor.model},
                {"target", actor.target},
                {"position",
                 {number(actor.position.x), number(actor.position.y), number(actor.position.z)}},
                {"accuracy", now.accuracySets == 0 ? -1 : now.accuracy},
                {"reason", replayReason(state, frame, i)},
                {"captured", captured},
                {"label", label == nullptr ? Json() : Json(label->text)}});
    }
    frames += std::string(frames.empty() ? "\n    " : ",\n    ") +
              "{\"pass\":" + std::to_string(frame.number) +
              ",\"natives\":" + std::to_string(frame.natives) + ",\"peds\":[" + peds + "]}";
  }
  const Json out = {{"capture", replay.name},
                    {"formatVersion", capture.formatVersion},
                    {"pluginVersion", capture.pluginVersion},
                    {"gameVersion", capture.gameVersion},
                    {"hostVersion", capture.hostVersion},
                    {"displayAccuracy", capture.displayAccuracy},
                    {"angle", number(capture.angleLeniency)},
                    {"passes", capture.passes.size()},
                    {"stoppedFull", capture.stoppedFull},
                    {"framesRequested", run.framesRequested},
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
