// The replay world: the world's record of each frame, with every answer taken from a capture of
// the real game. One of the world's answerers, so it shares the world's live state.
#include "replay_world.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <iterator>
#include <unordered_map>
#include <utility>

#include "natives.h"
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

std::int32_t low(std::uint64_t slot) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(slot));
}

Vector3 vectorOf(const std::array<std::uint64_t, 3>& answer) {
  return {lowHalfAsFloat(answer[0]), lowHalfAsFloat(answer[1]), lowHalfAsFloat(answer[2])};
}

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

// What the capture says about the peds, gathered over every pass.
struct Cast {
  std::vector<Entity> handles;  // per actor; actors[0] the player
  Scene scene;
};

Cast castOf(const Capture& capture, const std::string& name) {
  Cast cast;
  std::unordered_map<Entity, std::size_t> index;
  std::unordered_map<Entity, Vector3> positions;
  std::unordered_map<Entity, std::uint32_t> weapons;
  std::unordered_map<Entity, Entity> targets;
  std::unordered_map<std::uint32_t, std::uint32_t> modelKeys;  // weapon hash to model key
  std::unordered_map<std::uint32_t, std::string> names;        // name hash to the name
  Entity player = 0;
  const auto add = [&](Entity handle) {
    if (handle == 0 || handle == -1 || index.count(handle) != 0) return;
    index[handle] = cast.handles.size();
    cast.handles.push_back(handle);
  };
  cast.handles.push_back(0);  // the player's place, filled below
  for (const CapturedPass& pass : capture.passes) {
    for (const CapturedCall& call : pass.calls) {
      const auto slot = [&](std::size_t i) {
        return i < call.slots.size() ? low(call.slots[i].value) : 0;
      };
      const std::int32_t answer = low(call.answer[0]);
      switch (call.hash) {
        case natives::playerPedNative:
          if (player == 0 && answer != 0) {
            player = answer;
            cast.handles[0] = player;
            index[player] = 0;
          }
          break;
        case natives::itemEntityNative: add(answer); break;
        case natives::pedTargetNative:
          add(answer);
          targets[slot(0)] = answer;
          break;
        case natives::entityCoordsNative: positions[slot(0)] = vectorOf(call.answer); break;
        case natives::currentWeaponNative:
          if (answer != 0 && call.slots.size() > 1 && call.slots[1].written.size() >= 4) {
            std::uint32_t hash;
            std::memcpy(&hash, call.slots[1].written.data(), sizeof hash);
            weapons[slot(0)] = hash;
          }
          break;
        case natives::weaponModelKeyNative:
          modelKeys[static_cast<std::uint32_t>(slot(0))] = static_cast<std::uint32_t>(answer);
          break;
        case natives::nameHashNative:
          if (!call.slots.empty()) names[static_cast<std::uint32_t>(answer)] = call.slots[0].text;
          break;
        default: break;
      }
    }
  }
  Scene& scene = cast.scene;
  scene.name = name;
  for (std::size_t i = 0; i < cast.handles.size(); ++i) {
    const Entity handle = cast.handles[i];
    Actor& actor = scene.actors.emplace_back();
    actor.name = i == 0 ? "player" : "ped " + std::to_string(handle);
    if (const auto at = positions.find(handle); at != positions.end()) actor.position = at->second;
    // Names as the plug-in hashed them, else as the game's weapons have them, else the hash.
    if (const auto weapon = weapons.find(handle); weapon != weapons.end()) {
      actor.weapon = hex(weapon->second);
      const GameWeapon* known = nullptr;
      for (const GameWeapon& row : gameWeaponRows()) {
        if (gameNameHash(row.weapon) == weapon->second) known = &row;
      }
      if (known != nullptr) actor.weapon = known->weapon;
      const auto key = modelKeys.find(weapon->second);
      const auto model = key == modelKeys.end() ? names.end() : names.find(key->second);
      if (model != names.end()) {
        actor.model = model->second;
      } else if (known != nullptr) {
        actor.model = known->model;
      } else if (key != modelKeys.end()) {
        actor.model = hex(key->second);
      }
    }
    if (const auto target = targets.find(handle); target != targets.end() && target->second != 0) {
      actor.target = target->second == player ? "player" : "ped " + std::to_string(target->second);
    }
  }
  char angle[32];
  const auto end = std::to_chars(angle, angle + sizeof angle - 1, capture.angleLeniency).ptr;
  *end = '\0';
  scene.hasSettingsFile = true;
  scene.settingsFile = std::string("[Debug]\nDisplayAccuracy = ") +
                       (capture.displayAccuracy ? "true" : "false") +
                       "\n\n[Settings]\nAngle = " + angle + "\n";
  return cast;
}

