#include "workbench/batch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/expect_error.h"
#include "support/temp_folder.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;
using testing::ReadText;
using testing::TempFolder;
using testing::WriteText;

TEST(BatchManifestTest, WordsAreSplitOnBlanksWithShellLikeQuotes) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"a", {"a"}},
      {"  dir\t--scale 2  ", {"dir", "--scale", "2"}},
      {"'two words' --lr-pattern \"f %d.bmp\"", {"two words", "--lr-pattern", "f %d.bmp"}},
      {"x\"a\\\"b\"y 'it''s'", {"xa\"by", "its"}},  // quotes join with the word around them
      {"'' next", {"", "next"}},                   // an empty quoted word is a word
      {"crlf\r", {"crlf"}}};
  for (const auto& [line, words] : cases) {
    SCOPED_TRACE(line);
    std::string problem;
    EXPECT_EQ(SplitManifestWords(line, problem), words);
    EXPECT_EQ(problem, "");
  }
  for (const char* open : {"dir 'open", "dir \"open"}) {
    std::string problem;
    SplitManifestWords(open, problem);
    EXPECT_NE(problem.find("is not closed"), std::string::npos) << open;
  }
}

TEST(BatchManifestTest, FoldersAreTakenFromTheManifestsFolderAndRefusedTwice) {
  TempFolder tmp;
  const std::string manifest = tmp.File("sub/jobs.txt");
  WriteText(manifest, "# cameras\n\nstreet-1\n  ../street-2 --scale 2 --method enhanced\n/abs/x/ --lr-count 3\n");
  const std::vector<BatchJob> jobs = ReadBatchManifest(manifest);
  ASSERT_EQ(jobs.size(), 3u);
  EXPECT_EQ(jobs[0].folder, (tmp.Path() / "sub/street-1").string());
  EXPECT_EQ(jobs[0].line, 3);
  EXPECT_TRUE(jobs[0].args.empty());
  EXPECT_EQ(jobs[1].folder, (tmp.Path() / "street-2").string());
  EXPECT_EQ(jobs[1].args, (std::vector<std::string>{"--scale", "2", "--method", "enhanced"}));
  EXPECT_EQ(jobs[2].folder, "/abs/x");
  EXPECT_EQ(jobs[2].line, 5);

  WriteText(manifest, "a\nb\n./a --scale 3\n");
  testing::ExpectError([&] { ReadBatchManifest(manifest); }, {"jobs.txt line 3", "folder of line 1"});
  WriteText(manifest, "a 'open\n");
  testing::ExpectError([&] { ReadBatchManifest(manifest); }, {"jobs.txt line 1", "not closed"});
  WriteText(manifest, "# nothing\n\n");
  testing::ExpectError([&] { ReadBatchManifest(manifest); }, {"jobs.txt names no job"});
  testing::ExpectError([&] { ReadBatchManifest(tmp.File("none.txt")); }, {"none.txt"});
}

// A video line's INPUT and OUTPUT come first; a video line without --parts-only is the join
// of the --parts-only lines naming the same OUTPUT from wherever their folders are.
TEST(BatchManifestTest, VideoLinesAndTheJoinsOfTheirRanges) {
  TempFolder tmp;
  const std::string manifest = tmp.File("jobs.txt");
  WriteText(manifest,
            "jobs/0-9 video /in/clip.mkv ../../sr.mkv --scale 2 --first 0 --last 9 --parts-only\n"
            "street --scale 2\n"
            "jobs/10-19 video /in/clip.mkv ../10-19/../../sr.mkv --first 10 --last 19 --parts-only\n"
            "jobs/other video /in/clip.mkv /out/other.mkv --parts-only\n"
            ". video /in/clip.mkv sr.mkv --scale 2\n"
            "jobs/alone video /in/clip.mkv /out/alone.mkv\n");
  const std::vector<BatchJob> jobs = ReadBatchManifest(manifest);
  ASSERT_EQ(jobs.size(), 6u);
  EXPECT_TRUE(jobs[0].video);
  EXPECT_EQ(jobs[0].args.front(), "/in/clip.mkv");
  EXPECT_EQ(std::string(JobCommand(jobs[0])), "video");
  EXPECT_FALSE(jobs[1].video);
  EXPECT_EQ(std::string(JobCommand(jobs[1])), "run");
  EXPECT_EQ(jobs[1].args, (std::vector<std::string>{"--scale", "2"}));
  EXPECT_EQ(jobs[4].after, (std::vector<int>{1, 3}));
  for (const size_t i : {0, 1, 2, 3, 5}) EXPECT_TRUE(jobs[i].after.empty()) << "line " << jobs[i].line;

  for (const auto& [line, what] : {std::pair{"x video in.mkv", "OUTPUT is missing"},
                                   {"x video", "INPUT is missing"},
                                   {"x video -q in.mkv out.mkv", "INPUT is \"-q\""},
                                   {"x video in.mkv --first 3", "OUTPUT is \"--first\""}}) {
    SCOPED_TRACE(line);
    WriteText(manifest, std::string("# video\n") + line + "\n");
    testing::ExpectError([&] { ReadBatchManifest(manifest); },
                         {"jobs.txt line 2", "a video line is FOLDER video INPUT OUTPUT [VIDEO OPTIONS]", what});
  }
}

