// The library through its public headers only, as a program that links liblumet sees it.
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lumet/lumet.h"
#include "support/metadata_blobs.h"
#include "support/temp_folder.h"
#include "support/test_images.h"

namespace lumet {
namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

// Frame k shows the blob scene moved by -shift[k]: the scene's point s is at s - shift[k]
// in frame k, so the homography from frame r to frame k is the translation shift[r] - shift[k].
struct Shift {
  double dx;
  double dy;
};
const std::vector<Shift> kShifts = {{0, 0}, {1.5, -0.75}, {-2.25, 1.25}, {0.5, 2.5}, {3.0, -1.5}};

Frame MakeFrame(const Shift& d) {
  Frame f{kWidth, kHeight, std::vector<std::uint8_t>(3 * kWidth * kHeight)};
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double v = testing::BlobScene(x + d.dx, y + d.dy);
      for (int c = 0; c < 3; ++c) f.rgb[3 * (y * kWidth + x) + c] = testing::Level(v * (0.8 + 0.1 * c));
    }
  }
  return f;
}

Sequence MakeSequence() {
  std::vector<Frame> frames;
  for (const Shift& d : kShifts) frames.push_back(MakeFrame(d));
  return Sequence::FromFrames(std::move(frames));
}

Settings SmallSettings() {
  Settings s;
  s.roi = Rect{60, 40, 40, 40};
  s.scale = 2;
  s.ransacFirst = 8;
  s.ransacSecond = 12;
  s.sadSize = 12;
  s.searchArea = 10;
  return s;
}

// Where h takes (x, y).
void Apply(const PixelHomography& h, double x, double y, double& u, double& v) {
  const double d = h(2, 0) * x + h(2, 1) * y + h(2, 2);
  u = (h(0, 0) * x + h(0, 1) * y + h(0, 2)) / d;
  v = (h(1, 0) * x + h(1, 1) * y + h(1, 2)) / d;
}

TEST(LibraryRegister, FramesBeforeAndAfterAnyReferenceGetTheirShifts) {
  const Sequence sequence = MakeSequence();
  const Settings settings = SmallSettings();
  const int reference = 2;
  const Registration registration = Register(sequence, reference, {0, 1, 3, 4}, settings);
  EXPECT_EQ(registration.Frames(reference), (std::vector<int>{0, 1, 3, 4}));
  EXPECT_TRUE(registration.Frames(0).empty());
  EXPECT_EQ(registration.Pixels(reference, reference).m, PixelHomography::Identity().m);
  for (const int k : {0, 1, 3, 4}) {
    SCOPED_TRACE("frame " + std::to_string(k));
    const PixelHomography h = registration.Pixels(reference, k);
    const double dx = kShifts[reference].dx - kShifts[k].dx;
    const double dy = kShifts[reference].dy - kShifts[k].dy;
    // At the ROI's centre, within a tenth of a pixel of the true translation.
    const double x = settings.roi.x + settings.roi.width / 2.0;
    const double y = settings.roi.y + settings.roi.height / 2.0;
    double u = 0, v = 0;
    Apply(h, x, y, u, v);
    EXPECT_NEAR(u - x, dx, 0.1);
    EXPECT_NEAR(v - y, dy, 0.1);
    ASSERT_TRUE(registration.Scores(reference, k).has_value());
    EXPECT_LT(registration.Scores(reference, k)->refinement, 2.0);
  }
}

