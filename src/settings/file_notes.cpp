#include "settings/file_notes.h"

#include <SimpleIni.h>

#include <cstdio>
#include <cstring>

#include "host/platform.h"

namespace {

// The library as the settings are read, but keeping every value of a key given twice, which the
// settings' own reading replaces by the last one.
using NotesIni = CSimpleIniTempl<char, SI_NoCase<char>, SI_ConvertA<char>>;

const SettingName* const settingNames[] = {&displayAccuracyName, &angleName};

char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The fewest edits (a letter added, dropped, changed, or two neighbours swapped) that make given
// into known, letter case aside; limit + 1 when it takes more.
std::size_t editsApart(const char* given, const char* known, std::size_t limit) {
  const std::size_t givenLength = std::strlen(given);
  const std::size_t knownLength = std::strlen(known);
  constexpr std::size_t longest = 24;
  if (givenLength > knownLength + limit || knownLength > givenLength + limit ||
      givenLength > longest || knownLength > longest) {
    return limit + 1;
  }
  // Three rows of the edit table: the one before the previous is needed for a swap.
  std::size_t rows[3][longest + 1];
  for (std::size_t j = 0; j <= knownLength; ++j) rows[0][j] = j;
  for (std::size_t i = 1; i <= givenLength; ++i) {
    std::size_t* row = rows[i % 3];
    const std::size_t* above = rows[(i - 1) % 3];
    const std::size_t* twoAbove = rows[(i + 1) % 3];
    row[0] = i;
    for (std::size_t j = 1; j <= knownLength; ++j) {
      const bool same = lowered(given[i - 1]) == lowered(known[j - 1]);
      std::size_t best = above[j - 1] + (same ? 0 : 1);
      if (above[j] + 1 < best) best = above[j] + 1;
      if (row[j - 1] + 1 < best) best = row[j - 1] + 1;
      if (i > 1 && j > 1 && lowered(given[i - 1]) == lowered(known[j - 2]) &&
          lowered(given[i - 2]) == lowered(known[j - 1]) && twoAbove[j - 2] + 1 < best) {
        best = twoAbove[j - 2] + 1;
      }
      row[j] = best;
    }
  }
  return rows[givenLength % 3][knownLength];
}

// Close enough to be a slip of the keyboard, and not the name itself: one edit in five letters,
// two in eight, three in fifteen.
bool nearlyNamed(const char* given, const char* known) {
  const std::size_t limit = std::strlen(known) / 4 > 0 ? std::strlen(known) / 4 : 1;
  return !sameNameIgnoringCase(given, known) && editsApart(given, known, limit) <= limit;
}

// The name is known's, letter case aside, with bytes that are not plain text among its letters.
bool namedWithStrayBytes(const char* given, const char* known) {
  bool stray = false;
  for (; *given != '\0'; ++given) {
    if (!isPlainText(*given)) {
      stray = true;
    } else if (lowered(*given) == lowered(*known)) {
      ++known;
    } else {
      return false;
    }
  }
  return stray && *known == '\0';
}

bool copyCut(char (&target)[noteNameCapacity], const char* name) {
  std::size_t length = 0;
  for (; name[length] != '\0' && length + 1 < noteNameCapacity; ++length) {
    target[length] = name[length];
  }
  target[length] = '\0';
  return name[length] != '\0';
}

void addNote(SettingsLoad& load, FileNoteKind kind, const SettingName& meant, const char* section,
             const char* key, std::uint32_t times, bool strayBytes) {
  if (load.noteCount < fileNotesKept) {
    FileNote& note = load.notes[load.noteCount];
    note.kind = kind;
    note.meant = &meant;
    note.sectionCut = copyCut(note.section, section);
    note.keyCut = copyCut(note.key, key == nullptr ? "" : key);
    note.times = times;
    note.strayBytes = strayBytes;
  }
  ++load.noteCount;
}

// A key under a section that is not a near miss of a setting's own.
void noteKey(const NotesIni::TKeyVal& entries, const char* section, const char* key,
             SettingsLoad& load) {
  for (const SettingName* name : settingNames) {
    const bool ownSection = sameNameIgnoringCase(section, name->section);
    if (ownSection && sameNameIgnoringCase(key, name->key)) {
      // Counted in the library's own table, whatever the values: none is copied.
      const std::size_t times = entries.count(NotesIni::Entry(key));
      if (times > 1) {
        addNote(load, FileNoteKind::givenAgain, *name, section, key,
                static_cast<std::uint32_t>(times), false);
      }
      return;
    }
    const bool stray = namedWithStrayBytes(key, name->key);
    if (stray || nearlyNamed(key, name->key) ||
        (!ownSection && sameNameIgnoringCase(key, name->key))) {
      addNote(load, FileNoteKind::nearMiss, *name, section, key, 1, stray);
      return;
    }
  }
}

// The file's sections and keys in the order the file gives them, a key at its first place.
void noteEntries(std::FILE* file, SettingsLoad& load) {
  NotesIni ini;
  ini.SetUnicode(false);
  ini.SetMultiKey(true);
  if (ini.LoadFile(file) != SI_OK) {
    load.notesSearch = FileNotesSearch::failed;
    return;
  }
  NotesIni::TNamesDepend sections;
  ini.GetAllSections(sections);
  sections.sort(NotesIni::Entry::LoadOrder());
  for (const NotesIni::Entry& section : sections) {
    const SettingName* meant = nullptr;
    bool stray = false;
    for (const SettingName* name : settingNames) {
      if (namedWithStrayBytes(section.pItem, name->section)) {
        meant = name;
        stray = true;
      } else if (nearlyNamed(section.pItem, name->section)) {
        meant = name;
      }
    }
    if (meant != nullptr) {
      addNote(load, FileNoteKind::nearMiss, *meant, section.pItem, nullptr, 1, stray);
      continue;
    }
    NotesIni::TNamesDepend keys;
    ini.GetAllKeys(section.pItem, keys);
    keys.sort(NotesIni::Entry::LoadOrder());
    const NotesIni::TKeyVal& entries = *ini.GetSection(section.pItem);
    for (const NotesIni::Entry& key : keys) noteKey(entries, section.pItem, key.pItem, load);
  }
}

}  // namespace

bool sameNameIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && lowered(*a) == lowered(*b); ++a, ++b) {
  }
  return lowered(*a) == lowered(*b);
}

bool isPlainText(char byte) { return byte >= 0x20 && byte < 0x7F; }

void noteFileLines(const char* path, SettingsLoad& load) {
  std::FILE* const file = openBesideGame(path, "rb");
  if (file == nullptr) {
    load.notesSearch = FileNotesSearch::failed;
    return;
  }
  // A size that cannot be had fails the library's load below.
  const long size = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
  if (size > fileNotesSizeLimit) {
    load.notesSearch = FileNotesSearch::fileTooLarge;
  } else {
    // The plug-in throws nothing, but the library's tables and lists throw when memory runs
    // out. The notes are only remarks: then there are none, and the game goes on.
    try {
      noteEntries(file, load);
    } catch (...) {
      load.notesSearch = FileNotesSearch::failed;
    }
  }
  if (load.notesSearch == FileNotesSearch::failed) load.noteCount = 0;
  std::fclose(file);
}
