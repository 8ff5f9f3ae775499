#include "util/text_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace lumet {
namespace {

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
