// The replay world: the world's record of each frame, with every answer taken from a capture of
// the real game, a pass at a time, over the cast read from it first (replay_cast.cpp), judged by
// the captured accuracies or an expectation file's (replay_expectation.cpp). The world notes what
// each answer tells of the ped asked about as it does for a scene's answers (answer_notes.cpp);
// the replay notes only the accuracies set and the labels, to judge each pass against the
// captured plug-in's.
#include "replay_world.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "files.h"
#include "natives.h"
#include "replay_cast.h"
#include "replay_expectation.h"
#include "report_text.h"
#include "world_live.h"

namespace sim {

namespace {

// Natives the plug-in reads nothing back from: one the capture lacks (an accuracy it now sets
// otherwise) is no question left unanswered.
constexpr std::uint64_t commandHashes[] = {
    natives::setAccuracyNative,   natives::pedFirstSettingNative, natives::pedSecondSettingNative,
    natives::releasePedSetNative, natives::textColourNative,      natives::textScaleNative,
    natives::drawTextNative};

// Every out-parameter the plug-in passes is a 32-bit value (a weapon hash, a screen coordinate):
// a capture saying the game wrote more is not written past it.
constexpr std::size_t outputBytes = 4;
constexpr std::size_t unansweredKept = 50;

// A call as the capture and the live plug-in both describe it: the hash, then each slot's kind
// and its value or text; an output counts only as "an output".
void addSlot(std::string& key, CapturedSlot::Kind kind, std::uint64_t value, const char* text) {
  key += static_cast<char>(kind);
  if (kind == CapturedSlot::Kind::value) {
    key.append(reinterpret_cast<const char*>(&value), sizeof value);
  } else if (kind == CapturedSlot::Kind::text) {
    key.append(text).push_back('\0');
  }
}

std::string keyOf(const CapturedCall& call) {
  std::string key(reinterpret_cast<const char*>(&call.hash), sizeof call.hash);
  for (const CapturedSlot& slot : call.slots) {
    addSlot(key, slot.kind, slot.value, slot.text.c_str());
  }
  return key;
}

CapturedSlot::Kind liveKind(const NativeContext& call, std::size_t slot) {
  if (call.slot(slot) == 0) return CapturedSlot::Kind::value;
  if (static_cast<int>(slot) == textSlotOf(call.hash)) return CapturedSlot::Kind::text;
  return (addressSlotsOf(call.hash) >> slot & 1u) != 0 ? CapturedSlot::Kind::output
                                                       : CapturedSlot::Kind::value;
}

std::string keyOf(const NativeContext& call) {
  std::string key(reinterpret_cast<const char*>(&call.hash), sizeof call.hash);
  for (std::size_t i = 0; i < call.slotCount; ++i) {
    const CapturedSlot::Kind kind = liveKind(call, i);
    addSlot(key, kind, call.slot(i),
            kind == CapturedSlot::Kind::text ? call.pointerSlot<const char>(i) : nullptr);
  }
  return key;
}

// The answers to one question within a pass: the i-th asking gets the i-th, then the last.
struct Asked {
  std::vector<const CapturedCall*> answers;
  std::size_t next = 0;
};

std::string numberText(float value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text - 1, value).ptr;
  *end = '\0';
  return text;
}

std::string settingsText(const CaptureInfo& info, const ReplayOptions& options) {
  return std::string("[Debug]\nDisplayAccuracy = ") +
         (options.displayAccuracy.value_or(info.displayAccuracy) ? "true" : "false") +
         "\n\n[Settings]\nAngle = " + numberText(options.angle.value_or(info.angleLeniency)) + "\n";
}

// The replay's own state beside the world's.
struct ReplayState {
  ReplayRecord record;
  CaptureReader reader;
  CapturedPass pass;                             // the pass running, read last
  std::unordered_map<std::string, Asked> asked;  // its answers by question
  ReplayRecord::PassNotes notes;                 // its notes so far
  Expectation expectation;
  std::uint64_t passes = 0;  // in the capture
  long lastTreated = -1;     // the ped whose accuracy was set last
  std::uint64_t lastClosed = 0;
  bool lastChanged = false;  // it was unlike the pass before it
};
std::unique_ptr<ReplayState> replay;

std::uint64_t passNow() { return world().totals.frames + 1; }

// The native by the name the plug-in's sources give it, or its hash for one the game does not know.
std::string nativeName(std::uint64_t hash) {
  const char* name = natives::nameOf(hash);
  return name != nullptr ? name : hex(hash);
}

std::string questionText(const NativeContext& call) {
  std::string text = "pass " + std::to_string(passNow()) + ": " + nativeName(call.hash) + "(";
  for (std::size_t i = 0; i < call.slotCount; ++i) {
    if (i > 0) text += ", ";
    switch (liveKind(call, i)) {
      case CapturedSlot::Kind::text:
        text += "\"" + std::string(call.pointerSlot<const char>(i)) + "\"";
        break;
      case CapturedSlot::Kind::output: text += "output"; break;
      case CapturedSlot::Kind::value: text += std::to_string(call.intSlot(i)); break;
    }
  }
  return text + ")";
}

// The captured answer to this call, or null: the question is then named in the record.
const CapturedCall* capturedAnswer(const NativeContext& call) {
  ReplayState& state = *replay;
  if (const auto found = state.asked.find(keyOf(call)); found != state.asked.end()) {
    Asked& asked = found->second;
    const CapturedCall* answer = asked.answers[std::min(asked.next, asked.answers.size() - 1)];
    ++asked.next;
    return answer;
  }
  if (std::find(std::begin(commandHashes), std::end(commandHashes), call.hash) ==
      std::end(commandHashes)) {
    ReplayRecord& record = state.record;
    if (record.unanswered.size() < unansweredKept) record.unanswered.push_back(questionText(call));
    ++record.unansweredCount;
  }
  return nullptr;
}

// What only a replay notes: the accuracies set in the pass in their order, and which ped each
// label is drawn for (the ped treated last). The world notes the rest after the answer.
void noteForReplay(const NativeContext& call) {
  ReplayState& state = *replay;
  switch (call.hash) {
    case natives::createPedSetNative: state.lastTreated = -1; break;
    // The game's sets are its own: whether one was released is as the plug-in said.
    case natives::releasePedSetNative:
      world().current.setsReleased.push_back(call.intSlot(0));
      break;
    case natives::setAccuracyNative:
      if (const long actor = actorOf(call.intSlot(0)); actor >= 0) {
        state.notes.now.push_back({static_cast<std::size_t>(actor), call.intSlot(1)});
        state.lastTreated = actor;
      }
      break;
    case natives::drawTextNative:
      if (state.lastTreated >= 0) {
        state.notes.labels.push_back({static_cast<std::size_t>(state.lastTreated),
                                      static_cast<std::int32_t>(world().current.labels.size())});
      }
      break;
    default: break;
  }
}

void answerFromCapture(const NativeContext& call) {
  std::array<std::uint64_t, 3> answer{};
  if (const CapturedCall* captured = capturedAnswer(call)) {
    answer = captured->answer;
    for (std::size_t i = 0; i < call.slotCount && i < captured->slots.size(); ++i) {
      const CapturedSlot& slot = captured->slots[i];
      auto* address = call.pointerSlot<std::uint8_t>(i);
      if (slot.kind != CapturedSlot::Kind::output || address == nullptr || slot.written.empty()) {
        continue;
      }
      std::memcpy(address, slot.written.data(), std::min(slot.written.size(), outputBytes));
    }
  } else if (call.hash == natives::boneIndexNative) {
    answer[0] = static_cast<std::uint32_t>(-1);
  }
  noteForReplay(call);
  std::copy(answer.begin(), answer.end(), call.result);
}

// The next pass's answers in place of the last one's, and the accuracies the captured plug-in
// set in it. After the last pass there is nothing to answer from.
void loadNextPass() {
  ReplayState& state = *replay;
  state.asked.clear();
  if (!state.reader.nextPass(state.pass)) {
    state.pass.calls.clear();
    if (state.record.readError.empty()) state.record.readError = state.reader.error();
    return;
  }
  for (const CapturedCall& call : state.pass.calls) {
    state.asked[keyOf(call)].answers.push_back(&call);
    if (call.hash == natives::setAccuracyNative && call.slots.size() == 2) {
      const long actor = actorOf(low(call.slots[0].value));
      if (actor >= 0) {
        state.notes.captured.push_back({static_cast<std::size_t>(actor), low(call.slots[1].value)});
      }
    }
  }
}

// A ped's accuracies in a pass, by handle, each ped's in the order set.
struct Keyed {
  Entity ped;
  std::int32_t value;
};

std::vector<Keyed> keyed(const std::vector<ActorValue>& values) {
  std::vector<Keyed> out;
  out.reserve(values.size());
  for (const ActorValue& value : values) {
    out.push_back({replay->record.handles[value.actor], value.value});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const Keyed& a, const Keyed& b) { return a.ped < b.ped; });
  return out;
}

