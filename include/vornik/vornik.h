#pragma once
// Vornik: image-target augmented reality. The namespaced interface.
//
// Calling order of a host:
//   1. setAppDataDirPath, setArdbAssetDirPath (empties the group list), then
//      one addTrackableGroup per group file;
//   2. startCamera, startTracker (the database is loaded on the tracking
//      thread when the first frame after the start arrives);
//   3. per rendered frame on the GL thread: updateRendering when the surface
//      size changes, renderVideoBackground, getProjectionMatrix,
//      getTrackingResult;
//   4. initRendering after the GL context was recreated;
//   5. stopTracker, stopCamera.
// A host that exits (or unloads the library) with the camera or the tracker
// still running is safe: the library then stops both threads itself, and the
// lines it logs while doing so at exit go to standard error.

#include <cstdint>
#include <fstream>
#include <string>

#include "vornik/export.h"

// Frame listener through which the camera and the still-image tests hand over
// frames. `data` holds `byteSize` bytes, valid only during the call.
// pixelFormat: 0 = 3 bytes per pixel blue-green-red, 1 = one grey byte per pixel.
class CameraPreviewCallback {
 public:
  virtual ~CameraPreviewCallback() = default;
  virtual void onPreviewFrame(const uint8_t* data, int32_t byteSize, int32_t width, int32_t height,
                              int32_t pixelFormat) = 0;
};