TEST(LibraryRegister, RepeatsExactlyAndTellsItsProgress) {
  struct Recorder : Observer {
    std::vector<Progress> progress;
    std::vector<std::string> log;
    void OnProgress(const Progress& p) override { progress.push_back(p); }
    void OnLog(const std::string& line) override { log.push_back(line); }
  } recorder;
  const Sequence sequence = MakeSequence();
  const Registration a = Register(sequence, 0, {1, 2, 3, 4}, SmallSettings(), &recorder);
  const Registration b = Register(sequence, 0, {1, 2, 3, 4}, SmallSettings());
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(a.Pixels(0, k).m, b.Pixels(0, k).m) << "frame " << k;
  ASSERT_EQ(recorder.progress.size(), 4u);
  EXPECT_EQ(recorder.progress.back().stage, "Registration");
  EXPECT_EQ(recorder.progress.back().step, 4);
  EXPECT_EQ(recorder.progress.back().total, 4);
  ASSERT_EQ(recorder.log.size(), 4u);
  EXPECT_EQ(recorder.log[0].rfind("MAE(1) = ", 0), 0u) << recorder.log[0];
}

TEST(LibraryRegistration, HoldsHomographiesAtTheFilesPrecision) {
  Registration r;
  PixelHomography h;
  h.m = {1.000123456789, 0.00234567891, 12.3456789012, -0.0011111111, 0.99987654321, -7.65432109876,
         1.23456789e-6, -9.87654321e-7, 1.0};
  r.Set(0, 1, h);
  const FileHomography file = r.FileUnits(0, 1);
  // The file's units: the translation divided by 600, the perspective row multiplied by it,
  // six significant digits each.
  EXPECT_DOUBLE_EQ(file[0], 1.00012);
  EXPECT_DOUBLE_EQ(file[2], 0.0205761);
  EXPECT_DOUBLE_EQ(file[5], -0.0127572);
  EXPECT_DOUBLE_EQ(file[6], 0.000740741);
  // Held values are a fixed point: setting them again changes nothing.
  const PixelHomography held = r.Pixels(0, 1);
  r.Set(0, 1, held);
  EXPECT_EQ(r.Pixels(0, 1).m, held.m);
  EXPECT_NEAR(held(0, 2), 12.3456789012, 1e-4);
  // Any scale of the same map (as OpenCV's findHomography may give it) is the same map.
  PixelHomography scaled = h;
  for (double& v : scaled.m) v *= 2.5;
  r.Set(0, 2, scaled);
  EXPECT_EQ(r.FileUnits(0, 2), file);
  r.SetFileUnits(3, 4, file);
  EXPECT_EQ(r.Pixels(3, 4).m, held.m);
  EXPECT_FALSE(r.Contains(1, 0));
  EXPECT_TRUE(r.Contains(5, 5));
}

// The mean absolute difference between the estimate's green band and the scene as the
// reference frame shows it, sampled at the HR pixels' positions, inside a margin.
double GreenErrorAgainstScene(const Estimate& e, const Settings& s, const Shift& d) {
  double sum = 0;
  int n = 0;
  for (int r = 6; r < e.height - 6; ++r) {
    for (int c = 6; c < e.width - 6; ++c) {
      const double x = s.roi.x + c / s.scale;
      const double y = s.roi.y + r / s.scale;
      sum += std::abs(e.band[1][static_cast<size_t>(r * e.width + c)] - 0.9 * testing::BlobScene(x + d.dx, y + d.dy));
      ++n;
    }
  }
  return sum / n;
}

TEST(LibraryReconstruct, AnyReferenceGivesItsOwnViewOfTheScene) {
  const Sequence sequence = MakeSequence();
  const Settings settings = SmallSettings();
  for (const int reference : {0, 2}) {
    SCOPED_TRACE("reference " + std::to_string(reference));
    std::vector<int> others;
    for (int k = 0; k < static_cast<int>(kShifts.size()); ++k) {
      if (k != reference) others.push_back(k);
    }
    const Registration registration = Register(sequence, reference, others, settings);
    const Result result = Reconstruct(sequence, registration, reference, others, settings);
    ASSERT_EQ(result.estimate.width, 80);
    ASSERT_EQ(result.estimate.height, 80);
    EXPECT_EQ(result.outcome.frames.front(), reference);
    EXPECT_EQ(result.outcome.frameErrors.size(), kShifts.size());
    // The classic selection: frames up to the first whose error passes the 90 % quantile.
    EXPECT_TRUE(result.outcome.thresholdApplied);
    EXPECT_EQ(result.outcome.thresholdIndex, 4);
    EXPECT_GE(result.outcome.framesUsed, 1);
    EXPECT_LE(result.outcome.framesUsed, 5);
    EXPECT_EQ(result.outcome.iterations, 100);
    EXPECT_DOUBLE_EQ(result.outcome.psfSigma, settings.psfSigma);
    // Its own view within a few grey levels; another frame's view would be shifted by a
    // pixel or more, several times as far off on this texture.
    EXPECT_LT(GreenErrorAgainstScene(result.estimate, settings, kShifts[static_cast<size_t>(reference)]), 3.0);
    const int other = reference == 0 ? 2 : 0;
    EXPECT_GT(GreenErrorAgainstScene(result.estimate, settings, kShifts[static_cast<size_t>(other)]), 6.0);
  }
}

