#include "util/memory_limit.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/expect_error.h"
#include "support/temp_folder.h"

namespace lumet {
namespace {

TEST(MemoryLimitTest, SizesAreReadInBinaryUnitsAndShownRoundedUp) {
  const std::pair<const char*, size_t> sizes[] = {{"700M", size_t{700} << 20},  {"1.5G", size_t{3} << 29},
                                                  {"512k", size_t{512} << 10},  {"2T", size_t{2} << 40},
                                                  {"123456", 123456}};
  for (const auto& [text, bytes] : sizes) EXPECT_EQ(ParseMemorySize(text), bytes) << text;
  for (const char* bad : {"", "M", "0", "-5M", "12X", "1.5 G", "nan", "1e30"}) {
    testing::ExpectError([&] { ParseMemorySize(bad); }, {"memory size \"" + std::string(bad) + "\""});
  }
  EXPECT_EQ(FormatMemorySize(size_t{700} << 20), "700 MiB");
  EXPECT_EQ(FormatMemorySize((size_t{700} << 20) + 1), "701 MiB");
  EXPECT_EQ(FormatMemorySize(size_t{1433} << 20), "1.4 GiB");
  EXPECT_EQ(FormatMemorySize((size_t{1433} << 20) + (size_t{1} << 20)), "1.5 GiB");
  EXPECT_GT(MachineMemoryBytes(), size_t{0});
  EXPECT_EQ(DefaultMemoryLimit(), ProcessMemoryBytes("/", std::getenv("SLURM_MEM_PER_NODE")) / 4 * 3);
}

// Control-group files laid out under a folder as the system has them under "/".
class ProcessMemoryTest : public ::testing::Test {
 protected:
  void Write(const std::string& path, const std::string& text) { testing::WriteText(root_.Path() / path, text); }
  size_t Memory(const char* slurm = nullptr) const { return ProcessMemoryBytes(root_.Path().string(), slurm); }
  const size_t machine_ = MachineMemoryBytes();
  testing::TempFolder root_;
};

constexpr size_t kMiB = size_t{1} << 20;

TEST_F(ProcessMemoryTest, WithoutAnyLimitItIsTheMachines) {
  EXPECT_EQ(Memory(), machine_);  // no files at all
  Write("proc/self/cgroup", "0::/session.scope\n");
  Write("sys/fs/cgroup/session.scope/memory.max", "max\n");
  Write("sys/fs/cgroup/memory.max", "max\n");
  EXPECT_EQ(Memory(), machine_);
}

TEST_F(ProcessMemoryTest, CgroupV2TakesTheLowestLimitOfTheGroupAndItsParents) {
  ASSERT_GT(machine_, 2048 * kMiB);
  Write("proc/self/cgroup", "0::/jobs.slice/job-7/\n");
  Write("sys/fs/cgroup/jobs.slice/job-7/memory.max", "max\n");
  Write("sys/fs/cgroup/jobs.slice/memory.max", std::to_string(1536 * kMiB) + "\n");
  Write("sys/fs/cgroup/memory.max", std::to_string(2048 * kMiB) + "\n");
  EXPECT_EQ(Memory(), 1536 * kMiB);
  Write("sys/fs/cgroup/jobs.slice/job-7/memory.max", std::to_string(700 * kMiB) + "\n");
  EXPECT_EQ(Memory(), 700 * kMiB);
  // A limit above the machine's memory does not raise it.
  Write("sys/fs/cgroup/jobs.slice/job-7/memory.max", std::to_string(machine_ * 2) + "\n");
  Write("sys/fs/cgroup/jobs.slice/memory.max", "max\n");
  Write("sys/fs/cgroup/memory.max", "max\n");
  EXPECT_EQ(Memory(), machine_);
}

TEST_F(ProcessMemoryTest, CgroupV1ReadsTheMemoryControllersHierarchy) {
  ASSERT_GT(machine_, 512 * kMiB);
  // The unlimited value of v1 is a huge number; other controllers' lines are no concern.
  Write("proc/self/cgroup", "5:cpu,cpuacct:/other\n4:memory:/docker/abc\n1:name=systemd:/\n0::/\n");
  Write("sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n");
  Write("sys/fs/cgroup/memory/docker/memory.limit_in_bytes", "9223372036854771712\n");
  EXPECT_EQ(Memory(), machine_);
  Write("sys/fs/cgroup/memory/docker/abc/memory.limit_in_bytes", std::to_string(512 * kMiB) + "\n");
  EXPECT_EQ(Memory(), 512 * kMiB);
  Write("sys/fs/cgroup/cpu,cpuacct/other/memory.limit_in_bytes", std::to_string(kMiB) + "\n");  // not memory's
  EXPECT_EQ(Memory(), 512 * kMiB);
}

TEST_F(ProcessMemoryTest, ASlurmAllocationCountsWhenItIsLower) {
  ASSERT_GT(machine_, 4096 * kMiB);
  EXPECT_EQ(Memory("3000"), 3000 * kMiB);
  EXPECT_EQ(Memory(std::to_string(machine_ / kMiB * 4).c_str()), machine_);
  for (const char* ignored : {"", "0", "abc", "12G", "-5", "99999999999999999999999"}) {
    EXPECT_EQ(Memory(ignored), machine_) << ignored;
  }
  // With a control group's limit too: the lower of the two.
  Write("proc/self/cgroup", "0::/\n");
  Write("sys/fs/cgroup/memory.max", std::to_string(2000 * kMiB) + "\n");
  EXPECT_EQ(Memory("3000"), 2000 * kMiB);
  EXPECT_EQ(Memory("1000"), 1000 * kMiB);
}

TEST(MemoryLimitTest, ANeedAboveTheLimitIsRefusedWithBothFigures) {
  CheckMemoryNeed("the job", size_t{600} << 20, size_t{600} << 20, "");  // equal fits
  testing::ExpectError([] { CheckMemoryNeed("The job", size_t{650} << 20, size_t{600} << 20, "use less"); },
                       {"The job needs about 650 MiB, more than the memory limit of 600 MiB (--memory-limit); use less"});
}

}  // namespace
}  // namespace lumet
