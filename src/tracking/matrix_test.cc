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
  EXPECT_EQ((*ab)(0, 0), 4.0);
  EXPECT_EQ((*ab)(0, 1), 10.0);
  EXPECT_EQ((*ab)(1, 0), 4.0);
  EXPECT_EQ((*ab)(1, 1), 19.0);
  EXPECT_FALSE(multiply(a, a));
  EXPECT_EQ(Matrix(-1, 3).rows(), 0);
}

TEST(MatrixTest, FloatPoseConversions) {
  Matrix m(4, 4);
  m(0, 3) = 0.1;  // not a float: rounds
  m(2, 1) = -2.5;
  m(3, 3) = 1.0;
  const Mat44f f = toMat44f(m);
  EXPECT_EQ(f(0, 3), 0.1f);
  EXPECT_EQ(f(2, 1), -2.5f);
  EXPECT_EQ(f(3, 3), 1.0f);
  const MatrixPtr back = fromMat44f(f);
  EXPECT_EQ((*back)(0, 3), static_cast<double>(0.1f));
  EXPECT_EQ((*back)(2, 1), -2.5);
  // Anything but 4 x 4 gives the identity rather than reading out of bounds.
  const Mat44f id = toMat44f(Matrix(3, 3));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(id.m[i], i % 5 == 0 ? 1.0f : 0.0f);
}

}  // namespace
}  // namespace vornik
