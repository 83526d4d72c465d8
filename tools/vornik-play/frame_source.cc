#include "frame_source.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "camera/capture_plugin_loader.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

bool hasImageExtension(const fs::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".jpg" || ext == ".jpeg" || ext == ".png";
}

class FileListSource : public FrameSource {
 public:
  explicit FileListSource(std::vector<std::string> files) : files_(std::move(files)) {}
  bool next(Image* frame, std::string* name, std::string* error) override {
    if (index_ >= files_.size()) return false;
    const std::string& path = files_[index_++];
    *name = fs::path(path).filename().string();
    if (!readImage(path, frame, error)) {
      *error = path + ": " + *error;
      return false;
    }
    *frame = toBgr(*frame);
    return true;
  }

 private:
  std::vector<std::string> files_;
  size_t index_ = 0;
};

class VideoSource : public FrameSource {
 public:
  VideoSource(CapturePlugin plugin, void* capture) : plugin_(plugin), capture_(capture) {}
  ~VideoSource() override { plugin_.release(capture_); }
  VideoSource(const VideoSource&) = delete;
  VideoSource& operator=(const VideoSource&) = delete;

  bool next(Image* frame, std::string* name, std::string* error) override {
    VornikCaptureFrame captured{};
    if (plugin_.queryFrame(capture_, &captured) == 0) return false;
    if (captured.data == nullptr || captured.width <= 0 || captured.height <= 0 ||
        (captured.channels != 1 && captured.channels != 3)) {
      *error = "the video delivered a malformed frame";
      return false;
    }
    Image image(captured.width, captured.height, captured.channels);
    std::copy(captured.data, captured.data + image.pixels.size(), image.pixels.begin());
    *frame = toBgr(image);
    *name = std::to_string(count_++);
    return true;
  }

 private:
  CapturePlugin plugin_;
  void* capture_;
  int count_ = 0;
};

std::string patternPath(const std::string& pattern, int index) {
  std::vector<char> buffer(pattern.size() + 32);
  std::snprintf(buffer.data(), buffer.size(), pattern.c_str(), index);
  return buffer.data();
}

// A pattern with exactly one integer conversion and no other '%' use.
bool isSequencePattern(const std::string& input) {
  const size_t at = input.find('%');
  if (at == std::string::npos || input.find('%', at + 1) != std::string::npos) return false;
  size_t i = at + 1;
  while (i < input.size() && (std::isdigit(static_cast<unsigned char>(input[i])) != 0)) ++i;
  return i < input.size() && input[i] == 'd';
}

}  // namespace

std::unique_ptr<FrameSource> openFrameSource(const std::string& input,
                                             const std::string& capturePlugin, std::string* error) {
  std::error_code ec;
  if (isSequencePattern(input)) {
    std::vector<std::string> files;
    int first = fs::exists(patternPath(input, 0), ec) ? 0 : 1;
    for (int i = first;; ++i) {
      const std::string path = patternPath(input, i);
      if (!fs::is_regular_file(path, ec)) break;
      files.push_back(path);
    }
    if (files.empty()) {
      *error = "no frames match the pattern " + input;
      return nullptr;
    }
    return std::make_unique<FileListSource>(std::move(files));
  }
  if (!fs::exists(input, ec)) {
    *error = "input " + input + " does not exist";
    return nullptr;
  }
  if (fs::is_directory(input, ec)) {
    std::vector<std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(input, ec)) {
      if (entry.is_regular_file(ec) && hasImageExtension(entry.path())) {
        files.push_back(entry.path().string());
      }
    }
    if (ec) {
      *error = "cannot list the folder " + input + ": " + ec.message();
      return nullptr;
    }
    if (files.empty()) {
      *error = "no .jpg, .jpeg or .png images in the folder " + input;
      return nullptr;
    }
    std::sort(files.begin(), files.end());
    return std::make_unique<FileListSource>(std::move(files));
  }
  if (hasImageExtension(input)) return std::make_unique<FileListSource>(std::vector{input});
  if (!std::ifstream(input, std::ios::binary)) {
    *error = "cannot read " + input;
    return nullptr;
  }
  if (capturePlugin.empty()) {
    *error = input + " is not an image; videos need the capture plug-in, which was not built";
    return nullptr;
  }
  const CapturePlugin plugin = loadCapturePlugin(capturePlugin);
  if (!plugin.loaded()) {
    *error = "cannot load the capture plug-in " + capturePlugin + " to read the video " + input;
    return nullptr;
  }
  void* capture = plugin.open(input.c_str());
  if (capture == nullptr) {
    *error = "cannot open " + input + " as a video";
    return nullptr;
  }
  return std::make_unique<VideoSource>(plugin, capture);
}

}  // namespace vornik
