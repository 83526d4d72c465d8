#include "render/renderer_gl.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "manager/log_capture_for_test.h"
#include "render/testing/offscreen_gl_context.h"

namespace vornik {
namespace {

constexpr GLenum kBgr = 0x80E0;

#define REQUIRE_GL(context)                                                       \
  if (!(context).ready()) {                                                       \
    GTEST_SKIP() << "no OpenGL context could be created (EGL pbuffer, software)"; \
  }

// Frame of 16 x 16 blocks; each block's blue and green tell its column and
// row, red is constant, so a swapped channel order or a flipped picture shows.
constexpr int kBlock = 16;
std::vector<uint8_t> blockFrame(int width, int height) {
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &frame[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(7 + 6 * (x / kBlock));
      p[1] = static_cast<uint8_t>(3 + 8 * (y / kBlock));
      p[2] = 201;
    }
  }
  return frame;
}

void sendFrame(RendererGL& renderer, const std::vector<uint8_t>& frame, int width, int height) {
  renderer.onPreviewFrame(frame.data(), static_cast<int32_t>(frame.size()), width, height, 0);
}

// Screen read back as rows from the top, 3 bytes blue-green-red per pixel.
std::vector<uint8_t> readScreenTopDown(int width, int height) {
  std::vector<uint8_t> bottomUp(static_cast<size_t>(width) * height * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, kBgr, GL_UNSIGNED_BYTE, bottomUp.data());
  std::vector<uint8_t> topDown(bottomUp.size());
  const size_t row = static_cast<size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    std::copy_n(&bottomUp[(height - 1 - y) * row], row, &topDown[y * row]);
  }
  return topDown;
}

GLint boundTexture() {
  GLint bound = -1;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  return bound;
}

TEST(RendererGLDraw, EveryResizeTurnAndFrameShapeCoversTheWholeScreen) {
  // One renderer through resizes, turns of the screen and frames of two
  // shapes: each picture covers the whole window with the overflow cut off
  // evenly, and a replaced texture is deleted. Frame sides are whole blocks,
  // so no checked texel is filtered across the texture's edge.
  struct Step {
    int screenWidth, screenHeight;
    bool portrait;
    int frameWidth, frameHeight;
    float fillX, fillY;
  };
  const Step steps[] = {
      // Same size and aspect: texel centres fall on pixel centres, every
      // byte exact, first row at the top.
      {128, 96, false, 128, 96, 1.0f, 1.0f},
      {192, 108, false, 192, 144, 1.0f, 4.0f / 3.0f},  // top and bottom cut off
      {240, 120, false, 192, 144, 1.0f, 1.5f},         // wider window
      {240, 120, false, 192, 64, 1.5f, 1.0f},          // wider frames: the sides cut off
      {120, 240, true, 192, 64, 1.5f, 1.0f},           // turned screen
      {720, 1280, true, 640, 480, 1.0f, 1.3333333f},
  };
  OffscreenGlContext context(720, 1280);
  REQUIRE_GL(context);
  RendererGL renderer;
  GLint previousTexture = 0;
  const Step* previous = nullptr;
  glClearColor(1.0f, 0.0f, 1.0f, 1.0f);
  for (const Step& step : steps) {
    SCOPED_TRACE(testing::Message() << "step " << &step - steps);
    const int w = step.screenWidth;
    const int h = step.screenHeight;
    glViewport(0, 0, w, h);
    glClear(GL_COLOR_BUFFER_BIT);
    const auto frame = blockFrame(step.frameWidth, step.frameHeight);
    renderer.setPortrait(step.portrait);
    renderer.updateRendering(w, h);
    sendFrame(renderer, frame, step.frameWidth, step.frameHeight);
    renderer.renderVideoBackground();
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_FLOAT_EQ(renderer.fillScaleX(), step.fillX);
    EXPECT_FLOAT_EQ(renderer.fillScaleY(), step.fillY);

    // A new frame shape replaces the texture and deletes the old one.
    const GLint texture = boundTexture();
    const bool newShape = previous == nullptr || step.frameWidth != previous->frameWidth ||
                          step.frameHeight != previous->frameHeight;
    EXPECT_EQ(texture != previousTexture, newShape);
    if (newShape && previousTexture != 0) {
      EXPECT_EQ(glIsTexture(static_cast<GLuint>(previousTexture)), GL_FALSE);
    }
    previousTexture = texture;
    previous = &step;

    const auto screen = readScreenTopDown(w, h);
    if (w == step.frameWidth && h == step.frameHeight) {
      EXPECT_EQ(screen, frame);
    }
    int uncovered = 0;
    for (size_t i = 0; i < screen.size(); i += 3) uncovered += std::abs(screen[i + 2] - 201) > 1;
    EXPECT_EQ(uncovered, 0);
    // Every pixel whose frame position lies well inside a block shows that
    // block; k is pixels per texel.
    const double fw = step.frameWidth;
    const double fh = step.frameHeight;
    const double k = step.portrait ? std::max(w / fh, h / fw) : std::max(w / fw, h / fh);
    int checked = 0;
    int failures = 0;
    for (int sy = 0; sy < h; ++sy) {
      for (int sx = 0; sx < w; ++sx) {
        // Frame position, in texels from the top-left corner, of the pixel's
        // centre; in portrait the frame's first row runs down the right edge.
        const double u = step.portrait ? (sy + 0.5 - h / 2.0) / k + fw / 2.0
                                       : (sx + 0.5 - w / 2.0) / k + fw / 2.0;
        const double v = step.portrait ? (w / 2.0 - sx - 0.5) / k + fh / 2.0
                                       : (sy + 0.5 - h / 2.0) / k + fh / 2.0;
        ASSERT_TRUE(u >= 0.0 && v >= 0.0 && u < fw && v < fh) << sx << ", " << sy;
        const double bu = std::fmod(u, kBlock);
        const double bv = std::fmod(v, kBlock);
        if (bu < 1.5 || bu > kBlock - 1.5 || bv < 1.5 || bv > kBlock - 1.5) continue;
        const uint8_t* want =
            &frame[(static_cast<size_t>(v) * step.frameWidth + static_cast<size_t>(u)) * 3];
        const uint8_t* got = &screen[(static_cast<size_t>(sy) * w + sx) * 3];
        ++checked;
        for (int c = 0; c < 3; ++c) {
          if (std::abs(want[c] - got[c]) > 1 && failures++ < 5) {
            ADD_FAILURE() << "screen (" << sx << ", " << sy << "): frame (" << u << ", " << v
                          << ")";
          }
        }
      }
    }
    EXPECT_GT(checked, w * h / 2);
  }
}

