// UTF-8 and UTF-16, and the legacy code page for bytes that are no UTF-8.

#include "platform/win32/Win32Backend.h"

namespace win32backend {

UINT LegacyCodePage() {
  static const UINT codePage = [] {
    UINT active = GetACP();
    if (active != CP_UTF8) return active;
    // The manifest made UTF-8 this process's code page; the system's own is the one of its
    // locale for programs that are not Unicode.
    DWORD fromLocale = 0;
    if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<LPWSTR>(&fromLocale),
                       sizeof fromLocale / sizeof(wchar_t)) &&
        fromLocale != 0 && fromLocale != CP_UTF8)
      return static_cast<UINT>(fromLocale);
    return static_cast<UINT>(1252);
  }();
  return codePage;
}

bool IsUtf8(const std::string& text) {
  if (text.empty()) return true;
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                             static_cast<int>(text.size()), nullptr, 0) > 0;
}

namespace {

std::wstring Widen(UINT codePage, DWORD flags, const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  int length = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, flags, text.data(), size, &wide[0], length);
  return wide;
}

}  // namespace

std::wstring WideFromText(const std::string& text) {
  if (IsUtf8(text)) return Widen(CP_UTF8, 0, text);
  return Widen(LegacyCodePage(), 0, text);
}

std::wstring ReadableWide(const std::string& text) {
  return Widen(CP_UTF8, 0, ReadableText(text));
}

std::string Utf8FromWide(const wchar_t* text, size_t length) {
  if (length == 0) return std::string();
  const int size = static_cast<int>(length);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string narrow(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, size, &narrow[0], bytes, nullptr, nullptr);
  return narrow;
}

std::string Utf8FromWide(const std::wstring& text) {
  return Utf8FromWide(text.data(), text.size());
}

}  // namespace win32backend

std::string Utf8FromLegacyText(const std::string& bytes) {
  return win32backend::Utf8FromWide(win32backend::Widen(win32backend::LegacyCodePage(), 0, bytes));
}
