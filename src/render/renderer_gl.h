#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "manager/throttled_log.h"
#include "render/renderer.h"

namespace vornik {

// Video background drawn with the OpenGL 1.x fixed-function pipeline.
// onPreviewFrame runs on the capture thread; everything else runs on the
// host's rendering thread, which owns the GL context.
class RendererGL : public Renderer {
 public:
  // The process-wide renderer, created on first use and kept until unload.
  static std::shared_ptr<RendererGL> getInstance();

  RendererGL();
  ~RendererGL() override;
  RendererGL(const RendererGL&) = delete;
  RendererGL& operator=(const RendererGL&) = delete;

  // Keeps a copy of the frame as 3-byte blue-green-red pixels; grey frames
  // (pixelFormat 1) are widened to that layout. Refused frames are logged at
  // most once a second.
  void onPreviewFrame(const uint8_t* data, int32_t byteSize, int32_t width, int32_t height,
                      int32_t pixelFormat) override;
  // The host's GL context is new: the texture is made again in it. The old
  // name is forgotten, not deleted (see createTexture).
  void initRendering() override;
  void updateRendering(int32_t width, int32_t height) override;
  void stopRendering() override {}
  void renderVideoBackground() override;
  void updateVideoBackground(int32_t textureId) override;
  void getVideoFrame(uint8_t* out) override;

 private:
  // Takes the newest frame over into the rendering thread's buffer; false
  // while no frame has arrived.
  bool composeFrame();
  void createTexture();
  void drawBackground();

  // Guarded by frameMutex_: the newest frame as written by the capture thread.
  std::mutex frameMutex_;
  std::vector<uint8_t> frameBuffer_;
  int32_t newestWidth_ = 0;
  int32_t newestHeight_ = 0;

  // Rendering thread only.
  std::vector<uint8_t> uploadBuffer_;
  uint32_t textureName_ = 0;
  bool textureReady_ = false;
  int32_t textureWidth_ = 0;
  int32_t textureHeight_ = 0;

  // Complaints that a bad source or host repeats with every frame.
  ThrottledLog framelessLog_;
  ThrottledLog badFrameLog_;
  ThrottledLog nullOutputLog_;
};

}  // namespace vornik
