#include <algorithm>
#include <cmath>

#include "fake_game_test.h"
#include "game_api.h"
#include "scene.h"
#include "script/keyboard.h"
#include "script/script.h"
#include "settings/settings.h"
#include "world.h"

namespace {

using WorldTest = FakeGameTest;

constexpr std::uint64_t currentWeaponNative = 0x3A87E44BB9A01D54;
constexpr std::uint64_t modelKeyNative = 0x8EC44AE8DECFF841;
constexpr std::uint64_t weaponObjectNative = 0x3B390A939AF0B5FC;
constexpr std::uint64_t boneIndexNative = 0xBACA8FE9C76C124E;
constexpr std::uint64_t createSetNative = 0xA1AF16083320065A;
constexpr std::uint64_t searchNative = 0x59B57C4B06531E1E;
constexpr std::uint64_t setItemNative = 0x275A2E2C0FAB7612;
constexpr std::uint64_t itemEntityNative = 0xEE04C0AFD4EFAF0E;
constexpr std::uint64_t releaseSetNative = 0x712BC69F10549B92;
constexpr std::uint64_t entityCoordsNative = 0xA86D5F069399F44D;

sim::Scene sceneFrom(const char* text) {
  sim::Scene scene;
  const std::string error = sim::parseScene(text, scene);
  EXPECT_EQ(error, "");
  return scene;
}

double degreesBetween(const Vector3& from, const Vector3& a, const Vector3& b) {
  const double ax = a.x - from.x, ay = a.y - from.y, az = a.z - from.z;
  const double bx = b.x - from.x, by = b.y - from.y, bz = b.z - from.z;
  const double cosine = (ax * bx + ay * by + az * bz) / (std::sqrt(ax * ax + ay * ay + az * az) *
                                                         std::sqrt(bx * bx + by * by + bz * bz));
  return std::acos(std::fmin(1.0, std::fmax(-1.0, cosine))) * 180.0 / 3.14159265358979323846;
}

const char* const shooterScene = R"(
[player]
position = 0, 0, 0
[Shooter]
position = 23, 41, 2
weapon = WEAPON_REVOLVER_CATTLEMAN
model = rv_cattleman
target = player
)";

TEST(WorldGeometry, AimErrorPlacesTheBarrelAtThatAngleFromTheTarget) {
  sim::Scene scene = sceneFrom(shooterScene);
  for (const double error : {0.0, 0.5, 1.5, 3.0, 10.0, 45.0, 90.0, 135.0, -4.0}) {
    scene.actors[1].aimError = error;
    const Vector3 base = sim::baseBonePosition(scene, 1);
    const Vector3 tip = sim::tipBonePosition(scene, 1);
    EXPECT_NEAR(degreesBetween(base, tip, scene.actors[0].position), std::fabs(error), 2e-3)
        << "aim error " << error;
    // The base is at the hand, half a metre out towards the target; the barrel a quarter metre.
    EXPECT_NEAR(std::hypot(base.x - 23.0, base.y - 41.0), 0.5, 1e-5);
    EXPECT_EQ(base.z, 2.0f);
    EXPECT_NEAR(std::hypot(tip.x - base.x, tip.y - base.y, tip.z - base.z), 0.25, 1e-5);
  }
  scene.actors[1].aimError = 10.0;
  EXPECT_GT(sim::tipBonePosition(scene, 1).z, sim::baseBonePosition(scene, 1).z);  // raised
}

TEST(WorldGeometry, AlignedShooterOnAnAxisLineHasAnExactlyParallelBarrel) {
  // What the hand-derived accuracies rest on: the plug-in's angle is exactly 0 here.
  const sim::Scene scene = sceneFrom(R"(
[Target]
position = 20, 30, 0
[Shooter]
position = -10, 30, 0
weapon = WEAPON_REVOLVER_CATTLEMAN
model = rv_cattleman
target = Target
)");
  const Vector3 base = sim::baseBonePosition(scene, 2);
  const Vector3 tip = sim::tipBonePosition(scene, 2);
  EXPECT_EQ(base.x, -9.5f);
  EXPECT_EQ(tip.x - base.x, 0.25f);
  EXPECT_EQ(tip.y, base.y);
  EXPECT_EQ(tip.z, base.z);
  EXPECT_EQ(base.y, 30.0f);
  EXPECT_EQ(base.z, 0.0f);
}

