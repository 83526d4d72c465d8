#include "recognition/recognizer.h"

#include <map>
#include <utility>

#include "features/corner_detection.h"
#include "features/descriptor_key.h"
#include "features/frame.h"
#include "features/gray_image.h"
#include "manager/profiler.h"

namespace vornik {

Recognizer::Recognizer() = default;
Recognizer::~Recognizer() = default;

int32_t Recognizer::init(std::shared_ptr<ArdbMngr> database) {
  database_ = std::move(database);
  descriptor_ = std::make_shared<GradientDescriptor>();
  return 0;
}

int32_t Recognizer::recognize(int32_t width, int32_t height, int32_t pixelFormat,
                              const uint8_t* pixels, std::string& result, std::string /*hint*/) {
  if (!database_) return kRecognizerNoDatabase;
  if (pixels == nullptr || width <= 0 || height <= 0) return kNotRecognized;

  startTimer(kTimerRecognitionOptTotal);
  startTimer(kTimerRecognitionOptPyramid);
  Frame frame;
  frame.buildPyramid(std::make_unique<GrayImage>(width, height, pixels, pixelFormat == 0));
  const int32_t levelCount = frame.levelCount();
  stopTimer(kTimerRecognitionOptPyramid);

  startTimer(kTimerRecognitionOptDetection);
  HessianGradientFeatureMngr features(levelCount);
  detectRecognitionCorners(frame, &features);
  stopTimer(kTimerRecognitionOptDetection);

  startTimer(kTimerRecognitionOptDescription);
  for (int32_t level = 0; level < levelCount; ++level) {
    const GrayImage* image = frame.getLevel(level);
    descriptor_->describeLevel(image->width, image->height, image->pixels.get(), level, &features);
  }
  stopTimer(kTimerRecognitionOptDescription);

  startTimer(kTimerRecognitionOptMatching);
  std::string winner;
  int32_t status = matchFeatures(features, winner);
  stopTimer(kTimerRecognitionOptMatching);

  if (status == kRecognized) result = "{[{\"id\":\"" + winner + "\"}]}";
  stopTimer(kTimerRecognitionOptTotal);
  return status;
}

int32_t Recognizer::matchFeatures(const HessianGradientFeatureMngr& features, std::string& winner) {
  MappingTablePtr negative = database_ ? database_->getNegativeTable() : nullptr;
  MappingTablePtr positive = database_ ? database_->getPositiveTable() : nullptr;

  // Byte-wise name order, so equal counts go to the name that sorts first.
  std::map<std::string, int32_t> votes;
  for (int32_t level = 0; level < features.levelCount(); ++level) {
    for (const HessianGradientFeaturePtr& feature : features.levelFeatures(level)) {
      GradientDescriptor::quantizeDescriptor(feature.get());
      feature->descriptorKey = descriptorKey(feature->descriptor.data());
      const MappingTablePtr& table = feature->polarity == 1 ? positive : negative;
      if (!table) continue;
      NameListPtr names = table->find(feature->descriptorKey);
      for (const std::string& name : *names) ++votes[name];
    }
  }

  const std::pair<const std::string, int32_t>* best = nullptr;
  for (const auto& entry : votes) {
    if (best == nullptr || entry.second > best->second) best = &entry;
  }
  if (best == nullptr || best->second <= kMinimumVotesExclusive) return kNotRecognized;
  winner = best->first;
  return kRecognized;
}

}  // namespace vornik
