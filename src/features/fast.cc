#include "features/fast.h"

#include <algorithm>
#include <cassert>
#include <cstddef>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VORNIK_FAST_SSE2 1
#endif
// 256-bit forms only where the compiler aligns their stack spills (not MinGW).
#if VORNIK_FAST_SSE2 && defined(__GNUC__) && !defined(_WIN32)
#include <immintrin.h>
#define VORNIK_FAST_AVX2 1
#include "platform/cpu_features.h"
#endif

namespace vornik {

const int32_t kFastCircle[16][2] = {{0, 3},  {1, 3},  {2, 2},  {3, 1},   {3, 0},   {3, -1},
                                    {2, -2}, {1, -3}, {0, -3}, {-1, -3}, {-2, -2}, {-3, -1},
                                    {-3, 0}, {-3, 1}, {-2, 2}, {-1, 3}};

namespace {

constexpr size_t kInitialCornerRoom = 512;
constexpr int32_t kArc = 12;

// True when the 16-bit circular mask holds a run of at least 12 set bits.
inline bool hasArc(uint32_t mask) {
  uint32_t m = mask | (mask << 16);
  // After the shifts, bit i is set only if bits i .. i+11 all were.
  m &= m >> 1;
  m &= m >> 2;
  m &= m >> 4;
  m &= m >> 4;
  return (m & 0xFFFFu) != 0;
}

// Brighter / darker masks of the circle around one pixel.
inline void circleMasks(const uint8_t* p, const int32_t offsets[16], int32_t threshold,
                        uint32_t* bright, uint32_t* dark) {
  const int32_t hi = p[0] + threshold;
  const int32_t lo = p[0] - threshold;
  uint32_t b = 0;
  uint32_t d = 0;
  for (int i = 0; i < 16; ++i) {
    const int32_t v = p[offsets[i]];
    b |= static_cast<uint32_t>(v > hi) << i;
    d |= static_cast<uint32_t>(v < lo) << i;
  }
  *bright = b;
  *dark = d;
}

// Any 12-pixel arc covers at least three of the four compass pixels
// (indices 0, 4, 8, 12), which rejects most pixels after four reads.
inline bool passesCompass(const uint8_t* p, const int32_t offsets[16], int32_t threshold) {
  const int32_t hi = p[0] + threshold;
  const int32_t lo = p[0] - threshold;
  const int32_t a = p[offsets[0]], b = p[offsets[4]], c = p[offsets[8]], d = p[offsets[12]];
  const int brighter = (a > hi) + (b > hi) + (c > hi) + (d > hi);
  const int darker = (a < lo) + (b < lo) + (c < lo) + (d < lo);
  return brighter >= 3 || darker >= 3;
}

#if VORNIK_FAST_SSE2
// True when none of 16 neighbouring pixels can pass: any 12-pixel arc covers
// three of the four compass pixels. Unsigned byte comparisons via the sign
// flip; saturation makes an impossible bound unreachable, as in the scalar test.
inline bool compassRejects(const uint8_t* p, const int32_t offsets[16], int32_t threshold) {
  const __m128i sign = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i t = _mm_set1_epi8(static_cast<char>(threshold));
  const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i hi = _mm_xor_si128(_mm_adds_epu8(c, t), sign);
  const __m128i lo = _mm_xor_si128(_mm_subs_epu8(c, t), sign);
  auto ring = [&](int i) {
    return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offsets[i])), sign);
  };
  const __m128i v0 = ring(0), v4 = ring(4), v8 = ring(8), v12 = ring(12);
  const __m128i b0 = _mm_cmpgt_epi8(v0, hi), b4 = _mm_cmpgt_epi8(v4, hi);
  const __m128i b8 = _mm_cmpgt_epi8(v8, hi), b12 = _mm_cmpgt_epi8(v12, hi);
  const __m128i d0 = _mm_cmpgt_epi8(lo, v0), d4 = _mm_cmpgt_epi8(lo, v4);
  const __m128i d8 = _mm_cmpgt_epi8(lo, v8), d12 = _mm_cmpgt_epi8(lo, v12);
  const __m128i bright = _mm_or_si128(_mm_and_si128(_mm_and_si128(b0, b4), _mm_or_si128(b8, b12)),
                                      _mm_and_si128(_mm_and_si128(b8, b12), _mm_or_si128(b0, b4)));
  const __m128i dark = _mm_or_si128(_mm_and_si128(_mm_and_si128(d0, d4), _mm_or_si128(d8, d12)),
                                    _mm_and_si128(_mm_and_si128(d8, d12), _mm_or_si128(d0, d4)));
  return _mm_movemask_epi8(_mm_or_si128(bright, dark)) == 0;
}

