#pragma once
#include <string>

namespace vornik {

// One target to build: an image file and the names and size it is stored
// under.
struct TargetSpec {
  std::string imagePath;
  std::string targetName;      // identifier: entry names are targetName + ".dat" etc.
  std::string displayName;     // "TrackableName" of the information entry
  float physicalWidth = 1.0f;  // stored as the descriptor entry's headerValue
};

// Longest target name whose entry names (".json" the longest extension)
// still fit the one-byte name length of a group file.
constexpr size_t kMaxTargetNameBytes = 250;

// Empty when `name` can be a target name, else the reason it cannot. A
// target name is what the recognizer reports and the tracker looks up: it
// must not contain "." (the entry name is cut at the first one), nor a
// double quote or backslash (it travels inside a quoted result text), nor
// control bytes.
std::string targetNameProblem(const std::string& name);

// The file name of `path` without directories and without its last
// extension: "dir/poster.jpg" gives "poster".
std::string fileStem(const std::string& path);

// {"TrackableName":"..."} with the name escaped as a JSON string.
std::string makeInfoJson(const std::string& displayName);

}  // namespace vornik
