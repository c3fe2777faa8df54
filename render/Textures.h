// Image files to OpenGL textures. The loaders read a file, turn it into pixels with the readers
// of ImageReaders, and upload them; a file they refuse is explained in a message box and gives
// no texture. They need the screen's rendering context to be current.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TImage;

// Texture memory as a scene's budget counts it: every mipmap level of a texture at the size the
// upload gives it, at 4 bytes a texel (drivers keep RGB textures in four bytes as well).
struct TTextureMemory {
  uint64_t Budget;
  uint64_t Used = 0;
};
// The budget of a scene's textures: 1 GiB where pointers are 64-bit; 384 MiB where they are
// 32-bit, since the driver's own copies share the 32-bit program's 2 GiB of address space.
constexpr uint64_t DefaultTextureBudget =
    sizeof(void*) >= 8 ? (uint64_t(1) << 30) : (uint64_t(384) << 20);

// Runs the loader that the ending of `fileName` names (".bmp", ".jpg", ".tga", ".png", compared
// exactly; callers lower-case the name), which writes the new texture's name into `textureId` on
// success, and into `hasAlpha` whether its pictures are blended (PNG files with alpha only). Any
// other ending does nothing. `fileName` was lower-cased from `openName`, the name the file really
// has: the loader is chosen by, and its messages show, `fileName`; the file opened is `openName`.
// With `memory`, a texture that would take more than what is left of its budget is refused like
// a file the loader cannot read (a message box, no texture), with a line on standard error; one
// that fits is added to its Used.
void LoadTextureFile(const std::string& fileName, const std::string& openName, uint32_t& textureId,
                     bool& hasAlpha, TTextureMemory* memory = nullptr);
// The endings LoadTextureFile takes, lower case, for telling the user about a name it ignores.
const std::vector<std::string>& TextureFileEndings();

// Each loader returns true when it created a texture; the names are as above.
bool ReadBmpTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId,
                    TTextureMemory* memory = nullptr);
bool ReadJpegTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId,
                     TTextureMemory* memory = nullptr);
bool ReadTgaTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId,
                    TTextureMemory* memory = nullptr);
bool ReadPngTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId,
                    bool& hasAlpha, TTextureMemory* memory = nullptr);

// The most a texture file may hold; reading stops there whatever size the file system reports,
// and the file is refused.
constexpr uint64_t MaxTextureFileBytes = uint64_t(256) << 20;
// The bytes a texture of an image of this size takes by the count of TTextureMemory, as the
// upload sizes it (each side to a power of two the GL takes). Needs the rendering context.
uint64_t TextureBytes(uint32_t width, uint32_t height, bool rgba);

// Creates a texture object from `pixels` (8-bit channels, bottom row first, laid out as the
// OpenGL `format` GL_RGB or GL_RGBA says), builds its mipmaps, leaves it bound and returns its
// name. Each row of the buffer starts on a multiple of `rowAlignment` bytes (1, 2, 4 or 8); the
// pixel-store state is put back to its default of 4.
uint32_t UploadTexture(uint16_t width, uint16_t height, uint32_t format, const void* pixels,
                       int rowAlignment = 4);
// Uploads what a reader produced. An image with alpha must be premultiplied (PremultiplyAlpha):
// its texture then clamps at its edges, so that filtering never brings the opposite edge into a
// cut-out's border. The image's pixels serve as the work space of the mipmaps: afterwards they
// hold no picture any more.
uint32_t UploadImage(TImage& image);
