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

std::vector<uint8_t> descriptorEntry(int count) {
  std::vector<HessianGradientFeaturePtr> features;
  for (int i = 0; i < count; ++i) {
    auto f = std::make_shared<HessianGradientFeature>();
    f->level = static_cast<int32_t>(nextRandom() % 20);
    f->polarity = static_cast<uint8_t>(nextRandom() & 1);
    f->x = static_cast<int32_t>(nextRandom() % 4096);
    f->y = static_cast<int32_t>(nextRandom() % 4096);
    for (uint8_t& b : f->descriptor) b = static_cast<uint8_t>(nextRandom());
    features.push_back(f);
  }
  std::vector<uint8_t> entry;
  encodeDescriptorEntry(1.25f, features, entry);
  return entry;
}

std::vector<uint8_t> trackingEntry(int count) {
  std::vector<FeaturePtr> features;
  for (int i = 0; i < count; ++i) {
    auto f = std::make_shared<Feature>();
    f->x = static_cast<int32_t>(nextRandom() % 200) - 100;
    f->y = static_cast<int32_t>(nextRandom() % 200) - 100;
    f->layer = static_cast<int32_t>(nextRandom() % 8);
    f->polarity = static_cast<uint8_t>(nextRandom() & 1);
    f->descriptor.reset(new uint8_t[64]);
    for (int k = 0; k < 64; ++k) f->descriptor[k] = static_cast<uint8_t>(nextRandom());
    features.push_back(f);
  }
  std::vector<uint8_t> entry;
  encodeTrackingEntry(200, 150, features, entry);
  return entry;
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
  writer.addEntry("alpha.dat", descriptorEntry(3));
  writer.addEntry("alpha.trk", trackingEntry(2));
  writer.addEntry("alpha.jpg", image(16, 8, 1, 80));
  writer.addEntry("alpha.json", std::string("{\"TrackableName\":\"Alpha\"}"));
  writer.addEntry("beta.dat", descriptorEntry(1));
  writer.addEntry("beta.jpg", image(8, 8, 3, 60));
  ok &= writeSeed(groups, "two_targets.db", writer.bytes());
  std::vector<uint8_t> cut = writer.bytes();
  cut.resize(cut.size() / 2);
  ok &= writeSeed(groups, "cut.db", cut);
  ok &= writeSeed(groups, "empty.db", {});
  ok &= writeSeed(groups, "unknown_id.db", {0x80, 0x03});

  const std::string entries = out + "/entry_fuzz";
  std::vector<uint8_t> dat = descriptorEntry(2);
  dat.insert(dat.begin(), 0);
  ok &= writeSeed(entries, "descriptor", dat);
  std::vector<uint8_t> trk = trackingEntry(2);
  trk.insert(trk.begin(), 1);
  ok &= writeSeed(entries, "tracking", trk);

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
