#include "params/param_set.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/temp_folder.h"
#include "util/atomic_file.h"
#include "util/error.h"

namespace lumet {
namespace {

const char kInitFile[] =
    "./images/lr-%d.bmp\n./result/hr\n30\n160\n100\n200\n140\n4\n0.6\n0.7\n1\n0.003\n1.5\n20\n25\n32\n40";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A set that differs from the Init params in every stored field.
ParamSet OtherParams() {
  ParamSet p;
  p.lrPattern = "frames/f%03d.bmp", p.outputBase = "out/sr", p.lrCount = 12, p.roi = RoiRect{-5, 7, 30, 52};
  p.scale = 3.0, p.psfSigma = 0.45, p.alpha = 0.5, p.beta = 2.0, p.lambda = 0.0004, p.filterSigma = 2.25;
  p.ransacFirst = 10, p.ransacSecond = 15, p.sadSize = 16, p.searchArea = 24;
  return p;
}

void ExpectRefused(const std::function<void()>& action, const std::string& field) {
  try {
    action();
    ADD_FAILURE() << "accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(field), std::string::npos) << e.what() << " does not name " << field;
  }
}

TEST(ParamSetTest, InitParamsGiveTheStandardFileAndRoiIsStoredAsLeftTopRightBottom) {
  ParamSet p = InitParams();
  EXPECT_EQ(FormatParamFile(p), kInitFile);
  EXPECT_EQ(p.referenceFile + " " + p.resultFile + " " + p.homographyPattern,
            "./images/lr-0.bmp ./result/hr.bmp ./result/hr_hom-%d.txt");
  p.roi = RoiRect{10, 20, 10 + 30, 20 + 40};  // entered as x 10, y 20, w 30, h 40
  const std::vector<std::string> lines = Lines(FormatParamFile(p));
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.begin() + 7),
            (std::vector<std::string>{"10", "20", "40", "60"}));
}

TEST(ParamFileTest, ReadingTakesWordsUntilTheFirstBadOneAndKeepsTheRest) {
  lumet::testing::TempFolder dir;
  const std::vector<std::string> other = Lines(FormatParamFile(OtherParams()));
  const std::vector<std::string> init = Lines(kInitFile);
  struct Case {
    std::string what, text;
    std::vector<std::string> read;  // the values taken, in order
  };
  std::vector<Case> cases = {
      {"every value", FormatParamFile(OtherParams()), other},
      {"any white space", "  frames/f%03d.bmp\r\nout/sr\t12 -5 7\r\n30\n\n52 3 0.45 0.5 2 4e-4 2.25 10 15 16 24\r\n",
       other},
      {"integer overflow", "a%d.bmp\nout\n99999999999\n1\n2\n3\n4", {"a%d.bmp", "out"}},
      {"junk after a number is the next value", "a%d.bmp\nout\n12abc\n1\n2\n3\n4", {"a%d.bmp", "out", "12"}},
      {"text value too long", std::string(1024, 'a') + "\nout\n5", {}},
  };
  for (size_t bad : {0, 1, 2, 7, 16}) {
    std::string text;
    for (size_t i = 0; i < bad; ++i) text += other[i] + "\n";
    const std::vector<std::string> read(other.begin(), other.begin() + static_cast<long>(bad));
    cases.push_back({"value " + std::to_string(bad + 1) + " missing", text, read});
    // Text values: a pattern the system refuses; numbers: a word that is no number.
    cases.push_back({"value " + std::to_string(bad + 1) + " unreadable",
                     text + (bad == 0 ? "lr-%s.bmp" : bad == 1 ? "out%d" : "x12") + "\n1\n2\n3", read});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileAtomically(dir.File("param.txt"), c.text);
    ParamSet loaded = InitParams();
    EXPECT_EQ(LoadParams(dir.File("param.txt"), loaded), static_cast<int>(c.read.size()));
    const std::vector<std::string> got = Lines(FormatParamFile(loaded));
    ASSERT_EQ(got.size(), 17u);
    for (size_t i = 0; i < 17; ++i) EXPECT_EQ(got[i], i < c.read.size() ? c.read[i] : init[i]) << "line " << i + 1;
  }
  ParamSet kept = OtherParams();
  EXPECT_EQ(LoadParams(dir.File("no-such-param.txt"), kept), 0);
  EXPECT_THROW(LoadParams(dir.Path().string(), kept), Error);  // a folder
  EXPECT_EQ(kept, OtherParams());
}

