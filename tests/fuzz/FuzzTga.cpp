// libFuzzer entry for the TGA reader.
#include "ReaderCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckReader(ReadTgaImage, data, size);
  return 0;
}
