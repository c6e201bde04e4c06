// The weapons the simulated game knows: each weapon's name, its model, and the two bones of the
// model that mark its barrel, rear point first, as the model spells them (letter case counts).
// Written on the game's side, independently of the plug-in's table: a name the plug-in gets
// wrong shows up as a missing bone or an unknown model.
#include <string>

#include "world.h"

namespace sim {

namespace {

const GameWeapon gameWeapons[] = {
    {"WEAPON_REVOLVER_CATTLEMAN", "rv_cattleman", "Gun_Lead1", "Gun_Muzzle"},
    {"WEAPON_REVOLVER_CATTLEMAN_JOHN", "rv_cattleman_john", "Gun_Lead1", "Gun_Muzzle"},
    {"WEAPON_REVOLVER_CATTLEMAN_MEXICAN", "rv_cattleman_mexican", "Gun_Lead1", "Gun_Muzzle"},
    {"WEAPON_REVOLVER_CATTLEMAN_PIG", "rv_cattleman_pig", "Gun_Lead1", "Gun_Muzzle"},
    {"WEAPON_REVOLVER_SCHOFIELD", "rv_schfld", "Gun_Lead1", "Gun_Muzzle"},
    {"WEAPON_REVOLVER_SCHOFIELD_GOLDEN", "rv_schfld_golden", "Gun_Lead1", "Gun_Muzzle"},
    {"WEAPON_REVOLVER_SCHOFIELD_CALLOWAY", "rv_schfld_calloway", "Gun_Lead1", "Gun_Muzzle"},
    {"WEAPON_REVOLVER_DOUBLEACTION", "rv_db_actn", "Gun_Lead1", "Gun_Muzzle"},
    {"WEAPON_REVOLVER_DOUBLEACTION_EXOTIC", "rv_db_actn_exotic", "Gun_Lead1", "Gun_Muzzle"},
    {"WEAPON_REVOLVER_DOUBLEACTION_MICAH", "rv_db_actn_micah", "Gun_Lead1", "Gun_Muzzle"},
    {"WEAPON_REVOLVER_NAVY", "rv_navy", "Gun_Lead1", "Gun_Muzzle"},
    {"WEAPON_REVOLVER_LEMAT", "rv_lemat", "Gun_Lead1", "Gun_Muzzle"},
    {"WEAPON_PISTOL_VOLCANIC", "ps_volcnc", "gun_vfx_eject", "Gun_Muzzle"},
    {"WEAPON_PISTOL_MAUSER", "ps_mauser", "Gun_Ammo1", "Gun_Muzzle"},
    {"WEAPON_PISTOL_MAUSER_DRUNK", "ps_mauser_drunk", "Gun_Ammo1", "Gun_Muzzle"},
    {"WEAPON_PISTOL_SEMIAUTO", "ps_semiauto", "gun_guncock4", "gun_muzzle"},
    {"WEAPON_PISTOL_M1899", "ps_m1899", "Gun_VFX_Eject", "Gun_Muzzle"},
    {"WEAPON_REPEATER_CARBINE", "rp_carbine", "Gun_Ammo2", "Gun_Muzzle"},
    {"WEAPON_REPEATER_WINCHESTER", "rp_winchester", "Gun_Ammo2", "Gun_Muzzle"},
    {"WEAPON_REPEATER_HENRY", "rp_henry", "gun_cock2", "Gun_Muzzle"},
    {"WEAPON_REPEATER_EVANS", "rp_evans", "Gun_Ammo1", "Gun_Muzzle"},
    {"WEAPON_RIFLE_SPRINGFIELD", "rf_spring", "Gun_Ammo2", "Gun_Muzzle"},
    {"WEAPON_RIFLE_BOLTACTION", "rf_boltactn", "gun_cock1", "Gun_Muzzle"},
    {"WEAPON_RIFLE_VARMINT", "rf_varmint", "gun_cock1", "Gun_Muzzle"},
    {"WEAPON_RIFLE_ELEPHANT", "rf_elephant", "gun_muzzle", "gun_projectile"},
    {"WEAPON_SHOTGUN_DOUBLEBARREL", "sg_dbbarrel", "Gun_Ammo2", "gun_muzzle1"},
    {"WEAPON_SHOTGUN_DOUBLEBARREL_EXOTIC", "sg_dbbarrel_exotic", "Gun_Ammo2", "gun_muzzle1"},
    {"WEAPON_SHOTGUN_SAWEDOFF", "sg_sawedoff", "gun_ammo2", "Gun_Muzzle1"},
    {"WEAPON_SHOTGUN_SEMIAUTO", "sg_semiauto", "Gun_Ammo3", "Gun_Muzzle"},
    {"WEAPON_SHOTGUN_REPEATING", "sg_repeating", "Gun_Ammo2", "Gun_Muzzle"},
    {"WEAPON_SHOTGUN_PUMP", "sg_pump", "Gun_Ammo3", "Gun_Muzzle"},
    {"WEAPON_SNIPERRIFLE_CARCANO", "sn_carcano", "Gun_Ammo1", "Gun_Muzzle"},
    {"WEAPON_SNIPERRIFLE_ROLLINGBLOCK", "sn_rolling", "Gun_VFX_Eject", "Gun_Muzzle"},
    {"WEAPON_SNIPERRIFLE_ROLLINGBLOCK_EXOTIC", "sn_rolling_exotic", "Gun_VFX_Eject", "Gun_Muzzle"},
    {"WEAPON_BOW", "bow_hunting", nullptr, nullptr},  // a bow has no barrel
};

}  // namespace

const GameWeapon* modelBones(const std::string& model) {
  for (const GameWeapon& row : gameWeapons) {
    if (row.base != nullptr && model == row.model) return &row;
  }
  return nullptr;
}

std::span<const GameWeapon> gameWeaponRows() { return gameWeapons; }

}  // namespace sim
