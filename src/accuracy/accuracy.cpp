#include "accuracy/accuracy.h"

// Placeholder until the accuracy computation lands: no ped is treated.
std::int32_t computeShooterAccuracy(Entity) { return -1; }