// Counts the accuracies of one pass against those they should be, ped by ped and set by set: a
// set on one side the other lacks differs too. True when any differs.
bool compare(const std::vector<Keyed>& now, const std::vector<Keyed>& other, std::uint64_t pass,
             Comparison& totals) {
  std::uint64_t differing = 0;
  for (std::size_t a = 0, b = 0; a < now.size() || b < other.size();) {
    const Entity ped = b == other.size() || (a < now.size() && now[a].ped < other[b].ped)
                           ? now[a].ped
                           : other[b].ped;
    std::uint64_t pedDiffers = 0;
    while (a < now.size() && now[a].ped == ped && b < other.size() && other[b].ped == ped) {
      ++totals.compared;
      pedDiffers += now[a++].value != other[b++].value ? 1 : 0;
    }
    for (; a < now.size() && now[a].ped == ped; ++a, ++totals.compared) ++pedDiffers;
    for (; b < other.size() && other[b].ped == ped; ++b, ++totals.compared) ++pedDiffers;
    if (pedDiffers != 0 && totals.firstPass == 0) {
      totals.firstPass = pass;
      totals.firstPed = ped;
    }
    differing += pedDiffers;
  }
  totals.differing += differing;
  if (differing != 0) ++totals.passesDiffering;
  return differing != 0;
}

