#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "camera/camera_device.h"
#include "camera/capture_frame_filter.h"
#include "camera/capture_plugin_loader.h"
#include "platform/threads.h"

namespace vornik {

// The camera of this platform: a capture thread that pulls frames from the
// capture plug-in (loaded at run time from the library's folder, once per
// process), paces them at most one per 30 ms and dispatches them to the
// listeners as 3-byte blue-green-red pixels.
class PluginCamera : public CameraDevice {
 public:
  // The process-wide camera, created on first use and kept until unload.
  static std::shared_ptr<PluginCamera> getInstance();

  PluginCamera();
  // Stops and joins a running capture thread.
  ~PluginCamera() override;
  PluginCamera(const PluginCamera&) = delete;
  PluginCamera& operator=(const PluginCamera&) = delete;

  // Recorded only: the source opens at its own default size.
  void setRequestedSize(int32_t width, int32_t height) override;
  // Unless a capture thread runs: loads the plug-in on the calling thread
  // and starts the capture thread. A failed creation is logged and the next
  // start tries again.
  void start() override;
  // Stops and joins the capture thread; clears the preview and requested
  // sizes. Uses nothing that static destruction at exit takes away, so an
  // exit handler may call it.
  void stop() override;
  int32_t getPreviewWidth() const override { return previewWidth_.load(); }
  int32_t getPreviewHeight() const override { return previewHeight_.load(); }
  double getScale() const override { return 1.0; }
  int32_t getBitsPerPixel() const override { return bitsPerPixel_; }
  int32_t getFrameFormat() const override { return 0; }

  // Source the next start opens: "0" (the default) is the first camera;
  // otherwise a device index, a video file or an image-sequence pattern.
  void setSource(const std::string& source);
  std::string getSource() const;
  // Plug-in file to load; empty (the default) means the one next to the
  // library.
  void setPluginPath(const std::string& path);
  int32_t getRequestedWidth() const { return requestedWidth_.load(); }
  int32_t getRequestedHeight() const { return requestedHeight_.load(); }

 private:
  static void* runCaptureLoop(void* camera);
  void captureLoop();

  std::atomic<int32_t> requestedWidth_{0};
  std::atomic<int32_t> requestedHeight_{0};
  // Written by the capture thread, read by the host without a lock.
  std::atomic<int32_t> previewWidth_{0};
  std::atomic<int32_t> previewHeight_{0};
  const int32_t bitsPerPixel_ = 24;

  // Serialises start and stop from several host threads; nothing is logged
  // while it is held.
  std::mutex controlMutex_;
  ThreadHandle captureThread_{};
  // 0 while a capture thread exists; -1 before the first start and after a
  // join; the error number when the last creation failed.
  int32_t threadStartResult_ = -1;
  std::atomic<bool> keepCapturing_{true};

  // Set by start() before the capture thread is created; then read by that
  // thread only.
  CapturePlugin plugin_;
  std::string captureSource_;
  // Capture thread only.
  CaptureFrameFilter frameFilter_;

  mutable std::mutex settingsMutex_;
  std::string source_ = "0";
  std::string pluginPath_;
};

}  // namespace vornik