// Segment test of 16 neighbouring pixels at once; returns the first x it
// did not handle. Unsigned byte comparisons via the sign flip.
int32_t detectRowSse2(const uint8_t* row, int32_t width, const int32_t offsets[16],
                      int32_t threshold, int32_t y, std::vector<Corner>* corners) {
  const __m128i sign = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i t = _mm_set1_epi8(static_cast<char>(threshold));
  const __m128i one = _mm_set1_epi8(1);
  const __m128i eleven = _mm_set1_epi8(11);
  int32_t x = 3;
  for (; x + 16 <= width - 3; x += 16) {
    const uint8_t* p = row + x;
    if (compassRejects(p, offsets, threshold)) continue;
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hi = _mm_xor_si128(_mm_adds_epu8(c, t), sign);
    const __m128i lo = _mm_xor_si128(_mm_subs_epu8(c, t), sign);
    auto ring = [&](int i) {
      return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offsets[i])), sign);
    };

    __m128i bright[16];
    __m128i dark[16];
    for (int i = 0; i < 16; ++i) {
      const __m128i v = ring(i);
      bright[i] = _mm_cmpgt_epi8(v, hi);
      dark[i] = _mm_cmpgt_epi8(lo, v);
    }
    // Longest run of set masks around the circle (walked 27 steps so every
    // run of 12 that wraps past index 15 is seen).
    __m128i runBright = _mm_setzero_si128(), runDark = _mm_setzero_si128();
    __m128i bestBright = _mm_setzero_si128(), bestDark = _mm_setzero_si128();
    for (int k = 0; k < 27; ++k) {
      runBright = _mm_and_si128(_mm_add_epi8(runBright, one), bright[k & 15]);
      runDark = _mm_and_si128(_mm_add_epi8(runDark, one), dark[k & 15]);
      bestBright = _mm_max_epu8(bestBright, runBright);
      bestDark = _mm_max_epu8(bestDark, runDark);
    }
    const __m128i pass =
        _mm_or_si128(_mm_cmpgt_epi8(bestBright, eleven), _mm_cmpgt_epi8(bestDark, eleven));
    int mask = _mm_movemask_epi8(pass);
    while (mask != 0) {
      int bit = 0;
      while (((mask >> bit) & 1) == 0) ++bit;
      corners->push_back(Corner{x + bit, y});
      mask &= mask - 1;
    }
  }
  return x;
}
#endif

// Largest b at which some 12-pixel arc is wholly brighter than centre + b or
// darker than centre - b, plus one: the test passes exactly for b below it.
// It is the best over arcs of the arc's smallest difference to the centre.
inline int32_t arcStrength(const uint8_t* p, const int32_t offsets[16]) {
  // The circle twice over, so every arc is a plain window.
  alignas(16) int16_t diff[32];
  const int16_t c = p[0];
  for (int i = 0; i < 16; ++i) {
    diff[i] = static_cast<int16_t>(p[offsets[i]] - c);
    diff[i + 16] = diff[i];
  }
#if VORNIK_FAST_SSE2
  __m128i minLo = _mm_load_si128(reinterpret_cast<const __m128i*>(diff));
  __m128i minHi = _mm_load_si128(reinterpret_cast<const __m128i*>(diff + 8));
  __m128i maxLo = minLo;
  __m128i maxHi = minHi;
  for (int k = 1; k < 12; ++k) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(diff + k));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(diff + 8 + k));
    minLo = _mm_min_epi16(minLo, lo);
    minHi = _mm_min_epi16(minHi, hi);
    maxLo = _mm_max_epi16(maxLo, lo);
    maxHi = _mm_max_epi16(maxHi, hi);
  }
  // Brighter arcs: the largest window minimum; darker arcs: the negated
  // smallest window maximum.
  const __m128i zero = _mm_setzero_si128();
  __m128i best =
      _mm_max_epi16(_mm_max_epi16(minLo, minHi),
                    _mm_max_epi16(_mm_sub_epi16(zero, maxLo), _mm_sub_epi16(zero, maxHi)));
  best = _mm_max_epi16(best, _mm_srli_si128(best, 8));
  best = _mm_max_epi16(best, _mm_srli_si128(best, 4));
  best = _mm_max_epi16(best, _mm_srli_si128(best, 2));
  return std::max<int32_t>(0, static_cast<int16_t>(_mm_cvtsi128_si32(best)));
