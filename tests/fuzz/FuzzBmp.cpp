// libFuzzer entry for the BMP reader.
#include "ReaderCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckReader(ReadBmpImage, data, size);
  return 0;
}
