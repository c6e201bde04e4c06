// The game as the fuzzer's bytes play it: every native the plug-in may call takes its answer from
// the next bytes of the input, in call order, so one input is one sequence of game answers.
//
// Each value starts with a selector byte: most selectors pick a value from a small palette
// (equal handles, bone index -1, round numbers, NaN, infinities), the rest take four raw bytes.
// An exhausted input answers zeros, so every input ends in a quiet game.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <utility>

#include "accuracy/weapon_bones.h"
#include "fake_host.h"

namespace fuzz {

// A broken property ends the run with the message; libFuzzer keeps the input as a crash.
inline void require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "fuzz property broken: %s\n", property);
  std::abort();
}

// The input, read front to back.
struct Bytes {
  const std::uint8_t* data = nullptr;
  std::size_t left = 0;

  std::uint8_t byte() {
    if (left == 0) return 0;
    --left;
    return *data++;
  }
  std::uint32_t raw() {
    std::uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) value |= std::uint32_t{byte()} << shift;
    return value;
  }
  std::int32_t rawInt() { return static_cast<std::int32_t>(raw()); }

  // The low 32 bits of a truth answer, junk bits included, as the plug-in reads them.
  std::int32_t truthWord() {
    const std::uint8_t pick = byte();
    return pick < 192 ? (pick & 1) : rawInt();
  }
  // -1..6 mostly, so that handles repeat and bone indices are often -1.
  std::int32_t handle() {
    const std::uint8_t pick = byte();
    return pick < 192 ? (pick & 7) - 1 : rawInt();
  }
  // -16..207 mostly: band values, ratios, counts.
  std::int32_t integer() {
    const std::uint8_t pick = byte();
    return pick < 224 ? pick - 16 : rawInt();
  }
  float real() {
    using limits = std::numeric_limits<float>;
    constexpr float negativeNaN = std::bit_cast<float>(0xFFC00001u);  // with a payload
    static constexpr float specials[] = {0.0f,
                                         -0.0f,
                                         1.0f,
                                         -1.0f,
                                         limits::quiet_NaN(),
                                         negativeNaN,
                                         limits::infinity(),
                                         -limits::infinity(),
                                         limits::max(),
                                         limits::lowest(),
                                         limits::min(),
                                         limits::denorm_min(),
                                         0.5f,
                                         150.0f,
                                         1e10f,
                                         3.0f};
    const std::uint8_t pick = byte();
    if (pick < std::size(specials)) return specials[pick];
    if (pick < 128) return static_cast<float>(pick - 16) * 0.5f - 8.0f;  // -8 .. 47.5
    return std::bit_cast<float>(raw());
  }
  // A model key from the weapon table most of the time, so that the whole computation runs.
  std::uint32_t modelKey() {
    const std::uint8_t pick = byte();
    if (pick >= 192) return raw();
    return sim::gameNameHash(weaponBoneRows[pick % weaponBoneRowCount].modelName);
  }
};

inline Bytes input;

// Called before every answer with the hash being answered; the pass target watches the order.
inline std::function<void(std::uint64_t)> beforeEachNative;

enum class Answer { handle, integer, real, truth, vector, nothing };

struct GameNative {
  std::uint64_t hash;
  Answer answer;
};

