#include "numeric/convolve.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "numeric/random.h"
#include "util/error.h"

namespace lumet {
namespace {

// n x n kernel with K[a][b] = value(a - h, b - h) (a along x, b along y).
template <typename F>
FloatMatrix Kernel(int n, F value) {
  FloatMatrix k(n, n, 0.0f);
  const int h = n / 2;
  for (int a = 0; a < n; ++a) {
    for (int b = 0; b < n; ++b) k[a][b] = static_cast<float>(value(a - h, b - h));
  }
  return k;
}

GrayImage RandomGray(int w, int h, LcgRandom& random) {
  GrayImage g;
  EXPECT_TRUE(g.Create(w, h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) g[y][x] = static_cast<uint8_t>(random.Next() & 0xFF);
  }
  return g;
}

DoubleImage RandomDouble(int w, int h, LcgRandom& random) {
  DoubleImage d;
  EXPECT_TRUE(d.Create(w, h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) d.At(x, y) = (random.Next() - 16384) / 377.0;
  }
  return d;
}

FloatMatrix RandomKernel(int n, LcgRandom& random) {
  return Kernel(n, [&](int, int) { return (random.Next() - 16384) / 9000.0; });
}

// Bit-for-bit comparison, so that -0.0 vs 0.0 or a last-bit difference is caught.
void ExpectIdentical(const DoubleImage& a, const DoubleImage& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  for (int y = 0; y < a.Height(); ++y) {
    for (int x = 0; x < a.Width(); ++x) {
      const double va = a.At(x, y);
      const double vb = b.At(x, y);
      ASSERT_EQ(std::memcmp(&va, &vb, sizeof va), 0) << "pixel (" << x << ", " << y << "): " << va << " vs " << vb;
    }
  }
}

TEST(ConvolveTest, ConstantImageWithNormalisedKernelStaysConstant) {
  const int n = 5;
  // Asymmetric but summing to 1 (in float).
  FloatMatrix k = Kernel(n, [](int dx, int dy) { return (dx + 3) * (dy + 4) + 1; });
  double sum = 0.0;
  for (int k0 = 0; k0 < n * n; ++k0) sum += k.Data()[k0];
  for (int k0 = 0; k0 < n * n; ++k0) k.Data()[k0] = static_cast<float>(k.Data()[k0] / sum);
  double ksum = 0.0;
  for (int k0 = 0; k0 < n * n; ++k0) ksum += k.Data()[k0];

  GrayImage g;
  ASSERT_TRUE(g.Create(7, 6));
  g.Fill(77);
  DoubleImage out;
  ConvolveMirror(g, out, k, n);
  ASSERT_EQ(out.Width(), 7);
  ASSERT_EQ(out.Height(), 6);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 7; ++x) EXPECT_NEAR(out.At(x, y), 77.0 * ksum, 1e-9) << x << "," << y;
  }
}

TEST(ConvolveTest, BorderTapsReflectDifferentlyAtTheTwoEnds) {
  // One row of distinct values, repeated down the image.
  const uint8_t row[] = {1, 2, 4, 8, 16, 32};
  const int w = 6;
  GrayImage g;
  ASSERT_TRUE(g.Create(w, 4));
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < w; ++x) g[y][x] = row[x];
  }
  DoubleImage out;
  {
    SCOPED_TRACE("tap dx = -1");
    ConvolveMirror(g, out, Kernel(3, [](int dx, int dy) { return dx == -1 && dy == 0 ? 1.0 : 0.0; }), 3);
    EXPECT_EQ(out.At(0, 2), 2.0);  // column -1 reads column 1
    EXPECT_EQ(out.At(1, 2), 1.0);
    EXPECT_EQ(out.At(5, 2), 16.0);
  }
  {
    SCOPED_TRACE("tap dx = +1");
    ConvolveMirror(g, out, Kernel(3, [](int dx, int dy) { return dx == 1 && dy == 0 ? 1.0 : 0.0; }), 3);
    EXPECT_EQ(out.At(5, 1), 32.0);  // column W reads column W - 1
    EXPECT_EQ(out.At(4, 1), 32.0);
    EXPECT_EQ(out.At(0, 1), 2.0);
  }
  {
    SCOPED_TRACE("taps dx = -2 and +2");
    ConvolveMirror(g, out, Kernel(5, [](int dx, int dy) { return dx == -2 && dy == 0 ? 1.0 : 0.0; }), 5);
    EXPECT_EQ(out.At(0, 0), 4.0);  // -2 reads 2
    EXPECT_EQ(out.At(1, 0), 2.0);  // -1 reads 1
    ConvolveMirror(g, out, Kernel(5, [](int dx, int dy) { return dx == 2 && dy == 0 ? 1.0 : 0.0; }), 5);
    EXPECT_EQ(out.At(5, 0), 16.0);  // W + 1 reads W - 2
    EXPECT_EQ(out.At(4, 0), 32.0);  // W reads W - 1
  }
  {
    SCOPED_TRACE("rows: dy = -1 at the top, dy = +1 at the bottom");
    GrayImage col;
    ASSERT_TRUE(col.Create(3, 5));
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 3; ++x) col[y][x] = row[y];
    }
    ConvolveMirror(col, out, Kernel(3, [](int dx, int dy) { return dx == 0 && dy == -1 ? 1.0 : 0.0; }), 3);
    EXPECT_EQ(out.At(1, 0), 2.0);
    ConvolveMirror(col, out, Kernel(3, [](int dx, int dy) { return dx == 0 && dy == 1 ? 1.0 : 0.0; }), 3);
    EXPECT_EQ(out.At(1, 4), 16.0);
    EXPECT_EQ(out.At(1, 3), 16.0);
  }
}

