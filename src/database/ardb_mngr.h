#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "database/database_result.h"
#include "database/file_info.h"
#include "database/mapping_table.h"
#include "features/feature.h"
#include "features/hessian_gradient_feature.h"

namespace vornik {

// Dotted type name carried in the cache header (27 characters).
extern const char kTypeIdentifier[];
// Prefix of the cache directory name.
extern const char kCacheNamePrefix[];
extern const char kNegativeTableFileName[];
extern const char kPositiveTableFileName[];

// The image database: group files in the asset directory, the two mapping
// tables built from their descriptor entries, and per-target lookups.
// Not locked: loaded and then read from one thread at a time.
class ArdbMngr {
 public:
  ArdbMngr();
  ~ArdbMngr();

  void setArdbAssetDirPath(const std::string& path);
  const std::string& ardbAssetDirPath() const { return ardbAssetDirPath_; }

  // Cache directory, header, group files and mapping tables for `groups`.
  void loadTrackerData(const std::string& appDataDirPath, const std::vector<std::string>& groups);

  int32_t initialize(std::string header);
  void loadGroupFiles(std::vector<std::string> groups);
  int32_t loadGroupFile(const std::string& groupName);
  int32_t buildMappingTables();
  int32_t readDescriptors(std::vector<HessianGradientFeaturePtr>& out);
  int32_t readDescriptor(std::vector<HessianGradientFeaturePtr>& out, float& headerValue,
                         const std::string& targetName);
  // Pixel buffer allocated with new[]; the caller owns it.
  int32_t loadTargetImage(uint8_t*& pixels, int32_t& width, int32_t& height, int32_t& grey,
                          const std::string& targetName);
  int32_t loadTargetFeatures(std::vector<FeaturePtr>& out, int32_t& width, int32_t& height,
                             const std::string& targetName);
  // NUL-terminated copy of the information entry, allocated with new[]; caller owns it.
  int32_t loadTargetInfo(char*& buffer, const std::string& targetName);

  MappingTablePtr getNegativeTable() const { return negativeTable_; }
  MappingTablePtr getPositiveTable() const { return positiveTable_; }
  const std::map<std::string, float>& headerValues() const { return headerValues_; }
  const std::string& path() const { return path_; }
  const std::string& server() const { return server_; }
  const std::string& type() const { return type_; }
  const std::vector<FileInfoPtr>& fileInfos() const { return fileInfos_; }
  const std::set<std::string>& descriptorTargets() const { return descriptorTargets_; }
  const std::map<std::string, std::string>& groupFileOf() const { return groupFileOf_; }

  // "IdxTable" plus "_" and the stem of every group named <stem>.db, in order.
  static std::string cacheName(const std::vector<std::string>& groups);
  // The header text up to and including the quote that opens the path value.
  static std::string headerTemplate();

 private:
  // Opens the group file of `targetName`, finds its entry `targetName + extension`
  // there and reads the entry's bytes in one go. 0, 6 or 7. An entry that the
  // end of the file cuts short gives the bytes up to that end, sets `cut` and
  // returns 7, so that the callers can keep the complete records. An entry of
  // more than `maxBytes` bytes is refused (7) before anything is allocated.
  int32_t readEntry(const std::string& targetName, const char* extension,
                    std::vector<uint8_t>& bytes, bool& cut,
                    size_t maxBytes = static_cast<size_t>(-1)) const;

  std::string server_;
  std::string type_;
  std::string path_;
  std::string ardbAssetDirPath_;
  MappingTablePtr negativeTable_;
  MappingTablePtr positiveTable_;
  std::vector<FileInfoPtr> fileInfos_;
  std::set<std::string> descriptorTargets_;
  std::map<std::string, std::string> groupFileOf_;
  std::map<std::string, float> headerValues_;
  // Group file in which each target name was first seen, for the duplicate warning.
  std::map<std::string, std::string> firstGroupOf_;
  std::set<std::pair<std::string, std::string>> reportedDuplicates_;
};

using ArdbMngrPtr = std::shared_ptr<ArdbMngr>;

}  // namespace vornik
