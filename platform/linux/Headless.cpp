// Runs without a display: rendering contexts of Mesa's EGL on the surfaceless platform, each
// form drawn into a framebuffer object of its client size, and the frame's pixels read back.
// EGL is loaded when a run without a display starts, so that the window's runs never need it.
// The GL calls, here and in the rest of the program, still go through libGL.so.1, whose
// vendor-neutral dispatch sends them to the context EGL made current.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "platform/Platform.h"
#include "platform/linux/X11Backend.h"
// After GL/gl.h, which the backend's header brings.
#include <GL/glext.h>

namespace xbackend {

namespace {

// The EGL entry points, from the library loaded at the start.
struct EglFunctions {
  PFNEGLGETPROCADDRESSPROC getProcAddress = nullptr;
  PFNEGLQUERYSTRINGPROC queryString = nullptr;
  PFNEGLGETERRORPROC getError = nullptr;
  PFNEGLGETPLATFORMDISPLAYEXTPROC getPlatformDisplay = nullptr;
  PFNEGLINITIALIZEPROC initialize = nullptr;
  PFNEGLBINDAPIPROC bindApi = nullptr;
  PFNEGLCREATECONTEXTPROC createContext = nullptr;
  PFNEGLDESTROYCONTEXTPROC destroyContext = nullptr;
  PFNEGLMAKECURRENTPROC makeCurrent = nullptr;
  PFNEGLGETCURRENTCONTEXTPROC getCurrentContext = nullptr;
};

// The framebuffer-object entry points, core since GL 3.0 and not exported by every libGL.
struct FboFunctions {
  PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
  PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
  PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
  PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;
  // With GL_MESA_framebuffer_flip_y only.
  PFNGLFRAMEBUFFERPARAMETERIPROC framebufferParameteri = nullptr;
};

EglFunctions egl;
FboFunctions fbo;
EGLDisplay eglDisplay = EGL_NO_DISPLAY;
bool headless = false;
Window lastDrawable = 0;

// One form's buffer as one context sees it: framebuffer objects belong to a context.
struct Target {
  GLuint framebuffer = 0;
  GLuint color = 0;
  GLuint depth = 0;
  int width = 0;
  int height = 0;
};

std::set<HeadlessContext*>& LiveHeadlessContexts() {
  static std::set<HeadlessContext*> contexts;
  return contexts;
}

HeadlessContext* current = nullptr;
TForm::Native* currentTarget = nullptr;

bool HasWord(const char* list, const char* word) {
  if (!list) return false;
  const size_t length = std::strlen(word);
  for (const char* at = list; (at = std::strstr(at, word)) != nullptr; at += length)
    if ((at == list || at[-1] == ' ') && (at[length] == ' ' || at[length] == '\0')) return true;
  return false;
}

template <typename F>
bool Resolve(void* library, const char* name, F* function) {
  *function = reinterpret_cast<F>(dlsym(library, name));
  return *function != nullptr;
}

template <typename F>
bool ResolveGL(const char* name, F* function) {
  *function = ProcAs<F>(egl.getProcAddress(name));
  return *function != nullptr;
}

// Whether the current context names the GL extension.
bool HasExtension(const char* name) {
  const auto getStringi = ProcAs<PFNGLGETSTRINGIPROC>(egl.getProcAddress("glGetStringi"));
  GLint count = 0;
  glGetIntegerv(GL_NUM_EXTENSIONS, &count);
  for (GLint i = 0; getStringi && i < count; ++i) {
    const GLubyte* extension = getStringi(GL_EXTENSIONS, static_cast<GLuint>(i));
    if (extension && std::strcmp(reinterpret_cast<const char*>(extension), name) == 0) return true;
  }
  return false;
}

std::string EglErrorText() {
  char text[32];
  std::snprintf(text, sizeof text, "EGL error 0x%04X", static_cast<unsigned>(egl.getError()));
  return text;
}

// Mesa picks a GPU's driver when it finds one; frames must come from the software renderer so
// that they equal the window's under Xvfb, byte for byte, on any machine. A user's own choice
// stands, and the setting does not reach the programs a scene starts.
bool InitializeSoftware() {
  const bool chosen = std::getenv("LIBGL_ALWAYS_SOFTWARE") != nullptr;
  if (!chosen) setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
  EGLint major = 0, minor = 0;
  const bool done = egl.initialize(eglDisplay, &major, &minor);
  if (!chosen) unsetenv("LIBGL_ALWAYS_SOFTWARE");
  return done;
}

// A context made current without a surface, and libGL's dispatch reaching it: the libGL of a
// system without the vendor-neutral dispatch would answer nothing here.
bool ProbeContext(std::string* reason) {
  EGLContext probe = egl.createContext(eglDisplay, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, nullptr);
  if (probe == EGL_NO_CONTEXT) {
    *reason = "EGL makes no desktop OpenGL context (" + EglErrorText() + ")";
    return false;
  }
  bool ok = egl.makeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, probe);
  if (!ok) {
    *reason = "EGL cannot make a context current without a surface (" + EglErrorText() + ")";
  } else if (!glGetString(GL_VERSION)) {
    *reason =
        "libGL.so.1 does not reach EGL's contexts (it needs the vendor-neutral dispatch, "
        "Debian: libgl1)";
    ok = false;
  } else if (!ResolveGL("glGenFramebuffers", &fbo.genFramebuffers) ||
             !ResolveGL("glDeleteFramebuffers", &fbo.deleteFramebuffers) ||
             !ResolveGL("glBindFramebuffer", &fbo.bindFramebuffer) ||
             !ResolveGL("glGenRenderbuffers", &fbo.genRenderbuffers) ||
             !ResolveGL("glDeleteRenderbuffers", &fbo.deleteRenderbuffers) ||
             !ResolveGL("glBindRenderbuffer", &fbo.bindRenderbuffer) ||
             !ResolveGL("glRenderbufferStorage", &fbo.renderbufferStorage) ||
             !ResolveGL("glFramebufferRenderbuffer", &fbo.framebufferRenderbuffer) ||
             !ResolveGL("glCheckFramebufferStatus", &fbo.checkFramebufferStatus)) {
    *reason = "the OpenGL of EGL has no framebuffer objects";
    ok = false;
  } else if (HasExtension("GL_MESA_framebuffer_flip_y")) {
    ResolveGL("glFramebufferParameteri", &fbo.framebufferParameteri);
  }
  egl.makeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  egl.destroyContext(eglDisplay, probe);
  return ok;
}

void FreeTarget(Target& target) {
  if (target.framebuffer) fbo.deleteFramebuffers(1, &target.framebuffer);
  if (target.color) fbo.deleteRenderbuffers(1, &target.color);
  if (target.depth) fbo.deleteRenderbuffers(1, &target.depth);
  target = Target();
}

}  // namespace

