#include "database/ardb_mngr.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "database/directory.h"
#include "database/entry_readers.h"
#include "database/group_file_reader.h"
#include "database/image_loader_jpg.h"
#include "features/descriptor_key.h"
#include "manager/log.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace vornik {

const char kTypeIdentifier[] = "org.vornik.ardb.index.table";
const char kCacheNamePrefix[] = "IdxTable";
const char kNegativeTableFileName[] = "negative.tbl";
const char kPositiveTableFileName[] = "positive.tbl";

static_assert(sizeof kTypeIdentifier - 1 == 27, "the type identifier has 27 characters");

namespace {

constexpr char kServerName[] = "localhost";
constexpr char kDescriptorExtension[] = ".dat";
constexpr char kTrackingExtension[] = ".trk";
constexpr char kImageExtension[] = ".jpg";
constexpr char kInfoExtension[] = ".json";

// Value of `key` in the flat header text: the quoted key, the first ":" after
// it, then the text between the next two double quotes.
bool headerValue(const std::string& header, const char* key, std::string& value) {
  std::string quotedKey = std::string("\"") + key + "\"";
  size_t at = header.find(quotedKey);
  if (at == std::string::npos) return false;
  size_t colon = header.find(':', at + quotedKey.size());
  if (colon == std::string::npos) return false;
  size_t open = header.find('"', colon + 1);
  if (open == std::string::npos) return false;
  size_t close = header.find('"', open + 1);
  if (close == std::string::npos) return false;
  value = header.substr(open + 1, close - open - 1);
  return true;
}

class FileCloser {
 public:
  explicit FileCloser(std::FILE* file) : file_(file) {}
  ~FileCloser() {
    if (file_ != nullptr) std::fclose(file_);
  }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

 private:
  std::FILE* file_;
};

}  // namespace

ArdbMngr::ArdbMngr() = default;
ArdbMngr::~ArdbMngr() = default;

void ArdbMngr::setArdbAssetDirPath(const std::string& path) { ardbAssetDirPath_ = path; }

std::string ArdbMngr::cacheName(const std::vector<std::string>& groups) {
  std::string name = kCacheNamePrefix;
  for (const std::string& group : groups) {
    size_t dot = group.rfind('.');
    if (dot == std::string::npos) continue;
    if (dot > 0 && group.compare(dot, std::string::npos, ".db") == 0) {
      name += "_";
      name += group.substr(0, dot);
    }
  }
  return name;
}

std::string ArdbMngr::headerTemplate() {
  return std::string("{\"server\":\"") + kServerName + "\",\"type\":\"" + kTypeIdentifier +
         "\",\"path\":\"";
}

void ArdbMngr::loadTrackerData(const std::string& appDataDirPath,
                               const std::vector<std::string>& groups) {
  std::string cachePath = appDataDirPath + "/" + cacheName(groups);
  makeDirectories(cachePath);
  logMessage("ardbCacheCreatePath : %s", cachePath.c_str());
  int32_t result = initialize(headerTemplate() + cachePath + "\"}");
  if (result != kDbOk) logMessage("Fail to initialize ArdbMngr: %d", result);
  loadGroupFiles(groups);
  buildMappingTables();
  logMessage("loadTrackerData Completed");
}

int32_t ArdbMngr::initialize(std::string header) {
  std::string server;
  std::string type;
  std::string path;
  // A header without a key or its quotes is refused rather than half-read.
  if (!headerValue(header, "server", server)) return kDbBadServer;
  if (!headerValue(header, "type", type)) return kDbBadType;
  if (!headerValue(header, "path", path)) return kDbMalformed;
  if (server != kServerName) return kDbBadServer;
  if (type != kTypeIdentifier) return kDbBadType;
  server_ = server;
  type_ = type;
  path_ = path + "/";
  return kDbOk;
}

void ArdbMngr::loadGroupFiles(std::vector<std::string> groups) {
  fileInfos_.clear();
  groupFileOf_.clear();
  firstGroupOf_.clear();
  reportedDuplicates_.clear();
  for (const std::string& group : groups) {
    if (loadGroupFile(group) != kDbOk) logMessage("%s is not valid group file!!\n", group.c_str());
  }
}

