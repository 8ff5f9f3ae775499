#include "params/param_set.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "params/param_description.h"
#include "params/param_file.h"
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

// A set that differs from the Init params in every stored value, as users type them.
ParamSet OtherParams() {
  const std::pair<const char*, const char*> values[] = {
      {"lrPattern", "frames/f%03d.bmp"}, {"outputBase", "out/sr"}, {"lrCount", "12"},   {"roi", "5,7,25,45"},
      {"scale", "3"},                    {"psfSigma", "0.45"},     {"alpha", "0.5"},    {"beta", "2"},
      {"lambda", "0.0004"},              {"filterSigma", "2.25"},  {"ransac", "10/15"}, {"sadSize", "16"},
      {"searchArea", "24"},              {"startIndex", "7"},      {"method", "enhanced"},
      {"iterations", "25"},              {"tolerance", "0.002"},   {"psfCheck", "off"},
      {"linearLight", "on"},             {"localMotion", "off"}};
  ParamSet p = InitParams();
  for (const auto& [name, text] : values) EXPECT_EQ(SetParamFromText(ParamRows()[FindParam(name)], text, p), "") << name;
  return p;
}

void ExpectRefused(const std::function<void()>& action, const std::vector<std::string>& texts) {
  try {
    action();
    ADD_FAILURE() << "accepted";
  } catch (const Error& e) {
    for (const std::string& text : texts) {
      EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what() << "\n  does not hold: " << text;
    }
  }
}

TEST(ParamDescriptionTest, RowsCoverTheSeventeenLinesOnceAndTheirDefaultsAreTheStandardFile) {
  std::vector<int> owner(18, -1);
  for (size_t i = 0; i < ParamRows().size(); ++i) {
    const ParamDescription& d = ParamRows()[i];
    SCOPED_TRACE(d.name);
    EXPECT_EQ(FindParam(d.name), i);
    const int parts = d.kind == ParamKind::Roi ? 4 : d.kind == ParamKind::Ransac ? 2 : 1;
    for (int k = 0; d.line > 0 && k < parts; ++k) {
      ASSERT_LE(d.line + k, 17);
      EXPECT_EQ(owner[static_cast<size_t>(d.line + k)], -1) << "line " << d.line + k << " taken twice";
      owner[static_cast<size_t>(d.line + k)] = static_cast<int>(i);
    }
    for (size_t j = 0; j < i; ++j) {
      EXPECT_STRNE(d.flag, ParamRows()[j].flag);
      EXPECT_STRNE(d.label, ParamRows()[j].label);
    }
    EXPECT_EQ(ParamValueText(d, InitParams()), d.defaultText);
  }
  for (int line = 1; line <= 17; ++line) EXPECT_NE(owner[static_cast<size_t>(line)], -1) << line;
  EXPECT_NO_THROW(CheckParams(InitParams()));
  EXPECT_EQ(FormatParamFile(InitParams()), kInitFile);
  EXPECT_EQ(InitParams().referenceFile + " " + InitParams().resultFile + " " + InitParams().homographyPattern,
            "./images/lr-0.bmp ./result/hr.bmp ./result/hr_hom-%d.txt");
}

TEST(ParamFileTest, EveryValueRoundTripsAndLaterValuesAreWrittenOnlyWhenNotDefault) {
  lumet::testing::TempFolder dir;
  const ParamSet other = OtherParams();
  ASSERT_NO_THROW(CheckParams(other));
  // One row changed at a time: its value comes back, and only a later row adds a line.
  for (const ParamDescription& d : ParamRows()) {
    SCOPED_TRACE(d.name);
    ParamSet changed = InitParams();
    ASSERT_EQ(SetParamFromText(d, ParamValueText(d, other), changed), "");
    SaveParams(dir.File("param.txt"), changed);
    const std::string text = ReadWholeFile(dir.File("param.txt"));
    EXPECT_EQ(Lines(text).size(), d.line > 0 ? 17u : 18u);
    if (d.line == 0) {
      EXPECT_EQ(Lines(text).back(), std::string(d.name) + " " + ParamValueText(d, other));
    }
    EXPECT_NE(text.back(), '\n');
    ParamSet loaded = InitParams();
    const ParamFileReport report = ReadParamFile(dir.File("param.txt"), loaded);
    EXPECT_EQ(report.problem, "");
    EXPECT_EQ(ParamValueText(d, loaded), ParamValueText(d, other));
  }
  // All at once, with the ROI stored as left, top, right, bottom.
  SaveParams(dir.File("param.txt"), other);
  const std::vector<std::string> lines = Lines(ReadWholeFile(dir.File("param.txt")));
  ASSERT_EQ(lines.size(), 24u);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.begin() + 7),
            (std::vector<std::string>{"5", "7", "30", "52"}));
  EXPECT_EQ(lines[17] + "|" + lines[18] + "|" + lines[19] + "|" + lines[20] + "|" + lines[21] + "|" + lines[22] + "|" +
                lines[23],
            "startIndex 7|method enhanced|iterations 25|tolerance 0.002|psfCheck off|linearLight on|localMotion off");
  ParamSet loaded = InitParams();
  EXPECT_EQ(LoadParams(dir.File("param.txt"), loaded), 17);
  DeriveNames(loaded);
  ParamSet expected = other;
  DeriveNames(expected);
  EXPECT_EQ(loaded, expected);
}

