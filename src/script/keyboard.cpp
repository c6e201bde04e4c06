#include "script/keyboard.h"

#include "host/platform.h"

KeyState keyStateTable[keyStateCount];

// The host calls this from its own thread: it touches only the table, never a native.
void onKeyboardEvent(DWORD key, WORD, BYTE, BOOL, BOOL isWithAlt, BOOL wasDownBefore,
                     BOOL isUpNow) {
  if (key >= static_cast<DWORD>(keyStateCount)) return;
  keyStateTable[key] = KeyState{tickCount(), {isWithAlt, wasDownBefore, isUpNow}};
}
