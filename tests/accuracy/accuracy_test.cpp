#include "accuracy/accuracy.h"

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "accuracy/weapon_bones.h"
#include "fake_game_test.h"
#include "settings/settings.h"

namespace {

constexpr std::uint64_t currentWeaponNative = 0x3A87E44BB9A01D54;
constexpr std::uint64_t weaponFirstGateNative = 0x937C71165CF334B3;
constexpr std::uint64_t weaponSecondGateNative = 0x705BE297EEBDB95D;
constexpr std::uint64_t pedTargetNative = 0xCD66FEA29400A0B5;
constexpr std::uint64_t targetGateNative = 0xD42BD6EB2E0F1677;
constexpr std::uint64_t zeroAccuracyGateNative = 0xFCDFF7B72D23A1AC;
constexpr std::uint64_t entityPositionNative = 0xA86D5F069399F44D;
constexpr std::uint64_t distanceNative = 0x0BE7F4E3CDBAFB28;
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
constexpr std::uint64_t bonePositionNative = 0x82CFA50E34681CA5;
constexpr std::uint64_t ratioNumeratorNative = 0x82368787EA73C0F7;
constexpr std::uint64_t ratioDenominatorNative = 0x15D757606D170C3C;
constexpr std::uint64_t bonusNative = 0x60DFD0691A170B88;
constexpr std::uint64_t setAccuracyNative = 0x7AEFB85C1D49DEB6;

// Every native of a treated ped, in the order the game must see them.
const std::vector<std::uint64_t> fullSequence = {
    currentWeaponNative,   weaponFirstGateNative,  weaponSecondGateNative, pedTargetNative,
    targetGateNative,      zeroAccuracyGateNative, entityPositionNative,   entityPositionNative,
    distanceNative,        sValueNative,           sValueNative,           w1ValueNative,
    w2ValueNative,         w3ValueNative,          bandValueNative,        weaponObjectNative,
    weaponObjectKeyNative, c1ValueNative,          weaponObjectKeyNative,  c2ValueNative,
    hValueNative,          weaponModelKeyNative,   boneIndexNative,        bonePositionNative,
    boneIndexNative,       bonePositionNative,     ratioNumeratorNative,   ratioDenominatorNative,
    bonusNative,           setAccuracyNative};

using Slots = std::vector<std::uint64_t>;

Slots firstNatives(std::size_t count) {
  return {fullSequence.begin(), fullSequence.begin() + static_cast<std::ptrdiff_t>(count)};
}

// The full sequence without the bone-position calls at the given places.
Slots withoutBonePositions(std::initializer_list<std::size_t> places) {
  Slots sequence = fullSequence;
  for (auto place = std::rbegin(places); place != std::rend(places); ++place) {
    EXPECT_EQ(sequence.at(*place), bonePositionNative);
    sequence.erase(sequence.begin() + static_cast<std::ptrdiff_t>(*place));
  }
  return sequence;
}

constexpr std::size_t basePositionPlace = 23;
constexpr std::size_t tipPositionPlace = 25;

constexpr Entity shooter = 0x101;
constexpr Entity target = 0x202;
constexpr Entity weaponObject = 0x303;
constexpr std::uint32_t weaponHash = 0x169F59F7;  // the cattleman revolver
constexpr std::int32_t baseIndex = 11;
constexpr std::int32_t tipIndex = 12;

// The game as one armed ped and its target see it. Each test changes one thing; the defaults are
// a neutral, perfectly aligned shooter 30 m from its target: every factor but D is 1.
struct Shot {
  bool gates[6] = {true, true, true, true, true, true};  // the weapon query and five gates
  std::string model = "rv_cattleman";
  std::map<std::string, std::int32_t> bones = {{"Gun_Lead1", baseIndex}, {"Gun_Muzzle", tipIndex}};
  Vector3 base{0.0f, 0.0f, 0.0f};
  Vector3 tip{0.5f, 0.0f, 0.0f};
  Vector3 targetAt{10.0f, 0.0f, 0.0f};
  float d = 30.0f;
  float p = 0.0f, t = 0.0f, w1 = 0.0f, w2 = 0.0f, w3 = 0.0f, c1 = 0.0f, c2 = 0.0f, h = 0.0f;
  std::int32_t band = 12;
  std::int32_t numerator = 100;
  std::int32_t denominator = 100;
  bool bonus = false;
};

class AccuracyTest : public FakeGameTest {
 protected:
  Shot shot;

