#ifndef VORNIK_VORNIK_C_H_
#define VORNIK_VORNIK_C_H_
/* Vornik: the flat interface for C, game-engine bindings and Python ctypes.
 * Plain numbers and pointers only; undecorated names with C linkage.
 * A null string argument is logged and ignored. */

#include "vornik/export.h"

#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Database set-up: application-data directory, asset directory (empties the
 * group list), then one call per group file. */
VORNIK_API void setAppDataDirPath(const char* path);
VORNIK_API void setArdbAssetDirPath(const char* path);
VORNIK_API void addTrackableGroup(const char* groupFile);

/* Camera. source: "0" = first camera, another number = that device index,
 * otherwise a video file or an image-sequence pattern. */
VORNIK_API void setCameraSource(const char* source);
VORNIK_API void startCamera(int width, int height);
VORNIK_API void stopCamera(void);
/* size[0], size[1] := preview width and height; 0 and 0 before the first frame. */
VORNIK_API void getCameraPreviewSize(int* size);

/* Tracking. */
VORNIK_API void startTracker(void);
VORNIK_API void stopTracker(void);
/* Takes a new result snapshot and returns its number of trackables (0 or 1). */
VORNIK_API int getTrackableCount(void);
/* Reads trackable `index` of the snapshot of the last getTrackableCount:
 * id (34 bytes) := NUL-terminated identifier cut to 33 characters,
 * pose (16 floats, column-major), size (2 floats) := width, height.
 * A bad index or a missing snapshot writes an empty id and zeros.
 * The snapshot is replaced by the next getTrackableCount (or the namespaced
 * getTrackingResult): call both from one thread, the rendering thread, and
 * read the infos before the next count. */
VORNIK_API void getTrackableInfo(int index, char* id, float* pose, float* size);
/* matrix (16 floats) := the projection matrix, column-major. */
VORNIK_API void getProjectionMatrix(float* matrix);

/* Rendering; call on the thread that owns the OpenGL context. */
VORNIK_API void setScreenOrientationPortraitMode(bool portrait);
VORNIK_API void initRendering(void);
VORNIK_API void updateRendering(int width, int height);
VORNIK_API void renderVideoBackground(void);
/* Copies the newest camera frame into the host's OpenGL texture. */
VORNIK_API void updateVideoBackground(int textureId);
/* Copies the newest camera frame, width * height * 3 bytes (BGR), into out. */
VORNIK_API void getVideoFrame(unsigned char* out);
VORNIK_API void stopRendering(void);
/* Stops the tracker, the camera and the renderer. A host that exits or
 * unloads the library without stopping is safe as well: the library stops
 * its threads itself. */
VORNIK_API void destroy(void);

/* Opt-in help for acquiring a target in a busy scene, off by default: the
 * frame features described per response layer (two layers) for the initial
 * pose, 60 by default; 150 keeps enough of them on a target that covers
 * little of a cluttered frame, at about twice the initial pose's time.
 * Effective from the tracking thread's next frame and the next startTest;
 * clamped to 1 .. 1000. */
VORNIK_API void setAcquisitionOptions(int initialPoseFeaturesPerLayer);
/* Further opt-ins of the same kind, each leaving the others as they are.
 * Non-zero enabled: the initial pose is refined by up to five passes of
 * the tracker's patch search on the same frame (corner errors of about 1 px
 * instead of 2-4 px), for up to five tracked frames' time more.
 * attempts: frames on which the initial pose is tried for a recognised
 * target before recognition starts again, 1 by default, clamped to 1 .. 30.
 * iterations: RANSAC samples the initial pose draws after its 30 when none
 * of those found half of the matches in agreement (these accept 30 %, at
 * least 17), 0 by default, clamped to 0 .. 1000. */
VORNIK_API void setInitialPoseRefinement(int enabled);
VORNIK_API void setAcquiringAttempts(int attempts);
VORNIK_API void setRansacRescueIterations(int iterations);
/* Non-zero: where a frame gives no initial pose, it is tried again on the
 * frame doubled in size, which poses targets under about a third of the
 * frame width; off (0) by default. */
VORNIK_API void setInitialPoseEnlargedRetry(int enabled);
/* 2 or 4: where a frame gives no initial pose, it is tried again on the
 * part of the frame around the recogniser's votes, enlarged (2: half the
 * frame's width and height, doubled; 4: a quarter quadrupled, then the
 * half), which poses targets down to about a tenth of the frame width;
 * tried before the enlarged retry. 0 (off) by default; other
 * values are taken as the nearest of 0, 2 and 4 below them. */
VORNIK_API void setInitialPoseVoteWindow(int enlargement);
/* percent > 0: each initial pose found must agree with the frame (a
 * normalised cross-correlation of the target image and the frame where the
 * pose puts it, over a grid of cells, in percent) at least that much, or it
 * counts as none and the next retry runs: poses from a chance consensus of
 * the matches are refused. 0 (off) by default; clamped to 0 .. 100; takes
 * effect like the acquisition options. */
VORNIK_API void setInitialPoseAgreement(int percent);
/* The fewest mutual feature matches (and RANSAC inliers) an initial pose
 * needs, 17 by default, clamped to 10 .. 17. Fewer pose more far and steep
 * targets, and chance poses too: meant with setInitialPoseAgreement. */
VORNIK_API void setInitialPoseMinMatches(int matches);
/* With setInitialPoseAgreement on: where it refuses a pose, RANSAC runs
 * again on the same matches without that pose's consensus, up to this many
 * times (0, off, by default; clamped to 0 .. 4). */
