// game-sim's options: the table of rows, --help made from it, and the parser.
#include "game_sim_options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "exit_status.h"

namespace {

// One row per option: its name, the value it takes (null for none), what it does, and how it is
// stored. apply answers null, or what the value should have been.
struct OptionRow {
  const char* name;
  const char* value;
  const char* help;
  const char* (*apply)(Options& options, const char* value);
};

// A whole number in [low, high], or false.
bool readCount(const char* text, long low, long high, int& value) {
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || number < low || number > high) return false;
  value = static_cast<int>(number);
  return true;
}

const char* readFrames(Options& options, const char* value) {
  options.framesGiven = true;
  if (readCount(value, 1, maxFrames, options.frames)) return nullptr;
  static const std::string wrong =
      "expected a whole number of frames from 1 to " + std::to_string(maxFrames);
  return wrong.c_str();
}

const OptionRow optionRows[] = {
    {"--frames", "N", "run N frames (default 3, at most 1000000000)", readFrames},
    {"--scene", "FILE", "the scene to run instead of the built-in one",
     [](Options& o, const char* v) -> const char* {
       if (o.scene == nullptr) return o.scene = v, nullptr;
       // A run has one scene: taking either would leave the other unrun without a word.
       static std::string wrong;
       wrong.assign("a second scene: --scene ").append(o.scene).append(" was given already");
       return wrong.c_str();
     }},
    {"--json", "FILE", "write the results as JSON to FILE",
     [](Options& o, const char* v) -> const char* { return o.json = v, nullptr; }},
    {"--svg", "FILE", "draw the last frame from the player's view to FILE",
     [](Options& o, const char* v) -> const char* { return o.svg = v, nullptr; }},
    {"--quiet", nullptr, "print no report",
     [](Options& o, const char*) -> const char* { return o.quiet = true, nullptr; }},
    {"--print-default-scene", nullptr, "print the built-in scene, a start for one's own, and stop",
     [](Options& o, const char*) -> const char* { return o.printScene = true, nullptr; }},
    {"--module-path", "PATH",
     "the plug-in's GetModuleFileNameA(NULL) answers PATH, cut to its buffer as Windows cuts a "
     "path that does not fit",
     [](Options& o, const char* v) -> const char* { return o.modulePath = v, nullptr; }},
    {"--hold-settings-file", "SHARE",
     "hold the settings file open while the plug-in runs, sharing only write access (write) or "
     "nothing (none)",
     [](Options& o, const char* v) -> const char* {
       if (std::strcmp(v, "write") != 0 && std::strcmp(v, "none") != 0) {
         return "expected write or none";
       }
       return o.holdSettings = v, nullptr;
     }},
    {"--locale", "NAME",
     "the process's C locale while the plug-ins run, as another module could set it; printed "
     "before and after",
     [](Options& o, const char* v) -> const char* { return o.locale = v, nullptr; }},
    {"--crowd", "N", "N armed peds in place of the scene's, its settings files kept",
     [](Options& o, const char* v) -> const char* {
       return readCount(v, 1, 100000, o.crowd) ? nullptr
                                               : "expected a whole number from 1 to 100000";
     }},
    {"--save-load-every", "K",
     "a save load at the start of every K-th frame: the script is started anew, after the scene's "
     "next settings file is put down",
     [](Options& o, const char* v) -> const char* {
       return readCount(v, 1, maxFrames, o.saveLoadEvery)
                  ? nullptr
                  : "expected a whole number of frames from 1 to 1000000000";
     }},
    {"--keys-every-frame", nullptr, "keyboard events from the host's thread before every frame",
     [](Options& o, const char*) -> const char* { return o.keysEveryFrame = true, nullptr; }},
    {"--count-heap", "FILE",
     "count the plug-in's own heap and the process's memory, print them and write them to FILE as "
     "JSON; says how far the run has got every tenth of it on standard error",
     [](Options& o, const char* v) -> const char* { return o.heapJson = v, nullptr; }},
    {"--replace-settings", nullptr,
     "put the scene's settings file down even over another one beside game-sim, which is kept "
     "beside it as vok.quillmarrowfendcask.ini.bak (.bak2, .bak3, ... when that is taken); "
     "without it, that one is left as it is and the run stops",
     [](Options& o, const char*) -> const char* { return o.replaceSettings = true, nullptr; }},
    {"--reloads", "N",
     "load the plug-ins, run the frames and unload them again, N times in one process, as the "
     "host's developer mode reloads them; prints per reload whether they registered and "
     "unregistered, whether the start-up log was written and the process's memory after the "
     "unload (with --count-heap the plug-ins' heap too)",
     [](Options& o, const char* v) -> const char* {
       return readCount(v, 1, 100000, o.reloads) ? nullptr
                                                 : "expected a whole number from 1 to 100000";
     }},
    {"--pass-timeout", "SECONDS",
     "end the run with status 4 when a call into a plug-in (a pass, its script's start, its DLL "
     "entry, a keyboard handler) has not come back to the game within SECONDS (default 5; 0: "
     "never, as under a debugger)",
     [](Options& o, const char* v) -> const char* {
       char* end = nullptr;
       const double seconds = std::strtod(v, &end);
       // A day at most: past it a run that hangs is better stopped by hand.
       if (end == v || *end != '\0' || !(seconds >= 0 && seconds <= 86400)) {
         return "expected seconds from 0 to 86400";
       }
       // Any limit above 0 stays one, however small.
       o.passTimeout =
           static_cast<std::uint32_t>(std::max(std::lround(seconds * 1000), seconds > 0 ? 1L : 0L));
       return nullptr;
     }},
    {"--replay", "FILE",
     "run the plug-ins against a capture of the real game (vok.quillmarrowfendcask.capture) in "
     "place of a scene, a frame per pass recorded, and report beside each accuracy the one the "
     "captured plug-in set",
     [](Options& o, const char* v) -> const char* { return o.replay = v, nullptr; }},
    {"--angle", "DEGREES",
     "with --replay: run with this Angle in place of the captured one (the settings file put "
     "down holds it); accuracies that then differ from the captured ones are reported as such",
     [](Options& o, const char* v) -> const char* {
       char* end = nullptr;
       const float angle = std::strtof(v, &end);
       // Any number the settings file could hold, as the plug-in reads it.
       if (end == v || *end != '\0') return "expected a number of degrees, such as 3 or 1.5";
       o.angleGiven = true;
       o.angle = angle;
       return nullptr;
     }},
    {"--display-accuracy", "true|false",
     "with --replay: run with this DisplayAccuracy in place of the captured one",
     [](Options& o, const char* v) -> const char* {
       if (std::strcmp(v, "true") != 0 && std::strcmp(v, "false") != 0) {
         return "expected true or false";
       }
       o.displayAccuracyGiven = true;
       o.displayAccuracy = std::strcmp(v, "true") == 0;
       return nullptr;
     }},
    {"--expect", "FILE",
     "with --replay: judge today's accuracies by the expected ones in FILE (a line per pass and "
     "ped, as --accept writes it) instead of the captured ones; status 1 where they differ",
     [](Options& o, const char* v) -> const char* { return o.expect = v, nullptr; }},
    {"--accept", nullptr,
     "with --replay: write today's accuracies as the expected ones to the --expect FILE, or "
     "beside the capture (X.capture: X.expected), after reporting where they differ from the "
     "ones there; the capture itself is never written",
     [](Options& o, const char*) -> const char* { return o.accept = true, nullptr; }},
    {"--dump", "FILE",
     "print a capture as text and stop: its versions and settings, each pass with its calls, a "
     "call a line (the native by name, its arguments, outputs and answer), and how the recording "
     "ended or where the file is cut",
     [](Options& o, const char* v) -> const char* { return o.dump = v, nullptr; }},
    {"--help", nullptr, "print this help and stop",
     [](Options& o, const char*) -> const char* { return o.help = true, nullptr; }},
};

