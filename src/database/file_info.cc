#include "database/file_info.h"

namespace vornik {

std::string targetNameOf(const std::string& entryName) {
  return entryName.substr(0, entryName.find('.'));
}

}  // namespace vornik
