#pragma once
// libjpeg plumbing shared by the decoder and the encoder: an error manager
// that prints nothing and leaves by a non-local jump.
#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

namespace vornik {
namespace jpeg_internal {

struct JumpingErrorManager {
  jpeg_error_mgr base;  // first, so libjpeg's pointer is also ours
  std::jmp_buf recovery;
};

// Installs the silent, jumping routines into `manager` and returns its base.
jpeg_error_mgr* installJumpingErrorManager(JumpingErrorManager& manager);

}  // namespace jpeg_internal
}  // namespace vornik
