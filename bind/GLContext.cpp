// Turning a device context into a current rendering context and back.
#include <cstring>

#include "bind/Exceptions.h"
#include "bind/GLBind.h"

namespace GLBind {

namespace {

BYTE CountByte(int value) {
  if (value < 0 || value > 255) throw ERangeError();
  return static_cast<BYTE>(value);
}

}  // namespace

PIXELFORMATDESCRIPTOR BuildPixelFormatDescriptor(int objectType, RenderingContextOptions options,
                                                 int colorBits, int depthBits, int stencilBits,
                                                 int accumBits, int auxBuffers, int layer) {
  PIXELFORMATDESCRIPTOR request;
  std::memset(&request, 0, sizeof request);
  request.nSize = sizeof request;
  request.nVersion = 1;
  request.dwFlags = PFD_SUPPORT_OPENGL;
  if (objectType == OBJ_MEMDC || objectType == OBJ_METADC || objectType == OBJ_ENHMETADC)
    request.dwFlags |= PFD_DRAW_TO_BITMAP;
  else
    request.dwFlags |= PFD_DRAW_TO_WINDOW;
  if (options & DoubleBuffer) request.dwFlags |= PFD_DOUBLEBUFFER;
  if (options & GdiSupport) request.dwFlags |= PFD_SUPPORT_GDI;
  if (options & Stereo) request.dwFlags |= PFD_STEREO;
  request.iPixelType = PFD_TYPE_RGBA;
  request.cColorBits = CountByte(colorBits);
  request.cDepthBits = CountByte(depthBits);
  request.cStencilBits = CountByte(stencilBits);
  request.cAccumBits = CountByte(accumBits);
  request.cAuxBuffers = CountByte(auxBuffers);
  if (layer > 0)
    request.iLayerType = PFD_OVERLAY_PLANE;
  else if (layer < 0)
    request.iLayerType = PFD_UNDERLAY_PLANE;
  else
    request.iLayerType = PFD_MAIN_PLANE;
  return request;
}

HGLRC CreateGLContext(HDC dc, RenderingContextOptions options, int colorBits, int depthBits,
                      int stencilBits, int accumBits, int auxBuffers, int layer) {
  if (!GLLibraryHandle) LoadGLLibraries(GLLibraryName, GLULibraryName);
  // Without the GL library there is nothing to create the context with; fail as the other
  // creation failures do, before the device context is touched.
  if (!GLLibraryHandle) RaiseOSError(ERROR_MOD_NOT_FOUND);
  if (!wglCreateContext) RaiseOSError(ERROR_PROC_NOT_FOUND);

  const int kind = GetObjectType(dc);
  if (kind == 0) RaiseLastOSError();
  PIXELFORMATDESCRIPTOR request = BuildPixelFormatDescriptor(
      kind, options, colorBits, depthBits, stencilBits, accumBits, auxBuffers, layer);

  const int format = ChoosePixelFormat(dc, &request);
  if (format == 0) RaiseLastOSError();
  if (GetPixelFormat(dc) != format && !SetPixelFormat(dc, format, &request)) RaiseLastOSError();

  HGLRC rc = wglCreateContext(dc);
  if (!rc) RaiseLastOSError();
  return rc;
}

void ActivateGLContext(HDC dc, HGLRC rc, bool loadExtensions) {
  KESTRUNE_ASSERT(dc != nullptr, "DC must not be 0");
  KESTRUNE_ASSERT(rc != nullptr, "RC must not be 0");
  // A failure here is not reported: detection then reads whatever context is current.
  if (wglMakeCurrent) wglMakeCurrent(dc, rc);
  DetectVersionAndExtensions();
  if (loadExtensions) LoadEntryPoints();
}

void DeactivateGLContext() {
  if (wglMakeCurrent) wglMakeCurrent(nullptr, nullptr);
}

}  // namespace GLBind