TEST(WorldGeometry, ProjectionPutsThePointStraightAheadAtTheScreenCentre) {
  sim::Scene scene = sceneFrom("[player]\nposition = 5, -3, 1\nlook at = 5, 50, 1.7\n");
  const sim::ScreenPoint ahead = sim::projectToScreen(scene, {5.0f, 20.0f, 1.7f});
  EXPECT_TRUE(ahead.inFront);
  EXPECT_EQ(ahead.x, 0.5f);
  EXPECT_EQ(ahead.y, 0.5f);

  const sim::ScreenPoint right = sim::projectToScreen(scene, {8.0f, 20.0f, 1.7f});
  EXPECT_GT(right.x, 0.5f);
  const sim::ScreenPoint above = sim::projectToScreen(scene, {5.0f, 20.0f, 4.0f});
  EXPECT_LT(above.y, 0.5f);
  // The edge of a 50 degree vertical view: tan(25 degrees) up at depth 1 is the top edge.
  const sim::ScreenPoint top = sim::projectToScreen(scene, {5.0f, 7.0f, 1.7f + 4.6630766f});
  EXPECT_NEAR(top.y, 0.0f, 1e-6);
  EXPECT_FALSE(sim::projectToScreen(scene, {5.0f, -10.0f, 1.7f}).inFront);  // behind

  scene.camera.pullBack = 4.0;
  const Vector3 camera = sim::cameraPosition(scene);
  EXPECT_NEAR(camera.y, -7.0f, 1e-5);
  EXPECT_TRUE(sim::projectToScreen(scene, scene.actors[0].position).inFront);
}

TEST_F(WorldTest, WeaponObjectAnswersItsModelsBoneNamesExactlyAsSpelt) {
  sim::installWorld(sceneFrom(shooterScene));
  const Entity shooter = sim::actorHandle(1);
  std::uint32_t weapon = 0;
  ASSERT_TRUE(callNative<bool>(currentWeaponNative, shooter, &weapon, 1, 0, 0));
  EXPECT_EQ(weapon, 0x169F59F7u);  // WEAPON_REVOLVER_CATTLEMAN, as the game hashes it
  EXPECT_EQ(callNative<std::uint32_t>(modelKeyNative, weapon), sim::gameNameHash("rv_cattleman"));
  EXPECT_EQ(callNative<std::uint32_t>(modelKeyNative, 0x12345678u), 0u);

  const Entity object = callNative<Entity>(weaponObjectNative, shooter, 0);
  EXPECT_EQ(object, sim::weaponObjectHandle(1));
  EXPECT_GE(callNative<std::int32_t>(boneIndexNative, object, "Gun_Lead1"), 0);
  EXPECT_GE(callNative<std::int32_t>(boneIndexNative, object, "Gun_Muzzle"), 0);
  EXPECT_EQ(callNative<std::int32_t>(boneIndexNative, object, "gun_muzzle"), -1);
  EXPECT_EQ(callNative<std::int32_t>(boneIndexNative, object, "Gun_Ammo2"), -1);
  EXPECT_EQ(callNative<std::int32_t>(boneIndexNative, shooter, "Gun_Lead1"), -1);  // not a weapon
  EXPECT_EQ(callNative<Entity>(weaponObjectNative, sim::actorHandle(0), 0), 0);    // unarmed

  sim::Scene scene = sceneFrom(shooterScene);
  scene.actors[1].missingBones = "tip";
  sim::installWorld(scene);
  EXPECT_GE(callNative<std::int32_t>(boneIndexNative, object, "Gun_Lead1"), 0);
  EXPECT_EQ(callNative<std::int32_t>(boneIndexNative, object, "Gun_Muzzle"), -1);
}

