// The vornik-synth program end to end: what it writes is read back with the
// toolkit, and bad input fails with one line.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/ground_truth.h"
#include "common/pose_sequence.h"
#include "common/synthetic_view.h"
#include "common/test_programs.h"

namespace vornik {
namespace {

const std::string kTarget = std::string(VORNIK_DATA_DIR) + "/sample_target.jpg";

ProgramRun runTool(const std::string& arguments) {
  // Named per test: the test cases may run in parallel processes.
  return runProgram(VORNIK_SYNTH_PATH, arguments,
                    std::string(VORNIK_BINARY_DIR) + "/toolkit_synth_" +
                        testing::UnitTest::GetInstance()->current_test_info()->name());
}

std::string freshDir(const std::string& name) {
  const std::string dir = std::string(VORNIK_BINARY_DIR) + "/toolkit_synth_" + name;
  std::filesystem::remove_all(dir);
  return dir;
}

std::vector<GroundTruthRow> readRows(const std::string& dir) {
  std::vector<GroundTruthRow> rows;
  std::string error;
  EXPECT_TRUE(readGroundTruth(dir + "/ground_truth.csv", &rows, &error)) << error;
  return rows;
}

TEST(SynthCommand, BadInputGivesOneLineAndFailure) {
  const std::string dir = freshDir("bad");
  const std::string target = "--target " + kTarget;
  const std::string inputs[][2] = {
      {"--view --out " + dir, "--target"},
      {target + " --view", "--out"},
      {target + " --out " + dir, "--view"},
      {"--target /no/such.jpg --view --out " + dir, "/no/such.jpg"},
      {"--target " + std::string(VORNIK_DATA_DIR) + "/README --view --out " + dir, "README"},
      {target + " --view --size 640x --out " + dir, "--size"},
      {target + " --view --jpeg-quality 0 --out " + dir, "--jpeg-quality"},
      {target + " --sequence spin --out " + dir, "--sequence"},
      {target + " --view --noise -1 --out " + dir, "--noise"},
      {target + " --view --tilt 95 --out " + dir, "--tilt"},
      {target + " --view --clutter --background " + kTarget + " --out " + dir, "--clutter"},
      {target + " --view --bogus --out " + dir, "--bogus"},
      {target + " --view --out", "--out"},
  };
  for (const auto& [arguments, named] : inputs) {
    const ProgramRun run = runTool(arguments);
    EXPECT_NE(run.status, 0) << arguments;
    EXPECT_EQ(run.err.rfind("vornik-synth: error: ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/ground_truth.csv"));
}

TEST(SynthCommand, ViewWritesTheRenderedFrameAndItsTruth) {
  const std::string dir = freshDir("view");
  const ProgramRun run = runTool("--target " + kTarget + " --out " + dir +
                                 " --view --tilt 30 --tilt-direction 45 --rotation 10 --width 0.6"
                                 " --offset 0.05,-0.1 --size 200x150 --png --contrast 1.2");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<GroundTruthRow> rows = readRows(dir);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].fileName, "frame_00000.png");

  Image target, frame;
  std::string error;
  ASSERT_TRUE(readImage(kTarget, &target, &error));
  ViewOptions options;
  options.camera = CameraModel{200, 150};
  options.contrast = 1.2;
  RenderedView expected;
  ASSERT_TRUE(renderView(target,
                         poseFromView(ViewParams{30, 45, 10, 0.6, 0.05, -0.1}, options.camera),
                         options, &expected, &error));
  // The truth survives the text file exactly; PNG frames are lossless.
  EXPECT_EQ(rows[0].truth.cameraFromTarget, expected.truth.cameraFromTarget);
  EXPECT_EQ(rows[0].truth.corners, expected.truth.corners);
  ASSERT_TRUE(readImage(dir + "/frame_00000.png", &frame, &error)) << error;
  EXPECT_EQ(frame.pixels, expected.frame.pixels);
}

TEST(SynthCommand, SequencesAndRandomViewsWriteEveryFrame) {
  const std::string dir = freshDir("sequence");
  const ProgramRun run =
      runTool("--target " + kTarget + " --out " + dir +
              " --sequence reenter --frames 12 --size 160x120 --clutter --noise 2");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<GroundTruthRow> rows = readRows(dir);
  ASSERT_EQ(rows.size(), 12u);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(rows[i].frameIndex, i);
    EXPECT_TRUE(std::filesystem::exists(dir + "/" + rows[i].fileName));
    EXPECT_EQ(rows[i].truth.cameraFromTarget,
              poseFromView(sequenceView(SequenceKind::kReenter, i, 12), CameraModel{160, 120}));
  }
  // The target leaves the frame and comes back.
  EXPECT_TRUE(rows[0].truth.fullyInView);
  EXPECT_FALSE(rows[6].truth.fullyInView);
  EXPECT_TRUE(rows[11].truth.fullyInView);

  const std::string randomDir = freshDir("random");
  ASSERT_EQ(runTool("--target " + kTarget + " --out " + randomDir +
                    " --random 5 --seed 9 --size 160x120 --jpeg-quality 80")
                .status,
            0);
  const std::vector<GroundTruthRow> views = readRows(randomDir);
  ASSERT_EQ(views.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(views[i].fileName, "frame_0000" + std::to_string(i) + ".jpg");
    EXPECT_TRUE(std::filesystem::exists(randomDir + "/" + views[i].fileName));
  }
  EXPECT_NE(views[0].truth.cameraFromTarget, views[1].truth.cameraFromTarget);
}

}  // namespace
}  // namespace vornik
