// The BMP, TGA, JPEG and PNG readers, from file bytes to pixels ready for the upload.
#include "render/ImageReaders.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

extern "C" {
#include <jpeglib.h>
}
#include <png.h>

const char* const BmpCaption = "BMP Unit";
const char* const TgaCaption = "TGA File Error";
const char* const TgaNotFoundCaption = "TGA Texture";
const char* const PngCaption = "PNG File Error";

size_t TImage::RowStride() const {
  const size_t bytes = size_t(Width) * BytesPerPixel();
  const size_t align = size_t(RowAlignment);
  return (bytes + align - 1) / align * align;
}

namespace {

// The upload takes each side as a 16-bit number.
constexpr uint32_t MaxSide = 65535;

uint16_t ReadU16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}

uint32_t ReadU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

int32_t ReadI32(const uint8_t* p) {
  return int32_t(ReadU32(p));
}

bool Fail(TImageError& error, std::string text, const char* caption) {
  error.Text = std::move(text);
  error.Caption = caption;
  return false;
}

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

// Copies `height` rows of `rowBytes` bytes from `source` (rows `sourceStride` apart, in file
// order) into the image, reversing their order when the file stores the top row first.
void CopyRows(const uint8_t* source, size_t sourceStride, size_t rowBytes, TImage& image,
              bool topRowFirst) {
  const size_t stride = image.RowStride();
  image.Pixels.resize(stride * image.Height);
  for (uint32_t row = 0; row < image.Height; ++row) {
    const uint32_t target = topRowFirst ? image.Height - 1 - row : row;
    uint8_t* to = &image.Pixels[target * stride];
    std::memcpy(to, source + row * sourceStride, rowBytes);
    std::memset(to + rowBytes, 0, stride - rowBytes);  // the padding is the only byte not copied
  }
}

