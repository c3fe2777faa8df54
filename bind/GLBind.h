// Run-time binding of the GL, GLU and WGL entry points, version and extension detection, and
// rendering-context set-up on a device context.
//
// Everything lives in namespace GLBind: the entry-point variables carry the exact API names, and
// outside a namespace they would collide at link time with the functions the system GL library
// exports (the texture upload calls those directly). This header never includes <GL/gl.h>; it
// declares the GL types and constants the program uses, with the same values.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

// (Skeleton: the GL binding fills this in.)
namespace GLBind {

typedef unsigned int GLenum;
typedef unsigned int GLbitfield;
typedef unsigned int GLuint;
typedef int GLint;
typedef int GLsizei;
typedef float GLfloat;
typedef float GLclampf;
typedef double GLdouble;

enum RenderingContextOption : uint8_t { DoubleBuffer = 1, GdiSupport = 2, Stereo = 4 };
typedef uint8_t RenderingContextOptions;

bool LoadGLLibraries(const char* glName, const char* gluName);
HGLRC CreateGLContext(HDC dc, RenderingContextOptions options, int colorBits, int depthBits,
                      int stencilBits, int accumBits, int auxBuffers, int layer);
void ActivateGLContext(HDC dc, HGLRC rc, bool loadExtensions);
void DeactivateGLContext();

}  // namespace GLBind
