#include "tracking/patch_search.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <smmintrin.h>
#define VORNIK_TEMPLATE_SSE41 1
#endif

#include "features/pyramid_coordinates.h"
#include "manager/throttled_log.h"
#include "platform/threads.h"
#include "tracking/cholesky_inverse3.h"
#include "tracking/window_sums.h"

namespace vornik {
namespace {

constexpr int32_t kHalf = PatchTemplate::kSize / 2;
static_assert(PatchTemplate::kSize == 8, "windowSums sums 8 x 8 windows");
constexpr float kStartScore = 0.29999f;
constexpr float kMinScore = 0.3f;
constexpr float kEarlyExitScore = 0.95f;
constexpr float kConvergedStep2 = 0.0025f;
constexpr float kAcceptedStep2 = 0.01f;
constexpr int32_t kSubpixelBorder = 5;
constexpr int32_t kPreviousFrameRadius = 3;
constexpr int32_t kFineSubpixelIterations = 5;
constexpr int32_t kSearchThreads = 3;
// A warp that spreads template pixels further apart than this many source
// pixels takes its template from the smoothed keyframe level: plain samples
// of the sharp level alias there, and the aliasing biases the sub-pixel
// matches (a still target at 70 % of the frame width settled 1.2 px off).
constexpr float kMinifyingStep = 1.05f;
const float kIdentityWarp[4] = {1.0f, 0.0f, 0.0f, 1.0f};

// Projections far outside any image (or not finite, behind a degenerate
// pose) cannot be turned into a pixel centre.
bool toPixelCentre(float value, int32_t* centre) {
  if (!(value > -1.0e6f && value < 1.0e6f)) return false;
  *centre = static_cast<int32_t>(value + 0.5f);
  return true;
}

// Radius scaled down by 2^shift, rounded up.
int32_t shiftedRadius(int32_t radius, int32_t shift) {
  if (shift <= 0) return radius;
  return (radius + (1 << shift) - 1) >> shift;
}

// One per thread, so that trackers on different threads never share the map.
SpiralOffsetCache& processCache() {
  thread_local SpiralOffsetCache cache;
  return cache;
}

bool templateMinifies(const float warp[4]) {
  const float step = std::max(std::sqrt(warp[0] * warp[0] + warp[2] * warp[2]),
                              std::sqrt(warp[1] * warp[1] + warp[3] * warp[3]));
  return step > kMinifyingStep;
}

int32_t pointRadius(const Keyframe& keyframe, const TrackPoint& point, int32_t radius) {
  return shiftedRadius(radius, point.sourceLevel - point.sourceShift - trackingBaseLevel(keyframe));
}

// Offset lists of a search: `shared` (filled before the search, only read
// during it, so any number of threads may use it) and, for a radius it lacks,
// the searching thread's own.
struct OffsetSource {
  const SpiralOffsetCache* shared;
  SpiralOffsetCache* own;
  const SpiralOffsets& get(int32_t radius) const {
    const SpiralOffsets* found = shared != nullptr ? shared->find(radius) : nullptr;
    return found != nullptr ? *found : own->get(radius);
  }
};

bool searchOnePointInKeyframe(const Keyframe& keyframe, TrackPoint& point, const Frame& frame,
                              int32_t radius, int32_t subpixelIterations,
                              const OffsetSource& offsets) {
  point.refined = false;
  point.isFound = false;
  const GrayImage* source = templateMinifies(point.warp) ? keyframe.smoothedLevel(point.sourceLevel)
                                                         : keyframe.getLevel(point.sourceLevel);
  const GrayImage* target = frame.getLevel(point.searchLevel);
  // A level missing from either pyramid: nothing to cut or to search in.
  if (source == nullptr || target == nullptr || point.corner == nullptr) {
    point.searched = false;
    return false;
  }
  // Level 0 exists whenever any level does.
  const GrayImage& keyFull = *keyframe.getLevel(0);
  const GrayImage& frameFull = *frame.getLevel(0);
  point.source[0] = unitToLevel(point.corner->X, point.sourceLevel, keyFull.width, keyFull.width);
  point.source[1] = unitToLevel(-point.corner->Y, point.sourceLevel, keyFull.height, keyFull.width);
  if (!point.patch) point.patch = std::make_unique<PatchTemplate>();
  PatchTemplate& patch = *point.patch;
  if (!makeTemplate(*source, point.source[0], point.source[1], point.warp, patch)) {
    point.searched = false;
    return false;
  }
  normalizedToLevel(point.normalized, frameFull.width, frameFull.height, point.searchLevel,
                    point.projected);
  int32_t cx = 0;
  int32_t cy = 0;
  if (!toPixelCentre(point.projected[0], &cx) || !toPixelCentre(point.projected[1], &cy)) {
    return false;
  }
  const int32_t r = pointRadius(keyframe, point, radius);
  if (!findPatchCoarse(patch, *target, cx, cy, offsets.get(r), &point.found[0], &point.found[1])) {
    return false;
  }
  point.isFound = true;
  if (subpixelIterations <= 0) return true;
  point.refined = true;
  if (!makeSubpixelTemplate(patch)) {
    point.isFound = false;
    return false;
  }
  patch.subpixelX = point.found[0];
  patch.subpixelY = point.found[1];
  if (!iterateSubpixel(patch, *target, subpixelIterations)) {
    point.isFound = false;
    return false;
  }
  point.found[0] = patch.subpixelX;
  point.found[1] = patch.subpixelY;
  return true;
}

struct SearchTask {
  const Keyframe* keyframe;
  const std::vector<TrackPoint*>* points;
  const Frame* frame;
  int32_t radius;
  int32_t subpixelIterations;
  const SpiralOffsetCache* offsets;  // holds every radius of the points
  std::atomic<int32_t> nextIndex{-1};
  std::atomic<int32_t> foundCount{0};
};

// Takes points off the shared list until none is left. The shared offset
// lists are only read; a radius they lacked would go to the participant's own.
void searchSharedList(SearchTask* task) {
  SpiralOffsetCache own;
  const OffsetSource offsets{task->offsets, &own};
  const int32_t count = static_cast<int32_t>(task->points->size());
  for (;;) {
    const int32_t index = task->nextIndex.fetch_add(1) + 1;
    if (index >= count) break;
    TrackPoint* point = (*task->points)[index];
    if (searchOnePointInKeyframe(*task->keyframe, *point, *task->frame, task->radius,
                                 task->subpixelIterations, offsets)) {
      task->foundCount.fetch_add(1);
    }
  }
}

void* searchWorker(void* argument) {
  searchSharedList(static_cast<SearchTask*>(argument));
  return nullptr;
}

// Once per frame while the system is out of threads: throttled.
ThrottledLog& threadFailureLog() {
  static ThrottledLog* log = new ThrottledLog();
  return *log;
}

}  // namespace

SpiralOffsets computeSpiralOffsets(int32_t radius) {
  SpiralOffsets offsets;
  // The disc holds fewer than (2r - 1)^2 offsets: one allocation.
  if (radius > 0) offsets.reserve(static_cast<size_t>(2 * radius - 1) * (2 * radius - 1));
  offsets.push_back({0, 0});
  const int32_t r2 = radius * radius;
  auto keep = [&](int32_t dx, int32_t dy) {
    if (dx * dx + dy * dy <= r2) offsets.push_back({dx, dy});
  };
  for (int32_t k = 1; k < radius; ++k) {
    for (int32_t i = -k; i < k; ++i) keep(i, -k);
    for (int32_t i = -k; i < k; ++i) keep(k, i);
    for (int32_t i = k; i > -k; --i) keep(i, k);
    for (int32_t i = k; i > -k; --i) keep(-k, i);
  }
  return offsets;
}

const SpiralOffsets* SpiralOffsetCache::find(int32_t radius) const {
  auto it = lists_.find(radius);
  return it == lists_.end() ? nullptr : &it->second;
}

const SpiralOffsets& SpiralOffsetCache::get(int32_t radius) {
  auto it = lists_.find(radius);
  if (it == lists_.end()) it = lists_.emplace(radius, computeSpiralOffsets(radius)).first;
  return it->second;
}

const SpiralOffsets& spiralOffsets(int32_t radius) { return processCache().get(radius); }

void sampleTemplateScalar(const GrayImage& source, float centreX, float centreY,
                          const float warp[4], PatchTemplate& patch) {
  const int32_t w = source.width;
  const int32_t h = source.height;
  const uint8_t* pixels = source.pixels.get();
  int32_t sum = 0;
  int32_t sumSquares = 0;
  for (int32_t ty = -kHalf; ty < kHalf; ++ty) {
    for (int32_t tx = -kHalf; tx < kHalf; ++tx) {
      const float x = centreX + warp[0] * tx + warp[1] * ty;
      const float y = centreY + warp[2] * tx + warp[3] * ty;
      const int32_t fixedX = static_cast<int32_t>(x * 256.0f);
      const int32_t fixedY = static_cast<int32_t>(y * 256.0f);
      int32_t ix = fixedX >> 8;
      int32_t iy = fixedY >> 8;
      const int32_t fx = fixedX & 255;
      const int32_t fy = fixedY & 255;
      // Rounding can put an inner sample a hair past the checked corners; the
      // neighbour on the last row or column then carries zero weight anyway.
      ix = ix < 0 ? 0 : (ix > w - 1 ? w - 1 : ix);
      iy = iy < 0 ? 0 : (iy > h - 1 ? h - 1 : iy);
      const int32_t ix1 = ix + 1 < w ? ix + 1 : ix;
      const int32_t iy1 = iy + 1 < h ? iy + 1 : iy;
      const uint8_t* row0 = pixels + static_cast<size_t>(iy) * w;
      const uint8_t* row1 = pixels + static_cast<size_t>(iy1) * w;
      const int32_t value = (row0[ix] * (256 - fx) * (256 - fy) + row0[ix1] * fx * (256 - fy) +
                             row1[ix] * (256 - fx) * fy + row1[ix1] * fx * fy) >>
                            16;
      patch.pixels[(ty + kHalf) * PatchTemplate::kSize + tx + kHalf] = static_cast<uint8_t>(value);
      sum += value;
      sumSquares += value * value;
    }
  }
  patch.sum = sum;
  patch.sumSquares = sumSquares;
}

#if VORNIK_TEMPLATE_SSE41
// Four samples of a template row at a time: the positions with the same
// single-precision operations as the scalar form, the clamps and weights in
// 32-bit lanes, the four neighbours read one by one.
__attribute__((target("sse4.1"))) void sampleTemplateSse41(const GrayImage& source, float centreX,
                                                           float centreY, const float warp[4],
                                                           PatchTemplate& patch) {
  const int32_t w = source.width;
  const int32_t h = source.height;
  const uint8_t* pixels = source.pixels.get();
  const __m128i zero = _mm_setzero_si128();
  const __m128i lastX = _mm_set1_epi32(w - 1);
  const __m128i lastY = _mm_set1_epi32(h - 1);
  const __m128i one = _mm_set1_epi32(1);
  const __m128i low8 = _mm_set1_epi32(255);
  const __m128i full = _mm_set1_epi32(256);
  const __m128i rowStride = _mm_set1_epi32(w);
  const __m128 scale = _mm_set1_ps(256.0f);
  const __m128 txs[2] = {_mm_setr_ps(-4.0f, -3.0f, -2.0f, -1.0f),
                         _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f)};
  __m128i sum = zero;
  __m128i sumSquares = zero;
  for (int32_t ty = -kHalf; ty < kHalf; ++ty) {
    const __m128 rowX = _mm_set1_ps(warp[1] * static_cast<float>(ty));
    const __m128 rowY = _mm_set1_ps(warp[3] * static_cast<float>(ty));
    for (int32_t half = 0; half < 2; ++half) {
      const __m128 x = _mm_add_ps(
          _mm_add_ps(_mm_set1_ps(centreX), _mm_mul_ps(_mm_set1_ps(warp[0]), txs[half])), rowX);
      const __m128 y = _mm_add_ps(
          _mm_add_ps(_mm_set1_ps(centreY), _mm_mul_ps(_mm_set1_ps(warp[2]), txs[half])), rowY);
      const __m128i fixedX = _mm_cvttps_epi32(_mm_mul_ps(x, scale));
      const __m128i fixedY = _mm_cvttps_epi32(_mm_mul_ps(y, scale));
      const __m128i ix = _mm_min_epi32(_mm_max_epi32(_mm_srai_epi32(fixedX, 8), zero), lastX);
      const __m128i iy = _mm_min_epi32(_mm_max_epi32(_mm_srai_epi32(fixedY, 8), zero), lastY);
      const __m128i fx = _mm_and_si128(fixedX, low8);
      const __m128i fy = _mm_and_si128(fixedY, low8);
      const __m128i dx = _mm_sub_epi32(_mm_min_epi32(_mm_add_epi32(ix, one), lastX), ix);
      const __m128i dy = _mm_mullo_epi32(
          _mm_sub_epi32(_mm_min_epi32(_mm_add_epi32(iy, one), lastY), iy), rowStride);
      alignas(16) int32_t at[4];
      alignas(16) int32_t stepX[4];
      alignas(16) int32_t stepY[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(at),
                      _mm_add_epi32(_mm_mullo_epi32(iy, rowStride), ix));
      _mm_store_si128(reinterpret_cast<__m128i*>(stepX), dx);
      _mm_store_si128(reinterpret_cast<__m128i*>(stepY), dy);
      const uint8_t* p0 = pixels + at[0];
      const uint8_t* p1 = pixels + at[1];
      const uint8_t* p2 = pixels + at[2];
      const uint8_t* p3 = pixels + at[3];
      const __m128i v00 = _mm_setr_epi32(p0[0], p1[0], p2[0], p3[0]);
      const __m128i v01 = _mm_setr_epi32(p0[stepX[0]], p1[stepX[1]], p2[stepX[2]], p3[stepX[3]]);
      const __m128i v10 = _mm_setr_epi32(p0[stepY[0]], p1[stepY[1]], p2[stepY[2]], p3[stepY[3]]);
      const __m128i v11 = _mm_setr_epi32(p0[stepY[0] + stepX[0]], p1[stepY[1] + stepX[1]],
                                         p2[stepY[2] + stepX[2]], p3[stepY[3] + stepX[3]]);
      const __m128i gx = _mm_sub_epi32(full, fx);
      const __m128i gy = _mm_sub_epi32(full, fy);
      const __m128i weighted =
          _mm_add_epi32(_mm_add_epi32(_mm_mullo_epi32(v00, _mm_mullo_epi32(gx, gy)),
                                      _mm_mullo_epi32(v01, _mm_mullo_epi32(fx, gy))),
                        _mm_add_epi32(_mm_mullo_epi32(v10, _mm_mullo_epi32(gx, fy)),
                                      _mm_mullo_epi32(v11, _mm_mullo_epi32(fx, fy))));
      const __m128i value = _mm_srai_epi32(weighted, 16);
      sum = _mm_add_epi32(sum, value);
      sumSquares = _mm_add_epi32(sumSquares, _mm_mullo_epi32(value, value));
      const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(value, zero), zero);
      const int32_t packed = _mm_cvtsi128_si32(bytes);
      std::memcpy(patch.pixels + (ty + kHalf) * PatchTemplate::kSize + 4 * half, &packed, 4);
    }
  }
  const __m128i sums =
      _mm_add_epi32(_mm_unpacklo_epi32(sum, sumSquares), _mm_unpackhi_epi32(sum, sumSquares));
  const __m128i folded = _mm_add_epi32(sums, _mm_unpackhi_epi64(sums, sums));
  patch.sum = _mm_cvtsi128_si32(folded);
  patch.sumSquares = _mm_cvtsi128_si32(_mm_shuffle_epi32(folded, _MM_SHUFFLE(1, 1, 1, 1)));
}
#endif

