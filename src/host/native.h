// The one way into the game: a typed native call over the host's init / push / call protocol.
//
// A call site reads like a row of the native tables: hash, slots in push order, result type.
//   Entity target = callNative<Entity>(pedTargetNative, ped);
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "capture/capture_hooks.h"
#include "host/host.h"

using Entity = std::int32_t;

struct Vector3 {
  float x;
  float y;
  float z;
};

// Argument slots: 32-bit values zero-extended, floats as their bit pattern in the low half,
// texts and out-parameters as the address of our own storage.
inline std::uint64_t nativeSlot(std::int32_t value) { return static_cast<std::uint32_t>(value); }
inline std::uint64_t nativeSlot(std::uint32_t value) { return value; }
inline std::uint64_t nativeSlot(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}
template <typename T>
inline std::uint64_t nativeSlot(const T* address) {
  return reinterpret_cast<std::uintptr_t>(address);
}
// A double, bool or 64-bit integer in a slot is a mistake at the call site.
std::uint64_t nativeSlot(double) = delete;
std::uint64_t nativeSlot(bool) = delete;
std::uint64_t nativeSlot(std::int64_t) = delete;
std::uint64_t nativeSlot(std::uint64_t) = delete;

inline float lowHalfAsFloat(std::uint64_t slot) {
  const auto bits = static_cast<std::uint32_t>(slot);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// An answer left unread, for a caller that needs it on some paths only: its slots stay valid
// until the next call.
struct NativeAnswer {
  const std::uint64_t* slots;
};

inline Vector3 vectorIn(NativeAnswer answer) {
  return Vector3{lowHalfAsFloat(answer.slots[0]), lowHalfAsFloat(answer.slots[1]),
                 lowHalfAsFloat(answer.slots[2])};
}

// Results are read at once, before any other call: only the low 32 bits of a slot count.
template <typename Result = void, typename... Args>
inline Result callNative(std::uint64_t hash, Args... args) {
  // The capture flavour records the call as it is made; the release build compiles nothing here.
  const bool captured = captureCallStart<Result>(hash, args...);
  nativeInit(hash);
  (nativePush64(nativeSlot(args)), ...);
  const std::uint64_t* result = nativeCall();
  captureCallEnd<Result>(captured, result);
  if constexpr (std::is_void_v<Result>) {
    (void)result;
  } else if constexpr (std::is_same_v<Result, NativeAnswer>) {
    return NativeAnswer{result};
  } else if constexpr (std::is_same_v<Result, Vector3>) {
    return vectorIn(NativeAnswer{result});
  } else if constexpr (std::is_same_v<Result, float>) {
    return lowHalfAsFloat(result[0]);
  } else if constexpr (std::is_same_v<Result, std::uint64_t>) {
    return result[0];  // the whole first slot, for the rare caller that wants it raw
  } else if constexpr (std::is_same_v<Result, bool>) {
    return static_cast<std::uint32_t>(result[0]) != 0;
  } else {
    static_assert(std::is_integral_v<Result> && sizeof(Result) == 4, "32-bit result expected");
    // The slot's first four bytes, its low half on this little-endian platform: a 32-bit load
    // leaves the value zero-extended for the next slot it fills, with no move of its own.
    std::uint32_t low;
    std::memcpy(&low, result, sizeof low);
    return static_cast<Result>(low);
  }
}

// The shared wrappers, inline: they run several times per ped and frame, and a call of their own
// around each would cost more than the pushes they make.
inline NativeAnswer entityPositionAnswer(Entity entity) {
  constexpr std::uint64_t entityCoordsNative = 0xA86D5F069399F44D;
  return callNative<NativeAnswer>(entityCoordsNative, entity, 1, 0);
}

inline Vector3 entityPosition(Entity entity) { return vectorIn(entityPositionAnswer(entity)); }

inline Vector3 boneWorldPosition(Entity entity, std::int32_t boneIndex) {
  constexpr std::uint64_t boneCoordsNative = 0x82CFA50E34681CA5;
  return callNative<Vector3>(boneCoordsNative, entity, boneIndex);
}

inline float pointDistance(const Vector3& a, const Vector3& b) {
  constexpr std::uint64_t distanceBetweenNative = 0x0BE7F4E3CDBAFB28;
  return callNative<float>(distanceBetweenNative, a.x, a.y, a.z, b.x, b.y, b.z, 1);
}

inline std::uint32_t nameHash(const char* text) {
  constexpr std::uint64_t nameHashNative = 0xFD340785ADF8CFB7;
  return callNative<std::uint32_t>(nameHashNative, text);
}