// "pass P ped H: V, V" for each ped today's plug-in set an accuracy on, in the scene's order.
std::string expectationLines(std::uint64_t pass, const std::vector<ActorValue>& now) {
  std::vector<ActorValue> sorted = now;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const ActorValue& a, const ActorValue& b) { return a.actor < b.actor; });
  std::string out;
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    const bool first = i == 0 || sorted[i - 1].actor != sorted[i].actor;
    if (first) {
      out += (i == 0 ? "" : "\n") + std::string("pass ") + std::to_string(pass) + " ped " +
             std::to_string(replay->record.handles[sorted[i].actor]) + ": ";
    } else {
      out += ", ";
    }
    out += std::to_string(sorted[i].value);
  }
  return out.empty() ? out : out + "\n";
}

// As each pass closes: its accuracies judged, its notes kept while the world keeps its frame,
// and the next pass's answers read in. A pass that differs is kept whatever the world's rule.
bool closePass(const FrameRecord& frame) {
  ReplayState& state = *replay;
  ReplayRecord& record = state.record;
  ReplayRecord::PassNotes notes = std::move(state.notes);
  state.notes = {};
  const std::uint64_t pass = frame.number;
  const std::vector<Keyed> now = keyed(notes.now);
  notes.differs = compare(now, keyed(notes.captured), pass, record.captured);
  if (!record.options.expectPath.empty()) {
    std::vector<Keyed> expected;
    if (const auto found = state.expectation.find(pass); found != state.expectation.end()) {
      for (const auto& [ped, value] : found->second) {
        expected.push_back({ped, value});
        if (const long actor = actorOf(ped); actor >= 0) {
          notes.expected.push_back({static_cast<std::size_t>(actor), value});
        }
      }
      state.expectation.erase(found);
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const Keyed& a, const Keyed& b) { return a.ped < b.ped; });
    notes.differsExpected = compare(now, expected, pass, record.expected);
    // Expected accuracies for passes past the capture's last are never met: they differ too.
    if (pass == state.passes) {
      for (const auto& [later, values] : state.expectation) {
        std::vector<Keyed> missed;
        for (const auto& [ped, value] : values) missed.push_back({ped, value});
        std::stable_sort(missed.begin(), missed.end(),
                         [](const Keyed& a, const Keyed& b) { return a.ped < b.ped; });
        compare({}, missed, later, record.expected);
      }
      state.expectation.clear();
    }
  }
  if (record.options.accept) record.expectationText += expectationLines(pass, notes.now);
  // The pass closed before this one: its notes go unless the world kept its frame.
  const std::vector<FrameRecord>& frames = world().frames;
  if (state.lastClosed != 0 && (frames.empty() || frames.back().number != state.lastClosed)) {
    record.kept.erase(state.lastClosed);
    if (state.lastChanged) record.unlikeBeforeNotShown.push_back(state.lastClosed);
  }
  const FrameRecord& before = world().previous;  // the world takes this frame's place after us
  state.lastChanged = before.number != 0 && !sameFrame(frame, before);
  const bool differs = notes.differs || notes.differsExpected;
  record.kept[pass] = std::move(notes);
  state.lastClosed = pass;
  loadNextPass();
  return differs;
}

}  // namespace

