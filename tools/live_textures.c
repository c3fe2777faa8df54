/* Loaded into the program with LD_PRELOAD by tools/watch_growth.py: after every frame it writes
 * how many texture objects are alive to the file named by $KESTRUNE_LIVE_TEXTURES. The program
 * makes its textures through the GL library it links (glGenTextures) and shows its frames
 * through glXSwapBuffers; both are looked up here first. Names are counted with glIsTexture,
 * up to the highest name ever given out, so deletions made by any path are seen. */
#define _GNU_SOURCE
#include <GL/gl.h>
#include <GL/glx.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static GLuint highest;

void glGenTextures(GLsizei n, GLuint* names) {
  static void (*real)(GLsizei, GLuint*);
  if (!real) real = (void (*)(GLsizei, GLuint*))dlsym(RTLD_NEXT, "glGenTextures");
  real(n, names);
  for (GLsizei i = 0; i < n; ++i)
    if (names[i] > highest) highest = names[i];
}

void glXSwapBuffers(Display* display, GLXDrawable drawable) {
  static void (*real)(Display*, GLXDrawable);
  static GLboolean (*isTexture)(GLuint);
  static int fd = -2;
  if (!real) {
    real = (void (*)(Display*, GLXDrawable))dlsym(RTLD_NEXT, "glXSwapBuffers");
    isTexture = (GLboolean(*)(GLuint))dlsym(RTLD_NEXT, "glIsTexture");
  }
  if (fd == -2) {
    const char* path = getenv("KESTRUNE_LIVE_TEXTURES");
    fd = path ? open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
  }
  if (fd >= 0 && isTexture) {
    unsigned live = 0;
    for (GLuint name = 1; name <= highest; ++name) live += isTexture(name) ? 1 : 0;
    char text[32];
    int length = snprintf(text, sizeof text, "%10u\n", live);
    if (pwrite(fd, text, (size_t)length, 0) < 0) {
      /* nothing to do: the figure is simply not updated */
    }
  }
  real(display, drawable);
}
