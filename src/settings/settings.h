// The two player settings, read from vok.quillmarrowfendcask.ini beside the game executable.
#pragma once

extern bool displayAccuracy;  // draw "Accuracy: N" above treated peds
extern float angleLeniency;   // degrees of barrel misalignment that the accuracy forgives

void loadSettings();