// A switch is typed, printed and stored as on or off, and nothing else reads as one.
TEST(ParamDescriptionTest, ASwitchIsOnOrOff) {
  const ParamDescription& row = ParamRows()[FindParam("psfCheck")];
  EXPECT_TRUE(row.onOff);
  EXPECT_EQ(TypeNameOf(row), "on|off");
  EXPECT_EQ(ParamRangeText(row), "on or off");
  ParamSet p = InitParams();
  EXPECT_EQ(ParamValueText(row, p), "on");
  EXPECT_EQ(NumberOf(row, p), 1.0);
  EXPECT_EQ(SetParamFromText(row, "off", p), "");
  EXPECT_EQ(NumberOf(row, p), 0.0);
  EXPECT_EQ(ParamValueText(row, p), "off");
  for (const char* wrong : {"1", "0", "yes", "On", ""}) {
    SCOPED_TRACE(wrong);
    EXPECT_EQ(SetParamFromText(row, wrong, p), "on or off");
    EXPECT_EQ(NumberOf(row, p), 0.0);
  }
}

// A file saved with a byte-order mark reads as the same values, the pattern without it.
TEST(ParamFileTest, AByteOrderMarkIsNoPartOfTheFirstValue) {
  testing::TempFolder dir;
  WriteFileAtomically(dir.File("param.txt"), std::string("\xEF\xBB\xBF") + kInitFile);
  ParamSet loaded = InitParams();
  loaded.lrPattern = "changed";
  const ParamFileReport report = ReadParamFile(dir.File("param.txt"), loaded);
  EXPECT_TRUE(report.problem.empty()) << report.problem;
  EXPECT_EQ(loaded.lrPattern, "./images/lr-%d.bmp");

  // Two marks (a file saved twice by such an editor): the pattern keeps neither, so what is
  // read formats and reads back the same.
  WriteFileAtomically(dir.File("param.txt"), std::string("\xEF\xBB\xBF\xEF\xBB\xBF") + kInitFile);
  const ParamFileReport twice = ReadParamFile(dir.File("param.txt"), loaded);
  EXPECT_TRUE(twice.problem.empty()) << twice.problem;
  EXPECT_EQ(loaded.lrPattern, "./images/lr-%d.bmp");

  // A mark after blank lines, or standing alone on its line, goes the same way.
  WriteFileAtomically(dir.File("param.txt"), std::string("\n\xEF\xBB\xBF\n") + kInitFile);
  const ParamFileReport alone = ReadParamFile(dir.File("param.txt"), loaded);
  EXPECT_TRUE(alone.problem.empty()) << alone.problem;
  EXPECT_EQ(loaded.lrPattern, "./images/lr-%d.bmp");
  EXPECT_EQ(alone.valuesRead, 17);
}