int32_t ArdbMngr::loadGroupFile(const std::string& groupName) {
  std::string groupPath = ardbAssetDirPath_ + "/" + groupName;
  std::FILE* file = openFile(groupPath.c_str(), "rb");
  if (file == nullptr) return kDbCannotOpen;
  size_t first = fileInfos_.size();
  int32_t result = readGroupEntries(file, groupPath, fileInfos_);
  std::fclose(file);
  for (size_t i = first; i < fileInfos_.size(); ++i) {
    const std::string& entryName = fileInfos_[i]->entryName();
    std::string target = targetNameOf(entryName);
    auto seen = firstGroupOf_.emplace(target, groupPath).first;
    if (seen->second != groupPath && reportedDuplicates_.emplace(target, groupPath).second) {
      logMessage(
          "Duplicate target %s in group files %s and %s; its entries are read from the "
          "group of its last descriptor entry\n",
          target.c_str(), seen->second.c_str(), groupPath.c_str());
    }
    if (entryName.find(kDescriptorExtension) == std::string::npos) continue;
    descriptorTargets_.insert(target);
    groupFileOf_[target] = groupPath;
  }
  return result;
}

int32_t ArdbMngr::buildMappingTables() {
  auto negative = std::make_shared<MappingTable>();
  auto positive = std::make_shared<MappingTable>();
  negativeTable_ = negative;
  positiveTable_ = positive;

  long t0 = processClockMs();
  long t1 = processClockMs();
  logMessage("\n Read mapping table time : %ld ms\n", t1 - t0);

  // Same records as readDescriptors, indexed straight from the entry bytes
  // without building feature objects first.
  std::vector<std::string> names;
  std::vector<std::pair<int32_t, uint32_t>> negativePairs;
  std::vector<std::pair<int32_t, uint32_t>> positivePairs;
  std::vector<uint8_t> bytes;
  for (const FileInfoPtr& info : fileInfos_) {
    const std::string& entryName = info->entryName();
    if (entryName.find(kDescriptorExtension) == std::string::npos) continue;
    std::string target = targetNameOf(entryName);
    auto owner = groupFileOf_.find(target);
    // The entry actually read is the one in the target's registered group.
    if (owner == groupFileOf_.end() || owner->second != info->groupPath()) continue;
    const uint32_t nameIndex = static_cast<uint32_t>(names.size());
    names.push_back(target);
    float value = 0.0f;
    bool cut = false;
    int32_t result = readEntry(target, kDescriptorExtension, bytes, cut);
    if (result == kDbOk || cut) {
      // Sized from bytes actually read, growing geometrically.
      const size_t records = bytes.size() / kDescriptorRecordBytes;
      for (auto* pairs : {&negativePairs, &positivePairs}) {
        if (pairs->capacity() < pairs->size() + records) {
          pairs->reserve(std::max(2 * pairs->capacity(), pairs->size() + records));
        }
      }
      int32_t walked = walkDescriptorEntry(
          bytes.data(), bytes.size(), value, [&](const DescriptorRecordView& record) {
            (record.polarity ? positivePairs : negativePairs)
                .emplace_back(descriptorKey(record.descriptor), nameIndex);
          });
      if (!cut) result = walked;
    }
    if (result != kDbOk) {
      logMessage("Fail to read descriptor: %s\n", entryName.c_str());
    } else {
      headerValues_[target] = value;
    }
  }
  const size_t featureCount = negativePairs.size() + positivePairs.size();
  negative->addAll(negativePairs, names);
  positive->addAll(positivePairs, names);

  long t2 = processClockMs();
  logMessage("\n Make mapping table time : %ld ms\n", t2 - t1);
  std::printf("Make mapping table time:%ld ms\n", t2 - t1);
  if (featureCount > 0) {
    negative->save(path_ + kNegativeTableFileName);
    positive->save(path_ + kPositiveTableFileName);
    long t3 = processClockMs();
    logMessage("\n Save mapping table time : %ld ms\n", t3 - t2);
  }
  return kDbOk;
}

int32_t ArdbMngr::readDescriptors(std::vector<HessianGradientFeaturePtr>& out) {
  for (const FileInfoPtr& info : fileInfos_) {
    const std::string& entryName = info->entryName();
    if (entryName.find(kDescriptorExtension) == std::string::npos) continue;
    std::string target = targetNameOf(entryName);
    auto owner = groupFileOf_.find(target);
    if (owner == groupFileOf_.end() || owner->second != info->groupPath()) continue;
    float value = 0.0f;
    if (readDescriptor(out, value, target) != kDbOk) {
      logMessage("Fail to read descriptor: %s\n", entryName.c_str());
    } else {
      headerValues_[target] = value;
    }
  }
  return kDbOk;
}

