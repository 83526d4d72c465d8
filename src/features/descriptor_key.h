#pragma once
#include <cstdint>

namespace vornik {

// 24-bit key of a 64-byte descriptor (16 cells x 4 components): the cell
// indices of the extreme components, M0<<20 | N0<<16 | M2<<12 | N2<<8 | M1<<4 | M3,
// where M is the first maximum and N the first minimum (strict comparisons).
// Stored and live features go through this one function.
int32_t descriptorKey(const uint8_t* descriptor);

}  // namespace vornik
