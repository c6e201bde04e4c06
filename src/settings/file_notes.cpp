#include "settings/file_notes.h"

#include <SimpleIni.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

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
bool namedWithStrayBytes(std::string_view given, const char* known) {
  bool stray = false;
  for (const char byte : given) {
    if (!isPlainText(byte)) {
      stray = true;
    } else if (lowered(byte) == lowered(*known)) {
      ++known;
    } else {
      return false;
    }
  }
  return stray && *known == '\0';
}

bool copyCut(char (&target)[noteNameCapacity], std::string_view name) {
  const std::size_t length = name.size() < noteNameCapacity ? name.size() : noteNameCapacity - 1;
  name.copy(target, length);
  target[length] = '\0';
  return length < name.size();
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

// A note on one line of the file, which no setting's name is meant by.
void addLineNote(SettingsLoad& load, FileNoteKind kind, std::uint32_t line,
                 std::string_view section = {}, std::string_view text = {},
                 bool sectionUnknown = false) {
  if (load.noteCount < fileNotesKept) {
    FileNote& note = load.notes[load.noteCount];
    note.kind = kind;
    note.line = line;
    note.sectionCut = copyCut(note.section, section);
    note.keyCut = copyCut(note.key, text);
    note.sectionUnknown = sectionUnknown;
  }
  ++load.noteCount;
}

bool isBlank(char byte) { return byte == ' ' || byte == '\t'; }

// Below the space but the tab, and DEL: bytes an editor shows as nothing, or as a box.
bool isControl(char byte) {
  return (static_cast<unsigned char>(byte) < 0x20 && byte != '\t') || byte == 0x7F;
}

std::string_view withoutBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool sameName(std::string_view given, const char* known) {
  for (const char byte : given) {
    if (*known == '\0' || lowered(byte) != lowered(*known)) return false;
    ++known;
  }
  return *known == '\0';
}

// "[Bell\x07]": read as a section of that name, which an editor shows as [Bell]. A setting's
// section with such a byte has a note of its own already.
void noteControlInSection(std::string_view name, std::uint32_t line, SettingsLoad& load) {
  bool control = false;
  for (const char byte : name) control = control || isControl(byte);
  if (!control) return;
  for (const SettingName* setting : settingNames) {
    if (namedWithStrayBytes(name, setting->section)) return;
  }
  addLineNote(load, FileNoteKind::controlInSection, line, name);
}

// "\x07[Bell]" or a no-break space before the "[": no section line, so the library takes it for
// a key without "=" and drops it, and the lines under it stay in the section before.
void noteSectionNotRead(std::string_view text, std::uint32_t line, std::string_view section,
                        bool sectionUnknown, SettingsLoad& load) {
  const std::size_t open = text.find('[');
  if (open == std::string_view::npos || text.find(']', open) == std::string_view::npos) return;
  for (std::size_t index = 0; index < open; ++index) {
    if (isPlainText(text[index])) return;
  }
  addLineNote(load, FileNoteKind::sectionNotRead, line, section, text, sectionUnknown);
}

// The setting whose value a NUL byte ends, when the line it ends is one.
bool markValueEndingAtNul(std::string_view section, std::string_view key, SettingsLoad& load) {
  if (sameName(section, displayAccuracyName.section) && sameName(key, displayAccuracyName.key)) {
    load.displayAccuracy.endsAtNul = true;
    return true;
  }
  if (sameName(section, angleName.section) && sameName(key, angleName.key)) {
    load.angle.endsAtNul = true;
    return true;
  }
  return false;
}

// What only the lines tell, up to the first NUL byte, where the library stops reading: a NUL
// byte, and section lines an editor shows otherwise than they are read. Lines end at CR LF, CR or
// LF, and a line's blanks around it do not count, as for the library.
void noteLines(std::string_view bytes, SettingsLoad& load) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  const std::size_t nul = bytes.find('\0');
  std::string_view rest = bytes.substr(0, nul);
  std::string_view section;  // as the library names it: empty before any
  bool sectionUnknown = false;
  bool valueEndsAtNul = false;
  std::uint32_t line = 1;
  for (;; ++line) {
    const std::size_t end = rest.find_first_of("\r\n");
    const bool last = end == std::string_view::npos;
    const std::string_view text = withoutBlanks(rest.substr(0, end));
    if (text.starts_with('[')) {
      const std::size_t close = text.find(']');
      // Without "]" the library starts a section that no lookup finds.
      sectionUnknown = close == std::string_view::npos;
      if (!sectionUnknown) {
        section = withoutBlanks(text.substr(1, close - 1));
        noteControlInSection(section, line, load);
      }
    } else if (!text.starts_with(';') && !text.starts_with('#')) {
      const std::size_t equals = text.find('=');
      if (equals == std::string_view::npos) {
        noteSectionNotRead(text, line, section, sectionUnknown, load);
      } else if (last && nul != std::string_view::npos && equals > 0 && !sectionUnknown) {
        valueEndsAtNul = markValueEndingAtNul(section, withoutBlanks(text.substr(0, equals)), load);
      }
    }
    if (last) break;
    rest.remove_prefix(end + (rest.substr(end).starts_with("\r\n") ? 2 : 1));
  }
  if (nul != std::string_view::npos && !valueEndsAtNul) {
    addLineNote(load, FileNoteKind::nulByte, line);
  }
}

// The file's sections and keys in the order the file gives them, a key at its first place.
void noteEntries(std::string_view bytes, SettingsLoad& load) {
  NotesIni ini;
  ini.SetUnicode(false);
  ini.SetMultiKey(true);
  if (ini.LoadData(bytes.data(), bytes.size()) != SI_OK) {
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

FileEncoding fileEncoding(std::FILE* file) {
  unsigned char start[3] = {};
  const std::size_t length = std::fread(start, 1, sizeof start, file);
  if (length >= 2 &&
      ((start[0] == 0xFF && start[1] == 0xFE) || (start[0] == 0xFE && start[1] == 0xFF))) {
    return FileEncoding::utf16;
  }
  if (length == 3 && start[0] == 0xEF && start[1] == 0xBB && start[2] == 0xBF) {
    return FileEncoding::utf8Signature;
  }
  return FileEncoding::plain;
}

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
      std::string bytes(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
      if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0 ||
          std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        load.notesSearch = FileNotesSearch::failed;
      } else {
        noteLines(bytes, load);
        noteEntries(bytes, load);
      }
    } catch (...) {
      load.notesSearch = FileNotesSearch::failed;
    }
  }
  if (load.notesSearch == FileNotesSearch::failed) load.noteCount = 0;
  std::fclose(file);
}
