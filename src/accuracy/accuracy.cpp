#include "accuracy/accuracy.h"

#include <xmmintrin.h>
#include <bit>
#include <cmath>
#include <string>

#include "accuracy/arc_cosine.h"
#include "accuracy/weapon_bones.h"
#include "settings/settings.h"

namespace {
constexpr std::uint64_t currentWeaponNative = 0x3A87E44BB9A01D54;
constexpr std::uint64_t weaponFirstGateNative = 0x937C71165CF334B3;
constexpr std::uint64_t weaponSecondGateNative = 0x705BE297EEBDB95D;
constexpr std::uint64_t pedTargetNative = 0xCD66FEA29400A0B5;
constexpr std::uint64_t targetGateNative = 0xD42BD6EB2E0F1677;
constexpr std::uint64_t zeroAccuracyGateNative = 0xFCDFF7B72D23A1AC;
// Asked for the shooter, then for the target.
constexpr std::uint64_t sValueNative = 0xFB6BA510A533DF81;
constexpr std::uint64_t w1ValueNative = 0x931B5F4CC130224B;
constexpr std::uint64_t w2ValueNative = 0x1E5D727041BE1709;
constexpr std::uint64_t w3ValueNative = 0xFFB7E74E041150A4;
constexpr std::uint64_t bandValueNative = 0xC82CF208C2B19199;
constexpr std::uint64_t weaponObjectNative = 0x3B390A939AF0B5FC;
constexpr std::uint64_t weaponObjectKeyNative = 0x280BBE5601EAA983;
constexpr std::uint64_t c1ValueNative = 0xD56E5F336C675EFA;
constexpr std::uint64_t c2ValueNative = 0x0D78E1097F89E637;
constexpr std::uint64_t hValueNative = 0x6FB76442469ABD68;
constexpr std::uint64_t weaponModelKeyNative = 0x8EC44AE8DECFF841;
constexpr std::uint64_t boneIndexNative = 0xBACA8FE9C76C124E;
constexpr std::uint64_t ratioNumeratorNative = 0x82368787EA73C0F7;
constexpr std::uint64_t ratioDenominatorNative = 0x15D757606D170C3C;
constexpr std::uint64_t bonusNative = 0x60DFD0691A170B88;
constexpr std::uint64_t setAccuracyNative = 0x7AEFB85C1D49DEB6;

constexpr std::int32_t zeroAccuracyGateArgument = 17;
constexpr std::int32_t missingBone = -1;

// Written from their bit patterns: the results must match the game's own arithmetic bit for bit.
constexpr float dScale = std::bit_cast<float>(0x3BDA740Eu);      // 0.006666667, ~1/150
constexpr float sScale = std::bit_cast<float>(0x3D924925u);      // 0.071428575, ~1/14
constexpr float w3Scale = std::bit_cast<float>(0x3C4CCCCEu);     // 0.0125000011
constexpr float lowFloor = std::bit_cast<float>(0x3DCCCCCDu);    // 0.1
constexpr float half = std::bit_cast<float>(0x3F000000u);        // 0.5
constexpr float wScale = std::bit_cast<float>(0x3F19999Au);      // 0.6
constexpr float highFloor = std::bit_cast<float>(0x3F4CCCCDu);   // 0.8
constexpr float c1Scale = std::bit_cast<float>(0x3F666666u);     // 0.9
constexpr float c2Scale = lowFloor;                              // 0.1
constexpr float one = std::bit_cast<float>(0x3F800000u);         // 1.0
constexpr float bonusScale = std::bit_cast<float>(0x3FC00000u);  // 1.5
constexpr float percent = std::bit_cast<float>(0x42C80000u);     // 100.0
constexpr double radiansToDegrees = std::bit_cast<double>(0x404CA5DC1A63C1F8ull);  // 180/pi

constexpr std::int32_t bandLow = 6;
constexpr std::int32_t bandHigh = 19;

constexpr float leastNormal = std::bit_cast<float>(0x00800000u);  // 2^-126

// fminf and fmaxf (IEEE 754 minNum and maxNum: a NaN operand gives the other one), written out so
// that they compile to a few instructions rather than a library call on every factor. Run-times
// differ on which zero they give for 0 and -0; the sign of a zero cannot change a result here. A
// NaN `b` needs no test of its own: every comparison with it is false, which already gives `a`.
float minNum(float a, float b) { return std::isnan(a) ? b : b < a ? b : a; }
float maxNum(float a, float b) { return std::isnan(a) ? b : b > a ? b : a; }

// maxNum(0, minNum(1, value)) in the SSE unit's minss and maxss: each gives its second operand
// when the first is NaN or the comparison fails, exactly as minNum and maxNum do with the bound
// first. Written as plain comparisons, the compiler keeps a branch per constant bound and, after
// them, stores and reloads the product that the alignment feeds.
float withinUnit(float value) {
  const __m128 clampedAbove = _mm_min_ss(_mm_set_ps1(value), _mm_set_ss(one));
  return _mm_cvtss_f32(_mm_max_ss(clampedAbove, _mm_setzero_ps()));
}

// `base` minus value x scale, as the value times the negated scale plus `base`: the same bits
// (a product's rounding does not depend on its sign, and x - y is x + -y), without the copy of
// `base` that a subtraction from it needs first.
float lessScaled(float base, float value, float scale) { return value * -scale + base; }

// One minus the scaled game value, never below its floor; a NaN value gives the floor.
float reduction(float value, float scale, float floor) {
  return maxNum(floor, lessScaled(one, value, scale));
}

// Everything the game tells us before the barrel bones, in the order we ask. The factors are
// named by letter; each game value carries the lower-case letter of the factor it feeds. Each
// value is turned into its factor, and multiplied in, as soon as it is read: what has to wait
// across the calls that follow is three partial products, not eight values.
struct ShotReadings {
  Vector3 targetPosition;
  float d;   // the distance factor
  float ws;  // w1 x S
  float q;   // (h x c1 x c2) x (w3 x w2)
  std::int32_t band;
  Entity weaponObject;
};

ShotReadings readShot(Entity ped, Entity target) {
  ShotReadings shot;
  const Vector3 shooterPosition = entityPosition(ped);
  shot.targetPosition = entityPosition(target);
  shot.d = reduction(pointDistance(shooterPosition, shot.targetPosition), dScale, lowFloor);
  const float p = lessScaled(half, callNative<float>(sValueNative, ped), sScale);
  const float t = lessScaled(half, callNative<float>(sValueNative, target), sScale);
  const float s = maxNum(lowFloor, t + p);
  shot.ws = reduction(callNative<float>(w1ValueNative), wScale, highFloor) * s;
  const float w2 = reduction(callNative<float>(w2ValueNative), wScale, highFloor);
  const float w32 = reduction(callNative<float>(w3ValueNative), w3Scale, highFloor) * w2;
  shot.band = callNative<std::int32_t>(bandValueNative);
  shot.weaponObject = callNative<Entity>(weaponObjectNative, ped, 0);
  // The key is asked for once per value: each value gets its own answer from the game.
  const float c1 = reduction(
      callNative<float>(c1ValueNative,
                        callNative<std::int32_t>(weaponObjectKeyNative, shot.weaponObject)),
      c1Scale, highFloor);
  const float c2 = reduction(
      callNative<float>(c2ValueNative,
                        callNative<std::int32_t>(weaponObjectKeyNative, shot.weaponObject)),
      c2Scale, highFloor);
  const float h = maxNum(highFloor, one - callNative<float>(hValueNative, ped));
  shot.q = ((h * c1) * c2) * w32;
  return shot;
}

// The entry for a weapon model key, or null. Walks the key's bucket itself: the first entry there
// is most often the one, and find() would first test for an empty table and then, on a hit,
// test its answer once more.
const WeaponBones* findWeaponBones(std::uint32_t key) {
  const std::size_t bucket = weaponBoneTable.bucket(key);
  for (auto entry = weaponBoneTable.begin(bucket); entry != weaponBoneTable.end(bucket); ++entry) {
    if (entry->first == key) return &entry->second;
  }
  return nullptr;
}

// A bone the weapon object lacks stands at the world origin. Inlined, as is direction: each runs
// twice per ped, and a call of its own cost more than its few instructions.
[[gnu::always_inline]] inline Vector3 barrelPoint(Entity weaponObject,
                                                  const std::string& boneName) {
  const std::int32_t index =
      callNative<std::int32_t>(boneIndexNative, weaponObject, boneName.c_str());
  if (index == missingBone) [[unlikely]]
    return {0.0f, 0.0f, 0.0f};
  return boneWorldPosition(weaponObject, index);
}

[[gnu::always_inline]] inline Vector3 direction(const Vector3& from, const Vector3& to) {
  const Vector3 v{to.x - from.x, to.y - from.y, to.z - from.z};
  const float length = std::sqrt((v.x * v.x + v.y * v.y) + v.z * v.z);
  // Zero or NaN, in one comparison: a square root is never negative, and one above zero is at
  // least 2^-74.5 (the root of the least subnormal), so it is also at least the least normal
  // float, which the comparison reads from memory where a zero would have to be made first.
  if (!(length >= leastNormal)) [[unlikely]]
    return {0.0f, 0.0f, 0.0f};
  const float inverse = one / length;
  return {v.x * inverse, v.y * inverse, v.z * inverse};
}

// 1 when the barrel points straight at the target, falling to 0 at angleLeniency degrees.
// min and max ignore a NaN operand, which settles a zero, negative or NaN leniency.
float barrelAlignment(const Vector3& target, const Vector3& base, const Vector3& tip) {
  const Vector3 aim = direction(base, target);
  const Vector3 barrel = direction(base, tip);
  const float dot = (aim.x * barrel.x + aim.y * barrel.y) + aim.z * barrel.z;
  // minNum(1, maxNum(0, dot)), NaN giving 0, but tested against the arc cosine's small-angle
  // bound first: the common barrel, within a few degrees, then skips the test against zero, and
  // the arc cosine finds that bound already settled.
  const float cosine = dot > arc_cosine::smallAngleCosine ? minNum(one, dot) : maxNum(0.0f, dot);
  const float radians = roundedArcCosine(cosine);
  const float degrees = static_cast<float>(static_cast<double>(radians) * radiansToDegrees);
  return withinUnit(one - degrees / angleLeniency);
}

// The product of the nine factors, before the band, ratio and bonus adjustments.
float factorProduct(float a, const ShotReadings& shot) { return shot.q * (shot.ws * (a * shot.d)); }

// Truncated toward zero, then kept within 0..100. Anything a 32-bit integer cannot hold,
// NaN and the infinities included, counts as 0. The SSE unit's truncation answers all of those
// with the least int32 (where a C++ conversion would be undefined behaviour), so one unsigned
// comparison of its result keeps 0..99 and leaves only the rare rest to sort out.
std::int32_t percentage(float product) {
  const std::int32_t truncated = _mm_cvttss_si32(_mm_set_ss(product));
  if (static_cast<std::uint32_t>(truncated) < 100u) [[likely]]
    return truncated;
  return truncated < 0 ? 0 : 100;
}
}  // namespace

