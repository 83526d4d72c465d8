#include "builder/database_report.h"

#include <cJSON.h>
#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <system_error>
#include <thread>

#include "builder/band_views.h"
#include "builder/recognition_features.h"
#include "common/image_io.h"
#include "database/ardb_mngr.h"
#include "database/entry_readers.h"
#include "database/file_info.h"
#include "database/group_file_reader.h"
#include "features/descriptor_key.h"
#include "manager/log.h"

namespace vornik {

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr char kNullDevice[] = "NUL";
#else
constexpr char kNullDevice[] = "/dev/null";
#endif

// Rating thresholds; --help explains them in words. The stored features are
// the ones that survived training, so their number already says how many
// stable features the target has.
constexpr int32_t kTrackingSteps[3] = {100, 250, 400};
constexpr int32_t kFewTrackingFeatures = 100;
constexpr int32_t kFewRecognitionKeys = 100;
constexpr int32_t kManyRecognitionKeys = 300;
constexpr double kWideSpread = 0.5;
constexpr double kFullSpread = 0.75;
constexpr double kRepetitive = 0.25;
constexpr double kLowContrast = 25.0;
// Descriptor distance below which two tracking features look alike, and the
// share of the target width beyond which such a pair confuses the matcher.
constexpr double kLookAlikeDistance = 200.0;
constexpr double kLookAlikeSeparation = 0.05;
constexpr int kGridCells = 4;

struct TrackPoint {
  int32_t x;
  int32_t y;
  uint8_t polarity;
  const uint8_t* descriptor;
};

double descriptorDistance(const uint8_t* a, const uint8_t* b) {
  int32_t sum = 0;
  for (int i = 0; i < kDescriptorBytes; ++i) {
    const int32_t d = static_cast<int32_t>(a[i]) - b[i];
    sum += d * d;
  }
  return std::sqrt(static_cast<double>(sum));
}

void measureTracking(const std::vector<FeaturePtr>& features, TargetReport* report) {
  const int32_t w = report->imageWidth;
  const int32_t h = report->imageHeight;
  if (features.empty() || w <= 0 || h <= 0) return;
  int cells[kGridCells][kGridCells] = {};
  for (const FeaturePtr& f : features) {
    // Stored positions are from the centre with y up.
    const int32_t px = f->x + (w >> 1);
    const int32_t py = (h >> 1) - f->y;
    const int cx = std::min(std::max(px * kGridCells / w, 0), kGridCells - 1);
    const int cy = std::min(std::max(py * kGridCells / h, 0), kGridCells - 1);
    ++cells[cy][cx];
  }
  int occupied = 0;
  for (auto& row : cells) {
    for (int count : row) occupied += count >= 2 ? 1 : 0;
  }
  report->spread = static_cast<double>(occupied) / (kGridCells * kGridCells);

  const double separation = kLookAlikeSeparation * w;
  int lookAlikes = 0;
  for (size_t i = 0; i < features.size(); ++i) {
    const Feature& a = *features[i];
    for (size_t j = 0; j < features.size(); ++j) {
      const Feature& b = *features[j];
      if (i == j || a.polarity != b.polarity) continue;
      if (std::hypot(a.x - b.x, a.y - b.y) <= separation) continue;
      if (descriptorDistance(a.descriptor.get(), b.descriptor.get()) < kLookAlikeDistance) {
        ++lookAlikes;
        break;
      }
    }
  }
  report->repetition = static_cast<double>(lookAlikes) / features.size();
}

double greyDeviation(const Image& image) {
  const Image grey = toGray(image);
  if (grey.empty()) return -1.0;
  double sum = 0.0, sum2 = 0.0;
  for (uint8_t v : grey.pixels) {
    sum += v;
    sum2 += static_cast<double>(v) * v;
  }
  const double n = static_cast<double>(grey.pixels.size());
  const double mean = sum / n;
  return std::sqrt(std::max(0.0, sum2 / n - mean * mean));
}

std::string trackableName(const std::vector<uint8_t>& json) {
  std::string text(json.begin(), json.end());
  cJSON* root = cJSON_Parse(text.c_str());
  if (root == nullptr) return std::string();
  std::string name;
  const cJSON* item = cJSON_GetObjectItem(root, "TrackableName");
  if (cJSON_IsString(item) && item->valuestring != nullptr) name = item->valuestring;
  cJSON_Delete(root);
  return name;
}

// Fresh views: fixed seeds over a clutter scene, busy with corners of its
// own as a desk or a shop shelf is, drawn from a seed of its own (the
// builder's training views lie over other clutter scenes). Not one of the
// builder's negative scenes: its keys were chosen to stay silent on exactly
// those, which would flatter recognition.
constexpr uint32_t kFreshViewSeed = 0x7F3A91C5u;
constexpr uint32_t kFreshBackgroundSeed = 0x51D0E2B7u;
constexpr int kFrameWidth = 640;
constexpr int kFrameHeight = 480;
// Samples per pixel along each axis: 2 instead of the simulation's 4 halves
// the time of a view. Over 40 views per band of three targets the shares
// moved either way by up to 17 points but not as a whole (recognised and
// posed summed over the bands within 1 %); 10 views per band are coarser
// than that anyway.
constexpr int kFreshViewSupersampling = 2;
constexpr int kMaxRenderThreads = 8;
constexpr int kShotsPerThread = 4;

void dropLogLine(const char*) {}

// The engines print progress and failures to standard output and to the
// log; neither belongs in the report.
class QuietLibrary {
 public:
  QuietLibrary() {
    std::fflush(stdout);
    saved_ = dup(1);
    const int devNull = open(kNullDevice, O_WRONLY);
    if (saved_ >= 0 && devNull >= 0) dup2(devNull, 1);
    if (devNull >= 0) close(devNull);
    setLogSink(&dropLogLine);
  }
  ~QuietLibrary() {
    setLogSink(nullptr);
    std::fflush(stdout);
    if (saved_ >= 0) {
      dup2(saved_, 1);
      close(saved_);
    }
  }
  QuietLibrary(const QuietLibrary&) = delete;
  QuietLibrary& operator=(const QuietLibrary&) = delete;