// Files keep blue before red; the exchange runs row by row so that the padding at the end of
// each row never shifts the pixels of the next.
void SwapRedBlue(TImage& image) {
  const size_t stride = image.RowStride();
  for (uint32_t row = 0; row < image.Height; ++row) {
    uint8_t* pixel = &image.Pixels[row * stride];
    for (uint32_t column = 0; column < image.Width; ++column, pixel += 3) {
      const uint8_t blue = pixel[0];
      pixel[0] = pixel[2];
      pixel[2] = blue;
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// BMP

namespace {

// Checks a bitmap's headers and sizes the image; `dataStart` is where its rows begin and
// `topDown` tells that they are stored top row first.
bool ReadBmpLayout(const uint8_t* data, size_t size, TImage& image, TImageError& error,
                   uint64_t& dataStart, bool& topDown) {
  constexpr size_t FileHeaderSize = 14;
  constexpr size_t InfoHeaderSize = 40;
  if (size < FileHeaderSize + InfoHeaderSize)
    return Fail(error, "Error reading bitmap header", BmpCaption);

  const uint32_t offBits = ReadU32(data + 10);
  const uint8_t* info = data + FileHeaderSize;
  const uint32_t infoSize = ReadU32(info + 0);
  const int32_t width = ReadI32(info + 4);
  const int32_t height = ReadI32(info + 8);
  const uint16_t bitCount = ReadU16(info + 14);
  const uint32_t compression = ReadU32(info + 16);
  const uint32_t sizeImage = ReadU32(info + 20);
  const uint32_t colorsUsed = ReadU32(info + 32);

  // Smaller headers (the 12- and 16-byte kinds) put other fields where these were read from.
  if (infoSize < InfoHeaderSize) return Fail(error, "Unsupported bitmap header", BmpCaption);
  const uint64_t headersEnd = FileHeaderSize + uint64_t(infoSize);
  if (headersEnd > size) return Fail(error, "Error reading bitmap header", BmpCaption);
  if (bitCount != 24) return Fail(error, "Only 24 bit bitmaps supported", BmpCaption);
  if (compression != 0) return Fail(error, "Only uncompressed bitmaps supported", BmpCaption);
  const int64_t rows = height < 0 ? -int64_t(height) : int64_t(height);
  if (width <= 0 || uint32_t(width) > MaxSide || rows == 0 || rows > MaxSide)
    return Fail(error, "Unsupported bitmap size", BmpCaption);

  // A 40-byte header is followed by the colour table and then the pixels. Larger headers come
  // from writers that place the pixels at bfOffBits (often with gaps or colour profiles in
  // between), so for them that offset is trusted when it is plausible.
  if (infoSize > InfoHeaderSize && offBits >= headersEnd && offBits < size) {
    dataStart = offBits;
  } else {
    const uint64_t paletteBytes = uint64_t(colorsUsed) * 4;
    if (headersEnd + paletteBytes > size) return Fail(error, "Error reading palette", BmpCaption);
    dataStart = headersEnd + paletteBytes;
  }

  image.Width = uint32_t(width);
  image.Height = uint32_t(rows);
  image.Format = TPixelFormat::RGB;
  image.RowAlignment = 4;
  const uint64_t stride = image.RowStride();
  const uint64_t needed = stride * image.Height;
  // With no size given, the rows as the format stores them: each padded to 4 bytes.
  const uint64_t length = sizeImage != 0 ? sizeImage : needed;
  if (length > size - dataStart) return Fail(error, "Error reading bitmap data", BmpCaption);
  if (length < needed) return Fail(error, "Bitmap data smaller than the image", BmpCaption);

  topDown = height < 0;
  return true;
}

}  // namespace

bool ReadBmpImage(const uint8_t* data, size_t size, const std::string& /*name*/, TImage& image,
                  TImageError& error) {
  uint64_t dataStart = 0;
  bool topDown = false;
  if (!ReadBmpLayout(data, size, image, error, dataStart, topDown)) return false;
  const size_t stride = image.RowStride();
  CopyRows(data + dataStart, stride, stride, image, topDown);
  SwapRedBlue(image);
  return true;
}

bool ReadBmpImageInPlace(TByteBuffer&& file, const std::string& name, TImage& image,
                         TImageError& error) {
  uint64_t dataStart = 0;
  bool topDown = false;
  if (!ReadBmpLayout(file.data(), file.size(), image, error, dataStart, topDown)) return false;
  if (topDown) return ReadBmpImage(file.data(), file.size(), name, image, error);
  // Bottom-up rows padded to four bytes are already laid out as the upload takes them: slide
  // them to the front of the file's own buffer instead of copying them into a new one.
  const size_t stride = image.RowStride();
  const size_t rowBytes = size_t(image.Width) * 3;
  image.Pixels.swap(file);
  uint8_t* pixels = image.Pixels.data();
  std::memmove(pixels, pixels + dataStart, stride * image.Height);
  image.Pixels.resize(stride * image.Height);
  for (uint32_t row = 0; row < image.Height; ++row)
    std::memset(pixels + row * stride + rowBytes, 0, stride - rowBytes);
  SwapRedBlue(image);
  return true;
}

// ---------------------------------------------------------------------------------------------
// TGA

bool ReadTgaImage(const uint8_t* data, size_t size, const std::string& name, TImage& image,
                  TImageError& error) {
  constexpr size_t HeaderSize = 18;
  const std::string cannotRead = "Couldn't read file " + Quoted(name) + ".";
  const std::string cannotLoad = "Couldn't load " + Quoted(name) + ". ";
  if (size < HeaderSize) return Fail(error, cannotRead, TgaCaption);

  const uint8_t idLength = data[0];
  const uint8_t colorMapType = data[1];
  const uint8_t imageType = data[2];
  const uint16_t width = ReadU16(data + 12);
  const uint16_t height = ReadU16(data + 14);
  const uint8_t depth = data[16];
  const uint8_t descriptor = data[17];

  if (imageType != 2)
    return Fail(error, cannotLoad + "Compressed TGA files not supported.", TgaCaption);
  if (colorMapType != 0)
    return Fail(error, cannotLoad + "Colormapped TGA files not supported.", TgaCaption);
  if (depth != 24) return Fail(error, cannotLoad + "Only 24 bit TGA files supported.", TgaCaption);
  if (width == 0 || height == 0)
    return Fail(error, cannotLoad + "Empty TGA images not supported.", TgaCaption);

  // The image ID field sits between the header and the pixels.
  const uint64_t dataStart = HeaderSize + uint64_t(idLength);
  const uint64_t rowBytes = uint64_t(width) * 3;
  if (dataStart + rowBytes * height > size) return Fail(error, cannotRead, TgaCaption);

  image.Width = width;
  image.Height = height;
  image.Format = TPixelFormat::RGB;
  // The rows are stored without padding and stay that way; the upload is told so.
  image.RowAlignment = rowBytes % 4 == 0 ? 4 : 1;
  const bool topRowFirst = (descriptor & 0x20) != 0;
  CopyRows(data + dataStart, rowBytes, rowBytes, image, topRowFirst);
  if (descriptor & 0x10) {
    // Right-to-left rows.
    for (uint32_t row = 0; row < image.Height; ++row) {
      uint8_t* first = &image.Pixels[row * rowBytes];
      uint8_t* last = first + rowBytes - 3;
      for (; first < last; first += 3, last -= 3)
        for (int channel = 0; channel < 3; ++channel) std::swap(first[channel], last[channel]);
    }
  }
  SwapRedBlue(image);
  return true;
}

// ---------------------------------------------------------------------------------------------
// JPEG
//
// The decoder reports fatal errors through error_exit, which must not return. Ours jumps back to
// the setjmp of one of the small frames below. Those frames hold nothing with a destructor, so
// the jump skips no C++ clean-up; everything C++ owns lives in ReadJpegImage, outside them.

namespace {

// A hostile progressive file can hold thousands of tiny scans, each a full pass over the image.
constexpr int MaxJpegScans = 500;

struct JpegJob {
  jpeg_decompress_struct Info;
  jpeg_error_mgr Errors;
  jpeg_progress_mgr Progress;
  jmp_buf Escape;
  bool Created;
};

JpegJob* JobOf(j_common_ptr info) {
  return static_cast<JpegJob*>(info->client_data);
}

void JpegErrorExit(j_common_ptr info) {
  longjmp(JobOf(info)->Escape, 1);
}

// Warnings (a missing end marker, a corrupt byte in the entropy data) are the decoder's way of
// going on with a damaged file: they are neither printed nor fatal.
void JpegOutputMessage(j_common_ptr) {}

void JpegProgress(j_common_ptr info) {
  if (info->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > MaxJpegScans)
    longjmp(JobOf(info)->Escape, 1);
}

bool JpegReadHeader(JpegJob* job, const uint8_t* data, size_t size) {
  job->Info.err = jpeg_std_error(&job->Errors);
  job->Errors.error_exit = JpegErrorExit;
  job->Errors.output_message = JpegOutputMessage;
  job->Info.client_data = job;
  if (setjmp(job->Escape)) return false;
  jpeg_create_decompress(&job->Info);
  job->Created = true;
  job->Progress.progress_monitor = JpegProgress;
  job->Info.progress = &job->Progress;
  jpeg_mem_src(&job->Info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&job->Info, TRUE);
  // The decoder turns greyscale and YCbCr into RGB itself, straight into the order the upload
  // takes; CMYK it only hands over as it is.
  const J_COLOR_SPACE source = job->Info.jpeg_color_space;
  job->Info.out_color_space = (source == JCS_CMYK || source == JCS_YCCK) ? JCS_CMYK : JCS_EXT_RGBA;
  return true;
}

bool JpegStart(JpegJob* job) {
  if (setjmp(job->Escape)) return false;
  jpeg_start_decompress(&job->Info);
  return true;
}

bool JpegReadRows(JpegJob* job, JSAMPROW* rows) {
  if (setjmp(job->Escape)) return false;
  jpeg_decompress_struct& info = job->Info;
  while (info.output_scanline < info.output_height) {
    const JDIMENSION done = info.output_scanline;
    if (jpeg_read_scanlines(&info, rows + done, info.output_height - done) == 0) return false;
  }
  return true;
}

uint8_t Scale(unsigned a, unsigned b) {
  return uint8_t((a * b + 127) / 255);
}

// Four bytes per pixel from C, M, Y, K to R, G, B, 255. Adobe's writers store the inks inverted
// (255 is no ink) and mark such files with their own marker.
void ConvertCmyk(TImage& image, bool inverted) {
  for (size_t i = 0; i + 4 <= image.Pixels.size(); i += 4) {
    uint8_t* p = &image.Pixels[i];
    unsigned c = p[0], m = p[1], y = p[2], k = p[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    p[0] = Scale(c, k);
    p[1] = Scale(m, k);
    p[2] = Scale(y, k);
    p[3] = 255;
  }
}

}  // namespace

bool ReadJpegImage(const uint8_t* data, size_t size, const std::string& name, TImage& image,
                   TImageError& error) {
  JpegJob job;
  std::memset(&job, 0, sizeof job);
  bool ok = JpegReadHeader(&job, data, size);
  if (ok) {
    const uint64_t pixels = uint64_t(job.Info.image_width) * job.Info.image_height;
    ok = job.Info.image_width <= MaxSide && job.Info.image_height <= MaxSide && pixels != 0 &&
         pixels <= MaxDecodedPixels;
  }
  ok = ok && JpegStart(&job);
  if (ok) {
    image.Width = job.Info.output_width;
    image.Height = job.Info.output_height;
    image.Format = TPixelFormat::RGBA;
    image.RowAlignment = 4;
    ok = job.Info.output_components == 4 && image.Width != 0 && image.Height != 0;
  }
  if (ok) {
    const size_t stride = image.RowStride();
    image.Pixels.resize(stride * image.Height);  // every byte is decoded into
    // The decoder delivers the top row first; the upload wants the bottom row first.
    std::vector<JSAMPROW> rows(image.Height);
    for (uint32_t row = 0; row < image.Height; ++row)
      rows[row] = &image.Pixels[size_t(image.Height - 1 - row) * stride];
    ok = JpegReadRows(&job, rows.data());
  }
  if (ok && job.Info.out_color_space == JCS_CMYK) ConvertCmyk(image, job.Info.saw_Adobe_marker);
  if (job.Created) jpeg_destroy_decompress(&job.Info);
  if (!ok) {
    image = TImage();
    return Fail(error, "Couldn't load JPG - " + Quoted(name), BmpCaption);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// PNG
//
// As with the JPEG decoder: libpng's error function must not return, and ours jumps back to the
// setjmp of one of the small frames below, which hold nothing with a destructor.

namespace {

struct PngJob {
  png_structp Png;
  png_infop Info;
  const uint8_t* Data;
  size_t Size;
  size_t Offset;
  jmp_buf Escape;
  char Reason[200];  // why the file was refused, for the user
};

void PngError(png_structp png, png_const_charp message) {
  PngJob* job = static_cast<PngJob*>(png_get_error_ptr(png));
  std::snprintf(job->Reason, sizeof job->Reason, "%s", message);
  longjmp(job->Escape, 1);
}

// Warnings, and the errors the decoder may pass over (a damaged ancillary chunk, a palette index
// out of range, data after the image's end), never stop a load and are not shown.
void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep to, size_t length) {
  PngJob* job = static_cast<PngJob*>(png_get_io_ptr(png));
  if (length > job->Size - job->Offset) png_error(png, "the file ends too early");
  std::memcpy(to, job->Data + job->Offset, length);
  job->Offset += length;
}

// Chunks that describe how to show the colours or the image (gamma, chromaticities, colour
// profiles, background, physical size, text, time): the upload takes the samples as they are, so
// these are skipped unread, and a damaged or hostile one costs nothing.
const png_byte IgnoredChunks[] =
    "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0sBIT\0sCAL\0sPLT\0sRGB\0"
    "sTER\0tEXt\0tIME\0zTXt";

bool PngReadHeader(PngJob* job) {
  if (setjmp(job->Escape)) return false;
  job->Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job, PngError, PngWarning);
  if (job->Png == nullptr) {
    std::snprintf(job->Reason, sizeof job->Reason, "out of memory");
    return false;
  }
  job->Info = png_create_info_struct(job->Png);
  if (job->Info == nullptr) png_error(job->Png, "out of memory");
  png_set_read_fn(job->Png, job, PngRead);
  // Any size the format allows gets as far as the check of the sizes the upload takes.
  png_set_user_limits(job->Png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_set_benign_errors(job->Png, 1);
  png_set_keep_unknown_chunks(job->Png, PNG_HANDLE_CHUNK_NEVER, IgnoredChunks,
                              int(sizeof IgnoredChunks / 5));
  png_read_info(job->Png, job->Info);
  return true;
}

// 8-bit RGB, or RGBA where the file has alpha, whatever the file stores.
bool PngSetTransforms(PngJob* job) {
  if (setjmp(job->Escape)) return false;
  if (png_get_bit_depth(job->Png, job->Info) == 16) png_set_scale_16(job->Png);
  // Palette to RGB, grey of 1, 2 or 4 bits to 8, a tRNS chunk to an alpha channel.
  png_set_expand(job->Png);
  if ((png_get_color_type(job->Png, job->Info) & PNG_COLOR_MASK_COLOR) == 0)
    png_set_gray_to_rgb(job->Png);
  png_set_interlace_handling(job->Png);
  png_read_update_info(job->Png, job->Info);
  return true;
}

bool PngReadRows(PngJob* job, png_bytepp rows) {
  if (setjmp(job->Escape)) return false;
  png_read_image(job->Png, rows);
  // What follows the image (the end chunk and anything after it) is of no use: not read.
  return true;
}

}  // namespace

bool ReadPngImage(const uint8_t* data, size_t size, const std::string& name, TImage& image,
                  TImageError& error) {
  PngJob job;
  std::memset(&job, 0, sizeof job);
  job.Data = data;
  job.Size = size;
  bool ok = PngReadHeader(&job);
  uint32_t width = 0, height = 0;
  if (ok) {
    width = png_get_image_width(job.Png, job.Info);
    height = png_get_image_height(job.Png, job.Info);
    if (width > MaxSide || height > MaxSide || uint64_t(width) * height > MaxDecodedPixels) {
      std::snprintf(job.Reason, sizeof job.Reason, "an image of %u by %u pixels is too large",
                    unsigned(width), unsigned(height));
      ok = false;
    }
  }
  ok = ok && PngSetTransforms(&job);
  if (ok) {
    const png_byte channels = png_get_channels(job.Png, job.Info);
    image.Width = width;
    image.Height = height;
    image.Format = channels == 4 ? TPixelFormat::RGBA : TPixelFormat::RGB;
    image.HasAlpha = channels == 4;
    const size_t rowBytes = size_t(width) * channels;
    // The rows are decoded unpadded and stay that way; the upload is told so.
    image.RowAlignment = rowBytes % 4 == 0 ? 4 : 1;
    if ((channels != 3 && channels != 4) || png_get_rowbytes(job.Png, job.Info) != rowBytes) {
      std::snprintf(job.Reason, sizeof job.Reason, "unexpected pixel layout");
      ok = false;
    }
  }
  if (ok) {
    const size_t stride = image.RowStride();
    image.Pixels.resize(stride * height);  // every byte is decoded into
    // The decoder delivers the top row first; the upload wants the bottom row first.
    std::vector<png_bytep> rows(height);
    for (uint32_t row = 0; row < height; ++row)
      rows[row] = &image.Pixels[size_t(height - 1 - row) * stride];
    ok = PngReadRows(&job, rows.data());
  }
  if (job.Png != nullptr) png_destroy_read_struct(&job.Png, &job.Info, nullptr);
  if (!ok) {
    image = TImage();
    return Fail(error, "Couldn't load PNG - " + Quoted(name) + ": " + job.Reason, PngCaption);
  }
  return true;
}

void PremultiplyAlpha(TImage& image) {
  if (!image.HasAlpha || image.Format != TPixelFormat::RGBA) return;
  const size_t stride = image.RowStride();
  for (uint32_t row = 0; row < image.Height; ++row) {
    uint8_t* pixel = &image.Pixels[row * stride];
    for (uint32_t column = 0; column < image.Width; ++column, pixel += 4) {
      const unsigned alpha = pixel[3];
      if (alpha == 255) continue;
      pixel[0] = Scale(pixel[0], alpha);
      pixel[1] = Scale(pixel[1], alpha);
      pixel[2] = Scale(pixel[2], alpha);
    }
  }
}
