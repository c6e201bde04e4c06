// The report a run prints: a table per frame of what the plug-in did to each ped and why,
// frames like the one before summed up in a line, the run's totals and the host calls.
#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "natives.h"
#include "report_text.h"
#include "text_width.h"

namespace sim {

namespace {

// The game's world-to-screen query: the plug-in asks it for every label it means to draw.

double distanceBetween(const Vector3& a, const Vector3& b) {
  const double dx = static_cast<double>(a.x) - b.x;
  const double dy = static_cast<double>(a.y) - b.y;
  const double dz = static_cast<double>(a.z) - b.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

std::string ratioText(const PedAnswers& answers) {
  return "ratio " + std::to_string(answers.numerator) + "/" + std::to_string(answers.denominator);
}

// The band and ratio as answered, which scale every other value.
std::string valuesText(const PedAnswers& answers) {
  return "band " + std::to_string(answers.band) + ", " + ratioText(answers);
}

// The bones the game found on no weapon when the plug-in asked for them, named.
std::string missingBones(const WorldState& state, const PedAnswers& answers) {
  std::vector<std::string> names;
  for (std::uint8_t i = 0; i < answers.bonesAsked && i < 2; ++i) {
    if (answers.boneIndex[i] != -1) continue;
    const std::size_t name = answers.boneName[i];
    names.push_back(name < state.boneNames.size() ? state.boneNames[name]
                                                  : "(one of too many names to keep)");
  }
  if (names.empty()) return "";
  if (names.size() == 1) {
    return "bone " + names[0] + " not on the weapon: barrel point at the origin";
  }
  return "bones " + names[0] + " and " + names[1] +
         " not on the weapon: barrel points at the origin";
}

// What decided a 0 or a 100, from the game's answers as the plug-in got them and the Angle its
// log gives, in the order it meets them; empty for any other accuracy.
std::string decidedBy(const FrameRecord& frame, const PedAnswers& answers, std::int32_t accuracy) {
  const float ratio =
      static_cast<float>(answers.numerator) / static_cast<float>(answers.denominator);
  if (accuracy == 0) {
    if (answers.falseGate == FalseGate::targetCheck) return "target check false";
    // From Angle degrees off the barrel counts for nothing; an Angle below 0 or NaN forgives all.
    const double off = answers.barrelOff;
    if (frame.angleLogged && !std::signbit(frame.angle) && off > 0.0 && off >= frame.angle) {
      return "barrel off by Angle (" + fixed(frame.angle, 2) + ") or more";
    }
    if (!(std::isfinite(ratio) && ratio > 0.0f)) return ratioText(answers);
    return "the game's values multiply to under 1 (" + valuesText(answers) +
           (frame.angleLogged ? ")" : "; no Angle logged)");
  }
  if (accuracy != 100) return "";
  if (answers.bonus) return "bonus true";
  if (std::isfinite(ratio) && ratio > 1.0f) return ratioText(answers) + " above 1";
  // Each of these lowers the accuracy as it grows; below 0 it raises it past the full value.
  static const char* const names[gameValueCount] = {
      "p", "the target's p", "w1", "w2", "w3", "c1", "c2", "h"};
  for (int value = 0; value < gameValueCount; ++value) {
    if ((answers.belowZero >> value & 1u) != 0) return std::string(names[value]) + " below 0";
  }
  return "the game's values multiply to 1 or more (" + valuesText(answers) + ")";
}

// Why the plug-in set nothing on the ped: the question the game answered false, else what the
// world knows of the ped (the player, not found by the search, a handle that refers to nothing).
std::string leftAlone(const WorldState& state, const PedAnswers& answers, std::size_t index) {
  switch (answers.falseGate) {
    case FalseGate::filter1: return "filter 1 false";
    case FalseGate::filter2: return "filter 2 false";
    case FalseGate::filter3: return "filter 3 false";
    case FalseGate::noWeapon: return "no current weapon";
    case FalseGate::weaponCheck1: return "weapon check 1 false";
    case FalseGate::weaponCheck2: return "weapon check 2 false";
    case FalseGate::noTarget: return "no target";
    case FalseGate::targetFilter: return "target fails filter 1";
    case FalseGate::targetNothing: return "its target's handle refers to nothing";
    case FalseGate::targetCheck:
    case FalseGate::none: break;
  }
  if (answers.modelKeyAsked && answers.bonesAsked == 0) {
    return "no barrel bones for model " + state.scene.actors[index].model;
  }
  return expectedSkipReason(state.scene, index);
}

}  // namespace

std::string pedReason(const WorldState& state, const FrameRecord& frame, std::size_t index) {
  const ActorFrame& actor = frame.actors[index];
  if (actor.accuracySets == 0) return leftAlone(state, actor.answers, index);
  if (std::string bones = missingBones(state, actor.answers); !bones.empty()) return bones;
  return decidedBy(frame, actor.answers, actor.accuracy);
}

namespace {

// What the table says about an actor in a frame; the world's own expectation of the scene is
// added where the plug-in did otherwise.
std::string outcome(const WorldState& state, const FrameRecord& frame, std::size_t index) {
  const ActorFrame& actor = frame.actors[index];
  const std::string expected = expectedSkipReason(state.scene, index);
  const std::string reason = pedReason(state, frame, index);
  if (actor.accuracySets == 0) {
    if (expected.empty()) {
      return (reason.empty() ? "none" : "none: " + reason) + " (the scene expects one)";
    }
    return "none: " + reason;
  }
  std::string text = std::to_string(actor.accuracy);
  if (!reason.empty()) text += ": " + reason;
  if (actor.accuracySets > 1) text += " (set " + std::to_string(actor.accuracySets) + " times)";
  if (!expected.empty()) text += " (unexpected: " + expected + ")";
  return text;
}

// Why a treated ped got no label, judged as the plug-in judges it from the game's answers.
std::string missingLabelReason(const FrameRecord& frame, const Scene& scene, std::size_t index) {
  const bool asked =
      std::any_of(frame.nativeCalls.begin(), frame.nativeCalls.end(),
                  [](const auto& call) { return call.first == natives::worldToScreenNative; });
  if (!asked) return "display off";
  Vector3 anchor = answeredPosition(scene, index);
  anchor.z += 1.0f;
  const ScreenPoint point = projectToScreen(scene, anchor);
  const CameraSpec& camera = scene.camera;
  const auto visible = [&](float coordinate) {
    return camera.absoluteValue.value_or(std::fabs(coordinate - 0.5f)) < 0.5f;
  };
  if (!point.inFront || !visible(camera.screenX.value_or(point.x)) ||
      !visible(camera.screenY.value_or(point.y))) {
    return "off screen";
  }
  if (!(camera.labelLimit.value_or(static_cast<float>(camera.pullBack)) < 100.0f)) {
    return "label limit";
  }
  if (camera.screenX || camera.screenY) return "drawn where the game's screen answer put it";
  return "none drawn (the scene expects one)";
}

// How far the barrel of the game's weapon points off the target. Without one of the weapon's two
// barrel bones there is no barrel to measure: the cell says which the weapon lacks.
std::string barrelOffCell(const Scene& scene, std::size_t index) {
  const Actor& actor = scene.actors[index];
  const double misalignment = barrelMisalignment(scene, index);
  if (misalignment < 0.0 || actor.weapon.empty()) return "-";
  const GameWeapon* model = modelBones(actor.model);
  if (model == nullptr || model->base == nullptr || actor.missingBones == "both") {
    return "no barrel bones";
  }
  if (actor.missingBones == "tip") return "no tip bone";
  if (actor.missingBones == "base") return "no base bone";
  return fixed(misalignment, 2) + " deg";
}

}  // namespace

const Label* labelOf(const FrameRecord& frame, const Scene& scene, std::size_t actorIndex) {
  Vector3 anchor = scene.actors[actorIndex].position;
  anchor.z += 1.0f;
  const ScreenPoint screen = projectToScreen(scene, anchor);
  if (!screen.inFront) return nullptr;
  for (const Label& label : frame.labels) {
    if (label.x == screen.x && label.y == screen.y) return &label;
  }
  return nullptr;
}

std::string frameTable(const WorldState& state, std::size_t frameIndex) {
  const FrameRecord& frame = state.frames[frameIndex];
  const Scene& scene = state.scene;
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"Ped", "Weapon (model)", "Target", "To target", "From player", "Barrel off",
                  "Accuracy set", "Label drawn"});
  for (std::size_t i = 0; i < scene.actors.size(); ++i) {
    const Actor& actor = scene.actors[i];
    const Actor* target = findActor(scene, actor.target);
    const Label* label = labelOf(frame, scene, i);
    rows.push_back({
        actor.name,
        actor.weapon.empty() ? "-" : actor.weapon + " (" + actor.model + ")",
        target == nullptr ? "-" : target->name,
        target == nullptr ? "-"
                          : fixed(distanceBetween(actor.position, target->position), 1) + " m",
        fixed(distanceBetween(actor.position, scene.actors[0].position), 1) + " m",
        barrelOffCell(scene, i),
        outcome(state, frame, i),
        label == nullptr
            ? (frame.actors[i].accuracySets > 0 ? "none: " + missingLabelReason(frame, scene, i)
                                                : "-")
            : "\"" + label->text + "\" at " + fixed(label->x, 3) + ", " + fixed(label->y, 3),
    });
  }
  std::string out =
      "Frame " + std::to_string(frame.number) + ": " + std::to_string(frame.natives) +
      " native calls, " + std::to_string(frame.labels.size()) + " labels, " +
      (frame.endsWithReleaseThenWait
           ? "set released, then scriptWait(" + std::to_string(frame.waitMilliseconds) + ")"
           : "NOT ended by the set release and the wait") +
      "\n";
  return out + tableText(rows);
}

