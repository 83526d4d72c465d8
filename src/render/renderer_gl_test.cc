#include "render/renderer_gl.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

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

// Maps the centre of screen pixel (sx, sy from the top) to continuous frame
// coordinates (u, v in texels from the top-left corner).
using ScreenToFrame = void (*)(double sx, double sy, double* u, double* v);

// Checks every screen pixel whose frame position lies well inside a block;
// returns the number of pixels checked.
int expectBlocks(const std::vector<uint8_t>& screen, int screenWidth, int screenHeight,
                 const std::vector<uint8_t>& frame, int frameWidth, int frameHeight,
                 ScreenToFrame map) {
  int checked = 0;
  int failures = 0;
  for (int sy = 0; sy < screenHeight; ++sy) {
    for (int sx = 0; sx < screenWidth; ++sx) {
      double u = 0.0;
      double v = 0.0;
      map(sx + 0.5, sy + 0.5, &u, &v);
      if (u < 0.0 || v < 0.0 || u >= frameWidth || v >= frameHeight) {
        ADD_FAILURE() << "screen (" << sx << ", " << sy << ") maps outside the frame";
        return checked;
      }
      const double bu = std::fmod(u, kBlock);
      const double bv = std::fmod(v, kBlock);
      if (bu < 1.5 || bu > kBlock - 1.5 || bv < 1.5 || bv > kBlock - 1.5) continue;
      const uint8_t* want =
          &frame[(static_cast<size_t>(v) * frameWidth + static_cast<size_t>(u)) * 3];
      const uint8_t* got = &screen[(static_cast<size_t>(sy) * screenWidth + sx) * 3];
      ++checked;
      for (int c = 0; c < 3; ++c) {
        if (std::abs(want[c] - got[c]) > 1 && failures++ < 5) {
          ADD_FAILURE() << "screen (" << sx << ", " << sy << ") channel " << c << ": got "
                        << int(got[c]) << ", frame (" << u << ", " << v << ") has " << int(want[c]);
        }
      }
    }
  }
  return checked;
}

class TestRenderer : public Renderer {
 public:
  TestRenderer(int screenWidth, int screenHeight, int frameWidth, int frameHeight, bool portrait) {
    screenWidth_ = screenWidth;
    screenHeight_ = screenHeight;
    frameWidth_ = frameWidth;
    frameHeight_ = frameHeight;
    portraitMode_ = portrait;
  }
  void onPreviewFrame(const uint8_t*, int32_t, int32_t, int32_t, int32_t) override {}
  void initRendering() override {}
  void updateRendering(int32_t, int32_t) override {}
  void stopRendering() override {}
  void renderVideoBackground() override {}
  void updateVideoBackground(int32_t) override {}
};

TEST(RendererGeometry, PortraitScreenWithLandscapeFramesFillsHeight) {
  TestRenderer renderer(720, 1280, 640, 480, true);
  renderer.updateGeometry();
  EXPECT_EQ(renderer.fillScaleX(), 1.0f);
  EXPECT_FLOAT_EQ(renderer.fillScaleY(), 1.3333333f);
  const float expected[8] = {-640, -360, -640, 360, 640, -360, 640, 360};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(renderer.quadVertices()[i], expected[i]) << i;
}

TEST(RendererGeometry, WideFrameOnNarrowScreenFillsWidth) {
  TestRenderer renderer(480, 480, 640, 480, false);
  renderer.updateGeometry();
  EXPECT_FLOAT_EQ(renderer.fillScaleX(), 4.0f / 3.0f);
  EXPECT_EQ(renderer.fillScaleY(), 1.0f);
  const float expected[8] = {-240, -240, -240, 240, 240, -240, 240, 240};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(renderer.quadVertices()[i], expected[i]) << i;
}

TEST(RendererGeometry, OddScreenSizeKeepsHalfPixels) {
  TestRenderer renderer(641, 361, 641, 361, false);
  renderer.updateGeometry();
  EXPECT_EQ(renderer.quadVertices()[0], -320.5f);
  EXPECT_EQ(renderer.quadVertices()[3], 180.5f);
  EXPECT_EQ(renderer.fillScaleX(), 1.0f);
  EXPECT_EQ(renderer.fillScaleY(), 1.0f);
}