TEST(BatchManifestTest, ManifestWordsAreReadBackAsWritten) {
  for (const std::string word : {"plain/path-%d.bmp", "two words", "it's", "a \"quote\" and \\", "", "$HOME;x"}) {
    SCOPED_TRACE(word);
    std::string problem;
    EXPECT_EQ(SplitManifestWords("dir " + ManifestWord(word), problem), (std::vector<std::string>{"dir", word}));
    EXPECT_EQ(problem, "");
  }
  EXPECT_EQ(ManifestWord("/data/sr.mkv"), "/data/sr.mkv");
}

TEST(BatchManifestTest, ShellQuotingSurvivesTheShellAndJsonEscapesControlCharacters) {
  TempFolder tmp;
  for (const std::string word : {"plain-1.5/x_%d.bmp", "two words", "it's", "$HOME `x` \"q\"", "", "a\\b*"}) {
    SCOPED_TRACE(word);
    const std::string command = "printf '%s' " + ShellQuote(word) + " > '" + tmp.File("out") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadText(tmp.Path() / "out"), word);
  }
  EXPECT_EQ(ShellQuote("--scale"), "--scale");
  EXPECT_EQ(JsonString("a\"b\\c\n\t\x01 é"), "\"a\\\"b\\\\c\\n\\t\\u0001 é\"");
  // A Latin-1 folder name: its byte that is no UTF-8 becomes U+FFFD, and the line stays JSON.
  EXPECT_EQ(JsonString("caf\xe9"), "\"caf\xEF\xBF\xBD\"");
}

class StampTest : public ::testing::Test {
 protected:
  void SetUp() override {
    job_.folder = tmp_.Path().string();
    job_.args = {"--scale", "2"};
    for (const char* name : {"images/lr-0.bmp", "images/lr-1.bmp"}) Write(name, -100);
    for (const char* name : {"param.txt", "result/hr.bmp"}) Write(name, -50);
    record_.read = {"./images/lr-0.bmp", "./images/lr-1.bmp"};
    record_.written = {"./param.txt", "./result/hr.bmp"};
    WriteText(tmp_.Path() / kBatchStampName, FormatBatchStamp(job_.args, record_));
    Age(kBatchStampName, -10);
  }
  void Write(const std::string& name, int ageSeconds) {
    WriteText(tmp_.Path() / name, name);
    Age(name, ageSeconds);
  }
  void Age(const std::string& name, int seconds) {
    fs::last_write_time(tmp_.Path() / name, fs::file_time_type::clock::now() + std::chrono::seconds(seconds));
  }
  std::string Why() {
    RunRecord record;
    std::string why;
    if (JobIsUpToDate(job_, record, why)) {
      EXPECT_EQ(record.read, record_.read);
      EXPECT_EQ(record.written, record_.written);
      return "up to date";
    }
    return why;
  }

  TempFolder tmp_;
  BatchJob job_;
  RunRecord record_;
};

TEST_F(StampTest, AJobIsUpToDateOnlyWhenItsResultsAreCompleteAndNewerThanItsInputs) {
  EXPECT_EQ(ParseRunRecord(FormatRunRecord(record_)).written, record_.written);
  EXPECT_EQ(Why(), "up to date");
  job_.args = {"--scale", "3"};
  EXPECT_EQ(Why(), "the options changed");
  job_.args = {"--scale", "2"};
  Age("images/lr-1.bmp", -20);  // a frame replaced after the run
  EXPECT_EQ(Why(), "an input is newer than the results");
  Age("images/lr-1.bmp", -100);
  Age("param.txt", 0);  // parameters edited by hand after the run
  EXPECT_EQ(Why(), "./param.txt changed after the run");
  Age("param.txt", -50);
  EXPECT_EQ(Why(), "up to date");
  fs::remove(tmp_.Path() / "result/hr.bmp");
  EXPECT_EQ(Why(), "./result/hr.bmp is missing");
  fs::remove(tmp_.Path() / kBatchStampName);
  EXPECT_EQ(Why(), "no finished run");
}