struct HeadlessContext {
  EGLContext context = EGL_NO_CONTEXT;
  int pixelFormat = 0;
  bool everCurrent = false;
  std::map<TForm::Native*, Target> targets;
};

bool Headless() {
  return headless;
}

bool StartHeadless(std::string* reason) {
  if (headless) return true;
  // Never closed: the driver it loads keeps running until the process ends.
  void* library = dlopen("libEGL.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    *reason = "libEGL.so.1 is missing (Debian: libegl1)";
    return false;
  }
  if (!Resolve(library, "eglGetProcAddress", &egl.getProcAddress) ||
      !Resolve(library, "eglQueryString", &egl.queryString) ||
      !Resolve(library, "eglGetError", &egl.getError) ||
      !Resolve(library, "eglInitialize", &egl.initialize) ||
      !Resolve(library, "eglBindAPI", &egl.bindApi) ||
      !Resolve(library, "eglCreateContext", &egl.createContext) ||
      !Resolve(library, "eglDestroyContext", &egl.destroyContext) ||
      !Resolve(library, "eglMakeCurrent", &egl.makeCurrent) ||
      !Resolve(library, "eglGetCurrentContext", &egl.getCurrentContext)) {
    *reason = "libEGL.so.1 lacks functions of EGL 1.4";
    return false;
  }
  const char* clientExtensions = egl.queryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  egl.getPlatformDisplay =
      ProcAs<PFNEGLGETPLATFORMDISPLAYEXTPROC>(egl.getProcAddress("eglGetPlatformDisplayEXT"));
  if (!HasWord(clientExtensions, "EGL_MESA_platform_surfaceless") || !egl.getPlatformDisplay) {
    *reason = "EGL has no surfaceless platform (Mesa's EGL, Debian: libegl-mesa0)";
    return false;
  }
  eglDisplay = egl.getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (eglDisplay == EGL_NO_DISPLAY || !InitializeSoftware()) {
    *reason = "EGL cannot start Mesa's software renderer (" + EglErrorText() +
              "; Debian: libgl1-mesa-dri)";
    eglDisplay = EGL_NO_DISPLAY;
    return false;
  }
  const char* extensions = egl.queryString(eglDisplay, EGL_EXTENSIONS);
  if (!HasWord(extensions, "EGL_KHR_surfaceless_context") ||
      !(HasWord(extensions, "EGL_KHR_no_config_context") ||
        HasWord(extensions, "EGL_MESA_configless_context"))) {
    *reason = "EGL cannot draw without a surface";
    return false;
  }
  if (!egl.bindApi(EGL_OPENGL_API)) {
    *reason = "EGL offers no desktop OpenGL (" + EglErrorText() + ")";
    return false;
  }
  if (!ProbeContext(reason)) return false;
  headless = true;
  return true;
}

