// The simulated world behind the fake host: a player and peds with positions, weapons, targets
// and the game values the plug-in reads, a camera at the player, and a record of what the
// plug-in did to each ped in each frame.
//
// installWorld() puts a handler into the fake host for every native the plug-in calls. The hashes
// are written here, on the game's side, independently of src/: a hash mistyped in the plug-in
// finds no handler and shows up in host().unknownNatives. Likewise the weapon models' barrel bone
// names: a weapon object answers the bone-index native only for its model's names spelt exactly
// so, letter case included, so a name changed in the plug-in shows up as a missing bone.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "fake_host.h"

namespace sim {

// One person of the scene. The player is actor 0; every other actor is a ped.
struct Actor {
  std::string name;
  Vector3 position{0.0f, 0.0f, 0.0f};
  std::string weapon;        // weapon name, hashed as the game hashes it; empty: no current weapon
  std::string model;         // model name of the weapon object, the key of the plug-in's bone table
  std::string target;        // another actor's name; empty: no target
  double aimError = 0.0;     // degrees between the barrel and the line from the hand to the target
  std::string missingBones;  // "base", "tip" or "both": the weapon object lacks those bones

  // Truth values the game gives for this actor.
  bool filter[3] = {true, true, true};  // the loop's three predicates; filter 1 also gates targets
  bool weaponCheck[2] = {true, true};   // the two questions asked about the weapon hash
  bool targetCheck = true;              // asked with the target and 17; false: zero accuracy
  bool inSearch = true;                 // the player only: whether the search returns it

  // Values the accuracy reads; the defaults leave every factor at 1.
  float p = 0.0f;  // per entity: the shooter's is p, its target's is t
  float h = 0.0f;
  float c1 = 0.0f;
  float c2 = 0.0f;
  std::int32_t numerator = 100;
  std::int32_t denominator = 100;
  bool bonus = false;

  // Faults: the game naming or answering about this actor wrongly. Unset, the world answers
  // from its own geometry and handles.
  std::optional<Entity> handle;              // 0 or negative: a handle that refers to nothing
  std::optional<Entity> weaponObjectHandle;  // likewise, for the weapon object
  std::optional<Vector3> reportedPosition;   // the position query's answer
  std::optional<float> reportedDistance;     // the distance query's answer, to its target
  std::optional<Vector3> reportedBaseBone;   // the bone-position query's answers
  std::optional<Vector3> reportedTipBone;
};

// Values the game answers without being told about a ped.
struct WorldValues {
  float w1 = 0.0f;
  float w2 = 0.0f;
  float w3 = 0.0f;
  std::int32_t n = 12;
  // The count the search answers, whatever the set holds; items past the set's own stand for
  // peds that are gone (handles 0, -1, or stale ones the world no longer knows).
  std::optional<std::int32_t> foundCount;
};

// The player's view: the camera at the player's eye, looking at a point, pulled back if asked.
struct CameraSpec {
  Vector3 lookAt{0.0f, 100.0f, 0.0f};
  double eyeHeight = 0.7;  // above the player's position
  double pullBack = 0.0;   // metres behind the eye, along the view; also the label-limit answer

