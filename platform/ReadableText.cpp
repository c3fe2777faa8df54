// Bytes a script gave, made into text for people to read: UTF-8 with its broken pieces marked,
// or the legacy code page's text.
#include "platform/Platform.h"

namespace {

// The length of the well-formed UTF-8 sequence at `at` (1 for ASCII), or 0 when none starts
// there. *maximal is then how many bytes the broken sequence spans: its lead byte and the
// continuation bytes that still fit it, which one U+FFFD stands for.
size_t SequenceAt(const std::string& bytes, size_t at, size_t* maximal) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(at);
  *maximal = 1;
  if (lead < 0x80) return 1;
  size_t length = 0;
  // The range of the second byte narrows for some leads: no overlong forms, no surrogates,
  // nothing beyond U+10FFFF.
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (size_t k = 1; k < length; ++k) {
    if (at + k >= bytes.size()) return 0;
    const unsigned char next = byte(at + k);
    if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return 0;
    *maximal = k + 1;
  }
  return length;
}

bool HasMultiByteSequence(const std::string& bytes, bool* allAscii) {
  *allAscii = true;
  for (size_t at = 0; at < bytes.size();) {
    size_t maximal = 0;
    const size_t length = SequenceAt(bytes, at, &maximal);
    if (length > 1) return true;
    if (length != 1) *allAscii = false;
    at += length == 1 ? 1 : maximal;
  }
  return false;
}

}  // namespace

std::string ReadableText(const std::string& bytes) {
  bool allAscii = true;
  if (!HasMultiByteSequence(bytes, &allAscii) && !allAscii) return Utf8FromLegacyText(bytes);
  std::string text;
  text.reserve(bytes.size());
  for (size_t at = 0; at < bytes.size();) {
    size_t maximal = 0;
    const size_t length = SequenceAt(bytes, at, &maximal);
    if (length == 0) {
      text += "\xEF\xBF\xBD";
      at += maximal;
    } else {
      text.append(bytes, at, length);
      at += length;
    }
  }
  return text;
}