TEST(BatchSummaryTest, OneJsonLinePerJobAndScriptsForParallelAndSlurm) {
  BatchJob job{7, "/data/street 1", {"--scale", "2"}};
  JobOutcome outcome{"failed", 1, 1.8e9, 2.5, "frame 3 ./images/lr-3.bmp is not a BMP file", {{}, {"./result/hr.bmp"}}};
  EXPECT_EQ(FormatSummaryLine(job, outcome),
            "{\"line\":7,\"folder\":\"/data/street 1\",\"outcome\":\"failed\",\"exit\":1,"
            "\"started\":\"2027-01-15T08:00:00Z\",\"finished\":\"2027-01-15T08:00:02Z\",\"seconds\":2.5,"
            "\"log\":\"/data/street 1/lumet-run.log\",\"error\":\"frame 3 ./images/lr-3.bmp is not a BMP file\","
            "\"files\":[\"/data/street 1/result/hr.bmp\"]}");
  const std::vector<BatchJob> jobs = {job, {9, "/data/b", {"--threads", "4"}}};
  EXPECT_EQ(EmitParallelJobs("/opt/lumet/bin/lumet-cli", "/data/jobs list.txt", jobs, 2),
            "/opt/lumet/bin/lumet-cli batch '/data/jobs list.txt' --job 7 --threads 2\n"
            "/opt/lumet/bin/lumet-cli batch '/data/jobs list.txt' --job 9 --threads 2\n");
  const SlurmSettings slurm{.cpusPerTask = 4, .memory = "8G", .time = "02:00:00", .arrayMax = 1000,
                            .summary = "/data/jobs.txt.summary.jsonl"};
  const std::string script = EmitSlurmScript("/opt/lumet/bin/lumet-cli", "/data/jobs.txt", jobs, slurm);
  for (const char* part : {"#SBATCH --array=0-1\n", "#SBATCH --cpus-per-task=4\n", "#SBATCH --mem=8G\n",
                           "#SBATCH --time=02:00:00\n", "#SBATCH --output=/data/lumet-%A_%a.log\n",
                           "  sbatch --array=0-1 --export=ALL,LUMET_TASK_OFFSET=0 \"$0\"\n",
                           "  0) line=7 ;;  # '/data/street 1'\n", "  1) line=9 ;;  # /data/b\n",
                           "exec srun /opt/lumet/bin/lumet-cli batch /data/jobs.txt --job \"$line\" --summary "
                           "/data/jobs.txt.summary.jsonl --threads \"${SLURM_CPUS_PER_TASK:-0}\"\n"}) {
    EXPECT_NE(script.find(part), std::string::npos) << part << "\n" << script;
  }
  // Five jobs on a site that allows two tasks an array: three arrays, the script submits them.
  const std::vector<BatchJob> five(5, job);
  const std::string split = EmitSlurmScript("lumet-cli", "/data/jobs.txt", five, {.arrayMax = 2, .summary = "s"});
  EXPECT_EQ(split.find("#SBATCH --array"), std::string::npos);
  for (const char* part : {"--array=0-1 --export=ALL,LUMET_TASK_OFFSET=0 ", "--array=0-1 --export=ALL,LUMET_TASK_OFFSET=2 ",
                           "--array=0-0 --export=ALL,LUMET_TASK_OFFSET=4 ", "  4) line=7"}) {
    EXPECT_NE(split.find(part), std::string::npos) << part << "\n" << split;
  }
}

TEST(BatchSummaryTest, TasksPutTheirLinesIntoOneSummaryReplacingTheirOwnEarlierOne) {
  TempFolder tmp;
  const std::string path = tmp.File("summary.jsonl");
  PutSummaryLine(path, 3, "{\"line\":3,\"outcome\":\"failed\"}");
  PutSummaryLine(path, 1, "{\"line\":1,\"outcome\":\"done\"}");
  PutSummaryLine(path, 3, "{\"line\":3,\"outcome\":\"done\"}");
  EXPECT_EQ(ReadText(path), "{\"line\":1,\"outcome\":\"done\"}\n{\"line\":3,\"outcome\":\"done\"}\n");
  // Many at once: every line arrives.
  std::vector<std::thread> tasks;
  for (int line = 10; line < 30; ++line) {
    tasks.emplace_back([&, line] { PutSummaryLine(path, line, "{\"line\":" + std::to_string(line) + "}"); });
  }
  for (std::thread& t : tasks) t.join();
  size_t lines = 0;
  for (const char c : ReadText(path)) lines += c == '\n';
  EXPECT_EQ(lines, 22u);
}

}  // namespace
}  // namespace lumet
