#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace vornik {

// One entry of a group file: its name as stored, where its data starts and
// how many bytes it has, and the group file it was read from.
class FileInfo {
 public:
  FileInfo(std::string entryName, uint32_t entryOffset, uint32_t entrySize)
      : entryName_(std::move(entryName)), entryOffset_(entryOffset), entrySize_(entrySize) {}
  FileInfo(std::string entryName, uint32_t entryOffset, uint32_t entrySize, std::string groupPath)
      : entryName_(std::move(entryName)),
        entryOffset_(entryOffset),
        entrySize_(entrySize),
        groupPath_(std::move(groupPath)) {}
  std::string getEntryName() const { return entryName_; }
  const std::string& entryName() const { return entryName_; }
  uint32_t entryOffset() const { return entryOffset_; }
  uint32_t entrySize() const { return entrySize_; }
  const std::string& groupPath() const { return groupPath_; }

 private:
  std::string entryName_;
  uint32_t entryOffset_;
  uint32_t entrySize_;
  std::string groupPath_;
};
using FileInfoPtr = std::shared_ptr<FileInfo>;

// The part of an entry name before its first "."; the whole name when it has none.
std::string targetNameOf(const std::string& entryName);

}  // namespace vornik
