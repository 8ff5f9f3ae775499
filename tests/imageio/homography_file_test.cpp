// The homography file: its text, the atomic write and reading it back.
#include "imageio/homography_file.h"

#include <gtest/gtest.h>

#include "numeric/projection.h"
#include "support/expect_error.h"
#include "support/temp_folder.h"

namespace lumet {
namespace {

Matrix MakeH(double h11, double h12, double h13, double h21, double h22, double h23) {
  Matrix h(3, 3, 0.0);
  const double values[9] = {h11, h12, h13, h21, h22, h23, 0.0, 0.0, 1.0};
  h.CopyFrom(values);
  return h;
}

TEST(HomographyFileTest, TextHoldsEightNumbersInSixDigitsAndReadsBack) {
  EXPECT_EQ(FormatHomographyFile(IdentityHomography()), "1 0 0 0 1 0 0 0\n");
  EXPECT_EQ(FormatHomographyFile(MakeH(1.0000001, 0.0000123457, 123456789.0, 0, 1, 0)),
            "1 1.23457e-05 1.23457e+08 0 1 0 0 0\n");
  const testing::TempFolder tmp;
  const std::string path = (tmp.Path() / "result" / "hr_hom-3.txt").string();
  WriteHomographyFile(path, IdentityHomography());
  WriteHomographyFile(path, MakeH(1, 0, 3.0 / 600, 0, 1, -2.0 / 600));  // the (3, -2) shift, replacing
  EXPECT_EQ(testing::ReadText(path), "1 0 0.005 0 1 -0.00333333 0 0\n");
  const Matrix back = ReadHomographyFile(path);
  const double expected[9] = {1, 0, 0.005, 0, 1, -0.00333333, 0, 0, 1};
  for (int k = 1; k <= 9; ++k) EXPECT_EQ(back.Flat1(k), expected[k - 1]) << k;
}

TEST(HomographyFileTest, ReaderTakesAnyWhiteSpaceAndRefusesShortOrMissingFiles) {
  const testing::TempFolder tmp;
  const std::string path = tmp.File("h.txt");
  testing::WriteText(path, "1\t2 3\r\n4  5 6\r\n7 8 trailing text\r\n");
  const Matrix h = ReadHomographyFile(path);
  for (int k = 1; k <= 8; ++k) EXPECT_EQ(h.Flat1(k), k);
  EXPECT_EQ(h.At1(3, 3), 1.0);
  testing::WriteText(path, "1 0 0 0 1 0 0\n");
  testing::ExpectError([&] { ReadHomographyFile(path); }, {path, "holds 7 readable numbers"});
  testing::ExpectError([&] { ReadHomographyFile(tmp.File("none.txt")); }, {"none.txt"});
  testing::ExpectError([] { FormatHomographyFile(Matrix()); }, {"3 x 3"});
}

TEST(HomographyFileTest, StoredFormIsWhatTheFileGivesBack) {
  testing::TempFolder folder;
  const std::string path = (folder.Path() / "h.txt").string();
  Matrix h = MakeH(1.000123456789, -0.0123456789, 3.14159265358, 2e-7, 0.99999999, -12.3456789);
  h.At1(3, 1) = 1.23456789e-4;
  h.At1(3, 2) = -9.87654321e-5;
  WriteHomographyFile(path, h);
  const Matrix read = ReadHomographyFile(path);
  const Matrix stored = StoredHomography(h);
  for (int k = 1; k <= 9; ++k) EXPECT_EQ(stored.Flat1(k), read.Flat1(k)) << k;
  // A homography scaled as a whole is the same map: it is stored divided by h33.
  Matrix doubled = h;
  for (int k = 1; k <= 9; ++k) doubled.Flat1(k) *= 2.0;
  const Matrix again = StoredHomography(doubled);
  for (int k = 1; k <= 9; ++k) EXPECT_EQ(again.Flat1(k), read.Flat1(k)) << k;
  Matrix flat = h;
  flat.At1(3, 3) = 0.0;
  testing::ExpectError([&] { StoredHomography(flat); }, {"h33 = 0"});
  testing::ExpectError([] { ParseHomographyText("1 2 3", "given"); }, {"homography file given holds 3 readable numbers"});
}

}  // namespace
}  // namespace lumet
