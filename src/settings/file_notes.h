// What the start-up log points out in a settings file it read: lines that look meant for a
// setting but are not read, and a setting given more than once. The values read never change.
#pragma once

#include "settings/settings.h"

// Section and key names match whatever the case of their letters, as the library matches them.
bool sameNameIgnoringCase(const char* a, const char* b);

// Printable ASCII: the bytes a log line shows as they are, where any other is shown as \xNN. A
// name that is a setting's own with other bytes in it gets a note that says so.
bool isPlainText(char byte);

// Reads the file at path once more and fills load's notes, when it is small enough to be looked
// through at once; says in load.notesSearch when it was not. Never throws.
void noteFileLines(const char* path, SettingsLoad& load);