TEST(RendererGLDraw, InitRenderingLeavesTheNewContextsTexturesAlone) {
  // The renderer's name from the destroyed context is likely the first name
  // the host gets in the new one; it must not be deleted there.
  constexpr int kW = 32;
  constexpr int kH = 32;
  const auto frame = blockFrame(kW, kH);
  RendererGL renderer;
  renderer.updateRendering(kW, kH);
  {
    OffscreenGlContext first(kW, kH);
    REQUIRE_GL(first);
    sendFrame(renderer, frame, kW, kH);
    renderer.renderVideoBackground();
  }
  OffscreenGlContext second(kW, kH);
  REQUIRE_GL(second);
  GLuint hostTexture = 0;
  glGenTextures(1, &hostTexture);
  glBindTexture(GL_TEXTURE_2D, hostTexture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 4, 4, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
  renderer.initRendering();
  sendFrame(renderer, frame, kW, kH);
  renderer.renderVideoBackground();
  EXPECT_EQ(glIsTexture(hostTexture), GL_TRUE);
  EXPECT_NE(boundTexture(), static_cast<GLint>(hostTexture));
  EXPECT_EQ(readScreenTopDown(kW, kH), frame);
}

TEST(RendererGLDraw, NothingDrawnBeforeScreenSizeOrFirstFrame) {
  constexpr int kW = 64;
  constexpr int kH = 48;
  OffscreenGlContext context(kW, kH);
  REQUIRE_GL(context);
  glClearColor(1.0f, 0.0f, 1.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  const auto cleared = readScreenTopDown(kW, kH);
  RendererGL noScreen;
  sendFrame(noScreen, blockFrame(kW, kH), kW, kH);
  noScreen.renderVideoBackground();
  RendererGL noFrame;
  noFrame.updateRendering(kW, kH);
  noFrame.renderVideoBackground();
  EXPECT_EQ(readScreenTopDown(kW, kH), cleared);
  EXPECT_EQ(boundTexture(), 0);
  EXPECT_EQ(glIsEnabled(GL_TEXTURE_2D), GL_FALSE);
}

TEST(RendererGLUpload, UpdateVideoBackgroundFillsHostTexture) {
  // Odd width: rows of 3 x 33 bytes are not 4-byte aligned.
  constexpr int kW = 33;
  constexpr int kH = 17;
  OffscreenGlContext context(8, 8);
  REQUIRE_GL(context);
  std::vector<uint8_t> frame(kW * kH * 3);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7 + i / 99);
  GLuint hostTexture = 0;
  glGenTextures(1, &hostTexture);
  glBindTexture(GL_TEXTURE_2D, hostTexture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, kW, kH, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
  glBindTexture(GL_TEXTURE_2D, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);

  RendererGL renderer;
  renderer.updateVideoBackground(static_cast<int32_t>(hostTexture));  // no frame yet
  sendFrame(renderer, frame, kW, kH);
  renderer.updateVideoBackground(static_cast<int32_t>(hostTexture));
  ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

  std::vector<uint8_t> readBack(frame.size());
  glBindTexture(GL_TEXTURE_2D, hostTexture);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, kBgr, GL_UNSIGNED_BYTE, readBack.data());
  EXPECT_EQ(readBack, frame);
  glDeleteTextures(1, &hostTexture);
}

TEST(RendererGLFrame, GetVideoFrameWritesExactlyOneFrameAndGreyFramesWiden) {
  constexpr int kW = 7;
  constexpr int kH = 5;
  RendererGL renderer;
  std::vector<uint8_t> out(kW * kH * 3 + 16, 0xAB);
  renderer.getVideoFrame(out.data());
  EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0xAB)) << "written before the first frame";

  std::vector<uint8_t> frame(kW * kH * 3);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i);
  sendFrame(renderer, frame, kW, kH);
  renderer.getVideoFrame(out.data());
  EXPECT_TRUE(std::equal(frame.begin(), frame.end(), out.begin()));
  for (size_t i = frame.size(); i < out.size(); ++i) EXPECT_EQ(out[i], 0xAB) << i;

  std::vector<uint8_t> grey(kW * kH);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(10 * i + 1);
  renderer.onPreviewFrame(grey.data(), static_cast<int32_t>(grey.size()), kW, kH, 1);
  renderer.getVideoFrame(out.data());
  for (size_t i = 0; i < frame.size(); ++i) EXPECT_EQ(out[i], grey[i / 3]) << i;
}

