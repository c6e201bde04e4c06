#include "report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace sim {

namespace {

constexpr int svgWidth = 960;
constexpr int svgHeight = 540;
constexpr int legendHeight = 76;  // the strip under the view: legend, peds out of view, caption

// The game's world-to-screen query: the plug-in asks it for every label it means to draw.
constexpr std::uint64_t worldToScreenNative = 0xCB50D7AFCC8B0EC6;

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

// Why a treated ped got no label, judged as the plug-in judges it from the game's answers.
std::string missingLabelReason(const FrameRecord& frame, const Scene& scene, std::size_t index) {
  const bool asked =
      std::any_of(frame.nativeCalls.begin(), frame.nativeCalls.end(),
                  [](const auto& call) { return call.first == worldToScreenNative; });
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
            ? (frame.actors[i].accuracySets > 0 ? "none: " + missingLabelReason(frame, scene, i)
                                                : "-")
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

namespace {

// A text's box on the picture, estimated from its size: sans-serif letters are about 0.6 em wide.
struct Box {
  double left, top, right, bottom;
  bool overlaps(const Box& other) const {
    return left < other.right && other.left < right && top < other.bottom && other.top < bottom;
  }
};

Box textBox(double x, double baseline, double size, std::size_t letters, const char* anchor) {
  const double width = 0.6 * size * static_cast<double>(letters);
  const double left = anchor[0] == 'm' ? x - width / 2 : anchor[0] == 'e' ? x - width : x;
  return {left, baseline - 0.8 * size, left + width, baseline + 0.25 * size};
}

std::string svgText(double x, double y, double size, const char* anchor, const std::string& fill,
                    const std::string& text) {
  return "  <text x=\"" + fixed(x, 1) + "\" y=\"" + fixed(y, 1) + "\" font-size=\"" +
         fixed(size, 0) + "\" text-anchor=\"" + anchor + "\" fill=\"" + fill + "\">" +
         xmlText(text) + "</text>\n";
}

std::string svgDot(double x, double y, const char* fill) {
  return "  <circle cx=\"" + fixed(x, 1) + "\" cy=\"" + fixed(y, 1) + "\" r=\"6\" fill=\"" + fill +
         "\" stroke=\"#ffffff\" stroke-width=\"1.5\"/>\n";
}

// Where an actor outside the picture is, seen from the camera.
std::string outOfViewPlace(const ScreenPoint& point) {
  if (!point.inFront) return "behind the camera";
  if (point.x < 0.0f) return "off to the left";
  if (point.x > 1.0f) return "off to the right";
  return point.y < 0.0f ? "above the view" : "below the view";
}

}  // namespace

std::string frameSvg(const WorldState& state, std::size_t frameIndex) {
  const Scene& scene = state.scene;
  const FrameRecord* frame = frameIndex < state.frames.size() ? &state.frames[frameIndex] : nullptr;
  const int w = svgWidth;
  const int h = svgHeight;
  const int total = h + legendHeight;
  std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(w) +
                    "\" height=\"" + std::to_string(total) + "\" viewBox=\"0 0 " +
                    std::to_string(w) + " " + std::to_string(total) +
                    "\" font-family=\"sans-serif\">\n";
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

  // The labels exactly where the plug-in drew them, first: the dots go on top of them and the
  // names where no label covers them.
  std::vector<Box> taken;
  if (frame != nullptr) {
    for (const Label& label : frame->labels) {
      const double x = label.x * w;
      const double y = label.y * h;
      const double size = 60.0 * label.scale[1];
      out +=
          svgText(x, y, size, "middle",
                  "rgb(" + std::to_string(label.colour[0]) + "," + std::to_string(label.colour[1]) +
                      "," + std::to_string(label.colour[2]) + ")",
                  label.text);
      if (std::isfinite(x) && std::isfinite(y)) {
        taken.push_back(textBox(x, y, size, label.text.size(), "middle"));
      }
    }
  }
  struct Shown {
    std::size_t index;
    double x, y;
  };
  std::vector<Shown> shown;
  std::string outOfView;
  for (std::size_t i = 0; i < scene.actors.size(); ++i) {
    const Actor& actor = scene.actors[i];
    const bool treated = frame != nullptr && frame->actors[i].accuracySets > 0;
    const ScreenPoint point = projectToScreen(scene, actor.position);
    if (!point.inFront ||
        !(point.x >= 0.0f && point.x <= 1.0f && point.y >= 0.0f && point.y <= 1.0f)) {
      if (treated) {
        outOfView += (outOfView.empty() ? "" : ", ") + actor.name + " (accuracy " +
                     std::to_string(frame->actors[i].accuracy) + ", " + outOfViewPlace(point) + ")";
      }
      continue;
    }
    shown.push_back({i, point.x * w, point.y * h});
    taken.push_back({point.x * w - 7, point.y * h - 7, point.x * w + 7, point.y * h + 7});
  }
  for (const Shown& dot : shown) {
    const bool treated = frame != nullptr && frame->actors[dot.index].accuracySets > 0;
    const char* colour = dot.index == 0 ? "#2b6cb0" : treated ? "#333333" : "#808080";
    out += svgDot(dot.x, dot.y, colour);
    // Under the dot if nothing is there, else beside it, else above it.
    const std::string& name = scene.actors[dot.index].name;
    const struct {
      double dx, dy;
      const char* anchor;
    } places[] = {{0, 20, "middle"}, {10, 4, "start"}, {-10, 4, "end"}, {0, -11, "middle"}};
    const auto* place = std::begin(places);
    for (const auto* candidate = std::begin(places); candidate != std::end(places); ++candidate) {
      const Box box =
          textBox(dot.x + candidate->dx, dot.y + candidate->dy, 12, name.size(), candidate->anchor);
      const bool clear = std::none_of(taken.begin(), taken.end(), [&](const Box& other) {
        // Its own dot is no obstacle.
        return other.overlaps(box) && !(other.left == dot.x - 7 && other.top == dot.y - 7);
      });
      if (clear) {
        place = candidate;
        break;
      }
    }
    out += svgText(dot.x + place->dx, dot.y + place->dy, 12, place->anchor, colour, name);
    taken.push_back(textBox(dot.x + place->dx, dot.y + place->dy, 12, name.size(), place->anchor));
  }

  // The legend, under the view.
  const int strip = h;
  out += "  <rect y=\"" + std::to_string(strip) + "\" width=\"" + std::to_string(w) +
         "\" height=\"" + std::to_string(legendHeight) + "\" fill=\"#ffffff\"/>\n";
  const double row1 = strip + 20;
  out += svgDot(16, row1 - 4, "#333333") +
         svgText(28, row1, 13, "start", "#333", "treated: the plug-in set its accuracy");
  out += svgDot(290, row1 - 4, "#808080") + svgText(302, row1, 13, "start", "#333", "not treated");
  out += svgDot(400, row1 - 4, "#2b6cb0") + svgText(412, row1, 13, "start", "#333", "the player");
  out += svgText(560, row1, 18, "start", "rgb(255,0,0)", "Accuracy: N") +
         svgText(672, row1, 13, "start", "#333", "a label where the plug-in drew it");
  const double row2 = strip + 44;
  out += svgText(8, row2, 13, "start", "#333",
                 outOfView.empty() ? "Every treated ped is in view."
                                   : "Treated, out of view: " + outOfView + ".");
  out += svgText(8, strip + 66, 13, "start", "#333",
                 "Scene \"" + scene.name + "\", frame " +
                     std::to_string(frame != nullptr ? frame->number : frameIndex + 1) +
                     ", the player's view");
  out += "</svg>\n";
  return out;
}

}  // namespace sim