#else
  int32_t best = 0;
  for (int i = 0; i < 16; ++i) {
    int32_t lo = diff[i];
    int32_t hi = diff[i];
    for (int k = 1; k < 12; ++k) {
      lo = std::min<int32_t>(lo, diff[i + k]);
      hi = std::max<int32_t>(hi, diff[i + k]);
    }
    best = std::max(best, std::max(lo, -hi));
  }
  return best;
#endif
}

}  // namespace

void fastCircleOffsets(int32_t stride, int32_t offsets[16]) {
  for (int i = 0; i < 16; ++i) offsets[i] = kFastCircle[i][0] + kFastCircle[i][1] * stride;
}

bool passesFast12(const uint8_t* pixel, const int32_t offsets[16], int32_t threshold) {
  uint32_t bright;
  uint32_t dark;
  circleMasks(pixel, offsets, threshold, &bright, &dark);
  return hasArc(bright) || hasArc(dark);
}

void detectFast12(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                  int32_t threshold, std::vector<Corner>* corners) {
  corners->clear();
  if (corners->capacity() < kInitialCornerRoom) corners->reserve(kInitialCornerRoom);
  if (pixels == nullptr || width < 7 || height < 7) return;
  int32_t offsets[16];
  fastCircleOffsets(stride, offsets);
  for (int32_t y = 3; y < height - 3; ++y) {
    const uint8_t* row = pixels + static_cast<ptrdiff_t>(y) * stride;
    int32_t x = 3;
#if VORNIK_FAST_SSE2
    if (threshold >= 0 && threshold <= 255) {
      x = detectRowSse2(row, width, offsets, threshold, y, corners);
    }
#endif
    for (; x < width - 3; ++x) {
      if (passesCompass(row + x, offsets, threshold) && passesFast12(row + x, offsets, threshold)) {
        corners->push_back(Corner{x, y});
      }
    }
  }
}

std::vector<Corner> detectFast12(const uint8_t* pixels, int32_t width, int32_t height,
                                 int32_t stride, int32_t threshold) {
  std::vector<Corner> corners;
  detectFast12(pixels, width, height, stride, threshold, &corners);
  return corners;
}

int32_t scoreFast12(const uint8_t* pixel, const int32_t offsets[16], int32_t threshold) {
  // The bisection over [threshold, 255] (bmin passes, bmax fails or is 255)
  // ends on the last passing threshold, i.e. arcStrength - 1, held to
  // [threshold, 254]; computing it directly gives the same value without
  // eight segment tests.
  if (threshold >= 254) return threshold;
  const int32_t last = arcStrength(pixel, offsets) - 1;
  return std::min(std::max(last, threshold), 254);
}

int32_t scoreFast12(const uint8_t* pixel, int32_t stride, int32_t threshold) {
  int32_t offsets[16];
  fastCircleOffsets(stride, offsets);
  return scoreFast12(pixel, offsets, threshold);
}

void scoreFast12(const uint8_t* pixels, int32_t stride, const std::vector<Corner>& corners,
                 int32_t threshold, std::vector<int32_t>* scores) {
  int32_t offsets[16];
  fastCircleOffsets(stride, offsets);
  scores->resize(corners.size());
  for (size_t i = 0; i < corners.size(); ++i) {
    const Corner& c = corners[i];
    (*scores)[i] =
        scoreFast12(pixels + static_cast<ptrdiff_t>(c.y) * stride + c.x, offsets, threshold);
  }
}