// Natives whose answer is a plain value; the ones that write through pointers or read texts are
// answered below.
inline constexpr GameNative plainNatives[] = {
    {0x096275889B8E0EE0, Answer::handle},   // player's ped
    {0xA86D5F069399F44D, Answer::vector},   // entity position
    {0x275A2E2C0FAB7612, Answer::handle},   // set item
    {0xEE04C0AFD4EFAF0E, Answer::handle},   // item's entity
    {0xD42BD6EB2E0F1677, Answer::truth},    // ped filters
    {0xCF8176912DDA4EA5, Answer::truth},    //
    {0xB980061DA992779D, Answer::truth},    //
    {0xEDCA14CA5199FF25, Answer::truth},    // weapon hash query the loop may make
    {0xC2266AA617668AD3, Answer::nothing},  // per-ped settings
    {0x2BA918C823B8BA56, Answer::nothing},  //
    {0x937C71165CF334B3, Answer::truth},    // weapon gates
    {0x705BE297EEBDB95D, Answer::truth},    //
    {0xCD66FEA29400A0B5, Answer::handle},   // target
    {0xFCDFF7B72D23A1AC, Answer::truth},    // zero-accuracy gate
    {0x0BE7F4E3CDBAFB28, Answer::real},     // distance
    {0xFB6BA510A533DF81, Answer::real},     // ped's and target's values for S
    {0x931B5F4CC130224B, Answer::real},     // world values for W1, W2, W3
    {0x1E5D727041BE1709, Answer::real},     //
    {0xFFB7E74E041150A4, Answer::real},     //
    {0xC82CF208C2B19199, Answer::integer},  // band value
    {0x3B390A939AF0B5FC, Answer::handle},   // weapon object
    {0x280BBE5601EAA983, Answer::integer},  // weapon object's value, passed on
    {0xD56E5F336C675EFA, Answer::real},     // values for C1, C2
    {0x0D78E1097F89E637, Answer::real},     //
    {0x6FB76442469ABD68, Answer::real},     // ped value for H
    {0x285D36C5C72B0569, Answer::nothing},  // may be called before the model key
    {0x82CFA50E34681CA5, Answer::vector},   // bone position
    {0x82368787EA73C0F7, Answer::integer},  // ratio numerator
    {0x15D757606D170C3C, Answer::integer},  // ratio denominator
    {0x60DFD0691A170B88, Answer::truth},    // bonus
    {0x7AEFB85C1D49DEB6, Answer::nothing},  // sets the accuracy
    {0x134549B388167CBF, Answer::real},     // label: absolute value
    {0xF6A96E5ACEEC6E50, Answer::real},     // label: limit value
    {0x16FA5CE47F184F1E, Answer::nothing},  // label: colour
    {0xA1253A3C870B6843, Answer::nothing},  // label: scale
};

inline void answerPlain(const sim::NativeContext& call, Answer answer) {
  switch (answer) {
    case Answer::handle: call.setInt(input.handle()); break;
    case Answer::integer: call.setInt(input.integer()); break;
    case Answer::real: call.setFloat(input.real()); break;
    case Answer::truth: call.setInt(input.truthWord()); break;
    case Answer::vector: {
      const float x = input.real();
      const float y = input.real();
      call.setVector({x, y, input.real()});
      break;
    }
    case Answer::nothing: break;
  }
}

// A text slot must point at a readable NUL-terminated text; the sanitizer checks the reading.
inline void readText(const sim::NativeContext& call, std::size_t slot) {
  const char* text = call.pointerSlot<const char>(slot);
  require(text != nullptr && std::strlen(text) < 256, "a text slot holds a short text");
}

// Answers a native through beforeEachNative and then the given handler.
inline void answerWith(std::uint64_t hash, std::function<void(const sim::NativeContext&)> handler) {
  sim::answer(hash, [handler = std::move(handler)](const sim::NativeContext& call) {
    if (beforeEachNative) beforeEachNative(call.hash);
    handler(call);
  });
}

// Registers the whole game; a target then replaces the answers it checks itself.
inline void answerGameFromInput() {
  for (const GameNative& native : plainNatives) {
    answerWith(native.hash, [answer = native.answer](const sim::NativeContext& call) {
      answerPlain(call, answer);
    });
  }
  answerWith(0xFD340785ADF8CFB7, [](const sim::NativeContext& call) {  // name hash
    readText(call, 0);
    call.setInt(static_cast<std::int32_t>(sim::gameNameHash(call.pointerSlot<const char>(0))));
  });
  answerWith(0x3A87E44BB9A01D54, [](const sim::NativeContext& call) {  // current weapon
    *call.pointerSlot<std::uint32_t>(1) = static_cast<std::uint32_t>(input.handle());
    call.setInt(input.truthWord());
  });
  answerWith(0x8EC44AE8DECFF841, [](const sim::NativeContext& call) {  // weapon model key
    call.setInt(static_cast<std::int32_t>(input.modelKey()));
  });
  answerWith(0xBACA8FE9C76C124E, [](const sim::NativeContext& call) {  // bone index by name
    readText(call, 1);
    call.setInt(input.handle());
  });
  answerWith(0xCB50D7AFCC8B0EC6, [](const sim::NativeContext& call) {  // label: world to screen
    *call.pointerSlot<float>(3) = input.real();
    *call.pointerSlot<float>(4) = input.real();
    call.setInt(input.truthWord());
  });
  answerWith(0x16794E044C9EFB58, [](const sim::NativeContext& call) { readText(call, 0); });
}

// Starts an input: fresh bytes, no recorded calls, no unknown natives.
inline void startInput(const std::uint8_t* data, std::size_t size) {
  input = Bytes{data, size};
  sim::host().calls.clear();
  sim::host().unknownNatives.clear();
}

}  // namespace fuzz
