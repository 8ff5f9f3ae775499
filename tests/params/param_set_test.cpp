#include "params/param_set.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "util/atomic_file.h"
#include "support/temp_folder.h"
#include "util/error.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;

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
  p.lrPattern = "frames/f%03d.bmp";
  p.outputBase = "out/sr";
  p.lrCount = 12;
  p.roi = RoiRect{-5, 7, 30, 52};
  p.scale = 3.0;
  p.psfSigma = 0.45;
  p.alpha = 0.5;
  p.beta = 2.0;
  p.lambda = 0.0004;
  p.filterSigma = 2.25;
  p.ransacFirst = 10;
  p.ransacSecond = 15;
  p.sadSize = 16;
  p.searchArea = 24;
  return p;
}

// Expects message to name what.
void ExpectNames(const std::string& message, const std::string& what) {
  EXPECT_NE(message.find(what), std::string::npos) << "\"" << message << "\" does not name " << what;
}

class ParamFileTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = folder_.Path(); }

  lumet::testing::TempFolder folder_;
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST(ParamSetTest, InitParamsGiveTheStandardFileAndNames) {
  const ParamSet p = InitParams();
  EXPECT_EQ(FormatParamFile(p), kInitFile);
  EXPECT_EQ(p.firstFrame, 1);
  EXPECT_EQ(p.roi.Width(), 40);
  EXPECT_EQ(p.roi.Height(), 40);
  EXPECT_EQ(p.referenceFile, "./images/lr-0.bmp");
  EXPECT_EQ(p.resultFile, "./result/hr.bmp");
  EXPECT_EQ(p.homographyPattern, "./result/hr_hom-%d.txt");
  EXPECT_EQ(FormatFrameName(p.homographyPattern, 3), "./result/hr_hom-3.txt");
  EXPECT_EQ(FormatFrameName(p.lrPattern, 30), "./images/lr-30.bmp");
}

TEST(ParamSetTest, RoiIsStoredAsLeftTopRightBottom) {
  ParamSet p = InitParams();
  // Entered as x 10, y 20, w 30, h 40.
  p.roi.left = 10;
  p.roi.top = 20;
  p.roi.right = p.roi.left + 30;
  p.roi.bottom = p.roi.top + 40;
  const std::vector<std::string> lines = Lines(FormatParamFile(p));
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[3], "10");
  EXPECT_EQ(lines[4], "20");
  EXPECT_EQ(lines[5], "40");
  EXPECT_EQ(lines[6], "60");
}

TEST(ParamSetTest, DoublesUseSixSignificantDigits) {
  ParamSet p = InitParams();
  p.scale = 3.5;
  p.psfSigma = 1.0 / 3.0;
  p.alpha = 1234567.0;
  p.beta = 0.00001;
  p.lambda = 0.0004;
  p.filterSigma = 100.0;
  const std::vector<std::string> lines = Lines(FormatParamFile(p));
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[7], "3.5");
  EXPECT_EQ(lines[8], "0.333333");
  EXPECT_EQ(lines[9], "1.23457e+06");
  EXPECT_EQ(lines[10], "1e-05");
  EXPECT_EQ(lines[11], "0.0004");
  EXPECT_EQ(lines[12], "100");
}

TEST_F(ParamFileTest, SavedFileLoadsBackIntoEveryField) {
  ParamSet saved = OtherParams();
  SaveParams(Path("param.txt"), saved);
  EXPECT_EQ(ReadWholeFile(Path("param.txt")), FormatParamFile(saved));

  ParamSet loaded = InitParams();
  EXPECT_EQ(LoadParams(Path("param.txt"), loaded), 17);
  EXPECT_EQ(FormatParamFile(loaded), FormatParamFile(saved));
  EXPECT_EQ(loaded.roi, saved.roi);
  EXPECT_EQ(loaded.lambda, 0.0004);
  // Loading derives nothing: the names stay until the set is adopted.
  EXPECT_EQ(loaded.referenceFile, "./images/lr-0.bmp");
}

TEST_F(ParamFileTest, ValuesAreWordsSeparatedByAnyWhiteSpace) {
  WriteFileAtomically(Path("param.txt"),
                      "  frames/f%03d.bmp\r\nout/sr\t12 -5 7\r\n30\n\n52 3 0.45 0.5 2 4e-4 2.25 10 15 16 24\r\n");
  ParamSet loaded = InitParams();
  EXPECT_EQ(LoadParams(Path("param.txt"), loaded), 17);
  EXPECT_EQ(FormatParamFile(loaded), FormatParamFile(OtherParams()));
}

