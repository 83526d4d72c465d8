#pragma once
#include <cstdint>

#include "vornik/vornik.h"

namespace vornik {

// Video background: listens to the camera like the AR manager does and shows
// the newest frame behind the host's content. This base holds the screen state
// and the quad geometry; the drawing lives in the OpenGL subclass.
class Renderer : public CameraPreviewCallback {
 public:
  ~Renderer() override = default;

  virtual void setPortrait(bool portrait) { portraitMode_ = portrait; }
  // Forgets the background texture so that it is created again in the
  // current GL context.
  virtual void initRendering() = 0;
  virtual void updateRendering(int32_t width, int32_t height) = 0;
  virtual void stopRendering() = 0;
  virtual void renderVideoBackground() = 0;
  // Uploads the newest frame into the host's texture `textureId`.
  virtual void updateVideoBackground(int32_t textureId) = 0;
  // Copies the newest frame, width x height x 3 bytes, into `out`.
  virtual void getVideoFrame(uint8_t* /*out*/) {}
  // Screen-centred quad in pixels and the fill scale that makes the frame
  // cover the whole screen (the overflow in one direction is cut off), for
  // the present screen size, orientation and frame size.
  virtual void updateGeometry();

  float fillScaleX() const { return fillScaleX_; }
  float fillScaleY() const { return fillScaleY_; }
  // Corner k is (quadVertices()[2k], quadVertices()[2k + 1]).
  const float* quadVertices() const { return quadVertices_; }

 protected:
  static constexpr int kQuadIndexCount = 6;
  static const uint8_t kQuadIndices[kQuadIndexCount];
  // Per corner, in vertex order: the first frame row (t = 0) is at the top.
  static const float kTextureCoords[8];

  int32_t screenWidth_ = 0;
  int32_t screenHeight_ = 0;
  bool portraitMode_ = false;
  // Size of the frame the rendering thread works with.
  int32_t frameWidth_ = 0;
  int32_t frameHeight_ = 0;
  int32_t frameByteSize_ = 0;
  float fillScaleX_ = 1.0f;
  float fillScaleY_ = 1.0f;
  float quadVertices_[8] = {};
  bool geometryReady_ = false;

  // False once the screen size, the orientation or the frame size differs
  // from what the last updateGeometry saw.
  bool geometryCurrent() const;

 private:
  struct GeometryInputs {
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    bool portrait = false;
  };
  GeometryInputs presentInputs() const;

  GeometryInputs geometryInputs_;
};

}  // namespace vornik
