// The current context's back buffer read into memory, as both backends keep a frame before
// each swap.
#pragma once

#include <vector>

// [shared] Reads width by height pixels of the back buffer, bottom row first, RGB, leaving the
// context's read buffer and pack alignment as they were.
void ReadBackBuffer(int width, int height, std::vector<unsigned char>* rows);