  void SetUp() override {
    FakeGameTest::SetUp();
    buildWeaponBoneTable();
    answerAsTheGame();
  }

  void answerGate(std::uint64_t hash, int gate, std::uint64_t expectedFirstSlot) {
    sim::answer(hash, [this, gate, expectedFirstSlot](const sim::NativeContext& call) {
      call.setInt(shot.gates[gate] && call.slot(0) == expectedFirstSlot ? 1 : 0);
    });
  }

  template <typename Value>
  void answerWith(std::uint64_t hash, Value Shot::*value) {
    sim::answer(hash, [this, value](const sim::NativeContext& call) {
      if constexpr (std::is_same_v<Value, float>) {
        call.setFloat(shot.*value);
      } else {
        call.setInt(static_cast<std::int32_t>(shot.*value));
      }
    });
  }

  void answerAsTheGame() {
    sim::answer(currentWeaponNative, [this](const sim::NativeContext& call) {
      *call.pointerSlot<std::uint32_t>(1) = weaponHash;
      call.setInt(shot.gates[0] ? 1 : 0);
    });
    answerGate(weaponFirstGateNative, 1, weaponHash);
    answerGate(weaponSecondGateNative, 2, weaponHash);
    sim::answerInt(pedTargetNative, target);
    answerGate(targetGateNative, 4, static_cast<std::uint32_t>(target));
    answerGate(zeroAccuracyGateNative, 5, static_cast<std::uint32_t>(shooter));
    sim::answer(entityPositionNative, [this](const sim::NativeContext& call) {
      call.setVector(call.intSlot(0) == target ? shot.targetAt : Vector3{-5.0f, 0.0f, 0.0f});
    });
    answerWith(distanceNative, &Shot::d);
    sim::answer(sValueNative, [this](const sim::NativeContext& call) {
      call.setFloat(call.intSlot(0) == target ? shot.t : shot.p);
    });
    answerWith(w1ValueNative, &Shot::w1);
    answerWith(w2ValueNative, &Shot::w2);
    answerWith(w3ValueNative, &Shot::w3);
    answerWith(bandValueNative, &Shot::band);
    sim::answerInt(weaponObjectNative, weaponObject);
    // A different key on every call, so that each value can be traced to its own key.
    sim::answer(weaponObjectKeyNative, [](const sim::NativeContext& call) {
      call.setInt(500 + static_cast<std::int32_t>(sim::callsOf(weaponObjectKeyNative).size()));
    });
    answerWith(c1ValueNative, &Shot::c1);
    answerWith(c2ValueNative, &Shot::c2);
    answerWith(hValueNative, &Shot::h);
    sim::answer(weaponModelKeyNative, [this](const sim::NativeContext& call) {
      const bool ours = call.slot(0) == weaponHash;
      call.setInt(ours ? static_cast<std::int32_t>(sim::gameNameHash(shot.model.c_str())) : 0);
    });
    sim::answer(boneIndexNative, [this](const sim::NativeContext& call) {
      const auto bone = shot.bones.find(call.pointerSlot<const char>(1));
      call.setInt(bone == shot.bones.end() ? -1 : bone->second);
    });
    sim::answer(bonePositionNative, [this](const sim::NativeContext& call) {
      call.setVector(call.intSlot(1) == tipIndex ? shot.tip : shot.base);
    });
    answerWith(ratioNumeratorNative, &Shot::numerator);
    answerWith(ratioDenominatorNative, &Shot::denominator);
    answerWith(bonusNative, &Shot::bonus);
    sim::answer(setAccuracyNative, [](const sim::NativeContext&) {});
  }

