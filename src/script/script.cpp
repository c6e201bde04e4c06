#include "script/script.h"

#include "accuracy/accuracy.h"
#include "accuracy/weapon_bones.h"
#include "capture/capture_hooks.h"
#include "host/native.h"
#include "log/startup_log.h"
#include "overlay/label.h"
#include "settings/settings.h"

namespace {
constexpr std::uint64_t playerPedNative = 0x096275889B8E0EE0;
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

constexpr float scanRadius = 150.0f;
constexpr float pedSettingValue = 1.0f;
}  // namespace

std::int32_t queryNearbyPeds(float x, float y, float z, std::int32_t pedSet) {
  return callNative<std::int32_t>(findNearbyPedsNative, x, y, z, scanRadius, pedSet, 1);
}

PassCounts runTickPass() {
  const Entity player = callNative<Entity>(playerPedNative);
  const Vector3 playerPosition = entityPosition(player);
  buildWeaponBoneTable();

  // The set lives only inside this pass: it is released before we ever give up control.
  const std::int32_t pedSet = callNative<std::int32_t>(createPedSetNative, 1);
  const std::int32_t found =
      queryNearbyPeds(playerPosition.x, playerPosition.y, playerPosition.z, pedSet);
  std::int32_t treated = 0;
  // Counted up to a bound known to be positive: the loop ends on one comparison.
  const auto count = static_cast<std::uint32_t>(found > 0 ? found : 0);
  for (std::uint32_t index = 0; index != count; ++index) {
    const std::int32_t item = callNative<std::int32_t>(pedSetItemNative, index, pedSet);
    const Entity ped = callNative<Entity>(itemEntityNative, item);
    // Laid out for the ped that passes: one that fails costs a call or two, one that passes the
    // whole accuracy computation, and a treated ped then runs into the loop's end without
    // stepping through alignment padding.
    if (!callNative<bool>(pedFirstFilterNative, ped)) [[unlikely]]
      continue;
    if (!callNative<bool>(pedSecondFilterNative, ped)) [[unlikely]]
      continue;
    if (!callNative<bool>(pedThirdFilterNative, ped)) [[unlikely]]
      continue;
    std::uint32_t weaponHash;  // the game's answer, never read here: no need to clear it first
    if (!callNative<bool>(currentWeaponNative, ped, &weaponHash, 1, 0, 0)) continue;
    if (ped == player) continue;

    const std::int32_t accuracy = computeShooterAccuracy(ped);
    if (accuracy == -1) continue;
    ++treated;
    // Every treated ped's position is asked for; its answer is read only for a label.
    const NativeAnswer position = entityPositionAnswer(ped);
    if (displayAccuracy) drawAccuracyLabel(vectorIn(position), accuracy);
    callNative(pedFirstSettingNative, ped, pedSettingValue);
    callNative(pedSecondSettingNative, ped, pedSettingValue);
  }
  callNative(releasePedSetNative, pedSet);
  return {found, treated};
}

void runTickLoop() {
  const PassCounts first = runTickPass();
  logFirstPass(first.found, first.treated);  // once, so that later passes pay nothing for it
  for (;;) {
    capturePassEnd();
    scriptWait(0);  // the host resumes us next frame
    runTickPass();
  }
}

void onScriptStart() {
  writeStartupLog(loadSettings());
  captureScriptStart();
  runTickLoop();
}