Window NewHeadlessDrawable() {
  return ++lastDrawable;
}

const std::vector<PIXELFORMATDESCRIPTOR>& HeadlessPixelFormats() {
  // Red, green and blue of 8 bits without alpha, double-buffered as the window's are; they
  // differ in the depth and stencil buffers.
  static const std::vector<PIXELFORMATDESCRIPTOR> formats = [] {
    std::vector<PIXELFORMATDESCRIPTOR> list;
    const BYTE depthStencil[][2] = {{24, 0}, {32, 0}, {24, 8}, {16, 0}, {0, 0}};
    for (const auto& buffers : depthStencil) {
      PIXELFORMATDESCRIPTOR pfd{};
      pfd.nSize = sizeof pfd;
      pfd.nVersion = 1;
      pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
      pfd.iPixelType = PFD_TYPE_RGBA;
      pfd.cColorBits = 24;
      pfd.cRedBits = pfd.cGreenBits = pfd.cBlueBits = 8;
      pfd.cRedShift = 16;
      pfd.cGreenShift = 8;
      pfd.cDepthBits = buffers[0];
      pfd.cStencilBits = buffers[1];
      pfd.iLayerType = PFD_MAIN_PLANE;
      list.push_back(pfd);
    }
    return list;
  }();
  return formats;
}

HeadlessContext* CreateHeadlessContext(int pixelFormat, HeadlessContext* share) {
  EGLContext context = egl.createContext(eglDisplay, EGL_NO_CONFIG_KHR,
                                         share ? share->context : EGL_NO_CONTEXT, nullptr);
  if (context == EGL_NO_CONTEXT) {
    SetLastError(share ? ERROR_INVALID_PARAMETER : ERROR_INVALID_PIXEL_FORMAT);
    return nullptr;
  }
  auto* made = new HeadlessContext;
  made->context = context;
  made->pixelFormat = pixelFormat;
  LiveHeadlessContexts().insert(made);
  return made;
}

void DeleteHeadlessContext(HeadlessContext* context) {
  if (context == current) MakeNoHeadlessCurrent();
  // The framebuffer objects go with the context; the forms must not name it any more.
  for (auto& entry : context->targets)
    if (entry.first->drawnBy == context) entry.first->drawnBy = nullptr;
  egl.destroyContext(eglDisplay, context->context);
  LiveHeadlessContexts().erase(context);
  delete context;
}

namespace {

// Storage of the client area's size for the form's buffer; false when the framebuffer cannot
// be completed.
bool SizeTarget(const HeadlessContext* context, Target& target, int width, int height) {
  if (!target.framebuffer) {
    fbo.genFramebuffers(1, &target.framebuffer);
    fbo.genRenderbuffers(1, &target.color);
  }
  fbo.bindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
  fbo.bindRenderbuffer(GL_RENDERBUFFER, target.color);
  fbo.renderbufferStorage(GL_RENDERBUFFER, GL_RGB8, width, height);
  fbo.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, target.color);
  const PIXELFORMATDESCRIPTOR& format = HeadlessPixelFormats()[context->pixelFormat - 1];
  if (format.cDepthBits || format.cStencilBits) {
    if (!target.depth) fbo.genRenderbuffers(1, &target.depth);
    fbo.bindRenderbuffer(GL_RENDERBUFFER, target.depth);
    GLenum storage = format.cStencilBits       ? GL_DEPTH24_STENCIL8
                     : format.cDepthBits == 16 ? GL_DEPTH_COMPONENT16
                     : format.cDepthBits == 32 ? GL_DEPTH_COMPONENT32
                                               : GL_DEPTH_COMPONENT24;
    fbo.renderbufferStorage(GL_RENDERBUFFER, storage, width, height);
    fbo.framebufferRenderbuffer(
        GL_FRAMEBUFFER, format.cStencilBits ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
        GL_RENDERBUFFER, target.depth);
  }
  fbo.bindRenderbuffer(GL_RENDERBUFFER, 0);
  // Mesa keeps a window's buffer top row first, and the rasteriser's arithmetic follows the
  // orientation: in the other one, texture coordinates land a rounding away at some columns.
  // Turned the same way, the buffer gets the window's pixels to the last bit.
  if (fbo.framebufferParameteri)
    fbo.framebufferParameteri(GL_FRAMEBUFFER, GL_FRAMEBUFFER_FLIP_Y_MESA, GL_TRUE);
  if (fbo.checkFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;
  target.width = width;
  target.height = height;
  return true;
}

}  // namespace

