#pragma once
// Helpers shared by the database tests (header only, test code).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "manager/log.h"

namespace vornik {
namespace testutil {

// A fresh, empty directory for the running test under the build tree.
inline std::string freshTestDir() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::filesystem::path dir = std::filesystem::path(VORNIK_BINARY_DIR) / "database_test_tmp" /
                              (std::string(info->test_suite_name()) + "." + info->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  int c;
  while ((c = std::fgetc(file)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
  std::fclose(file);
  return bytes;
}

// Collects every logMessage line while alive.
class LogCapture {
 public:
  LogCapture() {
    lines().clear();
    setLogCallback(&LogCapture::record);
  }
  ~LogCapture() { setLogCallback(nullptr); }
  const std::vector<std::string>& captured() const { return lines(); }
  bool contains(const std::string& line) const {
    for (const std::string& l : lines()) {
      if (l == line) return true;
    }
    return false;
  }

 private:
  static std::vector<std::string>& lines() {
    static std::vector<std::string> storage;
    return storage;
  }
  static void record(const char* line) { lines().push_back(line); }
};

}  // namespace testutil
}  // namespace vornik
