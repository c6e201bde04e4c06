// The game's answers that place a label: the projection of a point onto the screen, the
// absolute value and the label limit. The text natives' draws are noted in answer_notes.cpp.
#include <cmath>

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

}  // namespace sim
