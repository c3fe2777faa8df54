#include "render/Textures.h"

#include <GL/gl.h>
#include <GL/glu.h>

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

// Reads the whole file. False only when it cannot be opened; a read that fails half-way keeps
// what arrived, which the readers then find cut short.
bool ReadWholeFile(const std::string& path, TByteBuffer& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const int64_t expected = GetFileSize64(file);
  if (expected > 0) bytes.reserve(size_t(expected));
  constexpr DWORD Chunk = 1 << 20;
  for (;;) {
    const size_t used = bytes.size();
    bytes.resize(used + Chunk);
    DWORD read = 0;
    const BOOL ok = ReadFile(file, &bytes[used], Chunk, &read, nullptr);
    bytes.resize(used + read);
    if (!ok || read == 0) break;
  }
  CloseHandle(file);
  return true;
}

using TReader = bool (*)(const uint8_t*, size_t, const std::string&, TImage&, TImageError&);

bool DecodeAndUpload(TReader reader, const TByteBuffer& bytes, const std::string& fileName,
                     uint32_t& textureId, bool& hasAlpha) {
  TImage image;
  TImageError error;
  if (!reader(bytes.data(), bytes.size(), fileName, image, error)) {
    Show(error);
    return false;
  }
  // Premultiplied colours blend as the file's straight ones composite, and filtering or GLU's
  // rescaling no longer darkens the border where transparent texels meet opaque ones.
  PremultiplyAlpha(image);
  textureId = UploadImage(image);
  hasAlpha = image.HasAlpha;
  return true;
}

bool DecodeAndUpload(TReader reader, const TByteBuffer& bytes, const std::string& fileName,
                     uint32_t& textureId) {
  bool hasAlpha = false;
  return DecodeAndUpload(reader, bytes, fileName, textureId, hasAlpha);
}

}  // namespace

// Every ending LoadTextureFile tests for below.
const std::vector<std::string>& TextureFileEndings() {
  static const std::vector<std::string> endings = {".bmp", ".jpg", ".tga", ".png"};
  return endings;
}

void LoadTextureFile(const std::string& fileName, const std::string& openName, uint32_t& textureId,
                     bool& hasAlpha) {
  if (fileName.size() < 4) return;
  const std::string ending = fileName.substr(fileName.size() - 4);
  if (ending == ".bmp") ReadBmpTexture(fileName, openName, textureId);
  if (ending == ".jpg") ReadJpegTexture(fileName, openName, textureId);
  if (ending == ".tga") ReadTgaTexture(fileName, openName, textureId);
  if (ending == ".png") ReadPngTexture(fileName, openName, textureId, hasAlpha);
}

bool ReadBmpTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId) {
  TByteBuffer bytes;
  if (!ReadWholeFile(openName, bytes)) {
    Show("Error opening " + fileName, BmpCaption);
    return false;
  }
  TImage image;
  TImageError error;
  if (!ReadBmpImageInPlace(std::move(bytes), fileName, image, error)) {
    Show(error);
    return false;
  }
  textureId = UploadImage(image);
  return true;
}

bool ReadJpegTexture(const std::string& fileName, const std::string& openName,
                     uint32_t& textureId) {
  TByteBuffer bytes;
  if (!ReadWholeFile(openName, bytes)) {
    Show("Couldn't load JPG - \"" + fileName + "\"", BmpCaption);
    return false;
  }
  return DecodeAndUpload(ReadJpegImage, bytes, fileName, textureId);
}

bool ReadTgaTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId) {
  if (!FileExists(openName)) {
    Show("File not found  - " + fileName, TgaNotFoundCaption);
    return false;
  }
  TByteBuffer bytes;
  if (!ReadWholeFile(openName, bytes)) {
    Show("Couldn't read file \"" + fileName + "\".", TgaCaption);
    return false;
  }
  return DecodeAndUpload(ReadTgaImage, bytes, fileName, textureId);
}

bool ReadPngTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId,
                    bool& hasAlpha) {
  TByteBuffer bytes;
  if (!ReadWholeFile(openName, bytes)) {
    Show("Couldn't load PNG - \"" + fileName + "\": the file cannot be opened", PngCaption);
    return false;
  }
  return DecodeAndUpload(ReadPngImage, bytes, fileName, textureId, hasAlpha);
}

uint32_t UploadTexture(uint16_t width, uint16_t height, uint32_t format, const void* pixels,
                       int rowAlignment) {
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  // Rows that are not padded to 4 bytes would make OpenGL read past the end of the buffer.
  if (rowAlignment != 4) glPixelStorei(GL_UNPACK_ALIGNMENT, rowAlignment);
  if (format == GL_RGBA)
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
  else
    gluBuild2DMipmaps(GL_TEXTURE_2D, 3, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels);
  if (rowAlignment != 4) glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  return name;
}

uint32_t UploadImage(const TImage& image) {
  const uint32_t format = image.Format == TPixelFormat::RGBA ? GL_RGBA : GL_RGB;
  const uint32_t name = UploadTexture(uint16_t(image.Width), uint16_t(image.Height), format,
                                      image.Pixels.data(), image.RowAlignment);
  if (image.HasAlpha) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, ClampToEdge);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, ClampToEdge);
  }
  return name;
}
