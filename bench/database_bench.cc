// Image database: loading a generated database of 100 targets with 1,500
// descriptor records each (read, index, save both tables), table lookups and
// per-target reads.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "database/ardb_mngr.h"
#include "database/group_file_writer.h"
#include "database/jpeg_writer.h"
#include "manager/log.h"

namespace {

using namespace vornik;

constexpr int kTargets = 100;
constexpr int kDescriptorsPerTarget = 1500;
constexpr int kTrackingPerTarget = 300;
constexpr int kGroups = 4;

void quietLog(const char*) {}

// xorshift32: every bit position is usable (a power-of-two LCG has short
// periods in its low bits).
uint32_t g_state = 2024;
uint32_t nextRandom() {
  g_state ^= g_state << 13;
  g_state ^= g_state >> 17;
  g_state ^= g_state << 5;
  return g_state;
}

std::string targetName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "target_%03d", i);
  return name;
}

long fileSize(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// The generated asset directory, made once per process.
struct Database {
  std::string assetDir;
  std::string appDir;
  std::vector<std::string> groups;

  Database() {
    char pattern[] = "/tmp/vornik_database_bench_XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    assetDir = pattern;
    appDir = assetDir + "/app";
    std::vector<uint8_t> grey(320 * 240);
    for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(nextRandom());
    std::vector<uint8_t> jpeg;
    encodeJpeg(grey.data(), 320, 240, 1, 85, jpeg);
    for (int g = 0; g < kGroups; ++g) {
      GroupFileWriter writer;
      for (int t = g; t < kTargets; t += kGroups) {
        std::vector<HessianGradientFeaturePtr> descriptors;
        for (int i = 0; i < kDescriptorsPerTarget; ++i) {
          auto f = std::make_shared<HessianGradientFeature>();
          f->level = static_cast<int32_t>(nextRandom() % 20);
          f->polarity = static_cast<uint8_t>(nextRandom() & 1);
          f->x = static_cast<int32_t>(nextRandom() % 4096);
          f->y = static_cast<int32_t>(nextRandom() % 4096);
          for (uint8_t& b : f->descriptor) b = static_cast<uint8_t>(nextRandom());
          descriptors.push_back(f);
        }
        std::vector<FeaturePtr> tracking;
        for (int i = 0; i < kTrackingPerTarget; ++i) {
          auto f = std::make_shared<Feature>();
          f->x = static_cast<int32_t>(nextRandom() % 320) - 160;
          f->y = static_cast<int32_t>(nextRandom() % 240) - 120;
          f->descriptor.reset(new uint8_t[64]);
          for (int k = 0; k < 64; ++k) f->descriptor[k] = static_cast<uint8_t>(nextRandom());
          tracking.push_back(f);
        }
        std::vector<uint8_t> dat;
        std::vector<uint8_t> trk;
        encodeDescriptorEntry(1.0f, descriptors, dat);
        encodeTrackingEntry(320, 240, tracking, trk);
        const std::string name = targetName(t);
        writer.addEntry(name + ".dat", dat);
        writer.addEntry(name + ".trk", trk);
        writer.addEntry(name + ".jpg", jpeg);
        writer.addEntry(name + ".json", "{\"TrackableName\":\"" + name + "\"}");
      }
      const std::string group = "group" + std::to_string(g) + ".db";
      if (!writer.writeFile(assetDir + "/" + group)) std::abort();
      groups.push_back(group);
    }
  }
  ~Database() {
    for (const std::string& g : groups) std::remove((assetDir + "/" + g).c_str());
    const std::string cache = appDir + "/" + ArdbMngr::cacheName(groups);
    std::remove((cache + "/negative.tbl").c_str());
    std::remove((cache + "/positive.tbl").c_str());
    rmdir(cache.c_str());
    rmdir(appDir.c_str());
    rmdir(assetDir.c_str());
  }
};

Database& database() {
  static Database db;
  return db;
}

// Silences the log and the timing line on standard output while alive.
class Quiet {
 public:
  Quiet() {
    setLogCallback(quietLog);
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    std::FILE* null = std::freopen("/dev/null", "w", stdout);
    (void)null;
  }
  ~Quiet() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    setLogCallback(nullptr);
  }

 private:
  int saved_ = -1;
};

void BM_LoadTrackerData(benchmark::State& state) {
  Database& db = database();
  Quiet quiet;
  for (auto _ : state) {
    ArdbMngr mngr;
    mngr.setArdbAssetDirPath(db.assetDir);
    mngr.loadTrackerData(db.appDir, db.groups);
    benchmark::DoNotOptimize(mngr.getPositiveTable());
  }
  ArdbMngr mngr;
  mngr.setArdbAssetDirPath(db.assetDir);
  size_t heapBefore = mallinfo2().uordblks;
  mngr.loadTrackerData(db.appDir, db.groups);
  size_t heapAfter = mallinfo2().uordblks;
  const std::string& path = mngr.path();
  state.counters["records"] = kTargets * kDescriptorsPerTarget;
  state.counters["neg_keys"] = static_cast<double>(mngr.getNegativeTable()->keyCount());
  state.counters["pos_keys"] = static_cast<double>(mngr.getPositiveTable()->keyCount());
  state.counters["neg_tbl_bytes"] = static_cast<double>(fileSize(path + "negative.tbl"));
  state.counters["pos_tbl_bytes"] = static_cast<double>(fileSize(path + "positive.tbl"));
  state.counters["loaded_heap_MB"] = static_cast<double>(heapAfter - heapBefore) / (1 << 20);
}
BENCHMARK(BM_LoadTrackerData)->Unit(benchmark::kMillisecond)->Repetitions(7)->Iterations(3);

struct Loaded {
  ArdbMngr mngr;
  std::vector<int32_t> keys;
  Loaded() {
    Database& db = database();
    Quiet quiet;
    mngr.setArdbAssetDirPath(db.assetDir);
    mngr.loadTrackerData(db.appDir, db.groups);
    for (int i = 0; i < 4096; ++i) keys.push_back(static_cast<int32_t>(nextRandom() & 0xFFFFFF));
  }
};

Loaded& loaded() {
  static Loaded l;
  return l;
}

void BM_FindRandomKey(benchmark::State& state) {
  Loaded& l = loaded();
  MappingTablePtr table = l.mngr.getPositiveTable();
  size_t i = 0;
  size_t hits = 0;
  for (auto _ : state) {
    NameListPtr names = table->find(l.keys[i++ & 4095]);
    hits += names->size();
    benchmark::DoNotOptimize(names);
  }
  state.counters["names_per_find"] =
      static_cast<double>(hits) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FindRandomKey);

void BM_ReadDescriptorOfOneTarget(benchmark::State& state) {
  Loaded& l = loaded();
  for (auto _ : state) {
    std::vector<HessianGradientFeaturePtr> out;
    float header = 0.0f;
    l.mngr.readDescriptor(out, header, "target_042");
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_ReadDescriptorOfOneTarget)->Unit(benchmark::kMicrosecond);

void BM_LoadTargetFeaturesAndImage(benchmark::State& state) {
  Loaded& l = loaded();
  for (auto _ : state) {
    std::vector<FeaturePtr> features;
    int32_t width = 0;
    int32_t height = 0;
    int32_t grey = 0;
    l.mngr.loadTargetFeatures(features, width, height, "target_077");
    uint8_t* pixels = nullptr;
    l.mngr.loadTargetImage(pixels, width, height, grey, "target_077");
    delete[] pixels;
  }
}
BENCHMARK(BM_LoadTargetFeaturesAndImage)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
