// libFuzzer entry for the JPEG reader.
#include "ReaderCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckReader(ReadJpegImage, data, size);
  return 0;
}