  // Faults in the label natives' answers.
  std::optional<float> screenX;  // written by the projection for every point in front
  std::optional<float> screenY;
  std::optional<float> absoluteValue;  // the absolute-value query's answer, whatever it is given
  std::optional<float> labelLimit;     // the label-limit query's answer instead of pullBack
};

struct Scene {
  std::string name = "scene";
  std::vector<Actor> actors;  // actors[0] is the player
  WorldValues values;
  CameraSpec camera;
  bool hasSettingsFile = false;
  std::string settingsFile;  // text of the settings file to put beside the game executable
  std::vector<std::string> laterSettingsFiles;  // put there in turn before each save load
};

struct Label {
  std::string text;
  float x = 0.0f;
  float y = 0.0f;
  std::int32_t colour[4] = {0, 0, 0, 0};  // the colour set last before the draw
  float scale[2] = {0.0f, 0.0f};          // the scale set last before the draw
};

// The question about a ped that the game last answered false in a frame, as the plug-in asked
// it: one of the ped's own filters, its weapon, its weapon's checks, or its target.
enum class FalseGate : std::uint8_t {
  none,
  filter1,
  filter2,
  filter3,
  noWeapon,
  weaponCheck1,
  weaponCheck2,
  noTarget,       // the target query answered no ped, and the target gate said no
  targetFilter,   // the target gate said no to the target
  targetNothing,  // the target gate said no to a handle that refers to nothing
  targetCheck,    // asked with the ped, its target and 17
};

// The game values that raise a ped's accuracy past the full value when below 0, in the order the
// plug-in asks for them; bit i of PedAnswers::belowZero for value i.
enum GameValue : std::uint8_t {
  valueP,
  valueTargetP,
  valueW1,
  valueW2,
  valueW3,
  valueC1,
  valueC2,
  valueH,
  gameValueCount
};

// What the game answered the plug-in about one ped in one frame, kept small: a frame of a crowd
// keeps one per ped. Answers to questions not asked keep their defaults.
struct PedAnswers {
  FalseGate falseGate = FalseGate::none;
  bool modelKeyAsked = false;  // the weapon's model key was asked for
  bool bonusAsked = false;
  bool bonus = false;
  std::uint8_t belowZero = 0;  // the game values answered below 0 (GameValue bits)
  std::uint8_t bonesAsked = 0;
  // The bone indices answered, in the order asked, and for an index of -1 the name asked for
  // (in WorldState::boneNames).
  std::uint8_t boneName[2] = {0, 0};
  std::int32_t boneIndex[2] = {0, 0};
  std::int32_t band = 0;  // the band value answered
  std::int32_t numerator = 0;
  std::int32_t denominator = 0;
  // Degrees between the barrel through the two bone points answered and the line from its rear
  // point to the target's answered position; NaN when not both were answered.
  float barrelOff = NAN;
};

// What the plug-in did to one actor in one frame.
struct ActorFrame {
  bool inSet = false;             // the search of this frame returned it
  std::int32_t accuracy = -1;     // the last value set on it, -1 when none was set
  std::int32_t accuracySets = 0;  // how often the accuracy was set
  std::int32_t settingCalls[2] = {0, 0};
  float settingValues[2] = {0.0f, 0.0f};  // the last value given to each per-ped setting
  PedAnswers answers;
};

struct FrameRecord {
  std::uint64_t number = 0;        // counted from 1 over the whole run
  bool afterSaveLoad = false;      // the first frame of a script the host started anew
  std::vector<ActorFrame> actors;  // indexed like Scene::actors
  std::vector<Label> labels;       // in draw order
  std::vector<std::int32_t> setsCreated;
  std::vector<std::int32_t> setsReleased;
  std::uint32_t natives = 0;  // native calls made in this frame
  // How often each known native was called in this frame, in the world's table order; natives
  // not called are left out.
  std::vector<std::pair<std::uint64_t, std::uint32_t>> nativeCalls;
  std::uint64_t lastNative = 0;          // the last native before the wait
  bool endsWithReleaseThenWait = false;  // the last native released the frame's only set
  DWORD waitMilliseconds = 0;
  std::uint32_t unknownNatives = 0;  // calls of natives the world does not know
  // The Angle in force, as the plug-in's start-up log of the script running this frame gives it.
  bool angleLogged = false;
  double angle = 0.0;
};

// Sums over every frame of a run, kept or not.
struct RunTotals {
  std::uint64_t frames = 0;
  std::uint64_t natives = 0;
  std::uint64_t labels = 0;
  std::uint64_t accuracySets = 0;
  std::uint64_t saveLoads = 0;
  std::uint64_t protocolErrors = 0;
  std::uint64_t unknownNatives = 0;
  // Frames unlike the frame before, a script's first frames aside: none while the world stands
  // still.
  std::uint64_t changedFrames = 0;
  std::uint64_t firstChangedFrame = 0;
};

// What the plug-in did in the first frame after a save load: the settings it then uses show in
// the labels (on or off) and in the accuracies (the angle).
struct SaveLoadRecord {
  std::uint64_t frame = 0;
  int settingsFile = 0;  // which of the scene's settings files was put down before; 0: none
  std::uint32_t labels = 0;
  std::uint32_t treated = 0;  // peds given an accuracy
  std::int64_t accuracySum = 0;
};

// Frames kept in full: every one of the first few, then only those unlike the frame before, up
// to a bound, so that a run of millions of frames stays in constant memory.
constexpr std::uint64_t framesKeptInFull = 10;
constexpr std::size_t changedFramesKept = 200;
constexpr std::size_t saveLoadsKept = 1000;

struct WorldState {
  Scene scene;
  bool recordFrames = true;         // off: only the frame in progress is kept (benchmarks)
  std::vector<FrameRecord> frames;  // in frame order; a frame left out is like the one before
  FrameRecord current;
  FrameRecord previous;             // the frame closed last
  bool lastKeptOnlyAsLast = false;  // frames.back() is there only for being the last one
  RunTotals totals;
  std::vector<SaveLoadRecord> saveLoads;    // the first ones
  std::vector<std::string> protocolErrors;  // slots the game would not accept, first ones only
  // Bone names the game found on no weapon, as the plug-in asked for them; the first few.
  std::vector<std::string> boneNames;
};

// Where the plug-in writes its start-up log, which the world reads at each start of its script;
// empty: nowhere known. Kept when a scene is installed.
void setPluginLogPath(const std::string& path);

WorldState& world();

// The name of the plug-in's constant for a native the game answers, as its sources spell it.
const char* pluginConstantOf(std::uint64_t hash);

// Whether two frames show the plug-in doing the same: the set handles aside, which the game
// numbers anew every frame.
bool sameFrame(const FrameRecord& a, const FrameRecord& b);

// The host is about to start the scripts anew at the next frame; settingsFile as in
// SaveLoadRecord.
void noteSaveLoad(int settingsFile);

// Makes the last frame closed the last one kept, when it is not already; until the next frame.
void keepLastFrame();

// Resets the fake host's handlers and records and installs the scene's world.
void installWorld(const Scene& scene);

// Another source of answers for the natives the world knows (a capture of the real game), called
// in place of the world's own after each call is counted and checked; null, or installing a
// world, goes back to the world's answers.
using AnswerSource = void (*)(const NativeContext& call);
void answerFrom(AnswerSource source);

// Told as each frame closes, before the world decides whether to keep it: true keeps it whatever
// the world's own rule says (a replay keeps every pass that differs from the capture). Null, or
// installing a world, tells nobody.
using FrameCloseHook = bool (*)(const FrameRecord& frame);
void onFrameClose(FrameCloseHook hook);

// Entity handles the world hands out when the scene gives no faulty one.
Entity actorHandle(std::size_t actorIndex);
Entity weaponObjectHandle(std::size_t actorIndex);
// The handle the game gives out for this actor: its own, or the scene's faulty one.
Entity handleOf(const Scene& scene, std::size_t actorIndex);
// Where the game says the actor stands: its position, or the scene's faulty answer.
Vector3 answeredPosition(const Scene& scene, std::size_t actorIndex);
// Where the player-ped and position queries put the search's centre: the player's answered
// position, or the origin when the player's handle refers to nothing.
Vector3 searchCentre(const Scene& scene);
// The actors the search puts in the set: those standing within the radius of the centre, in
// scene order. A centre or position that is not a number is within no radius.
std::vector<std::size_t> searchResult(const Scene& scene, const Vector3& centre, double radius);

// Geometry the world answers with, exposed for the report and the tests.
Vector3 baseBonePosition(const Scene& scene, std::size_t actorIndex);
Vector3 tipBonePosition(const Scene& scene, std::size_t actorIndex);
const Actor* findActor(const Scene& scene, const std::string& name);
// Degrees between the placed barrel and the line from its base to the target; -1 without target.
double barrelMisalignment(const Scene& scene, std::size_t actorIndex);
// Degrees between the barrel from base to tip and the line from base to target.
double degreesOff(const Vector3& base, const Vector3& tip, const Vector3& target);

struct ScreenPoint {
  bool inFront = false;  // false: behind the camera, no screen position
  float x = 0.0f;
  float y = 0.0f;
};
ScreenPoint projectToScreen(const Scene& scene, const Vector3& point);
Vector3 cameraPosition(const Scene& scene);

// A weapon the game knows: its name, its model, and the model's two barrel bones as the model
// names them, rear point first (null for a weapon without a barrel, such as a bow).
struct GameWeapon {
  // Exactly four names: a row that lost a comma between two of them does not compile.
  constexpr GameWeapon(const char* weaponName, const char* modelName, const char* baseBone,
                       const char* tipBone)
      : weapon(weaponName), model(modelName), base(baseBone), tip(tipBone) {}
  const char* weapon;
  const char* model;
  const char* base;
  const char* tip;
};
// The row of the model's weapon when the model carries barrel bones; nullptr for other models.
const GameWeapon* modelBones(const std::string& model);
// The slots of a native that carry an address (bit i for slot i); 0 for natives the world does
// not know.
unsigned addressSlotsOf(std::uint64_t hash);

// Every weapon the world knows, in the game's order.
std::span<const GameWeapon> gameWeaponRows();
// Which of the model's barrel bones a name finds as the game looks bones up, letter case
// included: 0 the rear point, 1 the front one, -1 none.
inline int barrelBoneNamed(const GameWeapon& model, const char* name) {
  if (name == nullptr || model.base == nullptr) return -1;
  if (std::strcmp(name, model.base) == 0) return 0;
  return std::strcmp(name, model.tip) == 0 ? 1 : -1;
}

// Why the plug-in should leave this actor alone, judged from the scene; empty when it should
// set an accuracy.
std::string expectedSkipReason(const Scene& scene, std::size_t actorIndex);

}  // namespace sim
