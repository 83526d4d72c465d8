#pragma once
#include <cstdint>
#include <string>

#include "common/image_io.h"
#include "common/view_geometry.h"

namespace vornik {

enum class BlurKind { kNone, kBox, kGaussian };

// How a synthetic camera frame is made. Image effects are applied to the
// whole frame in this order: blur, contrast and brightness, noise, rounding
// to 8 bits, JPEG re-compression.
struct ViewOptions {
  CameraModel camera;  // frame size; the camera model follows from it
  // Photo behind the target (any size, 1 or 3 channels): scaled to cover the
  // frame and centre-cropped; pass makeClutter's image for a busy scene.
  // Null gives a flat mid-grey background.
  const Image* background = nullptr;
  BlurKind blur = BlurKind::kNone;
  double blurRadius = 0.0;  // box: half window in pixels (window 2r+1); Gaussian: sigma
  double contrast = 1.0;    // gain about grey level 128
  double brightness = 0.0;  // grey levels added
  double noiseSigma = 0.0;  // Gaussian noise, grey levels, independent per byte
  int jpegQuality = 0;      // 1..100 re-compresses the frame; 0 leaves it
  uint32_t seed = 1;        // noise seed; same seed, same frame
};

struct RenderedView {
  Image frame;  // 3 channels, BGR, camera.width x camera.height
  FrameTruth truth;
};

// Renders the target (1 or 3 channels) seen from `cameraFromTarget`. Every
// frame pixel is mapped back onto the target plane and sampled bilinearly;
// where the target is minified a mip level is blended in and the pixel is
// supersampled, so that far views do not alias. Returns false with a
// one-line reason for bad input (empty images, bad sizes or option values).
bool renderView(const Image& target, const PoseMatrix& cameraFromTarget, const ViewOptions& options,
                RenderedView* view, std::string* error);

// Photo scaled (bilinear, area-averaged when shrinking) to cover width x
// height, centre-cropped, as 3 channels.
Image fitBackground(const Image& photo, int width, int height);

// Deterministic busy scene of shapes, stripes and blotches for use as a
// background full of distracting corners.
Image makeClutter(int width, int height, uint32_t seed);

}  // namespace vornik