void suppressNonMax(const std::vector<Corner>& corners, const std::vector<int32_t>& scores,
                    std::vector<ScoredCorner>* kept) {
  kept->clear();
  const size_t n = std::min(corners.size(), scores.size());
  if (n == 0) return;
  assert(corners.size() == scores.size());
  // First corner index of each row, -1 for rows without corners.
  // Sized from the real extremes so out-of-order input cannot index outside.
  int32_t lastRow = 0;
  for (size_t i = 0; i < n; ++i) {
    if (corners[i].y < 0) return;
    lastRow = std::max(lastRow, corners[i].y);
  }
  std::vector<int32_t> rowStart(static_cast<size_t>(lastRow) + 2, -1);
  for (size_t i = n; i-- > 0;) rowStart[corners[i].y] = static_cast<int32_t>(i);

  // Cursor into a neighbour row: advances monotonically because x grows
  // within a row, so each row is walked once per neighbour row.
  auto neighbourRowBeats = [&](size_t* cursor, int32_t y, int32_t x, int32_t score) {
    size_t j = *cursor;
    while (j < n && corners[j].y == y && corners[j].x < x - 1) ++j;
    *cursor = j;
    for (; j < n && corners[j].y == y && corners[j].x <= x + 1; ++j) {
      if (scores[j] >= score) return true;
    }
    return false;
  };

  int32_t currentRow = -1;
  size_t above = n;
  size_t below = n;
  for (size_t i = 0; i < n; ++i) {
    const Corner& c = corners[i];
    const int32_t score = scores[i];
    if (c.y != currentRow) {
      currentRow = c.y;
      const int32_t a = c.y > 0 ? rowStart[c.y - 1] : -1;
      const int32_t b = rowStart[c.y + 1];
      above = a >= 0 ? static_cast<size_t>(a) : n;
      below = b >= 0 ? static_cast<size_t>(b) : n;
    }
    if (i > 0 && corners[i - 1].y == c.y && corners[i - 1].x == c.x - 1 && scores[i - 1] >= score) {
      continue;
    }
    if (i + 1 < n && corners[i + 1].y == c.y && corners[i + 1].x == c.x + 1 &&
        scores[i + 1] >= score) {
      continue;
    }
    if (neighbourRowBeats(&above, c.y - 1, c.x, score)) continue;
    if (neighbourRowBeats(&below, c.y + 1, c.x, score)) continue;
    kept->push_back(ScoredCorner{c.x, c.y, score});
  }
}

std::vector<ScoredCorner> suppressNonMax(const std::vector<Corner>& corners,
                                         const std::vector<int32_t>& scores) {
  std::vector<ScoredCorner> kept;
  suppressNonMax(corners, scores, &kept);
  return kept;
}

#if VORNIK_FAST_SSE2
namespace {

// Rows of the score plane: the arc strength of a passing pixel (its score
// plus one, so 1..255), 0 where none passes. Padded so the suppression can
// read one pixel left and 16 right of any position.
constexpr int32_t kRowPad = 16;

// Plane values of 16 neighbouring pixels. The arc strength is the best over
// the 16 arcs of the arc's smallest saturated difference to the centre,
// brighter or darker; saturation turns differences of the wrong sign into 0,
// which cannot change a best that is compared with a threshold >= 0.
inline __m128i planeValues(const uint8_t* p, const int32_t offsets[16], __m128i above) {
  const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i bright[16];
  __m128i dark[16];
  for (int i = 0; i < 16; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offsets[i]));
    bright[i] = _mm_subs_epu8(v, c);
    dark[i] = _mm_subs_epu8(c, v);
  }
  // Minima over windows of 2, 4, 8 and then 12 circle pixels.
  auto arcBest = [](__m128i* d) {
    __m128i two[16], four[16];
    for (int i = 0; i < 16; ++i) two[i] = _mm_min_epu8(d[i], d[(i + 1) & 15]);
    for (int i = 0; i < 16; ++i) four[i] = _mm_min_epu8(two[i], two[(i + 2) & 15]);
    __m128i best = _mm_setzero_si128();
    for (int i = 0; i < 16; ++i) {
      const __m128i eight = _mm_min_epu8(four[i], four[(i + 4) & 15]);
      best = _mm_max_epu8(best, _mm_min_epu8(eight, four[(i + 8) & 15]));
    }
    return best;
  };
  const __m128i strength = _mm_max_epu8(arcBest(bright), arcBest(dark));
  // Passing means strength > threshold, i.e. strength >= above = threshold + 1.
  const __m128i pass = _mm_cmpeq_epi8(_mm_max_epu8(strength, above), strength);
  return _mm_and_si128(strength, pass);
}

