// The results of a run as JSON, for the tests and any program that reads them.
#include <charconv>
#include <cmath>

#include "report.h"
#include "report_text.h"

namespace sim {

namespace {

// Shortest text that reads back as the same number: both builds print the same bits alike.
template <typename Number>
std::string number(Number value) {
  if (!std::isfinite(value)) return "null";
  char text[40];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
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

}  // namespace

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

}  // namespace sim