std::vector<NamedKernel<TemplateSampler>> templateSamplers() {
  std::vector<NamedKernel<TemplateSampler>> forms = {{"scalar", sampleTemplateScalar}};
#if VORNIK_TEMPLATE_SSE41
  if (cpuHasSse41()) forms.push_back({"sse4.1", sampleTemplateSse41});
#endif
  return forms;
}

bool makeTemplate(const GrayImage& source, float centreX, float centreY, const float warp[4],
                  PatchTemplate& patch) {
  static const TemplateSampler sample = templateSamplers().back().run;
  const int32_t w = source.width;
  const int32_t h = source.height;
  if (w <= 0 || h <= 0 || !source.pixels) return false;
  const float maxX = static_cast<float>(w - 1);
  const float maxY = static_cast<float>(h - 1);
  const float corners[4][2] = {{-4, 3}, {3, 3}, {3, -4}, {-4, -4}};
  for (const auto& c : corners) {
    const float x = centreX + warp[0] * c[0] + warp[1] * c[1];
    const float y = centreY + warp[2] * c[0] + warp[3] * c[1];
    // Written so that a NaN position is rejected too.
    if (!(x >= 0.0f && x <= maxX && y >= 0.0f && y <= maxY)) return false;
  }
  sample(source, centreX, centreY, warp, patch);
  return true;
}