bool MakeHeadlessCurrent(HeadlessContext* context, TForm::Native* target) {
  if (egl.getCurrentContext() != context->context &&
      !egl.makeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, context->context)) {
    current = nullptr;
    currentTarget = nullptr;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  current = context;
  currentTarget = target;
  Target& buffer = context->targets[target];
  const int width = std::max(target->form->ClientWidth, 1);
  const int height = std::max(target->form->ClientHeight, 1);
  if (buffer.width != width || buffer.height != height) {
    if (!SizeTarget(context, buffer, width, height)) {
      FreeTarget(buffer);
      context->targets.erase(target);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    target->frameDone = false;
  } else {
    fbo.bindFramebuffer(GL_FRAMEBUFFER, buffer.framebuffer);
  }
  // As a window's context starts: viewport and scissor box on the whole drawable.
  if (!context->everCurrent) {
    context->everCurrent = true;
    glViewport(0, 0, width, height);
    glScissor(0, 0, width, height);
  }
  target->drawnBy = context;
  return true;
}

void MakeNoHeadlessCurrent() {
  if (headless) egl.makeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  current = nullptr;
  currentTarget = nullptr;
}

FARPROC HeadlessProcAddress(const char* name) {
  return ProcAs<FARPROC>(egl.getProcAddress(name));
}

void HeadlessFrameDone(TForm::Native* target) {
  // Nothing to present; the buffer keeps the frame for ReadFramePixels. Without a flush the
  // software renderer would keep the frame's work queued until somebody reads.
  if (current && currentTarget == target) {
    glFlush();
    target->frameDone = true;
  }
}

void ForgetHeadlessTarget(TForm::Native* target) {
  for (HeadlessContext* context : LiveHeadlessContexts()) {
    auto found = context->targets.find(target);
    if (found == context->targets.end()) continue;
    // Only a current context can delete its objects; any other frees them with itself.
    if (egl.getCurrentContext() == context->context) FreeTarget(found->second);
    context->targets.erase(found);
  }
  // Still current, it draws into nothing until it is made current again.
  if (currentTarget == target) currentTarget = nullptr;
  target->drawnBy = nullptr;
}

bool ReadHeadlessFrame(TForm::Native* target, std::vector<unsigned char>* rgb, int* width,
                       int* height) {
  HeadlessContext* context = target->drawnBy;
  if (!headless || !context || !target->frameDone) return false;
  auto found = context->targets.find(target);
  if (found == context->targets.end()) return false;
  const Target& buffer = found->second;
  // Read with the context that drew, and give the caller back what was current.
  EGLContext previous = egl.getCurrentContext();
  if (previous != context->context &&
      !egl.makeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, context->context))
    return false;
  GLint readFramebuffer = 0, alignment = 4;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &readFramebuffer);
  glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
  fbo.bindFramebuffer(GL_READ_FRAMEBUFFER, buffer.framebuffer);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  rgb->resize(static_cast<size_t>(buffer.width) * buffer.height * 3);
  glReadPixels(0, 0, buffer.width, buffer.height, GL_RGB, GL_UNSIGNED_BYTE, rgb->data());
  glPixelStorei(GL_PACK_ALIGNMENT, alignment);
  fbo.bindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(readFramebuffer));
  if (previous != context->context)
    egl.makeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, previous);
  *width = buffer.width;
  *height = buffer.height;
  return true;
}

}  // namespace xbackend

bool TApplication::InitializeHeadless() {
  if (headless_) return true;
  if (xbackend::Dpy()) {
    std::fprintf(stderr, "kestrune: cannot run without a display once one is open\n");
    return false;
  }
  std::string reason;
  if (!xbackend::StartHeadless(&reason)) {
    std::fprintf(stderr, "kestrune: cannot draw without a display: %s\n", reason.c_str());
    return false;
  }
  headless_ = true;
  return true;
}