TEST(ParamFileTest, AReaderOfSeventeenValuesIgnoresTheLaterLines) {
  // The way the file has always been read: 17 formatted extractions and nothing more.
  const std::string text = FormatParamFile(OtherParams());
  std::istringstream in(text);
  std::string pattern, base;
  int count, left, top, right, bottom, first, second, sad, search;
  double scale, psf, alpha, beta, lambda, filter;
  in >> pattern >> base >> count >> left >> top >> right >> bottom >> scale >> psf >> alpha >> beta >> lambda >>
      filter >> first >> second >> sad >> search;
  ASSERT_TRUE(in);
  EXPECT_EQ(FormatParamFile(OtherParams()).substr(0, text.find("\nstartIndex")),
            Lines(text)[0] + "\n" + base + "\n" + std::to_string(count) + "\n" + std::to_string(left) + "\n" +
                std::to_string(top) + "\n" + std::to_string(right) + "\n" + std::to_string(bottom) + "\n3\n0.45\n0.5\n2\n"
                "0.0004\n2.25\n" + std::to_string(first) + "\n" + std::to_string(second) + "\n" + std::to_string(sad) +
                "\n" + std::to_string(search));
  EXPECT_EQ(std::tuple(scale, psf, lambda, filter), std::tuple(3.0, 0.45, 0.0004, 2.25));
}

TEST(ParamFileTest, ReadingStopsAtTheFirstBadWordNamingItsLineAndWhatIsReset) {
  lumet::testing::TempFolder dir;
  const std::vector<std::string> other = Lines(FormatParamFile(OtherParams()));
  const std::vector<std::string> init = Lines(kInitFile);
  struct Case {
    std::string what, text;
    size_t read;  // values taken, in order
    std::string problem;
    const std::vector<std::string>* source = nullptr;  // the values taken are its first ones (if given)
  };
  std::vector<Case> cases = {
      {"every value", FormatParamFile(OtherParams()), 17, "", &other},
      {"any white space", "  frames/f%03d.bmp\r\nout/sr\t12 5 7\r\n30\r\r52 3 0.45 0.5 2 4e-4 2.25 10 15 16 24\r\n"
                          "startIndex 7\nmethod enhanced\n", 17, "", &other},
      {"integer overflow", "a%d.bmp\nout\n99999999999\n1\n2\n3\n4", 2,
       "line 3 (LR count): \"99999999999\" cannot be read as a 32-bit whole number"},
      {"junk after a number", "a%d.bmp\nout\n12abc\n1\n2\n3\n4", 2, "line 3 (LR count): \"12abc\""},
      {"too large for a double", std::string(kInitFile).replace(std::string(kInitFile).find("0.7"), 3, "1e999"), 9,
       "line 10 (alpha): \"1e999\" cannot be read as a number; reset to the standard values: alpha 0.7, beta 1, "
       "lambda 0.003, filter sigma 1.5, RANSAC 20/25, SAD size 32, search area 40", &init},
      {"text value too long", std::string(1024, 'a') + "\nout\n5", 0, "line 1 (LR pattern)"},
      {"unknown later name", std::string(kInitFile) + "\nsharpness 3", 17,
       "line 18: unknown name \"sharpness\" (the names after line 17 are startIndex, method, iterations, tolerance, "
       "psfCheck, linearLight, localMotion); the line is left out"},
      {"later value malformed", std::string(kInitFile) + "\n\nstartIndex x1", 17,
       "line 19 (start index): \"x1\" cannot be read (expected a whole number)"},
      {"later value twice", std::string(kInitFile) + "\nmethod enhanced\nmethod classic", 17, "line 19 (method)"},
      {"word after the 17th", std::string(kInitFile) + " 41", 17, "line 17: \"41\" follows the 17th value"},
  };
  for (size_t bad : {0, 1, 2, 7, 16}) {
    std::string text;
    for (size_t i = 0; i < bad; ++i) text += other[i] + "\n";
    cases.push_back({"value " + std::to_string(bad + 1) + " missing", text, bad,
                     "line " + std::to_string(bad + 1) + " (", &other});
    // Text values: a pattern the system refuses; numbers: a word that is no number.
    cases.push_back({"value " + std::to_string(bad + 1) + " unreadable",
                     text + (bad == 0 ? "lr-%s.bmp" : bad == 1 ? "out%d" : "x12") + "\n1\n2\n3", bad,
                     "line " + std::to_string(bad + 1) + " (", &other});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileAtomically(dir.File("param.txt"), c.text);
    ParamSet loaded = InitParams();
    const ParamFileReport report = ReadParamFile(dir.File("param.txt"), loaded);
    EXPECT_EQ(report.valuesRead, static_cast<int>(c.read));
    const std::vector<std::string> got = Lines(FormatParamFile(loaded));
    for (size_t i = 0; c.source != nullptr && i < 17; ++i) {
      EXPECT_EQ(got[i], i < c.read ? (*c.source)[i] : init[i]) << "line " << i + 1;
    }
    if (c.problem.empty()) {
      EXPECT_EQ(report.problem, "");
    } else {
      EXPECT_NE(UnreadableParamFileNotice(report).find(dir.File("param.txt") + " " + c.problem), std::string::npos)
          << UnreadableParamFileNotice(report);
    }
  }
  ParamSet kept = OtherParams();
  EXPECT_FALSE(ReadParamFile(dir.File("no-such-param.txt"), kept).found);
  EXPECT_THROW(LoadParams(dir.Path().string(), kept), Error);  // a folder is no parameter file
  EXPECT_EQ(kept, OtherParams());
}

