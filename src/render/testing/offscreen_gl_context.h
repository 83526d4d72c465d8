#pragma once
// Off-screen OpenGL context for tests and benchmarks: a pbuffer on Mesa's
// surfaceless platform (software renderer), or on the default display.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

namespace vornik {

class OffscreenGlContext {
 public:
  OffscreenGlContext(int width, int height) {
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay != nullptr) {
      display_ = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    }
    if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr)) {
      display_ = eglGetDisplay(EGL_DEFAULT_DISPLAY);
      if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr)) {
        display_ = EGL_NO_DISPLAY;
        return;
      }
    }
    const EGLint configAttributes[][2] = {{EGL_SURFACE_TYPE, EGL_PBUFFER_BIT},
                                          {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT},
                                          {EGL_RED_SIZE, 8},
                                          {EGL_GREEN_SIZE, 8},
                                          {EGL_BLUE_SIZE, 8},
                                          {EGL_DEPTH_SIZE, 16},
                                          {EGL_NONE, EGL_NONE}};
    EGLConfig config;
    EGLint count = 0;
    if (!eglChooseConfig(display_, configAttributes[0], &config, 1, &count) || count < 1) return;
    const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    surface_ = eglCreatePbufferSurface(display_, config, surfaceAttributes);
    if (surface_ == EGL_NO_SURFACE || !eglBindAPI(EGL_OPENGL_API)) return;
    context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, nullptr);
    if (context_ == EGL_NO_CONTEXT) return;
    ready_ = eglMakeCurrent(display_, surface_, surface_, context_) == EGL_TRUE;
    if (ready_) glViewport(0, 0, width, height);
  }
  ~OffscreenGlContext() {
    if (display_ == EGL_NO_DISPLAY) return;
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
    if (surface_ != EGL_NO_SURFACE) eglDestroySurface(display_, surface_);
  }
  OffscreenGlContext(const OffscreenGlContext&) = delete;
  OffscreenGlContext& operator=(const OffscreenGlContext&) = delete;

  bool ready() const { return ready_; }

 private:
  EGLDisplay display_ = EGL_NO_DISPLAY;
  EGLSurface surface_ = EGL_NO_SURFACE;
  EGLContext context_ = EGL_NO_CONTEXT;
  bool ready_ = false;
};

}  // namespace vornik