// "  NAME  text", the text wrapped at word boundaries under its own column.
std::string describedLine(const std::string& name, const std::string& text, std::size_t column) {
  constexpr std::size_t width = 96;
  std::string out;
  std::string line = "  " + name;
  line.resize(std::max(line.size() + 1, column), ' ');
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (line.size() + 1 + word.size() > width && line.size() > column) {
      out += line + "\n";
      line.assign(column, ' ');
    } else if (line.size() > column) {
      line += ' ';
    }
    line += word;
    start = end + 1;
  }
  return out + line + "\n";
}

}  // namespace

std::string helpText() {
  std::string out =
      "usage: game-sim [OPTION]...\n"
      "Runs the plug-ins (*.asi) beside this program in a simulated game and prints, per frame,\n"
      "what they did to each ped of the scene. Paths are taken from the current folder.\n";
  for (const OptionRow& row : optionRows) {
    out += describedLine(std::string(row.name) + (row.value ? std::string(" ") + row.value : ""),
                         row.help, 30);
  }
  out += "Exit status:\n";
  for (const ExitStatusRow& row : exitStatusRows) {
    out += describedLine(std::to_string(row.status), row.meaning, 8);
  }
  return out;
}

// Empty when every option was understood; otherwise what was wrong, naming the option.
std::string parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const char* given = argv[i];
    const OptionRow* row = nullptr;
    for (const OptionRow& candidate : optionRows) {
      if (std::strcmp(given, candidate.name) == 0) row = &candidate;
    }
    if (row == nullptr) {
      std::string names;
      for (const OptionRow& candidate : optionRows) {
        names += std::string(names.empty() ? " " : ", ") + candidate.name;
      }
      return std::string(given[0] == '-' ? "unknown option " : "not an option: ") + given +
             "; the options are" + names + " (--help says what each does)";
    }
    const char* value = nullptr;
    if (row->value != nullptr) {
      if (i + 1 == argc)
        return std::string(row->name) + " needs a value: " + row->name + " " + row->value;
      value = argv[++i];
    }
    if (const char* wrong = row->apply(options, value)) {
      return std::string(row->name) + " " + value + ": " + wrong;
    }
  }
  return "";
}

// The options that say what a scene run does, which a replay takes from its capture instead.
std::string replayConflict(const Options& options) {
  const std::pair<bool, const char*> conflicts[] = {
      {options.scene != nullptr, "--scene"},
      {options.framesGiven, "--frames (a replay runs a frame per pass recorded)"},
      {options.crowd > 0, "--crowd"},
      {options.saveLoadEvery > 0, "--save-load-every"},
      {options.reloads > 0, "--reloads"}};
  const std::pair<bool, const char*> replayOnly[] = {
      {options.angleGiven, "--angle"},
      {options.displayAccuracyGiven, "--display-accuracy"},
      {options.expect != nullptr, "--expect"},
      {options.accept, "--accept"}};
  if (options.replay == nullptr) {
    for (const auto& [given, name] : replayOnly) {
      if (given) {
        return std::string(name) +
               " is for a replay (--replay FILE); a scene's settings are its [settings] file";
      }
    }
    return "";
  }
  for (const auto& [given, name] : conflicts) {
    if (given) return std::string("--replay cannot be given with ") + name;
  }
  return "";
}