TEST_F(WorldTest, SearchFillsTheSetWithinTheRadiusAndTheFrameEndsAtTheWait) {
  sim::installWorld(sceneFrom(R"(
[player]
position = 0, 0, 0
in search = false
[Near]
position = 0, 149, 0
[Far]
position = 0, 151, 0
)"));
  const std::int32_t set = callNative<std::int32_t>(createSetNative, 1);
  ASSERT_EQ(callNative<std::int32_t>(searchNative, 0.0f, 0.0f, 0.0f, 150.0f, set, 1), 1);
  const std::int32_t item = callNative<std::int32_t>(setItemNative, 0, set);
  EXPECT_NE(item, sim::actorHandle(1));  // an item is not yet the ped
  EXPECT_EQ(callNative<Entity>(itemEntityNative, item), sim::actorHandle(1));
  EXPECT_EQ(callNative<std::int32_t>(setItemNative, 1, set), 0);
  callNative(releaseSetNative, set);
  scriptWait(0);

  ASSERT_EQ(sim::world().frames.size(), 1u);
  const sim::FrameRecord& frame = sim::world().frames[0];
  EXPECT_TRUE(frame.actors[1].inSet);
  EXPECT_FALSE(frame.actors[2].inSet);
  EXPECT_FALSE(frame.actors[0].inSet);
  EXPECT_TRUE(frame.endsWithReleaseThenWait);
  EXPECT_EQ(frame.natives, 6u);

  // A native after the release, or a set left behind, spoils the ending.
  const std::int32_t kept = callNative<std::int32_t>(createSetNative, 1);
  callNative<Vector3>(entityCoordsNative, sim::actorHandle(0), 1, 0);
  scriptWait(0);
  EXPECT_FALSE(sim::world().frames[1].endsWithReleaseThenWait);
  EXPECT_EQ(sim::world().frames[1].setsCreated, std::vector<std::int32_t>{kept});
  EXPECT_TRUE(sim::world().protocolErrors.empty());
}

TEST_F(WorldTest, AReleasedSetIsGoneEvenThoughItsSlotIsReused) {
  sim::installWorld(sceneFrom(shooterScene));
  const std::int32_t first = callNative<std::int32_t>(createSetNative, 1);
  callNative(releaseSetNative, first);
  EXPECT_EQ(callNative<std::int32_t>(searchNative, 0.0f, 0.0f, 0.0f, 150.0f, first, 1), 0);
  callNative(releaseSetNative, first);
  ASSERT_EQ(sim::world().protocolErrors.size(), 2u);
  EXPECT_NE(sim::world().protocolErrors[0].find("does not exist"), std::string::npos);
  EXPECT_NE(sim::world().protocolErrors[1].find("does not exist"), std::string::npos);

  // The next set takes the old one's place with a handle of its own and starts empty.
  const std::int32_t second = callNative<std::int32_t>(createSetNative, 1);
  EXPECT_NE(second, first);
  EXPECT_EQ(callNative<std::int32_t>(setItemNative, 0, second), 0);
  EXPECT_EQ(callNative<std::int32_t>(searchNative, 0.0f, 0.0f, 0.0f, 150.0f, second, 1), 2);
  callNative(releaseSetNative, second);
  scriptWait(0);
  EXPECT_EQ(sim::world().frames[0].setsReleased, (std::vector<std::int32_t>{first, second}));
}

TEST_F(WorldTest, CrowdTreatsEveryPedWithEveryModelAndLabelsThemAll) {
  const int peds = 40;
  const sim::Scene scene = sim::crowdScene(peds);
  ASSERT_EQ(scene.actors.size(), static_cast<std::size_t>(peds + 1));
  for (std::size_t i = 1; i < scene.actors.size(); ++i) {
    EXPECT_EQ(sim::expectedSkipReason(scene, i), "") << scene.actors[i].name;
  }
  std::vector<std::string> models;
  for (const sim::Actor& actor : scene.actors) models.push_back(actor.model);
  for (const sim::GameWeapon& row : sim::gameWeaponRows()) {
    if (row.base == nullptr) continue;  // nothing to aim with
    EXPECT_NE(std::find(models.begin(), models.end(), row.model), models.end()) << row.model;
  }

  sim::installWorld(scene);
  displayAccuracy = true;
  runTickPass();
  scriptWait(0);
  const sim::FrameRecord& frame = sim::world().frames.at(0);
  EXPECT_EQ(frame.labels.size(), static_cast<std::size_t>(peds));
  std::vector<std::int32_t> accuracies;
  for (std::size_t i = 1; i < frame.actors.size(); ++i) {
    EXPECT_EQ(frame.actors[i].accuracySets, 1) << i;
    accuracies.push_back(frame.actors[i].accuracy);
  }
  // Distances and aim errors spread the outcomes from high accuracy down to none.
  EXPECT_GT(*std::max_element(accuracies.begin(), accuracies.end()), 80);
  EXPECT_EQ(*std::min_element(accuracies.begin(), accuracies.end()), 0);
  EXPECT_TRUE(sim::world().protocolErrors.empty());
}

TEST_F(WorldTest, ReportsUnknownNativesAndMalformedSlots) {
  sim::installWorld(sceneFrom(shooterScene));
  callNative<std::int32_t>(0x0123456789ABCDEF, 1);
  callNative<Vector3>(entityCoordsNative, sim::actorHandle(1), 1);  // a slot short
  nativeInit(0xD42BD6EB2E0F1677);
  nativePush64(0xFFFFFFFF00000000u | static_cast<std::uint32_t>(sim::actorHandle(1)));
  nativeCall();
  scriptWait(0);
  EXPECT_EQ(sim::host().unknownNatives, std::vector<std::uint64_t>{0x0123456789ABCDEF});
  EXPECT_EQ(sim::world().frames[0].unknownNatives, 1u);
  ASSERT_EQ(sim::world().protocolErrors.size(), 2u);
  EXPECT_NE(sim::world().protocolErrors[0].find("number of slots"), std::string::npos);
  EXPECT_NE(sim::world().protocolErrors[1].find("upper half"), std::string::npos);
  sim::host().unknownNatives.clear();  // seen; the fixture checks for others
}

constexpr std::uint64_t playerPedNative = 0x096275889B8E0EE0;
constexpr std::uint64_t firstFilterNative = 0xD42BD6EB2E0F1677;
constexpr std::uint64_t pedTargetNative = 0xCD66FEA29400A0B5;
constexpr std::uint64_t distanceNative = 0x0BE7F4E3CDBAFB28;
constexpr std::uint64_t bonePositionNative = 0x82CFA50E34681CA5;
constexpr std::uint64_t worldToScreenNative = 0xCB50D7AFCC8B0EC6;
constexpr std::uint64_t absoluteValueNative = 0x134549B388167CBF;
constexpr std::uint64_t labelLimitNative = 0xF6A96E5ACEEC6E50;

TEST_F(WorldTest, FoundCountPastTheSetGivesItemsOfPedsThatAreGone) {
  sim::installWorld(sceneFrom(R"(
[world]
found count = 7
[player]
in search = false
[Near]
position = 0, 10, 0
)"));
  const std::int32_t set = callNative<std::int32_t>(createSetNative, 1);
  ASSERT_EQ(callNative<std::int32_t>(searchNative, 0.0f, 0.0f, 0.0f, 150.0f, set, 1), 7);
  std::vector<Entity> handles;
  for (std::int32_t i = 0; i < 7; ++i) {
    const std::int32_t item = callNative<std::int32_t>(setItemNative, i, set);
    handles.push_back(callNative<Entity>(itemEntityNative, item));
  }
  // The set's own ped first, then 0, -1 and a stale handle in turn: none passes a filter.
  EXPECT_EQ(handles[0], sim::actorHandle(1));
  EXPECT_EQ(handles[1], 0);
  EXPECT_EQ(handles[2], -1);
  EXPECT_GT(handles[3], 0);
  EXPECT_EQ(handles[4], 0);
  EXPECT_NE(handles[6], handles[3]);
  for (std::size_t i = 1; i < handles.size(); ++i) {
    EXPECT_FALSE(callNative<bool>(firstFilterNative, handles[i])) << i;
  }
  EXPECT_EQ(callNative<std::int32_t>(setItemNative, 7, set), 0);  // past the answered count
  callNative(releaseSetNative, set);
  scriptWait(0);
  const sim::FrameRecord& frame = sim::world().frames[0];
  const auto itemReads = std::find_if(frame.nativeCalls.begin(), frame.nativeCalls.end(),
                                      [](const auto& row) { return row.first == setItemNative; });
  ASSERT_NE(itemReads, frame.nativeCalls.end());
  EXPECT_EQ(itemReads->second, 8u);
  EXPECT_TRUE(frame.endsWithReleaseThenWait);
}

TEST_F(WorldTest, HandlesThatReferToNothingAreNamedButNotKnown) {
  sim::installWorld(sceneFrom(R"(
[player]
handle = 0
position = 10, 10, 0
[Ghost]
position = 0, 5, 0
handle = -1
[Shooter]
position = 0, 20, 0
weapon = WEAPON_REVOLVER_CATTLEMAN
model = rv_cattleman
target = Ghost
weapon object handle = 0
)"));
  EXPECT_EQ(callNative<Entity>(playerPedNative), 0);
  const Vector3 centre = callNative<Vector3>(entityCoordsNative, 0, 1, 0);
  EXPECT_EQ(centre.x, 0.0f);  // a handle that refers to nothing stands at the origin
  const Entity shooter = sim::actorHandle(2);
  EXPECT_EQ(callNative<Entity>(pedTargetNative, shooter), -1);
  EXPECT_FALSE(callNative<bool>(firstFilterNative, -1));
  // The handle the ghost had before is gone with it.
  EXPECT_FALSE(callNative<bool>(firstFilterNative, sim::actorHandle(1)));
  const Entity object = callNative<Entity>(weaponObjectNative, shooter, 0);
  EXPECT_EQ(object, 0);
  EXPECT_EQ(callNative<std::int32_t>(boneIndexNative, object, "Gun_Lead1"), -1);
  EXPECT_EQ(sim::expectedSkipReason(sim::world().scene, 1), "its handle refers to nothing");
  EXPECT_EQ(sim::expectedSkipReason(sim::world().scene, 2),
            "its target's handle refers to nothing");
}

TEST_F(WorldTest, ReportedValuesReplaceOnlyTheirOwnAnswers) {
  sim::installWorld(sceneFrom(R"(
[player]
reported screen x = nan
reported absolute value = inf
reported label limit = -inf
[Target]
position = 0, 30, 0
[Shooter]
position = -30, 30, 0
weapon = WEAPON_REVOLVER_CATTLEMAN
model = rv_cattleman
target = Target
reported position = -30, 31, 0
reported distance = nan
reported tip bone = inf, 0, 0
[Other]
position = -30, 40, 0
)"));
  const Vector3 shooter = callNative<Vector3>(entityCoordsNative, sim::actorHandle(2), 1, 0);
  EXPECT_EQ(shooter.y, 31.0f);
  const Vector3 target = callNative<Vector3>(entityCoordsNative, sim::actorHandle(1), 1, 0);
  const auto distance = [](const Vector3& a, const Vector3& b) {
    return callNative<float>(distanceNative, a.x, a.y, a.z, b.x, b.y, b.z, 1);
  };
  // The faulty distance answers the shooter's question about its target, and only that one.
  EXPECT_TRUE(std::isnan(distance(shooter, target)));
  EXPECT_EQ(distance(target, shooter), std::sqrt(901.0f));
  EXPECT_EQ(distance(target, {0.0f, 40.0f, 0.0f}), 10.0f);

  const Entity object = callNative<Entity>(weaponObjectNative, sim::actorHandle(2), 0);
  const std::int32_t tip = callNative<std::int32_t>(boneIndexNative, object, "Gun_Muzzle");
  EXPECT_TRUE(std::isinf(callNative<Vector3>(bonePositionNative, object, tip).x));
  const std::int32_t base = callNative<std::int32_t>(boneIndexNative, object, "Gun_Lead1");
  EXPECT_EQ(callNative<Vector3>(bonePositionNative, object, base).x, -29.5f);

  float x = 0.0f;
  float y = 0.0f;
  ASSERT_TRUE(callNative<bool>(worldToScreenNative, 0.0f, 20.0f, 0.0f, &x, &y));
  EXPECT_TRUE(std::isnan(x));
  EXPECT_TRUE(std::isfinite(y));
  EXPECT_TRUE(std::isinf(callNative<float>(absoluteValueNative, 0.25f)));
  EXPECT_EQ(callNative<float>(labelLimitNative), -HUGE_VALF);
}

TEST(WorldGeometry, PointsThatAreNotNumbersAreNowhere) {
  // A scene places nobody outside the world; the world's own answers still find such a point.
  sim::Scene scene = sceneFrom("[Lost]\nposition = 0, 0, 0\n[Near]\nposition = 0, 5, 0\n");
  scene.actors[1].position.x = NAN;
  EXPECT_FALSE(sim::projectToScreen(scene, {NAN, 0.0f, 0.0f}).inFront);
  EXPECT_EQ(sim::searchResult(scene, {0.0f, 0.0f, 0.0f}, 150.0), (std::vector<std::size_t>{0, 2}));
  EXPECT_TRUE(sim::searchResult(scene, {NAN, 0.0f, 0.0f}, 150.0).empty());
  EXPECT_EQ(sim::searchResult(scene, {INFINITY, 0.0f, 0.0f}, 150.0).size(), 0u);
}

TEST(Scene, FaultKeysTakeNotNumbersAndInfinitiesButNoImpossibleHandles) {
  const sim::Scene scene = sceneFrom(R"(
[world]
w1 = nan
w3 = -inf
found count = -5
[Ped]
position = 0, 0, 0
reported position = 1e39, 0, -1e39
p = 1e300
reported distance = -infinity
handle = -1
)");
  EXPECT_TRUE(std::isnan(scene.values.w1));
  EXPECT_EQ(scene.values.w3, -HUGE_VALF);
  EXPECT_EQ(scene.values.foundCount, -5);
  // Past the float range is an infinity, as rounding makes it.
  EXPECT_EQ(scene.actors[1].reportedPosition->x, HUGE_VALF);
  EXPECT_EQ(scene.actors[1].reportedPosition->z, -HUGE_VALF);
  EXPECT_EQ(scene.actors[1].p, HUGE_VALF);
  EXPECT_EQ(scene.actors[1].reportedDistance, -HUGE_VALF);
  EXPECT_EQ(scene.actors[1].handle, -1);
  EXPECT_FALSE(scene.actors[1].weaponObjectHandle.has_value());

  sim::Scene rejected;
  for (const char* text :
       {"[world]\nfound count = nan\n", "[world]\nn = 3e9\n", "[world]\nn = 2.5\n",
        "[Ped]\nposition = 0,0,0\nhandle = 101\n", "[Ped]\nposition = 0,0,0\nnumerator = -inf\n",
        "[player]\nreported screen x = left\n"}) {
    EXPECT_NE(sim::parseScene(text, rejected), "") << text;
  }
}

TEST(Scene, DefaultSceneShowsEveryOutcome) {
  const sim::Scene scene = sceneFrom(sim::defaultSceneText());
  EXPECT_TRUE(scene.hasSettingsFile);
  EXPECT_NE(scene.settingsFile.find("DisplayAccuracy = true"), std::string::npos);
  std::vector<std::string> reasons;
  int treated = 0;
  int offScreen = 0;
  for (std::size_t i = 0; i < scene.actors.size(); ++i) {
    const std::string reason = sim::expectedSkipReason(scene, i);
    if (!reason.empty()) reasons.push_back(reason.substr(0, reason.find(" for model")));
    if (!reason.empty()) continue;
    ++treated;
    Vector3 anchor = scene.actors[i].position;
    anchor.z += 1.0f;
    const sim::ScreenPoint point = sim::projectToScreen(scene, anchor);
    if (!point.inFront || point.x <= 0.0f || point.x >= 1.0f) ++offScreen;
  }
  for (const char* reason : {"the player", "beyond 150 m of the player", "filter 2 false",
                             "no current weapon", "no target", "no barrel bones"}) {
    EXPECT_NE(std::find(reasons.begin(), reasons.end(), reason), reasons.end()) << reason;
  }
  EXPECT_GE(treated, 6);
  EXPECT_GE(offScreen, 1);
}

TEST(Scene, RejectsWhatTheGameCouldNotHave) {
  sim::Scene scene;
  EXPECT_NE(sim::parseScene("[Ped]\nposition = 1, 2\n", scene).find("position"), std::string::npos);
  EXPECT_NE(sim::parseScene("[Ped]\nposition = 1,2,3\nspeed = 4\n", scene).find("unknown key"),
            std::string::npos);
  EXPECT_NE(sim::parseScene("[Ped]\nweapon = WEAPON_BOW\n", scene).find("position"),
            std::string::npos);
  EXPECT_NE(
      sim::parseScene("[Ped]\nposition = 0,0,0\nweapon = WEAPON_BOW\n", scene).find("go together"),
      std::string::npos);
  EXPECT_NE(sim::parseScene("[Ped]\nposition = 0,0,0\ntarget = Nobody\n", scene).find("Nobody"),
            std::string::npos);
  EXPECT_NE(sim::parseScene("[Ped]\nposition = 0,0,0\nbonus = maybe\n", scene).find("bonus"),
            std::string::npos);
  EXPECT_NE(sim::parseScene("[A]\nposition = 0,0,0\nweapon = W\nmodel = m1\n"
                            "[B]\nposition = 0,0,0\nweapon = W\nmodel = m2\n",
                            scene)
                .find("differ"),
            std::string::npos);
}

TEST(Scene, ReadsNamesAnyCaseAndCarriesTheSettingsFile) {
  const sim::Scene scene = sceneFrom(R"(
[settings]
file = <<<END
[Debug]
DisplayAccuracy = false
END
[World]
N = 22
[Ped One]
position = 1.5, -2, 3e1
target = PLAYER
Filter 3 = off
numerator = 50
)");
  EXPECT_EQ(scene.settingsFile, "[Debug]\nDisplayAccuracy = false\n");
  EXPECT_EQ(scene.values.n, 22);
  ASSERT_EQ(scene.actors.size(), 2u);
  EXPECT_EQ(scene.actors[1].name, "Ped One");
  EXPECT_EQ(scene.actors[1].target, "player");
  EXPECT_EQ(scene.actors[1].position.z, 30.0f);
  EXPECT_FALSE(scene.actors[1].filter[2]);
  EXPECT_EQ(scene.actors[1].numerator, 50);
}

// The whole game in-process with the plug-in's code: what the DLL does under Wine, the
// end-to-end tests compare with this.
TEST_F(WorldTest, DefaultSceneRunsInProcessWithTheRealLoop) {
  sim::setExecutablePath("/nonexistent-game-folder/game-sim.exe");  // no settings file written
  const GameSimApi& api = *gameSimApi();
  ASSERT_EQ(api.loadScene(nullptr), nullptr);
  sim::hostScriptRegister(nullptr, onScriptStart);
  sim::hostKeyboardHandlerRegister(onKeyboardEvent);
  api.runFrames(3);

  const sim::WorldState& state = sim::world();
  ASSERT_EQ(state.frames.size(), 3u);
  for (const sim::FrameRecord& frame : state.frames) {
    EXPECT_TRUE(frame.endsWithReleaseThenWait);
    EXPECT_EQ(frame.unknownNatives, 0u);
    // Whoever the scene says is left alone gets no accuracy and no per-ped settings.
    for (std::size_t i = 0; i < state.scene.actors.size(); ++i) {
      if (sim::expectedSkipReason(state.scene, i).empty()) continue;
      EXPECT_EQ(frame.actors[i].accuracySets, 0) << state.scene.actors[i].name;
      EXPECT_EQ(frame.actors[i].settingCalls[0], 0) << state.scene.actors[i].name;
    }
  }
  EXPECT_TRUE(state.protocolErrors.empty());
  EXPECT_EQ(keyStateTable[0x57].flags[2], 1);  // the host's key events reached the plug-in
  EXPECT_NE(std::string(api.report()).find("Frame 3"), std::string::npos);
}

}  // namespace
