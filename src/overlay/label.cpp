#include "overlay/label.h"

#include <cstddef>
#include <cstring>

namespace {
constexpr std::uint64_t worldToScreenNative = 0xCB50D7AFCC8B0EC6;
constexpr std::uint64_t absoluteValueNative = 0x134549B388167CBF;
constexpr std::uint64_t labelLimitNative = 0xF6A96E5ACEEC6E50;
constexpr std::uint64_t textColourNative = 0x16FA5CE47F184F1E;
constexpr std::uint64_t textScaleNative = 0xA1253A3C870B6843;
constexpr std::uint64_t drawTextNative = 0x16794E044C9EFB58;

constexpr float labelHeight = 1.0f;
constexpr float screenCentre = 0.5f;
constexpr float halfExtent = 0.5f;
constexpr float labelLimit = 100.0f;
constexpr float labelScale = 0.3f;

// Visible while the distance from the screen centre is below half the screen; a NaN is not.
bool onScreen(float coordinate) {
  return callNative<float>(absoluteValueNative, coordinate - screenCentre) < halfExtent;
}

// "Accuracy: " and the value in decimal, cut to fit as snprintf would cut it. Written out because
// snprintf's format machinery costs more than all the label's natives together, on every label
// of every frame.
void formatLabel(char (&text)[14], std::int32_t accuracy) {
  constexpr char prefix[] = "Accuracy: ";
  std::memcpy(text, prefix, sizeof prefix - 1);
  std::size_t length = sizeof prefix - 1;

  char digits[10];  // an unsigned 32-bit magnitude has at most 10, least significant first
  std::size_t count = 0;
  const auto value = static_cast<std::uint32_t>(accuracy);
  std::uint32_t magnitude = accuracy < 0 ? 0u - value : value;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);

  if (accuracy < 0) text[length++] = '-';
  while (count > 0 && length < sizeof text - 1) text[length++] = digits[--count];
  text[length] = '\0';
}
}  // namespace

std::uint64_t drawScreenText(const char* text, float screenX, float screenY) {
  return callNative<std::uint64_t>(drawTextNative, text, screenX, screenY);
}

void drawAccuracyLabel(const Vector3& position, std::int32_t accuracy) {
  // "Accuracy: 100" and its NUL fill the buffer exactly; the text never needs the heap.
  char text[14];
  formatLabel(text, accuracy);

  float screenX = 0.0f;
  float screenY = 0.0f;
  if (!callNative<bool>(worldToScreenNative, position.x, position.y, position.z + labelHeight,
                        &screenX, &screenY)) {
    return;
  }
  if (!onScreen(screenX) || !onScreen(screenY)) return;
  if (!(callNative<float>(labelLimitNative) < labelLimit)) return;

  callNative(textColourNative, 255, 0, 0, 255);
  callNative(textScaleNative, labelScale, labelScale);
  drawScreenText(text, screenX, screenY);
}
