// What every reader target checks of one input: the reader refuses it with a message for the
// user, or produces exactly as many pixels as the upload will read, within the sizes it takes.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "render/ImageReaders.h"

inline void CheckReader(bool (*reader)(const uint8_t*, size_t, const std::string&, TImage&,
                                       TImageError&),
                        const uint8_t* data, size_t size) {
  TImage image;
  TImageError error;
  if (reader(data, size, "fuzz", image, error)) {
    if (image.Width == 0 || image.Height == 0 || image.Width > 65535 || image.Height > 65535 ||
        (image.RowAlignment != 1 && image.RowAlignment != 4) ||
        image.Pixels.size() < image.RowStride() * image.Height)
      std::abort();
    if (image.HasAlpha && image.Format != TPixelFormat::RGBA) std::abort();
    // The loaders premultiply what has alpha before the upload.
    PremultiplyAlpha(image);
    // The last byte the upload reads: ASan knows whether it belongs to the buffer.
    volatile uint8_t last = image.Pixels[image.RowStride() * image.Height - 1];
    (void)last;
  } else if (error.Text.empty() || error.Caption.empty()) {
    std::abort();
  }
}
