// game-sim's exit statuses, one table for its --help and the README's: like diff's, so that a
// script tells a replay's verdict (0 or 1) from trouble (2 and up).
#pragma once

constexpr int exitWentThrough = 0;
constexpr int exitAccuraciesDiffer = 1;
constexpr int exitTrouble = 2;
constexpr int exitCrashed = 3;
constexpr int exitDidNotYield = 4;
constexpr int exitInterrupted = 130;  // as a shell gives for Ctrl-C

struct ExitStatusRow {
  int status;
  const char* meaning;
};

inline constexpr ExitStatusRow exitStatusRows[] = {
    {exitWentThrough, "the run went through (a replay: every accuracy equals the captured one)"},
    {exitAccuraciesDiffer, "a replay found accuracies that differ from the captured ones"},
    {exitTrouble,
     "trouble: a wrong option, scene or capture, a file missing, unreadable or not writable, no "
     "plug-in, or a settings file it will not write over"},
    {exitCrashed, "a plug-in crashed (a line says in which frame and where)"},
    {exitDidNotYield,
     "a plug-in did not come back to the game within --pass-timeout (a line says in which frame "
     "and where)"},
    {exitInterrupted, "interrupted (Ctrl-C)"},
};
