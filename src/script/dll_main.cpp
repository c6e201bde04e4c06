// The DLL entry: registration with the host and nothing else, since it runs under the loader lock.
#include <windows.h>

#include "host/host.h"
#include "script/keyboard.h"
#include "script/script.h"

#ifdef PLUGIN_CAPTURE
#include "capture/capture_record.h"
#endif

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    scriptRegister(module, onScriptStart);
    keyboardHandlerRegister(onKeyboardEvent);
  } else if (reason == DLL_PROCESS_DETACH) {
#ifdef PLUGIN_CAPTURE
    finishCapture();  // a file write, no module loaded: safe under the loader lock
#endif
    scriptUnregister(module);
    keyboardHandlerUnregister(onKeyboardEvent);
  }
  return TRUE;
}
