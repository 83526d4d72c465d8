#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "database/file_info.h"

namespace vornik {

// Field identifiers of a group file.
constexpr uint8_t kFieldRecordStart = 0x80;
constexpr uint8_t kFieldEntryName = 0x01;
constexpr uint8_t kFieldEntryData = 0x02;
constexpr uint8_t kFieldRecordEnd = 0xC0;

// Reads the entry directory of an open group file from its current position
// and appends one FileInfo per data field (tagged with `groupPath`). Returns 0,
// or 7 for a structural error; entries read before the error stay in `out`.
// A data field whose size runs past the end of the file is recorded and makes
// the directory end there; reading that entry later fails.
int32_t readGroupEntries(std::FILE* file, const std::string& groupPath,
                         std::vector<FileInfoPtr>& out);

}  // namespace vornik