TEST(RendererGLDraw, FirstRowAtTopInBlueGreenRedOrder) {
  constexpr int kW = 128;
  constexpr int kH = 96;
  OffscreenGlContext context(kW, kH);
  REQUIRE_GL(context);
  RendererGL renderer;
  const auto frame = blockFrame(kW, kH);
  renderer.onPreviewFrame(frame.data(), static_cast<int32_t>(frame.size()), kW, kH, 0);
  renderer.updateRendering(kW, kH);
  renderer.renderVideoBackground();
  ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  const auto screen = readScreenTopDown(kW, kH);
  // Same size and aspect: texel centres fall on pixel centres, every byte exact.
  EXPECT_EQ(screen, frame);
}

TEST(RendererGLDraw, LandscapeCropsTopAndBottomOfTallerFrame) {
  // 640 x 480 frames on a 640 x 360 screen: scale y 4/3, rows 60..419 visible.
  OffscreenGlContext context(640, 360);
  REQUIRE_GL(context);
  RendererGL renderer;
  const auto frame = blockFrame(640, 480);
  renderer.onPreviewFrame(frame.data(), static_cast<int32_t>(frame.size()), 640, 480, 0);
  renderer.updateRendering(640, 360);
  renderer.renderVideoBackground();
  EXPECT_FLOAT_EQ(renderer.fillScaleY(), 4.0f / 3.0f);
  const auto screen = readScreenTopDown(640, 360);
  const int checked = expectBlocks(screen, 640, 360, frame, 640, 480,
                                   [](double sx, double sy, double* u, double* v) {
                                     *u = sx;
                                     *v = sy + 60.0;
                                   });
  EXPECT_GT(checked, 640 * 360 / 2);
}

TEST(RendererGLDraw, PortraitTurnsFrameAndCropsItsSides) {
  // 720 x 1280 portrait screen, 640 x 480 frames: the frame's top row runs down
  // the right edge, doubled in size; frame rows 60..420 are visible.
  OffscreenGlContext context(720, 1280);
  REQUIRE_GL(context);
  RendererGL renderer;
  const auto frame = blockFrame(640, 480);
  renderer.setPortrait(true);
  renderer.onPreviewFrame(frame.data(), static_cast<int32_t>(frame.size()), 640, 480, 0);
  renderer.updateRendering(720, 1280);
  renderer.renderVideoBackground();
  EXPECT_EQ(renderer.fillScaleX(), 1.0f);
  EXPECT_FLOAT_EQ(renderer.fillScaleY(), 1.3333333f);
  const auto screen = readScreenTopDown(720, 1280);
  const int checked = expectBlocks(screen, 720, 1280, frame, 640, 480,
                                   [](double sx, double sy, double* u, double* v) {
                                     *u = sy / 2.0;
                                     *v = 60.0 + (720.0 - sx) / 2.0;
                                   });
  EXPECT_GT(checked, 720 * 1280 / 2);
}

