#include "camera/plugin_camera.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <system_error>

#include "camera/capture_plugin_loader.h"
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
  std::lock_guard<std::mutex> lock(controlMutex_);
  if (threadStartResult_ == 0) return;
  keepCapturing_ = true;
  try {
    captureThread_ = std::thread(&PluginCamera::captureLoop, this);
    threadStartResult_ = 0;
  } catch (const std::system_error& error) {
    threadStartResult_ = error.code().value() != 0 ? error.code().value() : 1;
    logMessage("Camera: capture thread could not be created (%s)\n", error.what());
  }
}

void PluginCamera::stop() {
  std::lock_guard<std::mutex> lock(controlMutex_);
  keepCapturing_ = false;
  if (threadStartResult_ != 0) return;
  captureThread_.join();
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

void PluginCamera::captureLoop() {
  std::string source;
  std::string pluginPath;
  {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    source = source_;
    pluginPath = pluginPath_.empty() ? defaultCapturePluginPath() : pluginPath_;
  }
  // Without a plug-in or a source the loop still runs, so that start, stop
  // and the release message behave the same; it just never has a frame.
  const CapturePlugin plugin = loadCapturePlugin(pluginPath);
  void* capture = nullptr;
  if (plugin.loaded()) {
    capture = plugin.open(source.c_str());
    if (capture != nullptr) {
      logMessage("Device camera opened\n");
    } else {
      logMessage("Camera source \"%s\" could not be opened: no camera frames\n", source.c_str());
    }
  }

  while (keepCapturing_) {
    VornikCaptureFrame frame = {};
    const bool gotFrame = capture != nullptr && plugin.queryFrame(capture, &frame) != 0 &&
                          frame.data != nullptr && frame.channels > 0 && frame.width > 0 &&
                          frame.height > 0;
    std::this_thread::sleep_for(kCapturePacing);
    if (gotFrame) {
      const int64_t byteSize = static_cast<int64_t>(frame.channels) * frame.width * frame.height;
      if (byteSize <= INT32_MAX) {
        dispatchFrame(frame.data, static_cast<int32_t>(byteSize), frame.width, frame.height,
                      getFrameFormat());
        previewWidth_ = frame.width;
        previewHeight_ = frame.height;
      }
    }
  }

  if (capture != nullptr) plugin.release(capture);
  std::fputs("Release camera completed\n", stdout);
  std::fflush(stdout);
}

}  // namespace vornik
