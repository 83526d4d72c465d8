#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "database/mapping_table.h"
#include "features/feature.h"
#include "features/hessian_gradient_feature.h"

namespace vornik {

// Result codes of the database operations.
enum DatabaseResult : int32_t {
  kDbOk = 0,
  kDbBadServer = 1,
  kDbBadType = 2,
  kDbUnknownTarget = 3,
  kDbCannotOpen = 6,
  kDbMalformed = 7,
};

// One entry of a group file.
class FileInfo {
 public:
  FileInfo(std::string entryName, uint32_t entryOffset, uint32_t entrySize)
      : entryName_(std::move(entryName)), entryOffset_(entryOffset), entrySize_(entrySize) {}
  std::string getEntryName() const { return entryName_; }
  uint32_t entryOffset() const { return entryOffset_; }
  uint32_t entrySize() const { return entrySize_; }

 private:
  std::string entryName_;
  uint32_t entryOffset_;
  uint32_t entrySize_;
};
using FileInfoPtr = std::shared_ptr<FileInfo>;

// The image database: group files in the asset directory, the two mapping
// tables built from their descriptor entries, and per-target lookups.
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

 private:
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
};

using ArdbMngrPtr = std::shared_ptr<ArdbMngr>;

}  // namespace vornik
