// Placeholder until the database reader lands: an empty database.
#include "database/ardb_mngr.h"

namespace vornik {

ArdbMngr::ArdbMngr() = default;
ArdbMngr::~ArdbMngr() = default;
void ArdbMngr::setArdbAssetDirPath(const std::string& path) { ardbAssetDirPath_ = path; }
void ArdbMngr::loadTrackerData(const std::string&, const std::vector<std::string>&) {
  negativeTable_ = std::make_shared<MappingTable>();
  positiveTable_ = std::make_shared<MappingTable>();
}
int32_t ArdbMngr::initialize(std::string) { return 0; }
void ArdbMngr::loadGroupFiles(std::vector<std::string>) {}
int32_t ArdbMngr::loadGroupFile(const std::string&) { return kDbCannotOpen; }
int32_t ArdbMngr::buildMappingTables() { return 0; }
int32_t ArdbMngr::readDescriptors(std::vector<HessianGradientFeaturePtr>&) { return 0; }
int32_t ArdbMngr::readDescriptor(std::vector<HessianGradientFeaturePtr>&, float&,
                                 const std::string&) {
  return kDbUnknownTarget;
}
int32_t ArdbMngr::loadTargetImage(uint8_t*&, int32_t&, int32_t&, int32_t&, const std::string&) {
  return kDbCannotOpen;
}
int32_t ArdbMngr::loadTargetFeatures(std::vector<FeaturePtr>&, int32_t&, int32_t&,
                                     const std::string&) {
  return kDbUnknownTarget;
}
int32_t ArdbMngr::loadTargetInfo(char*&, const std::string&) { return kDbCannotOpen; }

void MappingTable::add(int32_t, const std::string&) {}
NameListPtr MappingTable::find(int32_t) const { return std::make_shared<NameList>(); }
int32_t MappingTable::save(const std::string&) const { return 6; }

}  // namespace vornik