 private:
  int saved_ = -1;
};

// A new empty folder under the system's temporary folder; empty when none
// can be made.
std::string makeScratchDir() {
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) return std::string();
  std::mt19937_64 rng(
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 8; ++attempt) {
    const fs::path dir = base / ("vornik-mkdb-list-" + std::to_string(rng()));
    if (fs::create_directory(dir, ec)) return dir.u8string();
  }
  return std::string();
}

double percent(int count, int of) { return 100.0 * count / of; }

}  // namespace

void rateTarget(TargetReport* r) {
  r->warnings.clear();
  int points = 0;
  for (int32_t step : kTrackingSteps) points += r->trackingFeatures >= step ? 1 : 0;
  if (r->spread >= kFullSpread) ++points;
  if (r->recognitionKeys >= kManyRecognitionKeys) ++points;
  if (r->trackingFeatures < kFewTrackingFeatures || r->recognitionKeys < kFewRecognitionKeys) {
    r->warnings.push_back("too few features");
  }
  if (r->spread < kWideSpread && r->trackingFeatures > 0) {
    r->warnings.push_back("features crowd into a small part of the image");
    --points;
  }
  if (r->repetition > kRepetitive) {
    r->warnings.push_back("repetitive texture");
    --points;
  }
  if (r->contrast >= 0.0 && r->contrast < kLowContrast) {
    r->warnings.push_back("low contrast");
    --points;
  }
  if (r->trackingFeatures < kFewTrackingFeatures / 2 ||
      r->recognitionKeys < kFewRecognitionKeys / 2) {
    points = 0;
  }
  r->rating = std::min(std::max(points, 0), 5);
}

