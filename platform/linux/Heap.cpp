// The heap's settings for the whole run.
//
// The software GL driver allocates and frees megabytes of heap in every frame: each texture
// bind flushes the previous quad into the driver's scene, whose blocks (64 KiB each, about
// 33 MiB at the top of the heap per frame at 10,000 nodes) are freed once the frame is drawn.
// glibc hands the top of the heap back to the kernel when more than its trim threshold is free,
// and by default that threshold adjusts itself to whatever large blocks the program happened to
// free before (a texture file's read buffer raises it to 2 MiB; a scene that reads no file
// leaves it at 128 KiB). The driver's memory was then unmapped after a frame and faulted in
// again in the next: at 1,000 nodes up to a third of each tick's CPU was system time, at 10,000
// nodes more than the drawing itself.
//
// Fixed values instead, chosen by measuring ticks at 100 to 10,000 nodes:
// - blocks under 4 MiB come from the heap: the driver's largest per-frame block is 512 KiB, so
//   it never gets a mapping of its own, while a large picture's decoding buffers are still
//   mapped for their load and given back after it;
// - up to 256 MiB stays at the top of the heap (32 MiB was too little at 10,000 nodes). The
//   resident size then stays at the frame's high-water mark, which every frame reaches anyway.
#include <malloc.h>

#include "platform/Platform.h"

namespace {

constexpr int MmapThreshold = 4 << 20;
constexpr int TrimThreshold = 256 << 20;

}  // namespace

void ConfigureHeap() {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, MmapThreshold);
  mallopt(M_TRIM_THRESHOLD, TrimThreshold);
#endif
}
