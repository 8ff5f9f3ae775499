// lumet-cli video --split-every: a long video as range jobs of lumet-cli batch and their join.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "imageio/image_file.h"
#include "imageio/video_file.h"
#include "synth/drifting_clip.h"
#include "support/test_images.h"

namespace lumet {
namespace {

using namespace lumet::testing;  // NOLINT(google-build-using-namespace): the test helpers
namespace fs = std::filesystem;

constexpr int kFrames = 7;
// A small window: classic, radius 1, 2x of a 32 x 24 region of 64 x 48 frames.
const std::string kInput = "./images/lr-%d.bmp";
const std::string kOptions = " --radius 1 --scale 2 --roi 16,12,32,24 --method classic";

void WriteFrames(const fs::path& dir) {
  DriftingClipOptions o;
  o.width = 64;
  o.height = 48;
  o.frames = kFrames;
  o.scale = 2;
  o.roi = RoiRect{16, 12, 48, 36};
  static const DriftingClip clip = MakeDriftingClip(o);
  for (int k = 0; k < kFrames; ++k) {
    WriteImageFile((dir / ("images/lr-" + std::to_string(k) + ".bmp")).string(), clip.frames[static_cast<size_t>(k)],
                   ImageFormat::Bmp);
  }
}

using testing::SamePixels;

struct Decoded {
  std::vector<ColorGrayImage> frames;
  std::vector<int64_t> pts;
};

Decoded Decode(const fs::path& path) {
  VideoFile video(path.string());
  Decoded decoded;
  for (ColorGrayImage frame; video.ReadNext(&frame);) {
    decoded.frames.push_back(frame);
    decoded.pts.push_back(video.Pts());
  }
  return decoded;
}

// The manifest's job lines (not its comments), with their 1-based line numbers.
std::vector<std::pair<int, std::string>> JobLines(const std::string& manifest) {
  std::vector<std::pair<int, std::string>> jobs;
  int number = 0;
  for (const std::string& line : Lines(manifest)) {
    ++number;
    if (!line.empty() && line[0] != '#') jobs.emplace_back(number, line);
  }
  return jobs;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The range jobs of a split, run by batch two at a time, then its join, make the video one
// uninterrupted run makes, from parts byte-identical to that run's frames; a frame-pattern
// output is split into range jobs with nothing to join. Run again, the batch changes nothing.
TEST(VideoSplit, RangeJobsRunByBatchAndTheirJoinMakeTheOutputOfOneRun) {
  TempFolder dir;
  const fs::path root = dir.Path();
  WriteFrames(root);
  ASSERT_EQ(RunCli("video " + kInput + " one.mkv --fps 10" + kOptions, root).exitCode, 0);
  ASSERT_EQ(RunCli("video " + kInput + " one/sr-%d.png" + kOptions, root).exitCode, 0);

  const CliResult split = RunCli("video " + kInput + " split.mkv --fps 10 --keep-parts --split-every 3" + kOptions, root);
  ASSERT_EQ(split.exitCode, 0) << split.err;
  EXPECT_NE(split.err.find("3 range jobs of at most 3 frames and their join"), std::string::npos) << split.err;
  EXPECT_FALSE(fs::exists(root / "split.mkv.parts")) << "the split only prints its jobs";
  const std::vector<std::pair<int, std::string>> jobs = JobLines(split.out);
  ASSERT_EQ(jobs.size(), 4u) << split.out;
  const std::string jobsFolder = (fs::canonical(root) / "split.mkv.jobs").string();
  const std::string command = " video " + (fs::canonical(root) / "images/lr-%d.bmp").string() + " " +
                              (fs::canonical(root) / "split.mkv").string() + " ";
  const char* const ranges[] = {"0-2", "3-5", "6-6"};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(jobs[i].second);
    const std::string range = ranges[i];
    EXPECT_EQ(jobs[i].second.rfind(jobsFolder + "/frames-" + range + command, 0), 0u);
    EXPECT_TRUE(EndsWith(jobs[i].second, " --first " + range.substr(0, 1) + " --last " + range.substr(2) +
                                             " --parts-only"));
    for (const char* option : {" --fps 10", " --keep-parts", " --radius 1", " --roi 16,12,32,24"}) {
      EXPECT_NE(jobs[i].second.find(option), std::string::npos) << option;
    }
  }
  EXPECT_EQ(jobs[3].second.rfind(jobsFolder + "/join" + command, 0), 0u) << jobs[3].second;
  EXPECT_TRUE(EndsWith(jobs[3].second, " --first 0 --last 6")) << jobs[3].second;
  WriteText(root / "split.txt", split.out);

  const CliResult batch = RunCli("batch split.txt --jobs 2 --threads 1", root);
  ASSERT_EQ(batch.exitCode, 0) << batch.out << batch.err;
  const std::vector<std::string> report = Lines(batch.out);
  ASSERT_EQ(report.size(), 4u) << batch.out;
  EXPECT_EQ(report.back().rfind("line " + std::to_string(jobs[3].first) + " " + jobsFolder + "/join: done", 0), 0u)
      << batch.out;
  const Decoded one = Decode(root / "one.mkv");
  const Decoded joined = Decode(root / "split.mkv");
  ASSERT_EQ(one.frames.size(), static_cast<size_t>(kFrames));
  ASSERT_EQ(joined.frames.size(), one.frames.size());
  EXPECT_EQ(joined.pts, one.pts);
  for (int k = 0; k < kFrames; ++k) {
    SCOPED_TRACE("output frame " + std::to_string(k));
    EXPECT_TRUE(SamePixels(joined.frames[static_cast<size_t>(k)], one.frames[static_cast<size_t>(k)]));
    EXPECT_TRUE(ReadText(root / ("split.mkv.parts/frame-" + std::to_string(k) + ".png")) ==
                ReadText(root / ("one/sr-" + std::to_string(k) + ".png")));
  }
  EXPECT_TRUE(fs::exists(root / "split.mkv.jobs/frames-3-5/lumet-run.log"));

  // Everything made: the range jobs keep the video, and it stays as it was.
  const std::string video = ReadText(root / "split.mkv");
  const CliResult again = RunCli("batch split.txt --jobs 2 --threads 1", root);
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_TRUE(ReadText(root / "split.mkv") == video);
  EXPECT_NE(ReadText(root / "split.mkv.jobs/join/lumet-run.log").find("is there already and is kept"),
            std::string::npos);

  // Frame-pattern output: each range job writes its frames; no parts, no join.
  const CliResult frames = RunCli("video " + kInput + " fp/sr-%d.png --split-every 4" + kOptions, root);
  ASSERT_EQ(frames.exitCode, 0) << frames.err;
  const std::vector<std::pair<int, std::string>> frameJobs = JobLines(frames.out);
  ASSERT_EQ(frameJobs.size(), 2u) << frames.out;
  EXPECT_TRUE(EndsWith(frameJobs[0].second, " --first 0 --last 3")) << frameJobs[0].second;
  EXPECT_TRUE(EndsWith(frameJobs[1].second, " --first 4 --last 6")) << frameJobs[1].second;
  WriteText(root / "frames.txt", frames.out);
  const CliResult frameBatch = RunCli("batch frames.txt --jobs 2 --threads 1", root);
  ASSERT_EQ(frameBatch.exitCode, 0) << frameBatch.out << frameBatch.err;
  for (int k = 0; k < kFrames; ++k) {
    SCOPED_TRACE("output frame " + std::to_string(k));
    const std::string name = "sr-" + std::to_string(k) + ".png";
    EXPECT_TRUE(ReadText(root / "fp" / name) == ReadText(root / "one" / name));
  }
}

// GNU parallel's list holds the range jobs only, and the join is named after it; the Slurm
// script submits the joins as tasks of an array that waits for every range task.
TEST(VideoSplit, ParallelAndSlurmRunTheJoinAfterTheRangeJobs) {
  TempFolder dir;
  const fs::path root = dir.Path();
  WriteFrames(root);
  const CliResult split = RunCli("video " + kInput + " sr.mkv --fps 10 --split-every 2" + kOptions, root);
  ASSERT_EQ(split.exitCode, 0) << split.err;
  WriteText(root / "split.txt", split.out);
  const std::vector<std::pair<int, std::string>> jobs = JobLines(split.out);
  ASSERT_EQ(jobs.size(), 5u) << split.out;  // frames 0-1, 2-3, 4-5, 6-6 and the join
  const std::string manifest = (fs::canonical(root) / "split.txt").string();
  const auto jobCommand = [&](int line, const std::string& threads) {
    return std::string(LUMET_CLI_PATH) + " batch " + manifest + " --job " + std::to_string(line) + " --threads " +
           threads;
  };

  const CliResult parallel = RunCli("batch split.txt --emit parallel --threads 3", root);
  ASSERT_EQ(parallel.exitCode, 0) << parallel.err;
  const std::vector<std::string> list = Lines(parallel.out);
  ASSERT_EQ(list.size(), 4u) << parallel.out;
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(list[i], jobCommand(jobs[i].first, "3"));
  EXPECT_NE(parallel.err.find("Once every job of the list has succeeded"), std::string::npos) << parallel.err;
  EXPECT_NE(parallel.err.find("\n  " + jobCommand(jobs[4].first, "3") + "\n"), std::string::npos) << parallel.err;

  // Run as the note says: the list, then the join.
  if (std::system("parallel --version > /dev/null 2>&1") == 0) {
    WriteText(root / "jobs.list", parallel.out);
    const CliResult ran = RunProgram("parallel", "--jobs 2 < jobs.list && " + jobCommand(jobs[4].first, "1"), root);
    ASSERT_EQ(ran.exitCode, 0) << ran.out << ran.err;
    const std::vector<std::string> summary = Lines(ran.out);  // one JSON line a job, the join's last
    ASSERT_EQ(summary.size(), 5u) << ran.out;
    for (const std::string& line : summary) EXPECT_NE(line.find("\"outcome\":\"done\""), std::string::npos) << line;
    EXPECT_EQ(summary.back().rfind("{\"line\":" + std::to_string(jobs[4].first) + ",", 0), 0u) << summary.back();
    EXPECT_EQ(Decode(root / "sr.mkv").frames.size(), static_cast<size_t>(kFrames));
    EXPECT_FALSE(fs::exists(root / "sr.mkv.parts"));
  }

  const CliResult slurm = RunCli("batch split.txt --emit slurm --array-max 3", root);
  ASSERT_EQ(slurm.exitCode, 0) << slurm.err;
  const std::string& script = slurm.out;
  WriteText(root / "split.sh", script);
  EXPECT_EQ(std::system(("bash -n '" + (root / "split.sh").string() + "'").c_str()), 0) << script;
  EXPECT_EQ(script.find("#SBATCH --array"), std::string::npos) << "submitted with bash, which adds the joins";
  EXPECT_NE(script.find("# Submit with: bash THIS-SCRIPT, which submits 2 arrays of at most 3 tasks and the joins"),
            std::string::npos)
      << script;
  for (size_t task = 0; task < 5; ++task) {
    const std::string line = "  " + std::to_string(task) + ") line=" + std::to_string(jobs[task].first) + " ;;";
    EXPECT_NE(script.find("\n" + line), std::string::npos) << line << "\n" << script;
  }
  // Stand-ins: sbatch notes what it is asked and answers an array's id as --parsable does.
  WriteText(root / "bin/sbatch",
            "#!/bin/bash\necho \"$*\" >> \"$SBATCH_LOG\"\nn=$(wc -l < \"$SBATCH_LOG\")\n"
            "case \" $* \" in *' --parsable '*) echo \"$((100 + n));cluster\" ;; esac\n");
  fs::permissions(root / "bin/sbatch", fs::perms::owner_all);
  const CliResult submitted =
      RunProgram("env", "PATH=\"$PWD/bin:$PATH\" SBATCH_LOG=\"$PWD/sbatch.log\" bash split.sh", root);
  ASSERT_EQ(submitted.exitCode, 0) << submitted.err;
  const std::string script0 = "split.sh";  // as bash was given it
  EXPECT_EQ(Lines(ReadText(root / "sbatch.log")),
            (std::vector<std::string>{"--parsable --array=0-2 --export=ALL,LUMET_TASK_OFFSET=0 " + script0,
                                      "--parsable --array=0-0 --export=ALL,LUMET_TASK_OFFSET=3 " + script0,
                                      "--dependency=afterok:101:102 --array=0-0 --export=ALL,LUMET_TASK_OFFSET=4 " +
                                          script0}));
}

// A video line that is not FOLDER video INPUT OUTPUT [VIDEO OPTIONS] is refused naming its
// line before any job runs; a join whose range job failed is not run; a split that cannot
// run prints no manifest.
TEST(VideoSplit, BadLinesAndFailedRangesAreNamed) {
  TempFolder dir;
  const fs::path root = dir.Path();
  WriteFrames(root);
  const std::string good = "a video " + kInput + " sr.mkv --fps 10" + kOptions + " --first 0 --last 1 --parts-only\n";
  for (const auto& [line, what] :
       {std::pair<std::string, std::string>{"b video " + kInput, "OUTPUT is missing"},
        {"b video --scale 2 " + kInput + " sr.mkv", "INPUT is \"--scale\""},
        {"b video " + kInput + " sr.mkv --scale two", "jobs.txt line 2: "},
        {"b video " + kInput + " sr.mkv --bogus", "jobs.txt line 2: "},
        {"b video " + kInput + " sr.mkv --split-every 3", "jobs.txt line 2: --split-every has no place"}}) {
    SCOPED_TRACE(line);
    WriteText(root / "jobs.txt", good + line + "\n");
    const CliResult r = RunCli("batch jobs.txt", root);
    ExpectError(r, what);
    EXPECT_NE(r.err.find("jobs.txt line 2"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(root / "a")) << "a job ran before the manifest was checked";
  }
  // The old run lines are as they were: a run line's options are still run's.
  WriteText(root / "jobs.txt", "a --scale two\n");
  ExpectError(RunCli("batch jobs.txt", root), "jobs.txt line 1");

  // A range job's folder cannot be made (a file is in its way): its join does not run.
  WriteText(root / "blocked", "a file");
  WriteText(root / "jobs.txt", "blocked video " + kInput + " ../sr.mkv --fps 10" + kOptions +
                                   " --first 0 --last 0 --parts-only\njoin video " + kInput + " ../sr.mkv --fps 10" +
                                   kOptions + " --first 0 --last 0\n");
  const CliResult failed = RunCli("batch jobs.txt", root);
  EXPECT_EQ(failed.exitCode, 1) << failed.out;
  EXPECT_NE(failed.err.find("cannot create the folder " + (root / "blocked").string()), std::string::npos)
      << failed.err;
  EXPECT_NE(failed.err.find("line 2 " + (root / "join").string() + ": not joined: its range job of line 1 did not"),
            std::string::npos)
      << failed.err;
  EXPECT_FALSE(fs::exists(root / "join"));
  EXPECT_FALSE(fs::exists(root / "sr.mkv"));
  EXPECT_EQ(ReadText(root / "blocked"), "a file");

  const std::string video = "video " + kInput + " out.mkv" + kOptions;
  const CliResult both = RunCli(video + " --split-every 3 --parts-only", root);
  EXPECT_EQ(both.exitCode, 2);
  EXPECT_NE(both.err.find("--split-every"), std::string::npos) << both.err;
  const CliResult zero = RunCli(video + " --split-every 0", root);
  EXPECT_EQ(zero.exitCode, 2);
  EXPECT_NE(zero.err.find("--split-every"), std::string::npos) << zero.err;
  const CliResult beyond = RunCli(video + " --split-every 3 --first 9", root);
  ExpectError(beyond, "--first 9 is past the input's last frame 6 (7 frames, 0 .. 6)");
  EXPECT_EQ(beyond.out, "");
  ExpectError(RunCli(video + " --last 7", root), "--last 7 is past the input's last frame 6 (7 frames, 0 .. 6)");
  ExpectError(RunCli(video + " --first 4 --last 2", root), "--first 4 comes after --last 2");
  ExpectError(RunCli("video " + kInput + " ./sr/sr.bmp --split-every 3", root), "output pattern");
  EXPECT_FALSE(fs::exists(root / "out.mkv.parts"));
  EXPECT_FALSE(fs::exists(root / "out.mkv.jobs"));
}

}  // namespace
}  // namespace lumet
