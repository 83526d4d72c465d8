// Example host: a GLFW window that shows the camera picture (or a recording)
// as the video background and draws a wireframe cube and axes on the tracked
// target with the library's projection matrix and pose.
//
//   vornik-viewer [SOURCE] [--assets DIR --group FILE ...] [--appdata DIR]
//                 [--size WxH] [--portrait] [--screenshot FILE.png --after SECONDS]
//                 [--require-frames] [--require-pose]
#include <GLFW/glfw3.h>
#include <png.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vornik/vornik.h"
#include "vornik/vornik_c.h"

namespace {

// Longest wait for the first frame or pose before giving up.
constexpr double kStartLimitSeconds = 30.0;

struct Options {
  std::string source;
  std::string assets;
  std::string appData = "vornik-viewer-cache";
  std::vector<std::string> groups;
  int width = 640;
  int height = 480;
  bool portrait = false;
  std::string screenshot;
  double afterSeconds = 3.0;
  bool requireFrames = false;
  bool requirePose = false;
};

void usage() {
  std::printf(
      "usage: vornik-viewer [SOURCE] [options]\n"
      "  SOURCE               camera index, video file or image-sequence pattern (default 0)\n"
      "  --assets DIR         image database folder\n"
      "  --group FILE         group file inside DIR (repeatable)\n"
      "  --appdata DIR        folder for the database cache (default vornik-viewer-cache)\n"
      "  --size WxH           window size (default 640x480)\n"
      "  --portrait           hold the picture upright (turned by 90 degrees)\n"
      "  --screenshot FILE    save the window as PNG after --after seconds, then exit\n"
      "  --after SECONDS      delay before the screenshot (default 3)\n"
      "  --require-frames     count --after from the first camera frame; exit with\n"
      "                       status 2 when none arrives within 30 s\n"
      "  --require-pose       count --after from the first tracked pose; exit with\n"
      "                       status 3 when none comes within 30 s\n");
}

bool parseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vornik-viewer: %s needs a value\n", name);
        return nullptr;
      }
      return argv[++i];
    };
    const char* v = nullptr;
    if (arg == "--help" || arg == "-h") {
      usage();
      std::exit(0);
    } else if (arg == "--assets") {
      if ((v = value("--assets")) == nullptr) return false;
      options->assets = v;
    } else if (arg == "--group") {
      if ((v = value("--group")) == nullptr) return false;
      options->groups.push_back(v);
    } else if (arg == "--appdata") {
      if ((v = value("--appdata")) == nullptr) return false;
      options->appData = v;
    } else if (arg == "--size") {
      if ((v = value("--size")) == nullptr) return false;
      if (std::sscanf(v, "%dx%d", &options->width, &options->height) != 2 || options->width <= 0 ||
          options->height <= 0) {
        std::fprintf(stderr, "vornik-viewer: bad --size %s (want WxH)\n", v);
        return false;
      }
    } else if (arg == "--portrait") {
      options->portrait = true;
    } else if (arg == "--screenshot") {
      if ((v = value("--screenshot")) == nullptr) return false;
      options->screenshot = v;
    } else if (arg == "--after") {
      if ((v = value("--after")) == nullptr) return false;
      char* end = nullptr;
      options->afterSeconds = std::strtod(v, &end);
      if (end == v || *end != '\0' || options->afterSeconds < 0.0) {
        std::fprintf(stderr, "vornik-viewer: bad --after %s\n", v);
        return false;
      }
    } else if (arg == "--require-frames") {
      options->requireFrames = true;
    } else if (arg == "--require-pose") {
      options->requirePose = true;
    } else if (!arg.empty() && arg[0] == '-' && arg.size() > 1) {
      std::fprintf(stderr, "vornik-viewer: unknown option %s\n", arg.c_str());
      return false;
    } else {
      options->source = arg;
    }
  }
  return true;
}

