// Turning the bytes of a BMP, TGA, JPEG or PNG file into pixels ready for the texture upload.
// Nothing here touches OpenGL, files or the screen, so every reader runs on a plain byte buffer:
// the loaders in Textures feed them file contents, the tests and the fuzzer feed them anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

// An allocator whose resize leaves new bytes as they are. The readers write every byte they hand
// on, and clearing a 16 MB image only to overwrite it costs a large texture load milliseconds.
template <typename T>
struct TUninitialisedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = TUninitialisedAllocator<U>;
  };
  TUninitialisedAllocator() = default;
  template <typename U>
  TUninitialisedAllocator(const TUninitialisedAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// File contents and pixels: bytes that are filled after they are sized.
using TByteBuffer = std::vector<uint8_t, TUninitialisedAllocator<uint8_t>>;

enum class TPixelFormat { RGB, RGBA };

// Pixels the way the upload takes them: 8-bit channels in R, G, B (and A) order, bottom row first,
// each row starting on a multiple of RowAlignment bytes.
struct TImage {
  uint32_t Width = 0;
  uint32_t Height = 0;
  TPixelFormat Format = TPixelFormat::RGB;
  // The fourth channel is the file's own alpha, and the pictures of the texture are blended.
  // Without it an RGBA image's fourth byte is only padding (the JPEG reader's 255).
  bool HasAlpha = false;
  int RowAlignment = 4;
  TByteBuffer Pixels;

  size_t BytesPerPixel() const { return Format == TPixelFormat::RGBA ? 4 : 3; }
  // Distance between the starts of two rows, padding included.
  size_t RowStride() const;
};

// What the user is told when a file is refused: the message box's text and caption.
struct TImageError {
  std::string Text;
  std::string Caption;
};

// Captions of the loaders' message boxes.
extern const char* const BmpCaption;          // "BMP Unit" (the JPEG loader's as well)
extern const char* const TgaCaption;          // "TGA File Error"
extern const char* const TgaNotFoundCaption;  // "TGA Texture"
extern const char* const PngCaption;          // "PNG File Error"

// Each reader fills `image` and returns true, or fills `error` and returns false. `name` only
// goes into the messages. Sizes over 65535 or of 0 are refused, since the upload cannot take
// them, and nothing larger than the file itself allows is ever allocated (JPEG: see the .cpp).

// Uncompressed 24-bit Windows bitmaps with an info header of 40 bytes or more.
bool ReadBmpImage(const uint8_t* data, size_t size, const std::string& name, TImage& image,
                  TImageError& error);
// The same, taking the whole file's buffer, whose storage then holds the pixels when the rows
// need no reordering (the loaders' way: a large bitmap is not copied).
bool ReadBmpImageInPlace(TByteBuffer&& file, const std::string& name, TImage& image,
                         TImageError& error);
// Uncompressed 24-bit true-colour TGA images.
bool ReadTgaImage(const uint8_t* data, size_t size, const std::string& name, TImage& image,
                  TImageError& error);
// Any JPEG the system's decoder reads: colour, greyscale and CMYK, baseline and progressive.
// Always RGBA with alpha 255.
bool ReadJpegImage(const uint8_t* data, size_t size, const std::string& name, TImage& image,
                   TImageError& error);

// Any PNG: grey, grey with alpha, palette, RGB and RGBA, of 1 to 16 bits (16-bit samples are
// rounded to 8), interlaced or not. A file with alpha (an alpha channel or a tRNS chunk) gives
// RGBA with HasAlpha set and its colours as the file has them, not yet premultiplied; any other
// gives RGB. Gamma and colour chunks are ignored, and so are damaged ancillary chunks. The
// message of a refusal carries the decoder's reason.
bool ReadPngImage(const uint8_t* data, size_t size, const std::string& name, TImage& image,
                  TImageError& error);

// Multiplies the colour of every pixel of an image with alpha by its alpha, rounding to nearest:
// what the upload of such an image takes. Other images are left as they are.
void PremultiplyAlpha(TImage& image);

// The largest JPEG or PNG, in pixels, the readers decode. A header of a few bytes can announce an
// image of 65500 by 65500 pixels; the JPEG decoder would fill what the data lacks with grey, and
// a PNG's compressed rows shrink a thousandfold, so the file's own size is no bound on the memory
// they ask for.
constexpr uint64_t MaxDecodedPixels = uint64_t(1) << 26;
