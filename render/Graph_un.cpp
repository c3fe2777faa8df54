// The screen: its rendering context, the frame's projection, drawing a picture, and the texture
// table.
#include "render/Graph_un.h"

#include <algorithm>
#include <cmath>

#include "app/Util_un.h"
#include "bind/Exceptions.h"
#include "bind/GLBind.h"
#include "render/GlyphAtlas.h"
#include "render/Textures.h"

using namespace GLBind;

CGLScreen* GLScreen = nullptr;

namespace {

void ReportMissingTexture(const std::string& fileName) {
  if (DataPathHoldsNoFile(fileName)) {
    WriteErrorLine("createTexture: " + fileName + ": not a regular file");
    return;
  }
  std::string places;
  const std::vector<std::string> tried = DataPathPlaces(fileName);
  for (size_t i = 0; i < tried.size(); ++i)
    places += (i == 0 ? "" : i + 1 == tried.size() ? " and " : ", ") + tried[i];
  WriteErrorLine("createTexture: " + fileName + ": not found; looked for " + places);
}

bool TextureEndingLoads(const std::string& lowerName) {
  for (const std::string& ending : TextureFileEndings())
    if (lowerName.size() >= ending.size() &&
        lowerName.compare(lowerName.size() - ending.size(), ending.size(), ending) == 0)
      return true;
  return false;
}

std::string TextureEndingsText() {
  const std::vector<std::string>& endings = TextureFileEndings();
  std::string text = "textures load from files ending in ";
  for (size_t i = 0; i < endings.size(); ++i)
    text += (i == 0 ? "" : i + 1 == endings.size() ? " or " : ", ") + endings[i];
  return text;
}

}  // namespace

CGLScreen::CGLScreen(HWND windowHandle) : WindowHandle(windowHandle) {
  UpdateClientSize();
  // Every step after this one calls into the library; without it they would call nothing.
  if (!LoadGLLibraries(GLLibraryName, GLULibraryName))
    throw Exception(std::string("Cannot load the OpenGL libraries \"") + GLLibraryName +
                    "\" and \"" + GLULibraryName + "\"");
  DeviceContext = GetDC(WindowHandle);
  try {
    RenderContext =
        CreateGLContext(DeviceContext, DoubleBuffer, ScreenColorBits, ScreenDepthBits,
                        ScreenStencilBits, ScreenAccumBits, ScreenAuxBuffers, ScreenLayer);
    ActivateGLContext(DeviceContext, RenderContext, true);
  } catch (...) {
    // No destructor runs for a screen that was never made: give back what it already holds.
    if (RenderContext) GLBind::wglDeleteContext(RenderContext);
    if (DeviceContext) ReleaseDC(WindowHandle, DeviceContext);
    throw;
  }
  glEnable(GL_CULL_FACE);
  glDisable(GL_DEPTH_TEST);
  glClearColor(0, 0, 0, 0);
  glEnable(GL_TEXTURE_2D);
  // These act on the default texture object 0 only; the loaders' opaque textures keep GL_REPEAT,
  // their alpha ones clamp.
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  // Alpha textures hold premultiplied colours. Blending itself stays off but for their pictures.
  glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
}

CGLScreen::~CGLScreen() {
  // The atlases' textures go while their context is still current.
  ClearText();
  try {
    DeactivateGLContext();
  } catch (...) {
    // Nothing current any more or not: the context goes either way, and a destructor must not
    // throw.
  }
  GLBind::wglDeleteContext(RenderContext);
  ReleaseDC(WindowHandle, DeviceContext);
}

void CGLScreen::UpdateClientSize() {
  RECT rect = {0, 0, 0, 0};
  GetClientRect(WindowHandle, &rect);
  ClientWidth = float(rect.right - rect.left);
  ClientHeight = float(rect.bottom - rect.top);
  SetSceneRect(0, 0, int32_t(rect.right - rect.left), int32_t(rect.bottom - rect.top));
}

void CGLScreen::SetSceneRect(int32_t left, int32_t top, int32_t width, int32_t height) {
  SceneLeft = left;
  SceneTop = top;
  SceneWidth = float(width);
  SceneHeight = float(height);
}

