// Writes the seed corpora of the database fuzz targets:
//   database_fuzz_seeds OUT_DIR  ->  OUT_DIR/<fuzz target>/<seed files>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "database/group_file_writer.h"
#include "database/jpeg_writer.h"

namespace {

using namespace vornik;

uint32_t g_state = 12345;
uint32_t nextRandom() {
  g_state = g_state * 1664525u + 1013904223u;
  return g_state >> 8;
}

bool writeSeed(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  mkdir(dir.c_str(), 0777);
  std::FILE* file = std::fopen((dir + "/" + name).c_str(), "wb");
  if (file == nullptr) return false;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  return std::fclose(file) == 0;
}

std::vector<uint8_t> image(int width, int height, int channels, int quality) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * channels);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 13 + (i >> 5));
  std::vector<uint8_t> jpeg;
  encodeJpeg(pixels.data(), width, height, channels, quality, jpeg);
  return jpeg;
}

// A descriptor (.dat) or tracking (.trk) entry of `count` records.
std::vector<uint8_t> entry(bool tracking, int count) {
  std::vector<HessianGradientFeaturePtr> descriptors;
  std::vector<FeaturePtr> features;
  for (int i = 0; i < count; ++i) {
    auto d = std::make_shared<HessianGradientFeature>();
    auto f = std::make_shared<Feature>();
    d->level = f->layer = static_cast<int32_t>(nextRandom() % 8);
    d->polarity = f->polarity = static_cast<uint8_t>(nextRandom() & 1);
    d->x = f->x = static_cast<int32_t>(nextRandom() % 200);
    d->y = f->y = static_cast<int32_t>(nextRandom() % 150);
    f->descriptor.reset(new uint8_t[64]);
    for (int k = 0; k < 64; ++k)
      d->descriptor[k] = f->descriptor[k] = static_cast<uint8_t>(nextRandom());
    descriptors.push_back(d);
    features.push_back(f);
  }
  std::vector<uint8_t> bytes;
  if (tracking) {
    encodeTrackingEntry(200, 150, features, bytes);
  } else {
    encodeDescriptorEntry(1.25f, descriptors, bytes);
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  mkdir(out.c_str(), 0777);
  bool ok = true;

  const std::string groups = out + "/group_file_fuzz";
  GroupFileWriter writer;
  writer.addEntry("alpha.dat", entry(false, 3));
  writer.addEntry("alpha.trk", entry(true, 2));
  writer.addEntry("alpha.jpg", image(16, 8, 1, 80));
  writer.addEntry("alpha.json", std::string("{\"TrackableName\":\"Alpha\"}"));
  writer.addEntry("beta.dat", entry(false, 1));
  writer.addEntry("beta.jpg", image(8, 8, 3, 60));
  ok &= writeSeed(groups, "two_targets.db", writer.bytes());
  std::vector<uint8_t> cut = writer.bytes();
  cut.resize(cut.size() / 2);
  ok &= writeSeed(groups, "cut.db", cut);
  ok &= writeSeed(groups, "empty.db", {});
  ok &= writeSeed(groups, "unknown_id.db", {0x80, 0x03});

  // The first byte picks the parser: even the descriptor one, odd the tracking one.
  for (int tracking : {0, 1}) {
    std::vector<uint8_t> seed = entry(tracking == 1, 2);
    seed.insert(seed.begin(), static_cast<uint8_t>(tracking));
    ok &= writeSeed(out + "/entry_fuzz", tracking ? "tracking" : "descriptor", seed);
  }

  const std::string jpegs = out + "/jpeg_region_fuzz";
  ok &= writeSeed(jpegs, "grey.jpg", image(16, 8, 1, 90));
  ok &= writeSeed(jpegs, "colour.jpg", image(24, 16, 3, 75));
  std::vector<uint8_t> truncated = image(32, 32, 3, 95);
  truncated.resize(truncated.size() * 2 / 3);
  ok &= writeSeed(jpegs, "truncated.jpg", truncated);

  if (!ok) {
    std::fprintf(stderr, "could not write the seeds under %s\n", out.c_str());
    return 1;
  }
  return 0;
}
