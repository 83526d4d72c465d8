// Fuzz target: the JPEG region decoder on arbitrary bytes, through an open
// file as ArdbMngr and the tests use it.
#include <cstdint>
#include <cstdio>

#include "database/image_loader_jpg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (file == nullptr) return 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t grey = 0;
  uint8_t* pixels = nullptr;
  if (ImageLoaderJPG::decodeRegion(file, static_cast<uint32_t>(size), width, height, grey,
                                   pixels)) {
    size_t bytes = static_cast<size_t>(width) * height * (grey ? 1 : 3);
    if (pixels == nullptr || bytes == 0) __builtin_trap();
    volatile uint8_t sink = pixels[0] ^ pixels[bytes - 1];
    (void)sink;
    delete[] pixels;
  }
  std::fclose(file);
  return 0;
}