bool inspectDatabase(const std::string& path, std::vector<TargetReport>* reports,
                     std::string* error) {
  reports->clear();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) {
    *error = path + ": cannot open the group file";
    return false;
  }
  std::fseek(file.get(), 0, SEEK_END);
  const long fileSize = std::ftell(file.get());
  std::fseek(file.get(), 0, SEEK_SET);
  std::vector<FileInfoPtr> entries;
  if (readGroupEntries(file.get(), path, entries) != 0) {
    *error = path + ": not a valid group file";
    return false;
  }

  std::map<std::string, size_t> index;
  auto reportOf = [&](const std::string& target) -> TargetReport& {
    auto it = index.find(target);
    if (it == index.end()) {
      it = index.emplace(target, reports->size()).first;
      reports->emplace_back();
      reports->back().targetName = target;
    }
    return (*reports)[it->second];
  };

  std::set<std::string> seen;
  for (const FileInfoPtr& entry : entries) {
    const std::string& name = entry->entryName();
    const std::string target = targetNameOf(name);
    const std::string extension = name.substr(target.size());
    TargetReport& r = reportOf(target);
    if (!seen.insert(name).second) {
      r.problems.push_back("duplicate entry " + name);
      continue;
    }
    std::vector<uint8_t> data;
    const uint64_t end = uint64_t{entry->entryOffset()} + entry->entrySize();
    if (fileSize < 0 || end > static_cast<uint64_t>(fileSize)) {
      r.problems.push_back(name + " runs past the end of the file");
      continue;
    }
    data.resize(entry->entrySize());
    std::fseek(file.get(), static_cast<long>(entry->entryOffset()), SEEK_SET);
    if (!data.empty() && std::fread(data.data(), 1, data.size(), file.get()) != data.size()) {
      r.problems.push_back(name + " cannot be read");
      continue;
    }
    const int64_t size = static_cast<int64_t>(data.size());
    if (extension == ".dat") {
      r.datBytes = size;
      std::set<uint32_t> keys;
      float headerValue = 0.0f;
      int32_t records = 0;
      const int32_t rc = walkDescriptorEntry(
          data.data(), data.size(), headerValue, [&](const DescriptorRecordView& v) {
            ++records;
            keys.insert(polarKey(v.polarity, descriptorKey(v.descriptor)));
          });
      if (rc != 0) r.problems.push_back(name + " is malformed");
      r.physicalWidth = headerValue;
      r.recognitionFeatures = records;
      r.recognitionKeys = static_cast<int32_t>(keys.size());
    } else if (extension == ".trk") {
      r.trkBytes = size;
      std::vector<FeaturePtr> features;
      if (parseTrackingEntry(data.data(), data.size(), features, r.imageWidth, r.imageHeight) !=
          0) {
        r.problems.push_back(name + " is malformed");
      }
      r.trackingFeatures = static_cast<int32_t>(features.size());
      measureTracking(features, &r);
    } else if (extension == ".jpg") {
      r.jpgBytes = size;
      Image image;
      std::string reason;
      if (decodeJpeg(data.data(), data.size(), &image, &reason)) {
        r.contrast = greyDeviation(image);
      } else {
        r.problems.push_back(name + " does not decode: " + reason);
      }
    } else if (extension == ".json") {
      r.jsonBytes = size;
      r.displayName = trackableName(data);
      if (r.displayName.empty()) r.problems.push_back(name + " has no TrackableName");
    } else {
      r.problems.push_back("unexpected entry " + name);
    }
  }
  for (TargetReport& r : *reports) {
    if (r.datBytes < 0) r.problems.push_back("no descriptor entry (.dat)");
    if (r.trkBytes < 0) r.problems.push_back("no tracking entry (.trk)");
    if (r.jpgBytes < 0) r.problems.push_back("no image entry (.jpg)");
    if (r.jsonBytes < 0) r.problems.push_back("no information entry (.json)");
    rateTarget(&r);
  }
  return true;
}

void printDatabaseReport(const std::string& path, const std::vector<TargetReport>& reports,
                         std::FILE* out) {
  std::fprintf(out, "%s: %zu target%s\n", path.c_str(), reports.size(),
               reports.size() == 1 ? "" : "s");
  for (const TargetReport& r : reports) {
    std::fprintf(out, "%s \"%s\" width %g, image %dx%d\n", r.targetName.c_str(),
                 r.displayName.c_str(), r.physicalWidth, r.imageWidth, r.imageHeight);
    std::fprintf(out, "  entries: .dat %lld B, .trk %lld B, .jpg %lld B, .json %lld B\n",
                 static_cast<long long>(r.datBytes), static_cast<long long>(r.trkBytes),
                 static_cast<long long>(r.jpgBytes), static_cast<long long>(r.jsonBytes));
    std::fprintf(out,
                 "  features: %d recognition (%d keys), %d tracking; spread %.2f, "
                 "repetition %.2f, contrast %.1f\n",
                 r.recognitionFeatures, r.recognitionKeys, r.trackingFeatures, r.spread,
                 r.repetition, r.contrast);
    std::fprintf(out, "  trackability: %d/5\n", r.rating);
    for (const std::string& w : r.warnings) std::fprintf(out, "  warning: %s\n", w.c_str());
    for (const std::string& p : r.problems) std::fprintf(out, "  error: %s\n", p.c_str());
  }
}

FreshViewJudge::FreshViewJudge(const std::string& groupPath)
    : background_(makeClutter(kFrameWidth, kFrameHeight, kFreshBackgroundSeed)) {
  scratchDir_ = makeScratchDir();
  if (scratchDir_.empty()) {
    problem_ = "no temporary folder for the recognition tables";
    return;
  }
  const fs::path group = fs::u8path(groupPath);
  const std::string assetDir = group.has_parent_path() ? group.parent_path().u8string() : ".";
  QuietLibrary quiet;
  database_ = std::make_shared<ArdbMngr>();
  database_->setArdbAssetDirPath(assetDir);
  database_->loadTrackerData(scratchDir_, {group.filename().u8string()});
  const auto negative = database_->getNegativeTable();
  const auto positive = database_->getPositiveTable();
  if (!negative || !positive || negative->keyCount() + positive->keyCount() == 0) {
    problem_ = "the database has no recognition keys";
    return;
  }
  recognizer_ = std::make_unique<Recognizer>();
  if (recognizer_->init(database_) != kRecognized) problem_ = "the recognizer does not start";
}