bool savePng(const std::string& path, int width, int height) {
  std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "vornik-viewer: cannot write %s\n", path.c_str());
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    std::fprintf(stderr, "vornik-viewer: PNG encoding of %s failed\n", path.c_str());
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  // OpenGL reads bottom-up; PNG rows go top-down.
  for (int y = height - 1; y >= 0; --y) {
    png_write_row(png, &pixels[static_cast<size_t>(y) * width * 3]);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

// Wireframe box over the target (centred, in its pixel units) standing out of
// its plane towards the camera, and the three target axes.
void drawTargetOverlay(float width, float height) {
  const float x = width * 0.5f;
  const float y = height * 0.5f;
  const float z = -0.5f * (width < height ? width : height);
  const float corners[8][3] = {{-x, -y, 0}, {x, -y, 0}, {x, y, 0}, {-x, y, 0},
                               {-x, -y, z}, {x, -y, z}, {x, y, z}, {-x, y, z}};
  const int edges[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                            {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
  glLineWidth(2.0f);
  glBegin(GL_LINES);
  glColor3f(1.0f, 1.0f, 0.0f);
  for (const auto& edge : edges) {
    glVertex3fv(corners[edge[0]]);
    glVertex3fv(corners[edge[1]]);
  }
  const float axis = 0.5f * width;
  glColor3f(1.0f, 0.0f, 0.0f);
  glVertex3f(0, 0, 0);
  glVertex3f(axis, 0, 0);
  glColor3f(0.0f, 1.0f, 0.0f);
  glVertex3f(0, 0, 0);
  glVertex3f(0, axis, 0);
  glColor3f(0.0f, 0.0f, 1.0f);
  glVertex3f(0, 0, 0);
  glVertex3f(0, 0, -axis);
  glEnd();
  glColor3f(1.0f, 1.0f, 1.0f);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) {
    usage();
    return 1;
  }
  if (!options.screenshot.empty() && options.screenshot.size() < 5) {
    std::fprintf(stderr, "vornik-viewer: bad screenshot name %s\n", options.screenshot.c_str());
    return 1;
  }
  if (!glfwInit()) {
    std::fprintf(stderr, "vornik-viewer: no display (GLFW could not start)\n");
    return 1;
  }
  glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 2);
  glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 1);
  GLFWwindow* window =
      glfwCreateWindow(options.width, options.height, "Vornik viewer", nullptr, nullptr);
  if (window == nullptr) {
    std::fprintf(stderr, "vornik-viewer: no OpenGL window could be created\n");
    glfwTerminate();
    return 1;
  }
  glfwMakeContextCurrent(window);
  glfwSwapInterval(1);

  if (!options.assets.empty()) {
    vornik::setAppDataDirPath(options.appData);
    vornik::setArdbAssetDirPath(options.assets);
    for (const auto& group : options.groups) vornik::addTrackableGroup(group);
  }
  if (!options.source.empty()) vornik::setCameraSource(options.source);
  vornik::setScreenOrientationModePortrait(options.portrait);
  vornik::startCamera(640, 480);
  if (!options.assets.empty()) vornik::startTracker();
  vornik::initRendering();

  const auto started = std::chrono::steady_clock::now();
  auto clockStart = started;
  int surfaceWidth = 0;
  int surfaceHeight = 0;
  bool sawFrame = false;
  bool sawPose = false;
  int status = 0;
  while (!glfwWindowShouldClose(window)) {
    int w = 0;
    int h = 0;
    glfwGetFramebufferSize(window, &w, &h);
    if (w != surfaceWidth || h != surfaceHeight) {
      surfaceWidth = w;
      surfaceHeight = h;
      vornik::updateRendering(w, h);
    }
    glViewport(0, 0, w, h);
    glClearColor(0.1f, 0.1f, 0.1f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    vornik::renderVideoBackground();
    int preview[2] = {0, 0};
    getCameraPreviewSize(preview);
    sawFrame = sawFrame || preview[0] > 0;

    const vornik::Matrix44F& projection = vornik::getProjectionMatrix();
    vornik::ITrackingResult& result = vornik::getTrackingResult();
    if (result.getCount() > 0) {
      sawPose = true;
      vornik::ITrackable& target = result.getTrackable(0);
      glMatrixMode(GL_PROJECTION);
      glLoadMatrixf(projection.data);
      glMatrixMode(GL_MODELVIEW);
      glLoadMatrixf(target.getPose());
      glDisable(GL_TEXTURE_2D);
      glDisable(GL_DEPTH_TEST);
      drawTargetOverlay(target.getWidth(), target.getHeight());
    }

    // With --require-frames or --require-pose the screenshot delay counts
    // from the first frame or pose, so that a slow start does not fail.
    const auto now = std::chrono::steady_clock::now();
    const bool waiting = (options.requireFrames && !sawFrame) || (options.requirePose && !sawPose);
    if (waiting) clockStart = now;
    const double sinceStart = std::chrono::duration<double>(now - started).count();
    const double elapsed = std::chrono::duration<double>(now - clockStart).count();
    const bool gaveUp = waiting && sinceStart >= kStartLimitSeconds;
    if (!options.screenshot.empty() && (gaveUp || (!waiting && elapsed >= options.afterSeconds))) {
      glFinish();
      if (!savePng(options.screenshot, w, h)) status = 1;
      if (options.requireFrames && !sawFrame) {
        std::fprintf(stderr, "vornik-viewer: no camera frame arrived in %.1f s\n", sinceStart);
        status = 2;
      } else if (options.requirePose && !sawPose) {
        std::fprintf(stderr, "vornik-viewer: no target tracked in %.1f s\n", sinceStart);
        status = 3;
      }
      break;
    }
    glfwSwapBuffers(window);
    glfwPollEvents();
    if (glfwGetKey(window, GLFW_KEY_ESCAPE) == GLFW_PRESS) break;
  }

  vornik::stopTracker();
  vornik::stopCamera();
  glfwDestroyWindow(window);
  glfwTerminate();
  return status;
}
