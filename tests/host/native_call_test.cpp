#include <cmath>
#include <cstring>

#include "fake_game_test.h"
#include "host/native.h"

namespace {

using NativeCallTest = FakeGameTest;

constexpr std::uint64_t someNative = 0x1122334455667788;

TEST_F(NativeCallTest, SlotsAreZeroExtendedAndFloatsKeepTheirBits) {
  sim::answerInt(someNative, 0);
  const float negativeZero = -0.0f;
  const float nan = std::nanf("");
  std::uint32_t out = 0;
  callNative(someNative, -1, 0x80000000u, 1.5f, negativeZero, nan, &out);

  const auto calls = sim::callsOf(someNative);
  ASSERT_EQ(calls.size(), 1u);
  const auto& slots = calls[0].slots;
  ASSERT_EQ(slots.size(), 6u);
  EXPECT_EQ(slots[0], 0x00000000FFFFFFFFu);  // a negative handle is zero-extended
  EXPECT_EQ(slots[1], 0x0000000080000000u);
  EXPECT_EQ(slots[2], 0x000000003FC00000u);
  EXPECT_EQ(slots[3], 0x0000000080000000u);
  std::uint32_t nanBits;
  std::memcpy(&nanBits, &nan, sizeof nanBits);
  EXPECT_EQ(slots[4], nanBits);
  EXPECT_EQ(slots[5], reinterpret_cast<std::uintptr_t>(&out));
}

TEST_F(NativeCallTest, ResultsReadOnlyTheLowHalfOfEachSlot) {
  sim::answerInt(someNative, -7);
  EXPECT_EQ(callNative<std::int32_t>(someNative), -7);
  EXPECT_EQ(callNative<std::uint32_t>(someNative), 0xFFFFFFF9u);
  EXPECT_TRUE(callNative<bool>(someNative));

  // Zero in the low half is false, whatever the fake game left in the upper half.
  sim::answerInt(someNative, 0);
  EXPECT_FALSE(callNative<bool>(someNative));

  sim::answerFloat(someNative, -2.25f);
  EXPECT_EQ(callNative<float>(someNative), -2.25f);

  sim::answerVector(someNative, {1.0f, -2.0f, 3.5f});
  const Vector3 v = callNative<Vector3>(someNative);
  EXPECT_EQ(v.x, 1.0f);
  EXPECT_EQ(v.y, -2.0f);
  EXPECT_EQ(v.z, 3.5f);
}

TEST_F(NativeCallTest, SharedWrappersUseTheirNativesAndSlots) {
  sim::answerVector(0xA86D5F069399F44D, {4.0f, 5.0f, 6.0f});
  sim::answerVector(0x82CFA50E34681CA5, {7.0f, 8.0f, 9.0f});
  sim::answerFloat(0x0BE7F4E3CDBAFB28, 12.5f);

  EXPECT_EQ(entityPosition(-2).y, 5.0f);
  EXPECT_EQ(boneWorldPosition(42, 3).z, 9.0f);
  EXPECT_EQ(pointDistance({1.0f, 2.0f, 3.0f}, {4.0f, 5.0f, 6.0f}), 12.5f);
  EXPECT_EQ(nameHash("WEAPON_REVOLVER_CATTLEMAN"), 0x169F59F7u);

  const auto& calls = sim::host().calls;
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].slots, (std::vector<std::uint64_t>{0xFFFFFFFE, 1, 0}));
  EXPECT_EQ(calls[1].slots, (std::vector<std::uint64_t>{42, 3}));
  EXPECT_EQ(calls[2].slots, (std::vector<std::uint64_t>{0x3F800000, 0x40000000, 0x40400000,
                                                        0x40800000, 0x40A00000, 0x40C00000, 1}));
  EXPECT_EQ(calls[3].text, "WEAPON_REVOLVER_CATTLEMAN");
}

TEST(GameNameHash, MatchesTheGamesPublishedValues) {
  EXPECT_EQ(sim::gameNameHash("WEAPON_REVOLVER_CATTLEMAN"), 0x169F59F7u);
  EXPECT_EQ(sim::gameNameHash("WEAPON_SHOTGUN_PUMP"), 0x31B7B9FEu);
  EXPECT_EQ(sim::gameNameHash("weapon_shotgun_pump"), 0x31B7B9FEu);
}

}  // namespace
