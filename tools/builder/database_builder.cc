#include "builder/database_builder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "database/group_file_writer.h"

namespace vornik {

namespace {

// Targets trained at once, at most.
constexpr size_t kMaxTrainingThreads = 8;

}  // namespace

bool makeGroupFile(const std::vector<BuiltTarget>& targets, std::vector<uint8_t>* bytes) {
  GroupFileWriter writer;
  for (const BuiltTarget& t : targets) {
    if (!writer.addEntry(t.targetName + ".dat", t.descriptorEntry) ||
        !writer.addEntry(t.targetName + ".trk", t.trackingEntry) ||
        !writer.addEntry(t.targetName + ".jpg", t.imageEntry) ||
        !writer.addEntry(t.targetName + ".json", t.infoEntry)) {
      return false;
    }
  }
  *bytes = writer.bytes();
  return true;
}

AtomicFileWriter::AtomicFileWriter(std::string path)
    : path_(std::move(path)), temporaryPath_(path_ + ".tmp") {}

AtomicFileWriter::~AtomicFileWriter() {
  if (file_ != nullptr) std::fclose(file_);
  if (!committed_ && !temporaryPath_.empty()) std::remove(temporaryPath_.c_str());
}

bool AtomicFileWriter::open(std::string* error) {
  file_ = std::fopen(temporaryPath_.c_str(), "wb");
  if (file_ == nullptr) {
    *error = std::string("cannot write: ") + std::strerror(errno);
    temporaryPath_.clear();  // nothing of ours to remove
    return false;
  }
  return true;
}

bool AtomicFileWriter::commit(const std::vector<uint8_t>& bytes, std::string* error) {
  if (file_ == nullptr) {
    *error = "cannot write: not open";
    return false;
  }
  const bool written =
      bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  const int writeErrno = errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!written || !closed) {
    *error = std::string("cannot write: ") + std::strerror(written ? errno : writeErrno);
    return false;
  }
  if (std::rename(temporaryPath_.c_str(), path_.c_str()) != 0) {
    *error = std::string("cannot replace the file: ") + std::strerror(errno);
    return false;
  }
  committed_ = true;
  return true;
}

bool buildDatabase(const std::vector<TargetSpec>& specs, const BuildOptions& options,
                   const std::string& outputPath, const BuildProgress& progress,
                   std::vector<BuiltTarget>* built, std::string* error) {
  if (specs.empty()) {
    *error = "no target images given";
    return false;
  }
  std::set<std::string> names;
  for (const TargetSpec& spec : specs) {
    const std::string problem = targetNameProblem(spec.targetName);
    if (!problem.empty()) {
      *error = spec.imagePath + ": invalid target name \"" + spec.targetName + "\": " + problem;
      return false;
    }
    if (!names.insert(spec.targetName).second) {
      *error = spec.imagePath + ": duplicate target name \"" + spec.targetName + "\"";
      return false;
    }
  }
  std::vector<Image> images(specs.size());
  for (size_t i = 0; i < specs.size(); ++i) {
    std::string reason;
    if (!loadInputImage(specs[i].imagePath, &images[i], &reason)) {
      *error = specs[i].imagePath + ": " + reason;
      return false;
    }
  }
  AtomicFileWriter writer(outputPath);
  std::string reason;
  if (!writer.open(&reason)) {
    *error = outputPath + ": " + reason;
    return false;
  }
  // Train every target first: the choice of recognition keys weighs the
  // keys the other targets produce, so that a key goes to the target that
  // shows it most. Targets train on all cores; progress is reported in
  // input order, and the bytes do not depend on the thread count.
  std::vector<TrainedTarget> trained(specs.size());
  std::vector<std::string> reasons(specs.size());
  std::vector<char> ok(specs.size(), 0);
  std::vector<char> done(specs.size(), 0);
  std::mutex mutex;
  std::condition_variable finished;
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t i = next++; i < specs.size(); i = next++) {
      const bool success = trainTarget(specs[i], images[i], options, &trained[i], &reasons[i]);
      images[i] = Image();
      std::lock_guard<std::mutex> lock(mutex);
      ok[i] = success ? 1 : 0;
      done[i] = 1;
      finished.notify_all();
    }
  };
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t threads = std::min({cores, specs.size(), kMaxTrainingThreads});
  // With one thread this one trains; otherwise it only reports.
  std::vector<std::thread> helpers;
  for (size_t t = 0; threads > 1 && t < threads; ++t) helpers.emplace_back(worker);
  std::map<uint32_t, int32_t> allTargetViews;
  bool failed = false;
  if (threads == 1) worker();
  for (size_t i = 0; i < specs.size() && !failed; ++i) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      finished.wait(lock, [&] { return done[i] != 0; });
    }
    if (!ok[i]) {
      *error = specs[i].imagePath + ": " + reasons[i];
      failed = true;
      next = specs.size();  // the others stop after their current target
      break;
    }
    if (trained[i].recognition) trained[i].recognition->addTargetViews(&allTargetViews);
    if (progress) progress(i, specs.size(), trained[i].built);
  }
  for (std::thread& helper : helpers) helper.join();
  if (failed) return false;
  built->clear();
  for (size_t i = 0; i < specs.size(); ++i) {
    std::map<uint32_t, int32_t> others = allTargetViews;
    if (trained[i].recognition) trained[i].recognition->addTargetViews(&others, -1);
    BuiltTarget target;
    if (!finishTarget(&trained[i], options, &others, &target, &reason)) {
      *error = specs[i].imagePath + ": " + reason;
      return false;
    }
    trained[i] = TrainedTarget();
    built->push_back(std::move(target));
  }
  std::vector<uint8_t> bytes;
  if (!makeGroupFile(*built, &bytes)) {
    *error = outputPath + ": an entry does not fit the group file format";
    return false;
  }
  if (!writer.commit(bytes, &reason)) {
    *error = outputPath + ": " + reason;
    return false;
  }
  return true;
}

}  // namespace vornik