TEST(ParamSetTest, TextValuesTheFileCannotHoldAndPatternsBeyondOneIntegerAreRefused) {
  struct Case {
    std::string lrPattern, outputBase;
    char verdict;  // a: accepted; c: conversion refused (by FormatFrameName too); l: lrPattern, o: outputBase refused
  };
  const Case cases[] = {
      {"lr-%d.bmp", "out", 'a'}, {"lr-%03d.bmp", "o", 'a'},  {"lr-%+.3i.bmp", "o", 'a'}, {"lr-%-4d|", "o", 'a'},
      {"lr%%-%d.bmp", "o", 'a'}, {"lr.bmp", "o", 'a'},       {"x%99d", "o", 'a'},
      {std::string(1019, 'a') + "%d.x", "o", 'a'},  // 1023 characters
      {"lr-%s.bmp", "o", 'c'},   {"lr-%n.bmp", "o", 'c'},    {"lr-%ld.bmp", "o", 'c'},   {"lr-%*d.bmp", "o", 'c'},
      {"lr-%.bmp", "o", 'c'},    {"lr-%", "o", 'c'},         {"lr-%100d.bmp", "o", 'c'}, {"lr-%.100d", "o", 'c'},
      {"lr-%%%s", "o", 'c'},     {"%d-%%-%i", "o", 'c'},     {"lr-%#d.bmp", "o", 'c'},   {"", "o", 'l'},
      {"my fr/%d.bmp", "o", 'l'}, {"a\t%d.bmp", "o", 'l'},   {"a%d.bmp\n", "o", 'l'},   {"a\x01%d.bmp", "o", 'l'},
      {std::string(1020, 'a') + "%d.x", "o", 'l'},  // 1024 characters
      {"a%d", "", 'o'},          {"a%d", "my result", 'o'},  {"a%d", "out%d", 'o'},      {"a%d", "out%%", 'o'},
      {"a%d", std::string(1024, 'o'), 'o'},        {"a%d", std::string(1023, 'o'), 'a'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lrPattern.substr(0, 20) + " | " + c.outputBase.substr(0, 20));
    ParamSet p = InitParams();
    p.lrPattern = c.lrPattern, p.outputBase = c.outputBase;
    if (c.verdict != 'a') {
      ExpectRefused([&] { CheckTextParams(p); }, c.verdict == 'o' ? "outputBase" : "lrPattern");
      if (c.verdict == 'c') { EXPECT_THROW(FormatFrameName(c.lrPattern, 1), Error); }
      continue;
    }
    EXPECT_NO_THROW(CheckTextParams(p));
    for (int k : {0, 7, -17, 1234}) {
      char expected[2048];
      std::snprintf(expected, sizeof expected, c.lrPattern.c_str(), k);
      EXPECT_EQ(FormatFrameName(c.lrPattern, k), expected) << k;
    }
  }
  EXPECT_EQ(FormatFrameName("lr-%03d.bmp", 7), "lr-007.bmp");
}

TEST(ParamFileTest, AdoptionRefusesNonFiniteNumbersAndThenChangesNeitherTheSetNorTheFile) {
  lumet::testing::TempFolder dir;
  ParamSet adopted = OtherParams();
  adopted.firstFrame = 9;
  AdoptParams(adopted, dir.File("param.txt"));
  EXPECT_EQ(adopted.referenceFile + " " + std::to_string(adopted.firstFrame), "frames/f000.bmp 1");
  const std::tuple<double ParamSet::*, double, const char*> refused[] = {{&ParamSet::lambda, INFINITY, "lambda"},
                                                                         {&ParamSet::psfSigma, NAN, "psfSigma"}};
  for (const auto& [member, value, field] : refused) {
    ParamSet q = adopted;
    q.lrCount = 5, q.firstFrame = 4, q.*member = value;
    const std::string before = FormatParamFile(q) + q.referenceFile + "4";
    ExpectRefused([&] { AdoptParams(q, dir.File("param.txt")); }, field);
    EXPECT_EQ(FormatParamFile(q) + q.referenceFile + std::to_string(q.firstFrame), before);
    EXPECT_EQ(ReadWholeFile(dir.File("param.txt")), FormatParamFile(OtherParams()));
  }
  WriteFileAtomically(dir.File("blocker"), "x");  // a parameter file that cannot be written
  ParamSet q = OtherParams();
  EXPECT_THROW(AdoptParams(q, dir.File("blocker/param.txt")), Error);
  EXPECT_EQ(q.referenceFile, "");  // nothing adopted
}

}  // namespace
}  // namespace lumet
