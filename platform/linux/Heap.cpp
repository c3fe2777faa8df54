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
// Fixed values instead, chosen by measuring ticks at 100 to 10,000 nodes and large loads:
// - blocks up to glibc's largest threshold (32 MiB) come from the heap. The driver's biggest
//   per-frame block is 512 KiB; a 4 MiB threshold served the frames as well, but mapped and
//   faulted in a large picture's file and pixel buffers afresh for every load (a 2048 by 2048
//   BMP took 205 ms instead of 125 ms with glibc's default, which learns to keep them);
// - up to 256 MiB stays at the top of the heap (32 MiB was too little at 10,000 nodes). The
//   resident size then stays at its high-water mark, which every frame reaches anyway.
#include <malloc.h>

#include "platform/Platform.h"

namespace {

// glibc refuses anything above this (32 MiB with 64-bit longs).
constexpr int MmapThreshold = int(4 * 1024 * 1024 * sizeof(long));
constexpr int TrimThreshold = 256 << 20;

}  // namespace

void ConfigureHeap() {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, MmapThreshold);
  mallopt(M_TRIM_THRESHOLD, TrimThreshold);
#endif
}

void ReleaseFreeHeap() {
#ifdef __GLIBC__
  // Also the free pages inside the heap, not only its top: a scene's blocks lie all over it.
  malloc_trim(0);
#endif
}
