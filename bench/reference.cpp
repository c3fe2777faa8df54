// The bare reference: only what the frame's cost model requires, with no host around it. A
// window and a rendering context in the screen's state (a 32-bit depth buffer cleared every
// frame, back faces culled, no blending, RGB textures, projection and viewport set every frame),
// the scene as plain Lua tables, and per node four table reads, one texture bind and one
// immediate-mode quad. Run with the heap never handed back to the kernel, its figures are the
// limit the program is measured against; run as it is, they show what a bare program pays. With
// `png` the textures are the RGBA PNG files, premultiplied and clamped, and blending is on for
// the whole frame. With `filled` no texture is bound: each quad is one of `textures` colours,
// premultiplied at alpha 0.5, blended. With `text` each node is a label of 50 glyphs of the
// bundled sans: FreeType's bitmaps packed once into one intensity texture, drawn as one
// nearest-sampled, blended quad a glyph at the pen positions of FreeType's advances. With
// `scale=S` the window is 800*S by 600*S pixels and the viewport covers it: the same frame drawn
// larger.
//
// Usage: reference <frames|first|memory> <count> <textures> <frames> [png|filled|text] [scale=S]
//        reference texture <file.bmp|file.jpg|file.png> <loads>
#include <GL/gl.h>
#include <GL/glu.h>

#include <cstddef>
#include <cstdio>
// After the two headers above: the decoder's header needs size_t and FILE declared first.
#include <ft2build.h>
#include <jpeglib.h>
#include <png.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <lua.hpp>
#include <string>
#include <vector>

#include "BenchScene.h"
#include "platform/Platform.h"

namespace {

struct Node {
  int ref;
  int parent;  // index into the node list, -1 for a child of the root
  int texture;
  float x, y;  // screen position of this frame
};

std::vector<Node> g_nodes;

// make(parent, left, top, texture): a plain table with the four attributes.
int Make(lua_State* L) {
  int parent = -1;
  if (!lua_isnil(L, 1)) {
    lua_getfield(L, 1, "__index_in_list");
    parent = static_cast<int>(lua_tointeger(L, -1));
    lua_pop(L, 1);
  }
  lua_createtable(L, 0, 5);
  lua_pushvalue(L, 2);
  lua_setfield(L, -2, "left");
  lua_pushvalue(L, 3);
  lua_setfield(L, -2, "top");
  lua_pushnumber(L, 32);
  lua_setfield(L, -2, "width");
  lua_pushnumber(L, 32);
  lua_setfield(L, -2, "height");
  lua_pushinteger(L, static_cast<lua_Integer>(g_nodes.size()));
  lua_setfield(L, -2, "__index_in_list");
  lua_pushvalue(L, -1);
  int ref = luaL_ref(L, LUA_REGISTRYINDEX);
  g_nodes.push_back(Node{ref, parent, static_cast<int>(lua_tointeger(L, 4)), 0, 0});
  return 1;
}

// A bound texture object with the program's settings.
GLuint NewTexture() {
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  return name;
}

GLuint LoadBmp64(const std::string& path) {
  std::vector<unsigned char> data(54 + 64 * 64 * 3);
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr || std::fread(data.data(), 1, data.size(), f) != data.size()) std::exit(2);
  std::fclose(f);
  unsigned char* pixels = data.data() + 54;
  for (int i = 0; i < 64 * 64; ++i) std::swap(pixels[3 * i], pixels[3 * i + 2]);
  GLuint name = NewTexture();
  gluBuild2DMipmaps(GL_TEXTURE_2D, 3, 64, 64, GL_RGB, GL_UNSIGNED_BYTE, pixels);
  return name;
}

