// Fuzzing entry for the image readers (built with KESTRUNE_FUZZ=ON and clang): every input goes
// through all three readers, which must refuse it or produce as many pixels as they claim.
#include <cstdlib>

#include "render/ImageReaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (auto reader : {ReadBmpImage, ReadTgaImage, ReadJpegImage}) {
    TImage image;
    TImageError error;
    if (reader(data, size, "fuzz", image, error)) {
      if (image.Width == 0 || image.Height == 0 || image.Width > 65535 || image.Height > 65535 ||
          image.Pixels.size() < image.RowStride() * image.Height)
        std::abort();
      // Touch the last byte the upload would read.
      volatile uint8_t last = image.Pixels[image.RowStride() * image.Height - 1];
      (void)last;
    } else if (error.Text.empty() || error.Caption.empty()) {
      std::abort();
    }
  }
  return 0;
}