#if VORNIK_FAST_AVX2
// (Lambdas would not inherit the target attribute: helpers instead.)
__attribute__((target("avx2"))) inline __m256i load(const uint8_t* q) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
}

__attribute__((target("avx2"))) inline __m256i arcBest(const __m256i* d) {
  __m256i two[16], four[16];
  for (int i = 0; i < 16; ++i) two[i] = _mm256_min_epu8(d[i], d[(i + 1) & 15]);
  for (int i = 0; i < 16; ++i) four[i] = _mm256_min_epu8(two[i], two[(i + 2) & 15]);
  __m256i best = _mm256_setzero_si256();
  for (int i = 0; i < 16; ++i) {
    const __m256i eight = _mm256_min_epu8(four[i], four[(i + 4) & 15]);
    best = _mm256_max_epu8(best, _mm256_min_epu8(eight, four[(i + 8) & 15]));
  }
  return best;
}

// planeValues and compassRejects for 32 pixels; false when the compass test
// rejects all of them (out untouched).
__attribute__((target("avx2"))) bool planeValues32(const uint8_t* p, const int32_t offsets[16],
                                                   int32_t threshold, uint8_t* out) {
  const __m256i c = load(p);
  {
    const __m256i sign = _mm256_set1_epi8(static_cast<char>(0x80));
    const __m256i t = _mm256_set1_epi8(static_cast<char>(threshold));
    const __m256i hi = _mm256_xor_si256(_mm256_adds_epu8(c, t), sign);
    const __m256i lo = _mm256_xor_si256(_mm256_subs_epu8(c, t), sign);
    const __m256i v0 = _mm256_xor_si256(load(p + offsets[0]), sign);
    const __m256i v4 = _mm256_xor_si256(load(p + offsets[4]), sign);
    const __m256i v8 = _mm256_xor_si256(load(p + offsets[8]), sign);
    const __m256i v12 = _mm256_xor_si256(load(p + offsets[12]), sign);
    const __m256i b0 = _mm256_cmpgt_epi8(v0, hi), b4 = _mm256_cmpgt_epi8(v4, hi);
    const __m256i b8 = _mm256_cmpgt_epi8(v8, hi), b12 = _mm256_cmpgt_epi8(v12, hi);
    const __m256i d0 = _mm256_cmpgt_epi8(lo, v0), d4 = _mm256_cmpgt_epi8(lo, v4);
    const __m256i d8 = _mm256_cmpgt_epi8(lo, v8), d12 = _mm256_cmpgt_epi8(lo, v12);
    const __m256i bright =
        _mm256_or_si256(_mm256_and_si256(_mm256_and_si256(b0, b4), _mm256_or_si256(b8, b12)),
                        _mm256_and_si256(_mm256_and_si256(b8, b12), _mm256_or_si256(b0, b4)));
    const __m256i dark =
        _mm256_or_si256(_mm256_and_si256(_mm256_and_si256(d0, d4), _mm256_or_si256(d8, d12)),
                        _mm256_and_si256(_mm256_and_si256(d8, d12), _mm256_or_si256(d0, d4)));
    if (_mm256_testz_si256(_mm256_or_si256(bright, dark), _mm256_or_si256(bright, dark))) {
      return false;
    }
  }
  __m256i bright[16];
  __m256i dark[16];
  for (int i = 0; i < 16; ++i) {
    const __m256i v = load(p + offsets[i]);
    bright[i] = _mm256_subs_epu8(v, c);
    dark[i] = _mm256_subs_epu8(c, v);
  }
  const __m256i strength = _mm256_max_epu8(arcBest(bright), arcBest(dark));
  const __m256i above = _mm256_set1_epi8(static_cast<char>(threshold + 1));
  const __m256i pass = _mm256_cmpeq_epi8(_mm256_max_epu8(strength, above), strength);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_and_si256(strength, pass));
  return true;
}
#endif

