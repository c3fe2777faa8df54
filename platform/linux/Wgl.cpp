// The WGL base functions over GLX. They carry other C++ names than the WGL ones (the GL binding
// has variables of exactly those names) and are handed out by address through GetProcAddress on
// the GL library's handle.
#include <cstring>
#include <set>

#include "platform/Platform.h"
#include "platform/linux/X11Backend.h"

namespace xbackend {

namespace {

struct RenderContext {
  GLXContext context = nullptr;
  HeadlessContext* headless = nullptr;  // in its place without a display
  int pixelFormat = 0;
  bool everCurrent = false;
};

std::set<RenderContext*>& LiveContexts() {
  static std::set<RenderContext*> contexts;
  return contexts;
}

thread_local RenderContext* currentContext = nullptr;
thread_local HDC currentDC = nullptr;
thread_local GLXDrawable currentDrawable = 0;

RenderContext* FindContext(HGLRC rc) {
  auto* context = reinterpret_cast<RenderContext*>(rc);
  return LiveContexts().count(context) ? context : nullptr;
}

void MakeNothingCurrent() {
  if (currentContext && Headless()) MakeNoHeadlessCurrent();
  if (currentContext && Dpy()) glXMakeCurrent(Dpy(), None, nullptr);
  currentContext = nullptr;
  currentDC = nullptr;
  currentDrawable = 0;
}

const char* ExtensionsString() {
  if (!Dpy()) return "";
  const char* text = glXQueryExtensionsString(Dpy(), State().screen);
  return text ? text : "";
}

const char* GetExtensionsStringARB(HDC) {
  return ExtensionsString();
}
const char* GetExtensionsStringEXT() {
  return ExtensionsString();
}

HGLRC CreateContext(HDC dc) {
  DeviceContext* context = FindDC(dc);
  if (!context) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  GLXDrawable drawable;
  int* format = nullptr;
  if (!DrawableOf(context, &drawable, &format)) return nullptr;
  if (Headless()) {
    if (!*format) {
      SetLastError(ERROR_INVALID_PIXEL_FORMAT);
      return nullptr;
    }
    HeadlessContext* made = CreateHeadlessContext(*format, nullptr);
    if (!made) return nullptr;
    auto* rc = new RenderContext;
    rc->headless = made;
    rc->pixelFormat = *format;
    LiveContexts().insert(rc);
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HGLRC>(rc);
  }
  GLXFBConfig config = PixelFormatConfig(*format);
  if (!config) {
    SetLastError(ERROR_INVALID_PIXEL_FORMAT);
    return nullptr;
  }
  // Always direct: indirect contexts fail on servers without GLX acceleration such as Xvfb.
  unsigned long errorsBefore = XErrorCount();
  GLXContext glx = glXCreateNewContext(Dpy(), config, GLX_RGBA_TYPE, nullptr, True);
  XSync(Dpy(), False);
  if (!glx || XErrorCount() != errorsBefore) {
    if (glx) glXDestroyContext(Dpy(), glx);
    SetLastError(ERROR_INVALID_PIXEL_FORMAT);
    return nullptr;
  }
  auto* rc = new RenderContext;
  rc->context = glx;
  rc->pixelFormat = *format;
  LiveContexts().insert(rc);
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<HGLRC>(rc);
}

HGLRC CreateLayerContext(HDC dc, int layer) {
  if (layer != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);  // there are no overlay or underlay planes
    return nullptr;
  }
  return CreateContext(dc);
}

BOOL DeleteContext(HGLRC rc) {
  RenderContext* context = FindContext(rc);
  if (!context) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (context == currentContext) MakeNothingCurrent();
  if (context->headless)
    DeleteHeadlessContext(context->headless);
  else
    glXDestroyContext(Dpy(), context->context);
  LiveContexts().erase(context);
  delete context;
  return TRUE;
}

BOOL MakeCurrent(HDC dc, HGLRC rc) {
  if (!rc) {
    MakeNothingCurrent();
    return TRUE;
  }
  RenderContext* context = FindContext(rc);
  DeviceContext* device = FindDC(dc);
  if (!context || !device) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!device->memory && device->window && device->window->alive)
    NoticeDestruction(device->window->window);
  GLXDrawable drawable;
  int* format = nullptr;
  if (!DrawableOf(device, &drawable, &format)) return FALSE;
  // The screen makes its context current at every frame: nothing more to ask the server then.
  // Without a display it is asked all the same: the form's buffer follows its client size.
  if (context == currentContext && dc == currentDC && drawable == currentDrawable &&
      !context->headless)
    return TRUE;
  if (*format != context->pixelFormat || !drawable) {
    SetLastError(ERROR_INVALID_PIXEL_FORMAT);
    return FALSE;
  }
  bool done = false;
  if (context->headless) {
    done = MakeHeadlessCurrent(context->headless, device->window);
  } else {
    unsigned long errorsBefore = XErrorCount();
    done = glXMakeCurrent(Dpy(), drawable, context->context);
    XSync(Dpy(), False);
    done = done && XErrorCount() == errorsBefore;
    if (!done) SetLastError(ERROR_INVALID_HANDLE);
  }
  if (!done) {
    // Either way nothing is current after a failure.
    currentContext = nullptr;
    currentDC = nullptr;
    currentDrawable = 0;
    return FALSE;
  }
  context->everCurrent = true;
  currentContext = context;
  currentDC = dc;
  currentDrawable = drawable;
  return TRUE;
}

