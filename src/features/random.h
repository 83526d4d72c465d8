#pragma once
#include <cstdint>

namespace vornik {

// The library's own pseudo-random generator (xorshift32). Every user owns an
// instance with a fixed seed, so runs are reproducible and the host's rand()
// is never disturbed.
class Random {
 public:
  static constexpr uint32_t kDefaultSeed = 0x9E3779B9u;
  explicit Random(uint32_t seed = kDefaultSeed) : state_(seed != 0 ? seed : kDefaultSeed) {}

  uint32_t next() {
    uint32_t x = state_;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    state_ = x;
    return x;
  }
  // Uniform integer in [0, bound); bound must be positive.
  uint32_t uniform(uint32_t bound) {
    return static_cast<uint32_t>((uint64_t{next()} * bound) >> 32);
  }
  void seed(uint32_t seed) { state_ = seed != 0 ? seed : kDefaultSeed; }

 private:
  uint32_t state_;
};

}  // namespace vornik
