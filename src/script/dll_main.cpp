// The DLL entry: registration with the host and nothing else, since it runs under the loader lock.
#include <windows.h>

#include "host/host.h"
#include "script/keyboard.h"
#include "script/script.h"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    scriptRegister(module, onScriptStart);
    keyboardHandlerRegister(onKeyboardEvent);
  } else if (reason == DLL_PROCESS_DETACH) {
    scriptUnregister(module);
    keyboardHandlerUnregister(onKeyboardEvent);
  }
  return TRUE;
}
