// Fuzz target: an arbitrary group file read by ArdbMngr, then every entry
// reader on every target name it lists, and the mapping-table build.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "database/ardb_mngr.h"

namespace {

std::string g_dir;  // a fresh folder under /tmp, removed at exit

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/vornik_group_fuzz_XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  g_dir = pattern;
  std::atexit([] {
    std::remove((g_dir + "/g.db").c_str());
    rmdir(g_dir.c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vornik;
  const std::string& dir = g_dir;
  std::FILE* file = std::fopen((dir + "/g.db").c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);

  ArdbMngr mngr;
  mngr.setArdbAssetDirPath(dir);
  // The cache directory does not exist: the tables are built, their saves fail fast.
  if (mngr.initialize(ArdbMngr::headerTemplate() + dir + "/absent\"}") != 0) std::abort();
  mngr.loadGroupFiles({"g.db"});
  mngr.buildMappingTables();

  std::set<std::string> targets;
  for (const FileInfoPtr& info : mngr.fileInfos()) targets.insert(targetNameOf(info->entryName()));
  for (const std::string& target : targets) {
    std::vector<HessianGradientFeaturePtr> descriptors;
    float headerValue = 0.0f;
    mngr.readDescriptor(descriptors, headerValue, target);
    std::vector<FeaturePtr> features;
    int32_t width = 0;
    int32_t height = 0;
    mngr.loadTargetFeatures(features, width, height, target);
    uint8_t* pixels = nullptr;
    int32_t grey = 0;
    if (mngr.loadTargetImage(pixels, width, height, grey, target) == 0) {
      // Touch the whole buffer so a short allocation shows up.
      size_t bytes = static_cast<size_t>(width) * height * (grey ? 1 : 3);
      volatile uint8_t sink = 0;
      for (size_t i = 0; i < bytes; i += 97) sink = sink ^ pixels[i];
      if (bytes > 0) sink = sink ^ pixels[bytes - 1];
      delete[] pixels;
    }
    char* info = nullptr;
    if (mngr.loadTargetInfo(info, target) == 0) {
      volatile size_t length = std::char_traits<char>::length(info);
      (void)length;
      delete[] info;
    }
  }
  return 0;
}
