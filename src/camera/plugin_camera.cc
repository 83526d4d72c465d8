#include "camera/plugin_camera.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "manager/log.h"

namespace vornik {
namespace {

// Sleep after every query, frame or not: at most about 33 frames a second.
constexpr std::chrono::milliseconds kCapturePacing(30);

}  // namespace

std::shared_ptr<PluginCamera> PluginCamera::getInstance() {
  // Never destroyed, like the listeners it feeds.
  static auto* instance = new std::shared_ptr<PluginCamera>(std::make_shared<PluginCamera>());
  return *instance;
}

PluginCamera::PluginCamera() = default;

PluginCamera::~PluginCamera() { stop(); }

void PluginCamera::setRequestedSize(int32_t width, int32_t height) {
  requestedWidth_ = width;
  requestedHeight_ = height;
}

void PluginCamera::start() {
  {
    std::lock_guard<std::mutex> lock(controlMutex_);
    if (threadStartResult_ == 0) return;
  }
  std::string source;
  std::string pluginPath;
  {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    source = source_;
    pluginPath = pluginPath_.empty() ? defaultCapturePluginPath() : pluginPath_;
  }
  // On the host thread, so that the plug-in is in the process when start()
  // returns: an exit handler registered after it runs before the plug-in's
  // own clean-up. A failure is logged here, outside every lock; without a
  // plug-in the loop still runs, so that start, stop and the release message
  // behave the same, it just never has a frame.
  const CapturePlugin plugin = loadCapturePlugin(pluginPath);
  int32_t result = 0;
  {
    std::lock_guard<std::mutex> lock(controlMutex_);
    // Another host thread may have started capture meanwhile.
    if (threadStartResult_ == 0) return;
    plugin_ = plugin;
    captureSource_ = source;
    keepCapturing_ = true;
    result = createThread(&captureThread_, &PluginCamera::runCaptureLoop, this);
    threadStartResult_ = result;
  }
  if (result != 0) logMessage("Camera: capture thread could not be created (error %d)\n", result);
}

void PluginCamera::stop() {
  std::lock_guard<std::mutex> lock(controlMutex_);
  keepCapturing_ = false;
  if (threadStartResult_ != 0) return;
  joinThread(captureThread_);
  threadStartResult_ = -1;
  keepCapturing_ = true;
  previewWidth_ = 0;
  previewHeight_ = 0;
  requestedWidth_ = 0;
  requestedHeight_ = 0;
}

void PluginCamera::setSource(const std::string& source) {
  if (source.empty()) {
    logMessage("setCameraSource: empty source ignored\n");
    return;
  }
  std::lock_guard<std::mutex> lock(settingsMutex_);
  source_ = source;
}

std::string PluginCamera::getSource() const {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  return source_;
}

void PluginCamera::setPluginPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  pluginPath_ = path;
}

void* PluginCamera::runCaptureLoop(void* camera) {
  static_cast<PluginCamera*>(camera)->captureLoop();
  return nullptr;
}

void PluginCamera::captureLoop() {
  void* capture = nullptr;
  if (plugin_.loaded()) {
    capture = plugin_.open(captureSource_.c_str());
    if (capture != nullptr) {
      logMessage("Device camera opened");
    } else {
      logMessage("Camera source \"%s\" could not be opened: no camera frames\n",
                 captureSource_.c_str());
    }
  }

  while (keepCapturing_) {
    VornikCaptureFrame frame = {};
    const bool gotFrame = capture != nullptr && plugin_.queryFrame(capture, &frame) != 0;
    std::this_thread::sleep_for(kCapturePacing);
    if (!gotFrame) continue;
    int32_t byteSize = 0;
    const uint8_t* pixels = frameFilter_.blueGreenRed(frame, &byteSize);
    if (pixels == nullptr) continue;
    dispatchFrame(pixels, byteSize, frame.width, frame.height, getFrameFormat());
    previewWidth_ = frame.width;
    previewHeight_ = frame.height;
  }

  if (capture != nullptr) plugin_.release(capture);
  std::fputs("Release camera completed\n", stdout);
  std::fflush(stdout);
}

}  // namespace vornik
