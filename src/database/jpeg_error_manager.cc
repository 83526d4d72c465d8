#include "database/jpeg_codec_internal.h"

namespace vornik {
namespace jpeg_internal {
namespace {

void silentOutputMessage(j_common_ptr) {}

[[noreturn]] void jumpingErrorExit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  std::longjmp(reinterpret_cast<JumpingErrorManager*>(cinfo->err)->recovery, 1);
}

}  // namespace

jpeg_error_mgr* installJumpingErrorManager(JumpingErrorManager& manager) {
  jpeg_std_error(&manager.base);
  manager.base.output_message = silentOutputMessage;
  manager.base.error_exit = jumpingErrorExit;
  return &manager.base;
}

}  // namespace jpeg_internal
}  // namespace vornik
