#include "workbench/warning_groups.h"

#include <gtest/gtest.h>

namespace lumet {
namespace {

TEST(WarningGroupsTest, OneLinePerKindNamingItsFramesAndDetails) {
  const std::vector<FrameWarning> warnings = {
      {1, "kind A", "", "fix A"}, {2, "kind B", "3 of 9", "fix B"}, {3, "kind A", "", "fix A"},
      {4, "kind A", "", "fix A"}, {5, "kind A", "", "fix A"},       {7, "kind A", "", "fix A"},
      {8, "kind B", "1 of 9", "fix B"},
  };
  const std::vector<std::string> lines = GroupWarnings(warnings);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Warning: frames 1, 3 … 5, 7 (5 frames): kind A; fix A");
  EXPECT_EQ(lines[1], "Warning: frames 2, 8 (2 frames): kind B (frame 2: 3 of 9; frame 8: 1 of 9); fix B");
  // One frame reads as the window's log line reads, without its line end.
  EXPECT_EQ(GroupWarnings({{6, "kind C", "d", "fix C"}}),
            std::vector<std::string>{"Warning: frame 6: kind C (d); fix C"});
  EXPECT_EQ(FormatWarningLine({6, "kind C", "d", "fix C"}), "Warning: frame 6: kind C (d); fix C\r\n");
  // Beyond four details the rest are counted.
  std::vector<FrameWarning> many;
  for (int k = 1; k <= 6; ++k) many.push_back({k, "kind", std::to_string(k), "fix"});
  EXPECT_EQ(GroupWarnings(many)[0],
            "Warning: frames 1 … 6 (6 frames): kind (frame 1: 1; frame 2: 2; frame 3: 3; frame 4: 4; 2 more); fix");
}

}  // namespace
}  // namespace lumet