HGLRC GetCurrentContext() {
  return reinterpret_cast<HGLRC>(currentContext);
}
HDC GetCurrentDC() {
  return currentDC;
}

FARPROC GetProcAddressWgl(const char* name) {
  if (!currentContext || !name) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (std::strcmp(name, "wglGetExtensionsStringARB") == 0)
    return reinterpret_cast<FARPROC>(&GetExtensionsStringARB);
  if (std::strcmp(name, "wglGetExtensionsStringEXT") == 0)
    return reinterpret_cast<FARPROC>(&GetExtensionsStringEXT);
  // GLX hands out a dispatch stub for any name at all; a WGL name would get one that does
  // nothing useful, so those that this layer does not implement are reported missing.
  if (std::strncmp(name, "wgl", 3) == 0) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  FARPROC address = Headless() ? HeadlessProcAddress(name)
                               : glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name));
  if (!address) SetLastError(ERROR_PROC_NOT_FOUND);
  return address;
}

BOOL CopyContext(HGLRC source, HGLRC destination, UINT mask) {
  RenderContext* from = FindContext(source);
  RenderContext* to = FindContext(destination);
  if (!from || !to || to == currentContext) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (from->headless) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);  // EGL copies no state between contexts
    return FALSE;
  }
  unsigned long errorsBefore = XErrorCount();
  glXCopyContext(Dpy(), from->context, to->context, mask);
  XSync(Dpy(), False);
  if (XErrorCount() != errorsBefore) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

