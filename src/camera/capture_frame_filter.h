#pragma once
#include <cstdint>
#include <vector>

#include "camera/capture_plugin_api.h"
#include "manager/throttled_log.h"

namespace vornik {

// Turns a frame from the capture plug-in into what the listeners take:
// tightly packed 3-byte blue-green-red pixels. Grey frames are widened;
// frames of any other layout, without pixels or too large are refused with a
// log line at most once a second. Used by one capture thread at a time.
class CaptureFrameFilter {
 public:
  // The pixels to dispatch, valid until the next call or the next query of
  // the plug-in, with their byte count in *byteSize; null when refused.
  const uint8_t* blueGreenRed(const VornikCaptureFrame& frame, int32_t* byteSize);

 private:
  std::vector<uint8_t> widened_;
  ThrottledLog layoutLog_;
  ThrottledLog unusableLog_;
};

}  // namespace vornik
