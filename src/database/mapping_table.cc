#include "database/mapping_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "database/database_result.h"
#include "platform/file_system.h"

namespace vornik {
namespace {

uint8_t* putBigEndian32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
  return out + 4;
}

using KeyedIndex = std::pair<int32_t, uint32_t>;

// Two stable counting passes over 12-bit digits for 24-bit keys (all
// descriptor keys); any other key falls back to a comparison sort.
void sortByKeyStable(std::vector<KeyedIndex>& pairs) {
  constexpr int32_t kKeyLimit = 1 << 24;
  bool small = true;
  for (const KeyedIndex& pair : pairs) small = small && pair.first >= 0 && pair.first < kKeyLimit;
  if (!small) {
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const KeyedIndex& a, const KeyedIndex& b) { return a.first < b.first; });
    return;
  }
  std::vector<KeyedIndex> scratch(pairs.size());
  std::vector<uint32_t> offsets(4097);
  for (int shift : {0, 12}) {
    std::fill(offsets.begin(), offsets.end(), 0u);
    for (const KeyedIndex& pair : pairs) ++offsets[((pair.first >> shift) & 0xFFF) + 1];
    for (size_t d = 1; d < offsets.size(); ++d) offsets[d] += offsets[d - 1];
    for (const KeyedIndex& pair : pairs) scratch[offsets[(pair.first >> shift) & 0xFFF]++] = pair;
    pairs.swap(scratch);
  }
}

}  // namespace

void MappingTable::add(int32_t key, const std::string& name) {
  addOne(key, name);
  index();
}

void MappingTable::index() {
  keys_.clear();
  lists_.clear();
  keys_.reserve(entries_.size());
  lists_.reserve(entries_.size());
  for (const auto& entry : entries_) {
    keys_.push_back(entry.first);
    lists_.push_back(entry.second.get());
  }
}

void MappingTable::addOne(int32_t key, const std::string& name) {
  std::shared_ptr<NameList>& names = entries_[key];
  if (!names) names = std::make_shared<NameList>();
  for (const std::string& existing : *names) {
    if (existing == name) return;
  }
  names->push_back(name);
}

void MappingTable::addAll(std::vector<std::pair<int32_t, uint32_t>>& pairs,
                          const std::vector<std::string>& names) {
  if (!entries_.empty()) {
    for (const auto& pair : pairs) addOne(pair.first, names[pair.second]);
    index();
    return;
  }
  // Stable, so names of one key keep their first-added order.
  sortByKeyStable(pairs);
  size_t keys = 0;
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (i == 0 || pairs[i].first != pairs[i - 1].first) ++keys;
  }
  auto storage = std::make_shared<std::vector<NameList>>(keys);
  size_t slot = 0;
  for (size_t i = 0; i < pairs.size();) {
    const int32_t key = pairs[i].first;
    NameList& list = (*storage)[slot++];
    for (; i < pairs.size() && pairs[i].first == key; ++i) {
      const std::string& name = names[pairs[i].second];
      if (std::find(list.begin(), list.end(), name) == list.end()) list.push_back(name);
    }
    // Each list shares the ownership of the whole block.
    entries_.emplace_hint(entries_.end(), key, std::shared_ptr<NameList>(storage, &list));
  }
  index();
}

NameListPtr MappingTable::find(int32_t key) const {
  auto it = entries_.find(key);
  if (it != entries_.end()) return it->second;
  // Absent keys all share one immutable empty list.
  static const NameListPtr kEmpty = std::make_shared<const NameList>();
  return kEmpty;
}

const NameList& MappingTable::names(int32_t key) const {
  const auto it = std::lower_bound(keys_.begin(), keys_.end(), key);
  if (it != keys_.end() && *it == key) return *lists_[static_cast<size_t>(it - keys_.begin())];
  static const NameList kEmpty;
  return kEmpty;
}

std::vector<uint8_t> MappingTable::serialize() const {
  size_t total = 0;
  for (const auto& entry : entries_) {
    for (const std::string& name : *entry.second) total += 8 + name.size();
  }
  std::vector<uint8_t> bytes(total);
  uint8_t* out = bytes.data();
  for (const auto& entry : entries_) {
    for (const std::string& name : *entry.second) {
      // The stored length ends at the first zero byte, like a C string.
      size_t length = 0;
      while (length < name.size() && name[length] != '\0') ++length;
      out = putBigEndian32(out, static_cast<uint32_t>(entry.first));
      out = putBigEndian32(out, static_cast<uint32_t>(length));
      if (length > 0) std::memcpy(out, name.data(), length);
      out += length;
    }
  }
  bytes.resize(static_cast<size_t>(out - bytes.data()));
  return bytes;
}

int32_t MappingTable::save(const std::string& path) const {
  std::FILE* file = openFile(path.c_str(), "wb");
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