std::string installReplay(const std::string& path, const std::string& name,
                          const ReplayOptions& options, std::uint32_t& passes) {
  auto state = std::make_unique<ReplayState>();
  CaptureReader& reader = state->reader;
  if (!reader.openFile(path)) return reader.error();
  // Read through once for the cast: every block is checked before any pass is acted on.
  CastBuilder cast;
  std::uint64_t count = 0;
  while (reader.nextPass(state->pass)) {
    cast.add(state->pass);
    ++count;
  }
  if (!reader.error().empty()) return reader.error();
  if (count == 0 || count > INT32_MAX) {
    return "holds " + std::to_string(count) + " passes, nothing to replay";
  }
  // As many as the largest crowd: every frame keeps a record per ped.
  constexpr std::size_t mostPeds = 100000;
  if (cast.handles().size() > mostPeds + 1) {
    return "names " + std::to_string(cast.handles().size() - 1) + " peds, more than the " +
           std::to_string(mostPeds) + " the simulated game holds";
  }
  ReplayRecord& record = state->record;
  if (!options.expectPath.empty()) {
    std::string bytes;
    std::string wrong = readExpectation(options.expectPath, options.accept, bytes);
    if (wrong.empty()) wrong = parseExpectation(bytes, state->expectation);
    if (!wrong.empty()) return "expectation " + options.expectPath + ": " + wrong;
  }
  record.ending = reader.ending();
  if (!reader.rewind()) return reader.error();
  record.name = name;
  record.info = reader.info();
  record.options = options;
  record.settingsText = settingsText(record.info, options);
  record.handles = cast.handles();
  installWorld(cast.scene(name, record.settingsText));
  // A native the world does not know is still answered as the game answered it.
  for (const std::uint64_t hash : cast.hashes()) {
    if (host().handlers.find(hash) == nullptr) answer(hash, answerFromCapture);
  }
  answerFrom(answerFromCapture);
  onFrameClose(closePass);
  state->passes = count;
  replay = std::move(state);
  loadNextPass();
  passes = static_cast<std::uint32_t>(count);
  return "";
}

const ReplayRecord& replayRecord() {
  static const ReplayRecord none;
  return replay == nullptr ? none : replay->record;
}

bool replayDiffers() {
  if (replay == nullptr || replay->record.options.accept) return false;
  const ReplayRecord& record = replay->record;
  return (record.options.expectPath.empty() ? record.captured : record.expected).differing != 0;
}

bool isReplaySettingsFile(std::string_view bytes) {
  constexpr std::string_view start = "[Debug]\nDisplayAccuracy = ";
  constexpr std::string_view angle = "\n\n[Settings]\nAngle = ";
  if (bytes.substr(0, start.size()) != start) return false;
  bytes.remove_prefix(start.size());
  CaptureInfo info;
  if (bytes.substr(0, 4) == "true") {
    info.displayAccuracy = true;
  } else if (bytes.substr(0, 5) != "false") {
    return false;
  }
  bytes.remove_prefix(info.displayAccuracy ? 4 : 5);
  if (bytes.substr(0, angle.size()) != angle) return false;
  bytes.remove_prefix(angle.size());
  const std::string number(bytes.substr(0, bytes.find('\n')));
  info.angleLeniency = std::strtof(number.c_str(), nullptr);
  return settingsText(info, {}) == std::string(start) + (info.displayAccuracy ? "true" : "false") +
                                       std::string(angle) + number +
                                       std::string(bytes.substr(number.size()));
}

}  // namespace sim
