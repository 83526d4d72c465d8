#include "manager/candidate_acquisition.h"

#include <utility>

namespace vornik {

int32_t CandidateAcquisition::recognize(Recognizer* recognizer, Tracker* tracker, int32_t width,
                                        int32_t height, int32_t pixelFormat, const uint8_t* pixels,
                                        std::string& result, std::string hint) {
  posedText_.clear();
  candidatesText_.clear();
  int32_t status =
      recognizer->recognize(width, height, pixelFormat, pixels, result, std::move(hint));
  won_ = status == kRecognized;
  candidates_ = recognizer->candidates();
  VoteRegion region = recognizer->winnerRegion();
  if (!won_ && !candidates_.empty()) {
    result = recognitionText(candidates_.front().name);
    region = candidates_.front().region;
    status = kRecognized;
  }
  if (status == kRecognized && tracker != nullptr) tracker->setVoteRegion(region);
  if (status == kRecognized && !candidates_.empty()) candidatesText_ = result;
  return status;
}

int32_t CandidateAcquisition::track(Tracker* tracker, const uint8_t* pixels, Trackable& trackable,
                                    std::string hint, const std::string& recognition) {
  const bool fromCandidates = !candidatesText_.empty() && recognition == candidatesText_;
  if (fromCandidates && posedText_.empty() &&
      tracker->keyframeTargetId() != candidates_.front().name) {
    size_t posed = 0;
    const int32_t code = tracker->trackCandidates(pixels, trackable, candidates_, &posed);
    if (code == kTrackOk) posedText_ = recognitionText(candidates_[posed].name);
    return code;
  }
  return tracker->track(pixels, trackable, std::move(hint), trackedText(recognition));
}

const std::string& CandidateAcquisition::trackedText(const std::string& recognition) const {
  if (!posedText_.empty() && recognition == candidatesText_) return posedText_;
  return recognition;
}

}  // namespace vornik
