#include "tracking/cholesky_inverse3.h"

#include <cmath>

namespace vornik {

int choleskyInverse3(const Matrix33F& m, Matrix33F* inverse) {
  *inverse = Matrix33F();
  if (!(m(0, 0) > 0.0f)) return 0;
  const float l00 = std::sqrt(m(0, 0));
  const float l10 = m(1, 0) / l00;
  const float pivot1 = m(1, 1) - l10 * l10;
  if (!(pivot1 > 0.0f)) return 1;
  const float l11 = std::sqrt(pivot1);
  const float l20 = m(2, 0) / l00;
  const float l21 = (m(2, 1) - l20 * l10) / l11;
  const float pivot2 = m(2, 2) - (l20 * l20 + l21 * l21);
  if (!(pivot2 > 0.0f)) return 2;
  const float l22 = std::sqrt(pivot2);

  // L^-1, lower triangular.
  Matrix33F li;
  li(0, 0) = 1.0f / l00;
  li(1, 1) = 1.0f / l11;
  li(2, 2) = 1.0f / l22;
  li(1, 0) = -l10 * li(0, 0) / l11;
  li(2, 1) = -l21 * li(1, 1) / l22;
  li(2, 0) = -(l20 * li(0, 0) + l21 * li(1, 0)) / l22;
  // M^-1 = L^-T L^-1.
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      float sum = 0.0f;
      for (int k = 0; k < 3; ++k) sum += li(k, r) * li(k, c);
      (*inverse)(r, c) = sum;
    }
  }
  return 3;
}

}  // namespace vornik
