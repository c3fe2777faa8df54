// Shared state of the Windows backend: how text crosses between the program, which keeps names
// and captions as UTF-8, and the system, which takes them as UTF-16. Only files in
// platform/win32 include this header.
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"

namespace win32backend {

// The code page that bytes which are no UTF-8 are read in: the system's ANSI code page, found
// from the system's locale when this process runs with UTF-8 as its own code page.
UINT LegacyCodePage();

bool IsUtf8(const std::string& text);

// Text of the program for the system: UTF-8 when the bytes are UTF-8, else the legacy code page
// (scripts saved by older editors). Names of files take it so; text for people to read takes
// ReadableWide.
std::wstring WideFromText(const std::string& text);
// Captions, boxes' texts and console lines: ReadableText, as UTF-16.
std::wstring ReadableWide(const std::string& text);
// Text of the system for the program, always UTF-8.
std::string Utf8FromWide(const wchar_t* text, size_t length);
std::string Utf8FromWide(const std::wstring& text);

// A command line split into arguments as the system splits it, the program's name first, except
// that a quoted argument ending in a backslash ("C:\scenes\menu\") keeps it and ends there.
std::vector<std::wstring> SplitCommandLine(const std::wstring& line);

// The window goes away: so do the frames kept of it (FramePixels.cpp).
void ForgetKeptFrames(HWND window);

// The class of the forms' windows.
inline constexpr wchar_t kFormClassName[] = L"KestruneForm";

}  // namespace win32backend
