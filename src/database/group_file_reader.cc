#include "database/group_file_reader.h"

#include <climits>

#include "database/database_result.h"

namespace vornik {

int32_t readGroupEntries(std::FILE* file, const std::string& groupPath,
                         std::vector<FileInfoPtr>& out) {
  bool inRecord = false;
  std::string name;
  for (;;) {
    int id = std::getc(file);
    if (id == EOF) return kDbOk;
    switch (id) {
      case kFieldRecordStart:
        if (inRecord) return kDbMalformed;
        inRecord = true;
        break;
      case kFieldRecordEnd:
        if (!inRecord) return kDbMalformed;
        inRecord = false;
        break;
      case kFieldEntryName: {
        if (!inRecord) return kDbMalformed;
        int length = std::getc(file);
        if (length == EOF) return kDbMalformed;
        char bytes[256];
        if (std::fread(bytes, 1, static_cast<size_t>(length), file) !=
            static_cast<size_t>(length)) {
          return kDbMalformed;
        }
        name.assign(bytes, static_cast<size_t>(length));
        break;
      }
      case kFieldEntryData: {
        if (!inRecord) return kDbMalformed;
        uint8_t sizeBytes[4];
        if (std::fread(sizeBytes, 1, 4, file) != 4) return kDbMalformed;
        uint32_t size = static_cast<uint32_t>(sizeBytes[0]) << 24 |
                        static_cast<uint32_t>(sizeBytes[1]) << 16 |
                        static_cast<uint32_t>(sizeBytes[2]) << 8 | sizeBytes[3];
        long position = std::ftell(file);
        if (position < 0 || static_cast<unsigned long>(position) > 0xFFFFFFFFul) {
          return kDbMalformed;
        }
        out.push_back(
            std::make_shared<FileInfo>(name, static_cast<uint32_t>(position), size, groupPath));
        // Seeking past the end is allowed; the next read then reports the end.
        long long next = static_cast<long long>(position) + size;
        if (next > LONG_MAX || std::fseek(file, static_cast<long>(next), SEEK_SET) != 0) {
          return kDbOk;
        }
        break;
      }
      default:
        std::printf("Unknown field id\n");
        return kDbMalformed;
    }
  }
}

}  // namespace vornik
