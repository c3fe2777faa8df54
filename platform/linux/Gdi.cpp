// Device contexts and pixel formats over GLX. A pixel format is a 1-based index into the
// server's framebuffer configs; a window DC draws into the form's window, a memory DC into an X
// pixmap made GL-capable with glXCreatePixmap once its format is set. Without a display the
// formats are those of the forms' off-screen buffers (Headless.cpp), and there are no memory DCs.
#include <algorithm>
#include <cstring>
#include <set>
#include <tuple>

#include "platform/Platform.h"
#include "platform/linux/X11Backend.h"

namespace xbackend {

namespace {

// Flags a request may carry that ask the match to ignore a property.
constexpr DWORD PFD_DEPTH_DONTCARE = 0x20000000;
constexpr DWORD PFD_DOUBLEBUFFER_DONTCARE = 0x40000000;
constexpr DWORD PFD_STEREO_DONTCARE = 0x80000000;

std::set<DeviceContext*>& LiveDCs() {
  static std::set<DeviceContext*> dcs;
  return dcs;
}

std::set<Bitmap*>& LiveBitmaps() {
  static std::set<Bitmap*> bitmaps;
  return bitmaps;
}

struct FormatInfo {
  PIXELFORMATDESCRIPTOR pfd;
  int caveat;  // 0 none, 1 slow or non-conformant
  int samples;
};

std::vector<GLXFBConfig> configs;
std::vector<FormatInfo> infos;
bool configsRead = false;

int Attrib(Display* display, GLXFBConfig config, int attribute) {
  int value = 0;
  glXGetFBConfigAttrib(display, config, attribute, &value);
  return value;
}

int MaskShift(unsigned long mask) {
  if (!mask) return 0;
  int shift = 0;
  while (!((mask >> shift) & 1)) ++shift;
  return shift;
}

FormatInfo Describe(Display* display, GLXFBConfig config) {
  FormatInfo info{};
  PIXELFORMATDESCRIPTOR& pfd = info.pfd;
  pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
  pfd.nVersion = 1;
  int drawable = Attrib(display, config, GLX_DRAWABLE_TYPE);
  int doubleBuffer = Attrib(display, config, GLX_DOUBLEBUFFER);
  int visualDepth = 0;
  XVisualInfo* visual = glXGetVisualFromFBConfig(display, config);
  if (visual) visualDepth = visual->depth;
  // Windows and bitmaps of this layer are 24 bits deep; GLX draws into a drawable only through
  // a config whose visual has the drawable's depth.
  pfd.dwFlags = PFD_SUPPORT_OPENGL;
  if ((drawable & GLX_WINDOW_BIT) && visualDepth == State().depth)
    pfd.dwFlags |= PFD_DRAW_TO_WINDOW;
  if ((drawable & GLX_PIXMAP_BIT) && !doubleBuffer && visualDepth == State().depth)
    pfd.dwFlags |= PFD_DRAW_TO_BITMAP;
  if (doubleBuffer) pfd.dwFlags |= PFD_DOUBLEBUFFER;
  if (Attrib(display, config, GLX_STEREO)) pfd.dwFlags |= PFD_STEREO;
  int renderType = Attrib(display, config, GLX_RENDER_TYPE);
  pfd.iPixelType = (renderType & GLX_RGBA_BIT)          ? PFD_TYPE_RGBA
                   : (renderType & GLX_COLOR_INDEX_BIT) ? PFD_TYPE_COLORINDEX
                                                        : 0xFE;  // float-only: matches no request
  pfd.cColorBits = static_cast<BYTE>(Attrib(display, config, GLX_BUFFER_SIZE));
  pfd.cRedBits = static_cast<BYTE>(Attrib(display, config, GLX_RED_SIZE));
  pfd.cGreenBits = static_cast<BYTE>(Attrib(display, config, GLX_GREEN_SIZE));
  pfd.cBlueBits = static_cast<BYTE>(Attrib(display, config, GLX_BLUE_SIZE));
  pfd.cAlphaBits = static_cast<BYTE>(Attrib(display, config, GLX_ALPHA_SIZE));
  if (visual) {
    pfd.cRedShift = static_cast<BYTE>(MaskShift(visual->red_mask));
    pfd.cGreenShift = static_cast<BYTE>(MaskShift(visual->green_mask));
    pfd.cBlueShift = static_cast<BYTE>(MaskShift(visual->blue_mask));
  } else {
    pfd.cRedShift = static_cast<BYTE>(pfd.cGreenBits + pfd.cBlueBits);
    pfd.cGreenShift = pfd.cBlueBits;
  }
  if (pfd.cAlphaBits)
    pfd.cAlphaShift = static_cast<BYTE>(pfd.cRedBits + pfd.cGreenBits + pfd.cBlueBits);
  pfd.cAccumRedBits = static_cast<BYTE>(Attrib(display, config, GLX_ACCUM_RED_SIZE));
  pfd.cAccumGreenBits = static_cast<BYTE>(Attrib(display, config, GLX_ACCUM_GREEN_SIZE));
  pfd.cAccumBlueBits = static_cast<BYTE>(Attrib(display, config, GLX_ACCUM_BLUE_SIZE));
  pfd.cAccumAlphaBits = static_cast<BYTE>(Attrib(display, config, GLX_ACCUM_ALPHA_SIZE));
  pfd.cAccumBits = static_cast<BYTE>(pfd.cAccumRedBits + pfd.cAccumGreenBits + pfd.cAccumBlueBits +
                                     pfd.cAccumAlphaBits);
  pfd.cDepthBits = static_cast<BYTE>(Attrib(display, config, GLX_DEPTH_SIZE));
  pfd.cStencilBits = static_cast<BYTE>(Attrib(display, config, GLX_STENCIL_SIZE));
  pfd.cAuxBuffers = static_cast<BYTE>(Attrib(display, config, GLX_AUX_BUFFERS));
  int level = Attrib(display, config, GLX_LEVEL);
  pfd.iLayerType = level == 0 ? PFD_MAIN_PLANE : level > 0 ? PFD_OVERLAY_PLANE : PFD_UNDERLAY_PLANE;
  info.caveat = Attrib(display, config, GLX_CONFIG_CAVEAT) == GLX_NONE ? 0 : 1;
  info.samples = Attrib(display, config, GLX_SAMPLES);
  if (visual) XFree(visual);
  return info;
}

void ReadConfigs() {
  if (!configsRead && Headless()) {
    configsRead = true;
    for (const PIXELFORMATDESCRIPTOR& pfd : HeadlessPixelFormats()) infos.push_back({pfd, 0, 0});
    return;
  }
  if (configsRead || !OpenDisplay()) return;
  configsRead = true;
  Display* display = Dpy();
  int count = 0;
  GLXFBConfig* list = glXGetFBConfigs(display, State().screen, &count);
  for (int i = 0; i < count; ++i) {
    configs.push_back(list[i]);
    infos.push_back(Describe(display, list[i]));
  }
  if (list) XFree(list);
}

}  // namespace

const std::vector<GLXFBConfig>& PixelFormats() {
  ReadConfigs();
  return configs;
}

GLXFBConfig PixelFormatConfig(int format) {
  ReadConfigs();
  if (format < 1 || format > static_cast<int>(configs.size())) return nullptr;
  return configs[format - 1];
}

DeviceContext* FindDC(HDC dc) {
  auto* found = reinterpret_cast<DeviceContext*>(dc);
  return LiveDCs().count(found) ? found : nullptr;
}

Bitmap* FindBitmap(HGDIOBJ object) {
  auto* found = static_cast<Bitmap*>(object);
  return LiveBitmaps().count(found) ? found : nullptr;
}

bool DrawableOf(DeviceContext* dc, GLXDrawable* drawable, int** pixelFormat) {
  if (!dc->memory) {
    TForm::Native* window = dc->window;
    if (!window || !window->alive || !window->window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    *drawable = window->window;
    *pixelFormat = &window->pixelFormat;
    return true;
  }
  Bitmap* bitmap = dc->selected;
  if (!bitmap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  *drawable = bitmap->glxPixmap;
  *pixelFormat = &bitmap->pixelFormat;
  return true;
}

void ForgetWindowDC(TForm::Native* window) {
  if (window->dc) {
    LiveDCs().erase(window->dc);
    delete window->dc;
    window->dc = nullptr;
  }
}

namespace {

Bitmap* NewBitmap(int width, int height) {
  Display* display = Dpy();
  auto* bitmap = new Bitmap;
  bitmap->width = width;
  bitmap->height = height;
  bitmap->depth = State().depth;
  bitmap->pixmap =
      XCreatePixmap(display, State().root, static_cast<unsigned>(width),
                    static_cast<unsigned>(height), static_cast<unsigned>(bitmap->depth));
  LiveBitmaps().insert(bitmap);
  return bitmap;
}

void FreeBitmap(Bitmap* bitmap) {
  Display* display = Dpy();
  if (bitmap->glxPixmap) {
    ReleaseContextsOn(bitmap->glxPixmap);
    glXDestroyPixmap(display, bitmap->glxPixmap);
  }
  if (bitmap->pixmap) XFreePixmap(display, bitmap->pixmap);
  LiveBitmaps().erase(bitmap);
  delete bitmap;
}

}  // namespace

}  // namespace xbackend

using namespace xbackend;

HDC GetDC(HWND handle) {
  TForm::Native* window = FindWindow(handle);
  if (!window || !window->alive) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  // One device context per window for its whole life, as GL windows have on Windows: the
  // pixel format and the context stay attached to it.
  if (!window->dc) {
    window->dc = new DeviceContext;
    window->dc->window = window;
    LiveDCs().insert(window->dc);
  }
  return reinterpret_cast<HDC>(window->dc);
}

int ReleaseDC(HWND handle, HDC dc) {
  TForm::Native* window = FindWindow(handle);
  DeviceContext* context = FindDC(dc);
  if (!window || !context || context->window != window) return 0;
  return 1;
}

BOOL GetClientRect(HWND handle, RECT* rect) {
  TForm::Native* window = FindWindow(handle);
  if (!window || !window->alive) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!rect) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *rect = RECT{0, 0, window->form->ClientWidth, window->form->ClientHeight};
  return TRUE;
}

HDC CreateCompatibleDC(HDC dc) {
  if (dc && !FindDC(dc)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!OpenDisplay()) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
  }
  // Like a fresh memory DC on Windows it starts with a 1x1 surface of its own.
  auto* context = new DeviceContext;
  context->memory = true;
  context->stock = NewBitmap(1, 1);
  context->stock->selectedInto = context;
  context->selected = context->stock;
  LiveDCs().insert(context);
  return reinterpret_cast<HDC>(context);
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  if (!FindDC(dc)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (width <= 0 || height <= 0 || width > 32767 || height > 32767) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return reinterpret_cast<HBITMAP>(NewBitmap(width, height));
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  DeviceContext* context = FindDC(dc);
  Bitmap* bitmap = FindBitmap(object);
  if (!context || !bitmap || !context->memory) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (bitmap->selectedInto && bitmap->selectedInto != context) {
    SetLastError(ERROR_INVALID_PARAMETER);  // a bitmap belongs to one DC at a time
    return nullptr;
  }
  Bitmap* previous = context->selected;
  if (previous) previous->selectedInto = nullptr;
  context->selected = bitmap;
  bitmap->selectedInto = context;
  return previous;
}

BOOL DeleteDC(HDC dc) {
  DeviceContext* context = FindDC(dc);
  if (!context || !context->memory) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (context->selected) context->selected->selectedInto = nullptr;
  FreeBitmap(context->stock);
  LiveDCs().erase(context);
  delete context;
  return TRUE;
}

BOOL DeleteObject(HGDIOBJ object) {
  Bitmap* bitmap = FindBitmap(object);
  if (!bitmap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (bitmap->selectedInto) {
    SetLastError(ERROR_INVALID_PARAMETER);  // still drawn into
    return FALSE;
  }
  FreeBitmap(bitmap);
  return TRUE;
}

int GetObjectType(HGDIOBJ object) {
  if (DeviceContext* dc = FindDC(reinterpret_cast<HDC>(object)))
    return dc->memory ? OBJ_MEMDC : OBJ_DC;
  if (FindBitmap(object)) return OBJ_BITMAP;
  SetLastError(ERROR_INVALID_HANDLE);
  return 0;
}

int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* request) {
  if (!FindDC(dc)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (!request) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ReadConfigs();
  const DWORD want = request->dwFlags;
  constexpr DWORD required =
      PFD_DRAW_TO_WINDOW | PFD_DRAW_TO_BITMAP | PFD_SUPPORT_GDI | PFD_SUPPORT_OPENGL;
  // Closest match: a format must have every capability asked for, the pixel type and the
  // layer; among those, fewer missing bits win, then fewer unasked-for extras.
  using Score = std::tuple<int, int, int, int, int, int>;
  Score best{};
  int bestIndex = 0;
  for (size_t i = 0; i < infos.size(); ++i) {
    const PIXELFORMATDESCRIPTOR& have = infos[i].pfd;
    if ((have.dwFlags & want & required) != (want & required)) continue;
    if (have.iPixelType != request->iPixelType) continue;
    if (have.iLayerType != request->iLayerType) continue;
    int flagMismatch = 0;
    if (!(want & PFD_DOUBLEBUFFER_DONTCARE)) {
      bool wantDouble = want & PFD_DOUBLEBUFFER, hasDouble = have.dwFlags & PFD_DOUBLEBUFFER;
      if (wantDouble && !hasDouble) continue;
      if (!wantDouble && hasDouble) ++flagMismatch;
    }
    if (!(want & PFD_STEREO_DONTCARE)) {
      bool wantStereo = want & PFD_STEREO, hasStereo = have.dwFlags & PFD_STEREO;
      if (wantStereo && !hasStereo) continue;
      if (!wantStereo && hasStereo) ++flagMismatch;
    }
    int shortfall = 0, excess = 0;
    auto compare = [&](int wanted, int got) {
      if (got < wanted)
        shortfall += wanted - got;
      else
        excess += got - wanted;
    };
    compare(request->cColorBits, have.cColorBits);
    compare(request->cAlphaBits, have.cAlphaBits);
    compare(request->cAccumBits, have.cAccumBits);
    if (!(want & PFD_DEPTH_DONTCARE)) compare(request->cDepthBits, have.cDepthBits);
    compare(request->cStencilBits, have.cStencilBits);
    compare(request->cAuxBuffers, have.cAuxBuffers);
    Score score{flagMismatch,     shortfall, infos[i].caveat,
                infos[i].samples, excess,    static_cast<int>(i)};
    if (!bestIndex || score < best) {
      best = score;
      bestIndex = static_cast<int>(i) + 1;
    }
  }
  if (!bestIndex) SetLastError(ERROR_INVALID_PIXEL_FORMAT);
  return bestIndex;
}

int DescribePixelFormat(HDC dc, int index, UINT size, PIXELFORMATDESCRIPTOR* descriptor) {
  if (!FindDC(dc)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  ReadConfigs();
  int count = static_cast<int>(infos.size());
  if (!descriptor) return count;
  if (index < 1 || index > count) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::memcpy(descriptor, &infos[index - 1].pfd,
              std::min<size_t>(size, sizeof(PIXELFORMATDESCRIPTOR)));
  return count;
}

int GetPixelFormat(HDC dc) {
  DeviceContext* context = FindDC(dc);
  if (!context) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  GLXDrawable drawable;
  int* format = nullptr;
  if (!DrawableOf(context, &drawable, &format)) return 0;
  if (!*format) SetLastError(ERROR_INVALID_PIXEL_FORMAT);
  return *format;
}

BOOL SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR* /*descriptor*/) {
  DeviceContext* context = FindDC(dc);
  if (!context) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  GLXDrawable drawable;
  int* current = nullptr;
  if (!DrawableOf(context, &drawable, &current)) return FALSE;
  ReadConfigs();
  if (format < 1 || format > static_cast<int>(infos.size())) {
    SetLastError(ERROR_INVALID_PIXEL_FORMAT);
    return FALSE;
  }
  // A drawable keeps its first format: GLX fixes a drawable's config on first use and a
  // context of another config would then draw nothing.
  if (*current) {
    if (*current == format) return TRUE;
    SetLastError(ERROR_INVALID_PIXEL_FORMAT);
    return FALSE;
  }
  DWORD flags = infos[format - 1].pfd.dwFlags;
  if (!(flags & (context->memory ? PFD_DRAW_TO_BITMAP : PFD_DRAW_TO_WINDOW))) {
    SetLastError(ERROR_INVALID_PIXEL_FORMAT);
    return FALSE;
  }
  if (context->memory) {
    Bitmap* bitmap = context->selected;
    unsigned long errorsBefore = XErrorCount();
    GLXPixmap glxPixmap =
        glXCreatePixmap(Dpy(), PixelFormatConfig(format), bitmap->pixmap, nullptr);
    XSync(Dpy(), False);
    if (!glxPixmap || XErrorCount() != errorsBefore) {
      if (glxPixmap) glXDestroyPixmap(Dpy(), glxPixmap);
      SetLastError(ERROR_INVALID_PIXEL_FORMAT);
      return FALSE;
    }
    bitmap->glxPixmap = glxPixmap;
  }
  *current = format;
  return TRUE;
}

BOOL SwapBuffers(HDC dc) {
  DeviceContext* context = FindDC(dc);
  if (!context) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  GLXDrawable drawable;
  int* format = nullptr;
  if (!DrawableOf(context, &drawable, &format)) return FALSE;
  if (!*format) {
    SetLastError(ERROR_INVALID_PIXEL_FORMAT);
    return FALSE;
  }
  if (Headless()) {
    HeadlessFrameDone(context->window);
    return TRUE;
  }
  if (!context->memory) KeepFrameBeforeSwap(context->window, drawable);
  glXSwapBuffers(Dpy(), drawable);
  return TRUE;
}
