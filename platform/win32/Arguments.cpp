// The program's arguments, split from the wide-character command line.
#include <string>
#include <vector>

#include "platform/win32/Win32Backend.h"

namespace win32backend {

// The system's rules for splitting a command line (those of the C run time and of
// CommandLineToArgvW): blanks separate arguments outside quotes; 2n backslashes before a quote
// are n backslashes and the quote opens or closes a quoted part, 2n+1 are n and a literal quote;
// other backslashes are themselves; the program's name ends at the first blank, or is quoted
// whole, and knows no escapes.
//
// One departure: a quoted part whose last character is a backslash ("C:\scenes\menu\", as a
// shell's completion of a folder writes it) would, by those rules, escape its closing quote and
// swallow what follows into one argument that ends in a quote. No file name holds a quote, so an
// escaped quote followed by a blank or the end of the line closes the quoted part instead, and
// the backslash stays.
std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
  std::vector<std::wstring> arguments;
  size_t i = 0;
  const size_t end = line.size();
  auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };

  std::wstring program;
  if (i < end && line[i] == L'"') {
    ++i;
    while (i < end && line[i] != L'"') program += line[i++];
    if (i < end) ++i;
  } else {
    while (i < end && !blank(line[i])) program += line[i++];
  }
  arguments.push_back(program);

  for (;;) {
    while (i < end && blank(line[i])) ++i;
    if (i >= end) break;
    std::wstring argument;
    bool quoted = false;
    while (i < end && (quoted || !blank(line[i]))) {
      if (line[i] == L'\\') {
        size_t backslashes = 0;
        while (i < end && line[i] == L'\\') {
          ++backslashes;
          ++i;
        }
        if (i >= end || line[i] != L'"') {
          argument.append(backslashes, L'\\');
          continue;
        }
        argument.append(backslashes / 2, L'\\');
        if (backslashes % 2 == 0) continue;  // the quote opens or closes, below
        const bool lastOfArgument = i + 1 >= end || blank(line[i + 1]);
        if (quoted && lastOfArgument) {
          argument += L'\\';
          quoted = false;
        } else {
          argument += L'"';
        }
        ++i;
        continue;
      }
      if (line[i] == L'"') {
        // "" inside a quoted part is a literal quote, and the part goes on.
        if (quoted && i + 1 < end && line[i + 1] == L'"') {
          argument += L'"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      argument += line[i++];
    }
    arguments.push_back(argument);
  }
  return arguments;
}

}  // namespace win32backend