namespace {

// Numerator and squared denominator of the normalised cross-correlation.
struct CorrelationParts {
  double numerator;
  double denominator;
};

CorrelationParts correlationParts(const PatchTemplate& patch, const WindowSums& s, double varT) {
  const double n = PatchTemplate::kPixels;
  const double numerator = s.sumIT - static_cast<double>(s.sumI) * patch.sum / n;
  const double varI = s.sumII - static_cast<double>(s.sumI) * s.sumI / n;
  return {numerator, varI * varT};
}

double templateVariance(const PatchTemplate& patch) {
  const double n = PatchTemplate::kPixels;
  return patch.sumSquares - static_cast<double>(patch.sum) * patch.sum / n;
}

float scoreOf(const CorrelationParts& parts) {
  if (!(parts.denominator > 0.0)) return 0.0f;
  return static_cast<float>(parts.numerator / std::sqrt(parts.denominator));
}

const uint8_t* windowAt(const GrayImage& image, int32_t left, int32_t top) {
  return image.pixels.get() + static_cast<size_t>(top) * image.width + left;
}

}  // namespace

float correlationScore(const PatchTemplate& patch, const GrayImage& image, int32_t left,
                       int32_t top) {
  const WindowSums s = windowSums(windowAt(image, left, top), image.width, patch.pixels);
  return scoreOf(correlationParts(patch, s, templateVariance(patch)));
}

