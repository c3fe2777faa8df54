// libFuzzer entry for the PNG reader, and for the premultiplication that follows it on upload.
#include "ReaderCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckReader(ReadPngImage, data, size);
  return 0;
}
