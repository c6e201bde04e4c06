// MinGW's static C++ run-time allocates a 73 KiB emergency pool for throwing exceptions when
// memory runs out, once per load of this DLL, and never frees it: the host's developer mode,
// which unloads and reloads every plug-in, would lose it at every reload. The run-time's own
// release function hands it back when the DLL's exit functions run at unload, which MinGW's
// start-up code does after DllMain has unregistered us. It leaves the pool's free list pointing
// into the freed block: a throw that found malloc failing after this would use freed memory, and
// nothing that runs after it throws. Linked by MinGW only.
#include <cstdlib>

namespace __gnu_cxx {
void __freeres();  // libstdc++'s, declared by no header
}  // namespace __gnu_cxx

namespace {
void releaseExceptionPool() { __gnu_cxx::__freeres(); }

// Registered as the DLL's run-time starts: a DLL's exit functions are its own, run at its unload.
[[maybe_unused]] const int poolReleaseRegistered = std::atexit(releaseExceptionPool);
}  // namespace