TEST(ParamFileTest, AnUnreadableFileIsKeptAsBadWithTheSameWordsForEveryFrontEnd) {
  lumet::testing::TempFolder dir;
  const std::string path = dir.File("param.txt");
  const std::string old = std::string(kInitFile).replace(std::string(kInitFile).find("0.003"), 5, "1e999");
  WriteFileAtomically(path, old);
  ParamSet loaded = InitParams();
  const ParamFileReport report = ReadParamFile(path, loaded);
  const std::string problem = path + " line 12 (lambda): \"1e999\" cannot be read as a number";
  EXPECT_EQ(UnreadableParamFileNotice(report), problem +
                                                   "; reset to the standard values: lambda 0.003, filter sigma 1.5, "
                                                   "RANSAC 20/25, SAD size 32, search area 40; the old file is kept as " +
                                                   path + ".bad");
  EXPECT_EQ(UnreadableParamFileError(report).rfind(problem, 0), 0u);
  KeepUnreadableParamFile(report);
  EXPECT_EQ(ReadWholeFile(path + ".bad"), old);
}

// A NUL would end the message where it is printed: control characters are shown escaped.
TEST(ParamCheckTest, ControlCharactersAreShownEscapedInTheMessage) {
  ParamSet p = InitParams();
  p.outputBase = std::string("out\0put\x1b", 8);
  try {
    CheckParams(p);
    ADD_FAILURE() << "accepted";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "output base \"out\\x00put\\x1b\" holds a control character");
  }
}

