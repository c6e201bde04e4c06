// Where everything in the simulated world is: the vector arithmetic, where each ped holds its
// gun and where its barrel points, the camera and its projection onto the screen, the search
// around the player, and what the plug-in should make of each ped, judged from the scene alone.
#include <algorithm>
#include <cmath>

#include "world_live.h"

namespace sim {

namespace {

// Where a ped holds its gun: half a metre out towards its aim, at the height of its position
// (taken as the chest); the barrel is a quarter metre long.
constexpr double handReach = 0.5;
constexpr double barrelLength = 0.25;

// A 50 degree vertical field of view on a 16:9 screen.
constexpr double tanHalfVerticalFov = 0.46630765815499858;  // tan(25 degrees)
constexpr double aspectRatio = 16.0 / 9.0;
constexpr double nearPlane = 0.05;
constexpr double pi = 3.14159265358979323846;

struct Vec {
  double x, y, z;
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(double s, Vec a) { return {s * a.x, s * a.y, s * a.z}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec cross(Vec a, Vec b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double length(Vec a) { return std::sqrt(dot(a, a)); }
Vec toVec(const Vector3& v) { return {v.x, v.y, v.z}; }
Vector3 toVector3(Vec v) {
  return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}
// The unit vector along a, or the fallback when a has no length.
Vec unit(Vec a, Vec fallback) {
  const double size = length(a);
  return size > 0.0 ? (1.0 / size) * a : fallback;
}

// Sine and cosine from their series, with nothing but + * /: the same bits in every build, so
// the in-process run and the DLL under Wine place the same bones.
void sinCosDegrees(double degrees, double& sine, double& cosine) {
  const double reduced = std::fmod(degrees, 360.0);
  const double folded = reduced > 180.0    ? reduced - 360.0
                        : reduced < -180.0 ? reduced + 360.0
                                           : reduced;
  const double x = folded * (pi / 180.0);
  double term = x;
  sine = 0.0;
  for (int n = 1; n < 40; n += 2) {
    sine += term;
    term *= -x * x / ((n + 1) * (n + 2));
  }
  term = 1.0;
  cosine = 0.0;
  for (int n = 0; n < 40; n += 2) {
    cosine += term;
    term *= -x * x / ((n + 1) * (n + 2));
  }
}

Vec handPosition(const Scene& scene, std::size_t index, Vec& aimPoint) {
  const Actor& actor = scene.actors[index];
  const Vec position = toVec(actor.position);
  const Actor* targetActor = findActor(scene, actor.target);
  if (targetActor != nullptr) {
    aimPoint = toVec(targetActor->position);
  } else if (index != 0) {
    aimPoint = toVec(scene.actors[0].position);  // unengaged peds face the player
  } else {
    aimPoint = position + Vec{0.0, 1.0, 0.0};
  }
  const Vec towards{aimPoint.x - position.x, aimPoint.y - position.y, 0.0};
  return position + handReach * unit(towards, Vec{0.0, 0.0, 0.0});
}

// The barrel leaves the hand along the line to the aim point, raised by the aim error.
void placeBarrel(const Scene& scene, std::size_t index, Vec& base, Vec& tip) {
  Vec aimPoint{};
  base = handPosition(scene, index, aimPoint);
  const Vec aim = unit(aimPoint - base, Vec{0.0, 1.0, 0.0});
  const Vec up{0.0, 0.0, 1.0};
  Vec raise = up - dot(up, aim) * aim;
  if (length(raise) < 1e-9) raise = Vec{1.0, 0.0, 0.0} - aim.x * aim;  // aiming straight up
  raise = unit(raise, Vec{1.0, 0.0, 0.0});
  double sine = 0.0;
  double cosine = 1.0;
  sinCosDegrees(scene.actors[index].aimError, sine, cosine);
  const Vec direction = cosine * aim + sine * raise;
  tip = base + barrelLength * direction;
}

struct Camera {
  Vec eye, forward, right, up;
};

Camera cameraOf(const Scene& scene) {
  Camera camera;
  const Vec eye = toVec(scene.actors[0].position) + Vec{0.0, 0.0, scene.camera.eyeHeight};
  camera.forward = unit(toVec(scene.camera.lookAt) - eye, Vec{0.0, 1.0, 0.0});
  camera.right = unit(cross(camera.forward, Vec{0.0, 0.0, 1.0}), Vec{1.0, 0.0, 0.0});
  camera.up = cross(camera.right, camera.forward);
  camera.eye = eye - scene.camera.pullBack * camera.forward;
  return camera;
}

}  // namespace

double metresBetween(const Vector3& from, const Vector3& to) {
  return length(toVec(from) - toVec(to));
}

Entity actorHandle(std::size_t actorIndex) {
  return firstActorHandle + static_cast<Entity>(actorIndex);
}

Entity weaponObjectHandle(std::size_t actorIndex) {
  return firstWeaponObject + static_cast<Entity>(actorIndex);
}

Entity handleOf(const Scene& scene, std::size_t actorIndex) {
  return scene.actors[actorIndex].handle.value_or(actorHandle(actorIndex));
}

Vector3 answeredPosition(const Scene& scene, std::size_t actorIndex) {
  const Actor& actor = scene.actors[actorIndex];
  return actor.reportedPosition.value_or(actor.position);
}

Vector3 searchCentre(const Scene& scene) {
  return scene.actors[0].handle ? Vector3{0.0f, 0.0f, 0.0f} : answeredPosition(scene, 0);
}

// Fills found, reusing its buffer: the search runs every frame and a steady frame allocates
// nothing.
void collectSearchResult(const Scene& scene, const Vector3& centre, double radius,
                         std::vector<std::size_t>& found) {
  found.clear();
  for (std::size_t i = 0; i < scene.actors.size(); ++i) {
    if (i == 0 && !scene.actors[0].inSearch) continue;
    if (!(length(toVec(scene.actors[i].position) - toVec(centre)) <= radius)) continue;
    found.push_back(i);
  }
}

std::vector<std::size_t> searchResult(const Scene& scene, const Vector3& centre, double radius) {
  std::vector<std::size_t> found;
  collectSearchResult(scene, centre, radius, found);
  return found;
}

const Actor* findActor(const Scene& scene, const std::string& name) {
  if (name.empty()) return nullptr;
  for (const Actor& actor : scene.actors) {
    if (actor.name == name) return &actor;
  }
  return nullptr;
}

Vector3 baseBonePosition(const Scene& scene, std::size_t actorIndex) {
  Vec base{}, tip{};
  placeBarrel(scene, actorIndex, base, tip);
  return toVector3(base);
}

Vector3 tipBonePosition(const Scene& scene, std::size_t actorIndex) {
  Vec base{}, tip{};
  placeBarrel(scene, actorIndex, base, tip);
  return toVector3(tip);
}

double degreesOff(const Vector3& base, const Vector3& tip, const Vector3& target) {
  const Vec from = toVec(base);
  const Vec barrel = unit(toVec(tip) - from, Vec{0, 0, 0});
  const Vec aim = unit(toVec(target) - from, Vec{0, 0, 0});
  const double cosine = dot(barrel, aim);
  return std::acos(cosine > 1.0 ? 1.0 : cosine < -1.0 ? -1.0 : cosine) * (180.0 / pi);
}

double barrelMisalignment(const Scene& scene, std::size_t actorIndex) {
  const Actor* target = findActor(scene, scene.actors[actorIndex].target);
  if (target == nullptr) return -1.0;
  return degreesOff(baseBonePosition(scene, actorIndex), tipBonePosition(scene, actorIndex),
                    target->position);
}

Vector3 cameraPosition(const Scene& scene) { return toVector3(cameraOf(scene).eye); }

ScreenPoint projectToScreen(const Scene& scene, const Vector3& point) {
  const Camera camera = cameraOf(scene);
  const Vec view = toVec(point) - camera.eye;
  const double depth = dot(view, camera.forward);
  ScreenPoint screen;
  if (!(depth > nearPlane)) return screen;  // behind the eye, or nowhere (NaN)
  screen.inFront = true;
  const double across = dot(view, camera.right) / (depth * tanHalfVerticalFov * aspectRatio);
  const double upwards = dot(view, camera.up) / (depth * tanHalfVerticalFov);
  screen.x = static_cast<float>(0.5 + 0.5 * across);
  screen.y = static_cast<float>(0.5 - 0.5 * upwards);
  return screen;
}

std::string expectedSkipReason(const Scene& scene, std::size_t actorIndex) {
  const Actor& actor = scene.actors[actorIndex];
  if (actorIndex == 0) return actor.inSearch ? "the player" : "the player, not in the search";
  const std::vector<std::size_t> found = searchResult(scene, searchCentre(scene), 150.0);
  const auto place = std::find(found.begin(), found.end(), actorIndex);
  if (place == found.end()) {
    const Actor& player = scene.actors[0];
    const bool centredOnPlayer = !player.handle && !player.reportedPosition;
    return centredOnPlayer ? "beyond 150 m of the player" : "beyond 150 m of the search centre";
  }
  if (place - found.begin() >= scene.values.foundCount.value_or(static_cast<int>(found.size()))) {
    return "past the found count";
  }
  if (actor.handle) return "its handle refers to nothing";
  for (int i = 0; i < 3; ++i) {
    if (!actor.filter[i]) return "filter " + std::to_string(i + 1) + " false";
  }
  if (actor.weapon.empty()) return "no current weapon";
  for (int i = 0; i < 2; ++i) {
    if (!actor.weaponCheck[i]) return "weapon check " + std::to_string(i + 1) + " false";
  }
  const Actor* target = findActor(scene, actor.target);
  if (target == nullptr) return "no target";
  if (target->handle) return "its target's handle refers to nothing";
  if (!target->filter[0]) return "target fails filter 1";
  if (actor.targetCheck && modelBones(actor.model) == nullptr) {
    return "no barrel bones for model " + actor.model;
  }
  return "";
}

}  // namespace sim
