#include "tracking/matrix.h"

#include <gtest/gtest.h>

namespace vornik {
namespace {

TEST(MatrixTest, ProductAndSizeMismatch) {
  Matrix a(2, 3);
  Matrix b(3, 2);
  for (int i = 0; i < 6; ++i) {
    a(i / 3, i % 3) = i + 1;  // [[1 2 3] [4 5 6]]
    b(i / 2, i % 2) = i - 2;  // [[-2 -1] [0 1] [2 3]]
  }
  const MatrixPtr ab = multiply(a, b);
  ASSERT_TRUE(ab);
  ASSERT_EQ(ab->rows(), 2);
  ASSERT_EQ(ab->cols(), 2);
  const double expected[4] = {4, 10, 4, 19};
  for (int i = 0; i < 4; ++i) EXPECT_EQ((*ab)(i / 2, i % 2), expected[i]) << i;
  EXPECT_FALSE(multiply(a, a));
  EXPECT_EQ(Matrix(-1, 3).rows(), 0);
}

// Anything but 4 x 4 gives the identity rather than reading out of bounds.
TEST(MatrixTest, FloatPoseOfAWrongSizeIsTheIdentity) {
  const Mat44f id = toMat44f(Matrix(3, 3));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(id.m[i], i % 5 == 0 ? 1.0f : 0.0f);
}

}  // namespace
}  // namespace vornik
