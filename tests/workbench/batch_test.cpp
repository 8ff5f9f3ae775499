#include "workbench/batch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
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
            "\"started\":\"2027-01-15T08:00:00Z\",\"finished\":\"2027-01-15T08:00:02Z\",\"seconds\":2.500,"
            "\"log\":\"/data/street 1/lumet-run.log\",\"error\":\"frame 3 ./images/lr-3.bmp is not a BMP file\","
            "\"files\":[\"/data/street 1/result/hr.bmp\"]}");
  const std::vector<BatchJob> jobs = {job, {9, "/data/b", {"--threads", "4"}}};
  EXPECT_EQ(EmitParallelJobs("/opt/lumet/bin/lumet-cli", "/data/jobs list.txt", jobs),
            "/opt/lumet/bin/lumet-cli batch '/data/jobs list.txt' --job 7\n"
            "/opt/lumet/bin/lumet-cli batch '/data/jobs list.txt' --job 9\n");
  const std::string script = EmitSlurmScript("/opt/lumet/bin/lumet-cli", "/data/jobs.txt", jobs);
  for (const char* part : {"#SBATCH --array=0-1\n", "#SBATCH --output=/data/lumet-%A_%a.log\n",
                           "  0) folder='/data/street 1'; set -- --scale 2 --threads \"${SLURM_CPUS_PER_TASK:-0}\" ;;",
                           "  1) folder=/data/b; set -- --threads 4 ;;",
                           "exec srun /opt/lumet/bin/lumet-cli -C \"$folder\" run \"$@\"\n"}) {
    EXPECT_NE(script.find(part), std::string::npos) << part << "\n" << script;
  }
}

}  // namespace
}  // namespace lumet
