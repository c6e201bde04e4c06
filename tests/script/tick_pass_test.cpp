#include <optional>
#include <string>
#include <vector>

#include "accuracy/weapon_bones.h"
#include "fake_game_test.h"
#include "script/script.h"
#include "settings/settings.h"

namespace {

constexpr std::uint64_t playerPedNative = 0x096275889B8E0EE0;
constexpr std::uint64_t entityPositionNative = 0xA86D5F069399F44D;
constexpr std::uint64_t nameHashNative = 0xFD340785ADF8CFB7;
constexpr std::uint64_t createPedSetNative = 0xA1AF16083320065A;
constexpr std::uint64_t findNearbyPedsNative = 0x59B57C4B06531E1E;
constexpr std::uint64_t pedSetItemNative = 0x275A2E2C0FAB7612;
constexpr std::uint64_t itemEntityNative = 0xEE04C0AFD4EFAF0E;
constexpr std::uint64_t pedFirstFilterNative = 0xD42BD6EB2E0F1677;
constexpr std::uint64_t pedSecondFilterNative = 0xCF8176912DDA4EA5;
constexpr std::uint64_t pedThirdFilterNative = 0xB980061DA992779D;
constexpr std::uint64_t currentWeaponNative = 0x3A87E44BB9A01D54;
constexpr std::uint64_t pedFirstSettingNative = 0xC2266AA617668AD3;
constexpr std::uint64_t pedSecondSettingNative = 0x2BA918C823B8BA56;
constexpr std::uint64_t releasePedSetNative = 0x712BC69F10549B92;

// The accuracy computation's natives as far as its first gates and its zero outcome.
constexpr std::uint64_t weaponFirstGateNative = 0x937C71165CF334B3;
constexpr std::uint64_t weaponSecondGateNative = 0x705BE297EEBDB95D;
constexpr std::uint64_t pedTargetNative = 0xCD66FEA29400A0B5;
constexpr std::uint64_t zeroAccuracyGateNative = 0xFCDFF7B72D23A1AC;
constexpr std::uint64_t setAccuracyNative = 0x7AEFB85C1D49DEB6;

constexpr Entity player = 7;
constexpr Entity ped = 42;
constexpr std::int32_t pedSet = 77;
constexpr std::int32_t firstItem = 1000;
constexpr std::uint64_t oneBits = 0x3F800000;  // 1.0f

using Sequence = std::vector<std::uint64_t>;
using Slots = std::vector<std::uint64_t>;

class TickPassTest : public FakeGameTest {
 protected:
  std::vector<Entity> peds;                   // what the search finds, in set order
  std::optional<std::int32_t> reportedCount;  // what the search answers instead of the count
  bool filters[3] = {true, true, true};
  bool armed = true;

  void SetUp() override {
    FakeGameTest::SetUp();
    sim::answerInt(playerPedNative, player);
    sim::answer(entityPositionNative, [](const sim::NativeContext& call) {
      call.setVector(call.intSlot(0) == player ? Vector3{1.5f, -2.25f, 3.0f} : Vector3{});
    });
    sim::answerInt(createPedSetNative, pedSet);
    sim::answer(findNearbyPedsNative, [this](const sim::NativeContext& call) {
      call.setInt(reportedCount.value_or(static_cast<std::int32_t>(peds.size())));
    });
    sim::answer(pedSetItemNative,
                [](const sim::NativeContext& call) { call.setInt(firstItem + call.intSlot(0)); });
    sim::answer(itemEntityNative, [this](const sim::NativeContext& call) {
      call.setInt(peds.at(static_cast<std::size_t>(call.intSlot(0) - firstItem)));
    });
    answerFilter(pedFirstFilterNative, 0);
    answerFilter(pedSecondFilterNative, 1);
    answerFilter(pedThirdFilterNative, 2);
    sim::answer(currentWeaponNative, [this](const sim::NativeContext& call) {
      *call.pointerSlot<std::uint32_t>(1) = 0x169F59F7;
      call.setInt(armed ? 1 : 0);
    });
    for (const std::uint64_t setter :
         {pedFirstSettingNative, pedSecondSettingNative, releasePedSetNative, setAccuracyNative}) {
      sim::answer(setter, [](const sim::NativeContext&) {});
    }
    // A ped that passes every gate but can never hit its target: accuracy 0.
    sim::answerInt(weaponFirstGateNative, 1);
    sim::answerInt(weaponSecondGateNative, 1);
    sim::answerInt(pedTargetNative, 99);
    sim::answerInt(zeroAccuracyGateNative, 0);
  }

  void answerFilter(std::uint64_t hash, int filter) {
    sim::answer(hash, [this, filter](const sim::NativeContext& call) {
      call.setInt(filters[filter] ? 1 : 0);
    });
  }

  // Runs the loop until the host stops the script at the given wait.
  static void runPasses(long passes) {
    sim::host().waitsBeforeStop = passes - 1;
    EXPECT_THROW(runTickLoop(), sim::ScriptStopped);
  }

  // Every pass starts the same way: player, position, the weapon table, a new set, the search.
  static Sequence passStart() {
    Sequence start = {playerPedNative, entityPositionNative};
    start.insert(start.end(), weaponBoneRowCount, nameHashNative);
    start.push_back(createPedSetNative);
    start.push_back(findNearbyPedsNative);
    return start;
  }

  static Sequence concat(Sequence head, const Sequence& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  }