// A PNG read with libpng straight from the file into RGBA rows, bottom row first, premultiplied,
// and uploaded with its mipmaps, clamped: what the program does with a PNG that has alpha.
GLuint LoadPng(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) std::exit(2);
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) std::exit(2);
  png_init_io(png, f);
  png_read_info(png, info);
  png_set_scale_16(png);
  png_set_expand(png);
  png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  if (png_get_channels(png, info) != 4) std::exit(2);
  const size_t stride = size_t(width) * 4;
  std::vector<unsigned char> pixels(stride * height);
  std::vector<png_bytep> rows(height);
  for (png_uint_32 row = 0; row < height; ++row) rows[row] = &pixels[stride * (height - 1 - row)];
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  for (size_t i = 0; i < pixels.size(); i += 4) {
    const unsigned alpha = pixels[i + 3];
    if (alpha == 255) continue;
    for (int c = 0; c < 3; ++c)
      pixels[i + c] = static_cast<unsigned char>((pixels[i + c] * alpha + 127) / 255);
  }
  GLuint name = NewTexture();
  gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA, static_cast<GLsizei>(width),
                    static_cast<GLsizei>(height), GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  return name;
}

// A texture load with nothing around it: the file's bytes, the decoder straight into the bytes
// the upload takes, and the upload with its mipmaps.
GLuint LoadLarge(const std::string& path) {
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".png") == 0) return LoadPng(path);
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) std::exit(2);
  std::fseek(f, 0, SEEK_END);
  std::vector<unsigned char> file(static_cast<size_t>(std::ftell(f)));
  std::fseek(f, 0, SEEK_SET);
  if (std::fread(file.data(), 1, file.size(), f) != file.size()) std::exit(2);
  std::fclose(f);
  GLuint name = NewTexture();
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".bmp") == 0) {
    int width = *reinterpret_cast<int32_t*>(&file[18]);
    int height = *reinterpret_cast<int32_t*>(&file[22]);
    unsigned char* pixels = file.data() + 54;
    for (int i = 0; i < width * height; ++i) std::swap(pixels[3 * i], pixels[3 * i + 2]);
    gluBuild2DMipmaps(GL_TEXTURE_2D, 3, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    return name;
  }
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), file.size());
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_EXT_RGBA;
  jpeg_start_decompress(&info);
  size_t stride = static_cast<size_t>(info.output_width) * 4;
  std::vector<unsigned char> pixels(stride * info.output_height);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &pixels[stride * (info.output_height - 1 - info.output_scanline)];
    jpeg_read_scanlines(&info, &row, 1);
  }
  gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA, static_cast<GLsizei>(info.output_width),
                    static_cast<GLsizei>(info.output_height), GL_RGBA, GL_UNSIGNED_BYTE,
                    pixels.data());
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return name;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[(values.size() - 1) / 2];
}

float ReadField(lua_State* L, const char* key) {
  lua_pushstring(L, key);
  lua_gettable(L, -2);
  float value = lua_isnumber(L, -1) ? static_cast<float>(lua_tonumber(L, -1)) : 0.0f;
  lua_pop(L, 1);
  return value;
}

bool g_filled = false;
float g_scale = 1;
bool g_text = false;

// The text mode's glyphs: where each lies in the one texture and how it sits on the pen.
struct Glyph {
  int x, y, width, height, left, top;
  float advance;
};
std::vector<Glyph> g_glyphs(128);
GLuint g_glyphTexture = 0;
float g_ascent = 0;

void RasteriseLabels() {
  FT_Library library;
  FT_Face face;
  if (FT_Init_FreeType(&library) != 0 ||
      FT_New_Face(library, (BundledFontFolder() + "/DejaVuSans.ttf").c_str(), 0, &face) != 0)
    std::exit(3);
  FT_Set_Pixel_Sizes(face, 0, FT_UInt(bench::LabelSize));
  g_ascent = float(face->size->metrics.ascender) / 64;
  const int side = 256;
  std::vector<unsigned char> pixels(side * side, 0);
  int x = 0, y = 0, shelf = 0;
  for (int c = 33; c < 127; ++c) {
    if (FT_Load_Char(face, FT_ULong(c), FT_LOAD_RENDER) != 0) continue;
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    if (x + int(bitmap.width) + 1 > side) {
      x = 0;
      y += shelf;
      shelf = 0;
    }
    for (unsigned row = 0; row < bitmap.rows; ++row)
      std::memcpy(&pixels[size_t(y + int(row)) * side + size_t(x)],
                  bitmap.buffer + row * size_t(bitmap.pitch), bitmap.width);
    g_glyphs[size_t(c)] = Glyph{x,
                                y,
                                int(bitmap.width),
                                int(bitmap.rows),
                                face->glyph->bitmap_left,
                                face->glyph->bitmap_top,
                                float(face->glyph->advance.x) / 64};
    x += int(bitmap.width) + 1;
    shelf = std::max(shelf, int(bitmap.rows) + 1);
  }
  glGenTextures(1, &g_glyphTexture);
  glBindTexture(GL_TEXTURE_2D, g_glyphTexture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_INTENSITY8, side, side, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE,
               pixels.data());
  FT_Done_Face(face);
  FT_Done_FreeType(library);
}