namespace {

// The spiral search with one window-sums form: `Sums` widens the template
// once (widen) and sums a window against it (sum). Every form gives the same
// sums, so every instance the same result.
template <typename Sums>
inline __attribute__((always_inline)) bool spiralSearch(PatchTemplate& patch,
                                                        const GrayImage& image, int32_t centreX,
                                                        int32_t centreY,
                                                        const SpiralOffsets& offsets, float* foundX,
                                                        float* foundY) {
  float best = kStartScore;
  const int32_t maxLeft = image.width - PatchTemplate::kSize;
  const int32_t maxTop = image.height - PatchTemplate::kSize;
  const double varT = templateVariance(patch);
  // A window is scored in full only when it may beat `best`. The margin
  // covers the rounding of the float score, so the windows rejected by the
  // squared comparison could never have won: results are those of scoring
  // every window.
  constexpr double kRejectMargin = 1.0 - 1.0e-5;
  double bestSquaredBound = static_cast<double>(best) * best * kRejectMargin;
  const auto widened = Sums::widen(patch.pixels);
  for (const SpiralOffset& o : offsets) {
    const int64_t left = int64_t{centreX} + o.dx - kHalf;
    const int64_t top = int64_t{centreY} + o.dy - kHalf;
    if (left < 0 || top < 0 || left > maxLeft || top > maxTop) continue;
    const uint8_t* window = windowAt(image, static_cast<int32_t>(left), static_cast<int32_t>(top));
    const CorrelationParts parts =
        correlationParts(patch, Sums::sum(window, image.width, widened), varT);
    // best stays positive, so windows without a positive correlation never win.
    if (!(parts.numerator > 0.0 && parts.denominator > 0.0)) continue;
    if (parts.numerator * parts.numerator < bestSquaredBound * parts.denominator) continue;
    const float score = scoreOf(parts);
    if (score > best) {
      best = score;
      bestSquaredBound = static_cast<double>(best) * best * kRejectMargin;
      *foundX = static_cast<float>(left + kHalf);
      *foundY = static_cast<float>(top + kHalf);
      if (score > kEarlyExitScore) break;
    }
  }
  const bool found = best >= kMinScore;
  patch.score = found ? best : 0.0f;
  return found;
}

#if defined(__SSE2__)
struct PortableSums {
  static WidenedTemplate widen(const uint8_t* templ) { return widenTemplate(templ); }
  static WindowSums sum(const uint8_t* window, int32_t stride, const WidenedTemplate& t) {
    return windowSumsSse2(window, stride, t);
  }
};
#else
struct PortableSums {
  static const uint8_t* widen(const uint8_t* templ) { return templ; }
  static WindowSums sum(const uint8_t* window, int32_t stride, const uint8_t* t) {
    return windowSumsScalar(window, stride, t);
  }
};
#endif

#if VORNIK_WINDOW_SUMS_AVX2
struct Avx2Sums {
  __attribute__((target("avx2"))) static WidenedTemplateAvx2 widen(const uint8_t* templ) {
    return widenTemplateAvx2(templ);
  }
  __attribute__((target("avx2"))) static WindowSums sum(const uint8_t* window, int32_t stride,
                                                        const WidenedTemplateAvx2& t) {
    return windowSumsAvx2(window, stride, t);
  }
};

// The whole loop in one AVX2 function, so that the sums inline into it.
__attribute__((target("avx2"))) bool findPatchCoarseAvx2(PatchTemplate& patch,
                                                         const GrayImage& image, int32_t centreX,
                                                         int32_t centreY,
                                                         const SpiralOffsets& offsets,
                                                         float* foundX, float* foundY) {
  return spiralSearch<Avx2Sums>(patch, image, centreX, centreY, offsets, foundX, foundY);
}
#endif

}  // namespace