// The replay's own state beside the world's.
struct ReplayState {
  ReplayRecord record;
  std::vector<std::unordered_map<std::string, Asked>> asked;  // per pass
  std::unordered_map<Entity, long> actorByHandle;
  std::unordered_map<Entity, long> ownerByObject;  // weapon objects, as the game answered them
  std::unordered_map<Entity, Vector3> positions;   // where the game said each stands this pass
  Entity targetHandle = 0;                         // the subject's target, as answered
  long lastTreated = -1;                           // the ped whose accuracy was set last
  Vector3 boneAt[2]{};                             // the subject's barrel points, as answered
  std::int32_t bonesPlaced = 0;
};
ReplayState replay;

long actorWith(std::int32_t handle) {
  const auto found = replay.actorByHandle.find(handle);
  return found == replay.actorByHandle.end() ? -1 : found->second;
}

std::size_t passNow() { return static_cast<std::size_t>(world().totals.frames); }

std::string questionText(const NativeContext& call) {
  std::string text = "pass " + std::to_string(passNow() + 1) + ": " + hex(call.hash) + "(";
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
  const std::size_t pass = passNow();
  if (pass < replay.asked.size()) {
    const auto found = replay.asked[pass].find(keyOf(call));
    if (found != replay.asked[pass].end()) {
      Asked& asked = found->second;
      const CapturedCall* answer = asked.answers[std::min(asked.next, asked.answers.size() - 1)];
      ++asked.next;
      return answer;
    }
  }
  if (std::find(std::begin(commandHashes), std::end(commandHashes), call.hash) ==
      std::end(commandHashes)) {
    ReplayRecord& record = replay.record;
    if (record.unanswered.size() < unansweredKept) record.unanswered.push_back(questionText(call));
    ++record.unansweredCount;
  }
  return nullptr;
}

