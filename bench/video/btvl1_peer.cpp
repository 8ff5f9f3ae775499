// lumet-btvl1-peer INPUT COUNT OUTPUT SCALE RADIUS X,Y,W,H: the BTV-L1 video super-resolution
// of Debian's OpenCV superres module over the frames INPUT names (a pattern, frames 0 .. COUNT
// - 1), output frame k cut to the ROI on the HR grid (HR pixel X at LR position X / SCALE, as
// Lumet's grid; the ROI must keep the peer's border, its BTV kernel size in HR pixels, away
// from the frame's edge) and written as OUTPUT's frame k. For side-by-side benchmarks only: nothing of
// the product links it. Prints the time per frame.
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/superres.hpp>
#include <opencv2/superres/optical_flow.hpp>

#include "imageio/image_file.h"
#include "params/param_set.h"

namespace {

cv::Mat ToMat(const lumet::ColorGrayImage& image) {
  cv::Mat m(image.Height(), image.Width(), CV_8UC3);
  for (int y = 0; y < image.Height(); ++y) {
    auto* row = m.ptr<cv::Vec3b>(y);
    for (int x = 0; x < image.Width(); ++x) {
      // The peer's frames are BGR.
      row[x] = cv::Vec3b(image.channels[2].Row(y)[x], image.channels[1].Row(y)[x], image.channels[0].Row(y)[x]);
    }
  }
  return m;
}

lumet::ColorGrayImage FromMat(const cv::Mat& m) {
  lumet::ColorGrayImage image;
  image.Create(m.cols, m.rows);
  image.mask.Fill(0);
  for (int y = 0; y < m.rows; ++y) {
    const auto* row = m.ptr<cv::Vec3b>(y);
    for (int x = 0; x < m.cols; ++x) {
      for (int c = 0; c < 3; ++c) image.channels[c].Row(y)[x] = row[x][2 - c];
    }
  }
  return image;
}

class PatternFrames final : public cv::superres::FrameSource {
 public:
  PatternFrames(std::string pattern, int count) : pattern_(std::move(pattern)), count_(count) {}
  void nextFrame(cv::OutputArray frame) override {
    if (next_ >= count_) {
      frame.release();
      return;
    }
    lumet::ColorGrayImage image;
    lumet::ReadImageFile(lumet::FormatFrameName(pattern_, next_++), image);
    ToMat(image).copyTo(frame);
  }
  void reset() override { next_ = 0; }

 private:
  std::string pattern_;
  int count_;
  int next_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: lumet-btvl1-peer INPUT COUNT OUTPUT SCALE RADIUS X,Y,W,H\n");
    return 2;
  }
  try {
    const std::string input = argv[1];
    const int count = std::stoi(argv[2]);
    const std::string output = argv[3];
    const int scale = std::stoi(argv[4]);
    const int radius = std::stoi(argv[5]);
    int x = 0, y = 0, w = 0, h = 0;
    if (std::sscanf(argv[6], "%d,%d,%d,%d", &x, &y, &w, &h) != 4) throw std::runtime_error("ROI must be X,Y,W,H");
    cv::setNumThreads(0);
    cv::Ptr<cv::superres::SuperResolution> sr = cv::superres::createSuperResolution_BTVL1();
    sr->setScale(scale);
    sr->setTemporalAreaRadius(radius);
    sr->setOpticalFlow(cv::superres::createOptFlow_Farneback());
    sr->setInput(cv::makePtr<PatternFrames>(input, count));
    const auto started = std::chrono::steady_clock::now();
    for (int k = 0; k < count; ++k) {
      cv::Mat out;
      sr->nextFrame(out);
      if (out.empty()) throw std::runtime_error("the peer gave no frame " + std::to_string(k));
      cv::Mat out8;
      out.convertTo(out8, CV_8UC3);
      // The peer's output leaves out a border of its BTV kernel's size on every side.
      const int border = sr->getKernelSize();
      const cv::Mat roi = out8(cv::Rect(x * scale - border, y * scale - border, w * scale, h * scale));
      lumet::WriteImageFile(lumet::FormatFrameName(output, k), FromMat(roi), lumet::ImageFormat::Bmp);
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%.3f s per frame\n", s / count);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
    return 1;
  }
  return 0;
}
