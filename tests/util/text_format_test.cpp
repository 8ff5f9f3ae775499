#include "util/text_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace lumet {
namespace {

TEST(TextFormatTest, FormatG6MatchesTheStreamDefault) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {1.0, "1"},
      {0.005, "0.005"},
      {-1.0 / 300.0, "-0.00333333"},
      {1.234567e-5, "1.23457e-05"},
      {9999999.9, "1e+07"},
      {99999.9, "99999.9"},
      {4.0, "4"},
      {0.6, "0.6"},
      {123456.0, "123456"},
      {1234567.0, "1.23457e+06"},
      {0.0001, "0.0001"},
      {0.00001, "1e-05"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FormatG6(c.value), c.text);
  }
}

TEST(TextFormatTest, FormatBuildsLongTexts) {
  EXPECT_EQ(Format("MAE(%d) = %f\r\n", 3, 1.5), "MAE(3) = 1.500000\r\n");
  const std::string longText(5000, 'a');
  EXPECT_EQ(Format("%s|%d", longText.c_str(), 7), longText + "|7");
  EXPECT_EQ(StripLineEnds("x\r\n\n"), "x");
  EXPECT_EQ(StripLineEnds("\r\n"), "");
}

TEST(TextFormatTest, NumbersKeepTheDecimalPointUnderAUserLocale) {
  // A GUI toolkit installs the user's locale for the process; file numbers must not change.
  const char* locales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"};
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  const char* found = nullptr;
  for (const char* name : locales) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      found = name;
      break;
    }
  }
  if (found == nullptr) GTEST_SKIP() << "no locale with a decimal comma installed";
  const std::string g = FormatG6(0.6);
  const std::string f = Format("%f", 2.5);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(g, "0.6");
  EXPECT_EQ(f, "2.500000");
}

}  // namespace
}  // namespace lumet
