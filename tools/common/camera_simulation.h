#pragma once
#include <cstdint>
#include <string>

#include "common/image_io.h"
#include "common/synthetic_view.h"
#include "common/view_geometry.h"

namespace vornik {

// What a real handheld camera does to a scene, in the order light meets it:
// the lens (mild radial distortion, defocus), the shake during the exposure
// (linear motion blur), uneven light on the scene and lens fall-off, the
// sensor (a Bayer colour mosaic with signal-dependent noise), then the
// camera's own processing (demosaic, JPEG). Written apart from the builder's
// training renderer and from renderView, so that an evaluation on its frames
// does not grade the builder on its own drawing.
struct CameraEffects {
  CameraModel camera;  // frame size; focal length and principal point follow
  // Photo behind the target (any size, 1 or 3 channels), or null for a flat
  // mid-grey wall. The photo is scaled to cover the frame, then zoomed by
  // `backgroundZoom` (>= 1) and shifted by `backgroundShiftX/Y` (shares of
  // the free range, -1 .. 1), so one photo gives many different scenes.
  const Image* background = nullptr;
  double backgroundZoom = 1.0;
  double backgroundShiftX = 0.0;
  double backgroundShiftY = 0.0;
  // Samples per frame pixel along each axis, area-averaged: minified targets
  // are integrated over the pixel footprint, not point-sampled.
  int supersampling = 4;
  // Radial distortion of the lens, r' = r (1 + k1 r^2) with r in units of
  // the focal length; mild lenses have |k1| up to about 0.05.
  double radialK1 = 0.0;
  double defocusSigma = 0.0;    // Gaussian blur of the optics, frame pixels
  double motionLength = 0.0;    // linear motion blur over the exposure, pixels
  double motionAngleDeg = 0.0;  // its direction in the frame
  // Illumination: the scene's light falls off linearly across the frame by
  // up to `lightGradient` (share of the mean) along `lightAngleDeg`;
  // vignetting darkens the frame corners by `vignetting` (share) with cos^4
  // shape; `exposure` scales everything (1 keeps the scene's mean level).
  double lightGradient = 0.0;
  double lightAngleDeg = 0.0;
  double vignetting = 0.0;
  double exposure = 1.0;
  // Sensor noise in grey levels of the 8-bit output: a read-noise floor plus
  // shot noise whose variance grows with the signal (variance =
  // readNoise^2 + shotNoise * signal).
  double readNoise = 0.0;
  double shotNoise = 0.0;
  bool bayer = true;    // RGGB mosaic sampled, then demosaiced bilinearly
  int jpegQuality = 0;  // 1..100 encodes and decodes the frame; 0 leaves it
  uint32_t seed = 1;    // noise; the same seed gives the same frame
};

// Renders the target (1 or 3 channels; may be null for a target-free frame)
// seen from `cameraFromTarget`, with the effects above. `view->truth` holds
// the target's pinhole projection (what the library's camera model should
// recover; distortion is part of what it must cope with). False with a
// one-line reason for bad input (empty images, bad sizes or option values).
bool renderCameraView(const Image* target, const PoseMatrix& cameraFromTarget,
                      const CameraEffects& effects, RenderedView* view, std::string* error);

// A plausible handheld phone camera drawn from `seed`: defocus 0-1.2 px,
// motion 0-2.5 px, light gradient 0-35 %, vignetting 10-35 %, exposure
// 0.75-1.15, read noise 1-3, shot noise 0.2-0.8, k1 -0.04..0.04, JPEG
// 70-90, background zoom 1-2 and any shift; the background pointer and the
// frame size are left to the caller.
CameraEffects randomCameraEffects(uint32_t seed, const CameraModel& camera);

}  // namespace vornik
