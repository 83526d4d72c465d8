#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "features/vote_region.h"
#include "manager/trackable.h"
#include "recognition/recognizer.h"
#include "tracking/tracker.h"

namespace vornik {

// Recognition and initial pose over the recognizer's pose candidates
// (RecognitionOptions::poseCandidates): a frame with candidates goes on to
// the initial pose even where no target won it, and where the strongest
// gives no pose the runners-up are tried on the same frame. The initial
// pose rejects a wrong target, so a near miss of the vote costs only time.
// With the option off it is exactly the recognizer and the tracker. The
// live thread and the still-image tests share it.
class CandidateAcquisition {
 public:
  // kRecognized where the recognizer named a winner or found candidates;
  // `result` then names the winner, or the strongest candidate. The
  // tracker's vote region follows (a null tracker: recognition only).
  int32_t recognize(Recognizer* recognizer, Tracker* tracker, int32_t width, int32_t height,
                    int32_t pixelFormat, const uint8_t* pixels, std::string& result,
                    std::string hint);
  // The tracker's track for `recognition`. Where that is the last
  // recognition text, it had candidates and an initial pose is due, they
  // are tried in turn; once one is posed, later calls with the same text
  // track that target.
  int32_t track(Tracker* tracker, const uint8_t* pixels, Trackable& trackable, std::string hint,
                const std::string& recognition);
  // Whether the last recognize found a winner of its own (not candidates
  // only).
  bool won() const { return won_; }
  // The text that track uses for `recognition`: the posed candidate's.
  const std::string& trackedText(const std::string& recognition) const;

 private:
  std::vector<RecognitionCandidate> candidates_;
  std::string candidatesText_;  // the recognition text they came with
  std::string posedText_;       // the candidate posed; empty while none is
  bool won_ = false;
};

}  // namespace vornik