// What the game's answer tells of the ped asked about, noted in the frame as the world notes
// its own answers, so that the report gives the same reasons.
void noteAnswer(const NativeContext& call, const std::array<std::uint64_t, 3>& answer) {
  Derived& live = derived();
  const std::int32_t value = low(answer[0]);
  const float number = lowHalfAsFloat(answer[0]);
  const bool yes = value != 0;
  const long asked = actorWith(call.intSlot(0));
  switch (call.hash) {
    case natives::entityCoordsNative: replay.positions[call.intSlot(0)] = vectorOf(answer); break;
    case natives::createPedSetNative:
      world().current.setsCreated.push_back(value);
      replay.lastTreated = -1;  // a pass begins: no ped treated in it yet
      break;
    case natives::releasePedSetNative:
      world().current.setsReleased.push_back(call.intSlot(0));
      break;
    case natives::itemEntityNative:
      if (const long index = actorWith(value); index >= 0)
        world().current.actors[index].inSet = true;
      break;
    case natives::pedFirstFilterNative:
      if (live.targetGatePending) {
        live.targetGatePending = false;
        if (!yes) {
          answeredFalse(live.subject, !live.targetAnswered ? FalseGate::noTarget
                                      : asked < 0          ? FalseGate::targetNothing
                                                           : FalseGate::targetFilter);
        }
      } else if (!yes) {
        answeredFalse(asked, FalseGate::filter1);
      }
      break;
    case natives::pedSecondFilterNative:
      if (!yes) answeredFalse(asked, FalseGate::filter2);
      break;
    case natives::pedThirdFilterNative:
      if (!yes) answeredFalse(asked, FalseGate::filter3);
      break;
    case natives::currentWeaponNative:
      live.subject = asked;
      live.subjectTarget = -1;
      live.targetGatePending = false;
      replay.targetHandle = 0;
      replay.bonesPlaced = 0;
      if (!yes) answeredFalse(asked, FalseGate::noWeapon);
      break;
    case natives::weaponFirstGateNative:
      if (!yes) answeredFalse(live.subject, FalseGate::weaponCheck1);
      break;
    case natives::weaponSecondGateNative:
      if (!yes) answeredFalse(live.subject, FalseGate::weaponCheck2);
      break;
    case natives::pedTargetNative:
      live.targetGatePending = true;
      live.targetAnswered = value != 0;
      replay.targetHandle = value;
      live.subjectTarget = actorWith(value);
      break;
    case natives::zeroAccuracyGateNative:
      if (!yes) answeredFalse(asked, FalseGate::targetCheck);
      break;
    case natives::sValueNative:
      if (number < 0.0f && asked >= 0 && asked == live.subject) noteBelowZero(asked, valueP);
      if (number < 0.0f && asked >= 0 && asked == live.subjectTarget) {
        noteBelowZero(live.subject, valueTargetP);
      }
      break;
    case natives::w1ValueNative:
    case natives::w2ValueNative:
    case natives::w3ValueNative:
    case natives::c1ValueNative:
    case natives::c2ValueNative:
      if (number < 0.0f) {
        const GameValue named = call.hash == natives::w1ValueNative   ? valueW1
                                : call.hash == natives::w2ValueNative ? valueW2
                                : call.hash == natives::w3ValueNative ? valueW3
                                : call.hash == natives::c1ValueNative ? valueC1
                                                                      : valueC2;
        noteBelowZero(live.subject, named);
      }
      break;
    case natives::hValueNative:
      if (number < 0.0f) noteBelowZero(asked, valueH);
      break;
    case natives::bandValueNative:
      if (PedAnswers* answers = answersAbout(live.subject)) answers->band = value;
      break;
    case natives::weaponObjectNative:
      if (asked >= 0) replay.ownerByObject[value] = asked;
      break;
    case natives::weaponModelKeyNative:
      if (PedAnswers* answers = answersAbout(live.subject)) answers->modelKeyAsked = true;
      break;
    case natives::boneIndexNative: {
      const auto owner = replay.ownerByObject.find(call.intSlot(0));
      PedAnswers* answers = answersAbout(owner == replay.ownerByObject.end() ? -1 : owner->second);
      if (answers == nullptr || answers->bonesAsked == 2) break;
      const std::uint8_t bone = answers->bonesAsked++;
      answers->boneIndex[bone] = value;
      if (value == -1) answers->boneName[bone] = missingBoneName(call.pointerSlot<const char>(1));
      break;
    }
    case natives::boneCoordsNative: {
      // Both points answered: the barrel runs from the first to the second, as the plug-in
      // measures it, against the target where the game placed it.
      if (replay.bonesPlaced < 2) replay.boneAt[replay.bonesPlaced++] = vectorOf(answer);
      PedAnswers* answers = answersAbout(live.subject);
      const auto target = replay.positions.find(replay.targetHandle);
      if (replay.bonesPlaced == 2 && answers != nullptr && target != replay.positions.end()) {
        answers->barrelOff =
            static_cast<float>(degreesOff(replay.boneAt[0], replay.boneAt[1], target->second));
      }
      break;
    }
    case natives::ratioNumeratorNative:
      if (PedAnswers* answers = answersAbout(asked)) answers->numerator = value;
      break;
    case natives::ratioDenominatorNative:
      if (PedAnswers* answers = answersAbout(asked)) answers->denominator = value;
      break;
    case natives::bonusNative:
      if (PedAnswers* answers = answersAbout(asked)) {
        answers->bonusAsked = true;
        answers->bonus = yes;
      }
      break;
    case natives::setAccuracyNative:
      if (asked < 0) return protocolError(call, "accuracy set on an entity that is no ped");
      world().current.actors[asked].accuracy = call.intSlot(1);
      ++world().current.actors[asked].accuracySets;
      ++world().totals.accuracySets;
      replay.lastTreated = asked;
      break;
    case natives::pedFirstSettingNative:
    case natives::pedSecondSettingNative:
      if (asked >= 0) {
        const int which = call.hash == natives::pedFirstSettingNative ? 0 : 1;
        ++world().current.actors[asked].settingCalls[which];
        world().current.actors[asked].settingValues[which] = call.floatSlot(1);
      }
      break;
    case natives::textColourNative: textColour(call); break;
    case natives::textScaleNative: textScale(call); break;
    case natives::drawTextNative: {
      drawText(call);
      const std::size_t pass = passNow();
      if (replay.lastTreated >= 0 && pass < replay.record.passes.size()) {
        replay.record.passes[pass].labels.push_back(
            {static_cast<std::size_t>(replay.lastTreated),
             static_cast<std::int32_t>(world().current.labels.size() - 1)});
      }
      break;
    }
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
  noteAnswer(call, answer);
  std::copy(answer.begin(), answer.end(), call.result);
}

}  // namespace