void CGLScreen::BeginFrame() {
  // Its own context, whatever a message box or another screen made current meanwhile; and a
  // window that another program destroyed is noticed here, before anything is drawn into it.
  if (GLBind::wglMakeCurrent) GLBind::wglMakeCurrent(DeviceContext, RenderContext);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  // OpenGL counts the viewport's corner from the window's bottom left.
  glViewport(GLint(SceneLeft), GLint(std::lround(ClientHeight - SceneTop - SceneHeight)),
             GLsizei(std::lround(SceneWidth)), GLsizei(std::lround(SceneHeight)));
  glOrtho(0.0, double(LogicalWidth), 0.0, double(LogicalHeight), -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  // The clear must reach the whole window, whatever the last frame cut its drawing to.
  SetClip(nullptr);
  UntexturedBound = false;
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void CGLScreen::EndFrame() {
  SetBlending(false);
  SetClip(nullptr);
  SwapBuffers(DeviceContext);
}

// Switched only where a picture of an alpha texture follows an opaque one or the other way
// round, so that a run of alpha pictures pays for one switch and a scene of opaque ones for none.
void CGLScreen::SetBlending(bool on) {
  if (on == Blending) return;
  if (on)
    glEnable(GL_BLEND);
  else
    glDisable(GL_BLEND);
  Blending = on;
}

void CGLScreen::ApplyClip(const TFloatRect* rect) {
  if (rect == nullptr) {
    if (Clipping) glDisable(GL_SCISSOR_TEST);
    Clipping = false;
    return;
  }
  if (Clipping && rect->Left == ClipRect.Left && rect->Top == ClipRect.Top &&
      rect->Width == ClipRect.Width && rect->Height == ClipRect.Height)
    return;
  // The viewport spreads the logical screen over the scene's rectangle; the scissor box counts
  // device pixels from the window's bottom left.
  const double scaleX = double(SceneWidth) / LogicalWidth;
  const double scaleY = double(SceneHeight) / LogicalHeight;
  const long originX = SceneLeft;
  const long originY = std::lround(ClientHeight - SceneTop - SceneHeight);
  const long left = originX + std::lround(rect->Left * scaleX);
  const long right = originX + std::lround((rect->Left + rect->Width) * scaleX);
  const long bottom = originY + std::lround((LogicalHeight - rect->Top - rect->Height) * scaleY);
  const long top = originY + std::lround((LogicalHeight - rect->Top) * scaleY);
  glScissor(GLint(left), GLint(bottom), GLsizei(std::max(0L, right - left)),
            GLsizei(std::max(0L, top - bottom)));
  if (!Clipping) glEnable(GL_SCISSOR_TEST);
  Clipping = true;
  ClipRect = *rect;
}

void CGLScreen::DrawQuad(const TFloatRect& dest, const TFloatRect& source) {
  // Logical y grows downwards, OpenGL's upwards; texture t = 1 is the image's top row since the
  // loaders hand images over bottom row first.
  const float height = float(LogicalHeight);
  float leftX = dest.Left;
  float rightX = dest.Left + dest.Width;
  float topY = height - dest.Top;
  float bottomY = height - dest.Top - dest.Height;
  if (Scale != 1) {
    // Edges on whole device pixels, round(scale * x), as at scale 1 whole units are: a fraction
    // of a pixel would otherwise fall to whichever side the rasteriser's rule for pixel centres
    // gives it, and neighbouring nodes could leave a gap or overlap by a pixel.
    const float unitsX = SceneWidth / float(LogicalWidth);
    const float unitsY = SceneHeight / float(LogicalHeight);
    leftX = std::round(leftX * unitsX) / unitsX;
    rightX = std::round(rightX * unitsX) / unitsX;
    topY = std::round(topY * unitsY) / unitsY;
    bottomY = std::round(bottomY * unitsY) / unitsY;
  }
  const float leftS = source.Left;
  const float rightS = source.Left + source.Width;
  const float topT = 1 - source.Top;
  const float bottomT = 1 - source.Top - source.Height;

  // Counter-clockwise for positive sizes, so the quad faces the viewer and survives culling.
  glBegin(GL_QUADS);
  glTexCoord2f(leftS, topT);
  glVertex3f(leftX, topY, 0);
  glTexCoord2f(leftS, bottomT);
  glVertex3f(leftX, bottomY, 0);
  glTexCoord2f(rightS, bottomT);
  glVertex3f(rightX, bottomY, 0);
  glTexCoord2f(rightS, topT);
  glVertex3f(rightX, topY, 0);
  glEnd();
}

void CGLScreen::DrawPicture(const TGLTexture& texture, const TFloatRect& dest,
                            const TFloatRect& source, float opacity) {
  const bool faded = opacity < 1;
  SetBlending(texture.HasAlpha || faded);
  glBindTexture(GL_TEXTURE_2D, texture.TextureId);
  UntexturedBound = false;
  if (Scale != 1 && texture.TextureId != 0) SampleForScale(texture, source);
  // The texture's colours are premultiplied, so scaling all four by the opacity fades them.
  if (faded) glColor4f(opacity, opacity, opacity, opacity);
  DrawQuad(dest, source);
  // Pictures without an image draw in the current colour: it is white for them again.
  if (faded) glColor4f(1, 1, 1, 1);
}

void CGLScreen::SampleForScale(const TGLTexture& texture, const TFloatRect& source) {
  // Alpha textures clamp always. An opaque one repeats for pictures that tile it; but a picture
  // cut from inside it, scaled, is filtered across its edges, and repeating there would blend
  // in texels of the opposite edge.
  if (texture.HasAlpha) return;
  const float s0 = std::min(source.Left, source.Left + source.Width);
  const float s1 = std::max(source.Left, source.Left + source.Width);
  const float t0 = std::min(source.Top, source.Top + source.Height);
  const float t1 = std::max(source.Top, source.Top + source.Height);
  const bool inside = s0 >= 0 && t0 >= 0 && s1 <= 1 && t1 <= 1;
  if (inside == texture.Clamped) return;
  const GLint wrap = inside ? GL_CLAMP_TO_EDGE : GL_REPEAT;
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
  texture.Clamped = inside;
}

void CGLScreen::DrawFill(const TFloatRect& dest, const float color[4], float opacity) {
  const float alpha = color[3] * opacity;
  SetBlending(alpha < 1);
  // Texture object 0 holds no image, so the quad takes the current colour alone. A run of
  // fills binds it once.
  if (!UntexturedBound) glBindTexture(GL_TEXTURE_2D, 0);
  UntexturedBound = true;
  glColor4f(color[0] * alpha, color[1] * alpha, color[2] * alpha, alpha);
  DrawQuad(dest, TFloatRect{0, 0, 1, 1});
  glColor4f(1, 1, 1, 1);
}

int32_t CGLScreen::AddTexture(const std::string& fileName, float width, float height) {
  UntexturedBound = false;  // the loader binds the new texture
  const int32_t index = int32_t(TextureTable.size());
  TextureTable.emplace_back();
  const std::string path = ResolveDataPath(fileName);
  // The name is kept lower-cased and chooses the loader, but the file is opened under the name
  // it has, since names differ by case here.
  const std::string lowerName = AnsiLowerCase(path);
  TextureTable[index].FileName = lowerName;
  TextureTable[index].Path = path;
  TextureTable[index].Width = width;
  TextureTable[index].Height = height;
  // While a loader's message box is open, ticks and mouse events keep arriving, and a script
  // handler may add textures meanwhile and move the table: the new name is stored by index
  // afterwards, never through a reference taken before.
  if (path.empty())
    ReportMissingTexture(fileName);
  else if (!TextureEndingLoads(lowerName))
    WriteErrorLine("createTexture: " + path + ": no loader takes this name's ending; " +
                   TextureEndingsText());
  uint32_t textureId = 0;
  bool hasAlpha = false;
  LoadTextureFile(lowerName, path, textureId, hasAlpha, &TextureMemory);
  TextureTable[index].TextureId = textureId;
  TextureTable[index].HasAlpha = hasAlpha;
  if (textureId != 0 && Scale < 1) {
    // Shrunk pictures sample the mipmaps the upload built: from the base level alone, a picture
    // drawn smaller than its texels shimmers and loses thin lines.
    glBindTexture(GL_TEXTURE_2D, textureId);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  }
  return index;
}

void CGLScreen::ClearTextures() {
  std::vector<GLuint> names;
  for (const TGLTexture& texture : TextureTable)
    if (texture.TextureId != 0) names.push_back(texture.TextureId);
  if (!names.empty()) glDeleteTextures(GLsizei(names.size()), names.data());
  std::vector<TGLTexture>().swap(TextureTable);
  TextureMemory.Used = 0;
}

const TGLTexture* CGLScreen::GetTexture(int32_t index) const {
  if (index < 0 || size_t(index) >= TextureTable.size()) return nullptr;
  return &TextureTable[size_t(index)];
}
