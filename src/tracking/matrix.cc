#include "tracking/matrix.h"

#include <cassert>

namespace vornik {

Matrix::Matrix(int32_t rows, int32_t cols)
    : rows_(rows > 0 && cols > 0 ? rows : 0),
      cols_(rows > 0 && cols > 0 ? cols : 0),
      data_(static_cast<size_t>(rows_) * static_cast<size_t>(cols_), 0.0) {}

size_t Matrix::index(int32_t row, int32_t col) const {
  assert(row >= 0 && row < rows_ && col >= 0 && col < cols_);
  return static_cast<size_t>(row) * static_cast<size_t>(cols_) + static_cast<size_t>(col);
}

MatrixPtr Matrix::identity(int32_t n) {
  auto m = std::make_shared<Matrix>(n, n);
  for (int32_t i = 0; i < m->rows(); ++i) (*m)(i, i) = 1.0;
  return m;
}

MatrixPtr multiply(const Matrix& a, const Matrix& b) {
  if (a.cols() != b.rows()) return nullptr;
  auto r = std::make_shared<Matrix>(a.rows(), b.cols());
  for (int32_t i = 0; i < a.rows(); ++i) {
    for (int32_t j = 0; j < b.cols(); ++j) {
      double sum = 0.0;
      for (int32_t k = 0; k < a.cols(); ++k) sum += a(i, k) * b(k, j);
      (*r)(i, j) = sum;
    }
  }
  return r;
}

Mat44f toMat44f(const Matrix& m) {
  if (m.rows() != 4 || m.cols() != 4) return Mat44f::identity();
  Mat44f r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r(i, j) = static_cast<float>(m(i, j));
  return r;
}

MatrixPtr fromMat44f(const Mat44f& m) {
  auto r = std::make_shared<Matrix>(4, 4);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) (*r)(i, j) = m(i, j);
  return r;
}

}  // namespace vornik
