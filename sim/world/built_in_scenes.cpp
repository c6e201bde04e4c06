// The scenes the simulated game brings along: the default scene, which shows every outcome at
// once, and the crowd of the long runs and the benchmarks.
#include <string>
#include <vector>

#include "scene.h"

namespace sim {

namespace {

const char* const defaultScene =
    R"ini(; The default scene: the player stands at the origin looking north (+y); peds around show
; every outcome at once.
[scene]
name = default

[settings]
file = <<<END
[Debug]
DisplayAccuracy = true

[Settings]
Angle = 3.0
END

; The camera looks down on the field from high behind the player.
[player]
position = 0, 0, 0
eye height = 12
look at = 0, 42, 0
camera distance = 12
in search = true
weapon = WEAPON_REVOLVER_CATTLEMAN
model = rv_cattleman

; A duel along one line: aligned at 30 m with every value neutral.
[Gunslinger]
position = -10, 30, 0
weapon = WEAPON_REVOLVER_CATTLEMAN
model = rv_cattleman
target = Deputy
aim error = 0

[Deputy]
position = 20, 30, 0
weapon = WEAPON_REPEATER_CARBINE
model = rp_carbine
target = Gunslinger
aim error = 1.5

[Rifleman]
position = -6, 85, 0
weapon = WEAPON_RIFLE_BOLTACTION
model = rf_boltactn
target = player
aim error = 0.5

[Sniper]
position = 40, 135, 0
weapon = WEAPON_SNIPERRIFLE_CARCANO
model = sn_carcano
target = player
aim error = 0

[Shotgunner]
position = 9, 17, 0
weapon = WEAPON_SHOTGUN_PUMP
model = sg_pump
target = player
aim error = 6

[Veteran]
position = -8, 15, 0
weapon = WEAPON_REVOLVER_SCHOFIELD
model = rv_schfld
target = player
aim error = 0
bonus = true

[Bushwhacker]
position = -30, 58, 0
weapon = WEAPON_SHOTGUN_SAWEDOFF
model = sg_sawedoff
target = player
target check = false

[Hunter]
position = -24, 36, 0
weapon = WEAPON_BOW
model = bow_hunting
target = player

[Drifter]
position = 4, 46, 0
weapon = WEAPON_REVOLVER_NAVY
model = rv_navy

[Wounded]
position = 30, 78, 0
weapon = WEAPON_REVOLVER_LEMAT
model = rv_lemat
target = player
filter 2 = false

[Farmhand]
position = -5, 8, 0

[Lookout]
position = 45, 10, 0
weapon = WEAPON_REPEATER_WINCHESTER
model = rp_winchester
target = player
aim error = 1

[Straggler]
position = 0, -25, 0
weapon = WEAPON_PISTOL_MAUSER
model = ps_mauser
target = player

[Rancher]
position = 30, 165, 0
weapon = WEAPON_RIFLE_SPRINGFIELD
model = rf_spring
target = player
)ini";

}  // namespace

const char* defaultSceneText() { return defaultScene; }

Scene crowdScene(int peds) {
  Scene scene;
  scene.name = "crowd";
  Actor player;
  player.name = "player";
  scene.actors.push_back(player);
  std::vector<const char*> models;  // those with barrel bones, in the game's order
  for (const GameWeapon& row : gameWeaponRows()) {
    if (row.base != nullptr) models.push_back(row.model);
  }
  for (int i = 0; i < peds; ++i) {
    // 10 to 139 m ahead, at most 17 degrees to either side: within 150 m and on screen.
    const float ahead = static_cast<float>(10 + i * 37 % 130);
    const float aside = static_cast<float>(i % 21 - 10) * 0.03f * ahead;
    Actor ped;
    ped.name = "Ped " + std::to_string(i + 1);
    ped.position = {aside, ahead, 0.0f};
    ped.model = models[static_cast<std::size_t>(i) % models.size()];
    ped.weapon = "weapon_" + ped.model;
    ped.target = "player";
    ped.aimError = (i % 7) * 0.5;  // 0 to 3 degrees: accuracies from full down to 0
    scene.actors.push_back(ped);
  }
  return scene;
}

}  // namespace sim
