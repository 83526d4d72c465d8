#pragma once
#include <string>
#include <vector>

#include "common/view_geometry.h"

namespace vornik {

// One frame of a synthetic sequence and where it shows the target.
struct GroundTruthRow {
  int frameIndex = 0;
  std::string fileName;  // relative to the CSV's folder
  FrameTruth truth;
};

// Column names of the header line: frame, file, the 16 pose values p00..p33
// (row-major), the 8 corner coordinates x0,y0 .. x3,y3 and in_view (1 or 0).
std::string groundTruthHeader();

// Writes the header line and one line per row. File names may not contain
// commas, quotes or line breaks. False with a one-line reason on failure.
bool writeGroundTruth(const std::string& path, const std::vector<GroundTruthRow>& rows,
                      std::string* error);

// Reads a file written by writeGroundTruth. The header must match; a short
// or malformed line fails the whole read with its line number in `error`.
bool readGroundTruth(const std::string& path, std::vector<GroundTruthRow>* rows,
                     std::string* error);

}  // namespace vornik
