// The line breaker the layout calls, as each build links it (libunibreak on Linux, libunistring
// behind the same interface on Windows): both must give the same places, one value per byte.
// (Bytes that are no UTF-8 never reach it: the layout replaces them first.)
#include <gtest/gtest.h>
#include <linebreak.h>

#include <string>

namespace {

// One letter per byte: M must break, A may break, N may not, I inside a character.
std::string Breaks(const std::string& utf8) {
  std::string brks(utf8.size(), '?');
  set_linebreaks_utf8(reinterpret_cast<const utf8_t*>(utf8.data()), utf8.size(), "en", &brks[0]);
  static_assert(LINEBREAK_MUSTBREAK == 0 && LINEBREAK_ALLOWBREAK == 1 && LINEBREAK_NOBREAK == 2 &&
                LINEBREAK_INSIDEACHAR == 3);
  for (char& b : brks) b = b >= 0 && b <= 3 ? "MANI"[int(b)] : '?';
  return brks;
}

TEST(LineBreakTest, PlacesBetweenWordsLinesAndIdeographs) {
  // After the space, not before it; the text's end always ends a line.
  EXPECT_EQ(Breaks("ab cd"), "NNANM");
  // CR LF is one line end, after the LF.
  EXPECT_EQ(Breaks("a\r\nb"), "NNMM");
  EXPECT_EQ(Breaks("a\nb"), "NMM");
  // Between ideographs, each marked on its last byte.
  EXPECT_EQ(Breaks("\xE6\x97\xA5\xE6\x9C\xAC"), "IIAIIM");
  // Not after an opening bracket nor before a closing one or a full stop.
  EXPECT_EQ(Breaks("(a) b."), "NNNANM");
}

}  // namespace
