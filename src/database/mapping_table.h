#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vornik {

using NameList = std::vector<std::string>;
using NameListPtr = std::shared_ptr<const NameList>;

// Recognition index: descriptorKey -> distinct target names, in the order
// they were first added. Filled on one thread, then only read.
class MappingTable {
 public:
  void add(int32_t key, const std::string& name);
  // The same table as add(key, names[index]) for every (key, index) pair in
  // order, built in one pass: pairs are sorted stably by key and the lists of
  // all new keys share one allocation. `pairs` is reordered.
  void addAll(std::vector<std::pair<int32_t, uint32_t>>& pairs,
              const std::vector<std::string>& names);
  // The stored list, shared; an absent key gives an empty list and inserts nothing.
  NameListPtr find(int32_t key) const;
  // The same list without sharing it: for the per-feature look-ups of a
  // vote, valid while the table lives.
  const NameList& names(int32_t key) const;
  // 0 on success, 6 when the file cannot be created.
  int32_t save(const std::string& path) const;
  // The bytes `save` writes: per (key, name) pair, keys ascending, the key and
  // the name length as big-endian 32-bit values, then the name bytes.
  std::vector<uint8_t> serialize() const;

  size_t keyCount() const { return entries_.size(); }
  // Number of (key, name) pairs.
  size_t pairCount() const;

 private:
  void addOne(int32_t key, const std::string& name);
  // Rebuilds keys_ and lists_ from entries_ after every change.
  void index();

  std::map<int32_t, std::shared_ptr<NameList>> entries_;
  // The keys ascending, and each one's list: a look-up per frame feature
  // searches one contiguous array rather than the tree's scattered nodes.
  std::vector<int32_t> keys_;
  std::vector<const NameList*> lists_;
};

using MappingTablePtr = std::shared_ptr<MappingTable>;

}  // namespace vornik
