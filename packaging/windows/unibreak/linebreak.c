/* libunibreak's line breaking interface over GNU libunistring's UAX #14 breaker, for the
   Windows build: the layout code stays the same on both systems. */
#include "linebreak.h"

#include <stdint.h>
#include <stdlib.h>
#include <unilbrk.h>

const int linebreak_version = LINEBREAK_VERSION;

void init_linebreak(void) {}

/* decode_fn: the character at s[*i] (of len code units), *i moved past it; malformed units
   are taken one at a time as U+FFFD, as libunibreak takes them. */
typedef utf32_t (*decode_fn)(const void* s, size_t len, size_t* i);

static utf32_t decode_utf8(const void* text, size_t len, size_t* i) {
  const utf8_t* s = (const utf8_t*)text;
  utf8_t b = s[*i];
  size_t n;
  utf32_t c, min;
  if (b < 0x80) {
    ++*i;
    return b;
  }
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2, c = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3, c = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4, c = b & 0x07, min = 0x10000;
  } else {
    ++*i;
    return 0xFFFD;
  }
  if (len - *i < n) {
    ++*i;
    return 0xFFFD;
  }
  for (size_t k = 1; k < n; ++k) {
    if ((s[*i + k] & 0xC0) != 0x80) {
      ++*i;
      return 0xFFFD;
    }
    c = (c << 6) | (s[*i + k] & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++*i;
    return 0xFFFD;
  }
  *i += n;
  return c;
}

static utf32_t decode_utf16(const void* text, size_t len, size_t* i) {
  const utf16_t* s = (const utf16_t*)text;
  utf32_t c = s[*i];
  if (c >= 0xD800 && c <= 0xDBFF && len - *i >= 2 && s[*i + 1] >= 0xDC00 && s[*i + 1] <= 0xDFFF) {
    c = 0x10000 + ((c - 0xD800) << 10) + (s[*i + 1] - 0xDC00);
    *i += 2;
    return c;
  }
  ++*i;
  return c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c;
}

static utf32_t decode_utf32(const void* text, size_t len, size_t* i) {
  (void)len;
  utf32_t c = ((const utf32_t*)text)[(*i)++];
  return c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c;
}

/* Every code unit but a character's last gets INSIDEACHAR; the last says whether a line may
   end after the character: always after the text's last and after a line break character,
   where libunistring allows it otherwise; CR LF ends one line, after the LF. */
/* libunistring knows the context of a CJK text by its legacy encoding; libunibreak by the
   language. */
static const char* context_encoding(const char* lang) {
  if (lang && (lang[0] == 'z' || lang[0] == 'Z') && (lang[1] == 'h' || lang[1] == 'H'))
    return "GB2312";
  if (lang && (lang[0] == 'j' || lang[0] == 'J') && (lang[1] == 'a' || lang[1] == 'A'))
    return "EUC-JP";
  if (lang && (lang[0] == 'k' || lang[0] == 'K') && (lang[1] == 'o' || lang[1] == 'O'))
    return "EUC-KR";
  return "UTF-8";
}

static void set_linebreaks(const void* s, size_t len, const char* lang, decode_fn decode,
                           char* brks) {
  if (len == 0) return;
  uint32_t* chars = calloc(len, sizeof *chars);
  size_t* ends = malloc(len * sizeof *ends);
  char* before = malloc(len);
  if (!chars || !ends || !before) {
    /* Without memory a line breaks only where the text ends. */
    for (size_t i = 0; i < len; ++i) brks[i] = LINEBREAK_INSIDEACHAR;
    brks[len - 1] = LINEBREAK_MUSTBREAK;
    free(chars), free(ends), free(before);
    return;
  }
  size_t count = 0;
  for (size_t i = 0; i < len;) {
    chars[count] = decode(s, len, &i);
    ends[count++] = i - 1;
  }
  u32_possible_linebreaks_v2(chars, count, context_encoding(lang), before);
  for (size_t i = 0; i < len; ++i) brks[i] = LINEBREAK_INSIDEACHAR;
  for (size_t k = 0; k < count; ++k) {
    char b = LINEBREAK_NOBREAK;
    if (before[k] == UC_BREAK_CR_BEFORE_LF)
      b = LINEBREAK_NOBREAK;
    else if (before[k] == UC_BREAK_MANDATORY || k + 1 == count)
      b = LINEBREAK_MUSTBREAK;
    else if (before[k + 1] == UC_BREAK_POSSIBLE || before[k + 1] == UC_BREAK_HYPHENATION)
      b = LINEBREAK_ALLOWBREAK;
    brks[ends[k]] = b;
  }
  free(chars), free(ends), free(before);
}

void set_linebreaks_utf8(const utf8_t* s, size_t len, const char* lang, char* brks) {
  set_linebreaks(s, len, lang, decode_utf8, brks);
}

void set_linebreaks_utf16(const utf16_t* s, size_t len, const char* lang, char* brks) {
  set_linebreaks(s, len, lang, decode_utf16, brks);
}

void set_linebreaks_utf32(const utf32_t* s, size_t len, const char* lang, char* brks) {
  set_linebreaks(s, len, lang, decode_utf32, brks);
}

int is_line_breakable(utf32_t char1, utf32_t char2, const char* lang) {
  utf32_t pair[2] = {char1, char2};
  char brks[2];
  set_linebreaks_utf32(pair, 2, lang, brks);
  return brks[0];
}
