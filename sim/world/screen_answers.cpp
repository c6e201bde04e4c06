// The game's answers that place a label: the projection of a point onto the screen, the
// absolute value and the label limit, and the text natives, whose draws the frame records.
#include <cmath>
#include <cstring>

#include "world_live.h"

namespace sim {

void worldToScreen(const NativeContext& call) {
  const Vector3 point{call.floatSlot(0), call.floatSlot(1), call.floatSlot(2)};
  const ScreenPoint screen = projectToScreen(world().scene, point);
  if (!screen.inFront) {
    call.setInt(0);
    return;
  }
  const CameraSpec& camera = world().scene.camera;
  if (auto* x = call.pointerSlot<float>(3)) *x = camera.screenX.value_or(screen.x);
  if (auto* y = call.pointerSlot<float>(4)) *y = camera.screenY.value_or(screen.y);
  call.setInt(1);
}

void absoluteValue(const NativeContext& call) {
  const std::optional<float>& fault = world().scene.camera.absoluteValue;
  call.setFloat(fault ? *fault : std::fabs(call.floatSlot(0)));
}

void labelLimit(const NativeContext& call) {
  const CameraSpec& camera = world().scene.camera;
  call.setFloat(camera.labelLimit.value_or(static_cast<float>(camera.pullBack)));
}

void textColour(const NativeContext& call) {
  for (int i = 0; i < 4; ++i) derived().colour[i] = call.intSlot(i);
}

void textScale(const NativeContext& call) {
  derived().scale[0] = call.floatSlot(0);
  derived().scale[1] = call.floatSlot(1);
}

void drawText(const NativeContext& call) {
  Label label;
  if (const char* text = call.pointerSlot<const char>(0)) label.text = text;
  label.x = call.floatSlot(1);
  label.y = call.floatSlot(2);
  std::memcpy(label.colour, derived().colour, sizeof label.colour);
  std::memcpy(label.scale, derived().scale, sizeof label.scale);
  world().current.labels.push_back(std::move(label));
  ++world().totals.labels;
  call.setInt(0);
}

}  // namespace sim
