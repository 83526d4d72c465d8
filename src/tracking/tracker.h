#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "database/ardb_mngr.h"
#include "features/feature.h"
#include "features/feature_extractor.h"
#include "features/feature_mngr.h"
#include "features/frame.h"
#include "features/random.h"
#include "features/vote_region.h"
#include "manager/trackable.h"
#include "tracking/initial_pose.h"
#include "tracking/keyframe.h"
#include "tracking/matrix.h"
#include "tracking/pose_types.h"
#include "tracking/progressive_tracking.h"

namespace vornik {

// Result codes of the tracker besides the database's own.
enum TrackerResult : int32_t {
  kTrackOk = 0,
  kTrackBadPixelFormat = 4,
  kTrackNotEnoughMatches = 11,
  kTrackFailed = 12,
};

// The identifier of a recognition text: the quoted value after the first
// "id" key. False when there is no such non-empty value.
bool extractTargetId(const std::string& recognition, std::string* id);

// Motion model: the pose predicted from the last pose and the velocity.
Mat44f predictPose(const SixVector& velocity, const Mat44f& pose);
// Decaying average of the velocity with the motion from `oldPose` to `newPose`.
SixVector updateVelocity(const SixVector& velocity, const Mat44f& oldPose, const Mat44f& newPose);

// Patch searches that refine an initial pose at most (InitialPoseOptions::
// refine): over 440 views, passes two and three brought 7 more within 5 px
// (most of them small), four and five one more and two more acquired
// within 3 frames.
constexpr int32_t kInitialPoseRefinePasses = 5;

// The opt-in tilted views (InitialPoseOptions::tiltViews): the frame
// squeezed by kTiltViewSqueeze along each of kTiltViewDirections directions
// 180 / kTiltViewDirections degrees apart.
constexpr int32_t kTiltViewDirections = 4;
constexpr double kTiltViewSqueeze = 1.6;

// Opt-in help for the initial pose, off by default.
struct InitialPoseOptions {
  // Frame features described per response layer. More of them keep enough
  // on a target that shares the frame with a busy scene.
  int32_t featuresPerLayer = kDescribedPerLayer;
  // The homography's pose rests on features found on a 2-pixel grid; the
  // keyframe's patch search on the same frame refines it to sub-pixel
  // precision, repeated while it succeeds (where its first pass fails, the
  // homography's pose stays).
  bool refine = false;
  // RANSAC samples drawn after the 30 when those found no consensus.
  int32_t ransacRescueIterations = 0;
  // Where the frame gives no pose, tries again on the frame doubled in size
  // (bilinear): a target under about a third of the frame width shows its
  // stored features below the finest response layer's scale. Frames wider
  // than 1280 pixels are not retried.
  bool retryEnlarged = false;
  // Where the frame gives no pose, tries again on the window of the frame
  // around the recognizer's votes, enlarged: the described features then
  // come from the target's neighbourhood rather than the whole scene.
  // 0: off; 2: a window of half the frame's width and height, doubled;
  // 4: a quarter window quadrupled, then the half window where that fails.
  int32_t voteWindowEnlargement = 0;
  // 0: off. Otherwise each pose found (refined first, when refine is on)
  // must score at least this poseAgreement between the target image and
  // the frame, or it counts as none and the next retry runs: a homography
  // from a chance consensus puts the target where the frame does not show
  // it. Callers clamp it to 0 .. 1 (the setters do).
  float minAgreement = 0.0f;
  // The fewest mutual matches, and RANSAC inliers, a pose needs: 17 by
  // default. Fewer pose far and steep targets that keep only a dozen right
  // matches, and chance poses too: meant with minAgreement on.
  int32_t minMatches = kInitialPoseMinPairs;
  // With minAgreement on: where a pose is refused, RANSAC runs again up to
  // this many times on the same matches without the refused consensus.
  int32_t consensusRetries = 0;
  // Where the frame gives no pose, tries again on the frame squeezed along
  // each of four directions: a target tilted by 40-60 degrees is
  // foreshortened along one direction, which squeezing the other way
  // partly undoes, so that its features look more like the stored ones.
  bool tiltViews = false;
  // The homography's decomposed pose is replaced by the rigid pose that
  // best reproduces the homography where its consensus lies: a distant
  // target's decomposition is often several times further off than the
  // homography, more than the refinement's search closes. With
  // minAgreement on, every consensus's decomposed and fitted poses are
  // refined and scored, and the best agreement is kept.
  bool rigidFit = false;
  // 0: off. With minAgreement on: where the best pose of an image agrees
  // less than this, the later images (vote windows, doubled frame, tilted
  // views) are tried as well, and the best-agreeing pose of all is kept.
  float secondLookAgreement = 0.0f;
};
constexpr int32_t kMaxConsensusRetries = 4;

// Turns the recogniser's verdict into a pose, frame after frame: an initial
// pose from feature matches when the target is new, then frame-to-frame
// tracking against the target's keyframe and the last tracked frame. One
// thread at a time; each instance owns all of its working storage.
class Tracker {
 public:
  Tracker();
  ~Tracker();
  Tracker(const Tracker&) = delete;
  Tracker& operator=(const Tracker&) = delete;

