// The weapons the simulated game knows: their names, and the barrel bones of their models as
// the models name them. Written on the game's side, independently of the plug-in's table.
#include <algorithm>
#include <iterator>

#include "world.h"

namespace sim {

namespace {

// The barrel bones of the game's weapon models, as the models name them.
const ModelBones gameModelBones[] = {
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

// The weapons the simulated game knows by name. Their models are the ones with barrel bones
// (knownModels()) and the bow's, which has none.
const char* const knownWeapons[] = {"WEAPON_REVOLVER_CATTLEMAN",
                                    "WEAPON_REVOLVER_CATTLEMAN_JOHN",
                                    "WEAPON_REVOLVER_CATTLEMAN_MEXICAN",
                                    "WEAPON_REVOLVER_CATTLEMAN_PIG",
                                    "WEAPON_REVOLVER_SCHOFIELD",
                                    "WEAPON_REVOLVER_SCHOFIELD_GOLDEN",
                                    "WEAPON_REVOLVER_SCHOFIELD_CALLOWAY",
                                    "WEAPON_REVOLVER_DOUBLEACTION",
                                    "WEAPON_REVOLVER_DOUBLEACTION_EXOTIC",
                                    "WEAPON_REVOLVER_DOUBLEACTION_MICAH",
                                    "WEAPON_REVOLVER_NAVY",
                                    "WEAPON_REVOLVER_LEMAT",
                                    "WEAPON_PISTOL_VOLCANIC",
                                    "WEAPON_PISTOL_MAUSER",
                                    "WEAPON_PISTOL_MAUSER_DRUNK",
                                    "WEAPON_PISTOL_SEMIAUTO",
                                    "WEAPON_PISTOL_M1899",
                                    "WEAPON_REPEATER_CARBINE",
                                    "WEAPON_REPEATER_WINCHESTER",
                                    "WEAPON_REPEATER_HENRY",
                                    "WEAPON_REPEATER_EVANS",
                                    "WEAPON_RIFLE_SPRINGFIELD",
                                    "WEAPON_RIFLE_BOLTACTION",
                                    "WEAPON_RIFLE_VARMINT",
                                    "WEAPON_RIFLE_ELEPHANT",
                                    "WEAPON_SHOTGUN_DOUBLEBARREL",
                                    "WEAPON_SHOTGUN_DOUBLEBARREL_EXOTIC",
                                    "WEAPON_SHOTGUN_SAWEDOFF",
                                    "WEAPON_SHOTGUN_SEMIAUTO",
                                    "WEAPON_SHOTGUN_REPEATING",
                                    "WEAPON_SHOTGUN_PUMP",
                                    "WEAPON_SNIPERRIFLE_CARCANO",
                                    "WEAPON_SNIPERRIFLE_ROLLINGBLOCK",
                                    "WEAPON_SNIPERRIFLE_ROLLINGBLOCK_EXOTIC",
                                    "WEAPON_BOW"};
const char* const modelsWithoutBarrel[] = {"bow_hunting"};

}  // namespace

const ModelBones* modelBones(const std::string& model) {
  for (const ModelBones& row : gameModelBones) {
    if (model == row.model) return &row;
  }
  return nullptr;
}

std::span<const ModelBones> knownModels() { return gameModelBones; }

std::span<const char* const> knownWeaponNames() { return knownWeapons; }

std::span<const char* const> knownModelsWithoutBarrel() { return modelsWithoutBarrel; }

}  // namespace sim
