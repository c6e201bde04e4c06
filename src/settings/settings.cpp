#include "settings/settings.h"

bool displayAccuracy = false;
float angleLeniency = 3.0f;

// Placeholder until the settings file lands: the values stay as they are.
void loadSettings() {}