std::int32_t computeShooterAccuracy(Entity ped) {
  std::uint32_t answeredHash = 0;
  if (!callNative<bool>(currentWeaponNative, ped, &answeredHash, 1, 0, 0)) return -1;
  // A copy the game cannot reach: it stays in a register instead of being reloaded per call.
  const std::uint32_t weaponHash = answeredHash;
  if (!callNative<bool>(weaponFirstGateNative, weaponHash)) return -1;
  if (!callNative<bool>(weaponSecondGateNative, weaponHash)) return -1;
  const Entity target = callNative<Entity>(pedTargetNative, ped);
  if (!callNative<bool>(targetGateNative, target)) return -1;
  if (!callNative<bool>(zeroAccuracyGateNative, ped, target, zeroAccuracyGateArgument)) {
    callNative(setAccuracyNative, ped, 0);
    return 0;
  }

  const ShotReadings shot = readShot(ped, target);
  const WeaponBones* bones =
      findWeaponBones(callNative<std::uint32_t>(weaponModelKeyNative, weaponHash));
  if (bones == nullptr) return -1;
  // The table is rebuilt only at the start of a pass, so the entry outlives these calls.
  const Vector3 base = barrelPoint(shot.weaponObject, bones->baseBone);
  const Vector3 tip = barrelPoint(shot.weaponObject, bones->tipBone);
  // Worked out before the last three answers are asked for: one float waits across those calls
  // instead of the barrel's points and the partial products.
  float product = factorProduct(barrelAlignment(shot.targetPosition, base, tip), shot);
  if (shot.band < bandLow || shot.band > bandHigh) product *= half;
  const std::int32_t numerator = callNative<std::int32_t>(ratioNumeratorNative, ped);
  const std::int32_t denominator = callNative<std::int32_t>(ratioDenominatorNative, ped, 1);
  const bool bonus = callNative<bool>(bonusNative, ped, 1, 1);
  product *= static_cast<float>(numerator) / static_cast<float>(denominator);
  if (bonus) product *= bonusScale;
  product *= percent;

  const std::int32_t accuracy = percentage(product);
  callNative(setAccuracyNative, ped, accuracy);
  return accuracy;
}
