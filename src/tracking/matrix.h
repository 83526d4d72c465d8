#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "tracking/pose_types.h"

namespace vornik {

// Dense row-major matrix of doubles: homographies, intrinsics and the pose
// exchanged with the tracker (4x4 [R | t; 0 0 0 1]). Starts zero-filled.
class Matrix {
 public:
  // Negative sizes are treated as 0.
  Matrix(int32_t rows, int32_t cols);

  int32_t rows() const { return rows_; }
  int32_t cols() const { return cols_; }
  double& operator()(int32_t row, int32_t col) { return data_[index(row, col)]; }
  double operator()(int32_t row, int32_t col) const { return data_[index(row, col)]; }

  static std::shared_ptr<Matrix> identity(int32_t n);

 private:
  size_t index(int32_t row, int32_t col) const;

  int32_t rows_;
  int32_t cols_;
  std::vector<double> data_;
};

using MatrixPtr = std::shared_ptr<Matrix>;

// a times b; null when a's column count differs from b's row count.
MatrixPtr multiply(const Matrix& a, const Matrix& b);

// 4x4 Matrix to floats (each double rounded); a matrix of another size gives identity.
Mat44f toMat44f(const Matrix& m);
// Widens a float pose into a new 4x4 Matrix.
MatrixPtr fromMat44f(const Mat44f& m);

}  // namespace vornik
