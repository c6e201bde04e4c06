// The DLL entry: registration with the host and nothing else, since it runs under the loader lock
// (the capture flavour adds its small end block at a FreeLibrary).
#include <windows.h>

#include "capture/capture_hooks.h"
#include "host/host.h"
#include "script/keyboard.h"
#include "script/script.h"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    scriptRegister(module, onScriptStart);
    keyboardHandlerRegister(onKeyboardEvent);
  } else if (reason == DLL_PROCESS_DETACH) {
    // Non-null at the process's end, null at a FreeLibrary.
    captureUnload(reserved != nullptr);
    scriptUnregister(module);
    keyboardHandlerUnregister(onKeyboardEvent);
  }
  return TRUE;
}
