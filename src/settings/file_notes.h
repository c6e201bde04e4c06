// What the start-up log points out in a settings file it read: lines that look meant for a
// setting but are not read, and a setting given more than once. The values read never change.
#pragma once

#include "settings/settings.h"

// Section and key names match whatever the case of their letters, as the library matches them.
bool sameNameIgnoringCase(const char* a, const char* b);

// Reads the file at path once more and fills load's notes; nothing when it cannot be loaded.
void noteFileLines(const char* path, SettingsLoad& load);
