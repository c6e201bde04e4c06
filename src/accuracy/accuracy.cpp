#include "accuracy/accuracy.h"

#include <algorithm>
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
constexpr std::int32_t notTreated = -1;

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
constexpr std::int32_t lowestPercentage = 0;
constexpr std::int32_t highestPercentage = 100;

// fminf and fmaxf (IEEE 754 minNum and maxNum: a NaN operand gives the other one), written out so
// that they compile to a few instructions rather than a library call. Run-times differ on which
// zero they give for 0 and -0; the sign of a zero cannot change a result here.
float minNum(float a, float b) { return std::isnan(a) ? b : b < a ? b : a; }
float maxNum(float a, float b) { return std::isnan(a) ? b : b > a ? b : a; }

// Everything the game tells us about one shot, named as the factors' formulas name the values,
// in the order we ask for them.
struct GameValues {
  Vector3 shooterPosition;
  Vector3 targetPosition;
  float d;  // distance from shooter to target
  float p;  // the shooter's value for S
  float t;  // the target's value for S
  float w1;
  float w2;
  float w3;
  std::int32_t n;  // the band value
  Entity weaponObject;
  float c1;
  float c2;
  float h;
  Vector3 basePosition;  // rear point of the barrel line
  Vector3 tipPosition;   // front point
  std::int32_t numerator;
  std::int32_t denominator;
  bool bonus;
};

// A bone the weapon object lacks stands at the world origin; its position is not asked for.
Vector3 barrelPoint(Entity weaponObject, const std::string& boneName) {
  const std::int32_t index =
      callNative<std::int32_t>(boneIndexNative, weaponObject, boneName.c_str());
  if (index == missingBone) return {0.0f, 0.0f, 0.0f};
  return boneWorldPosition(weaponObject, index);
}

// The unit vector from `from` towards `to`, or the zero vector when the two points coincide (or
// the length is NaN). Multiplied by the reciprocal, not divided by the length: the game's bits.
Vector3 direction(const Vector3& from, const Vector3& to) {
  const Vector3 v{to.x - from.x, to.y - from.y, to.z - from.z};
  const float length = std::sqrt((v.x * v.x + v.y * v.y) + v.z * v.z);
  if (length == 0.0f || std::isnan(length)) return {0.0f, 0.0f, 0.0f};
  const float inverse = one / length;
  return {v.x * inverse, v.y * inverse, v.z * inverse};
}

// 1 when the barrel points straight at the target, falling to 0 at angleLeniency degrees. The
// cosine is bounded below first, so a NaN dot product counts as a right angle; the result is
// bounded above first, so a NaN quotient (a zero angle over a zero leniency) counts as 1.
float barrelAlignment(const Vector3& target, const Vector3& base, const Vector3& tip) {
  const Vector3 aim = direction(base, target);
  const Vector3 barrel = direction(base, tip);
  const float dot = (aim.x * barrel.x + aim.y * barrel.y) + aim.z * barrel.z;
  const float cosine = minNum(one, maxNum(0.0f, dot));
  const float radians = roundedArcCosine(cosine);
  const float degrees = static_cast<float>(static_cast<double>(radians) * radiansToDegrees);
  return maxNum(0.0f, minNum(one, one - degrees / angleLeniency));
}

// Truncated toward zero. NaN, the infinities and whatever else a 32-bit integer cannot hold count
// as 0; they are sorted out first, as converting them would be undefined behaviour.
std::int32_t truncatedOrZero(float value) {
  if (!(value >= -0x1p31f && value < 0x1p31f)) return 0;
  return static_cast<std::int32_t>(value);
}

// The percentage for the game's values. Factors and products are single precision, grouped
// exactly as written: each grouping rounds differently.
std::int32_t accuracyPercentage(const GameValues& game) {
  const float A = barrelAlignment(game.targetPosition, game.basePosition, game.tipPosition);
  const float D = maxNum(lowFloor, one - game.d * dScale);
  const float S = maxNum(lowFloor, (half - game.t * sScale) + (half - game.p * sScale));
  const float W1 = maxNum(highFloor, one - game.w1 * wScale);
  const float W2 = maxNum(highFloor, one - game.w2 * wScale);
  const float W3 = maxNum(highFloor, one - game.w3 * w3Scale);
  const float C1 = maxNum(highFloor, one - game.c1 * c1Scale);
  const float C2 = maxNum(highFloor, one - game.c2 * c2Scale);
  const float H = maxNum(highFloor, one - game.h);

  const float Q = ((H * C1) * C2) * (W3 * W2);
  const float R = (W1 * S) * (A * D);
  float P = Q * R;
  if (game.n < bandLow || game.n > bandHigh) P *= half;
  P *= static_cast<float>(game.numerator) / static_cast<float>(game.denominator);
  if (game.bonus) P *= bonusScale;
  P *= percent;
  return std::max(lowestPercentage, std::min(highestPercentage, truncatedOrZero(P)));
}
}  // namespace

std::int32_t computeShooterAccuracy(Entity ped) {
  std::uint32_t weaponHash = 0;
  if (!callNative<bool>(currentWeaponNative, ped, &weaponHash, 1, 0, 0)) return notTreated;
  if (!callNative<bool>(weaponFirstGateNative, weaponHash)) return notTreated;
  if (!callNative<bool>(weaponSecondGateNative, weaponHash)) return notTreated;
  const Entity target = callNative<Entity>(pedTargetNative, ped);
  if (!callNative<bool>(targetGateNative, target)) return notTreated;
  if (!callNative<bool>(zeroAccuracyGateNative, ped, target, zeroAccuracyGateArgument)) {
    callNative(setAccuracyNative, ped, 0);
    return 0;
  }

  GameValues game{};
  game.shooterPosition = entityPosition(ped);
  game.targetPosition = entityPosition(target);
  game.d = pointDistance(game.shooterPosition, game.targetPosition);
  game.p = callNative<float>(sValueNative, ped);
  game.t = callNative<float>(sValueNative, target);
  game.w1 = callNative<float>(w1ValueNative);
  game.w2 = callNative<float>(w2ValueNative);
  game.w3 = callNative<float>(w3ValueNative);
  game.n = callNative<std::int32_t>(bandValueNative);
  game.weaponObject = callNative<Entity>(weaponObjectNative, ped, 0);
  // The key is asked for once per value: each value gets its own answer from the game.
  const std::int32_t c1Key = callNative<std::int32_t>(weaponObjectKeyNative, game.weaponObject);
  game.c1 = callNative<float>(c1ValueNative, c1Key);
  const std::int32_t c2Key = callNative<std::int32_t>(weaponObjectKeyNative, game.weaponObject);
  game.c2 = callNative<float>(c2ValueNative, c2Key);
  game.h = callNative<float>(hValueNative, ped);
  const auto bones =
      weaponBoneTable.find(callNative<std::uint32_t>(weaponModelKeyNative, weaponHash));
  if (bones == weaponBoneTable.end()) return notTreated;
  // The table is rebuilt only at the start of a pass, so the entry outlives these calls.
  game.basePosition = barrelPoint(game.weaponObject, bones->second.baseBone);
  game.tipPosition = barrelPoint(game.weaponObject, bones->second.tipBone);
  game.numerator = callNative<std::int32_t>(ratioNumeratorNative, ped);
  game.denominator = callNative<std::int32_t>(ratioDenominatorNative, ped, 1);
  game.bonus = callNative<bool>(bonusNative, ped, 1, 1);

  const std::int32_t accuracy = accuracyPercentage(game);
  callNative(setAccuracyNative, ped, accuracy);
  return accuracy;
}