std::vector<std::int32_t> perActor(const std::vector<ReplayRecord::ActorValue>& notes,
                                   std::size_t actors) {
  std::vector<std::int32_t> values(actors, -1);
  for (const ReplayRecord::ActorValue& note : notes) {
    if (note.actor < actors) values[note.actor] = note.value;
  }
  return values;
}

std::string installReplay(Capture capture, const std::string& name) {
  Cast cast = castOf(capture, name);
  // As many as the largest crowd: every frame keeps a record per ped.
  constexpr std::size_t mostPeds = 100000;
  if (cast.handles.size() > mostPeds + 1) {
    return "names " + std::to_string(cast.handles.size() - 1) + " peds, more than the " +
           std::to_string(mostPeds) + " the simulated game holds";
  }
  installWorld(cast.scene);
  replay = ReplayState{};
  ReplayRecord& record = replay.record;
  record.name = name;
  record.capture = std::move(capture);  // the answers below point into the record's own
  record.handles = cast.handles;
  for (std::size_t i = 0; i < cast.handles.size(); ++i) {
    replay.actorByHandle[cast.handles[i]] = static_cast<long>(i);
  }
  const std::vector<CapturedPass>& passes = record.capture.passes;
  record.passes.resize(passes.size());
  replay.asked.resize(passes.size());
  for (std::size_t pass = 0; pass < passes.size(); ++pass) {
    for (const CapturedCall& call : passes[pass].calls) {
      replay.asked[pass][keyOf(call)].answers.push_back(&call);
      if (call.hash == natives::setAccuracyNative && call.slots.size() == 2) {
        const long index = actorWith(low(call.slots[0].value));
        if (index >= 0) {
          record.passes[pass].capturedAccuracy.push_back(
              {static_cast<std::size_t>(index), low(call.slots[1].value)});
        }
      }
      // A native the world does not know is still answered as the game answered it.
      if (host().handlers.find(call.hash) == nullptr) answer(call.hash, answerFromCapture);
    }
  }
  answerFrom(answerFromCapture);
  return "";
}

const ReplayRecord& replayRecord() { return replay.record; }

}  // namespace sim
