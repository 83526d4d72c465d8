#include "common/ground_truth.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace vornik {
namespace {

constexpr int kPoseColumns = 16;
constexpr int kCornerColumns = 8;
constexpr int kColumns = 2 + kPoseColumns + kCornerColumns + 1;

void setError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t comma = line.find(',', start);
    fields.push_back(
        line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return fields;
}

bool parseDouble(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(text.c_str(), &end);
  return errno == 0 && end == text.c_str() + text.size() && std::isfinite(*value);
}

bool parseInt(const std::string& text, long lo, long hi, long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && end == text.c_str() + text.size() && *value >= lo && *value <= hi;
}

}  // namespace

std::string groundTruthHeader() {
  std::string header = "frame,file";
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) header += ",p" + std::to_string(r) + std::to_string(c);
  for (int i = 0; i < 4; ++i) header += ",x" + std::to_string(i) + ",y" + std::to_string(i);
  header += ",in_view";
  return header;
}

bool writeGroundTruth(const std::string& path, const std::vector<GroundTruthRow>& rows,
                      std::string* error) {
  for (const GroundTruthRow& row : rows) {
    if (row.fileName.find_first_of(",\"\r\n") != std::string::npos) {
      setError(error, "file name '" + row.fileName + "' cannot be stored in the ground truth");
      return false;
    }
  }
  std::ofstream out(path, std::ios::trunc);
  if (!out) {
    setError(error, "cannot create '" + path + "'");
    return false;
  }
  out << groundTruthHeader() << '\n';
  char number[40];
  for (const GroundTruthRow& row : rows) {
    out << row.frameIndex << ',' << row.fileName;
    // 17 significant digits read back to the same double.
    for (double value : row.truth.cameraFromTarget) {
      std::snprintf(number, sizeof(number), ",%.17g", value);
      out << number;
    }
    for (double value : row.truth.corners) {
      std::snprintf(number, sizeof(number), ",%.17g", value);
      out << number;
    }
    out << ',' << (row.truth.fullyInView ? 1 : 0) << '\n';
  }
  out.close();
  if (!out) {
    setError(error, "cannot write '" + path + "'");
    return false;
  }
  return true;
}

bool readGroundTruth(const std::string& path, std::vector<GroundTruthRow>* rows,
                     std::string* error) {
  std::ifstream in(path);
  if (!in) {
    setError(error, "cannot open '" + path + "'");
    return false;
  }
  std::string line;
  if (!std::getline(in, line)) {
    setError(error, path + ": empty file");
    return false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line != groundTruthHeader()) {
    setError(error, path + ":1: not a ground-truth header");
    return false;
  }
  std::vector<GroundTruthRow> result;
  int lineNumber = 1;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::string where = path + ":" + std::to_string(lineNumber) + ": ";
    const std::vector<std::string> fields = splitFields(line);
    if (static_cast<int>(fields.size()) != kColumns) {
      setError(error, where + "expected " + std::to_string(kColumns) + " columns, found " +
                          std::to_string(fields.size()));
      return false;
    }
    GroundTruthRow row;
    long index = 0, inView = 0;
    if (!parseInt(fields[0], 0, 2147483647L, &index)) {
      setError(error, where + "bad frame index '" + fields[0] + "'");
      return false;
    }
    row.frameIndex = static_cast<int>(index);
    row.fileName = fields[1];
    for (int i = 0; i < kPoseColumns + kCornerColumns; ++i) {
      double value = 0.0;
      if (!parseDouble(fields[2 + i], &value)) {
        setError(error, where + "bad number '" + fields[2 + i] + "'");
        return false;
      }
      if (i < kPoseColumns) {
        row.truth.cameraFromTarget[i] = value;
      } else {
        row.truth.corners[i - kPoseColumns] = value;
      }
    }
    if (!parseInt(fields[kColumns - 1], 0, 1, &inView)) {
      setError(error, where + "in_view must be 0 or 1");
      return false;
    }
    row.truth.fullyInView = inView != 0;
    result.push_back(std::move(row));
  }
  if (in.bad()) {
    setError(error, "cannot read '" + path + "'");
    return false;
  }
  *rows = std::move(result);
  return true;
}

}  // namespace vornik
