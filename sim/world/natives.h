// The hashes of the natives the plug-in calls, as the game knows them: written here on the game's
// side, apart from the plug-in's own constants, and named as the plug-in names them so that a
// search for a name finds both.
#pragma once

#include <cstdint>

namespace sim::natives {

inline constexpr std::uint64_t playerPedNative = 0x096275889B8E0EE0;
inline constexpr std::uint64_t entityCoordsNative = 0xA86D5F069399F44D;
inline constexpr std::uint64_t nameHashNative = 0xFD340785ADF8CFB7;
inline constexpr std::uint64_t createPedSetNative = 0xA1AF16083320065A;
inline constexpr std::uint64_t findNearbyPedsNative = 0x59B57C4B06531E1E;
inline constexpr std::uint64_t pedSetItemNative = 0x275A2E2C0FAB7612;
inline constexpr std::uint64_t itemEntityNative = 0xEE04C0AFD4EFAF0E;
inline constexpr std::uint64_t pedFirstFilterNative = 0xD42BD6EB2E0F1677;
inline constexpr std::uint64_t pedSecondFilterNative = 0xCF8176912DDA4EA5;
inline constexpr std::uint64_t pedThirdFilterNative = 0xB980061DA992779D;
inline constexpr std::uint64_t currentWeaponNative = 0x3A87E44BB9A01D54;
inline constexpr std::uint64_t weaponKnownNative = 0xEDCA14CA5199FF25;
inline constexpr std::uint64_t pedFirstSettingNative = 0xC2266AA617668AD3;
inline constexpr std::uint64_t pedSecondSettingNative = 0x2BA918C823B8BA56;
inline constexpr std::uint64_t releasePedSetNative = 0x712BC69F10549B92;
inline constexpr std::uint64_t weaponFirstGateNative = 0x937C71165CF334B3;
inline constexpr std::uint64_t weaponSecondGateNative = 0x705BE297EEBDB95D;
inline constexpr std::uint64_t pedTargetNative = 0xCD66FEA29400A0B5;
inline constexpr std::uint64_t zeroAccuracyGateNative = 0xFCDFF7B72D23A1AC;
inline constexpr std::uint64_t distanceBetweenNative = 0x0BE7F4E3CDBAFB28;
inline constexpr std::uint64_t sValueNative = 0xFB6BA510A533DF81;
inline constexpr std::uint64_t w1ValueNative = 0x931B5F4CC130224B;
inline constexpr std::uint64_t w2ValueNative = 0x1E5D727041BE1709;
inline constexpr std::uint64_t w3ValueNative = 0xFFB7E74E041150A4;
inline constexpr std::uint64_t bandValueNative = 0xC82CF208C2B19199;
inline constexpr std::uint64_t weaponObjectNative = 0x3B390A939AF0B5FC;
inline constexpr std::uint64_t weaponObjectKeyNative = 0x280BBE5601EAA983;
inline constexpr std::uint64_t c1ValueNative = 0xD56E5F336C675EFA;
inline constexpr std::uint64_t c2ValueNative = 0x0D78E1097F89E637;
inline constexpr std::uint64_t hValueNative = 0x6FB76442469ABD68;
inline constexpr std::uint64_t weaponModelKeyNative = 0x8EC44AE8DECFF841;
inline constexpr std::uint64_t boneIndexNative = 0xBACA8FE9C76C124E;
inline constexpr std::uint64_t boneCoordsNative = 0x82CFA50E34681CA5;
inline constexpr std::uint64_t ratioNumeratorNative = 0x82368787EA73C0F7;
inline constexpr std::uint64_t ratioDenominatorNative = 0x15D757606D170C3C;
inline constexpr std::uint64_t bonusNative = 0x60DFD0691A170B88;
inline constexpr std::uint64_t setAccuracyNative = 0x7AEFB85C1D49DEB6;
inline constexpr std::uint64_t accuracyUnreadNative = 0x285D36C5C72B0569;
inline constexpr std::uint64_t worldToScreenNative = 0xCB50D7AFCC8B0EC6;
inline constexpr std::uint64_t absoluteValueNative = 0x134549B388167CBF;
inline constexpr std::uint64_t labelLimitNative = 0xF6A96E5ACEEC6E50;
inline constexpr std::uint64_t textColourNative = 0x16FA5CE47F184F1E;
inline constexpr std::uint64_t textScaleNative = 0xA1253A3C870B6843;
inline constexpr std::uint64_t drawTextNative = 0x16794E044C9EFB58;

}  // namespace sim::natives
