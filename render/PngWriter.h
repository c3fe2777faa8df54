// Writing pictures as PNG files (8-bit RGB), for screenshots of a scene's frame.
#pragma once

#include <cstdint>
#include <string>

// The PNG file of an RGB image whose rows run top to bottom, three bytes a pixel with no
// padding. The same pixels always give the same bytes (no time or text chunks). Empty when
// libpng refuses (a size of 0, no memory).
std::string EncodePng(uint32_t width, uint32_t height, const uint8_t* rgb);
