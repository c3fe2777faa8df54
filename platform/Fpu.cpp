// The floating-point control word: both the x87 unit and SSE get every exception masked, so a
// fault anywhere (GL driver or our own arithmetic) gives an infinity or NaN instead of a signal.
#include "platform/Platform.h"

#if !defined(__x86_64__) && !defined(__i386__)
#include <cfenv>
#endif

void Set8087CW(WORD controlWord) {
#if defined(__x86_64__) || defined(__i386__)
  WORD word = controlWord;
  __asm__ __volatile__("fclex\n\tfldcw %0" : : "m"(word));
#if defined(__i386__)
  // A 32-bit build may run on a processor without SSE, which has no MXCSR to set; the
  // instructions are spelled out because such a build is not compiled for SSE either.
  if (!__builtin_cpu_supports("sse")) return;
#endif
  // MXCSR: the six exception masks are bits 7 to 12; the rounding mode follows the x87 word.
  unsigned int mxcsr = 0;
  __asm__ __volatile__("stmxcsr %0" : "=m"(mxcsr));
  mxcsr |= 0x1F80u;
  mxcsr &= ~0x6000u;
  mxcsr |= static_cast<unsigned int>((controlWord >> 10) & 3u) << 13;
  mxcsr &= ~0x3Fu;  // clear flags already raised
  __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr));
#else
  (void)controlWord;
  std::feclearexcept(FE_ALL_EXCEPT);
#endif
}
