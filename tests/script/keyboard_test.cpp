#include <cstring>

#include "fake_game_test.h"
#include "script/keyboard.h"

namespace {

class KeyboardTest : public FakeGameTest {
 protected:
  void SetUp() override {
    FakeGameTest::SetUp();
    std::memset(keyStateTable, 0, sizeof keyStateTable);
  }
  static bool rowIsZero(int key) {
    const KeyState& row = keyStateTable[key];
    return row.time == 0 && row.flags[0] == 0 && row.flags[1] == 0 && row.flags[2] == 0;
  }
};

TEST_F(KeyboardTest, RecordsTimeAndTheLastThreeArgumentsPerKey) {
  sim::setTickCount(1234);
  onKeyboardEvent(254, 1, 2, 3, 4, 5, 6);
  const KeyState& last = keyStateTable[254];
  EXPECT_EQ(last.time, 1234u);
  EXPECT_EQ(last.flags[0], 4);
  EXPECT_EQ(last.flags[1], 5);
  EXPECT_EQ(last.flags[2], 6);
  for (int key = 0; key < 254; ++key) EXPECT_TRUE(rowIsZero(key)) << key;
  EXPECT_TRUE(sim::host().calls.empty());  // the callback never calls the game
}

TEST_F(KeyboardTest, SecondEventOverwritesTheWholeRow) {
  sim::setTickCount(10);
  onKeyboardEvent(65, 0, 0, 0, 1, 1, 1);
  sim::setTickCount(0xFFFFFFFF);
  onKeyboardEvent(65, 0, 0, 0, 0, -1, 0);
  EXPECT_EQ(keyStateTable[65].time, 0xFFFFFFFFu);
  EXPECT_EQ(keyStateTable[65].flags[0], 0);
  EXPECT_EQ(keyStateTable[65].flags[1], -1);
  EXPECT_EQ(keyStateTable[65].flags[2], 0);
}

TEST_F(KeyboardTest, KeyCodesFrom255UpChangeNothing) {
  sim::setTickCount(99);
  for (DWORD key : {255u, 256u, 1000u, 0xFFFFFFFFu}) onKeyboardEvent(key, 1, 1, 1, 1, 1, 1);
  for (int key = 0; key < keyStateCount; ++key) EXPECT_TRUE(rowIsZero(key)) << key;
}

}  // namespace