TEST(ParamCheckTest, EveryValueOutsideItsRangeIsRefusedNamingItsLabelAndRange) {
  const std::tuple<const char*, const char*, std::vector<std::string>> cases[] = {
      {"sadSize", "-2147483648", {"SAD size -2147483648 is out of range (allowed: 0 to 1000)"}},
      {"sadSize", "1001", {"SAD size 1001", "0 to 1000"}},
      {"lrCount", "0", {"LR count 0 is out of range (allowed: 1 to 100000)"}},
      {"searchArea", "-1", {"search area -1", "0 to 32768"}},
      {"startIndex", "-1", {"start index -1", "0 to 999999999"}},
      {"roi", "-2147483648,0,10,10", {"ROI -2147483648,0,10,10: x -2147483648 is out of range (allowed: 0 to 32767)"}},
      {"roi", "0,0,2147483647,10", {"ROI 0,0,2147483647,10: w 2147483647", "1 to 32768"}},
      {"roi", "10,20,0,40", {"ROI 10,20,0,40: w 0 is out of range"}},
      {"roi", "10,20,40,-5", {"ROI 10,20,40,-5: h -5"}},
      {"scale", "5", {"scale 5 is out of range (allowed: 2, 3 or 4)"}},
      {"psfSigma", "6.6", {"PSF sigma 6.6 is out of range (allowed: above 0, at most 2)"}},
      {"psfSigma", "0", {"PSF sigma 0 is out of range"}},
      {"psfSigma", "nan", {"PSF sigma nan"}},
      {"filterSigma", "0", {"filter sigma 0 is out of range (allowed: above 0, at most 5)"}},
      {"filterSigma", "1e300", {"filter sigma 1e+300"}},
      {"lambda", "inf", {"lambda inf is out of range (allowed: any finite number)"}},
      {"alpha", "-inf", {"alpha -inf"}},
      {"ransac", "0/25", {"RANSAC 0/25: the sample size 0 is out of range (allowed: 1 to 1000)"}},
      {"ransac", "13/12", {"RANSAC 13/12: the sample size 13 exceeds the pool size 12"}},
      {"method", "fast", {"method \"fast\" is out of range (allowed: classic or enhanced)"}},
      {"lrPattern", "a%s.bmp", {"LR pattern \"a%s.bmp\" has the conversion \"%s\""}},
      {"outputBase", "out%d", {"output base \"out%d\" holds \"%\""}},
      {"outputBase", "./result/hr/", {"output base \"./result/hr/\" names a folder"}},
      {"outputBase", "..", {"output base \"..\" names a folder"}},
      // The HR grid must hold the PSF kernel: 3 x 3 LR pixels at scale 4 against 17 x 17.
      {"roi", "10,10,3,3", {"ROI 10,10,3,3 at scale 4 gives an HR grid of 12 x 12 pixels", "17 x 17 PSF kernel"}},
  };
  for (const auto& [name, text, expected] : cases) {
    SCOPED_TRACE(std::string(name) + " " + text);
    ParamSet p = InitParams();
    try {
      ASSERT_EQ(SetParamFromText(ParamRows()[FindParam(name)], text, p), "");
    } catch (const ParamError& e) {  // beyond 32 bits: refused while reading, in the same words
      for (const std::string& t : expected) EXPECT_NE(std::string(e.what()).find(t), std::string::npos) << e.what();
      continue;
    }
    ExpectRefused([&] { CheckParams(p); }, expected);
  }
  // Accepted edges.
  for (const auto& [name, text] : std::vector<std::pair<const char*, const char*>>{
           {"ransac", "40/31"}, {"ransac", "5/5"}, {"psfSigma", "2"}, {"sadSize", "0"}, {"roi", "0,0,32768,32768"}}) {
    SCOPED_TRACE(std::string(name) + " " + text);
    ParamSet p = InitParams();
    ASSERT_EQ(SetParamFromText(ParamRows()[FindParam(name)], text, p), "");
    EXPECT_NO_THROW(CheckParams(p));
  }
}

TEST(ParamCheckTest, AStoredValueOutOfRangeIsNamedByItsLine) {
  lumet::testing::TempFolder dir;
  const std::pair<std::string, std::string> cases[] = {
      {std::string(kInitFile).replace(std::string(kInitFile).rfind("32"), 2, "-2147483648"),
       " line 16: SAD size -2147483648 is out of range"},
      {"./images/lr-%d.bmp\n./result/hr\n30\n160\n100\n2147483647\n140\n4\n0.6\n0.7\n1\n0.003\n1.5\n20\n25\n32\n40",
       " line 6: ROI 160,100,2147483487,40: w 2147483487 is out of range"},
      {std::string(kInitFile).replace(std::string(kInitFile).find("0.6"), 3, "6.6"), " line 9: PSF sigma 6.6"},
      {std::string(kInitFile) + "\nmethod fast", " line 18: method \"fast\""},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(expected);
    WriteFileAtomically(dir.File("param.txt"), text);
    ParamSet p = InitParams();
    const ParamFileReport report = ReadParamFile(dir.File("param.txt"), p);
    ASSERT_EQ(report.problem, "");
    ExpectRefused([&] { CheckLoadedParams(p, report); }, {dir.File("param.txt") + expected});
  }
}

TEST(ParamSetTest, TextValuesTheFileCannotHoldAndPatternsBeyondOneIntegerAreRefused) {
  struct Case {
    std::string lrPattern, outputBase;
    char verdict;  // a: accepted; c: conversion refused (by FormatFrameName too); l: LR pattern, o: output base refused
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
      ExpectRefused([&] { CheckParams(p); }, {c.verdict == 'o' ? "output base" : "LR pattern"});
      if (c.verdict == 'c') { EXPECT_THROW(FormatFrameName(c.lrPattern, 1), Error); }
      continue;
    }
    EXPECT_NO_THROW(CheckParams(p));
    for (int k : {0, 7, -17, 1234}) {
      char expected[2048];
      std::snprintf(expected, sizeof expected, c.lrPattern.c_str(), k);
      EXPECT_EQ(FormatFrameName(c.lrPattern, k), expected) << k;
    }
  }
}

