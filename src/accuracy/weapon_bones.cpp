#include "accuracy/weapon_bones.h"

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

void buildWeaponBoneTable() {
  for (const WeaponBoneRow& row : weaponBoneRows) {
    WeaponBones& entry = weaponBoneTable[nameHash(row.modelName)];
    // From the second pass on the names are those already held: each is copied into its own
    // string's buffer, with nothing allocated.
    entry.baseBone = row.baseBone;
    entry.tipBone = row.tipBone;
  }
}
