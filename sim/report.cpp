#include "report.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace sim {

namespace {

constexpr int svgWidth = 960;
constexpr int svgHeight = 540;

std::string hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// Shortest text that reads back as the same number: both builds print the same bits alike.
template <typename Number>
std::string number(Number value) {
  if (!std::isfinite(value)) return "null";
  char text[40];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string fixed(double value, int decimals) {
  char text[40];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string xmlText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

double distanceBetween(const Vector3& a, const Vector3& b) {
  const double dx = static_cast<double>(a.x) - b.x;
  const double dy = static_cast<double>(a.y) - b.y;
  const double dz = static_cast<double>(a.z) - b.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

std::string labelJson(const Label& label) {
  return "{\"text\": " + quoted(label.text) + ", \"x\": " + number(label.x) +
         ", \"y\": " + number(label.y) + ", \"colour\": [" + std::to_string(label.colour[0]) +
         ", " + std::to_string(label.colour[1]) + ", " + std::to_string(label.colour[2]) + ", " +
         std::to_string(label.colour[3]) + "], \"scale\": [" + number(label.scale[0]) + ", " +
         number(label.scale[1]) + "]}";
}

std::string intList(const std::vector<std::int32_t>& values) {
  std::string out = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    out += (i == 0 ? "" : ", ") + std::to_string(values[i]);
  }
  return out + "]";
}

// What the table says about an actor in a frame.
std::string outcome(const WorldState& state, const FrameRecord& frame, std::size_t index) {
  const ActorFrame& actor = frame.actors[index];
  const std::string reason = expectedSkipReason(state.scene, index);
  if (actor.accuracySets == 0) {
    if (!reason.empty()) return "none: " + reason;
    return "none (the scene expects one)";
  }
  std::string text = std::to_string(actor.accuracy);
  if (actor.accuracySets > 1) text += " (set " + std::to_string(actor.accuracySets) + " times)";
  if (!reason.empty()) text += " (unexpected: " + reason + ")";
  return text;
}

void padded(std::string& out, const std::string& text, std::size_t width) {
  out += text;
  if (text.size() < width) out.append(width - text.size(), ' ');
  out += "  ";
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
    const double misalignment = barrelMisalignment(scene, i);
    const Label* label = labelOf(frame, scene, i);
    rows.push_back({
        actor.name,
        actor.weapon.empty() ? "-" : actor.weapon + " (" + actor.model + ")",
        target == nullptr ? "-" : target->name,
        target == nullptr ? "-"
                          : fixed(distanceBetween(actor.position, target->position), 1) + " m",
        fixed(distanceBetween(actor.position, scene.actors[0].position), 1) + " m",
        misalignment < 0.0 || actor.weapon.empty() ? "-" : fixed(misalignment, 2) + " deg",
        outcome(state, frame, i),
        label == nullptr
            ? "-"
            : "\"" + label->text + "\" at " + fixed(label->x, 3) + ", " + fixed(label->y, 3),
    });
  }
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  std::string out =
      "Frame " + std::to_string(frame.number) + ": " + std::to_string(frame.natives) +
      " native calls, " + std::to_string(frame.labels.size()) + " labels, " +
      (frame.endsWithReleaseThenWait
           ? "set released, then scriptWait(" + std::to_string(frame.waitMilliseconds) + ")"
           : "NOT ended by the set release and the wait") +
      "\n";
  for (const auto& row : rows) {
    out += "  ";
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c + 1 == row.size()) {
        out += row[c];
      } else {
        padded(out, row[c], widths[c]);
      }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    out += "\n";
  }
  return out;
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
  // A frame like the one before it is summed up in a line; a long run of them in one line. The
  // frames left out between two kept ones are like the one kept before them.
  constexpr std::uint64_t linesPerRun = 10;
  std::string previous;
  std::string previousHeading;
  std::uint64_t previousNumber = 0;
  for (std::size_t i = 0; i < state.frames.size(); ++i) {
    const std::uint64_t number = state.frames[i].number;
    if (number > previousNumber + 1 && previousNumber != 0) {
      const std::string rest = previousHeading.substr(previousHeading.find(':'));
      if (number - previousNumber - 1 <= linesPerRun) {
        for (std::uint64_t n = previousNumber + 1; n < number; ++n) {
          out += "Frame " + std::to_string(n) + rest + ", the same table as the frame before\n";
        }
      } else {
        out += "Frames " + std::to_string(previousNumber + 1) + " to " +
               std::to_string(number - 1) + rest + " each, the same table as the frame before\n";
      }
    }
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

std::string resultsJson(const WorldState& state, const RunInfo& run) {
  const Scene& scene = state.scene;
  std::string out = "{\n  \"scene\": " + quoted(scene.name) +
                    ",\n  \"framesRequested\": " + std::to_string(run.framesRequested) +
                    ",\n  \"keyboardEvents\": " + std::to_string(run.keyboardEvents) +
                    ",\n  \"modules\": [";
  for (std::size_t i = 0; i < run.modules.size(); ++i) {
    out += std::string(i == 0 ? "" : ", ") + "{\"file\": " + quoted(run.modules[i].file) +
           ", \"module\": " + quoted(hex(run.modules[i].module)) + "}";
  }
  out += "],\n  \"registrations\": [";
  const std::vector<Registration>& log = host().registrationLog;
  for (std::size_t i = 0; i < log.size(); ++i) {
    out += std::string(i == 0 ? "\n    " : ",\n    ") +
           "{\"operation\": " + quoted(log[i].operation) +
           ", \"module\": " + quoted(hex(log[i].module)) +
           ", \"function\": " + quoted(hex(log[i].function)) + "}";
  }
  out += "],\n  \"unknownNatives\": [";
  const std::vector<std::uint64_t>& unknown = host().unknownNatives;
  for (std::size_t i = 0; i < unknown.size() && i < 50; ++i) {
    out += (i == 0 ? "" : ", ") + quoted(hex(unknown[i]));
  }
  out += "],\n  \"protocolErrors\": [";
  for (std::size_t i = 0; i < state.protocolErrors.size(); ++i) {
    out += (i == 0 ? "" : ", ") + quoted(state.protocolErrors[i]);
  }
  const RunTotals& totals = state.totals;
  out += "],\n  \"totals\": {\"frames\": " + std::to_string(totals.frames) +
         ", \"natives\": " + std::to_string(totals.natives) +
         ", \"labels\": " + std::to_string(totals.labels) +
         ", \"accuracySets\": " + std::to_string(totals.accuracySets) +
         ", \"saveLoads\": " + std::to_string(totals.saveLoads) +
         ", \"protocolErrors\": " + std::to_string(totals.protocolErrors) +
         ", \"unknownNatives\": " + std::to_string(totals.unknownNatives) +
         ", \"changedFrames\": " + std::to_string(totals.changedFrames) +
         ", \"firstChangedFrame\": " + std::to_string(totals.firstChangedFrame) + "}";
  out += ",\n  \"saveLoads\": [";
  for (std::size_t i = 0; i < state.saveLoads.size(); ++i) {
    const SaveLoadRecord& load = state.saveLoads[i];
    out += std::string(i == 0 ? "\n    " : ",\n    ") +
           "{\"frame\": " + std::to_string(load.frame) +
           ", \"settingsFile\": " + std::to_string(load.settingsFile) +
           ", \"labels\": " + std::to_string(load.labels) +
           ", \"treated\": " + std::to_string(load.treated) +
           ", \"accuracySum\": " + std::to_string(load.accuracySum) + "}";
  }
  out += "],\n  \"frames\": [";
  for (std::size_t f = 0; f < state.frames.size(); ++f) {
    const FrameRecord& frame = state.frames[f];
    out += std::string(f == 0 ? "\n" : ",\n") + "    {\"frame\": " + std::to_string(frame.number) +
           ", \"natives\": " + std::to_string(frame.natives) +
           ", \"unknownNatives\": " + std::to_string(frame.unknownNatives) +
           ", \"setsCreated\": " + intList(frame.setsCreated) +
           ", \"setsReleased\": " + intList(frame.setsReleased) +
           ", \"lastNative\": " + quoted(hex(frame.lastNative)) +
           ", \"endsWithReleaseThenWait\": " + (frame.endsWithReleaseThenWait ? "true" : "false") +
           ", \"waitMilliseconds\": " + std::to_string(frame.waitMilliseconds) +
           ",\n     \"nativeCalls\": {";
    for (std::size_t c = 0; c < frame.nativeCalls.size(); ++c) {
      out += (c == 0 ? "" : ", ") + quoted(hex(frame.nativeCalls[c].first)) + ": " +
             std::to_string(frame.nativeCalls[c].second);
    }
    out += "},\n     \"labels\": [";
    for (std::size_t l = 0; l < frame.labels.size(); ++l) {
      out += (l == 0 ? "" : ", ") + labelJson(frame.labels[l]);
    }
    out += "],\n     \"peds\": [";
    for (std::size_t i = 0; i < scene.actors.size(); ++i) {
      const Actor& actor = scene.actors[i];
      const ActorFrame& record = frame.actors[i];
      const Label* label = labelOf(frame, scene, i);
      out += std::string(i == 0 ? "\n" : ",\n") + "       {\"name\": " + quoted(actor.name) +
             ", \"handle\": " + std::to_string(handleOf(scene, i)) +
             ", \"weapon\": " + quoted(actor.weapon) + ", \"model\": " + quoted(actor.model) +
             ", \"target\": " + quoted(actor.target) + ", \"aimError\": " + number(actor.aimError) +
             ", \"inSet\": " + (record.inSet ? "true" : "false") +
             ", \"accuracy\": " + std::to_string(record.accuracy) +
             ", \"accuracySets\": " + std::to_string(record.accuracySets) +
             ", \"settingCalls\": [" + std::to_string(record.settingCalls[0]) + ", " +
             std::to_string(record.settingCalls[1]) + "], \"settingValues\": [" +
             number(record.settingValues[0]) + ", " + number(record.settingValues[1]) +
             "], \"label\": " + (label == nullptr ? "null" : labelJson(*label)) +
             ", \"expectedSkip\": " + quoted(expectedSkipReason(scene, i)) + "}";
    }
    out += "]}";
  }
  out += "\n  ]\n}\n";
  return out;
}

std::string frameSvg(const WorldState& state, std::size_t frameIndex) {
  const Scene& scene = state.scene;
  const FrameRecord* frame = frameIndex < state.frames.size() ? &state.frames[frameIndex] : nullptr;
  const int w = svgWidth;
  const int h = svgHeight;
  std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(w) +
                    "\" height=\"" + std::to_string(h) + "\" viewBox=\"0 0 " + std::to_string(w) +
                    " " + std::to_string(h) + "\" font-family=\"sans-serif\">\n";
  // The horizon is where the ground far ahead at eye height projects.
  const Vector3 eye = cameraPosition(scene);
  const double dx = scene.camera.lookAt.x - eye.x;
  const double dy = scene.camera.lookAt.y - eye.y;
  const double flat = std::sqrt(dx * dx + dy * dy);
  double horizon = 0.5;
  if (flat > 0.0) {
    const Vector3 distant{static_cast<float>(eye.x + dx / flat * 1e5),
                          static_cast<float>(eye.y + dy / flat * 1e5), eye.z};
    const ScreenPoint point = projectToScreen(scene, distant);
    if (point.inFront) horizon = std::min(1.0, std::max(0.0, static_cast<double>(point.y)));
  }
  const int horizonY = static_cast<int>(horizon * h);
  out += "  <rect width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(horizonY) +
         "\" fill=\"#bcd7ee\"/>\n";
  out += "  <rect y=\"" + std::to_string(horizonY) + "\" width=\"" + std::to_string(w) +
         "\" height=\"" + std::to_string(h - horizonY) + "\" fill=\"#d9c9a3\"/>\n";

  for (std::size_t i = 0; i < scene.actors.size(); ++i) {
    const Actor& actor = scene.actors[i];
    const ScreenPoint point = projectToScreen(scene, actor.position);
    if (!point.inFront || point.x < -0.1f || point.x > 1.1f || point.y < -0.1f || point.y > 1.1f) {
      continue;
    }
    const double x = point.x * w;
    const double y = point.y * h;
    const bool treated = frame != nullptr && frame->actors[i].accuracySets > 0;
    const char* colour = i == 0 ? "#2b6cb0" : treated ? "#333333" : "#999999";
    out += "  <circle cx=\"" + fixed(x, 1) + "\" cy=\"" + fixed(y, 1) + "\" r=\"6\" fill=\"" +
           colour + "\"/>\n";
    out += "  <text x=\"" + fixed(x, 1) + "\" y=\"" + fixed(y + 20, 1) +
           "\" font-size=\"12\" text-anchor=\"middle\" fill=\"" + colour + "\">" +
           xmlText(actor.name) + "</text>\n";
  }
  if (frame != nullptr) {
    for (const Label& label : frame->labels) {
      const double x = label.x * w;
      const double y = label.y * h;
      out += "  <text x=\"" + fixed(x, 1) + "\" y=\"" + fixed(y, 1) + "\" font-size=\"" +
             fixed(60.0 * label.scale[1], 0) + "\" text-anchor=\"middle\" fill=\"rgb(" +
             std::to_string(label.colour[0]) + "," + std::to_string(label.colour[1]) + "," +
             std::to_string(label.colour[2]) + ")\">" + xmlText(label.text) + "</text>\n";
    }
  }
  out += "  <text x=\"8\" y=\"" + std::to_string(h - 8) + "\" font-size=\"13\" fill=\"#333\">" +
         xmlText("Scene \"" + scene.name + "\", frame " +
                 std::to_string(frame != nullptr ? frame->number : frameIndex + 1) +
                 ", the player's view") +
         "</text>\n</svg>\n";
  return out;
}

}  // namespace sim
