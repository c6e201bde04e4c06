// The fixture every unit test starts from: a fresh fake game and the plug-in's globals as a
// newly loaded module has them.
#pragma once

#include <gtest/gtest.h>

#include "accuracy/weapon_bones.h"
#include "fake_host.h"
#include "settings/settings.h"

class FakeGameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::resetHost();
    weaponBoneTable.clear();
    displayAccuracy = false;
    angleLeniency = 3.0f;
    // Names hash as the game hashes them, so that table keys match the weapons' model keys.
    sim::answer(0xFD340785ADF8CFB7, [](const sim::NativeContext& call) {
      call.setInt(static_cast<std::int32_t>(sim::gameNameHash(call.pointerSlot<const char>(0))));
    });
  }
  void TearDown() override { EXPECT_TRUE(sim::host().unknownNatives.empty()); }
};
