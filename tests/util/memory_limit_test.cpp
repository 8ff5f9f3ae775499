#include "util/memory_limit.h"

#include <gtest/gtest.h>

#include "support/expect_error.h"

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
  EXPECT_EQ(DefaultMemoryLimit(), MachineMemoryBytes() / 4 * 3);
}

TEST(MemoryLimitTest, ANeedAboveTheLimitIsRefusedWithBothFigures) {
  CheckMemoryNeed("the job", size_t{600} << 20, size_t{600} << 20, "");  // equal fits
  testing::ExpectError([] { CheckMemoryNeed("The job", size_t{650} << 20, size_t{600} << 20, "use less"); },
                       {"The job needs about 650 MiB, more than the memory limit of 600 MiB (--memory-limit); use less"});
}

}  // namespace
}  // namespace lumet
