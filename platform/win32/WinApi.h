// The Windows names the program is written against come from the system itself here. Only
// platform/Platform.h includes this header.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The program asks for the names the system declares under the "A" spelling; these generic
// macros would only rename identifiers of our own (TForm::Close, a member called GetObject...).
#undef CreateWindow
#undef DrawText
#undef GetObject
#undef LoadImage
#undef MessageBox
#undef PostMessage
#undef SendMessage
#undef GetMessage
#undef wglUseFontBitmaps
#undef wglUseFontOutlines

// Names and texts cross into the system as UTF-8, the way scripts are written: the "A" calls
// that take or give file names and texts go to the system's wide-character functions, and bytes
// that are no UTF-8 are read in the system's legacy code page (scripts saved by older editors).
// The ANSI functions themselves would read every name in the code page and lose whatever it
// cannot spell, such as a user's folder named in another alphabet.
HANDLE Utf8CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                       LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                       DWORD flagsAndAttributes, HANDLE templateFile);
DWORD Utf8GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);
HMODULE Utf8LoadLibraryA(const char* fileName);
#define CreateFileA Utf8CreateFileA
#define GetModuleFileNameA Utf8GetModuleFileNameA
#define LoadLibraryA Utf8LoadLibraryA

// Frames are kept for ReadFramePixels just before they are presented, where the back buffer
// still holds them; without a window system nothing is presented.
BOOL WINAPI FrameKeepingSwapBuffers(HDC dc);
#define SwapBuffers FrameKeepingSwapBuffers
