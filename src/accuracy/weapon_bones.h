// The two bones that mark each gun's barrel line, per weapon model.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

struct WeaponBones {
  std::string baseBone;  // rear point of the barrel line
  std::string tipBone;   // front point
};

// A row takes exactly three names: one written without a comma between two of them (adjacent
// literals join into one name) does not compile, instead of leaving the tip bone null.
struct WeaponBoneRow {
  constexpr WeaponBoneRow(const char* model, const char* base, const char* tip)
      : modelName(model), baseBone(base), tipBone(tip) {}
  const char* modelName;
  const char* baseBone;
  const char* tipBone;
};

// The count follows the rows: adding or deleting a row needs no other change.
extern const WeaponBoneRow weaponBoneRows[];
extern const int weaponBoneRowCount;

// Keyed by the game's hash of the model name; filled by buildWeaponBoneTable.
extern std::unordered_map<std::uint32_t, WeaponBones> weaponBoneTable;

void buildWeaponBoneTable();
