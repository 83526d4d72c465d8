#pragma once
#include <cstdint>
#include <vector>

#include "builder/view_homography.h"
#include "common/image_io.h"

namespace vornik {

// Image effects of one training view, applied in this order: contrast and
// brightness, blur, noise.
struct TrainingEffects {
  double contrast = 1.0;    // gain about grey level 128
  double brightness = 0.0;  // grey levels added
  double blurSigma = 0.0;   // Gaussian blur; 0 for none
  double noiseSigma = 0.0;  // Gaussian noise in grey levels
  uint32_t seed = 1;
};

// Grey camera frames of one target for the stability training: the many
// views a target is trained on must be cheap, so this renderer works on grey
// only, keeps the target's mip chain across views and takes one trilinear
// sample per pixel (the toolkit's colour renderer supersamples every pixel
// and is used to check this one).
class TrainingRenderer {
 public:
  // `target`: 1-channel image. Frames are width x height.
  TrainingRenderer(const Image& target, int width, int height);

  // Renders the target through `frameToTarget` (frame pixel -> target pixel)
  // over `background` (1 channel, frame size; null: flat grey 128).
  void render(const Homography& frameToTarget, const Image* background,
              const TrainingEffects& effects, Image* frame);

 private:
  float sample(float x, float y, float level) const;

  int width_;
  int height_;
  std::vector<Image> mips_;
  std::vector<float> work_;
  std::vector<float> blurred_;
};

}  // namespace vornik
