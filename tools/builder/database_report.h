#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vornik {

// What --list shows for one target of a group file.
struct TargetReport {
  std::string targetName;
  std::string displayName;     // "TrackableName", empty when absent or unreadable
  float physicalWidth = 0.0f;  // headerValue of the descriptor entry
  int64_t datBytes = -1;       // entry sizes, -1 when the entry is missing
  int64_t trkBytes = -1;
  int64_t jpgBytes = -1;
  int64_t jsonBytes = -1;
  int32_t recognitionFeatures = 0;  // descriptor records
  int32_t recognitionKeys = 0;      // distinct (polarity, key) pairs among them
  int32_t trackingFeatures = 0;
  int32_t imageWidth = 0;  // from the tracking entry's header
  int32_t imageHeight = 0;
  double spread = 0.0;      // share of the 4 x 4 grid cells holding tracking features
  double repetition = 0.0;  // share of tracking features with a look-alike far away
  double contrast = -1.0;   // grey standard deviation of the stored image, -1 if unknown
  int32_t rating = 0;       // trackability 0 .. 5
  std::vector<std::string> warnings;
  std::vector<std::string> problems;  // entries missing or malformed
};

// Trackability rating and warnings from the measured figures of `report`
// (fills rating and warnings).
void rateTarget(TargetReport* report);

// Reads every target of the group file at `path`. False with a one-line
// reason when the file cannot be opened or its directory is malformed.
bool inspectDatabase(const std::string& path, std::vector<TargetReport>* reports,
                     std::string* error);

// The --list text of the reports.
void printDatabaseReport(const std::string& path, const std::vector<TargetReport>& reports,
                         std::FILE* out);

}  // namespace vornik