TEST(ParamFileTest, AdoptionRefusesBadValuesAndThenChangesNeitherTheSetNorTheFile) {
  lumet::testing::TempFolder dir;
  ParamSet adopted = OtherParams();
  adopted.firstFrame = 9;
  AdoptParams(adopted, dir.File("param.txt"));
  // Frame 0 is file number startIndex (7 here).
  EXPECT_EQ(adopted.referenceFile + " " + std::to_string(adopted.firstFrame), "frames/f007.bmp 1");
  const std::string stored = ReadWholeFile(dir.File("param.txt"));
  const std::tuple<double ParamSet::*, double, const char*> refused[] = {{&ParamSet::lambda, INFINITY, "lambda"},
                                                                         {&ParamSet::psfSigma, 0.0, "PSF sigma"}};
  for (const auto& [member, value, field] : refused) {
    ParamSet q = adopted;
    q.lrCount = 5, q.firstFrame = 4, q.*member = value;
    const ParamSet before = q;
    ExpectRefused([&] { AdoptParams(q, dir.File("param.txt")); }, {field});
    EXPECT_EQ(q, before);
    EXPECT_EQ(ReadWholeFile(dir.File("param.txt")), stored);
  }
  WriteFileAtomically(dir.File("blocker"), "x");  // a parameter file that cannot be written
  ParamSet q = OtherParams();
  EXPECT_THROW(AdoptParams(q, dir.File("blocker/param.txt")), Error);
  EXPECT_EQ(q, OtherParams());  // nothing adopted
}

}  // namespace
}  // namespace lumet

namespace lumet {
namespace {

TEST(FrameGlobTest, AWildcardNamesTheFilesItMatchesInNaturalOrder) {
  testing::TempFolder dir;
  for (const char* name : {"lr-10.png", "lr-2.png", "lr-1.png", "lr-007.png", "notes.txt"}) {
    WriteFileAtomically(dir.File(name), "x");
  }
  std::filesystem::create_directories(dir.Path() / "lr-3.png");  // a folder is no frame
  const std::string pattern = (dir.Path() / "lr-*.png").string();
  EXPECT_TRUE(IsFrameGlob(pattern));
  EXPECT_FALSE(IsFrameGlob("lr-%d.png"));
  EXPECT_EQ(LrPatternProblem(pattern), "");
  std::vector<std::string> names;
  for (int k = 0; k < 4; ++k) names.push_back(std::filesystem::path(FormatFrameName(pattern, k)).filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{"lr-1.png", "lr-2.png", "lr-007.png", "lr-10.png"}));
  EXPECT_EQ(FormatFrameName(pattern, 4), pattern + " (match 4 of 4)");
  EXPECT_FALSE(std::filesystem::exists(FormatFrameName(pattern, 4)));
  // A file added is found (the folder changed).
  WriteFileAtomically(dir.File("lr-11.png"), "x");
  EXPECT_EQ(std::filesystem::path(FormatFrameName(pattern, 4)).filename(), "lr-11.png");

  // Folders are names, not wildcards: "x*" is the folder called so, not every folder
  // starting with x (such a pattern could otherwise walk the whole disk).
  for (const char* folder : {"x*", "xy"}) {
    std::filesystem::create_directories(dir.Path() / folder);
    WriteFileAtomically((dir.Path() / folder / "lr-5.png").string(), folder);
  }
  const std::string literalFolder = (dir.Path() / "x*" / "*.png").string();
  EXPECT_TRUE(IsFrameGlob(literalFolder));
  EXPECT_EQ(FormatFrameName(literalFolder, 0), (dir.Path() / "x*" / "lr-5.png").string());
  EXPECT_EQ(FormatFrameName(literalFolder, 1), literalFolder + " (match 1 of 1)");
  EXPECT_FALSE(IsFrameGlob((dir.Path() / "x*" / "lr-%d.png").string()));
  EXPECT_FALSE(IsFrameGlob((dir.Path() / "x*" / "lr.png").string()));

  EXPECT_TRUE(NaturalLess("a9", "a10"));
  EXPECT_FALSE(NaturalLess("a10", "a9"));
  EXPECT_TRUE(NaturalLess("a7", "a007"));
  EXPECT_TRUE(NaturalLess("a", "a1"));
  EXPECT_FALSE(NaturalLess("b1", "a2"));
}

}  // namespace
}  // namespace lumet
