// The script entry and the loop that treats the peds around the player once per frame.
#pragma once

#include <cstdint>

// The host runs this once per script start; it never returns.
void onScriptStart();

// One pass after another, each followed by scriptWait(0); never returns.
void runTickLoop();

struct PassCounts {
  std::int32_t found;    // peds the search reported near the player
  std::int32_t treated;  // peds given an accuracy
};

// One pass: find the peds around the player, filter them, set their accuracy.
PassCounts runTickPass();

// Fills the set with the peds within 150 m of the point and returns how many it found.
std::int32_t queryNearbyPeds(float x, float y, float z, std::int32_t pedSet);
