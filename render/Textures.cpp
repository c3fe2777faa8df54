// The texture loaders: a file's bytes through its reader to an OpenGL texture, and the budget
// of texture memory.
#include "render/Textures.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "render/ImageReaders.h"

namespace {

// OpenGL 1.2's GL_CLAMP_TO_EDGE, which Windows' gl.h (OpenGL 1.1) does not declare.
constexpr GLint ClampToEdge = 0x812F;

void Show(const std::string& text, const char* caption) {
  MessageBoxA(nullptr, text.c_str(), caption, MB_OK);
}

void Show(const TImageError& error) {
  Show(error.Text, error.Caption.c_str());
}

enum class TRead { Read, CannotOpen, TooLarge };

// Reads the whole file, up to MaxTextureFileBytes: the size the file system reports is only a
// hint (a link to a file of /proc reports an empty file and reads without end). A read that fails
// half-way keeps what arrived, which the readers then find cut short.
TRead ReadWholeFile(const std::string& path, TByteBuffer& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return TRead::CannotOpen;
  const int64_t expected = GetFileSize64(file);
  if (expected > 0)
    bytes.reserve(size_t(std::min<uint64_t>(uint64_t(expected), MaxTextureFileBytes)));
  constexpr DWORD Chunk = 1 << 20;
  TRead result = TRead::Read;
  for (;;) {
    const size_t used = bytes.size();
    if (used >= MaxTextureFileBytes) {
      // One byte more tells a file of exactly the cap from a larger one.
      uint8_t probe = 0;
      DWORD read = 0;
      if (ReadFile(file, &probe, 1, &read, nullptr) && read != 0) result = TRead::TooLarge;
      break;
    }
    const DWORD chunk = DWORD(std::min<uint64_t>(Chunk, MaxTextureFileBytes - used));
    bytes.resize(used + chunk);
    DWORD read = 0;
    const BOOL ok = ReadFile(file, &bytes[used], chunk, &read, nullptr);
    bytes.resize(used + read);
    if (!ok || read == 0) break;
  }
  CloseHandle(file);
  if (result == TRead::TooLarge) TByteBuffer().swap(bytes);
  return result;
}

// The box for a file over the cap, in the loader's caption.
void ShowTooLarge(const std::string& fileName, const char* caption) {
  Show("Couldn't load \"" + fileName + "\": an image file may be at most " +
           std::to_string(MaxTextureFileBytes >> 20) + " MiB, and this one is larger",
       caption);
}

std::string MiB(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", double(bytes) / double(1 << 20));
  return text;
}

// Counts the texture against the budget. A texture that does not fit is refused with a box in
// the loader's caption and a line on standard error.
bool Admit(const TImage& image, const std::string& fileName, const char* caption,
           TTextureMemory* memory) {
  if (memory == nullptr) return true;
  const uint64_t bytes =
      TextureBytes(image.Width, image.Height, image.Format == TPixelFormat::RGBA);
  if (bytes <= memory->Budget && memory->Used <= memory->Budget - bytes) {
    memory->Used += bytes;
    return true;
  }
  WriteErrorLine("createTexture: " + fileName + ": refused: the texture memory budget of " +
                 MiB(memory->Budget) + " would be exceeded (" + MiB(memory->Used) +
                 " in use, this texture needs " + MiB(bytes) + ")");
  Show("Couldn't load \"" + fileName + "\": its texture needs " + MiB(bytes) + ", and only " +
           MiB(memory->Budget - std::min(memory->Used, memory->Budget)) + " of the " +
           MiB(memory->Budget) + " the scene's textures may take are left",
       caption);
  return false;
}

using TReader = bool (*)(const uint8_t*, size_t, const std::string&, TImage&, TImageError&);

bool DecodeAndUpload(TReader reader, TByteBuffer& bytes, const std::string& fileName,
                     const char* caption, uint32_t& textureId, bool& hasAlpha,
                     TTextureMemory* memory) {
  TImage image;
  TImageError error;
  const bool read = reader(bytes.data(), bytes.size(), fileName, image, error);
  TByteBuffer().swap(bytes);  // the file is of no use any more, whatever came of it
  if (!read) {
    Show(error);
    return false;
  }
  if (!Admit(image, fileName, caption, memory)) return false;
  // Premultiplied colours blend as the file's straight ones composite, and filtering or GLU's
  // rescaling no longer darkens the border where transparent texels meet opaque ones.
  PremultiplyAlpha(image);
  textureId = UploadImage(image);
  hasAlpha = image.HasAlpha;
  return true;
}

bool DecodeAndUpload(TReader reader, TByteBuffer& bytes, const std::string& fileName,
                     const char* caption, uint32_t& textureId, TTextureMemory* memory) {
  bool hasAlpha = false;
  return DecodeAndUpload(reader, bytes, fileName, caption, textureId, hasAlpha, memory);
}

// GLU's rule for the size of the base level: each side to its nearest power of two (from one
// and a half times a power of two it goes up), and both halved until the GL says that level 1
// of that size, with the levels below it, would fit.
int NearestPower(uint32_t value) {
  uint32_t power = 1;
  while (power <= value / 2) power *= 2;
  if (power >= 2 && (value & (power >> 1)) != 0) power *= 2;
  return int(power);
}

void UploadSize(uint32_t width, uint32_t height, bool rgba, int& outWidth, int& outHeight) {
  int w = NearestPower(width);
  int h = NearestPower(height);
  const GLint internalFormat = rgba ? GL_RGBA : 3;
  const GLenum format = rgba ? GL_RGBA : GL_RGB;
  for (;;) {
    const int levelOneWidth = w > 1 ? w / 2 : w;
    const int levelOneHeight = h > 1 ? h / 2 : h;
    glTexImage2D(GL_PROXY_TEXTURE_2D, 1, internalFormat, levelOneWidth, levelOneHeight, 0, format,
                 GL_UNSIGNED_BYTE, nullptr);
    GLint proxyWidth = 0;
    glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &proxyWidth);
    if (proxyWidth != 0) break;
    if (w == 1 && h == 1) {
      // Nothing fits by the proxy's word: the largest size the GL names instead.
      GLint largest = 0;
      glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
      w = std::min(NearestPower(width), std::max(largest, 1));
      h = std::min(NearestPower(height), std::max(largest, 1));
      break;
    }
    w = levelOneWidth;
    h = levelOneHeight;
  }
  outWidth = w;
  outHeight = h;
}