namespace vornik {

// 16 floats, column-major: element 4 * column + row.
struct Matrix44F {
  float data[16];
};

// One tracked target in one frame.
class ITrackable {
 public:
  virtual ~ITrackable() = default;
  // Pose of the target in the camera frame: column-major 4 x 4, translation in
  // elements 12..14 in target pixels; x right, y down, z into the scene.
  virtual const float* getPose() const = 0;
  virtual float getDistance() const = 0;
  virtual float getWidth() const = 0;
  virtual float getHeight() const = 0;
  virtual std::string getName() const = 0;
  virtual std::string getId() const = 0;
};

// An owning list of trackables (0 or 1 in a snapshot).
class ITrackingResult {
 public:
  virtual ~ITrackingResult() = default;
  // Throws std::out_of_range for an index outside 0 .. getCount() - 1.
  virtual ITrackable& getTrackable(int32_t index) = 0;
  virtual int32_t getCount() const = 0;
  virtual void clear() = 0;
};

enum TestModeEnum {
  TEST_RECOGNITION = 1,
  TEST_TRACKING = 2,
};

// Opt-in help for acquiring a target in a busy scene, off by default.
struct AcquisitionOptions {
  // Frame features described per response layer (two layers) for the
  // initial pose, 60 by default. Where the target covers little of a
  // cluttered frame, most of the 120 strongest features lie beside it; 150
  // keeps enough on it, at about twice the initial pose's time.
  int initialPoseFeaturesPerLayer = 60;
  // Refines the initial pose with the tracker's patch search on the same
  // frame, up to five passes: corner errors of 2-4 px become about 1 px,
  // and a small target's of 5-15 px mostly under 5. Costs up to five
  // tracked frames (a few ms).
  bool refineInitialPose = false;
  // Frames on which the initial pose is tried for a recognised target before
  // recognition starts again, 1 by default: a still camera's next frame
  // often succeeds where the first failed.
  int acquiringAttempts = 1;
  // RANSAC samples the initial pose draws after its 30 when none of those
  // found half of the matches in agreement; these accept 30 % (at least 17
  // matches). Rescues views with few right matches or loose positions, at
  // up to a few ms more on frames where it runs. 0 by default, clamped to
  // 0..1000.
  int ransacRescueIterations = 0;
  // Where a frame gives no initial pose, tries again on the frame doubled in
  // size. A target under about a third of the frame width shows the features
  // the database stores below the finest scale the frame's features reach;
  // doubled, they come within it. Costs about four initial poses' time on
  // frames where it runs; frames wider than 1280 pixels are not retried.
  // Off by default.
  bool retryEnlargedFrame = false;
  // FAST corners the recognizer keeps per frame, 200 by default. In front of
  // a busy background a small or steep target keeps few of the 200; 400
  // recognises more of them, and names a wrong target more often too.
  // Clamped to 50 .. 2000.
  int recognitionCorners = 200;
  // Where a frame gives no initial pose, tries again on the part of the
  // frame around the corners that voted for the recognised target,
  // enlarged: 2 tries a window of half the frame's width and height,
  // doubled; 4 tries a quarter window quadrupled first, then the half
  // window. The features the pose describes then lie near the target
  // instead of all over the scene, and a target a tenth of the frame wide
  // shows them at the scales the database stores. Tried before
  // retryEnlargedFrame; about one initial pose's time more per window on
  // frames where it runs. 0 (off) by default; other values are taken as
  // the nearest of 0, 2 and 4 below them.
  int voteWindowEnlargement = 0;
  // Where no target wins a frame's vote but the leading one has at least
  // this many of the 5 votes needed, the recognizer looks again at the half
  // of the frame around those votes, doubled: a small or far target shows
  // more of its corners there. It recognises more targets, right and wrong
  // (a wrong one reaches the host only if a pose comes of it), and costs
  // about one recognition more on such frames. 0 (off) by default; clamped
  // to 0 .. 4.
  int recognitionWindowVotes = 0;
  // Percent of the frame width, 0 (off) by default: a target's votes are
  // counted only within the disc of this radius that holds most of them,
  // centred on one of its voting corners. A target's corners lie together;
  // the stray votes a busy background gives every target lie all over the
  // frame, so far fewer frames name a wrong target or one that is not
  // there, and more recognition corners can be afforded. Clamped to
  // 0 .. 100.
  int recognitionVoteDisc = 0;
  // Targets beside the strongest that keep a frame's initial pose going: up
  // to this many others with at least 3 votes (recognitionCandidateVotes)
  // are tried in turn on the same frame where the strongest gives no pose,
  // and a frame that no target wins (5 votes) goes on to the initial pose
  // when it has such targets. The initial pose rejects a wrong target, so
  // more frames name the right one, at up to one initial pose's time per
  // target tried (the frame's features are described once for all of
  // them). 0 (off) by default; clamped to 0 .. 8.
  int recognitionPoseCandidates = 0;
  // Percent, 0 (off) by default: each initial pose found must explain the
  // frame, or it counts as none and the next retry runs. The target image
  // and the frame where the pose puts it are compared over a grid 32 cells
  // wide (a normalised cross-correlation of the steps in mean brightness
  // between neighbouring cells, taken at the scale the target is seen at);
  // the pose needs at least this percent. A chance consensus of the feature matches puts
  // the target where the frame does not show it and scores about 0; a
  // right pose scores well above, through blur, noise and uneven light.
  // Runs after refineInitialPose's search where that is on. Clamped to
  // 0 .. 100.
  int initialPoseAgreement = 0;
  // The fewest mutual feature matches (and RANSAC inliers) an initial pose
  // needs, 17 by default. A far or steep target often keeps only 10-16
  // right matches; 10 poses more of them, and chance poses as well, so it
  // is meant together with initialPoseAgreement, which refuses those.
  // Clamped to 10 .. 17.
  int initialPoseMinMatches = 17;
  // 0: off. Otherwise each frame corner also votes through the keys its
  // descriptor gives when one of the key's six cell choices moves to the
  // runner-up cell, where that takes at most this many quantisation steps:
  // tilt and blur often turn a corner's key into one of those. Far more
  // small and steep targets are recognised, and target-free frames go on to
  // the initial pose more often (which refuses them); meant with
  // recognitionVoteDisc and recognitionPoseCandidates. 5 is a good value.
  // Clamped to 0 .. 64.
  int recognitionNearKeySteps = 0;
  // With initialPoseAgreement on: where it refuses a pose, RANSAC runs
  // again on the same matches without the refused pose's consensus, up to
  // this many times, before the next retry. A consensus on repeated texture
  // or a chance one can outvote the right one, which the matches left then
  // show. About a RANSAC and an agreement check (1-2 ms) per try. 0 (off)
  // by default; clamped to 0 .. 4.
  int initialPoseConsensusRetries = 0;
  // Where the frame and the retries above give no pose, tries again on the
  // frame squeezed by 1.6 along each of four directions (0, 45, 90 and 135
  // degrees): a target tilted by 40-60 degrees is foreshortened along one
  // direction, and squeezing the other way partly undoes it, so that its
  // features look more like the stored ones. Up to four more feature
  // extractions per frame (the same for every target tried on it). Off by
  // default.
  bool initialPoseTiltViews = false;
  // With recognitionPoseCandidates on: the votes a target needs to be a
  // candidate, 3 by default. A small or far target often shows only two
  // of its keys; with 2 more of them reach the initial pose, and more
  // target-free frames do too, which it refuses. Clamped to 2 .. 4.
  int recognitionCandidateVotes = 3;
  // The live thread tries the initial pose on the very frame it recognised
  // a target in, instead of on the next one: a pose comes a frame sooner,
  // and a still camera gets one more try per recognition. The frame it
  // recognises on then costs recognition and an initial pose. Off by
  // default; the still-image test modes always pose the recognised image.
  bool acquireOnRecognisedFrame = false;
  // The initial pose replaces the pose decomposed from its homography by
  // the rigid pose that best reproduces the homography where its matches
  // agree. A distant or small target's decomposed pose is often several
  // times further off than the homography (10-20 px at its corners), more
  // than refineInitialPose's search closes; fitted, it starts from the
  // homography's few pixels. Well under a millisecond per fit. With
  // initialPoseAgreement on, both poses of every consensus (and of each
  // consensus retry) are refined and checked, and the one that agrees best
  // with the frame is kept: a few milliseconds more per pose. Off by
  // default.
  bool initialPoseRigidFit = false;
  // Percent, 0 (off) by default. With initialPoseAgreement on: where the
  // pose found on an image (the frame, then the vote windows, the doubled
  // frame and the tilted views, as far as those are on) agrees with the
  // frame less than this, the later images are tried as well and the pose
  // that agrees best of all is kept, rather than the first one above
  // initialPoseAgreement. The whole frame often poses a small target a few
  // pixels off, where its enlarged vote window poses it right. Costs the
  // later images' time on such frames. Clamped to 0 .. 100.
  int initialPoseSecondLook = 0;
};

// Opt-in tracking range and search threads; the defaults track as described.
struct TrackingOptions {
  // Pyramid levels of the stored target, beyond the one tracking uses,
  // that a far (or very near) target's templates may come from. 0 loses a
  // target that shrinks below about a quarter of the frame width; 2 keeps it
  // down to about a tenth, at a little more time per frame there.
  int keyframeLevelRange = 0;
  // Worker threads that the steady state's coarse patch search starts per
  // frame, 3 by default. 0 searches on the tracking thread itself: starting
  // and joining threads costs more than the search gains on one or two
  // cores (a tracked frame takes about a quarter less time). A process that
  // may run on one processor only searches on the tracking thread whatever
  // this says. The poses are the same either way. Clamped to 0..3.
  int searchThreads = 3;
  // Searches the keyframe matches that the steady state's coarse stage found
  // one pyramid level up again on their own level before the fine stage.
  // The level up catches twice the motion, but its matches are half as
  // precise, and they are what holds the pose to the target: corner errors
  // about halve (on moving sequences 0.3 px become 0.15-0.18 px), for
  // about an eighth more time per tracked frame. Off by default.
  bool refineCoarseMatches = false;
  // Batches of 35 keyframe points that the coarse stage may search, 1 by
  // default (clamped to 1..4): while fewer than 15 of the points are found,
  // the next batch in the image is searched as well. A target partly
  // covered, or far and blurred so that only every other point is found,
  // stays tracked; frames whose first batch suffices are unchanged.
  int coarseBatches = 1;
  // Where the steady state's coarse stage keeps fewer inliers than this
  // (of its 35 keyframe points), the fine stage takes its templates from
  // the keyframe instead of the previous frame. Templates from the
  // previous frame carry its pose's error on; with few keyframe matches to
  // hold it (a small, blurred target) a first pose a few pixels off then
  // stays off. 0 (the default) never does; 15 is a good value; clamped to
  // 0..35.
  int keyframeFineBelowInliers = 0;
};

// Receives every diagnostic line (without an added line end).
using LogCallback = void (*)(const char* line);

// Database set-up.
VORNIK_API void setAppDataDirPath(std::string path);
VORNIK_API void setArdbAssetDirPath(std::string path);
VORNIK_API void addTrackableGroup(std::string groupFile);

// Camera. `source`: "0" = first camera, another number = that device index,
// otherwise a video file or an image-sequence pattern. Takes effect at the
// next startCamera.
VORNIK_API void setCameraSource(std::string source);
VORNIK_API void startCamera(int width, int height);
VORNIK_API void stopCamera();

// Tracking.
VORNIK_API void startTracker();
VORNIK_API void stopTracker();
// The snapshot stays valid until the next getTrackingResult call.
VORNIK_API ITrackingResult& getTrackingResult();
// Identity until both the camera and the window size are known.
VORNIK_API const Matrix44F& getProjectionMatrix();

// Rendering; call on the thread that owns the OpenGL context.
VORNIK_API void setScreenOrientationModePortrait(bool portrait);
VORNIK_API void initRendering();
VORNIK_API void updateRendering(int width, int height);
VORNIK_API void renderVideoBackground();
VORNIK_API void stopRendering();

// Takes effect from the tracking thread's next frame, and for the still-image
// test modes at the next startTest. Features per layer are clamped to
// 1 .. 1000, attempts to 1 .. 30.
VORNIK_API void setAcquisitionOptions(const AcquisitionOptions& options);
// The options in force (after clamping).
VORNIK_API AcquisitionOptions getAcquisitionOptions();
// Takes effect like the acquisition options; the level range is clamped to
// 0 .. 3.
VORNIK_API void setTrackingOptions(const TrackingOptions& options);
VORNIK_API TrackingOptions getTrackingOptions();

// Still-image test modes.
VORNIK_API void startTest(TestModeEnum mode, std::string reportPath, int width, int height);
VORNIK_API void trackNextImage(std::string name, unsigned char* pixels, int byteSize, int width,
                               int height, int pixelFormat);
VORNIK_API void renderNextImage(unsigned char* pixels, int byteSize, int width, int height,
                                int pixelFormat);
VORNIK_API void testRecognizer(unsigned char* pixels, std::string name, int width, int height,
                               int byteSize, int pixelFormat, std::ofstream& report);
VORNIK_API void endTest();

// Routes diagnostics to `callback`; null restores standard error (the
// debugger channel on Windows). The callback runs on the thread that logs: a
// host thread inside a library call, the capture thread or the tracking
// thread, never under a lock of the library. It may call library functions
// except those that wait for the library's threads (startCamera, stopCamera,
// startTracker, stopTracker, destroy); the tracking result functions keep
// their rule of one reading thread.
VORNIK_API void setLogCallback(LogCallback callback);

}  // namespace vornik
