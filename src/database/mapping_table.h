#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vornik {

using NameList = std::vector<std::string>;
using NameListPtr = std::shared_ptr<const NameList>;

// Recognition index: descriptorKey -> distinct target names, in the order
// they were first added.
class MappingTable {
 public:
  void add(int32_t key, const std::string& name);
  // The stored list, shared; an absent key gives an empty list and inserts nothing.
  NameListPtr find(int32_t key) const;
  // 0 on success, 6 when the file cannot be created.
  int32_t save(const std::string& path) const;

  size_t keyCount() const { return entries_.size(); }

 private:
  std::map<int32_t, std::shared_ptr<NameList>> entries_;
};

using MappingTablePtr = std::shared_ptr<MappingTable>;

}  // namespace vornik