  int32_t init(int32_t width, int32_t height, int32_t pixelFormat,
               std::shared_ptr<ArdbMngr> database);
  // `pixels`: one camera frame of the size and format given to init. Returns
  // 0 with `result` filled, 12 when no pose was found (the result is still
  // filled after a tracking failure, untouched after an initial-pose
  // failure), or the database's code when the target image cannot be read.
  int32_t track(const uint8_t* pixels, Trackable& result, std::string hint,
                std::string recognition);

  // The host's opt-ins for the initial pose; the defaults are the plain
  // behaviour.
  void setInitialPoseOptions(const InitialPoseOptions& options) { initialPoseOptions_ = options; }
  const InitialPoseOptions& initialPoseOptions() const { return initialPoseOptions_; }
  // Keyframe levels beyond the base that tracking may take templates from,
  // so that far (and very near) targets stay tracked; 0 by default.
  void setKeyframeLevelRange(int32_t levels) { progressive_.setKeyframeLevelRange(levels); }
  int32_t keyframeLevelRange() const { return progressive_.keyframeLevelRange(); }
  void setSearchThreads(int32_t threads) { progressive_.setSearchThreads(threads); }
  // Keyframe matches of the coarse stage searched again on their own levels.
  void setCoarseRefinement(bool enabled) { progressive_.setCoarseRefinement(enabled); }
  // Coarse point batches searched while too few are found (ProgressiveTracking).
  void setCoarseBatches(int32_t batches) { progressive_.setCoarseBatches(batches); }
  // Fine templates from the keyframe below that many coarse inliers.
  void setKeyframeFineBelow(int32_t inliers) { progressive_.setKeyframeFineBelow(inliers); }

  // The initial pose for each of `candidates` in turn, from its votes'
  // region, until one is found: kTrackOk with `result` for that target and
  // *posed its index, or kTrackFailed. Keyframe and tracking data follow
  // the target posed, as after track.
  int32_t trackCandidates(const uint8_t* pixels, Trackable& result,
                          const std::vector<RecognitionCandidate>& candidates, size_t* posed);

  // Where the recognizer found the target the next initial pose is for.
  void setVoteRegion(const VoteRegion& region) { voteRegion_ = region; }

  const std::string& keyframeTargetId() const { return keyframeTargetId_; }
  // The AR manager clears it to force a new initial pose.
  void setKeyframeTargetId(const std::string& id) { keyframeTargetId_ = id; }

  // Writes pose (column-major, translation in target pixels), size, id, name
  // and distance of the current target into `result`.
  void fillResult(Trackable& result, const MatrixPtr& pose, const std::string& id);

 private:
  void loadTrackingData(const std::string& id);
  int32_t trackInitialPose(const uint8_t* pixels, Trackable& result, const std::string& id);
  int32_t trackProgressive(const uint8_t* pixels, Trackable& result, const std::string& id);
  // False when the search failed and the pose was left as it was.
  bool refineInitialPose(const uint8_t* pixels);
  // The keyframe's patch search from *pose on `frame`, repeated up to
  // kInitialPoseRefinePasses times while it succeeds; false where its first
  // pass fails (*pose untouched then).
  bool refineOnFrame(const Frame& frame, Mat44f* pose);
  // With minAgreement on, `code` (an estimate's) stays kTrackOk only where
  // the estimate's pose, refined when refine is on, agrees with the frame;
  // that pose is then confirmedPose_. Builds the keyframe for `id` first;
  // where that fails it returns kTrackFailed and keeps the database code in
  // confirmBuildCode_ for trackInitialPose to return.
  int32_t confirmPose(int32_t code, const uint8_t* pixels, const std::string& id);
  // poseMatrix_ refined (when refine is on) into *refined and *matrix, and
  // its agreement with the frame; false where the keyframe for `id` cannot
  // be built (the code in confirmBuildCode_).
  bool scorePose(const uint8_t* pixels, const std::string& id, float* agreement, Mat44f* refined,
                 MatrixPtr* matrix);
  // The next consensus of `features` into poseMatrix_ (estimateInitialPose
  // with this tracker's options), its rigid fit into *fitted where given.
  int32_t estimateConsensus(const std::vector<FeaturePtr>& features, const FrameWindow& window,
                            std::vector<uint8_t>* spent, MatrixPtr* fitted);
  // estimateFromFeatures with the rigid fit and minAgreement on: every
  // consensus's decomposed and fitted pose scored, the best agreement kept.
  int32_t bestOfConsensuses(const std::vector<FeaturePtr>& features, const FrameWindow& window,
                            const uint8_t* pixels, const std::string& id,
                            std::vector<uint8_t>* spent);
  bool confirming() const { return initialPoseOptions_.minAgreement > 0.0f; }
  // Decodes the target image of `id` and makes it the keyframe; the database
  // code on failure (the keyframe in place then stays).
  int32_t buildKeyframe(const std::string& id);
  // The images of a frame that the initial pose describes features on.
  enum DescribedSlot {
    kWholeFrame,
    kDoubledFrame,
    kQuarterWindow,
    kHalfWindow,
    kTiltedFrames,  // the first of kTiltViewDirections
    kDescribedSlots = kTiltedFrames + kTiltViewDirections
  };
  // The features described on `slot`'s image, placed in the frame by
  // `window`, where this frame's are kept for it (sameFrame_); null
  // otherwise.
  const std::vector<FeaturePtr>* keptFeatures(DescribedSlot slot, const FrameWindow& window) const;
  // Each estimate below is the initial pose of `id` on the camera frame
  // `pixels`, confirmed (confirmPose); a tracker code.
  // From the frame doubled in size.
  int32_t estimateOnEnlargedFrame(const uint8_t* pixels, const std::string& id);
  // From the window of 1 / `enlargement` (2 or 4) of the frame around
  // voteRegion_, enlarged as many times.
  int32_t estimateAroundVotes(const uint8_t* pixels, int32_t enlargement, const std::string& id);
  // From the frame squeezed along each direction of the tilted views in
  // turn, until one gives a pose.
  int32_t estimateOnTiltedFrames(const uint8_t* pixels, const std::string& id);
  // From features that `extractor` finds in `image`, an image of the frame
  // as `window` places it, kept in `slot`.
  int32_t estimateOnImage(FeatureExtractor* extractor, const uint8_t* image,
                          const FrameWindow& window, DescribedSlot slot, const uint8_t* pixels,
                          const std::string& id);
  // From `features` of an image placed by `window`; with consensusRetries,
  // the next consensus of the same matches where a pose is refused.
  int32_t estimateFromFeatures(const std::vector<FeaturePtr>& features, const FrameWindow& window,
                               const uint8_t* pixels, const std::string& id);
  bool trackFromKeyframe(const Frame& frame, const Mat44f& predictedPose, Mat44f* pose,
                         float* error);
  bool trackFromPreviousFrame(const Frame& frame, const Mat44f& predictedPose, Mat44f* pose,
                              float* error);

