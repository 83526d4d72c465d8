// vornik-play on a video file, read through the capture plug-in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "builder/database_builder.h"
#include "common/image_io.h"
#include "common/synthetic_view.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

TEST(VornikPlayVideoTest, EveryFrameOfAVideoIsPlayedInOrder) {
  const std::string dir =
      fs::temp_directory_path().string() + "/vornik_play_video_" + std::to_string(getpid());
  fs::create_directories(dir);
  TargetSpec spec;
  spec.imagePath = std::string(VORNIK_DATA_DIR) + "/sample_target.jpg";
  spec.targetName = "astro";
  BuildOptions options;
  options.trainingViews = 0;
  std::vector<BuiltTarget> built;
  std::string error;
  ASSERT_TRUE(buildDatabase({spec}, options, dir + "/astro.db", nullptr, &built, &error)) << error;

  Image target;
  ASSERT_TRUE(readImage(spec.imagePath, &target, &error)) << error;
  const Image clutter = makeClutter(640, 480, 9);
  ViewOptions view;
  view.background = &clutter;
  ViewParams params;
  params.tiltDeg = 15;
  params.widthFraction = 0.6;
  RenderedView rendered;
  ASSERT_TRUE(renderView(target, poseFromView(params, view.camera), view, &rendered, &error));
  const std::string video = dir + "/clip.avi";
  constexpr int kFrames = 6;
  {
    cv::VideoWriter writer(video, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30,
                           cv::Size(640, 480));
    ASSERT_TRUE(writer.isOpened());
    cv::Mat frame(480, 640, CV_8UC3, rendered.frame.pixels.data());
    for (int i = 0; i < kFrames; ++i) writer.write(frame);
  }

  const std::string out = dir + "/out.txt";
  const std::string command = std::string("\"") + VORNIK_PLAY_PATH + "\" --group " + dir +
                              "/astro.db " + video + " >" + out + " 2>" + dir + "/err.txt";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(out);
  std::vector<std::string> states;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#' || line.rfind("frame,", 0) == 0) continue;
    std::stringstream fields(line);
    std::string index, name, state;
    std::getline(fields, index, ',');
    std::getline(fields, name, ',');
    std::getline(fields, state, ',');
    EXPECT_EQ(index, std::to_string(states.size()));
    EXPECT_EQ(name, index);
    states.push_back(state);
  }
  const std::vector<std::string> expected = {"recognised", "acquired", "tracked",
                                             "tracked",    "tracked",  "tracked"};
  EXPECT_EQ(states, expected);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace vornik
