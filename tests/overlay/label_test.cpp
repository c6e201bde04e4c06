#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fake_game_test.h"
#include "overlay/label.h"

namespace {

constexpr std::uint64_t worldToScreen = 0xCB50D7AFCC8B0EC6;
constexpr std::uint64_t absoluteValue = 0x134549B388167CBF;
constexpr std::uint64_t labelLimit = 0xF6A96E5ACEEC6E50;
constexpr std::uint64_t textColour = 0x16FA5CE47F184F1E;
constexpr std::uint64_t textScale = 0xA1253A3C870B6843;
constexpr std::uint64_t drawText = 0x16794E044C9EFB58;

std::uint64_t floatSlot(float value) { return nativeSlot(value); }

class LabelTest : public FakeGameTest {
 protected:
  void SetUp() override {
    FakeGameTest::SetUp();
    answerScreen(true, 0.25f, 0.75f);
    sim::answer(absoluteValue, [](const sim::NativeContext& call) {
      call.setFloat(std::fabs(call.floatSlot(0)));
    });
    sim::answerFloat(labelLimit, 20.0f);
    sim::answerInt(textColour, 0);
    sim::answerInt(textScale, 0);
    sim::answerInt(drawText, 0);
  }

  static void answerScreen(bool onScreen, float x, float y) {
    sim::answer(worldToScreen, [=](const sim::NativeContext& call) {
      *call.pointerSlot<float>(3) = x;
      *call.pointerSlot<float>(4) = y;
      call.setInt(onScreen ? 1 : 0);
    });
  }
};

TEST_F(LabelTest, DrawsRedTextAtTheProjectedPointInNativeOrder) {
  drawAccuracyLabel({10.0f, -20.0f, 30.5f}, 57);

  EXPECT_EQ(sim::nativeSequence(),
            (std::vector<std::uint64_t>{worldToScreen, absoluteValue, absoluteValue, labelLimit,
                                        textColour, textScale, drawText}));
  const auto& calls = sim::host().calls;
  // The anchor is raised by exactly one metre; x and y are passed as they are.
  EXPECT_EQ(calls[0].slots[0], floatSlot(10.0f));
  EXPECT_EQ(calls[0].slots[1], floatSlot(-20.0f));
  EXPECT_EQ(calls[0].slots[2], floatSlot(31.5f));
  EXPECT_EQ(calls[0].slots.size(), 5u);
  EXPECT_EQ(calls[1].slots, (std::vector<std::uint64_t>{floatSlot(0.25f - 0.5f)}));
  EXPECT_EQ(calls[2].slots, (std::vector<std::uint64_t>{floatSlot(0.75f - 0.5f)}));
  EXPECT_TRUE(calls[3].slots.empty());
  EXPECT_EQ(calls[4].slots, (std::vector<std::uint64_t>{255, 0, 0, 255}));
  EXPECT_EQ(calls[5].slots, (std::vector<std::uint64_t>{floatSlot(0.3f), floatSlot(0.3f)}));
  ASSERT_EQ(calls[6].slots.size(), 3u);
  EXPECT_EQ(calls[6].text, "Accuracy: 57");
  EXPECT_EQ(calls[6].slots[1], floatSlot(0.25f));
  EXPECT_EQ(calls[6].slots[2], floatSlot(0.75f));
}

TEST_F(LabelTest, TextHoldsTheValueWithoutPadding) {
  for (const auto& [accuracy, text] : {std::pair{0, "Accuracy: 0"}, std::pair{7, "Accuracy: 7"},
                                       std::pair{100, "Accuracy: 100"}}) {
    sim::host().calls.clear();
    drawAccuracyLabel({0.0f, 0.0f, 0.0f}, accuracy);
    const auto draws = sim::callsOf(drawText);
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].text, text);
  }
  EXPECT_EQ(std::strlen("Accuracy: 100"), 13u);
}

// The text is built by hand for speed; it must be exactly what the C library would print, cut
// to the buffer the same way, whatever value arrives.
TEST_F(LabelTest, TextIsWhatPrintfWouldWrite) {
  std::vector<std::int32_t> values = {101, 999, 1000, 123456, -1, -42, -100, INT32_MAX, INT32_MIN};
  for (std::int32_t accuracy = 0; accuracy <= 100; ++accuracy) values.push_back(accuracy);
  for (const std::int32_t accuracy : values) {
    sim::host().calls.clear();
    drawAccuracyLabel({0.0f, 0.0f, 0.0f}, accuracy);
    char expected[14];
    std::snprintf(expected, sizeof expected, "Accuracy: %d", static_cast<int>(accuracy));
    const auto draws = sim::callsOf(drawText);
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].text, expected) << accuracy;
  }
}

TEST_F(LabelTest, OnlyPointsStrictlyInsideTheScreenAreDrawn) {
  struct Case {
    float x, y;
    bool drawn;
  };
  for (const Case& c :
       {Case{0.5f, 0.5f, true}, Case{0.0f, 0.5f, false}, Case{1.0f, 0.5f, false},
        Case{0.5f, 0.0f, false}, Case{0.5f, 1.0f, false}, Case{0.999f, 0.001f, true},
        Case{-3.0f, 0.5f, false}, Case{std::nanf(""), 0.5f, false}}) {
    sim::host().calls.clear();
    answerScreen(true, c.x, c.y);
    drawAccuracyLabel({0.0f, 0.0f, 0.0f}, 50);
    EXPECT_EQ(sim::callsOf(drawText).size(), c.drawn ? 1u : 0u) << c.x << ", " << c.y;
    if (!c.drawn) {
      EXPECT_TRUE(sim::callsOf(textColour).empty());
    }
  }
}

TEST_F(LabelTest, EachFailedTestStopsBeforeAnyLaterNative) {
  answerScreen(false, 0.5f, 0.5f);
  drawAccuracyLabel({0.0f, 0.0f, 0.0f}, 50);
  EXPECT_EQ(sim::nativeSequence(), (std::vector<std::uint64_t>{worldToScreen}));

  sim::host().calls.clear();
  answerScreen(true, 0.2f, 1.0f);
  drawAccuracyLabel({0.0f, 0.0f, 0.0f}, 50);
  EXPECT_EQ(sim::nativeSequence(),
            (std::vector<std::uint64_t>{worldToScreen, absoluteValue, absoluteValue}));
}

TEST_F(LabelTest, LimitBelowOneHundredDrawsAndOneHundredStops) {
  for (const auto& [limit, drawn] :
       {std::pair{100.0f, false}, std::pair{99.9f, true}, std::pair{250.0f, false}}) {
    sim::host().calls.clear();
    sim::answerFloat(labelLimit, limit);
    drawAccuracyLabel({0.0f, 0.0f, 0.0f}, 50);
    EXPECT_EQ(sim::callsOf(drawText).size(), drawn ? 1u : 0u) << limit;
    EXPECT_EQ(sim::callsOf(textColour).size(), drawn ? 1u : 0u) << limit;
  }
}

TEST_F(LabelTest, ColourAndScaleAreSetBeforeEveryDraw) {
  drawAccuracyLabel({0.0f, 0.0f, 0.0f}, 1);
  drawAccuracyLabel({0.0f, 0.0f, 0.0f}, 2);
  std::vector<std::uint64_t> tail = sim::nativeSequence();
  tail.erase(tail.begin(), tail.begin() + 4);
  EXPECT_EQ(tail, (std::vector<std::uint64_t>{textColour, textScale, drawText, worldToScreen,
                                              absoluteValue, absoluteValue, labelLimit, textColour,
                                              textScale, drawText}));
}

}  // namespace
