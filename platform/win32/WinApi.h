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

// Message boxes go through the test hook first (SetMessageBoxHook); the system's box is shown
// when no hook is set. The macro keeps every caller spelling the system's name.
int HookedMessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
#define MessageBoxA HookedMessageBoxA
