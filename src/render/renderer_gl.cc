#include "render/renderer_gl.h"

#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif
#include <GL/gl.h>

namespace vornik {
namespace {

// Blue-green-red source layout of the camera frames (GL 1.2, same value as
// the EXT token); named here because Windows' gl.h stops at GL 1.1.
constexpr GLenum kGlBgrExt = 0x80E0;
constexpr int kBytesPerPixel = 3;
constexpr int32_t kPixelFormatBgr = 0;
constexpr int32_t kPixelFormatGray = 1;

}  // namespace

std::shared_ptr<RendererGL> RendererGL::getInstance() {
  // Never destroyed: a capture thread may still deliver frames while the
  // process exits.
  static auto* instance = new std::shared_ptr<RendererGL>(std::make_shared<RendererGL>());
  return *instance;
}

RendererGL::RendererGL() = default;

RendererGL::~RendererGL() = default;

void RendererGL::onPreviewFrame(const uint8_t* data, int32_t byteSize, int32_t width,
                                int32_t height, int32_t pixelFormat) {
  if (data == nullptr || width <= 0 || height <= 0) {
    framelessLog_.log("Renderer: frame without pixels ignored\n");
    return;
  }
  const int64_t pixels = static_cast<int64_t>(width) * height;
  const int64_t needed = pixelFormat == kPixelFormatGray ? pixels : pixels * kBytesPerPixel;
  if ((pixelFormat != kPixelFormatBgr && pixelFormat != kPixelFormatGray) || byteSize < needed) {
    badFrameLog_.log("Renderer: frame %dx%d with %d bytes in pixel format %d ignored\n", width,
                     height, byteSize, pixelFormat);
    return;
  }
  std::lock_guard<std::mutex> lock(frameMutex_);
  if (width != newestWidth_ || height != newestHeight_) {
    frameBuffer_.assign(static_cast<size_t>(pixels) * kBytesPerPixel, 0);
    newestWidth_ = width;
    newestHeight_ = height;
  }
  if (pixelFormat == kPixelFormatBgr) {
    std::memcpy(frameBuffer_.data(), data, static_cast<size_t>(pixels) * kBytesPerPixel);
  } else {
    uint8_t* out = frameBuffer_.data();
    for (int64_t i = 0; i < pixels; ++i) {
      out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = data[i];
    }
  }
}

bool RendererGL::composeFrame() {
  std::lock_guard<std::mutex> lock(frameMutex_);
  if (newestWidth_ == 0 || newestHeight_ == 0) return false;
  // The upload buffer belongs to the rendering thread, so a size change on the
  // capture thread never frees memory that GL is reading.
  uploadBuffer_ = frameBuffer_;
  frameWidth_ = newestWidth_;
  frameHeight_ = newestHeight_;
  frameByteSize_ = static_cast<int32_t>(uploadBuffer_.size());
  return true;
}

void RendererGL::initRendering() { textureReady_ = false; }

void RendererGL::updateRendering(int32_t width, int32_t height) {
  screenWidth_ = width;
  screenHeight_ = height;
}

void RendererGL::createTexture() {
  // A texture of an earlier frame size in this context is deleted once its
  // successor exists (so the two names differ). After initRendering the old
  // name may come from a destroyed context and could name one of the host's
  // textures in the new one, so it is only forgotten.
  const GLuint replaced = textureReady_ ? textureName_ : 0;
  glEnable(GL_TEXTURE_2D);
  GLuint name = 0;
  glGenTextures(1, &name);
  textureName_ = name;
  glBindTexture(GL_TEXTURE_2D, textureName_);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glTexCoordPointer(2, GL_FLOAT, 0, kTextureCoords);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, static_cast<GLfloat>(GL_LINEAR));
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, static_cast<GLfloat>(GL_LINEAR));
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, frameWidth_, frameHeight_, 0, kGlBgrExt, GL_UNSIGNED_BYTE,
               nullptr);
  textureWidth_ = frameWidth_;
  textureHeight_ = frameHeight_;
  if (replaced != 0) glDeleteTextures(1, &replaced);
}

void RendererGL::drawBackground() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  const int32_t halfWidth = screenWidth_ / 2;
  const int32_t halfHeight = screenHeight_ / 2;
  glOrtho(-halfWidth, halfWidth, -halfHeight, halfHeight, -1.0, 1.0);

  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  if (portraitMode_) glRotatef(-90.0f, 0.0f, 0.0f, 1.0f);
  glScalef(fillScaleX_, fillScaleY_, 1.0f);

  glDisable(GL_DEPTH_TEST);
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(2, GL_FLOAT, 0, quadVertices_);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, textureName_);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glTexCoordPointer(2, GL_FLOAT, 0, kTextureCoords);
  // The host may have changed the unpack alignment since the texture was made.
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, frameWidth_, frameHeight_, kGlBgrExt, GL_UNSIGNED_BYTE,
                  uploadBuffer_.data());
  glDrawElements(GL_TRIANGLES, kQuadIndexCount, GL_UNSIGNED_BYTE, kQuadIndices);
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_DEPTH_TEST);
}

void RendererGL::renderVideoBackground() {
  if (screenWidth_ <= 0 || screenHeight_ <= 0) return;
  if (!composeFrame()) return;
  // A new frame size needs a texture of that size.
  if (!textureReady_ || textureWidth_ != frameWidth_ || textureHeight_ != frameHeight_) {
    createTexture();
    textureReady_ = true;
  }
  // A resized or turned screen, or frames of another shape, need a new quad
  // and fill scale.
  if (!geometryCurrent()) {
    updateGeometry();
    geometryReady_ = true;
  }
  drawBackground();
}

void RendererGL::updateVideoBackground(int32_t textureId) {
  if (!composeFrame()) return;
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(textureId));
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, frameWidth_, frameHeight_, kGlBgrExt, GL_UNSIGNED_BYTE,
                  uploadBuffer_.data());
}

void RendererGL::getVideoFrame(uint8_t* out) {
  if (out == nullptr) {
    nullOutputLog_.log("getVideoFrame: null output buffer\n");
    return;
  }
  if (!composeFrame()) return;
  std::memcpy(out, uploadBuffer_.data(),
              static_cast<size_t>(frameWidth_) * frameHeight_ * kBytesPerPixel);
}

}  // namespace vornik
