// The host's keyboard callback and the table it records into. Nothing reads the table.
#pragma once

#include <cstdint>

#include "host/host.h"

struct KeyState {
  std::uint32_t time;     // tick count of the key's last event
  std::int32_t flags[3];  // the event's last three arguments, as received
};

constexpr int keyStateCount = 255;  // key codes 0 to 254
extern KeyState keyStateTable[keyStateCount];

void onKeyboardEvent(DWORD key, WORD repeats, BYTE scanCode, BOOL isExtended, BOOL isWithAlt,
                     BOOL wasDownBefore, BOOL isUpNow);
