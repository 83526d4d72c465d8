#include "tracking/matrix.h"

#include <gtest/gtest.h>

namespace vornik {
namespace {

// Products (checked through the homography round trips) refuse mismatched
// sizes; a pose of any size but 4 x 4 is the identity rather than an
// out-of-bounds read.
TEST(MatrixTest, WrongSizesAreRefused) {
  EXPECT_FALSE(multiply(Matrix(2, 3), Matrix(2, 3)));
  EXPECT_EQ(Matrix(-1, 3).rows(), 0);
  const Mat44f id = toMat44f(Matrix(3, 3));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(id.m[i], i % 5 == 0 ? 1.0f : 0.0f);
}

}  // namespace
}  // namespace vornik