BOOL ShareLists(HGLRC first, HGLRC second) {
  RenderContext* source = FindContext(first);
  RenderContext* target = FindContext(second);
  if (!source || !target || source == target) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // GLX shares only at creation: the second context is made again, sharing, which is possible
  // as long as it never was current (on Windows too it must not hold any objects yet).
  if (target->everCurrent) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (target->headless) {
    HeadlessContext* shared = CreateHeadlessContext(target->pixelFormat, source->headless);
    if (!shared) return FALSE;
    DeleteHeadlessContext(target->headless);
    target->headless = shared;
    return TRUE;
  }
  GLXFBConfig config = PixelFormatConfig(target->pixelFormat);
  unsigned long errorsBefore = XErrorCount();
  GLXContext shared = glXCreateNewContext(Dpy(), config, GLX_RGBA_TYPE, source->context, True);
  XSync(Dpy(), False);
  if (!shared || XErrorCount() != errorsBefore) {
    if (shared) glXDestroyContext(Dpy(), shared);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  glXDestroyContext(Dpy(), target->context);
  target->context = shared;
  return TRUE;
}

constexpr UINT WGL_SWAP_MAIN_PLANE = 1;

BOOL SwapLayerBuffers(HDC dc, UINT planes) {
  if (!(planes & WGL_SWAP_MAIN_PLANE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return SwapBuffers(dc);
}

struct WGLSWAP {
  HDC hdc;
  UINT uiFlags;
};

DWORD SwapMultipleBuffers(UINT count, const WGLSWAP* swaps) {
  if (!swaps) return 0;
  DWORD swapped = 0;
  for (UINT i = 0; i < count; ++i)
    if (SwapLayerBuffers(swaps[i].hdc, swaps[i].uiFlags)) swapped |= 1u << (i & 31);
  return swapped;
}

BOOL UseFontBitmaps(HDC dc, DWORD first, DWORD count, DWORD listBase) {
  if (!FindDC(dc) || !currentContext) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // The fonts are the X server's.
  if (!Dpy()) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  static XFontStruct* font = XLoadQueryFont(Dpy(), "fixed");
  if (!font) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  glXUseXFont(font->fid, static_cast<int>(first), static_cast<int>(count),
              static_cast<int>(listBase));
  return TRUE;
}

// Names that nothing in the program calls and GLX cannot provide: they fail cleanly.
BOOL UseFontOutlines(HDC, DWORD, DWORD, DWORD, float, float, int, void*) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

BOOL DescribeLayerPlane(HDC, int, int, UINT, void*) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

int GetLayerPaletteEntries(HDC, int, int, int, DWORD*) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

int SetLayerPaletteEntries(HDC, int, int, int, const DWORD*) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

BOOL RealizeLayerPalette(HDC, int, BOOL) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

struct NamedFunction {
  const char* name;
  FARPROC address;
};

template <typename F>
FARPROC Address(F* function) {
  return reinterpret_cast<FARPROC>(function);
}

const NamedFunction wglBase[] = {
    {"wglCopyContext", Address(&CopyContext)},
    {"wglCreateLayerContext", Address(&CreateLayerContext)},
    {"wglCreateContext", Address(&CreateContext)},
    {"wglDeleteContext", Address(&DeleteContext)},
    {"wglDescribeLayerPlane", Address(&DescribeLayerPlane)},
    {"wglGetCurrentContext", Address(&GetCurrentContext)},
    {"wglGetCurrentDC", Address(&GetCurrentDC)},
    {"wglGetLayerPaletteEntries", Address(&GetLayerPaletteEntries)},
    {"wglGetProcAddress", Address(&GetProcAddressWgl)},
    {"wglMakeCurrent", Address(&MakeCurrent)},
    {"wglRealizeLayerPalette", Address(&RealizeLayerPalette)},
    {"wglSetLayerPaletteEntries", Address(&SetLayerPaletteEntries)},
    {"wglShareLists", Address(&ShareLists)},
    {"wglSwapLayerBuffers", Address(&SwapLayerBuffers)},
    {"wglSwapMultipleBuffers", Address(&SwapMultipleBuffers)},
    {"wglUseFontBitmapsA", Address(&UseFontBitmaps)},
    {"wglUseFontOutlinesA", Address(&UseFontOutlines)},
    {"wglUseFontBitmapsW", Address(&UseFontBitmaps)},
    {"wglUseFontOutlinesW", Address(&UseFontOutlines)},
};

}  // namespace

FARPROC WglBaseFunction(const char* name) {
  for (const NamedFunction& entry : wglBase)
    if (std::strcmp(entry.name, name) == 0) return entry.address;
  return nullptr;
}

void ReleaseContextsOn(GLXDrawable drawable) {
  if (currentContext && currentDrawable == drawable) MakeNothingCurrent();
}

GLXDrawable CurrentDrawable() {
  return currentDrawable;
}

}  // namespace xbackend