TEST(ConvolveTest, AntisymmetricKernelOnARamp) {
  const int w = 8;
  DoubleImage ramp;
  ASSERT_TRUE(ramp.Create(w, 5));
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < w; ++x) ramp.At(x, y) = x;
  }
  // K[h + u][b] = -K[h - u][b]: a central difference along x, smoothed along y.
  const FloatMatrix k = Kernel(5, [](int dx, int dy) { return dx * (3 - (dy < 0 ? -dy : dy)); });
  DoubleImage out;
  ConvolveMirror(ramp, out, k, 5);
  for (int y = 0; y < 5; ++y) {
    SCOPED_TRACE("row " + std::to_string(y));
    EXPECT_EQ(out.At(0, y), 0.0);
    EXPECT_NE(out.At(w - 1, y), 0.0);
    EXPECT_EQ(out.At(3, y), out.At(4, y));  // interior: the slope times the kernel's moment
    EXPECT_GT(out.At(3, y), 0.0);
  }
}

TEST(ConvolveTest, FastPathEqualsDirectSumBitForBit) {
  LcgRandom random;
  struct Size {
    int w;
    int h;
    int n;
  };
  // The smallest allowed sizes (h + 1), odd widths, and sizes large enough for the
  // parallel paths.
  const Size sizes[] = {{2, 2, 3}, {3, 3, 5}, {9, 9, 17}, {9, 12, 17}, {13, 9, 17}, {1, 1, 1},
                        {7, 5, 3}, {31, 17, 5}, {57, 43, 11}, {160, 161, 17}};
  for (const Size& s : sizes) {
    SCOPED_TRACE(std::to_string(s.w) + " x " + std::to_string(s.h) + ", n " + std::to_string(s.n));
    const FloatMatrix k = RandomKernel(s.n, random);
    DoubleImage fast;
    DoubleImage direct;
    const GrayImage g = RandomGray(s.w, s.h, random);
    ConvolveMirror(g, fast, k, s.n);
    ConvolveMirrorDirect(g, direct, k, s.n);
    ExpectIdentical(fast, direct);

    const DoubleImage d = RandomDouble(s.w, s.h, random);
    ConvolveMirror(d, fast, k, s.n);
    ConvolveMirrorDirect(d, direct, k, s.n);
    ExpectIdentical(fast, direct);
  }
}

TEST(ConvolveTest, DirectSumMatchesAHandComputedPixel) {
  // The oracle itself: one corner pixel summed by hand with the border rule.
  GrayImage g;
  ASSERT_TRUE(g.Create(3, 3));
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 3; ++x) g[y][x] = static_cast<uint8_t>(1 + x + 3 * y);
  }
  const FloatMatrix k = Kernel(3, [](int dx, int dy) { return (dx + 1) + 3 * (dy + 1) + 1; });
  DoubleImage out;
  ConvolveMirrorDirect(g, out, k, 3);
  double expected = 0.0;
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      const int r = MirrorIndex(0 + dy, 3);
      const int c = MirrorIndex(2 + dx, 3);
      expected += ((dx + 1) + 3 * (dy + 1) + 1) * (1 + c + 3 * r);
    }
  }
  EXPECT_EQ(out.At(2, 0), expected);
  EXPECT_EQ(MirrorIndex(-1, 3), 1);
  EXPECT_EQ(MirrorIndex(3, 3), 2);
  EXPECT_EQ(MirrorIndex(4, 3), 1);
}

TEST(ConvolveTest, ImageSmallerThanTheKernelAllowsIsRefused) {
  LcgRandom random;
  const FloatMatrix k = RandomKernel(5, random);
  DoubleImage out;
  EXPECT_THROW(ConvolveMirror(RandomGray(2, 9, random), out, k, 5), Error);
  EXPECT_THROW(ConvolveMirror(RandomGray(9, 2, random), out, k, 5), Error);
  EXPECT_THROW(ConvolveMirror(RandomDouble(2, 2, random), out, k, 5), Error);
  EXPECT_THROW(ConvolveMirrorDirect(RandomGray(2, 9, random), out, k, 5), Error);
  EXPECT_THROW(ConvolveMirror(GrayImage(), out, k, 5), Error);
  EXPECT_NO_THROW(ConvolveMirror(RandomGray(3, 3, random), out, k, 5));
}

}  // namespace
}  // namespace lumet