void DrawLabel(const Node& node, int k) {
  const std::string text = bench::LabelText(k);
  glBindTexture(GL_TEXTURE_2D, g_glyphTexture);
  glColor4f(1, 1, 1, 1);
  const float texel = 1.0f / 256;
  float pen = node.x;
  const float baseline = std::round(node.y + g_ascent);
  glBegin(GL_QUADS);
  for (char c : text) {
    const Glyph& g = g_glyphs[size_t(c)];
    const float x0 = std::round(pen) + float(g.left), x1 = x0 + float(g.width);
    const float y0 = 600 - (baseline - float(g.top)), y1 = y0 - float(g.height);
    glTexCoord2f(float(g.x) * texel, float(g.y) * texel);
    glVertex3f(x0, y0, 0);
    glTexCoord2f(float(g.x) * texel, float(g.y + g.height) * texel);
    glVertex3f(x0, y1, 0);
    glTexCoord2f(float(g.x + g.width) * texel, float(g.y + g.height) * texel);
    glVertex3f(x1, y1, 0);
    glTexCoord2f(float(g.x + g.width) * texel, float(g.y) * texel);
    glVertex3f(x1, y0, 0);
    pen += g.advance;
  }
  glEnd();
}

void DrawFrame(lua_State* L, HDC dc, const std::vector<GLuint>& textures) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glViewport(0, 0, GLsizei(800 * g_scale), GLsizei(600 * g_scale));
  glOrtho(0, 800, 0, 600, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  for (Node& node : g_nodes) {
    lua_rawgeti(L, LUA_REGISTRYINDEX, node.ref);
    float left = ReadField(L, "left");
    float top = ReadField(L, "top");
    float width = ReadField(L, "width");
    float height = ReadField(L, "height");
    lua_pop(L, 1);
    node.x = left + (node.parent >= 0 ? g_nodes[node.parent].x : 0.0f);
    node.y = top + (node.parent >= 0 ? g_nodes[node.parent].y : 0.0f);
    float x0 = node.x, x1 = node.x + width, y0 = 600 - node.y, y1 = 600 - node.y - height;
    if (g_text) {
      DrawLabel(node, int(&node - g_nodes.data()));
      continue;
    }
    if (g_filled) {
      const float k = static_cast<float>(node.texture);
      glColor4f((0.2f + 0.1f * k) * 0.5f, (0.9f - 0.1f * k) * 0.5f, 0.25f, 0.5f);
    } else {
      glBindTexture(GL_TEXTURE_2D, textures[node.texture]);
    }
    glBegin(GL_QUADS);
    glTexCoord2f(0, 1);
    glVertex3f(x0, y0, 0);
    glTexCoord2f(0, 0);
    glVertex3f(x0, y1, 0);
    glTexCoord2f(1, 0);
    glVertex3f(x1, y1, 0);
    glTexCoord2f(1, 1);
    glVertex3f(x1, y0, 0);
    glEnd();
  }
  SwapBuffers(dc);
  glFinish();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (argc < 5 && std::string(argv[1]) != "texture")) {
    std::fprintf(stderr,
                 "usage: reference <frames|first|memory> <count> <textures> <frames> "
                 "[png|filled|text] [scale=S]\n"
                 "       reference texture <file> <loads>\n");
    return 2;
  }
  std::string mode = argv[1];
  bool textureMode = mode == "texture";
  int count = textureMode ? 0 : std::atoi(argv[2]);
  int textureCount = textureMode ? 0 : std::atoi(argv[3]);
  int frames = textureMode ? std::atoi(argv[3]) : std::atoi(argv[4]);
  bool png = false;
  for (int i = 5; !textureMode && i < argc; ++i) {
    const std::string option = argv[i];
    png = png || option == "png";
    g_filled = g_filled || option == "filled";
    g_text = g_text || option == "text";
    if (option.compare(0, 6, "scale=") == 0) g_scale = float(std::atof(option.c_str() + 6));
  }
  if (!(g_scale >= 0.5f && g_scale <= 4)) g_scale = 1;

  if (!Application->Initialize()) return 1;
  TForm* form = new TForm();
  form->ClientWidth = int(800 * g_scale);
  form->ClientHeight = int(600 * g_scale);
  HDC dc = GetDC(form->Handle());
  PIXELFORMATDESCRIPTOR pfd{};
  pfd.nSize = sizeof pfd;
  pfd.nVersion = 1;
  pfd.dwFlags = PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW | PFD_DOUBLEBUFFER;
  pfd.cColorBits = 32;
  pfd.cDepthBits = 32;
  SetPixelFormat(dc, ChoosePixelFormat(dc, &pfd), &pfd);
  HMODULE gl = LoadLibraryA(GLLibraryName);
  auto createContext = reinterpret_cast<HGLRC (*)(HDC)>(GetProcAddress(gl, "wglCreateContext"));
  auto makeCurrent = reinterpret_cast<BOOL (*)(HDC, HGLRC)>(GetProcAddress(gl, "wglMakeCurrent"));
  makeCurrent(dc, createContext(dc));
  form->Show();

  glEnable(GL_CULL_FACE);
  glDisable(GL_DEPTH_TEST);
  glClearColor(0, 0, 0, 0);
  glEnable(GL_TEXTURE_2D);

  if (textureMode) {
    std::vector<double> times;
    for (int i = 0; i < frames; ++i) {
      auto start = std::chrono::steady_clock::now();
      LoadLarge(argv[2]);
      glFinish();
      times.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
    }
    std::printf("%.3f\n", Median(times));
    return 0;
  }

  std::vector<GLuint> textures;
  if (g_text) RasteriseLabels();
  const bool pictures = !g_filled && !g_text;
  if (pictures) bench::WriteTextures(textureCount, png);
  for (int k = 1; k <= textureCount && pictures; ++k)
    textures.push_back(png ? LoadPng(bench::TexturePath(k, true))
                           : LoadBmp64(bench::TexturePath(k)));
  if (png || g_filled || g_text) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
  }

  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  if (luaL_dofile(L, bench::SceneLibraryPath().c_str()) != 0) return 3;
  lua_getglobal(L, "scene_build");
  lua_pushinteger(L, count);
  lua_pushinteger(L, textureCount);
  lua_pushcfunction(L, Make);
  if (lua_pcall(L, 3, 0, 0) != 0) {
    std::fprintf(stderr, "%s\n", lua_tostring(L, -1));
    return 3;
  }

  if (mode == "first") {
    Application->ProcessMessages();
    DrawFrame(L, dc, textures);
    return 0;
  }
  // CPU is counted from the first frame that starts a second after the first one (at most
  // half-way through the run): the heap and the driver's caches settle in that time.
  std::vector<double> times;
  const auto loopStart = std::chrono::steady_clock::now();
  bench::CpuUse settled{};
  int settledFrame = -1;
  for (int i = 0; i < frames; ++i) {
    Application->ProcessMessages();
    auto start = std::chrono::steady_clock::now();
    if (settledFrame < 0 && (start - loopStart >= std::chrono::seconds(1) || i >= frames / 2)) {
      settledFrame = i;
      settled = bench::ProcessCpu();
    }
    DrawFrame(L, dc, textures);
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  if (mode == "frames") {
    const bench::CpuUse end = bench::ProcessCpu();
    const double counted = frames - settledFrame;
    // Median wall time per frame; then user and system CPU and minor faults per settled frame.
    std::printf("%.3f %.3f %.3f %.1f\n", Median(times), (end.UserMs - settled.UserMs) / counted,
                (end.SystemMs - settled.SystemMs) / counted,
                double(end.MinorFaults - settled.MinorFaults) / counted);
  }
  return 0;
}