// Rows of mipmap levels start on 4 bytes, as the GL takes them by default: drivers are not all
// exact about other alignments.
size_t LevelStride(int width, int components) {
  return (size_t(width) * size_t(components) + 3) / 4 * 4;
}

// One mipmap level from the one above it, as GLU makes it: the rounded mean of each two by two
// block, or of each pair where one side is already 1. It works in place: the level is written
// from the start of the buffer in rows of LevelStride, and every byte is read before the level
// overwrites it (each row written lies before the two it is made from).
void HalveInPlace(uint8_t* pixels, int width, int height, size_t stride, int components,
                  int& newWidth, int& newHeight) {
  const size_t c = size_t(components);
  newWidth = width > 1 ? width / 2 : 1;
  newHeight = height > 1 ? height / 2 : 1;
  const size_t outStride = LevelStride(newWidth, components);
  if (width > 1 && height > 1) {
    for (int row = 0; row < newHeight; ++row) {
      uint8_t* out = pixels + size_t(row) * outStride;
      const uint8_t* low = pixels + size_t(2 * row) * stride;
      const uint8_t* high = low + stride;
      for (int column = 0; column < newWidth; ++column, low += 2 * c, high += 2 * c)
        for (size_t k = 0; k < c; ++k)
          *out++ = uint8_t((low[k] + low[c + k] + high[k] + high[c + k] + 2) / 4);
    }
  } else if (height == 1) {
    uint8_t* out = pixels;
    const uint8_t* in = pixels;
    for (int column = 0; column < newWidth; ++column, in += 2 * c)
      for (size_t k = 0; k < c; ++k) *out++ = uint8_t((in[k] + in[c + k]) / 2);
  } else {
    for (int row = 0; row < newHeight; ++row) {
      uint8_t* out = pixels + size_t(row) * outStride;
      const uint8_t* low = pixels + size_t(2 * row) * stride;
      for (size_t k = 0; k < c; ++k) out[k] = uint8_t((low[k] + low[stride + k]) / 2);
    }
  }
}

}  // namespace

uint64_t TextureBytes(uint32_t width, uint32_t height, bool rgba) {
  int w = 0, h = 0;
  UploadSize(width, height, rgba, w, h);
  uint64_t bytes = 0;
  for (;;) {
    bytes += uint64_t(w) * uint64_t(h) * 4;
    if (w == 1 && h == 1) break;
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
  }
  return bytes;
}

// Every ending LoadTextureFile tests for below.
const std::vector<std::string>& TextureFileEndings() {
  static const std::vector<std::string> endings = {".bmp", ".jpg", ".tga", ".png"};
  return endings;
}

void LoadTextureFile(const std::string& fileName, const std::string& openName, uint32_t& textureId,
                     bool& hasAlpha, TTextureMemory* memory) {
  if (fileName.size() < 4) return;
  const std::string ending = fileName.substr(fileName.size() - 4);
  if (ending == ".bmp") ReadBmpTexture(fileName, openName, textureId, memory);
  if (ending == ".jpg") ReadJpegTexture(fileName, openName, textureId, memory);
  if (ending == ".tga") ReadTgaTexture(fileName, openName, textureId, memory);
  if (ending == ".png") ReadPngTexture(fileName, openName, textureId, hasAlpha, memory);
}