int32_t ArdbMngr::readEntry(const std::string& targetName, const char* extension,
                            std::vector<uint8_t>& bytes, bool& cut, size_t maxBytes) const {
  bytes.clear();
  cut = false;
  auto owner = groupFileOf_.find(targetName);
  const std::string groupPath = owner == groupFileOf_.end() ? std::string() : owner->second;
  std::FILE* file = groupPath.empty() ? nullptr : openFile(groupPath.c_str(), "rb");
  if (file == nullptr) return kDbCannotOpen;
  FileCloser closer(file);

  const std::string entryName = targetName + extension;
  const FileInfo* entry = nullptr;
  for (const FileInfoPtr& info : fileInfos_) {
    // Offsets are only meaningful in the file they were read from.
    if (info->entryName() == entryName && info->groupPath() == groupPath) {
      entry = info.get();
      break;
    }
  }
  if (entry == nullptr) return kDbMalformed;

  if (std::fseek(file, 0, SEEK_END) != 0) return kDbMalformed;
  long fileSize = std::ftell(file);
  if (fileSize < 0) return kDbMalformed;
  // Only the bytes the file really holds are read, however large the stored size.
  uint64_t available = static_cast<uint64_t>(fileSize) > entry->entryOffset()
                           ? static_cast<uint64_t>(fileSize) - entry->entryOffset()
                           : 0;
  uint64_t count = entry->entrySize();
  if (available < count) {
    count = available;
    cut = true;
  }
  if (count > maxBytes) {
    cut = false;
    return kDbMalformed;
  }
  if (std::fseek(file, static_cast<long>(entry->entryOffset()), SEEK_SET) != 0) {
    cut = false;
    return kDbMalformed;
  }
  try {
    bytes.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    logMessage("Not enough memory to read entry %s\n", entryName.c_str());
    cut = false;
    return kDbMalformed;
  }
  if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    bytes.clear();
    cut = false;
    return kDbMalformed;
  }
  return cut ? kDbMalformed : kDbOk;
}

int32_t ArdbMngr::readDescriptor(std::vector<HessianGradientFeaturePtr>& out, float& headerValue,
                                 const std::string& targetName) {
  if (descriptorTargets_.count(targetName) == 0) return kDbUnknownTarget;
  std::vector<uint8_t> bytes;
  bool cut = false;
  int32_t result = readEntry(targetName, kDescriptorExtension, bytes, cut);
  if (result != kDbOk && !cut) return result;
  int32_t parsed = parseDescriptorEntry(bytes.data(), bytes.size(), targetName, out, headerValue);
  return cut ? kDbMalformed : parsed;
}

int32_t ArdbMngr::loadTargetFeatures(std::vector<FeaturePtr>& out, int32_t& width, int32_t& height,
                                     const std::string& targetName) {
  if (descriptorTargets_.count(targetName) == 0) return kDbUnknownTarget;
  std::vector<uint8_t> bytes;
  bool cut = false;
  int32_t result = readEntry(targetName, kTrackingExtension, bytes, cut);
  if (result != kDbOk && !cut) return result;
  int32_t parsed = parseTrackingEntry(bytes.data(), bytes.size(), out, width, height);
  return cut ? kDbMalformed : parsed;
}

int32_t ArdbMngr::loadTargetImage(uint8_t*& pixels, int32_t& width, int32_t& height, int32_t& grey,
                                  const std::string& targetName) {
  // A cut image is refused rather than decoded from part of its bytes.
  std::vector<uint8_t> bytes;
  bool cut = false;
  int32_t result =
      readEntry(targetName, kImageExtension, bytes, cut, ImageLoaderJPG::kMaxInputBytes);
  if (result != kDbOk) return result;
  int32_t w = 0;
  int32_t h = 0;
  int32_t g = 0;
  uint8_t* decoded = nullptr;
  if (!ImageLoaderJPG::decodeMemory(bytes.data(), bytes.size(), w, h, g, decoded)) {
    return kDbMalformed;
  }
  pixels = decoded;
  width = w;
  height = h;
  grey = g;
  return kDbOk;
}

int32_t ArdbMngr::loadTargetInfo(char*& buffer, const std::string& targetName) {
  std::vector<uint8_t> bytes;
  bool cut = false;
  int32_t result = readEntry(targetName, kInfoExtension, bytes, cut);
  if (result != kDbOk) return result;
  char* text = new char[bytes.size() + 1];
  if (!bytes.empty()) std::memcpy(text, bytes.data(), bytes.size());
  text[bytes.size()] = '\0';
  buffer = text;
  return kDbOk;
}

}  // namespace vornik
