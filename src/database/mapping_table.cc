#include "database/mapping_table.h"

#include <cstdio>

#include "database/database_result.h"

namespace vornik {
namespace {

void appendBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 24));
  out.push_back(static_cast<uint8_t>(value >> 16));
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

}  // namespace

void MappingTable::add(int32_t key, const std::string& name) {
  std::shared_ptr<NameList>& names = entries_[key];
  if (!names) names = std::make_shared<NameList>();
  for (const std::string& existing : *names) {
    if (existing == name) return;
  }
  names->push_back(name);
}

NameListPtr MappingTable::find(int32_t key) const {
  auto it = entries_.find(key);
  if (it != entries_.end()) return it->second;
  // Absent keys all share one immutable empty list.
  static const NameListPtr kEmpty = std::make_shared<const NameList>();
  return kEmpty;
}

std::vector<uint8_t> MappingTable::serialize() const {
  std::vector<uint8_t> bytes;
  for (const auto& entry : entries_) {
    for (const std::string& name : *entry.second) {
      // The stored length ends at the first zero byte, like a C string.
      size_t length = 0;
      while (length < name.size() && name[length] != '\0') ++length;
      appendBigEndian32(bytes, static_cast<uint32_t>(entry.first));
      appendBigEndian32(bytes, static_cast<uint32_t>(length));
      bytes.insert(bytes.end(), name.begin(), name.begin() + static_cast<std::ptrdiff_t>(length));
    }
  }
  return bytes;
}

int32_t MappingTable::save(const std::string& path) const {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return kDbCannotOpen;
  std::vector<uint8_t> bytes = serialize();
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  return kDbOk;
}

size_t MappingTable::pairCount() const {
  size_t count = 0;
  for (const auto& entry : entries_) count += entry.second->size();
  return count;
}

}  // namespace vornik
