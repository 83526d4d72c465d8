#pragma once
// The part of OpenCV 2.4's C interface that the Windows capture plug-in binds
// at run time: three capture functions and the header of the image they
// return (the IPL image layout of OpenCV 2.4's core, field for field). No
// OpenCV header or library is needed to build against it.
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VORNIK_OPENCV_CORE_DLL "opencv_core2410.dll"
#define VORNIK_OPENCV_HIGHGUI_DLL "opencv_highgui2410.dll"

// Unsigned 8-bit samples.
#define VORNIK_OPENCV_DEPTH_8U 8
// Origin values: rows from the top, or from the bottom (Windows bitmaps).
#define VORNIK_OPENCV_ORIGIN_TOP_LEFT 0
#define VORNIK_OPENCV_ORIGIN_BOTTOM_LEFT 1

typedef struct VornikOpenCvImage {
  int32_t headerSize;
  int32_t version;
  int32_t channels;
  int32_t alphaChannel;
  int32_t depth;
  char colorModel[4];
  char channelSequence[4];
  // 0: interleaved channels; 1: one plane per channel.
  int32_t dataOrder;
  int32_t origin;
  int32_t rowAlignment;
  int32_t width;
  int32_t height;
  void* regionOfInterest;
  void* maskRegionOfInterest;
  void* imageId;
  void* tileInfo;
  int32_t imageSize;
  char* imageData;
  // Bytes from one row to the next, padding included.
  int32_t widthStep;
  int32_t borderMode[4];
  int32_t borderConstant[4];
  char* imageDataOrigin;
} VornikOpenCvImage;

// OpenCV's C functions use the C calling convention on 32-bit Windows.
#if defined(_WIN32) && !defined(_WIN64)
#define VORNIK_OPENCV_CALL __cdecl
#else
#define VORNIK_OPENCV_CALL
#endif

// An opaque capture handle.
typedef void*(VORNIK_OPENCV_CALL* VornikCvCreateCameraCaptureFn)(int32_t index);
// The next frame, owned by the capture and valid until the next query; null
// when none came.
typedef VornikOpenCvImage*(VORNIK_OPENCV_CALL* VornikCvQueryFrameFn)(void* capture);
// Releases *capture and sets it to null.
typedef void(VORNIK_OPENCV_CALL* VornikCvReleaseCaptureFn)(void** capture);

#define VORNIK_CV_CREATE_CAMERA_CAPTURE_NAME "cvCreateCameraCapture"
#define VORNIK_CV_QUERY_FRAME_NAME "cvQueryFrame"
#define VORNIK_CV_RELEASE_CAPTURE_NAME "cvReleaseCapture"

#ifdef __cplusplus
}
#endif
