#pragma once
#include <cstdint>
#include <vector>

namespace vornik {

// Compresses a raster into a JPEG file image in memory. `channels` is 1 (grey)
// or 3 (B, G, R byte order); rows are `width * channels` bytes, top to bottom,
// without padding. `quality` is 1..100. Returns false (and leaves `out` empty)
// for bad arguments or a libjpeg error; nothing is printed.
bool encodeJpeg(const uint8_t* pixels, int32_t width, int32_t height, int32_t channels,
                int32_t quality, std::vector<uint8_t>& out);

}  // namespace vornik