  // The barrel in the xy plane at the given angle to the line from the base to the target.
  void pointBarrel(float degrees) {
    const float radians = degrees * static_cast<float>(M_PI / 180.0);
    shot.tip = {std::cos(radians), std::sin(radians), 0.0f};
  }

  // Runs the computation afresh and returns what it returned; the game must have been told the
  // same value, once, or nothing at all for an untreated ped.
  std::int32_t accuracy() {
    sim::host().calls.clear();
    const std::int32_t result = computeShooterAccuracy(shooter);
    std::vector<Slots> set;
    for (const auto& call : sim::callsOf(setAccuracyNative)) set.push_back(call.slots);
    if (result == -1) {
      EXPECT_TRUE(set.empty());
    } else {
      const Slots told = {shooter, static_cast<std::uint32_t>(result)};
      EXPECT_EQ(set, std::vector<Slots>{told});
    }
    return result;
  }
};

// --- The worked examples -------------------------------------------------------------------

TEST_F(AccuracyTest, AlignedNeutralShooterAtThirtyMetresGetsEighty) {
  EXPECT_EQ(accuracy(), 80);
  EXPECT_EQ(sim::nativeSequence(), fullSequence);
}

TEST_F(AccuracyTest, BandValueOutsideSixToNineteenHalves) {
  for (const std::int32_t band : {22, 5, 20, -12, 0}) {
    shot.band = band;
    EXPECT_EQ(accuracy(), 40) << "band " << band;
  }
  for (const std::int32_t band : {6, 19}) {
    shot.band = band;
    EXPECT_EQ(accuracy(), 80) << "band " << band;
  }
}

TEST_F(AccuracyTest, RatioAndBonusScaleTheProduct) {
  shot.numerator = 50;
  EXPECT_EQ(accuracy(), 40);
  shot.numerator = 100;
  shot.d = 0.0f;
  shot.bonus = true;
  EXPECT_EQ(accuracy(), 100);  // 150 before the limit
  shot.numerator = 49;
  shot.denominator = 75;
  EXPECT_EQ(accuracy(), 97);
  shot.bonus = false;
  EXPECT_EQ(accuracy(), 65);
}

TEST_F(AccuracyTest, DistanceFactorReachesItsFloor) {
  shot.d = 150.0f;
  EXPECT_EQ(accuracy(), 10);
}

TEST_F(AccuracyTest, HighGameValuesTruncateToTwo) {
  shot.p = shot.t = 7.0f;
  shot.w1 = shot.w2 = shot.w3 = shot.c1 = shot.c2 = shot.h = 1.0f;
  EXPECT_EQ(accuracy(), 2);  // about 2.9: truncated, not rounded
}

TEST_F(AccuracyTest, ZeroDenominatorGivesZero) {
  shot.denominator = 0;
  EXPECT_EQ(accuracy(), 0);
  shot.numerator = 0;  // 0/0
  EXPECT_EQ(accuracy(), 0);
}

TEST_F(AccuracyTest, BarrelAtRightAnglesOrAwayGivesZero) {
  pointBarrel(90.0f);
  EXPECT_EQ(accuracy(), 0);
  shot.tip = {-1.0f, -0.2f, 0.3f};
  EXPECT_EQ(accuracy(), 0);
  // A target at infinity leaves no direction to aim along (its cosine is NaN): as if away.
  shot = Shot{};
  shot.targetAt = {std::numeric_limits<float>::infinity(), 0.0f, 0.0f};
  EXPECT_EQ(accuracy(), 0);
}

// --- Exits -----------------------------------------------------------------------------------

TEST_F(AccuracyTest, FalseGateLeavesThePedAlone) {
  for (const int gate : {0, 1, 2, 4}) {
    shot = Shot{};
    shot.gates[gate] = false;
    EXPECT_EQ(accuracy(), -1) << "gate " << gate;
    const std::size_t made = gate == 4 ? 5 : static_cast<std::size_t>(gate) + 1;
    EXPECT_EQ(sim::nativeSequence(), firstNatives(made)) << "gate " << gate;
  }
}

TEST_F(AccuracyTest, ZeroAccuracyGateSetsZeroAfterSevenNatives) {
  shot.gates[5] = false;
  EXPECT_EQ(accuracy(), 0);
  auto expected = firstNatives(6);
  expected.push_back(setAccuracyNative);
  EXPECT_EQ(sim::nativeSequence(), expected);
}

TEST_F(AccuracyTest, UnknownWeaponModelIsNotTreated) {
  shot.model = "not_a_gun";
  EXPECT_EQ(accuracy(), -1);
  EXPECT_EQ(sim::nativeSequence(), firstNatives(22));
}

TEST_F(AccuracyTest, MissingBonesStandAtTheOrigin) {
  // Both missing: no barrel at all, so the angle counts as 90 degrees.
  shot.bones.clear();
  EXPECT_EQ(accuracy(), 0);
  EXPECT_EQ(sim::nativeSequence(), withoutBonePositions({basePositionPlace, tipPositionPlace}));

  // A barrel so short that its squares underflow to zero is no barrel either; one whose squares
  // are subnormal still has a length, and points.
  shot.bones = {{"Gun_Lead1", baseIndex}, {"Gun_Muzzle", tipIndex}};
  shot.tip = {0x1p-80f, 0.0f, 0.0f};
  EXPECT_EQ(accuracy(), 0);
  shot.tip = {0x1p-70f, 0.0f, 0.0f};
  EXPECT_EQ(accuracy(), 80);
  shot.tip = Shot{}.tip;

  // Only the base missing: the base is the origin, not wherever the game would put it.
  shot.bones = {{"Gun_Muzzle", tipIndex}};
  shot.base = {0.0f, 5.0f, 0.0f};
  EXPECT_EQ(accuracy(), 80);
  EXPECT_EQ(sim::nativeSequence(), withoutBonePositions({basePositionPlace}));

  // Any other index, negative or not, is the game's to answer: here the barrel runs sideways.
  shot.bones = {{"Gun_Lead1", -2}, {"Gun_Muzzle", tipIndex}};
  EXPECT_EQ(accuracy(), 0);
  ASSERT_EQ(sim::callsOf(bonePositionNative).size(), 2u);
  EXPECT_EQ(sim::callsOf(bonePositionNative)[0].slots, (Slots{weaponObject, 0xFFFFFFFEu}));
}

// --- What reaches the game --------------------------------------------------------------------

TEST_F(AccuracyTest, EveryNativeGetsItsSlots) {
  accuracy();
  const auto& calls = sim::host().calls;
  ASSERT_EQ(calls.size(), fullSequence.size());
  const std::uint64_t minusFive = nativeSlot(-5.0f);
  const std::uint64_t ten = nativeSlot(10.0f);
  // Calls 0, 22 and 24 carry addresses and are checked below. 501 and 502: each weapon value is
  // asked for with its own key.
  // clang-format off
  const std::vector<Slots> expected = {
      {}, {weaponHash}, {weaponHash}, {shooter}, {target}, {shooter, target, 17}, {shooter, 1, 0},
      {target, 1, 0}, {minusFive, 0, 0, ten, 0, 0, 1}, {shooter}, {target}, {}, {}, {}, {},
      {shooter, 0}, {weaponObject}, {501}, {weaponObject}, {502}, {shooter}, {weaponHash}, {},
      {weaponObject, baseIndex}, {}, {weaponObject, tipIndex}, {shooter}, {shooter, 1},
      {shooter, 1, 1}, {shooter, 80}};
  // clang-format on
  for (std::size_t i = 1; i < calls.size(); ++i) {
    if (i == 22 || i == 24) continue;
    EXPECT_EQ(calls[i].slots, expected[i]) << "call " << i;
  }
  EXPECT_EQ(calls[0].slots.at(0), static_cast<std::uint32_t>(shooter));
  EXPECT_EQ(Slots(calls[0].slots.begin() + 2, calls[0].slots.end()), (Slots{1, 0, 0}));
  EXPECT_EQ(calls[22].slots.at(0), static_cast<std::uint32_t>(weaponObject));
  EXPECT_EQ(calls[22].text, "Gun_Lead1");
  EXPECT_EQ(calls[24].text, "Gun_Muzzle");
}

TEST_F(AccuracyTest, BoneNamesReachTheGameUnchanged) {
  const auto boneTexts = [this](const char* model) {
    shot.model = model;
    accuracy();
    std::vector<std::string> texts;
    for (const auto& call : sim::callsOf(boneIndexNative)) texts.push_back(call.text);
    return texts;
  };
  EXPECT_EQ(boneTexts("ps_semiauto"), (std::vector<std::string>{"gun_guncock4", "gun_muzzle"}));
  EXPECT_EQ(boneTexts("sg_sawedoff"), (std::vector<std::string>{"gun_ammo2", "Gun_Muzzle1"}));
}

// --- The alignment factor and the leniency ----------------------------------------------------
// At d = 0 every factor but A is 1, so the percentage shows A itself.

TEST_F(AccuracyTest, AlignmentFallsLinearlyToTheLeniency) {
  shot.d = 0.0f;
  pointBarrel(1.5f);
  EXPECT_EQ(accuracy(), 50);  // leniency 3
  angleLeniency = 1.5f;
  EXPECT_EQ(accuracy(), 0);

  // Past the leniency A stays at 0: a negative ratio cannot turn it into a positive result.
  pointBarrel(2.0f);
  shot.numerator = -100;
  EXPECT_EQ(accuracy(), 0);
}

// With a ratio of one half, an A above 1 would show.
TEST_F(AccuracyTest, ExtremeLeniencies) {
  shot.d = 0.0f;
  shot.numerator = 50;
  const auto accuracyAt = [this](float leniency, float degrees) {
    angleLeniency = leniency;
    pointBarrel(degrees);
    return accuracy();
  };
  EXPECT_EQ(accuracyAt(0.0f, 0.0f), 50);
  EXPECT_EQ(accuracyAt(0.0f, 0.5f), 0);
  EXPECT_EQ(accuracyAt(-3.0f, 60.0f), 50);
  EXPECT_EQ(accuracyAt(-3.0f, 90.0f), 50);
  EXPECT_EQ(accuracyAt(std::nanf(""), 45.0f), 50);
  EXPECT_EQ(accuracyAt(std::numeric_limits<float>::infinity(), 45.0f), 50);
  EXPECT_EQ(accuracyAt(180.0f, 90.0f), 25);  // A = 0.5 at right angles
}

// --- Game values ---------------------------------------------------------------------------

TEST_F(AccuracyTest, NanGameValueGivesTheFloor) {
  shot.d = 0.0f;
  shot.w1 = std::nanf("");
  EXPECT_EQ(accuracy(), 80);
  shot = Shot{};
  shot.d = std::nanf("");
  EXPECT_EQ(accuracy(), 10);
}

TEST_F(AccuracyTest, NegativeGameValueLiftsAFactorAboveOne) {
  shot.d = 0.0f;
  shot.numerator = 50;
  shot.w1 = -1.0f;  // W1 = 1.6
  EXPECT_EQ(accuracy(), 80);
  shot.w1 = 0.0f;
  shot.p = -3.5f;  // S = 1.25
  EXPECT_EQ(accuracy(), 62);
}

// Each case lands on an integer in exact arithmetic, and the game's constant decides which side:
// the constant one bit lower ("-") or higher ("+") gives the integer next to the expected one.
TEST_F(AccuracyTest, ConstantsHaveTheGamesBitPatterns) {
  const struct {
    const char* pinned;
    float Shot::*value;  // the one game value set, all others 0
    float amount;
    std::int32_t numerator;
    std::int32_t denominator;
    bool bonus;
    std::int32_t expected;
  } rows[] = {
      {"D scale 0x3BDA740E -", &Shot::d, 14.0f, 3, 4, false, 67},
      {"D scale 0x3BDA740E +", &Shot::d, 4.5f, 5, 97, false, 5},
      {"S scale 0x3D924925 -", &Shot::t, 5.0f, 7, 6, false, 74},
      {"S scale 0x3D924925 +", &Shot::t, 2.0f, 7, 12, false, 50},
      {"W3 scale 0x3C4CCCCE -", &Shot::w3, 11.0f, 4, 23, false, 14},
      {"W3 scale 0x3C4CCCCE +", &Shot::w3, 7.0f, 4, 5, false, 73},
      {"floor 0x3DCCCCCD -", &Shot::d, 135.0f, 1, 1, false, 10},
      {"floor 0x3DCCCCCD +", &Shot::d, 135.0f, 99, 10, false, 98},
      {"W scale 0x3F19999A -", &Shot::w1, 0.15f, 5, 91, false, 4},
      {"W scale 0x3F19999A +", &Shot::w1, 0.3f, 1, 1, false, 82},
      {"floor 0x3F4CCCCD -", &Shot::w1, 1.0f, 1, 1, false, 80},
      {"floor 0x3F4CCCCD +", &Shot::w1, 1.0f, 99, 80, false, 98},
      {"C1 scale 0x3F666666 -", &Shot::c1, 0.08f, 15, 29, false, 47},
      {"C1 scale 0x3F666666 +", &Shot::c1, 0.1f, 5, 91, false, 5},
      {"C2 scale 0x3DCCCCCD -", &Shot::c2, 1.6f, 7, 6, false, 97},
      {"C2 scale 0x3DCCCCCD +", &Shot::c2, 0.3f, 5, 97, false, 5},
      {"0.5, 1.0 and 100.0 -", nullptr, 0.0f, 1, 2, false, 50},
      {"0.5, 1.0 and 100.0 +", nullptr, 0.0f, 53, 100, false, 52},
      {"bonus 0x3FC00000 -", nullptr, 0.0f, 1, 2, true, 75},
      {"bonus 0x3FC00000 +", nullptr, 0.0f, 49, 75, true, 97},
  };
  for (const auto& row : rows) {
    shot = Shot{};
    shot.d = 0.0f;
    if (row.value != nullptr) shot.*row.value = row.amount;
    shot.numerator = row.numerator;
    shot.denominator = row.denominator;
    shot.bonus = row.bonus;
    EXPECT_EQ(accuracy(), row.expected) << row.pinned;
  }

  // 180/pi, a double: one bit either way moves no angle that a float cosine gives, but rounded to
  // float precision it moves this one (about 0.0713 degrees) a step past the leniency.
  shot = Shot{};
  shot.d = 0.0f;
  shot.tip = {0x1.ffffe6p-1f, 0x1.465656p-10f, 0.0f};
  angleLeniency = 0x1.2427p-4f;
  shot.numerator = 4194304;
  shot.denominator = 1;
  EXPECT_EQ(accuracy(), 50);
}

// --- The percentage --------------------------------------------------------------------------

TEST_F(AccuracyTest, PercentageIsTruncatedAndLimited) {
  shot.d = 0.0f;
  const auto accuracyWithRatio = [this](std::int32_t numerator, std::int32_t denominator) {
    shot.numerator = numerator;
    shot.denominator = denominator;
    return accuracy();
  };
  EXPECT_EQ(accuracyWithRatio(9999, 10000), 99);
  EXPECT_EQ(accuracyWithRatio(1, 100), 1);
  EXPECT_EQ(accuracyWithRatio(1, 200), 0);  // 0.5
  EXPECT_EQ(accuracyWithRatio(-100, 100), 0);
  EXPECT_EQ(accuracyWithRatio(5, 1), 100);
  EXPECT_EQ(accuracyWithRatio(20000000, 1), 100);  // 2e9, still a 32-bit integer
  EXPECT_EQ(accuracyWithRatio(21474834, 1), 100);  // 2^31 - 256, a float below 2^31
  EXPECT_EQ(accuracyWithRatio(21474836, 1), 0);    // rounds to 2^31 exactly
  // Beyond a 32-bit integer there is nothing to truncate: 0, like the infinities.
  EXPECT_EQ(accuracyWithRatio(30000000, 1), 0);
  EXPECT_EQ(accuracyWithRatio(std::numeric_limits<std::int32_t>::min(), 1), 0);
}

}  // namespace
