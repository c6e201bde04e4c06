// The fake host: the handlers the world registers, the slots of each native call, the record
// of calls and registrations, and the checks on what the plug-in hands over.
#include "fake_host.h"

#include <cstring>

#include "game_api.h"
#include "natives.h"

namespace sim {

int textSlotOf(std::uint64_t hash) {
  switch (hash) {
    case natives::nameHashNative: return 0;
    case natives::boneIndexNative: return 1;
    case natives::drawTextNative: return 0;
    default: return -1;
  }
}

namespace {
std::uint64_t withJunk(std::uint32_t low) { return resultJunk | low; }
}  // namespace

namespace {
// A plain global rather than a function-local static: every native call reaches it, and a guard
// check on each would be the fake game's cost, not the plug-in's. Nothing calls into the host
// while globals are being constructed.
HostState hostState;
}  // namespace

HostState& host() { return hostState; }

void HandlerTable::set(std::uint64_t hash, NativeHandler handler) {
  if ((count + 1) * 2 > entries.size()) {
    std::vector<Entry> old = std::move(entries);
    entries = std::vector<Entry>(old.empty() ? 64 : old.size() * 2);
    mask = entries.size() - 1;
    count = 0;
    for (Entry& entry : old) {
      if (entry.used) set(entry.hash, std::move(entry.handler));
    }
  }
  std::size_t i = slotOf(hash);
  while (entries[i].used && entries[i].hash != hash) i = (i + 1) & mask;
  if (!entries[i].used) ++count;
  entries[i] = Entry{hash, true, std::move(handler)};
}

void resetHost() { host() = HostState{}; }

void NativeContext::setInt(std::int32_t value) const {
  result[0] = withJunk(static_cast<std::uint32_t>(value));
}

void NativeContext::setFloat(float value) const {
  result[0] = withJunk(static_cast<std::uint32_t>(nativeSlot(value)));
}

void NativeContext::setVector(const Vector3& value) const {
  result[0] = withJunk(static_cast<std::uint32_t>(nativeSlot(value.x)));
  result[1] = withJunk(static_cast<std::uint32_t>(nativeSlot(value.y)));
  result[2] = withJunk(static_cast<std::uint32_t>(nativeSlot(value.z)));
}

void answer(std::uint64_t hash, NativeHandler handler) {
  host().handlers.set(hash, std::move(handler));
}

void answerInt(std::uint64_t hash, std::int32_t value) {
  answer(hash, [value](const NativeContext& call) { call.setInt(value); });
}

void answerFloat(std::uint64_t hash, float value) {
  answer(hash, [value](const NativeContext& call) { call.setFloat(value); });
}

void answerVector(std::uint64_t hash, const Vector3& value) {
  answer(hash, [value](const NativeContext& call) { call.setVector(value); });
}

std::vector<RecordedCall> callsOf(std::uint64_t hash) {
  std::vector<RecordedCall> found;
  for (const RecordedCall& call : host().calls) {
    if (!call.isWait && call.hash == hash) found.push_back(call);
  }
  return found;
}

std::vector<std::uint64_t> nativeSequence() {
  std::vector<std::uint64_t> hashes;
  for (const RecordedCall& call : host().calls) {
    if (!call.isWait) hashes.push_back(call.hash);
  }
  return hashes;
}

void hostNativeInit(std::uint64_t hash) {
  HostState& state = host();
  state.pendingHash = hash;
  state.pendingCount = 0;
}

void hostNativePush64(std::uint64_t slot) {
  HostState& state = host();
  // Extra slots are dropped rather than written past the array; no native takes that many.
  if (state.pendingCount < maxSlots) state.pendingSlots[state.pendingCount] = slot;
  ++state.pendingCount;
}

namespace {
// Kept out of line: the call path stays short when nothing is recorded.
[[gnu::noinline]] void recordCall(HostState& state, std::size_t count) {
  RecordedCall call;
  call.hash = state.pendingHash;
  call.slots.assign(state.pendingSlots, state.pendingSlots + count);
  const int textSlot = textSlotOf(state.pendingHash);
  if (textSlot >= 0 && static_cast<std::size_t>(textSlot) < count) {
    const char* text =
        reinterpret_cast<const char*>(static_cast<std::uintptr_t>(state.pendingSlots[textSlot]));
    if (text != nullptr) call.text = text;
  }
  state.calls.push_back(std::move(call));
}

// Only the first ones are kept: a run of millions of frames must not grow with them.
constexpr std::size_t unknownNativesKept = 50;

[[gnu::noinline]] void noteUnknown(HostState& state) {
  if (state.unknownNatives.size() < unknownNativesKept) {
    state.unknownNatives.push_back(state.pendingHash);
  }
  ++state.unknownNativeCount;
}
}  // namespace

std::uint64_t* hostNativeCall() {
  HostState& state = host();
  const std::size_t count = state.pendingCount < maxSlots ? state.pendingCount : maxSlots;
  for (std::uint64_t& slot : state.resultSlots) slot = resultJunk;
  if (state.recording) recordCall(state, count);
  if (const NativeHandler* handler = state.handlers.find(state.pendingHash)) {
    (*handler)(NativeContext{state.pendingHash, state.pendingSlots, count, state.resultSlots});
  } else {
    noteUnknown(state);
  }
  return state.resultSlots;
}

void hostScriptWait(DWORD milliseconds) {
  HostState& state = host();
  if (state.recording) {
    RecordedCall wait;
    wait.isWait = true;
    wait.slots.push_back(milliseconds);
    state.calls.push_back(std::move(wait));
  }
  if (state.onWait != nullptr) state.onWait(milliseconds);
  if (state.afterWait != nullptr) state.afterWait();
  if (state.yieldToHost != nullptr) {
    ++state.waitCount;
    state.yieldToHost();
    return;
  }
  if (state.waitsBeforeStop >= 0 && state.waitCount >= state.waitsBeforeStop) throw ScriptStopped{};
  ++state.waitCount;
}

namespace {
constexpr std::size_t registrationsLogged = 64;

template <typename Function>
void logRegistration(const char* operation, HMODULE module, Function function) {
  std::vector<Registration>& log = host().registrationLog;
  if (log.size() >= registrationsLogged) return;
  log.push_back({operation, reinterpret_cast<std::uintptr_t>(module),
                 reinterpret_cast<std::uintptr_t>(function)});
}
}  // namespace

void hostScriptRegister(HMODULE module, void (*entry)()) {
  logRegistration("scriptRegister", module, entry);
  ++host().scriptRegistrations;
  host().registeredModule = module;
  host().scriptEntry = entry;
}

void hostScriptUnregister(HMODULE module) {
  logRegistration("scriptUnregister", module, nullptr);
  if (module == host().registeredModule) ++host().scriptUnregistrations;
}

void hostKeyboardHandlerRegister(KeyboardHandler handler) {
  logRegistration("keyboardHandlerRegister", nullptr, handler);
  ++host().keyboardRegistrations;
  host().keyboardHandler = handler;
}

void hostKeyboardHandlerUnregister(KeyboardHandler handler) {
  logRegistration("keyboardHandlerUnregister", nullptr, handler);
  if (handler == host().keyboardHandler) ++host().keyboardUnregistrations;
}

int sendKeyboardEvents() {
  const KeyboardHandler handler = host().keyboardHandler;
  if (handler == nullptr) return 0;
  pluginActivity().enter(phaseKeyboard);
  handler(0x57, 1, 0x11, 0, 0, 0, 0);   // W down
  handler(0x57, 1, 0x11, 0, 0, 1, 1);   // W up
  handler(0x1FF, 1, 0x00, 1, 0, 0, 0);  // a code past the table
  pluginActivity().leave();
  return 3;
}

std::uint32_t gameNameHash(const char* text) {
  std::uint32_t hash = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    unsigned char byte = static_cast<unsigned char>(*c);
    if (byte >= 'A' && byte <= 'Z') byte = static_cast<unsigned char>(byte - 'A' + 'a');
    hash += byte;
    hash += hash << 10;
    hash ^= hash >> 6;
  }
  hash += hash << 3;
  hash ^= hash >> 11;
  hash += hash << 15;
  return hash;
}

}  // namespace sim
