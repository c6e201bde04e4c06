// The eight operations of the script host, ScriptHookRDR2.dll.
//
// The host exports them under MSVC-decorated C++ names. MSVC produces those names from these
// plain C++ declarations; MinGW imports them as C names that the import library built from
// ScriptHookRDR2.def aliases to the decorated ones. The native build links a stand-in host.
#pragma once

#include <cstdint>

// The few Windows types of these signatures, spelled as the Windows headers spell them so that
// MSVC decorates the names as the host exports them, and so that a file including <windows.h> as
// well sees the same types declared twice.
struct HINSTANCE__;  // NOLINT(bugprone-reserved-identifier): the name Windows gives it
using HMODULE = HINSTANCE__*;
#ifdef _WIN32
using DWORD = unsigned long;  // 32 bits on Windows; MSVC decorates it as K
#else
using DWORD = std::uint32_t;
#endif
using WORD = unsigned short;
using BYTE = unsigned char;
using BOOL = int;

#if defined(_WIN32) && defined(__GNUC__)
#define HOST_IMPORT extern "C" __declspec(dllimport)
#elif defined(_WIN32)
#define HOST_IMPORT __declspec(dllimport)
#else
#define HOST_IMPORT
#endif

using ScriptEntry = void (*)();
using KeyboardHandler = void (*)(DWORD key, WORD repeats, BYTE scanCode, BOOL isExtended,
                                 BOOL isWithAlt, BOOL wasDownBefore, BOOL isUpNow);

HOST_IMPORT void scriptRegister(HMODULE module, ScriptEntry entry);
HOST_IMPORT void scriptUnregister(HMODULE module);
HOST_IMPORT void keyboardHandlerRegister(KeyboardHandler handler);
HOST_IMPORT void keyboardHandlerUnregister(KeyboardHandler handler);
HOST_IMPORT void scriptWait(DWORD milliseconds);
HOST_IMPORT void nativeInit(std::uint64_t hash);
HOST_IMPORT void nativePush64(std::uint64_t slot);
HOST_IMPORT std::uint64_t* nativeCall();