TEST(LibraryReconstruct, FramesOfTheRegistrationByDefaultAsTheMethodTakesThem) {
  const Sequence sequence = MakeSequence();
  Settings settings = SmallSettings();
  const Registration registration = Register(sequence, 0, {1, 2, 3, 4}, settings);
  // The classic method leaves out the last registered frame; the enhanced one holds it out.
  EXPECT_EQ(Reconstruct(sequence, registration, 0, {}, settings).outcome.frames, (std::vector<int>{0, 1, 2, 3}));
  settings.method = "enhanced";
  settings.methodParams["iterations"] = 3;
  EXPECT_EQ(Reconstruct(sequence, registration, 0, {}, settings).outcome.frames, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(LibraryReconstruct, AFrameWithoutErrorIsWarnedOfByItsNumber) {
  const Sequence sequence = MakeSequence();
  const Settings settings = SmallSettings();
  Registration registration = Register(sequence, 0, {1, 2, 3}, settings);
  PixelHomography away;
  away.m[2] = 5000;  // the ROI lands far outside frame 3
  registration.Set(0, 3, away);
  struct Recorder : Observer {
    std::vector<Warning> warnings;
    void OnWarning(const Warning& w) override { warnings.push_back(w); }
  } recorder;
  const Result result = Reconstruct(sequence, registration, 0, {1, 2, 3}, settings, &recorder);
  EXPECT_TRUE(std::isnan(result.outcome.frameErrors[3]));
  ASSERT_FALSE(result.outcome.warnings.empty());
  EXPECT_EQ(result.outcome.warnings[0].frames, (std::vector<int>{3}));
  EXPECT_NE(result.outcome.warnings[0].kind.find("no usable part"), std::string::npos);
  EXPECT_EQ(result.outcome.warnings[0].Text().rfind("frame 3: ", 0), 0u) << result.outcome.warnings[0].Text();
  ASSERT_FALSE(recorder.warnings.empty());
  EXPECT_EQ(recorder.warnings[0].frames, (std::vector<int>{3}));
}

TEST(LibraryErrors, NameTheValueOrTheFrameAtFault) {
  const Sequence sequence = MakeSequence();
  const auto message = [](const auto& call) {
    try {
      call();
    } catch (const Error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  Settings bad = SmallSettings();
  bad.psfSigma = 0;
  EXPECT_NE(message([&] { Register(sequence, 0, {1}, bad); }).find("PSF sigma"), std::string::npos);
  EXPECT_NE(message([&] { Register(sequence, 0, {0, 1}, SmallSettings()); }).find("is the reference"), std::string::npos);
  // Before any work: a frame the sequence does not have.
  EXPECT_NE(message([&] { Register(sequence, 0, {1, 7}, SmallSettings()); }).find("frame 7 is needed, but the "
                                                                                     "sequence has only frames 0 .. 4"),
            std::string::npos);
  Settings outside = SmallSettings();
  outside.roi = Rect{150, 100, 40, 40};
  EXPECT_NE(message([&] { Register(sequence, 0, {1}, outside); }).find("ROI"), std::string::npos);
  const Registration registration = Register(sequence, 0, {1}, SmallSettings());
  EXPECT_NE(message([&] { Reconstruct(sequence, registration, 0, {1, 2}, SmallSettings()); })
                .find("frame 2 against reference frame 0"),
            std::string::npos);
  EXPECT_NE(message([] { Sequence::FromFrames({Frame{4, 4, std::vector<std::uint8_t>(47)}}); }).find("frames[0]"),
            std::string::npos);
  EXPECT_NE(message([] { Sequence::FromPattern("lr-%s.bmp"); }).find("lr-%s.bmp"), std::string::npos);
  Settings huge = SmallSettings();
  huge.memoryLimit = 1 << 20;
  EXPECT_NE(message([&] { Reconstruct(sequence, registration, 0, {1}, huge); }).find("HR grid"), std::string::npos);
  // A method's own parameter out of its range, and one no method declares.
  Settings capped = SmallSettings();
  capped.methodParams["iterations"] = 0.5;
  EXPECT_NE(message([&] { Register(sequence, 0, {1}, capped); }).find("iteration cap 0.5 is out of range"),
            std::string::npos);
  capped.methodParams = {{"iteration", 5}};
  EXPECT_NE(message([&] { Register(sequence, 0, {1}, capped); }).find("no method has a parameter called \"iteration\""),
            std::string::npos);
}

TEST(LibraryObserver, CancelsAndShowsPicturesOfTheGrid) {
  const Sequence sequence = MakeSequence();
  const Settings settings = SmallSettings();
  struct Canceller : Observer {
    int calls = 0;
    bool CancelRequested() override { return ++calls > 2; }
  } canceller;
  EXPECT_THROW(Register(sequence, 0, {1, 2, 3, 4}, settings, &canceller), Cancelled);
  const Registration registration = Register(sequence, 0, {1, 2}, settings);
  struct Watcher : Observer {
    std::vector<Frame> pictures;
    bool WantsPictures() const override { return true; }
    void OnPicture(const Frame& f) override { pictures.push_back(f); }
  } watcher;
  Reconstruct(sequence, registration, 0, {1, 2}, settings, &watcher);
  ASSERT_FALSE(watcher.pictures.empty());
  EXPECT_EQ(watcher.pictures.back().width, 80);
  EXPECT_EQ(watcher.pictures.back().height, 80);
}

TEST(LibraryFrames, EstimateCutAsTheResultFilesHoldItAndWrittenAndReadBack) {
  Estimate e;
  e.width = 4;
  e.height = 1;
  e.band = {std::vector<double>{-3, 0.9, 254.99, 300}, std::vector<double>{1, 2, 3, 4}, std::vector<double>{5, 6, 7, 8}};
  const Frame f = ToFrame(e);
  EXPECT_EQ(f.rgb, (std::vector<std::uint8_t>{0, 1, 5, 0, 2, 6, 254, 3, 7, 255, 4, 8}));
  testing::TempFolder folder;
  for (const char* name : {"f.bmp", "f.png", "f.tif"}) {
    SCOPED_TRACE(name);
    const std::string path = (folder.Path() / name).string();
    WriteFrame(path, f);
    const Frame back = ReadFrame(path);
    EXPECT_EQ(back.width, 4);
    EXPECT_EQ(back.rgb, f.rgb);
  }
  EXPECT_THROW(WriteFrame((folder.Path() / "f.gif").string(), f), Error);
  e.band[2].pop_back();
  EXPECT_THROW(ToFrame(e), Error);
}

// Frame 0's profile and EXIF read and written with a result; a format that would drop
// what was asked to be kept refuses, naming it, and leaves no file.
TEST(LibraryFrames, MetadataReadAndCarriedWhereTheFormatHoldsIt) {
  testing::TempFolder folder;
  Frame f;
  f.width = 3;
  f.height = 2;
  f.rgb = std::vector<std::uint8_t>(18, 90);
  FrameMetadata metadata;
  metadata.iccProfile = testing::TestIccProfile(500);
  metadata.exif = testing::TestExif();
  const std::string png = (folder.Path() / "meta.png").string();
  WriteFrame(png, f, metadata);
  const FrameMetadata back = ReadFrameMetadata(png);
  EXPECT_EQ(back.iccProfile, metadata.iccProfile);
  EXPECT_EQ(back.exif, metadata.exif);
  EXPECT_EQ(ReadFrame(png).rgb, f.rgb);
  const std::string tif = (folder.Path() / "meta.tif").string();
  WriteFrame(tif, f, FrameMetadata{metadata.iccProfile, ""});
  EXPECT_EQ(ReadFrameMetadata(tif).iccProfile, metadata.iccProfile);
  EXPECT_TRUE(ReadFrameMetadata(tif).exif.empty());
  // The EXIF as TIFF's own: its orientation in the first directory, beside an EXIF one.
  WriteFrame(tif, f, metadata);
  EXPECT_EQ(testing::ExifEntry(ReadFrameMetadata(tif).exif, 0, 0x0112), testing::ShortTag(0x0112, 1));
  // A thumbnail TIFF has no place for: refused, naming it.
  const std::string thumbnail = (folder.Path() / "thumbnail.tif").string();
  try {
    WriteFrame(thumbnail, f, FrameMetadata{"", testing::CameraExif({}, {testing::ShortTag(0x8827, 100)}, {}, true)});
    ADD_FAILURE() << "a TIFF was written without the EXIF thumbnail asked for";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("thumbnail.tif with its EXIF thumbnail: a TIFF result keeps"), std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(thumbnail));
  const std::string bmp = (folder.Path() / "meta.bmp").string();
  try {
    WriteFrame(bmp, f, metadata);
    ADD_FAILURE() << "a BMP was written with metadata";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("meta.bmp with its ICC profile and EXIF"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(bmp));
  // No metadata: the plain file.
  WriteFrame(bmp, f, FrameMetadata{});
  EXPECT_TRUE(ReadFrameMetadata(bmp).iccProfile.empty());
}

TEST(LibraryVersion, IsTheOneBuiltAgainst) {
  EXPECT_STREQ(Version(), LUMET_VERSION);
  EXPECT_EQ(Methods(), (std::vector<std::string>{"classic", "enhanced"}));
  // The enhanced method's own parameters, with their defaults in every Settings.
  EXPECT_TRUE(MethodParameters("classic").empty());
  const std::vector<MethodParameter> own = MethodParameters("enhanced");
  ASSERT_EQ(own.size(), 5u);
  EXPECT_EQ(own[0].name, "iterations");
  EXPECT_TRUE(own[0].whole);
  EXPECT_EQ(own[0].defaultValue, 60);
  EXPECT_EQ(own[1].name, "tolerance");
  EXPECT_EQ(own[1].defaultValue, 1e-4);
  // The PSF check, a switch: 1 on, 0 off.
  EXPECT_EQ(own[2].name, "psfCheck");
  EXPECT_TRUE(own[2].whole);
  EXPECT_EQ(own[2].defaultValue, 1);
  // The solve in linear light, a switch off by default.
  EXPECT_EQ(own[3].name, "linearLight");
  EXPECT_TRUE(own[3].whole);
  EXPECT_EQ(own[3].defaultValue, 0);
  // Following what moves on its own, a switch on by default.
  EXPECT_EQ(own[4].name, "localMotion");
  EXPECT_TRUE(own[4].whole);
  EXPECT_EQ(own[4].defaultValue, 1);
  EXPECT_EQ(Settings().methodParams,
            (std::map<std::string, double>{
                {"iterations", 60}, {"tolerance", 1e-4}, {"psfCheck", 1}, {"linearLight", 0}, {"localMotion", 1}}));
  EXPECT_THROW(MethodParameters("bicubic"), Error);
}

}  // namespace
}  // namespace lumet