bool findPatchCoarse(PatchTemplate& patch, const GrayImage& image, int32_t centreX, int32_t centreY,
                     const SpiralOffsets& offsets, float* foundX, float* foundY) {
#if VORNIK_WINDOW_SUMS_AVX2
  if (cpuHasAvx2()) {
    return findPatchCoarseAvx2(patch, image, centreX, centreY, offsets, foundX, foundY);
  }
#endif
  return spiralSearch<PortableSums>(patch, image, centreX, centreY, offsets, foundX, foundY);
}

bool makeSubpixelTemplate(PatchTemplate& patch) {
  constexpr int32_t s = PatchTemplate::kSize;
  float gxx = 0, gxy = 0, gyy = 0, gx = 0, gy = 0;
  for (int32_t y = 1; y < s - 1; ++y) {
    for (int32_t x = 1; x < s - 1; ++x) {
      const int32_t i = y * s + x;
      const float dx = static_cast<float>(patch.pixels[i + 1]) - patch.pixels[i - 1];
      const float dy = static_cast<float>(patch.pixels[i + s]) - patch.pixels[i - s];
      patch.gradientX[i] = dx;
      patch.gradientY[i] = dy;
      gxx += dx * dx;
      gxy += dx * dy;
      gyy += dy * dy;
      gx += dx;
      gy += dy;
    }
  }
  Matrix33F normal;
  const float values[9] = {gxx, gxy, gx, gxy, gyy, gy, gx, gy, 36.0f};
  for (int i = 0; i < 9; ++i) normal.m[i] = values[i];
  Matrix33F inverse;
  const int rank = choleskyInverse3(normal, &inverse);
  for (int i = 0; i < 9; ++i) patch.inverseNormal[i] = inverse.m[i];
  if (rank < 3) {
    std::printf("BAD RANK IN MAKESUBPIXELTEMPLATE!!!!\n");
    return false;
  }
  return true;
}

