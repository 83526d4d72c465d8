#include "camera/camera_calibration.h"

#include <cstdarg>
#include <cstdio>

#include "manager/log.h"

namespace vornik {
namespace {

// Depth terms of a near plane at 0.1 and a far plane at 5000, as the float
// values the renderer has always used.
constexpr float kDepthScale = 1.00004005f;     // (far + near) / (far - near)
constexpr float kDepthOffset = -0.200004011f;  // -2 far near / (far - near)

class MutexLock {
 public:
  explicit MutexLock(pthread_mutex_t& mutex) : mutex_(mutex) { pthread_mutex_lock(&mutex_); }
  ~MutexLock() { pthread_mutex_unlock(&mutex_); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  pthread_mutex_t& mutex_;
};

// Log lines formed under the lock and written, in order, after it is
// released: the host's log callback may call back into the calibration.
class PendingLines {
 public:
  void add(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
  {
    if (count_ == kMaxLines) return;
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(lines_[count_], kLineSize, format, args) < 0) lines_[count_][0] = '\0';
    va_end(args);
    ++count_;
  }
  void write() const {
    for (int i = 0; i < count_; ++i) logMessage("%s", lines_[i]);
  }

 private:
  static constexpr int kMaxLines = 5;
  static constexpr int kLineSize = 64;
  char lines_[kMaxLines][kLineSize];
  int count_ = 0;
};

void fillProjection(float* m, int32_t windowWidth, int32_t windowHeight, int32_t cameraWidth,
                    bool portrait, PendingLines* lines) {
  lines->add("\n calcProjectionMatrix\n");
  if (windowWidth == 0 || windowHeight == 0 || cameraWidth == 0) {
    lines->add("calcProjectionMatrix: a size is 0, matrix kept\n");
    return;
  }
  for (int i = 0; i < 16; ++i) m[i] = 0.0f;
  // The product of two sizes is formed in integers and then converted, as the
  // matrix has always been computed (64 bits so that no size overflows); the
  // result is -2 x the window's aspect ratio.
  const float cameraScale = static_cast<float>(cameraWidth) * -2.0f;
  if (!portrait) {
    const float product = static_cast<float>(int64_t{windowHeight} * cameraWidth);
    m[0] = 2.0f;
    m[5] = cameraScale / (product / static_cast<float>(windowWidth));
  } else {
    const float product = static_cast<float>(int64_t{windowWidth} * cameraWidth);
    m[1] = -2.0f;
    m[4] = cameraScale / (product / static_cast<float>(windowHeight));
  }
  m[10] = kDepthScale;
  m[11] = 1.0f;
  m[14] = kDepthOffset;
}

}  // namespace

CameraCalibration::CameraCalibration() {
  for (int i = 0; i < 16; ++i) projection_.data[i] = (i % 5 == 0) ? 1.0f : 0.0f;
  pthread_mutex_init(&mutex_, nullptr);
}

CameraCalibration::~CameraCalibration() { pthread_mutex_destroy(&mutex_); }

void CameraCalibration::setWindowSize(int32_t width, int32_t height, bool portrait) {
  PendingLines lines;
  {
    MutexLock lock(mutex_);
    if (width == windowWidth_ && height == windowHeight_ && portrait == portraitMode_) return;
    windowWidth_ = width;
    windowHeight_ = height;
    portraitMode_ = portrait;
    dirty_ = true;
    lines.add("%s %d", "CameraCalibration", 54);
    lines.add("window width : %d height:%d", width, height);
  }
  lines.write();
}

void CameraCalibration::setCameraSize(int32_t width, int32_t height) {
  PendingLines lines;
  {
    MutexLock lock(mutex_);
    if (width == cameraWidth_ && height == cameraHeight_) return;
    cameraWidth_ = width;
    cameraHeight_ = height;
    dirty_ = true;
    lines.add("%s %d", "CameraCalibration", 69);
    lines.add("camera width : %d height:%d", width, height);
  }
  lines.write();
}

const Matrix44F& CameraCalibration::getProjectionMatrix() {
  PendingLines lines;
  {
    MutexLock lock(mutex_);
    if (dirty_ && windowWidth_ != 0 && windowHeight_ != 0 && cameraWidth_ != 0 &&
        cameraHeight_ != 0) {
      dirty_ = false;
      lines.add("%s %d", "CameraCalibration", 164);
      lines.add("camera width : %d height:%d", cameraWidth_, cameraHeight_);
      lines.add("Window width : %d height:%d", windowWidth_, windowHeight_);
      fillProjection(projection_.data, windowWidth_, windowHeight_, cameraWidth_, portraitMode_,
                     &lines);
    }
  }
  lines.write();
  return projection_;
}

void CameraCalibration::calcProjectionMatrix(int32_t windowWidth, int32_t windowHeight,
                                             int32_t cameraWidth, int32_t /*cameraHeight*/,
                                             bool portrait) {
  PendingLines lines;
  {
    MutexLock lock(mutex_);
    fillProjection(projection_.data, windowWidth, windowHeight, cameraWidth, portrait, &lines);
  }
  lines.write();
}

}  // namespace vornik