FreshViewJudge::~FreshViewJudge() {
  recognizer_.reset();
  database_.reset();
  std::error_code ec;
  if (!scratchDir_.empty()) fs::remove_all(fs::u8path(scratchDir_), ec);
}

FreshViewFigures FreshViewJudge::judge(const std::string& targetName, int viewsPerBand) {
  FreshViewFigures figures;
  if (!problem_.empty()) {
    figures.problem = problem_;
    return figures;
  }
  if (database_->descriptorTargets().count(targetName) == 0) {
    figures.problem = "no recognition keys (" + targetName + ".dat)";
    return figures;
  }
  QuietLibrary quiet;
  uint8_t* pixels = nullptr;
  int32_t width = 0, height = 0, grey = 0;
  const int32_t loaded = database_->loadTargetImage(pixels, width, height, grey, targetName);
  std::unique_ptr<uint8_t[]> owned(pixels);
  if (loaded != kDbOk || pixels == nullptr || width <= 0 || height <= 0) {
    figures.problem = "the stored image " + targetName + ".jpg is missing or does not decode";
    return figures;
  }
  Image target(width, height, grey ? 1 : 3);
  std::memcpy(target.pixels.data(), pixels, target.pixels.size());

  CameraModel camera;
  camera.width = kFrameWidth;
  camera.height = kFrameHeight;
  struct Shot {
    int band;
    BandFrame frame;
  };
  std::vector<Shot> shots;
  for (int band = 0; band < kFreshViewBands; ++band) {
    const uint32_t bandSeed = mixSeed(kFreshViewSeed, static_cast<uint32_t>(band) + 1);
    for (int v = 0; v < viewsPerBand; ++v) {
      Shot shot{band, BandFrame()};
      if (drawBandFrame(kBands[band], width, height, camera, &background_,
                        mixSeed(bandSeed, static_cast<uint32_t>(v) + 1), &shot.frame)) {
        shot.frame.effects.supersampling = kFreshViewSupersampling;
        shots.push_back(shot);
      }
    }
  }

  // Rendering is nearly all of the time: batches are rendered on every core,
  // then judged in order on this thread, so the figures do not depend on the
  // number of cores. A tracker of its own keeps one target's figures apart
  // from the targets judged before it.
  const int threads =
      std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxRenderThreads);
  const size_t batch = static_cast<size_t>(kShotsPerThread * threads);
  std::vector<RenderedView> views(batch);
  std::vector<std::string> errors(batch);
  std::vector<char> rendered(batch);
  Tracker tracker;
  tracker.init(camera.width, camera.height, 0, database_);
  for (size_t first = 0; first < shots.size(); first += batch) {
    const size_t count = std::min(batch, shots.size() - first);
    std::atomic<size_t> next{0};
    auto render = [&] {
      for (size_t i = next++; i < count; i = next++) {
        rendered[i] = renderBandFrame(target, shots[first + i].frame, 0, &views[i], &errors[i]);
      }
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) helpers.emplace_back(render);
    render();
    for (std::thread& helper : helpers) helper.join();
    for (size_t i = 0; i < count; ++i) {
      if (!rendered[i]) {
        figures.problem = "a view does not render: " + errors[i];
        return figures;
      }
      const int band = shots[first + i].band;
      ++figures.frames[band];
      const PoseOutcome outcome =
          recogniseAndPose(recognizer_.get(), &tracker, views[i], targetName, camera);
      if (outcome.verdict == Verdict::kRight) ++figures.recognised[band];
      if (outcome.good()) ++figures.posed[band];
    }
  }
  return figures;
}

void printFreshViewHeader(int viewsPerBand, std::FILE* out) {
  std::fprintf(out,
               "fresh views (not training views), %d per band: recognised %% / posed within "
               "%g px %%\n",
               viewsPerBand, kGoodCornerErrorPx);
  std::fprintf(out, "  %-20s", "target");
  for (int band = 0; band < kFreshViewBands; ++band) std::fprintf(out, " %11s", kBands[band].name);
  std::fprintf(out, "\n");
}

void printFreshViewLine(const std::string& targetName, const FreshViewFigures& figures,
                        std::FILE* out) {
  std::fprintf(out, "  %-20s", targetName.c_str());
  if (!figures.problem.empty()) {
    std::fprintf(out, " not judged: %s\n", figures.problem.c_str());
    return;
  }
  for (int band = 0; band < kFreshViewBands; ++band) {
    const int frames = figures.frames[band];
    if (frames == 0) {
      std::fprintf(out, " %11s", "n/a");
    } else {
      std::fprintf(out, "   %3.0f / %3.0f", percent(figures.recognised[band], frames),
                   percent(figures.posed[band], frames));
    }
  }
  std::fprintf(out, "\n");
}

}  // namespace vornik
