#include "numeric/convolve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "numeric/random.h"
#include "support/simd_variants.h"
#include "util/error.h"
#include "util/parallel.h"

namespace lumet {
namespace {

// n x n kernel with K[a][b] = value(a - n / 2, b - n / 2): a along x, b along y.
template <typename F>
FloatMatrix Kernel(int n, F value) {
  FloatMatrix k(n, n, 0.0f);
  for (int a = 0; a < n; ++a) {
    for (int b = 0; b < n; ++b) k[a][b] = static_cast<float>(value(a - n / 2, b - n / 2));
  }
  return k;
}

template <typename Image, typename F>
Image Make(int w, int h, F value) {
  Image img;
  EXPECT_TRUE(img.Create(w, h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) img[y][x] = value(x, y);
  }
  return img;
}

TEST(ConvolveTest, BorderTapsReflectDifferentlyAtTheTwoEnds) {
  const uint8_t v[] = {1, 2, 4, 8, 16, 32};
  const GrayImage alongX = Make<GrayImage>(6, 4, [&](int x, int) { return v[x]; });
  const GrayImage alongY = Make<GrayImage>(3, 5, [&](int, int y) { return v[y]; });
  // Kernel size, the one tap (dx, dy), the pixel and what it reads there.
  const int cases[][6] = {
      {3, -1, 0, 0, 2, 2}, {3, -1, 0, 1, 2, 1}, {3, -1, 0, 5, 2, 16},  // column -1 reads column 1
      {3, 1, 0, 5, 1, 32}, {3, 1, 0, 4, 1, 32}, {3, 1, 0, 0, 1, 2},    // column W reads column W - 1
      {5, -2, 0, 0, 0, 4}, {5, -2, 0, 1, 0, 2}, {5, 2, 0, 5, 0, 16},   {5, 2, 0, 4, 0, 32},
      {3, 0, -1, 1, 0, 2}, {3, 0, 1, 1, 4, 16}, {3, 0, 1, 1, 3, 16},   // rows: the same at top and bottom
  };
  for (const auto& [n, tx, ty, x, y, expected] : cases) {
    DoubleImage out;
    const FloatMatrix k = Kernel(n, [&](int dx, int dy) { return dx == tx && dy == ty ? 1.0 : 0.0; });
    ConvolveMirror(ty == 0 ? alongX : alongY, out, k, n);
    EXPECT_EQ(out.At(x, y), expected) << "n " << n << " tap " << tx << "," << ty << " at " << x << "," << y;
  }
}

TEST(ConvolveTest, FastPathEqualsDirectSumBitForBitAndTooSmallImagesAreRefused) {
  LcgRandom random;
  // Bit for bit, so that -0.0 against 0.0 or a last-bit difference is caught.
  const auto expectIdentical = [](const DoubleImage& a, const DoubleImage& b) {
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    for (int y = 0; y < a.Height(); ++y) ASSERT_EQ(std::memcmp(a[y], b[y], sizeof(double) * a.Width()), 0) << y;
  };
  // The smallest allowed sizes (n / 2 + 1), odd widths, and widths and heights that end in
  // every kind of block: full blocks of rows and vectors, single vectors, single pixels.
  const int sizes[][3] = {{2, 2, 3}, {3, 3, 5}, {9, 9, 17}, {9, 12, 17}, {13, 9, 17}, {1, 1, 1},
                          {7, 5, 3}, {31, 17, 5}, {45, 14, 11}, {77, 43, 11}, {160, 21, 17},
                          {105, 9, 17}, {80, 11, 3}, {64, 13, 17}};
  for (SimdVariant variant : testing::SimdVariantsToTest()) {
    const ScopedSimdVariant variantGuard(variant);
    for (ParallelMode mode : {ParallelMode::ForceSerial, ParallelMode::ForceParallel}) {
      ScopedParallelMode scoped(mode);
      for (const auto& [w, h, n] : sizes) {
        SCOPED_TRACE(std::string(SimdVariantName(variant)) + (mode == ParallelMode::ForceSerial ? " serial " : " parallel ") +
                     std::to_string(w) + " x " + std::to_string(h) + ", n " + std::to_string(n));
        const FloatMatrix k = Kernel(n, [&](int, int) { return (random.Next() - 16384) / 9000.0; });
        DoubleImage fast, direct;
        const auto g = Make<GrayImage>(w, h, [&](int, int) { return static_cast<uint8_t>(random.Next() & 0xFF); });
        ConvolveMirror(g, fast, k, n);
        ConvolveMirrorDirect(g, direct, k, n);
        expectIdentical(fast, direct);
        const auto d = Make<DoubleImage>(w, h, [&](int, int) { return (random.Next() - 16384) / 377.0; });
        ConvolveMirror(d, fast, k, n);
        ConvolveMirrorDirect(d, direct, k, n);
        expectIdentical(fast, direct);
      }
    }
  }
  LUMET_SKIP_MISSING_SIMD_VARIANTS();

  const FloatMatrix k(5, 5, 0.04f);
  const auto gray = [](int w, int h) { return Make<GrayImage>(w, h, [](int, int) { return uint8_t{9}; }); };
  DoubleImage out;
  EXPECT_THROW(ConvolveMirror(gray(2, 9), out, k, 5), Error);
  EXPECT_THROW(ConvolveMirror(gray(9, 2), out, k, 5), Error);
  EXPECT_THROW(ConvolveMirror(Make<DoubleImage>(2, 2, [](int, int) { return 1.0; }), out, k, 5), Error);
  EXPECT_THROW(ConvolveMirrorDirect(gray(2, 9), out, k, 5), Error);
  EXPECT_THROW(ConvolveMirror(GrayImage(), out, k, 5), Error);
  EXPECT_NO_THROW(ConvolveMirror(gray(3, 3), out, k, 5));
}

TEST(ConvolveTest, PaddedImagesMirrorTheirBorderAndFilterAnyRangeOfRowsAsConvolveMirrorDoes) {
  LcgRandom random;
  const int sizes[][3] = {{9, 9, 17}, {50, 23, 17}, {33, 6, 5}, {58, 7, 1}};
  MirrorPaddedImage padded;  // reused across sizes, as the descent reuses it across steps
  for (SimdVariant variant : testing::SimdVariantsToTest()) {
    const ScopedSimdVariant variantGuard(variant);
    for (const auto& [w, h, n] : sizes) {
      SCOPED_TRACE(std::string(SimdVariantName(variant)) + " " + std::to_string(w) + " x " + std::to_string(h) +
                   ", n " + std::to_string(n));
      const FloatMatrix k = Kernel(n, [&](int, int) { return (random.Next() - 16384) / 9000.0; });
      const MirrorFilter filter(k, n);
      for (int round = 0; round < 2; ++round) {  // a second image of the same size replaces the first
        const auto d = Make<DoubleImage>(w, h, [&](int, int) { return (random.Next() - 16384) / 377.0; });
        padded.Create(w, h, n);
        padded.Assign(d);
        const int half = n / 2;
        for (int v = -half; v < h + half; ++v) {
          for (int c = -half; c < w + half; ++c) {
            ASSERT_EQ(padded.PaddedRows()[v + half][c + half], d[MirrorIndex(v, h)][MirrorIndex(c, w)]) << c << "," << v;
          }
        }
        DoubleImage direct, whole;
        ConvolveMirrorDirect(d, direct, k, n);
        filter.Apply(padded, whole);
        for (int y = 0; y < h; ++y) ASSERT_EQ(std::memcmp(whole[y], direct[y], sizeof(double) * w), 0) << y;
        // Ranges that start and end inside a block of rows, and single rows at both ends.
        const int ranges[][2] = {{0, h}, {1, h - 1}, {3, 6}, {h - 1, h}, {0, 1}};
        for (const auto& [r0, r1] : ranges) {
          std::vector<double> rows(static_cast<size_t>((r1 - r0) * w), -1.0);
          std::vector<double*> out;
          for (int r = r0; r < r1; ++r) out.push_back(rows.data() + static_cast<size_t>((r - r0) * w));
          filter.Rows(padded, r0, r1, out.data());
          for (int r = r0; r < r1; ++r) {
            ASSERT_EQ(std::memcmp(out[static_cast<size_t>(r - r0)], direct[r], sizeof(double) * w), 0) << r0 << ".." << r1;
          }
        }
      }
    }
  }
  LUMET_SKIP_MISSING_SIMD_VARIANTS();
  EXPECT_THROW(padded.Create(8, 9, 17), Error);
  EXPECT_THROW(padded.Create(9, 9, 4), Error);
  const MirrorFilter three(FloatMatrix(3, 3, 0.1f), 3);
  padded.Create(9, 9, 5);
  DoubleImage out;
  EXPECT_THROW(three.Apply(padded, out), Error);  // padded for another kernel size
}

TEST(ConvolveTest, DoubleSourcesSumByFusedMultiplyAddAndEightBitSourcesByRoundedProducts) {
  // Two taps whose exact products need more than 53 bits: one rounding or two differ.
  FloatMatrix k(3, 3, 0.0f);
  k[1][1] = 0.1f;
  k[2][1] = 0.7f;
  const auto d = Make<DoubleImage>(4, 4, [](int x, int) { return x == 2 ? 1.0 / 23.0 : 0.3; });
  const auto g = Make<GrayImage>(4, 4, [](int x, int) { return static_cast<uint8_t>(x == 2 ? 201 : 97); });
  DoubleImage out;
  ConvolveMirror(d, out, k, 3);
  EXPECT_EQ(out.At(1, 1), std::fma(static_cast<double>(0.7f), 1.0 / 23.0, std::fma(static_cast<double>(0.1f), 0.3, 0.0)));
  ConvolveMirror(g, out, k, 3);
  EXPECT_EQ(out.At(1, 1), static_cast<double>(0.1f) * 97.0 + static_cast<double>(0.7f) * 201.0);
  // The two forms do differ on these values, so the test tells them apart.
  EXPECT_NE(std::fma(static_cast<double>(0.7f), 1.0 / 23.0, static_cast<double>(0.1f) * 0.3),
            static_cast<double>(0.7f) * (1.0 / 23.0) + static_cast<double>(0.1f) * 0.3);
}

// The inputs above come from the classic 15-bit generator, which the registration samples with too.
TEST(RandomTest, ClassicSequenceFromStateOne) {
  LcgRandom random;
  for (int value : {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464}) EXPECT_EQ(random.Next(), value);
  random.Reset();
  EXPECT_EQ(random.Next(), 41);
}

}  // namespace
}  // namespace lumet
