/* The line breaking interface the text layout calls (that of libunibreak, which Debian builds
   for Linux), for the Windows build, where GNU libunistring answers it (linebreak.c). */
#ifndef KESTRUNE_LINEBREAK_H
#define KESTRUNE_LINEBREAK_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LINEBREAK_VERSION 0x0202
extern const int linebreak_version;

#ifndef LINEBREAK_UTF_TYPES_DEFINED
#define LINEBREAK_UTF_TYPES_DEFINED
typedef unsigned char utf8_t;
typedef unsigned short utf16_t;
typedef unsigned int utf32_t;
#endif

/* What brks[i] says of the place after code unit i. */
#define LINEBREAK_MUSTBREAK 0
#define LINEBREAK_ALLOWBREAK 1
#define LINEBREAK_NOBREAK 2
#define LINEBREAK_INSIDEACHAR 3

void init_linebreak(void);
void set_linebreaks_utf8(const utf8_t* s, size_t len, const char* lang, char* brks);
void set_linebreaks_utf16(const utf16_t* s, size_t len, const char* lang, char* brks);
void set_linebreaks_utf32(const utf32_t* s, size_t len, const char* lang, char* brks);
int is_line_breakable(utf32_t char1, utf32_t char2, const char* lang);

#ifdef __cplusplus
}
#endif

#endif