bool ReadBmpTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId,
                    TTextureMemory* memory) {
  TByteBuffer bytes;
  const TRead read = ReadWholeFile(openName, bytes);
  if (read == TRead::CannotOpen) {
    Show("Error opening " + fileName, BmpCaption);
    return false;
  }
  if (read == TRead::TooLarge) {
    ShowTooLarge(fileName, BmpCaption);
    return false;
  }
  TImage image;
  TImageError error;
  if (!ReadBmpImageInPlace(std::move(bytes), fileName, image, error)) {
    Show(error);
    return false;
  }
  if (!Admit(image, fileName, BmpCaption, memory)) return false;
  textureId = UploadImage(image);
  return true;
}

bool ReadJpegTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId,
                     TTextureMemory* memory) {
  TByteBuffer bytes;
  const TRead read = ReadWholeFile(openName, bytes);
  if (read == TRead::CannotOpen) {
    Show("Couldn't load JPG - \"" + fileName + "\"", BmpCaption);
    return false;
  }
  if (read == TRead::TooLarge) {
    ShowTooLarge(fileName, BmpCaption);
    return false;
  }
  return DecodeAndUpload(ReadJpegImage, bytes, fileName, BmpCaption, textureId, memory);
}

bool ReadTgaTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId,
                    TTextureMemory* memory) {
  if (!FileExists(openName)) {
    Show("File not found  - " + fileName, TgaNotFoundCaption);
    return false;
  }
  TByteBuffer bytes;
  const TRead read = ReadWholeFile(openName, bytes);
  if (read == TRead::CannotOpen) {
    Show("Couldn't read file \"" + fileName + "\".", TgaCaption);
    return false;
  }
  if (read == TRead::TooLarge) {
    ShowTooLarge(fileName, TgaCaption);
    return false;
  }
  return DecodeAndUpload(ReadTgaImage, bytes, fileName, TgaCaption, textureId, memory);
}

bool ReadPngTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId,
                    bool& hasAlpha, TTextureMemory* memory) {
  TByteBuffer bytes;
  const TRead read = ReadWholeFile(openName, bytes);
  if (read == TRead::CannotOpen) {
    Show("Couldn't load PNG - \"" + fileName + "\": the file cannot be opened", PngCaption);
    return false;
  }
  if (read == TRead::TooLarge) {
    ShowTooLarge(fileName, PngCaption);
    return false;
  }
  return DecodeAndUpload(ReadPngImage, bytes, fileName, PngCaption, textureId, hasAlpha, memory);
}

uint32_t UploadTexture(uint16_t width, uint16_t height, uint32_t format, const void* pixels,
                       int rowAlignment) {
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  // Told of mipmaps while they are built, a driver keeps room for them all from the base level
  // on, rather than moving the whole texture when they come (see UploadImage).
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
  // Rows that are not padded to 4 bytes would make OpenGL read past the end of the buffer.
  if (rowAlignment != 4) glPixelStorei(GL_UNPACK_ALIGNMENT, rowAlignment);
  if (format == GL_RGBA)
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
  else
    gluBuild2DMipmaps(GL_TEXTURE_2D, 3, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels);
  if (rowAlignment != 4) glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  return name;
}

uint32_t UploadImage(TImage& image) {
  const bool rgba = image.Format == TPixelFormat::RGBA;
  int width = 0, height = 0;
  UploadSize(image.Width, image.Height, rgba, width, height);
  uint32_t name = 0;
  if (uint32_t(width) != image.Width || uint32_t(height) != image.Height) {
    // A size the GL takes only scaled: GLU scales it and builds the mipmaps.
    name = UploadTexture(uint16_t(image.Width), uint16_t(image.Height), rgba ? GL_RGBA : GL_RGB,
                         image.Pixels.data(), image.RowAlignment);
  } else {
    // The image is the base level as it is. The levels below it are made as GLU makes them, but
    // in the image's own buffer, one after the other: GLU would take two more buffers, and a
    // large texture's load would need several times the memory of the texture itself.
    const GLint internalFormat = rgba ? GL_RGBA : 3;
    const GLenum format = rgba ? GL_RGBA : GL_RGB;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // A driver that is told of mipmaps by the filter keeps room for all levels from the base
    // level on; told of no mipmaps, it may make room for the base alone and then move the whole
    // texture once the other levels come, holding it twice meanwhile. The filter the texture
    // keeps is set once they are there.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, image.RowAlignment);
    uint8_t* pixels = image.Pixels.data();
    size_t stride = image.RowStride();
    glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, width, height, 0, format, GL_UNSIGNED_BYTE,
                 pixels);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    const int components = rgba ? 4 : 3;
    for (int level = 1; width > 1 || height > 1; ++level) {
      HalveInPlace(pixels, width, height, stride, components, width, height);
      stride = LevelStride(width, components);
      glTexImage2D(GL_TEXTURE_2D, level, internalFormat, width, height, 0, format, GL_UNSIGNED_BYTE,
                   pixels);
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    TByteBuffer().swap(image.Pixels);
  }
  if (image.HasAlpha) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, ClampToEdge);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, ClampToEdge);
  }
  return name;
}