// Plane values of image row y into out (indexed by x; the caller zeroed it).
void planeRow(const uint8_t* row, int32_t width, const int32_t offsets[16], int32_t threshold,
              uint8_t* out) {
  const __m128i above = _mm_set1_epi8(static_cast<char>(threshold + 1));
  int32_t x = 3;
#if VORNIK_FAST_AVX2
  if (cpuHasAvx2()) {
    for (; x + 32 <= width - 3; x += 32) {
      if (!planeValues32(row + x, offsets, threshold, out + x)) {
        std::fill(out + x, out + x + 32, uint8_t{0});
      }
    }
  }
#endif
  for (; x + 16 <= width - 3; x += 16) {
    if (compassRejects(row + x, offsets, threshold)) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_setzero_si128());
      continue;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), planeValues(row + x, offsets, above));
  }
  // The last block overlaps the one before it rather than leaving a scalar
  // tail; its pixels get the same values either way.
  if (x < width - 3 && width - 6 >= 16) {
    x = width - 3 - 16;
    const __m128i last = compassRejects(row + x, offsets, threshold)
                             ? _mm_setzero_si128()
                             : planeValues(row + x, offsets, above);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), last);
    x = width - 3;
  }
  for (; x < width - 3; ++x) {
    const uint8_t* p = row + x;
    out[x] = passesFast12(p, offsets, threshold)
                 ? static_cast<uint8_t>(scoreFast12(p, offsets, threshold) + 1)
                 : 0;
  }
}

// Keeps the pixels of plane row `mid` greater than all 8 neighbours.
void suppressRow(const uint8_t* up, const uint8_t* mid, const uint8_t* down, int32_t width,
                 int32_t y, std::vector<ScoredCorner>* kept) {
  for (int32_t x = 3; x < width - 3; x += 16) {
    auto at = [](const uint8_t* r, int32_t i) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i));
    };
    const __m128i centre = at(mid, x);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(centre, _mm_setzero_si128())) == 0xFFFF) continue;
    __m128i n = _mm_max_epu8(at(mid, x - 1), at(mid, x + 1));
    n = _mm_max_epu8(n, _mm_max_epu8(at(up, x - 1), at(up, x)));
    n = _mm_max_epu8(n, _mm_max_epu8(at(up, x + 1), at(down, x - 1)));
    n = _mm_max_epu8(n, _mm_max_epu8(at(down, x), at(down, x + 1)));
    // centre > n, bytes unsigned; a zero centre never is.
    int mask = _mm_movemask_epi8(
        _mm_xor_si128(_mm_cmpeq_epi8(_mm_max_epu8(n, centre), n), _mm_set1_epi8(-1)));
    const int32_t limit = width - 3 - x;
    if (limit < 16) mask &= (1 << limit) - 1;
    while (mask != 0) {
      int bit = 0;
      while (((mask >> bit) & 1) == 0) ++bit;
      kept->push_back(ScoredCorner{x + bit, y, mid[x + bit] - 1});
      mask &= mask - 1;
    }
  }
}

}  // namespace
#endif

void detectScoredCorners(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                         int32_t threshold, FastScratch* scratch, std::vector<ScoredCorner>* kept) {
#if VORNIK_FAST_SSE2
  // Plane values need threshold + 1 <= 254 so a score of 254 still fits.
  if (pixels != nullptr && width >= 7 && height >= 7 && threshold >= 0 && threshold <= 253) {
    kept->clear();
    const size_t rowBytes = static_cast<size_t>(width) + 2 * kRowPad;
    scratch->rows.assign(3 * rowBytes, 0);
    uint8_t* rows[3] = {scratch->rows.data() + kRowPad, scratch->rows.data() + rowBytes + kRowPad,
                        scratch->rows.data() + 2 * rowBytes + kRowPad};
    int32_t offsets[16];
    fastCircleOffsets(stride, offsets);
    // rows[0..2] hold plane rows y - 2, y - 1, y; rows outside 3..height-4 stay 0.
    for (int32_t y = 3; y <= height - 3; ++y) {
      uint8_t* newest = rows[0];
      rows[0] = rows[1];
      rows[1] = rows[2];
      rows[2] = newest;
      if (y < height - 3) {
        planeRow(pixels + static_cast<ptrdiff_t>(y) * stride, width, offsets, threshold, newest);
      } else {
        std::fill(newest - kRowPad, newest + width + kRowPad, uint8_t{0});
      }
      if (y > 3) suppressRow(rows[0], rows[1], rows[2], width, y - 1, kept);
    }
    return;
  }
#endif
  detectFast12(pixels, width, height, stride, threshold, &scratch->corners);
  scoreFast12(pixels, stride, scratch->corners, threshold, &scratch->scores);
  suppressNonMax(scratch->corners, scratch->scores, kept);
}

}  // namespace vornik