namespace {

// The first frame of a script started anew, its settings read again, and what shows of them.
std::string saveLoadLine(const SaveLoadRecord& load) {
  std::string out = "  Frame " + std::to_string(load.frame) + ": ";
  out += load.settingsFile == 0
             ? "settings file left as it was"
             : "settings file " + std::to_string(load.settingsFile) + " put down";
  out += "; labels " + std::string(load.labels > 0 ? "on" : "off") + " (" +
         std::to_string(load.labels) + " drawn), accuracy set on " + std::to_string(load.treated) +
         " peds";
  if (load.treated > 0) {
    out += ", mean " + fixed(static_cast<double>(load.accuracySum) / load.treated, 2);
  }
  return out + "\n";
}

std::string totalsText(const WorldState& state) {
  const RunTotals& totals = state.totals;
  std::string out = "Totals over " + std::to_string(totals.frames) +
                    " frames: " + std::to_string(totals.natives) + " native calls, " +
                    std::to_string(totals.labels) + " labels, " +
                    std::to_string(totals.accuracySets) + " accuracy sets, " +
                    std::to_string(totals.saveLoads) + " save loads, " +
                    std::to_string(totals.protocolErrors) + " protocol errors, " +
                    std::to_string(totals.unknownNatives) + " unknown natives\n";
  out += totals.changedFrames == 0
             ? "Every frame was like the frame before it, the first of each script start aside\n"
             : std::to_string(totals.changedFrames) +
                   " frames differ from the frame before them, the first at frame " +
                   std::to_string(totals.firstChangedFrame) + "\n";
  if (!state.saveLoads.empty()) out += "Save loads, and the settings in force after each:\n";
  for (const SaveLoadRecord& load : state.saveLoads) out += saveLoadLine(load);
  return out;
}

}  // namespace

