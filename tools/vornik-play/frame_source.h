#pragma once
#include <memory>
#include <string>

#include "common/image_io.h"

namespace vornik {

// Frames of a recorded input, in order.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // The next frame and a name for it (a file name, or the frame number of a
  // video). False at the end, or on a read failure with `error` set.
  virtual bool next(Image* frame, std::string* name, std::string* error) = 0;
};

// Opens `input`: a folder (its .jpg, .jpeg and .png files in name order), a
// printf-style pattern such as "frames/frame_%05d.jpg" (numbered from 0, or
// from 1 when there is no frame 0, up to the first missing number), a
// single image file, or any other file as a video through the capture
// plug-in at `capturePlugin` (empty: videos are refused). Null with a
// one-line `error` when the input is missing, empty or unreadable.
std::unique_ptr<FrameSource> openFrameSource(const std::string& input,
                                             const std::string& capturePlugin, std::string* error);

}  // namespace vornik
