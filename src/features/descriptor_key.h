#pragma once
#include <cstdint>

namespace vornik {

// 24-bit key of a 64-byte descriptor (16 cells x 4 components): the cell
// indices of the extreme components, M0<<20 | N0<<16 | M2<<12 | N2<<8 | M1<<4 | M3,
// where M is the first maximum and N the first minimum (strict comparisons).
// Stored and live features go through this one function.
int32_t descriptorKey(const uint8_t* descriptor);

// Most keys nearDescriptorKeys gives: one per field.
constexpr int kMaxNearKeys = 6;

// The keys a slightly different view of the same corner gives: for each of
// the six fields, the key that results when the field's extreme byte moves
// toward the other cells until another cell takes the field over, where
// that takes at most `maxSteps` byte steps. Written to `keys` (room for
// kMaxNearKeys), fewest steps first, fields in key order on equal steps;
// the count. `key` is descriptorKey(descriptor); maxSteps < 1 gives none.
int nearDescriptorKeys(const uint8_t* descriptor, int32_t key, int maxSteps, int32_t* keys);

}  // namespace vornik
