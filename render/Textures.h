// Image files to OpenGL textures. The loaders read a file, turn it into pixels with the readers
// of ImageReaders, and upload them; a file they refuse is explained in a message box and gives
// no texture. They need the screen's rendering context to be current.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TImage;

// Runs the loader that the ending of `fileName` names (".bmp", ".jpg", ".tga", ".png", compared
// exactly; callers lower-case the name), which writes the new texture's name into `textureId` on
// success, and into `hasAlpha` whether its pictures are blended (PNG files with alpha only). Any
// other ending does nothing. `fileName` was lower-cased from `openName`, the name the file really
// has: the loader is chosen by, and its messages show, `fileName`; the file opened is `openName`.
void LoadTextureFile(const std::string& fileName, const std::string& openName, uint32_t& textureId,
                     bool& hasAlpha);
// The endings LoadTextureFile takes, lower case, for telling the user about a name it ignores.
const std::vector<std::string>& TextureFileEndings();

// Each loader returns true when it created a texture; the names are as above.
bool ReadBmpTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId);
bool ReadJpegTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId);
bool ReadTgaTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId);
bool ReadPngTexture(const std::string& fileName, const std::string& openName, uint32_t& textureId,
                    bool& hasAlpha);

// Creates a texture object from `pixels` (8-bit channels, bottom row first, laid out as the
// OpenGL `format` GL_RGB or GL_RGBA says), builds its mipmaps, leaves it bound and returns its
// name. Each row of the buffer starts on a multiple of `rowAlignment` bytes (1, 2, 4 or 8); the
// pixel-store state is put back to its default of 4.
uint32_t UploadTexture(uint16_t width, uint16_t height, uint32_t format, const void* pixels,
                       int rowAlignment = 4);
// Uploads what a reader produced. An image with alpha must be premultiplied (PremultiplyAlpha):
// its texture then clamps at its edges, so that filtering never brings the opposite edge into a
// cut-out's border.
uint32_t UploadImage(const TImage& image);