void subpixelSumsScalar(const PatchTemplate& patch, const uint8_t* origin, int32_t stride,
                        const float weights[4], float b[3]) {
  constexpr int32_t s = PatchTemplate::kSize;
  const float w00 = weights[0], w10 = weights[1], w01 = weights[2], w11 = weights[3];
  float bx = 0.0f, by = 0.0f, be = 0.0f;
  for (int32_t j = 0; j < 6; ++j) {
    const uint8_t* row0 = origin + static_cast<size_t>(j) * stride;
    const uint8_t* row1 = row0 + stride;
    for (int32_t i = 0; i < 6; ++i) {
      const float sample = w00 * row0[i] + w10 * row0[i + 1] + w01 * row1[i] + w11 * row1[i + 1];
      const int32_t t = (1 + j) * s + 1 + i;
      const float e = sample - patch.pixels[t] + patch.meanDifference;
      bx += patch.gradientX[t] * e;
      by += patch.gradientY[t] * e;
      be += e;
    }
  }
  b[0] = bx;
  b[1] = by;
  b[2] = be;
}

#if defined(__SSE2__)
namespace {
inline __m128 fourBytes(const uint8_t* p) {
  int32_t word;
  std::memcpy(&word, p, 4);
  const __m128i zero = _mm_setzero_si128();
  const __m128i bytes = _mm_cvtsi32_si128(word);
  return _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
}
}  // namespace

// Samples, differences and products four at a time with the scalar form's
// operations; the sums then add them one by one in the same order. The
// second block's last two lanes (columns 6 and 7, inside the image and the
// template) are computed but not added.
void subpixelSumsSse2(const PatchTemplate& patch, const uint8_t* origin, int32_t stride,
                      const float weights[4], float b[3]) {
  constexpr int32_t s = PatchTemplate::kSize;
  const __m128 w00 = _mm_set1_ps(weights[0]), w10 = _mm_set1_ps(weights[1]);
  const __m128 w01 = _mm_set1_ps(weights[2]), w11 = _mm_set1_ps(weights[3]);
  const __m128 mean = _mm_set1_ps(patch.meanDifference);
  float bx = 0.0f, by = 0.0f, be = 0.0f;
  for (int32_t j = 0; j < 6; ++j) {
    const uint8_t* row0 = origin + static_cast<size_t>(j) * stride;
    const uint8_t* row1 = row0 + stride;
    for (int32_t i = 0; i < 6; i += 4) {
      const __m128 sample =
          _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(w00, fourBytes(row0 + i)),
                                           _mm_mul_ps(w10, fourBytes(row0 + i + 1))),
                                _mm_mul_ps(w01, fourBytes(row1 + i))),
                     _mm_mul_ps(w11, fourBytes(row1 + i + 1)));
      const int32_t t = (1 + j) * s + 1 + i;
      alignas(16) float e[4], px[4], py[4];
      const __m128 difference = _mm_add_ps(_mm_sub_ps(sample, fourBytes(patch.pixels + t)), mean);
      _mm_store_ps(e, difference);
      _mm_store_ps(px, _mm_mul_ps(_mm_loadu_ps(patch.gradientX + t), difference));
      _mm_store_ps(py, _mm_mul_ps(_mm_loadu_ps(patch.gradientY + t), difference));
      const int32_t lanes = i == 0 ? 4 : 2;
      for (int32_t l = 0; l < lanes; ++l) {
        bx += px[l];
        by += py[l];
        be += e[l];
      }
    }
  }
  b[0] = bx;
  b[1] = by;
  b[2] = be;
}
#endif

