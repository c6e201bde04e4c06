// What the start-up log points out in a settings file it read: lines that look meant for a
// setting but are not read, a setting given more than once, and lines read otherwise than an
// editor shows them; and how the file was saved. The values read never change.
#pragma once

#include <cstdio>

#include "settings/settings.h"

// Section and key names match whatever the case of their letters, as the library matches them.
bool sameNameIgnoringCase(const char* a, const char* b);

// Printable ASCII: the bytes a log line shows as they are, where any other is shown as \xNN. A
// name that is a setting's own with other bytes in it gets a note that says so.
bool isPlainText(char byte);

// How a file open for reading at its start was saved, from the mark its first bytes make. Reads
// those bytes.
FileEncoding fileEncoding(std::FILE* file);

// Reads the file at path once more and fills load's notes, when it is small enough to be looked
// through at once; says in load.notesSearch when it was not. Marks a setting's value that a NUL
// byte ends in the file. Never throws.
void noteFileLines(const char* path, SettingsLoad& load);
