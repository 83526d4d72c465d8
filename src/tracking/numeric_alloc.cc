#include "tracking/numeric_alloc.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace vornik {

void numericFatalError(const char* message) {
  std::fprintf(stderr, "Numerical Recipes run-time error...\n");
  std::fprintf(stderr, "%s\n", message != nullptr ? message : "");
  std::fprintf(stderr, "...now exiting to system...\n");
  std::exit(1);
}

double** allocMatrix(int32_t rows) {
  if (rows <= 0) return nullptr;
  // Slot 0 of both blocks is unused so that indices start at 1.
  auto** rowPtrs =
      static_cast<double**>(std::malloc((static_cast<size_t>(rows) + 1) * sizeof(double*)));
  if (rowPtrs == nullptr) numericFatalError("allocation failure 1 in matrix()");
  // Guards the size computation where size_t is 32 bits wide.
  const bool tooLarge = static_cast<uint64_t>(rows) > (SIZE_MAX - 1) / kNumericColumns;
  double* block = nullptr;
  if (!tooLarge) {
    block = static_cast<double*>(
        std::calloc(static_cast<size_t>(rows) * kNumericColumns + 1, sizeof(double)));
  }
  if (block == nullptr) {
    std::free(rowPtrs);
    numericFatalError("allocation failure 2 in matrix()");
  }
  rowPtrs[0] = nullptr;
  // Row i's element [i][1] sits at block[(i - 1) * 9 + 1].
  for (int32_t i = 1; i <= rows; ++i)
    rowPtrs[i] = block + static_cast<size_t>(i - 1) * kNumericColumns;
  return rowPtrs;
}

void freeMatrix(double** a) {
  if (a == nullptr) return;
  std::free(a[1]);
  std::free(a);
}

double* allocVector(int32_t n) {
  if (n <= 0) return nullptr;
  auto* v = static_cast<double*>(std::calloc(static_cast<size_t>(n) + 1, sizeof(double)));
  if (v == nullptr) numericFatalError("allocation failure in dvector()");
  return v;
}

void freeVector(double* v) { std::free(v); }

}  // namespace vornik
