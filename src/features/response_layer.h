#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "features/integral_image.h"

namespace vornik {

// Box-filter Hessian determinant of one filter size, sampled every `step`
// image pixels.
struct ResponseLayer {
  ResponseLayer(int32_t width, int32_t height, int32_t step, int32_t filterSize);

  // Recomputes every cell from the integral image (whose size must be at
  // least width x height times step). Cells outside the band the filter
  // fits in hold 0. `form` indexes forms() (default: the fastest).
  void compute(const IntegralImage& integral, int32_t form = -1);

  // The kernel forms this processor runs, the scalar reference first.
  static std::vector<std::string> forms();

  int32_t response(int32_t row, int32_t col) const {
    return responses[static_cast<size_t>(row) * width + col];
  }
  uint8_t laplacianAt(int32_t row, int32_t col) const {
    return laplacian[static_cast<size_t>(row) * width + col];
  }

  // Cells within `band` of a border are not computed.
  int32_t band() const;

  int32_t width;
  int32_t height;
  int32_t step;
  int32_t filterSize;
  std::vector<int32_t> responses;  // height rows of width
  std::vector<uint8_t> laplacian;  // 1 where Dxx + Dyy >= 0
};

}  // namespace vornik