TEST(RendererGLDraw, NothingDrawnBeforeScreenSizeOrFirstFrame) {
  constexpr int kW = 64;
  constexpr int kH = 48;
  OffscreenGlContext context(kW, kH);
  REQUIRE_GL(context);
  glClearColor(1.0f, 0.0f, 1.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  const auto cleared = readScreenTopDown(kW, kH);
  const auto frame = blockFrame(kW, kH);

  RendererGL noScreen;
  noScreen.onPreviewFrame(frame.data(), static_cast<int32_t>(frame.size()), kW, kH, 0);
  noScreen.renderVideoBackground();
  RendererGL noFrame;
  noFrame.updateRendering(kW, kH);
  noFrame.renderVideoBackground();

  EXPECT_EQ(readScreenTopDown(kW, kH), cleared);
  GLint bound = -1;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(bound, 0);
  EXPECT_EQ(glIsEnabled(GL_TEXTURE_2D), GL_FALSE);
}

TEST(RendererGLDraw, NewFrameSizeGetsNewTexture) {
  constexpr int kW = 96;
  constexpr int kH = 64;
  OffscreenGlContext context(kW, kH);
  REQUIRE_GL(context);
  RendererGL renderer;
  renderer.updateRendering(kW, kH);
  const auto small = blockFrame(48, 32);
  renderer.onPreviewFrame(small.data(), static_cast<int32_t>(small.size()), 48, 32, 0);
  renderer.renderVideoBackground();
  const auto large = blockFrame(kW, kH);
  renderer.onPreviewFrame(large.data(), static_cast<int32_t>(large.size()), kW, kH, 0);
  renderer.renderVideoBackground();
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  EXPECT_EQ(readScreenTopDown(kW, kH), large);
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
  renderer.onPreviewFrame(frame.data(), static_cast<int32_t>(frame.size()), kW, kH, 0);
  renderer.updateVideoBackground(static_cast<int32_t>(hostTexture));
  ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

  std::vector<uint8_t> readBack(frame.size());
  glBindTexture(GL_TEXTURE_2D, hostTexture);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, kBgr, GL_UNSIGNED_BYTE, readBack.data());
  EXPECT_EQ(readBack, frame);
  glDeleteTextures(1, &hostTexture);
}

TEST(RendererGLFrame, GetVideoFrameWritesExactlyOneFrame) {
  constexpr int kW = 7;
  constexpr int kH = 5;
  RendererGL renderer;
  std::vector<uint8_t> out(kW * kH * 3 + 16, 0xAB);
  renderer.getVideoFrame(out.data());
  EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0xAB)) << "written before the first frame";

  std::vector<uint8_t> frame(kW * kH * 3);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i);
  renderer.onPreviewFrame(frame.data(), static_cast<int32_t>(frame.size()), kW, kH, 0);
  renderer.getVideoFrame(out.data());
  EXPECT_TRUE(std::equal(frame.begin(), frame.end(), out.begin()));
  for (size_t i = frame.size(); i < out.size(); ++i) EXPECT_EQ(out[i], 0xAB) << i;
  renderer.getVideoFrame(nullptr);
}

TEST(RendererGLFrame, GreyFramesWidenAndShortFramesAreRefused) {
  constexpr int kW = 4;
  constexpr int kH = 3;
  RendererGL renderer;
  std::vector<uint8_t> grey(kW * kH);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(10 * i + 1);
  renderer.onPreviewFrame(grey.data(), static_cast<int32_t>(grey.size()), kW, kH, 1);
  std::vector<uint8_t> out(kW * kH * 3);
  renderer.getVideoFrame(out.data());
  for (size_t i = 0; i < grey.size(); ++i) {
    EXPECT_EQ(out[3 * i], grey[i]);
    EXPECT_EQ(out[3 * i + 1], grey[i]);
    EXPECT_EQ(out[3 * i + 2], grey[i]);
  }
  // A colour frame that claims fewer bytes than its size needs, an unknown
  // layout and a null pointer leave the previous frame in place.
  std::vector<uint8_t> colour(kW * kH * 3, 0x55);
  renderer.onPreviewFrame(colour.data(), kW * kH * 3 - 1, kW, kH, 0);
  renderer.onPreviewFrame(colour.data(), kW * kH * 3, kW, kH, 2);
  renderer.onPreviewFrame(nullptr, kW * kH * 3, kW, kH, 0);
  renderer.onPreviewFrame(colour.data(), kW * kH * 3, 0, kH, 0);
  std::vector<uint8_t> again(out.size());
  renderer.getVideoFrame(again.data());
  EXPECT_EQ(again, out);
}

TEST(RendererGLFrame, SingletonIsShared) {
  EXPECT_EQ(RendererGL::getInstance().get(), RendererGL::getInstance().get());
}

}  // namespace
}  // namespace vornik
