// The floating-point control word: both the x87 unit and SSE get every exception masked, so a
// fault anywhere (GL driver or our own arithmetic) gives an infinity or NaN instead of a signal.
#include "platform/Platform.h"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#else
#include <cfenv>
#endif

void Set8087CW(WORD controlWord) {
#if defined(__x86_64__) || defined(__i386__)
  WORD word = controlWord;
  __asm__ __volatile__("fclex\n\tfldcw %0" : : "m"(word));
  // MXCSR: the six exception masks are bits 7 to 12; the rounding mode follows the x87 word.
  unsigned int mxcsr = _mm_getcsr();
  mxcsr |= 0x1F80u;
  mxcsr &= ~0x6000u;
  mxcsr |= static_cast<unsigned int>((controlWord >> 10) & 3u) << 13;
  _mm_setcsr(mxcsr & ~0x3Fu);  // clear flags already raised
#else
  (void)controlWord;
  std::feclearexcept(FE_ALL_EXCEPT);
#endif
}
