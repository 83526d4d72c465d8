#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "database/ardb_mngr.h"
#include "features/corner_detection.h"
#include "features/gradient_descriptor.h"
#include "features/hessian_gradient_feature_mngr.h"
#include "features/vote_region.h"

namespace vornik {

// Status codes of recognize.
enum RecognizerStatus : int32_t {
  kRecognized = 0,
  kRecognizerNoDatabase = 5,
  kNotRecognized = 10,
};

// A target wins with more than this many votes.
constexpr int32_t kMinimumVotesExclusive = 4;

// A candidate below the 5 votes of a win needs this many.
constexpr int32_t kCandidateMinVotes = 3;

// Opt-in help for busy and steep views; the defaults recognise as described.
struct RecognitionOptions {
  // FAST corners kept per frame, shared over the levels as the 200 are.
  int32_t cornerBudget = kRecognitionCornerBudget;
  // 0: off. Otherwise, where no target wins but the leading one has at
  // least this many votes, the half of the frame around its voters is
  // looked at again, doubled: a far target then shows its corners at the
  // scales the database's keys were trained on.
  int32_t windowRetryVotes = 0;
  // 0: off. Otherwise a target's votes are those of its voters that lie
  // within a disc of this share (percent) of the frame width around one of
  // them, the disc that holds the most: a target's corners lie together,
  // while the stray votes a busy background gives every target lie all
  // over the frame. The 5-vote rule then applies to that count.
  int32_t voteDiscPercent = 0;
  // 0: off. Otherwise the targets with at least kCandidateMinVotes votes,
  // up to this many beside the strongest, are kept as candidates, also
  // where no target wins: the initial pose, which rejects a wrong target,
  // can then try the next one where the first gives no pose.
  int32_t poseCandidates = 0;
  // 0: off. Otherwise each frame feature also votes through its near keys
  // (nearDescriptorKeys within this many byte steps): the keys a slightly
  // different view of the corner gives, which tilt and blur often turn its
  // own key into. A target then collects many more of its votes, and every
  // target more stray ones; meant with the vote disc.
  int32_t nearKeySteps = 0;
  // The votes a candidate needs, kCandidateMinVotes by default. A small or
  // far target shows few corners and often only two of its keys: at 2 the
  // initial pose tries it too, and more targets that are not there, which
  // it refuses.
  int32_t candidateMinVotes = kCandidateMinVotes;
};
constexpr int32_t kMinCandidateVotes = 2;
constexpr int32_t kMinRecognitionCorners = 50;
constexpr int32_t kMaxRecognitionCorners = 2000;
constexpr int32_t kMaxVoteDiscPercent = 100;
constexpr int32_t kMaxPoseCandidates = 8;
constexpr int32_t kMaxNearKeySteps = 64;

// The result text recognize gives for `name`: {[{"id":"NAME"}]}.
std::string recognitionText(const std::string& name);

// Decides which target of the database, if any, a frame shows: corners on a
// pyramid, gradient descriptors, one 24-bit key each, and a vote over the
// mapping table of the feature's polarity.
class Recognizer {
 public:
  Recognizer();
  ~Recognizer();
  int32_t init(std::shared_ptr<ArdbMngr> database);
  // On 0, `result` holds {[{"id":"NAME"}]}; otherwise it is left as it was.
  int32_t recognize(int32_t width, int32_t height, int32_t pixelFormat, const uint8_t* pixels,
                    std::string& result, std::string hint);
  // Quantises and keys every feature of the manager and votes; 0 with the
  // winner's name, or 10. `discRadius` (pixels of the features' image, 0:
  // off) counts only the votes of a target's densest disc.
  int32_t matchFeatures(const HessianGradientFeatureMngr& features, std::string& winner,
                        float discRadius = 0.0f);
  // Clamped to kMinRecognitionCorners .. kMaxRecognitionCorners corners;
  // from the next recognize call.
  void setOptions(const RecognitionOptions& options);
  const RecognitionOptions& options() const { return options_; }
  // Where the last recognised target's votes came from (no voters after a
  // call that recognised nothing).
  const VoteRegion& winnerRegion() const { return winnerRegion_; }
  // With poseCandidates on, the last call's candidates, strongest first
  // (the winner first when there is one); empty otherwise.
  const std::vector<RecognitionCandidate>& candidates() const { return candidates_; }

 private:
  // One name's count; the name lives in a mapping table held during the call.
  struct Vote {
    const std::string* name;
    int32_t count;
    float discX = 0.0f;  // centre of the densest disc, when counted by disc
    float discY = 0.0f;
  };
  void addVote(const std::string& name);
  // Fills candidates_ from votes_ (counts final) when poseCandidates is on.
  void keepCandidates(float discRadius);
  // Gathers the positions of the voters of `name` into voterXs_/voterYs_.
  void gatherVoters(const std::string& name);
  // Replaces the vote's count with that of its densest disc of `radius`.
  void countDisc(Vote* vote, float radius);
  // Where the voters of `name` are (median position), with `radius` > 0
  // only those within it of the vote's disc centre.
  VoteRegion locate(const Vote& vote, float radius);
  // The second look around leaderRegion_: kRecognized with winner_ and
  // winnerRegion_ (in frame pixels) set, or kNotRecognized. Its candidates
  // (in frame pixels) replace the frame's where it finds any.
  int32_t recognizeWindow(const GrayImage& image, float discRadius);

  std::shared_ptr<ArdbMngr> database_;
  std::shared_ptr<GradientDescriptor> descriptor_;
  // Per-call working storage kept for its capacity only: emptied before
  // every call returns, so no name outlives the tables it points into.
  std::vector<Vote> votes_;
  // Frame position (level-0 pixels) of each feature that found names, and
  // the names it voted for (only `only` where set); same lifetime rule as
  // votes_.
  struct Voter {
    float x;
    float y;
    const NameList* names;
    const std::string* only = nullptr;
  };
  // The votes of one feature's near keys for names its key did not give.
  void voteNearKeys(const HessianGradientFeature& feature, const MappingTable& table,
                    const NameList& voted);
  std::vector<Voter> voters_;
  std::vector<const std::string*> featureNames_;  // one feature's names
  std::vector<float> voterXs_;
  std::vector<float> voterYs_;
  VoteRegion winnerRegion_;
  // Where the leading target's votes came from in a frame that no target
  // won; the window pixels of the second look.
  VoteRegion leaderRegion_;
  std::vector<RecognitionCandidate> candidates_;
  std::vector<uint8_t> windowPixels_;
  std::string winner_;
  RecognitionOptions options_;
};

}  // namespace vornik
