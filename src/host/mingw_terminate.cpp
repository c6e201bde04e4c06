// MinGW's static C++ run-time ends an uncaught exception by printing its type, demangled, to a
// console a game does not have: the demangler behind it was 48 KB of this DLL. The plug-in throws
// nothing and catches only the settings library's out-of-memory, where it looks through the file
// for the log's notes, so ending at once keeps what a player sees. Linked by MinGW only: this
// name replaces the run-time's own handler of the same name.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