std::vector<NamedKernel<SubpixelSums>> subpixelSumsForms() {
  std::vector<NamedKernel<SubpixelSums>> forms = {{"scalar", subpixelSumsScalar}};
#if defined(__SSE2__)
  forms.push_back({"sse2", subpixelSumsSse2});
#endif
  return forms;
}

bool iterateSubpixel(PatchTemplate& patch, const GrayImage& image, int32_t maxIterations,
                     SubpixelSums sums) {
  static const SubpixelSums fastest = subpixelSumsForms().back().run;
  if (sums == nullptr) sums = fastest;
  const int32_t w = image.width;
  const int32_t h = image.height;
  const uint8_t* pixels = image.pixels.get();
  float x = patch.subpixelX;
  float y = patch.subpixelY;
  patch.meanDifference = 0.0f;
  float lastStep2 = 1.0e30f;
  for (int32_t iteration = 0; iteration < maxIterations; ++iteration) {
    if (!(x >= kSubpixelBorder && y >= kSubpixelBorder && x < w - kSubpixelBorder &&
          y < h - kSubpixelBorder)) {
      return false;
    }
    const float baseX = std::floor(x - 4.0f);
    const float baseY = std::floor(y - 4.0f);
    const float fx = (x - 4.0f) - baseX;
    const float fy = (y - 4.0f) - baseY;
    const float w00 = (1.0f - fx) * (1.0f - fy);
    const float w10 = fx * (1.0f - fy);
    const float w01 = (1.0f - fx) * fy;
    const float w11 = fx * fy;
    // Sample (x - 3 + i, y - 3 + j) = base + (1 + i, 1 + j).
    const int32_t left = static_cast<int32_t>(baseX) + 1;
    const int32_t top = static_cast<int32_t>(baseY) + 1;
    const float weights[4] = {w00, w10, w01, w11};
    float b[3];
    sums(patch, pixels + static_cast<size_t>(top) * w + left, w, weights, b);
    const float bx = b[0], by = b[1], be = b[2];
    const float* m = patch.inverseNormal;
    const float u0 = m[0] * bx + m[1] * by + m[2] * be;
    const float u1 = m[3] * bx + m[4] * by + m[5] * be;
    const float u2 = m[6] * bx + m[7] * by + m[8] * be;
    x -= u0;
    y -= u1;
    patch.meanDifference -= u2;
    patch.subpixelX = x;
    patch.subpixelY = y;
    lastStep2 = u0 * u0 + u1 * u1;
    if (lastStep2 < kConvergedStep2) return true;
  }
  return lastStep2 < kAcceptedStep2;
}

int32_t searchPointsInKeyframe(const Keyframe& keyframe, const std::vector<TrackPoint*>& points,
                               const Frame& frame, int32_t radius, int32_t subpixelIterations) {
  int32_t found = 0;
  const OffsetSource offsets{nullptr, &processCache()};
  for (TrackPoint* point : points) {
    if (searchOnePointInKeyframe(keyframe, *point, frame, radius, subpixelIterations, offsets)) {
      ++found;
    }
  }
  return found;
}