VORNIK_API void setInitialPoseConsensusRetries(int retries);
/* Non-zero: where the frame gives no pose, the initial pose tries again on
 * the frame squeezed along four directions, which poses steeply tilted
 * targets (off, 0, by default). */
VORNIK_API void setInitialPoseTiltViews(int enabled);
/* With setRecognitionPoseCandidates on: the votes a target needs to be a
 * candidate (3 by default; clamped to 2 .. 4). 2 lets more small and far
 * targets reach the initial pose. */
VORNIK_API void setRecognitionCandidateVotes(int votes);
/* enabled != 0: the live thread tries the initial pose on the frame it
 * recognised a target in rather than on the next (off, 0, by default). */
VORNIK_API void setAcquireOnRecognisedFrame(int enabled);
/* enabled != 0: the initial pose fits a rigid pose to its homography
 * where its matches agree, rather than taking the homography's
 * decomposition, which is far off for distant targets; with the agreement
 * check on, whichever of the two agrees best with the frame, over every
 * consensus retry, is kept (off, 0, by default). */
VORNIK_API void setInitialPoseRigidFit(int enabled);
/* percent > 0, with setInitialPoseAgreement on: where the pose found on an
 * image agrees with the frame less than this, the initial pose's later
 * images (vote windows, doubled frame, tilted views) are tried as well and
 * the best-agreeing pose of all is kept (0, off, by default; clamped to
 * 0 .. 100; takes effect like the acquisition options). */
VORNIK_API void setInitialPoseSecondLook(int percent);
/* FAST corners the recognizer keeps per frame, 200 by default; more
 * recognise small and steep targets in busy scenes more often, and name a
 * wrong one more often too. Clamped to 50 .. 2000; takes effect like the
 * acquisition options. */
VORNIK_API void setRecognitionCorners(int corners);
/* votes > 0: where no target wins a frame but the leading one has at least
 * that many votes, the recogniser looks again at the half of the frame
 * around them, doubled, which recognises small and far targets more often
 * (and wrong ones too). 0 (off) by default; clamped to 0 .. 4; takes effect
 * like the acquisition options. */
VORNIK_API void setRecognitionWindowRetry(int votes);
/* percent > 0: a target's votes are counted only within the disc of that
 * radius (percent of the frame width) holding most of them, so that stray
 * votes spread over a busy scene name far fewer wrong or absent targets.
 * 0 (off) by default; clamped to 0 .. 100; takes effect like the
 * acquisition options. */
VORNIK_API void setRecognitionVoteDisc(int percent);
/* count > 0: up to that many targets beside the strongest, with at least 3
 * votes each, are tried in turn by the initial pose on a frame where the
 * strongest gives no pose, and a frame without a winner goes on to the
 * initial pose when it has such targets. 0 (off) by default; clamped to
 * 0 .. 8; takes effect like the acquisition options. */
VORNIK_API void setRecognitionPoseCandidates(int count);
/* Each frame corner also votes through its near keys: those its descriptor
 * gives when one cell choice of its key moves to the runner-up, within this
 * many quantisation steps. Recognises more small and steep targets and
 * sends more busy frames to the initial pose. 0 (off) by default; clamped
 * to 0 .. 64; takes effect like the acquisition options. */
VORNIK_API void setRecognitionNearKeySteps(int steps);
/* Opt-in tracking range, off (0) by default: pyramid levels of the stored
 * target beyond the one tracking uses that a far target's templates may
 * come from. 0 loses a target below about a quarter of the frame width; 2
 * keeps it down to about a tenth. Clamped to 0 .. 3; takes effect like the
 * acquisition options. */
VORNIK_API void setTrackingLevelRange(int levels);
/* Worker threads of the steady state's patch search per frame, 3 by
 * default; 0 searches on the tracking thread, faster on one or two cores, as
 * does a process that may run on one processor only, whatever the setting.
 * Clamped to 0 .. 3; takes effect like the acquisition options. */
VORNIK_API void setTrackingSearchThreads(int threads);
/* Non-zero: the steady state's coarse keyframe matches, found one pyramid
 * level up, are searched again on their own level before the fine stage;
 * corner errors about halve for about an eighth more time per tracked
 * frame. Off (0) by default; takes effect like the acquisition options. */
VORNIK_API void setTrackingCoarseRefinement(int enabled);
/* Batches of 35 keyframe points the coarse stage may search while fewer
 * than 15 are found, 1 by default, clamped to 1 .. 4: more keep a partly
 * covered or a far, blurred target tracked. Takes effect like the
 * acquisition options. */
VORNIK_API void setTrackingCoarseBatches(int batches);
/* Below this many coarse inliers the steady state's fine stage takes its
 * templates from the keyframe, not the previous frame, so that a small,
 * blurred target's pose does not keep a first pose's error; 0 (the default)
 * never; clamped to 0 .. 35. Takes effect like the acquisition options. */
VORNIK_API void setTrackingKeyframeFineBelow(int inliers);

/* Routes diagnostics to callback; null restores standard error. The callback
 * runs on the thread that logs (a host thread, the capture or the tracking
 * thread), never under a library lock; it may call any function here except
 * startCamera, stopCamera, startTracker, stopTracker and destroy, which wait
 * for the library's threads. */
VORNIK_API void setLogCallback(void (*callback)(const char* line));

#ifdef __cplusplus
}
#endif

#endif /* VORNIK_VORNIK_C_H_ */
