// Encoding an RGB frame as PNG with the program's libpng.
#include "render/PngWriter.h"

#include <png.h>

#include <csetjmp>

namespace {

// libpng's error function must not return: it jumps back to the setjmp in Encode, whose frame
// holds nothing with a destructor.
struct PngOutput {
  std::string* Bytes;
  jmp_buf Escape;
};

void PngError(png_structp png, png_const_charp) {
  longjmp(static_cast<PngOutput*>(png_get_error_ptr(png))->Escape, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngWrite(png_structp png, png_bytep data, size_t length) {
  auto* output = static_cast<PngOutput*>(png_get_io_ptr(png));
  try {
    output->Bytes->append(reinterpret_cast<const char*>(data), length);
  } catch (...) {
    png_error(png, "out of memory");
  }
}

void PngFlush(png_structp) {}

bool Encode(PngOutput* output, uint32_t width, uint32_t height, const uint8_t* rgb) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, output, PngError, PngWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(output->Escape)) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_set_write_fn(png, output, PngWrite, PngFlush);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t row = 0; row < height; ++row)
    png_write_row(png, const_cast<png_bytep>(rgb + size_t(row) * width * 3));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::string EncodePng(uint32_t width, uint32_t height, const uint8_t* rgb) {
  std::string bytes;
  if (width == 0 || height == 0) return bytes;
  PngOutput output{&bytes, {}};
  if (!Encode(&output, width, height, rgb)) bytes.clear();
  return bytes;
}