int32_t searchPointsInKeyframeThreaded(const Keyframe& keyframe,
                                       const std::vector<TrackPoint*>& points, const Frame& frame,
                                       int32_t radius, int32_t subpixelIterations,
                                       int32_t threads) {
  const int32_t wanted = threads < 1 ? 1 : (threads > kSearchThreads ? kSearchThreads : threads);
  SearchTask task;
  task.keyframe = &keyframe;
  task.points = &points;
  task.frame = &frame;
  task.radius = radius;
  task.subpixelIterations = subpixelIterations;
  // Filled here, before any worker runs, so the workers allocate nothing.
  SpiralOffsetCache& offsets = processCache();
  for (const TrackPoint* point : points) offsets.get(pointRadius(keyframe, *point, radius));
  task.offsets = &offsets;
  ThreadHandle workers[kSearchThreads];
  int32_t started = 0;
  int lastError = 0;
  for (int32_t i = 0; i < wanted; ++i) {
    const int result = createThread(&workers[started], searchWorker, &task);
    if (result == 0) {
      ++started;
    } else {
      lastError = result;
    }
  }
  if (started < wanted) {
    threadFailureLog().log(
        "Patch search: %d of %d worker threads could not be started (error %d); the calling "
        "thread searches the remaining points\n",
        wanted - started, wanted, lastError);
    searchSharedList(&task);
  }
  for (int32_t i = 0; i < started; ++i) joinThread(workers[i]);
  return task.foundCount.load();
}

void normalizedToLevel(const float normalized[2], int32_t width, int32_t height, int32_t level,
                       float pixel[2]) {
  pixel[0] = unitToLevel(normalized[0], level, width, width);
  pixel[1] = unitToLevel(normalized[1], level, height, width);
}

void projectPlanePoint(const Mat44f& pose, float X, float Y, int32_t width, int32_t height,
                       int32_t level, float camera[3], float normalized[2], float pixel[2]) {
  const float* p = pose.m;
  camera[0] = p[0] * X + p[1] * Y + p[3];
  camera[1] = p[4] * X + p[5] * Y + p[7];
  camera[2] = p[8] * X + p[9] * Y + p[11];
  normalized[0] = camera[0] / camera[2];
  normalized[1] = camera[1] / camera[2];
  normalizedToLevel(normalized, width, height, level, pixel);
}

namespace {

// Whole-pixel matches of templates cut from the previous frame at its pose
// would let a still target's pose walk away from the truth: each frame
// re-cuts the templates where the last pose put them, and the rounding of
// the matches feeds back. The match is refined like a coarse one; where the
// refinement fails or leaves the pixel, the whole-pixel match stays.
void refineFineMatch(PatchTemplate& patch, const GrayImage& image, float found[2]) {
  if (!makeSubpixelTemplate(patch)) return;
  patch.subpixelX = found[0];
  patch.subpixelY = found[1];
  if (!iterateSubpixel(patch, image, kFineSubpixelIterations)) return;
  if (!(std::fabs(patch.subpixelX - found[0]) < 1.0f &&
        std::fabs(patch.subpixelY - found[1]) < 1.0f)) {
    return;
  }
  found[0] = patch.subpixelX;
  found[1] = patch.subpixelY;
}

}  // namespace

int32_t searchPointsInPreviousFrame(const Frame& previous, const Mat44f& previousPose,
                                    const std::vector<TrackPoint*>& points, const Frame& frame,
                                    const Mat44f& pose) {
  // Level 0 of each frame: non-null whenever the levels checked below exist.
  const GrayImage* previousFull = previous.getLevel(0);
  const GrayImage* frameFull = frame.getLevel(0);
  int32_t found = 0;
  for (TrackPoint* point : points) {
    point->isFound = false;
    const GrayImage* source = previous.getLevel(point->sourceLevel);
    const GrayImage* target = frame.getLevel(point->searchLevel);
    if (source == nullptr || target == nullptr || point->corner == nullptr) {
      point->searched = false;
      continue;
    }
    float camera[3];
    float normalized[2];
    projectPlanePoint(previousPose, point->corner->X, point->corner->Y, previousFull->width,
                      previousFull->height, point->sourceLevel, camera, normalized, point->source);
    if (!point->patch) point->patch = std::make_unique<PatchTemplate>();
    PatchTemplate& patch = *point->patch;
    if (!makeTemplate(*source, point->source[0], point->source[1], kIdentityWarp, patch)) {
      point->searched = false;
      continue;
    }
    projectPlanePoint(pose, point->corner->X, point->corner->Y, frameFull->width, frameFull->height,
                      point->searchLevel, point->camera, point->normalized, point->projected);
    int32_t cx = 0;
    int32_t cy = 0;
    if (!toPixelCentre(point->projected[0], &cx) || !toPixelCentre(point->projected[1], &cy)) {
      continue;
    }
    const int32_t r =
        shiftedRadius(kPreviousFrameRadius, point->sourceLevel - trackingBaseLevel(previous));
    if (findPatchCoarse(patch, *target, cx, cy, spiralOffsets(r), &point->found[0],
                        &point->found[1])) {
      refineFineMatch(patch, *target, point->found);
      point->isFound = true;
      ++found;
    }
  }
  return found;
}

}  // namespace vornik