  std::shared_ptr<ArdbMngr> database_;
  std::string loadedTargetId_;
  int32_t targetWidth_ = 0;
  int32_t targetHeight_ = 0;
  std::vector<FeaturePtr> targetFeatures_;
  std::string keyframeTargetId_;
  // Target whose image keyframes_ was built from (kept while keyframeTargetId_
  // is cleared by a loss, so that re-acquiring it needs no decoding).
  std::string keyframeImageId_;
  InitialPoseOptions initialPoseOptions_;
  std::shared_ptr<FeatureExtractor> featureExtractor_;
  // The opt-in retry's extractor for the doubled frame and its pixels,
  // made at the first retry and kept for their size.
  std::shared_ptr<FeatureExtractor> enlargedExtractor_;
  std::vector<uint8_t> enlargedPixels_;
  VoteRegion voteRegion_;
  // The vote window's extractor (made for the window's enlarged size) and
  // its pixels: the window, then each doubling.
  std::shared_ptr<FeatureExtractor> windowExtractor_;
  std::vector<uint8_t> windowPixels_;
  std::vector<uint8_t> windowDoubled_;
  std::vector<uint8_t> windowEnlarged_;
  // The tilted views' extractor (grey, of the frame's size) and pixels.
  std::shared_ptr<FeatureExtractor> tiltExtractor_;
  std::vector<uint8_t> tiltPixels_;
  // Features described for the initial pose on each image of the frame.
  // trackCandidates tries several targets on one frame: the features do
  // not depend on the target, so each image is described once per frame.
  struct DescribedImage {
    bool valid = false;
    FrameWindow window;
    std::vector<FeaturePtr> features;
  };
  DescribedImage described_[kDescribedSlots];
  // True while trackCandidates tries a second or later target on a frame.
  bool sameFrame_ = false;
  std::vector<uint8_t> spentPairs_;  // estimateInitialPose's, per estimate
  int32_t pixelFormat_ = 0;
  MatrixPtr poseMatrix_;
  std::vector<std::unique_ptr<Keyframe>> keyframes_;
  Mat44f pose_ = Mat44f::identity();
  SixVector velocity_;
  std::unique_ptr<Frame> previousFrame_;
  // The pyramid storage of the frame last dropped, rebuilt by the next one.
  std::unique_ptr<Frame> spareFrame_;
  // The frame the initial pose is confirmed on, built once per call.
  std::unique_ptr<Frame> confirmFrame_;
  bool confirmFrameBuilt_ = false;
  int32_t confirmBuildCode_ = 0;  // the keyframe's database code
  Mat44f confirmedPose_ = Mat44f::identity();
  MatrixPtr confirmedMatrix_;  // what the result reports of it
  float confirmedAgreement_ = 0.0f;
  std::map<std::string, std::string> nameCache_;
  ProgressiveTracking progressive_;
  Random random_;  // RANSAC samples of the initial pose
};

}  // namespace vornik