TEST(RendererGLFrame, RefusedFramesKeepThePreviousOneAndLogOnceASecond) {
  // A bad source repeats its fault with every frame: 100 of them within a
  // second are one line.
  constexpr int kW = 4;
  constexpr int kH = 3;
  const std::vector<uint8_t> colour(kW * kH * 3, 0x55);
  struct Case {
    const uint8_t* data;
    int32_t byteSize, width, height, pixelFormat;
    const char* line;
  };
  const Case cases[] = {
      {colour.data(), kW * kH * 3 - 1, kW, kH, 0,
       "Renderer: frame 4x3 with 35 bytes in pixel format 0 ignored\n"},
      {colour.data(), kW * kH * 3, kW, kH, 2,
       "Renderer: frame 4x3 with 36 bytes in pixel format 2 ignored\n"},
      {nullptr, kW * kH * 3, kW, kH, 0, "Renderer: frame without pixels ignored\n"},
      {colour.data(), kW * kH * 3, 0, kH, 0, "Renderer: frame without pixels ignored\n"},
  };
  std::vector<uint8_t> first(kW * kH * 3);
  for (size_t i = 0; i < first.size(); ++i) first[i] = static_cast<uint8_t>(i);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    RendererGL renderer;
    sendFrame(renderer, first, kW, kH);
    LogCapture log;
    for (int i = 0; i < 100; ++i) {
      renderer.onPreviewFrame(c.data, c.byteSize, c.width, c.height, c.pixelFormat);
    }
    EXPECT_EQ(log.snapshot(), std::vector<std::string>{c.line});
    std::vector<uint8_t> out(first.size());
    renderer.getVideoFrame(out.data());
    EXPECT_EQ(out, first);
  }
  RendererGL renderer;
  LogCapture log;
  for (int i = 0; i < 100; ++i) renderer.getVideoFrame(nullptr);
  EXPECT_EQ(log.snapshot(), std::vector<std::string>{"getVideoFrame: null output buffer\n"});
}

}  // namespace
}  // namespace vornik
