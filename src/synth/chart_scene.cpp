#include "synth/chart_scene.h"

#include <cmath>
#include <numbers>
#include <optional>

#include "synth/split_mix_random.h"
#include "synth/tiny_font.h"

namespace lumet {

namespace {

// The chart is laid out in "sheet" coordinates, X = x + 0.5 and Y = y + 0.5, in which LR
// pixel (c, r) covers [c, c + 1) x [r, r + 1); the ROI is then [160, 200) x [100, 140).

constexpr double kInk = 24.0;
constexpr double kPaper = 232.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

constexpr Rgb Grey(double v) { return {v, v, v}; }
constexpr Rgb kInkColor = Grey(kInk);
constexpr Rgb kPaperColor = Grey(kPaper);

Rgb Mix(const Rgb& a, const Rgb& b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

bool Inside(double x, double y, double left, double top, double right, double bottom) {
  return x >= left && x < right && y >= top && y < bottom;
}

// True in the first half of every period (periods starting at 0).
bool FirstHalf(double coordinate, double period) {
  const double phase = coordinate / period;
  return phase - std::floor(phase) < 0.5;
}

Rgb InkIf(bool ink) { return ink ? kInkColor : kPaperColor; }

// A Siemens star of `cycles` black and white sector pairs around (cx, cy).
Rgb Star(double x, double y, double cx, double cy, int cycles) {
  const double angle = std::atan2(y - cy, x - cx) + std::numbers::pi;
  return InkIf(FirstHalf(angle, kTwoPi / cycles));
}

bool InDisc(double x, double y, double cx, double cy, double radius) {
  const double dx = x - cx;
  const double dy = y - cy;
  return dx * dx + dy * dy < radius * radius;
}

// Bars of the given periods side by side from `left`, each group `cycles` periods wide
// with `gap` between groups. Returns true (with the ink state in `ink`) inside a group;
// the bars vary along `along` (the x or the y coordinate).
bool BarGroups(double x, double left, const double* periods, int count, double cycles, double gap, double along,
               double alongOrigin, bool& ink) {
  double start = left;
  for (int i = 0; i < count; ++i) {
    const double width = periods[i] * cycles;
    if (x >= start && x < start + width) {
      ink = FirstHalf(along - alongOrigin, periods[i]);
      return true;
    }
    start += width + gap;
  }
  return false;
}

// A sinusoidal grating between a and b along the direction `degrees`.
Rgb Grating(double x, double y, double degrees, double period, const Rgb& a, const Rgb& b) {
  const double radians = degrees * std::numbers::pi / 180.0;
  const double t = x * std::cos(radians) + y * std::sin(radians);
  return Mix(a, b, 0.5 + 0.5 * std::cos(kTwoPi * t / period));
}

bool Checker(double x, double y, double cell) {
  const auto i = static_cast<long long>(std::floor(x / cell));
  const auto j = static_cast<long long>(std::floor(y / cell));
  return ((i + j) & 1) != 0;
}

Rgb Hue(double degrees) {
  const double h = std::fmod(degrees, 360.0) / 60.0;
  const double f = h - std::floor(h);
  const int sector = static_cast<int>(std::floor(h)) % 6;
  const double lo = 40.0;
  const double hi = 220.0;
  const double up = lo + (hi - lo) * f;
  const double down = hi - (hi - lo) * f;
  switch (sector) {
    case 0:
      return {hi, up, lo};
    case 1:
      return {down, hi, lo};
    case 2:
      return {lo, hi, up};
    case 3:
      return {lo, down, hi};
    case 4:
      return {up, lo, hi};
    default:
      return {hi, lo, down};
  }
}

// The 24 patches of the familiar colour checker, row by row.
constexpr Rgb kCheckerColors[24] = {
    {115, 82, 68},   {194, 150, 130}, {98, 122, 157},  {87, 108, 67},   {133, 128, 177}, {103, 189, 170},
    {214, 126, 44},  {80, 91, 166},   {193, 90, 99},   {94, 60, 108},   {157, 188, 64},  {224, 163, 46},
    {56, 61, 150},   {70, 148, 73},   {175, 54, 60},   {231, 199, 31},  {187, 86, 149},  {8, 133, 161},
    {243, 243, 242}, {200, 200, 200}, {160, 160, 160}, {122, 122, 121}, {85, 85, 85},    {52, 52, 52},
};

struct TextLine {
  const char* text;
  double left;
  double top;
  double pixel;
  Rgb color;
};

bool DrawLines(const TextLine* lines, int count, double x, double y, Rgb& out) {
  for (int i = 0; i < count; ++i) {
    const TextLine& line = lines[i];
    if (TinyFont::TextInk(line.text, line.left, line.top, line.pixel, x, y)) {
      out = line.color;
      return true;
    }
  }
  return false;
}

// The ROI: four 20 x 20 quarters.
Rgb RoiDetail(double x, double y) {
  if (y < 120.0) {
    if (x < 180.0) {
      // A small star: sector pairs from 3.7 pixels wide at the rim to far below one pixel.
      if (InDisc(x, y, 170.0, 110.0, 9.5)) return Star(x, y, 170.0, 110.0, 16);
      return kPaperColor;
    }
    // Two cycles each of bars with periods 3, 2, 1.5 and 1 pixels: vertical bars above,
    // horizontal bars below.
    static constexpr double kPeriods[] = {3.0, 2.0, 1.5, 1.0};
    bool ink = false;
    if (y >= 101.0 && y < 109.0 && BarGroups(x, 181.0, kPeriods, 4, 2.0, 1.0, x, 181.0, ink)) return InkIf(ink);
    if (y >= 111.0 && y < 119.0 && BarGroups(x, 181.0, kPeriods, 4, 2.0, 1.0, y, 111.0, ink)) return InkIf(ink);
    return kPaperColor;
  }
  if (x < 180.0) {
    // Text with font pixels of 1, 0.75 and 0.5 LR pixels.
    static const TextLine kLines[] = {
        {"AB12", 161.0, 121.0, 1.0, kInkColor},
        {"LUMET9", 161.0, 127.0, 0.75, {20, 30, 120}},
        {"0123456789", 160.25, 132.0, 0.5, kInkColor},
        {"XYZ-WKMN", 161.0, 136.0, 0.5, {120, 20, 20}},
    };
    Rgb out;
    if (DrawLines(kLines, 4, x, y, out)) return out;
    return kPaperColor;
  }
  if (y < 125.0) {
    static constexpr Rgb kPatches[] = {{200, 40, 40}, {40, 170, 60}, {40, 60, 190}, {230, 200, 40}};
    return kPatches[static_cast<int>(std::floor((x - 180.0) / 5.0)) & 3];
  }
  if (y < 129.0) return Grey(kInk + (kPaper - kInk) * (x - 180.0) / 20.0);
  if (x < 190.0) return InkIf(Checker(x - 180.0, y - 129.0, 0.75));
  return Grating(x, y, 45.0, 1.2, {40, 190, 200}, {200, 50, 170});
}

// Tiles of 16 pixels in muted colours with dark joints: corners everywhere for the
// registration, and no repetition for the block matching to confuse.
Rgb Background(double x, double y) {
  constexpr double kTile = 16.0;
  const double tx = x / kTile;
  const double ty = y / kTile;
  const double fx = (tx - std::floor(tx)) * kTile;
  const double fy = (ty - std::floor(ty)) * kTile;
  if (fx < 1.0 || fy < 1.0) return Grey(40.0);
  const uint64_t h = HashWords(0x43484152ull, static_cast<uint64_t>(static_cast<int64_t>(std::floor(tx))),
                               static_cast<uint64_t>(static_cast<int64_t>(std::floor(ty))));
  const double base = 70.0 + 110.0 * UnitFromBits(h);
  const double r = base * (0.75 + 0.5 * UnitFromBits(MixBits(h ^ 1)));
  const double g = base * (0.75 + 0.5 * UnitFromBits(MixBits(h ^ 2)));
  const double b = base * (0.75 + 0.5 * UnitFromBits(MixBits(h ^ 3)));
  return {r, g, b};
}

// The panels below the star and the ROI's row (zone plate, gratings, text, checkerboards,
// gradients): the colour at (x, y) when it lies on one of them.
std::optional<Rgb> LowerPanels(double x, double y) {
  // Zone plate: the local frequency rises from 0 at the centre to 0.9 cycles per pixel.
  if (Inside(x, y, 18.0, 124.0, 102.0, 208.0)) {
    if (!InDisc(x, y, 60.0, 166.0, 40.0)) return kPaperColor;
    const double dx = x - 60.0;
    const double dy = y - 166.0;
    const double k = std::numbers::pi * 0.9 / 40.0;
    return Grey(128.0 + 100.0 * std::cos(k * (dx * dx + dy * dy)));
  }
  // Gratings of four directions and periods beside the ROI.
  if (Inside(x, y, 112.0, 100.0, 156.0, 140.0)) {
    const bool left = x < 134.0;
    const bool top = y < 120.0;
    const Rgb dark = Grey(50.0);
    const Rgb light = Grey(210.0);
    if (top) return left ? Grating(x, y, 30.0, 3.0, dark, light) : Grating(x, y, 60.0, 2.0, dark, light);
    return left ? Grating(x, y, 120.0, 1.5, dark, light) : Grating(x, y, 150.0, 1.2, dark, light);
  }
  // A column of text in three sizes.
  if (Inside(x, y, 112.0, 144.0, 156.0, 196.0)) {
    static const TextLine kLines[] = {
        {"ABCDEFGHIJ", 113.0, 146.0, 1.0, kInkColor},           {"KLMNOPQRST", 113.0, 153.0, 1.0, kInkColor},
        {"UVWXYZ0123", 113.0, 160.0, 1.0, kInkColor},           {"456789-+=/", 113.0, 167.0, 1.0, kInkColor},
        {"QUICK BROWN FO", 113.0, 175.0, 0.75, {110, 20, 20}},  {"JUMPS OVER 123", 113.0, 180.0, 0.75, {20, 90, 30}},
        {"LAZY DOGS 456789 ABC", 113.0, 186.0, 0.5, kInkColor}, {"0.5 PIXEL FONT TEXT", 113.0, 190.0, 0.5, kInkColor},
    };
    Rgb out;
    return DrawLines(kLines, 8, x, y, out) ? out : kPaperColor;
  }
  // Checkerboards with cells of 2, 1.5, 1 and 0.8 pixels.
  if (Inside(x, y, 160.0, 144.0, 212.0, 196.0)) {
    const bool left = x < 186.0;
    const bool top = y < 170.0;
    const double cell = top ? (left ? 2.0 : 1.5) : (left ? 1.0 : 0.8);
    return InkIf(Checker(x - 160.0, y - 144.0, cell));
  }
  // A block of text down to half a pixel per font pixel.
  if (Inside(x, y, 214.0, 130.0, 310.0, 196.0)) {
    static const TextLine kLines[] = {
        {"MULTI-FRAME", 216.0, 132.0, 1.5, {30, 40, 90}},
        {"SUPER RESOLUTION TEST", 216.0, 142.0, 1.0, kInkColor},
        {"CHART 2 3 4 X", 216.0, 149.0, 1.0, {120, 30, 20}},
        {"FRAMES 0-30 SCALE X4 PSF 0.6", 216.0, 157.0, 0.75, kInkColor},
        {"ROI 160 100 40 40", 216.0, 162.0, 0.75, {20, 90, 30}},
        {"THE SMALLEST TEXT IS FINER THAN", 216.0, 168.0, 0.5, kInkColor},
        {"ONE PIXEL OF THE LOW RESOLUTION", 216.0, 172.0, 0.5, kInkColor},
        {"0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ", 216.0, 176.0, 0.5, {20, 30, 120}},
        {"+-=/.: 9876543210", 216.0, 182.0, 1.0, kInkColor},
    };
    Rgb out;
    return DrawLines(kLines, 9, x, y, out) ? out : kPaperColor;
  }
  // Gradients: grey, hue and a two-colour ramp.
  if (Inside(x, y, 112.0, 200.0, 312.0, 236.0)) {
    const double t = (x - 112.0) / 200.0;
    if (y >= 202.0 && y < 212.0) return Grey(kInk + (kPaper - kInk) * t);
    if (y >= 213.0 && y < 223.0) return Hue(360.0 * t);
    if (y >= 224.0 && y < 234.0) return Mix({30, 60, 200}, {230, 180, 40}, t);
    return kPaperColor;
  }
  // Coloured checkerboard of 3-pixel cells.
  if (Inside(x, y, 16.0, 214.0, 104.0, 236.0)) {
    return Checker(x - 16.0, y - 214.0, 3.0) ? Rgb{40, 90, 160} : Rgb{230, 210, 90};
  }
  return std::nullopt;
}

}  // namespace

Rgb ChartScene::At(double px, double py) const {
  const double x = px + 0.5;
  const double y = py + 0.5;

  if (Inside(x, y, 160.0, 100.0, 200.0, 140.0)) return RoiDetail(x, y);

  // Title.
  if (Inside(x, y, 4.0, 3.0, 188.0, 19.0)) {
    static const TextLine kTitle[] = {{"LUMET RESOLUTION CHART", 8.0, 6.0, 2.0, {30, 40, 90}}};
    Rgb out;
    return DrawLines(kTitle, 1, x, y, out) ? out : kPaperColor;
  }
  // Large Siemens star.
  if (Inside(x, y, 16.0, 24.0, 104.0, 112.0)) {
    if (InDisc(x, y, 60.0, 68.0, 40.0)) return Star(x, y, 60.0, 68.0, 24);
    return kPaperColor;
  }
  // Line pairs from 8 pixels down to 1 pixel per period, and a medium star.
  if (Inside(x, y, 112.0, 24.0, 312.0, 60.0)) {
    static constexpr double kPeriods[] = {8.0, 6.0, 4.0, 3.0, 2.0, 1.5, 1.2, 1.0};
    bool ink = false;
    if (y >= 26.0 && y < 40.0 && BarGroups(x, 116.0, kPeriods, 8, 3.0, 5.0, x, 116.0, ink)) return InkIf(ink);
    if (y >= 44.0 && y < 58.0 && BarGroups(x, 116.0, kPeriods, 8, 3.0, 5.0, y, 44.0, ink)) return InkIf(ink);
    if (InDisc(x, y, 272.0, 42.0, 15.0)) return Star(x, y, 272.0, 42.0, 12);
    return kPaperColor;
  }
  // Colour checker.
  if (Inside(x, y, 214.0, 64.0, 308.0, 126.0)) {
    const double u = x - 218.0;
    const double v = y - 68.0;
    if (u >= 0.0 && v >= 0.0) {
      const int i = static_cast<int>(std::floor(u / 15.0));
      const int j = static_cast<int>(std::floor(v / 15.0));
      if (i < 6 && j < 4 && u - 15.0 * i < 12.0 && v - 15.0 * j < 12.0) return kCheckerColors[j * 6 + i];
    }
    return Grey(50.0);
  }
  // Coarse checkerboard and rings.
  if (Inside(x, y, 112.0, 64.0, 156.0, 96.0)) return InkIf(Checker(x - 112.0, y - 64.0, 4.0));
  if (Inside(x, y, 160.0, 64.0, 210.0, 96.0)) {
    const double r = std::hypot(x - 185.0, y - 80.0);
    return Mix({210, 120, 30}, {30, 40, 80}, 0.5 + 0.5 * std::cos(kTwoPi * r / 2.5));
  }
  if (const std::optional<Rgb> lower = LowerPanels(x, y)) return *lower;
  return Background(x, y);
}

}  // namespace lumet