TEST_F(ParamFileTest, ReadingStopsAtTheFirstBadValue) {
  const std::vector<std::string> other = Lines(FormatParamFile(OtherParams()));
  const std::vector<std::string> init = Lines(kInitFile);
  ASSERT_EQ(other.size(), 17u);
  for (size_t bad = 0; bad < 17; ++bad) {
    for (const char* kind : {"unreadable", "truncated"}) {
      SCOPED_TRACE("value " + std::to_string(bad + 1) + " " + kind);
      std::string text;
      for (size_t i = 0; i < 17; ++i) {
        if (i == bad) {
          if (std::string(kind) == "truncated") break;
          // Text values: a pattern the system refuses; numbers: a word that is no number.
          text += bad == 0 ? "lr-%s.bmp" : bad == 1 ? "out%d" : "x12";
        } else {
          text += other[i];
        }
        text += "\n";
      }
      WriteFileAtomically(Path("param.txt"), text);
      ParamSet loaded = InitParams();
      EXPECT_EQ(LoadParams(Path("param.txt"), loaded), static_cast<int>(bad));
      const std::vector<std::string> got = Lines(FormatParamFile(loaded));
      ASSERT_EQ(got.size(), 17u);
      for (size_t i = 0; i < 17; ++i) EXPECT_EQ(got[i], i < bad ? other[i] : init[i]) << "line " << i + 1;
    }
  }
}

TEST_F(ParamFileTest, NumbersThatDoNotFitOrTrailJunkStopReading) {
  ParamSet loaded = InitParams();
  {
    SCOPED_TRACE("integer overflow keeps the prior value");
    WriteFileAtomically(Path("param.txt"), "a%d.bmp\nout\n99999999999\n1\n2\n3\n4");
    EXPECT_EQ(LoadParams(Path("param.txt"), loaded), 2);
    EXPECT_EQ(loaded.lrPattern, "a%d.bmp");
    EXPECT_EQ(loaded.lrCount, 30);
    EXPECT_EQ(loaded.roi, InitParams().roi);
  }
  {
    SCOPED_TRACE("a number followed by junk: the junk is the next value");
    loaded = InitParams();
    WriteFileAtomically(Path("param.txt"), "a%d.bmp\nout\n12abc\n1\n2\n3\n4");
    EXPECT_EQ(LoadParams(Path("param.txt"), loaded), 3);
    EXPECT_EQ(loaded.lrCount, 12);
    EXPECT_EQ(loaded.roi.left, 160);
  }
  {
    SCOPED_TRACE("a word too long for a text value");
    loaded = InitParams();
    WriteFileAtomically(Path("param.txt"), std::string(1024, 'a') + "\nout\n5");
    EXPECT_EQ(LoadParams(Path("param.txt"), loaded), 0);
    EXPECT_EQ(loaded.lrPattern, "./images/lr-%d.bmp");
    EXPECT_EQ(loaded.outputBase, "./result/hr");
  }
}

TEST_F(ParamFileTest, MissingFileKeepsEveryValue) {
  ParamSet loaded = OtherParams();
  EXPECT_EQ(LoadParams(Path("no-such-param.txt"), loaded), 0);
  EXPECT_EQ(FormatParamFile(loaded), FormatParamFile(OtherParams()));
  EXPECT_EQ(LoadParams(dir_.string(), loaded), 0);  // a folder
  EXPECT_EQ(FormatParamFile(loaded), FormatParamFile(OtherParams()));
}

