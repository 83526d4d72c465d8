#pragma once
#include <cstdint>

namespace vornik {

// Column count of the 1-based design matrices of the homography fit.
constexpr int32_t kNumericColumns = 9;

// Writes the numeric routines' fatal-error report to standard error and ends
// the process with exit code 1. Used only when memory runs out.
[[noreturn]] void numericFatalError(const char* message);

// 1-based matrix of `rows` x 9 doubles, zero-filled: element [i][j] for
// i = 1..rows, j = 1..9, all rows in one contiguous block. Release with
// freeMatrix. A non-positive row count gives null.
double** allocMatrix(int32_t rows);
void freeMatrix(double** a);

// 1-based vector of n doubles, zero-filled: v[1..n]. Release with freeVector.
double* allocVector(int32_t n);
void freeVector(double* v);

}  // namespace vornik
