#include "host/native.h"

namespace {
constexpr std::uint64_t entityCoordsNative = 0xA86D5F069399F44D;
constexpr std::uint64_t boneCoordsNative = 0x82CFA50E34681CA5;
constexpr std::uint64_t distanceBetweenNative = 0x0BE7F4E3CDBAFB28;
constexpr std::uint64_t nameHashNative = 0xFD340785ADF8CFB7;
}  // namespace

Vector3 entityPosition(Entity entity) {
  return callNative<Vector3>(entityCoordsNative, entity, 1, 0);
}

Vector3 boneWorldPosition(Entity entity, std::int32_t boneIndex) {
  return callNative<Vector3>(boneCoordsNative, entity, boneIndex);
}

float pointDistance(const Vector3& a, const Vector3& b) {
  return callNative<float>(distanceBetweenNative, a.x, a.y, a.z, b.x, b.y, b.z, 1);
}

std::uint32_t nameHash(const char* text) { return callNative<std::uint32_t>(nameHashNative, text); }