TEST(ParamSetTest, TextValuesThatTheFileCannotHoldAreRefused) {
  struct Case {
    const char* what;
    std::string lrPattern;
    std::string outputBase;
    const char* field;  // nullptr: accepted
  };
  const Case cases[] = {
      {"empty pattern", "", "out", "lrPattern"},
      {"blank in pattern", "my frames/%d.bmp", "out", "lrPattern"},
      {"tab in pattern", "a\t%d.bmp", "out", "lrPattern"},
      {"line end in pattern", "a%d.bmp\n", "out", "lrPattern"},
      {"control character", std::string("a\x01%d.bmp"), "out", "lrPattern"},
      {"1024 characters", std::string(1020, 'a') + "%d.x", "out", "lrPattern"},
      {"1023 characters", std::string(1019, 'a') + "%d.x", "out", nullptr},
      {"empty output", "a%d.bmp", "", "outputBase"},
      {"blank in output", "a%d.bmp", "my result", "outputBase"},
      {"% in output", "a%d.bmp", "out%d", "outputBase"},
      {"%% in output", "a%d.bmp", "out%%", "outputBase"},
      {"1024-character output", "a%d.bmp", std::string(1024, 'o'), "outputBase"},
      {"1023-character output", "a%d.bmp", std::string(1023, 'o'), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ParamSet p = InitParams();
    p.lrPattern = c.lrPattern;
    p.outputBase = c.outputBase;
    if (c.field == nullptr) {
      EXPECT_NO_THROW(CheckTextParams(p));
      continue;
    }
    try {
      CheckTextParams(p);
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      ExpectNames(e.what(), c.field);
    }
  }
}

TEST(ParamSetTest, PatternMayHoldOneIntegerConversion) {
  struct Case {
    const char* pattern;
    bool accepted;
  };
  const Case cases[] = {
      {"lr-%d.bmp", true},   {"lr-%i.bmp", true},     {"lr-%03d.bmp", true},  {"lr-%-4d.bmp", true},
      {"lr-%+.3i.bmp", true}, {"lr%%-%d.bmp", true},  {"lr.bmp", true},       {"100%%.bmp", true},
      {"lr-%d%d.bmp", false}, {"lr-%s.bmp", false},   {"lr-%n.bmp", false},   {"lr-%ld.bmp", false},
      {"lr-%x.bmp", false},   {"lr-%f.bmp", false},   {"lr-%*d.bmp", false},  {"lr-%.bmp", false},
      {"lr-%", false},        {"lr-%100d.bmp", false}, {"lr-%%%s", false},    {"%d-%%-%i", false},
      {"lr-%#d.bmp", false},  {"lr-%.100d", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    ParamSet p = InitParams();
    p.lrPattern = c.pattern;
    if (c.accepted) {
      EXPECT_NO_THROW(CheckTextParams(p));
    } else {
      try {
        CheckTextParams(p);
        ADD_FAILURE() << "accepted";
      } catch (const Error& e) {
        ExpectNames(e.what(), "lrPattern");
      }
      EXPECT_THROW(FormatFrameName(c.pattern, 1), Error);
    }
  }
}

TEST(ParamSetTest, FrameNamesAreFormattedLikePrintf) {
  struct Case {
    const char* pattern;
    int k;
  };
  const Case cases[] = {{"lr-%d.bmp", 0},   {"lr-%03d.bmp", 7},  {"lr-%03d.bmp", 1234}, {"lr%%-%d.bmp", 5},
                        {"lr-%-4d|", 12},   {"lr-%+.3i", 9},     {"lr.bmp", 3},         {"100%%.bmp", 3},
                        {"%d", -17},        {"x%99d", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    char expected[256];
    std::snprintf(expected, sizeof expected, c.pattern, c.k);
    EXPECT_EQ(FormatFrameName(c.pattern, c.k), expected);
  }
  EXPECT_EQ(FormatFrameName("lr-%03d.bmp", 7), "lr-007.bmp");
  EXPECT_EQ(FormatFrameName("a%%b", 7), "a%b");

  // Without a conversion every frame names the same file.
  ParamSet p = InitParams();
  p.lrPattern = "frame.bmp";
  DeriveNames(p);
  EXPECT_EQ(p.referenceFile, "frame.bmp");
}

TEST_F(ParamFileTest, AdoptionDerivesNamesAndRewritesTheFile) {
  ParamSet p = OtherParams();
  p.firstFrame = 9;
  p.referenceFile = "stale";
  const std::string path = Path("sub/param.txt");
  AdoptParams(p, path);
  EXPECT_EQ(p.firstFrame, 1);
  EXPECT_EQ(p.referenceFile, "frames/f000.bmp");
  EXPECT_EQ(p.resultFile, "out/sr.bmp");
  EXPECT_EQ(p.homographyPattern, "out/sr_hom-%d.txt");
  EXPECT_EQ(ReadWholeFile(path), FormatParamFile(OtherParams()));

  ParamSet init = InitParams();
  AdoptParams(init, path);
  EXPECT_EQ(ReadWholeFile(path), kInitFile);
}

TEST_F(ParamFileTest, RefusedAdoptionChangesNothing) {
  const std::string path = Path("param.txt");
  ParamSet adopted = InitParams();
  AdoptParams(adopted, path);

  struct Case {
    const char* what;
    void (*change)(ParamSet&);
    const char* field;
  };
  const Case cases[] = {
      {"pattern with %s", [](ParamSet& p) { p.lrPattern = "lr-%s.bmp"; }, "lrPattern"},
      {"output with blank", [](ParamSet& p) { p.outputBase = "my out"; }, "outputBase"},
      {"infinite lambda", [](ParamSet& p) { p.lambda = std::numeric_limits<double>::infinity(); }, "lambda"},
      {"NaN sigma", [](ParamSet& p) { p.psfSigma = std::nan(""); }, "psfSigma"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ParamSet p = adopted;
    p.lrCount = 5;
    p.firstFrame = 4;
    c.change(p);
    const std::string before = FormatParamFile(p);
    const std::string referenceBefore = p.referenceFile;
    try {
      AdoptParams(p, path);
      ADD_FAILURE() << "adopted";
    } catch (const Error& e) {
      ExpectNames(e.what(), c.field);
    }
    EXPECT_EQ(FormatParamFile(p), before);
    EXPECT_EQ(p.firstFrame, 4);
    EXPECT_EQ(p.referenceFile, referenceBefore);
    EXPECT_EQ(ReadWholeFile(path), kInitFile);
  }

  {
    SCOPED_TRACE("file that cannot be written");
    WriteFileAtomically(Path("blocker"), "x");
    ParamSet p = OtherParams();
    p.firstFrame = 4;
    EXPECT_THROW(AdoptParams(p, Path("blocker/param.txt")), Error);
    EXPECT_EQ(p.firstFrame, 4);
    EXPECT_EQ(p.referenceFile, "");
  }
}

}  // namespace
}  // namespace lumet
