#include "render/renderer.h"

#include <utility>

namespace vornik {

const uint8_t Renderer::kQuadIndices[kQuadIndexCount] = {0, 1, 2, 2, 1, 3};
const float Renderer::kTextureCoords[8] = {0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, 0.0f};

Renderer::GeometryInputs Renderer::presentInputs() const {
  return {screenWidth_, screenHeight_, frameWidth_, frameHeight_, portraitMode_};
}

bool Renderer::geometryCurrent() const {
  const GeometryInputs now = presentInputs();
  return geometryReady_ && now.screenWidth == geometryInputs_.screenWidth &&
         now.screenHeight == geometryInputs_.screenHeight &&
         now.frameWidth == geometryInputs_.frameWidth &&
         now.frameHeight == geometryInputs_.frameHeight && now.portrait == geometryInputs_.portrait;
}

void Renderer::updateGeometry() {
  geometryInputs_ = presentInputs();
  int32_t a = screenWidth_;
  int32_t b = screenHeight_;
  // In portrait the quad is laid out landscape and turned by the model-view.
  if (portraitMode_) std::swap(a, b);
  const float left = static_cast<float>(-a) * 0.5f;
  const float right = static_cast<float>(a) * 0.5f;
  const float bottom = static_cast<float>(-b) * 0.5f;
  const float top = static_cast<float>(b) * 0.5f;
  const float vertices[8] = {left, bottom, left, top, right, bottom, right, top};
  for (int i = 0; i < 8; ++i) quadVertices_[i] = vertices[i];

  if (a <= 0 || b <= 0 || frameWidth_ <= 0 || frameHeight_ <= 0) {
    fillScaleX_ = 1.0f;
    fillScaleY_ = 1.0f;
    return;
  }
  const float screenAspect = static_cast<float>(a) / static_cast<float>(b);
  const float frameAspect = static_cast<float>(frameWidth_) / static_cast<float>(frameHeight_);
  if (frameAspect > screenAspect) {
    fillScaleX_ = frameAspect / screenAspect;
    fillScaleY_ = 1.0f;
  } else {
    fillScaleX_ = 1.0f;
    fillScaleY_ = screenAspect / frameAspect;
  }
}

}  // namespace vornik
