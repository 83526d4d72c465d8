#pragma once
// The C interface between the library and its run-time capture plug-in. The
// library never links a capture back end; it loads the plug-in from its own
// folder and resolves these three entry points by name.
#include <stdint.h>

#if defined(_WIN32)
#define VORNIK_CAPTURE_EXPORT __declspec(dllexport)
#else
#define VORNIK_CAPTURE_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// One captured frame: rows of width x channels bytes without padding. The
// pixels stay valid until the next query or the release of the capture.
typedef struct VornikCaptureFrame {
  int32_t channels;
  int32_t width;
  int32_t height;
  const uint8_t* data;
} VornikCaptureFrame;

// Opens a capture source: a decimal device index ("0" is the first camera),
// a video file or an image-sequence pattern. Null when it cannot be opened.
typedef void* (*VornikCaptureOpenFn)(const char* source);
// Grabs the next frame as tightly packed blue-green-red (channels = 3).
// Returns 1 and fills `frame`, or 0 when no frame came.
typedef int32_t (*VornikCaptureQueryFrameFn)(void* capture, VornikCaptureFrame* frame);
// Closes the source and frees the capture; null is accepted.
typedef void (*VornikCaptureReleaseFn)(void* capture);

#define VORNIK_CAPTURE_OPEN_NAME "vornikCaptureOpen"
#define VORNIK_CAPTURE_QUERY_FRAME_NAME "vornikCaptureQueryFrame"
#define VORNIK_CAPTURE_RELEASE_NAME "vornikCaptureRelease"

#ifdef __cplusplus
}
#endif
