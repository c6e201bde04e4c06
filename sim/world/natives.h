// The hashes of the natives the plug-in calls, as the game knows them: written here on the game's
// side, apart from the plug-in's own constants, and named as the plug-in names them so that a
// search for a name finds both. One list gives both the constants and the names the reports and
// the capture's dump print.
#pragma once

#include <cstdint>

// NATIVE(name, hash) for every native the game answers. The accuracy's sources call
// pedFirstFilterNative targetGateNative; weaponKnownNative and accuracyUnreadNative are names of
// ours for two the plug-in may ask and reads nothing from.
#define SIM_NATIVES(NATIVE)                          \
  NATIVE(playerPedNative, 0x096275889B8E0EE0)        \
  NATIVE(entityCoordsNative, 0xA86D5F069399F44D)     \
  NATIVE(nameHashNative, 0xFD340785ADF8CFB7)         \
  NATIVE(createPedSetNative, 0xA1AF16083320065A)     \
  NATIVE(findNearbyPedsNative, 0x59B57C4B06531E1E)   \
  NATIVE(pedSetItemNative, 0x275A2E2C0FAB7612)       \
  NATIVE(itemEntityNative, 0xEE04C0AFD4EFAF0E)       \
  NATIVE(pedFirstFilterNative, 0xD42BD6EB2E0F1677)   \
  NATIVE(pedSecondFilterNative, 0xCF8176912DDA4EA5)  \
  NATIVE(pedThirdFilterNative, 0xB980061DA992779D)   \
  NATIVE(currentWeaponNative, 0x3A87E44BB9A01D54)    \
  NATIVE(weaponKnownNative, 0xEDCA14CA5199FF25)      \
  NATIVE(pedFirstSettingNative, 0xC2266AA617668AD3)  \
  NATIVE(pedSecondSettingNative, 0x2BA918C823B8BA56) \
  NATIVE(releasePedSetNative, 0x712BC69F10549B92)    \
  NATIVE(weaponFirstGateNative, 0x937C71165CF334B3)  \
  NATIVE(weaponSecondGateNative, 0x705BE297EEBDB95D) \
  NATIVE(pedTargetNative, 0xCD66FEA29400A0B5)        \
  NATIVE(zeroAccuracyGateNative, 0xFCDFF7B72D23A1AC) \
  NATIVE(distanceBetweenNative, 0x0BE7F4E3CDBAFB28)  \
  NATIVE(sValueNative, 0xFB6BA510A533DF81)           \
  NATIVE(w1ValueNative, 0x931B5F4CC130224B)          \
  NATIVE(w2ValueNative, 0x1E5D727041BE1709)          \
  NATIVE(w3ValueNative, 0xFFB7E74E041150A4)          \
  NATIVE(bandValueNative, 0xC82CF208C2B19199)        \
  NATIVE(weaponObjectNative, 0x3B390A939AF0B5FC)     \
  NATIVE(weaponObjectKeyNative, 0x280BBE5601EAA983)  \
  NATIVE(c1ValueNative, 0xD56E5F336C675EFA)          \
  NATIVE(c2ValueNative, 0x0D78E1097F89E637)          \
  NATIVE(hValueNative, 0x6FB76442469ABD68)           \
  NATIVE(weaponModelKeyNative, 0x8EC44AE8DECFF841)   \
  NATIVE(boneIndexNative, 0xBACA8FE9C76C124E)        \
  NATIVE(boneCoordsNative, 0x82CFA50E34681CA5)       \
  NATIVE(ratioNumeratorNative, 0x82368787EA73C0F7)   \
  NATIVE(ratioDenominatorNative, 0x15D757606D170C3C) \
  NATIVE(bonusNative, 0x60DFD0691A170B88)            \
  NATIVE(setAccuracyNative, 0x7AEFB85C1D49DEB6)      \
  NATIVE(accuracyUnreadNative, 0x285D36C5C72B0569)   \
  NATIVE(worldToScreenNative, 0xCB50D7AFCC8B0EC6)    \
  NATIVE(absoluteValueNative, 0x134549B388167CBF)    \
  NATIVE(labelLimitNative, 0xF6A96E5ACEEC6E50)       \
  NATIVE(textColourNative, 0x16FA5CE47F184F1E)       \
  NATIVE(textScaleNative, 0xA1253A3C870B6843)        \
  NATIVE(drawTextNative, 0x16794E044C9EFB58)

namespace sim::natives {

#define SIM_NATIVE_HASH(name, hash) inline constexpr std::uint64_t name = hash;
SIM_NATIVES(SIM_NATIVE_HASH)
#undef SIM_NATIVE_HASH

struct NativeName {
  std::uint64_t hash;
  const char* name;
};

#define SIM_NATIVE_NAME(name, hash) {hash, #name},
inline constexpr NativeName nativeNames[] = {SIM_NATIVES(SIM_NATIVE_NAME)};
#undef SIM_NATIVE_NAME

// The name of the native with this hash, or null for one the game does not know. Safe in a fault
// handler: it only reads the table.
constexpr const char* nameOf(std::uint64_t hash) {
  for (const NativeName& native : nativeNames) {
    if (native.hash == hash) return native.name;
  }
  return nullptr;
}

}  // namespace sim::natives