std::string runReport(const WorldState& state, const RunInfo& run) {
  std::string out = "Scene \"" + state.scene.name + "\", " + std::to_string(state.totals.frames) +
                    " of " + std::to_string(run.framesRequested) + " frames run\n";
  for (const LoadedModule& module : run.modules) {
    out += "Loaded " + module.file + " at " + hex(module.module) + "\n";
  }
  // A run that reloads the plug-ins marks where each load's frames start.
  std::size_t reloadsMarked = 0;
  const auto markReloads = [&](std::uint64_t upToFrame) {
    for (; reloadsMarked < run.reloads.size() && run.reloads[reloadsMarked].firstFrame <= upToFrame;
         ++reloadsMarked) {
      out += "\nReload " + std::to_string(reloadsMarked + 1) + " of " +
             std::to_string(run.reloads.size()) + " starts at frame " +
             std::to_string(run.reloads[reloadsMarked].firstFrame) + "\n";
    }
  };
  // A frame like the one before it is summed up in a line; a long run of them in one line. The
  // frames left out between two kept ones are like the one kept before them.
  constexpr std::uint64_t linesPerRun = 10;
  const auto leftOut = [&](std::uint64_t first, std::uint64_t last, const std::string& rest) {
    if (last - first < linesPerRun) {
      for (std::uint64_t n = first; n <= last; ++n) {
        out += "Frame " + std::to_string(n) + rest + ", the same table as the frame before\n";
      }
    } else {
      out += "Frames " + std::to_string(first) + " to " + std::to_string(last) + rest +
             " each, the same table as the frame before\n";
    }
  };
  std::string previous;
  std::string previousHeading;
  std::uint64_t previousNumber = 0;
  for (std::size_t i = 0; i < state.frames.size(); ++i) {
    const std::uint64_t number = state.frames[i].number;
    if (number > previousNumber + 1 && previousNumber != 0) {
      const std::string rest = previousHeading.substr(previousHeading.find(':'));
      // A reload that starts among the frames left out splits them where it starts.
      for (std::uint64_t first = previousNumber + 1; first < number;) {
        markReloads(first);
        std::uint64_t last = number - 1;
        if (reloadsMarked < run.reloads.size()) {
          last = std::min(last, run.reloads[reloadsMarked].firstFrame - 1);
        }
        leftOut(first, last, rest);
        first = last + 1;
      }
    }
    markReloads(number);
    std::string table = frameTable(state, i);
    const std::size_t heading = table.find('\n');
    const std::string body = table.substr(heading);
    if (body == previous) {
      out += table.substr(0, heading) + ", the same table as the frame before\n";
    } else {
      out += "\n" + table;
    }
    previous = body;
    previousHeading = table.substr(0, heading);
    previousNumber = number;
  }
  markReloads(UINT64_MAX);  // loads that ran no frame
  out += "\n" + totalsText(state);
  out += "\nHost calls from the plug-in:\n";
  for (const Registration& call : host().registrationLog) {
    out += "  " + call.operation + "(";
    if (call.operation.find("script") == 0) {
      out += "module " + hex(call.module);
      if (call.function != 0) out += ", entry " + hex(call.function);
    } else {
      out += "handler " + hex(call.function);
    }
    out += ")\n";
  }
  out += "Keyboard events sent: " + std::to_string(run.keyboardEvents) + "\n";
  const std::vector<std::uint64_t>& unknown = host().unknownNatives;
  if (!unknown.empty()) {
    out += "UNKNOWN NATIVES called: " + std::to_string(host().unknownNativeCount) + ", first " +
           hex(unknown.front()) + "\n";
  }
  for (const std::string& error : state.protocolErrors) out += "PROTOCOL ERROR: " + error + "\n";
  return out;
}

}  // namespace sim