  // The natives from the set item up to the weapon query, for one looked-at ped.
  static Sequence pedLookedAt() {
    return {pedSetItemNative,      itemEntityNative,     pedFirstFilterNative,
            pedSecondFilterNative, pedThirdFilterNative, currentWeaponNative};
  }
};

TEST_F(TickPassTest, EmptySearchMakesOnlyThePassFrame) {
  runPasses(1);
  EXPECT_EQ(sim::nativeSequence(), concat(passStart(), {releasePedSetNative}));

  std::vector<std::string> names;
  for (const auto& call : sim::callsOf(nameHashNative)) names.push_back(call.text);
  std::vector<std::string> rowNames;
  for (int row = 0; row < weaponBoneRowCount; ++row) {
    rowNames.emplace_back(weaponBoneRows[row].modelName);
  }
  EXPECT_EQ(names, rowNames);

  const auto& calls = sim::host().calls;
  ASSERT_EQ(calls.size(), passStart().size() + 2);
  EXPECT_TRUE(calls[0].slots.empty());
  EXPECT_EQ(calls[1].slots, (Slots{player, 1, 0}));
  EXPECT_EQ(sim::callsOf(createPedSetNative).at(0).slots, Slots{1});
  EXPECT_EQ(sim::callsOf(findNearbyPedsNative).at(0).slots,
            (Slots{0x3FC00000, 0xC0100000, 0x40400000, 0x43160000, pedSet, 1}));
  EXPECT_EQ(sim::callsOf(releasePedSetNative).at(0).slots, Slots{pedSet});
  EXPECT_TRUE(calls.back().isWait);
  EXPECT_EQ(calls.back().slots, Slots{0});
}

TEST_F(TickPassTest, NegativeCountLooksAtNoPed) {
  peds = {ped};
  reportedCount = -3;
  runTickPass();
  EXPECT_EQ(sim::nativeSequence(), concat(passStart(), {releasePedSetNative}));
}

TEST_F(TickPassTest, PlayerIsFilteredButNotTreated) {
  peds = {player};
  runTickPass();
  EXPECT_EQ(sim::nativeSequence(),
            concat(concat(passStart(), pedLookedAt()), {releasePedSetNative}));
  EXPECT_EQ(sim::callsOf(pedSetItemNative).at(0).slots, (Slots{0, pedSet}));
  EXPECT_EQ(sim::callsOf(itemEntityNative).at(0).slots, Slots{firstItem});
  EXPECT_EQ(sim::callsOf(pedThirdFilterNative).at(0).slots, Slots{player});
  const auto weaponQuery = sim::callsOf(currentWeaponNative).at(0).slots;
  EXPECT_EQ(weaponQuery.at(0), static_cast<std::uint32_t>(player));
  EXPECT_EQ(Slots(weaponQuery.begin() + 2, weaponQuery.end()), (Slots{1, 0, 0}));
}

TEST_F(TickPassTest, FailedFilterOrNoWeaponSkipsThePed) {
  peds = {ped};
  armed = false;
  runTickPass();
  EXPECT_EQ(sim::nativeSequence(),
            concat(concat(passStart(), pedLookedAt()), {releasePedSetNative}));

  armed = true;
  for (int filter = 0; filter < 3; ++filter) {
    sim::host().calls.clear();
    filters[0] = filters[1] = filters[2] = true;
    filters[filter] = false;
    runTickPass();
    Sequence lookedAt = pedLookedAt();
    lookedAt.resize(3 + static_cast<std::size_t>(filter));
    EXPECT_EQ(sim::nativeSequence(), concat(concat(passStart(), lookedAt), {releasePedSetNative}))
        << "filter " << filter;
  }
}

TEST_F(TickPassTest, UntreatedPedGetsNothingMore) {
  peds = {ped};
  sim::answerInt(weaponFirstGateNative, 0);
  runTickPass();
  const Sequence accuracyGates = {currentWeaponNative, weaponFirstGateNative};
  EXPECT_EQ(sim::nativeSequence(), concat(concat(concat(passStart(), pedLookedAt()), accuracyGates),
                                          {releasePedSetNative}));
}

TEST_F(TickPassTest, TreatedPedGetsItsSettingsWithoutLabel) {
  peds = {ped};
  runTickPass();
  const Sequence zeroAccuracy = {currentWeaponNative, weaponFirstGateNative, weaponSecondGateNative,
                                 pedTargetNative,     pedFirstFilterNative,  zeroAccuracyGateNative,
                                 setAccuracyNative};
  const Sequence afterAccuracy = {entityPositionNative, pedFirstSettingNative,
                                  pedSecondSettingNative, releasePedSetNative};
  EXPECT_EQ(sim::nativeSequence(),
            concat(concat(concat(passStart(), pedLookedAt()), zeroAccuracy), afterAccuracy));
  EXPECT_EQ(sim::callsOf(setAccuracyNative).at(0).slots, (Slots{ped, 0}));
  EXPECT_EQ(sim::callsOf(entityPositionNative).at(1).slots, (Slots{ped, 1, 0}));
  EXPECT_EQ(sim::callsOf(pedFirstSettingNative).at(0).slots, (Slots{ped, oneBits}));
  EXPECT_EQ(sim::callsOf(pedSecondSettingNative).at(0).slots, (Slots{ped, oneBits}));
}

TEST_F(TickPassTest, EveryPassEndsWithReleaseThenWait) {
  peds = {player, ped};
  runPasses(3);
  const auto& calls = sim::host().calls;
  std::size_t waits = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (!calls[i].isWait) continue;
    ++waits;
    EXPECT_EQ(calls[i].slots, Slots{0});
    ASSERT_GT(i, 0u);
    EXPECT_EQ(calls[i - 1].hash, releasePedSetNative);
    EXPECT_EQ(calls[i - 1].slots, Slots{pedSet});
  }
  EXPECT_EQ(waits, 3u);
  EXPECT_EQ(sim::callsOf(releasePedSetNative).size(), 3u);
  EXPECT_EQ(sim::callsOf(pedSecondSettingNative).size(), 3u);  // the armed ped, once per pass
}

}  // namespace
