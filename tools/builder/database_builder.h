#pragma once
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "builder/target_builder.h"
#include "builder/target_spec.h"

namespace vornik {

// Group file bytes of the built targets: per target one record each for
// TARGET.dat, TARGET.trk, TARGET.jpg and TARGET.json, targets in order.
// False when an entry does not fit the format.
bool makeGroupFile(const std::vector<BuiltTarget>& targets, std::vector<uint8_t>* bytes);

// Writes `bytes` to `path` through a temporary file in the same folder that
// is renamed over `path` only when complete, so a failure never leaves a
// partial group file. False with a one-line reason.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::string path);
  ~AtomicFileWriter();  // removes the temporary file unless committed
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Creates the temporary file (done early, so an unwritable output fails
  // before the work).
  bool open(std::string* error);
  bool commit(const std::vector<uint8_t>& bytes, std::string* error);

  const std::string& temporaryPath() const { return temporaryPath_; }

 private:
  std::string path_;
  std::string temporaryPath_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
};

// Called after each target's training: its index (0-based), the count and
// the target so far (its recognition records are chosen at the end, when
// all targets are known).
using BuildProgress = std::function<void(size_t, size_t, const BuiltTarget&)>;

// Validates names, loads every image, builds every target and writes the
// group file to `outputPath`. False with a one-line message that names the
// file at fault and the reason; nothing is left at `outputPath` then (an
// older file there stays as it was).
bool buildDatabase(const std::vector<TargetSpec>& specs, const BuildOptions& options,
                   const std::string& outputPath, const BuildProgress& progress,
                   std::vector<BuiltTarget>* built, std::string* error);

}  // namespace vornik
