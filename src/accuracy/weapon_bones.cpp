#include "accuracy/weapon_bones.h"

#include <array>
#include <cstring>
#include <iterator>
#include <string>

#include "host/native.h"

// Names are passed to the game exactly as written, letter case included.
constexpr WeaponBoneRow weaponBoneRows[] = {
    {"rv_cattleman", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_cattleman_john", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_cattleman_mexican", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_cattleman_pig", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_schfld", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_schfld_golden", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_schfld_calloway", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_db_actn", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_db_actn_exotic", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_db_actn_micah", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_navy", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_lemat", "Gun_Lead1", "Gun_Muzzle"},
    {"ps_volcnc", "gun_vfx_eject", "Gun_Muzzle"},
    {"ps_mauser", "Gun_Ammo1", "Gun_Muzzle"},
    {"ps_mauser_drunk", "Gun_Ammo1", "Gun_Muzzle"},
    {"ps_semiauto", "gun_guncock4", "gun_muzzle"},
    {"ps_m1899", "Gun_VFX_Eject", "Gun_Muzzle"},
    {"rp_carbine", "Gun_Ammo2", "Gun_Muzzle"},
    {"rp_winchester", "Gun_Ammo2", "Gun_Muzzle"},
    {"rp_henry", "gun_cock2", "Gun_Muzzle"},
    {"rp_evans", "Gun_Ammo1", "Gun_Muzzle"},
    {"rf_spring", "Gun_Ammo2", "Gun_Muzzle"},
    {"rf_boltactn", "gun_cock1", "Gun_Muzzle"},
    {"rf_varmint", "gun_cock1", "Gun_Muzzle"},
    // The muzzle is the rear point here; the projectile bone lies in front of it.
    {"rf_elephant", "gun_muzzle", "gun_projectile"},
    {"sg_dbbarrel", "Gun_Ammo2", "gun_muzzle1"},
    {"sg_dbbarrel_exotic", "Gun_Ammo2", "gun_muzzle1"},
    {"sg_sawedoff", "gun_ammo2", "Gun_Muzzle1"},
    {"sg_semiauto", "Gun_Ammo3", "Gun_Muzzle"},
    {"sg_repeating", "Gun_Ammo2", "Gun_Muzzle"},
    {"sg_pump", "Gun_Ammo3", "Gun_Muzzle"},
    {"sn_carcano", "Gun_Ammo1", "Gun_Muzzle"},
    {"sn_rolling", "Gun_VFX_Eject", "Gun_Muzzle"},
    {"sn_rolling_exotic", "Gun_VFX_Eject", "Gun_Muzzle"},
};
const int weaponBoneRowCount = static_cast<int>(std::size(weaponBoneRows));

std::unordered_map<std::uint32_t, WeaponBones> weaponBoneTable;

namespace {
// The rows' name lengths, measured by the compiler: a pass then compares lengths before any
// text, and a pass started from another file's start-up code finds them already there.
struct RowLengths {
  std::size_t base;
  std::size_t tip;
};

constexpr std::array<RowLengths, weaponBoneRowCount> measureRows() {
  std::array<RowLengths, weaponBoneRowCount> lengths{};
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    lengths[i] = {std::char_traits<char>::length(weaponBoneRows[i].baseBone),
                  std::char_traits<char>::length(weaponBoneRows[i].tipBone)};
  }
  return lengths;
}

constexpr std::array<RowLengths, weaponBoneRowCount> rowLengths = measureRows();

// Two texts of `length` characters each. The names are 8 to 16 characters long: two overlapping
// 8-byte words cover them, where a memcmp call (a plain loop in some run-times) costs more.
inline bool sameText(const char* a, const char* b, std::size_t length) {
  if (length < 8 || length > 16) return std::memcmp(a, b, length) == 0;
  std::uint64_t headA;
  std::uint64_t headB;
  std::uint64_t tailA;
  std::uint64_t tailB;
  std::memcpy(&headA, a, 8);
  std::memcpy(&headB, b, 8);
  std::memcpy(&tailA, a + length - 8, 8);
  std::memcpy(&tailB, b + length - 8, 8);
  return headA == headB && tailA == tailB;
}

// Every pass after the first finds the same names in place: comparing is cheaper than copying
// them again, and a name that does differ is overwritten in its string's own buffer.
inline void keepName(std::string& held, const char* name, std::size_t length) {
  if (held.size() == length && sameText(held.data(), name, length)) return;
  held.assign(name, length);
}
}  // namespace

void buildWeaponBoneTable() {
  for (std::size_t i = 0; i < rowLengths.size(); ++i) {
    const WeaponBoneRow& row = weaponBoneRows[i];
    WeaponBones& entry = weaponBoneTable[nameHash(row.modelName)];
    keepName(entry.baseBone, row.baseBone, rowLengths[i].base);
    keepName(entry.tipBone, row.tipBone, rowLengths[i].tip);
  }
}
