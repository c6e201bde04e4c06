#include "accuracy/weapon_bones.h"

#include <string>
#include <utility>
#include <vector>

#include "fake_game_test.h"
#include "world.h"

namespace {

constexpr std::uint64_t nameHashNative = 0xFD340785ADF8CFB7;

// The model names of the plug-in's rows, in the order the table's build should hash them.
std::vector<std::string> rowModelNames() {
  std::vector<std::string> names;
  for (int row = 0; row < weaponBoneRowCount; ++row)
    names.emplace_back(weaponBoneRows[row].modelName);
  return names;
}

// A row as a message names it: its place in the table and its model, even a missing one.
std::string rowNamed(int row) {
  const char* model = weaponBoneRows[row].modelName;
  return "weaponBoneRows row " + std::to_string(row + 1) + " (" +
         (model == nullptr ? std::string("no model name") : "\"" + std::string(model) + "\"") + ")";
}

bool hasNullName(const WeaponBoneRow& row) {
  return row.modelName == nullptr || row.baseBone == nullptr || row.tipBone == nullptr;
}

// A null name would crash the table's build, and every test here with it: such a row fails
// each test before it starts, named.
class WeaponBonesTest : public FakeGameTest {
 protected:
  void SetUp() override {
    FakeGameTest::SetUp();
    for (int row = 0; row < weaponBoneRowCount; ++row) {
      ASSERT_FALSE(hasNullName(weaponBoneRows[row])) << rowNamed(row) << ": a name is null";
    }
  }
};

std::vector<std::string> hashedNames() {
  std::vector<std::string> names;
  for (const auto& call : sim::callsOf(nameHashNative)) names.push_back(call.text);
  return names;
}

const WeaponBones& bonesOf(const char* model) {
  return weaponBoneTable.at(sim::gameNameHash(model));
}

TEST_F(WeaponBonesTest, BuildHashesEveryModelNameInOrder) {
  const std::vector<std::string> modelNames = rowModelNames();
  buildWeaponBoneTable();
  EXPECT_EQ(hashedNames(), modelNames);
  EXPECT_EQ(sim::nativeSequence().size(), modelNames.size());  // nothing but the name hashes
  ASSERT_EQ(weaponBoneTable.size(), modelNames.size());
  for (const std::string& model : modelNames) {
    EXPECT_EQ(weaponBoneTable.count(sim::gameNameHash(model.c_str())), 1u) << model;
  }
}

// The game looks bones up by their exact names: every row's names are held as the row spells
// them, letter case included.
TEST_F(WeaponBonesTest, NamesKeepTheirLetterCase) {
  buildWeaponBoneTable();
  for (int row = 0; row < weaponBoneRowCount; ++row) {
    const WeaponBoneRow& spelt = weaponBoneRows[row];
    EXPECT_EQ(bonesOf(spelt.modelName).baseBone, spelt.baseBone) << spelt.modelName;
    EXPECT_EQ(bonesOf(spelt.modelName).tipBone, spelt.tipBone) << spelt.modelName;
  }
}

TEST_F(WeaponBonesTest, SecondBuildLeavesTheSameTable) {
  buildWeaponBoneTable();
  const auto first = weaponBoneTable;
  sim::host().calls.clear();
  buildWeaponBoneTable();

  EXPECT_EQ(hashedNames(), rowModelNames());
  ASSERT_EQ(weaponBoneTable.size(), first.size());
  for (const auto& [key, bones] : first) {
    const auto entry = weaponBoneTable.find(key);
    ASSERT_NE(entry, weaponBoneTable.end());
    EXPECT_EQ(entry->second.baseBone, bones.baseBone);
    EXPECT_EQ(entry->second.tipBone, bones.tipBone);
  }
}

TEST_F(WeaponBonesTest, LaterRowWinsWhenKeysCollide) {
  sim::answerInt(nameHashNative, 5);
  buildWeaponBoneTable();
  ASSERT_EQ(weaponBoneTable.size(), 1u);
  // Whichever row is last today: rows are added and removed.
  const WeaponBoneRow& last = weaponBoneRows[weaponBoneRowCount - 1];
  EXPECT_EQ(weaponBoneTable.at(5).baseBone, last.baseBone);
  EXPECT_EQ(weaponBoneTable.at(5).tipBone, last.tipBone);
}

TEST(WeaponBoneRows, EveryRowNamesAModelAndTwoBones) {
  ASSERT_GT(weaponBoneRowCount, 0);
  for (int row = 0; row < weaponBoneRowCount; ++row) {
    const WeaponBoneRow& entry = weaponBoneRows[row];
    for (const auto& [name, what] :
         {std::pair{entry.modelName, "model name"}, std::pair{entry.baseBone, "rear bone"},
          std::pair{entry.tipBone, "front bone"}}) {
      EXPECT_TRUE(name != nullptr && *name != '\0') << rowNamed(row) << ": no " << what;
    }
  }
}

// A rebuild leaves text that is already right alone; anything else it must overwrite, however
// close: one letter off at either end, a prefix, the name and more (a NUL included), nothing.
TEST_F(WeaponBonesTest, RebuildRestoresNamesThatDiffer) {
  buildWeaponBoneTable();
  const auto first = weaponBoneTable;
  WeaponBones& cattleman = weaponBoneTable.at(sim::gameNameHash("rv_cattleman"));
  cattleman.baseBone = "Gun_Lead2";
  cattleman.tipBone = std::string("Gun_Muzzle") + '\0';
  WeaponBones& elephant = weaponBoneTable.at(sim::gameNameHash("rf_elephant"));
  elephant.baseBone = "gun_muzzl";
  elephant.tipBone = "Gun_projectile";  // one letter off at the front of a long name
  weaponBoneTable.at(sim::gameNameHash("rv_navy")).baseBone.clear();
  WeaponBones& semiauto = weaponBoneTable.at(sim::gameNameHash("ps_semiauto"));
  semiauto.baseBone = "Gun_Guncock4";
  semiauto.tipBone = "gun_muzzle_long_name_past_the_small_buffer";

  buildWeaponBoneTable();
  ASSERT_EQ(weaponBoneTable.size(), first.size());
  for (const auto& [key, bones] : first) {
    EXPECT_EQ(weaponBoneTable.at(key).baseBone, bones.baseBone) << key;
    EXPECT_EQ(weaponBoneTable.at(key).tipBone, bones.tipBone) << key;
  }
}

// Colliding keys: every pass, the last row's names end up in the one entry, even though each
// pass starts from the previous pass's last names.
TEST_F(WeaponBonesTest, CollidingKeysEndWithTheLastRowEveryPass) {
  ASSERT_GE(weaponBoneRowCount, 2);
  const WeaponBoneRow& last = weaponBoneRows[weaponBoneRowCount - 1];
  sim::answerInt(nameHashNative, 5);
  for (int pass = 0; pass < 3; ++pass) {
    buildWeaponBoneTable();
    ASSERT_EQ(weaponBoneTable.size(), 1u);
    EXPECT_EQ(weaponBoneTable.at(5).baseBone, last.baseBone) << pass;
    EXPECT_EQ(weaponBoneTable.at(5).tipBone, last.tipBone) << pass;
  }
  // Then keys that fall on the entry only for the first half of the rows: the last of those
  // ends up in it, and the last row in the other.
  const int half = weaponBoneRowCount / 2;
  sim::answer(nameHashNative, [half](const sim::NativeContext& call) {
    const std::string name = call.pointerSlot<const char>(0);
    int row = 0;
    while (row < weaponBoneRowCount && name != weaponBoneRows[row].modelName) ++row;
    call.setInt(row < half ? 5 : 6);
  });
  buildWeaponBoneTable();
  EXPECT_EQ(weaponBoneTable.at(5).baseBone, weaponBoneRows[half - 1].baseBone);
  EXPECT_EQ(weaponBoneTable.at(5).tipBone, weaponBoneRows[half - 1].tipBone);
  EXPECT_EQ(weaponBoneTable.at(6).baseBone, last.baseBone);
  EXPECT_EQ(weaponBoneTable.at(6).tipBone, last.tipBone);
}

// The plug-in's rows and the simulated game's weapons are written apart: every row must name a
// model the game knows (as the game keys models: by the hash of the name) and, rear point first,
// two bones that model carries as the game looks bones up, letter case included. A misspelt bone
// otherwise shows only in a scene that happens to use the weapon.
TEST(WeaponRowsAgainstTheGame, EveryRowsBonesAreOnTheGamesModel) {
  ASSERT_GT(weaponBoneRowCount, 0);
  for (int i = 0; i < weaponBoneRowCount; ++i) {
    const WeaponBoneRow& row = weaponBoneRows[i];
    if (hasNullName(row)) {
      ADD_FAILURE() << rowNamed(i) << ": a name is null";
      continue;
    }
    const sim::GameWeapon* model = nullptr;
    for (const sim::GameWeapon& weapon : sim::gameWeaponRows()) {
      if (weapon.base != nullptr &&
          sim::gameNameHash(weapon.model) == sim::gameNameHash(row.modelName)) {
        model = &weapon;
      }
    }
    if (model == nullptr) {
      ADD_FAILURE() << row.modelName << ": no weapon model of that name with barrel bones in "
                    << "sim/world/game_weapons.cpp";
      continue;
    }
    EXPECT_EQ(sim::barrelBoneNamed(*model, row.baseBone), 0)
        << row.modelName << ": rear bone " << row.baseBone << ", the game's model carries "
        << model->base << " and " << model->tip;
    EXPECT_EQ(sim::barrelBoneNamed(*model, row.tipBone), 1)
        << row.modelName << ": front bone " << row.tipBone << ", the game's model carries "
        << model->base << " and " << model->tip;
  }
}

}  // namespace
