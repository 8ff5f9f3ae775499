#include "util/text_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace lumet {
namespace {

TEST(TextFormatTest, FormatG6AndFormatMatchPrintf) {
  const std::pair<double, const char*> cases[] = {
      {1.0, "1"},           {0.005, "0.005"},     {-1.0 / 300.0, "-0.00333333"}, {1.234567e-5, "1.23457e-05"},
      {9999999.9, "1e+07"}, {99999.9, "99999.9"}, {123456.0, "123456"},          {1234567.0, "1.23457e+06"},
      {0.0001, "0.0001"},   {0.00001, "1e-05"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(FormatG6(value), text);
  EXPECT_EQ(Format("MAE(%d) = %f\r\n", 3, 1.5), "MAE(3) = 1.500000\r\n");
  const std::string longText(5000, 'a');
  EXPECT_EQ(Format("%s|%d", longText.c_str(), 7), longText + "|7");
  EXPECT_EQ(StripLineEnds("x\r\n\n"), "x");
}

TEST(TextFormatTest, NumbersKeepTheDecimalPointUnderAUserLocale) {
  // A GUI toolkit installs the user's locale for the process; file numbers must not change.
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  bool found = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
    found = found || std::setlocale(LC_ALL, name) != nullptr;
  }
  if (!found) GTEST_SKIP() << "no locale with a decimal comma installed";
  const std::string numbers = FormatG6(0.6) + " " + Format("%f", 2.5);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(numbers, "0.6 2.500000");
}

}  // namespace
}  // namespace lumet
