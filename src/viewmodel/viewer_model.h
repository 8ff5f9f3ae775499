#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "numeric/roi_rect.h"
#include "raster/dib_raster.h"

namespace lumet {

// Viewer modes.
inline constexpr int kModeRoiSelection = 0;  // ROI outline drawn, a click moves the ROI
inline constexpr int kModeDisplay = 1;       // the picture only
inline constexpr int kModeComparison = 2;    // the compare picture while hovering the middle third

// Colours drawn over a viewer's picture, as DibRaster colours (red | green << 8 | blue << 16).
inline constexpr uint32_t kRoiColor = 128u | (128u << 8);  // olive
inline constexpr uint32_t kSquareColor = 255u;              // red
inline constexpr uint32_t kLineColor = 0u;                  // black

// Centre of a square mark: a one-pixel ring from (x - kSquareReach, y - kSquareReach) to
// (x + kSquareReach + 1, y + kSquareReach + 1), right and bottom exclusive (3 x 3 pixels).
inline constexpr int kSquareReach = 1;
struct MarkPoint {
  int x = 0;
  int y = 0;
  bool operator==(const MarkPoint&) const = default;
};

// A line mark from (x0, y0) to (x1, y1), the end pixel left out.
struct MarkLine {
  int x0 = 0;
  int y0 = 0;
  int x1 = 0;
  int y1 = 0;
  bool operator==(const MarkLine&) const = default;
};

// The two viewer windows the commands use: refViewer and frameViewer.
enum class Viewer { Reference = 0, Frame = 1 };

// A screen rectangle (left, top, right, bottom) a viewer is created with.
struct ScreenRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// Where a viewer starts on screen when a command opens it: the reference viewer at the left,
// the frame viewer's left edge 300 pixels to the right (its width follows from FitViewer,
// which every command calls next).
inline constexpr ScreenRect StartingRect(Viewer viewer) {
  return viewer == Viewer::Reference ? ScreenRect{0, 0, 300, 300} : ScreenRect{300, 0, 300, 300};
}

// What one viewer shows, independent of any window: its picture, the comparison picture,
// the mode, the attached ROI and the marks drawn over the current picture.
struct ViewerModel {
  int mode = kModeRoiSelection;
  DibRaster picture{0};
  DibRaster comparePicture{0};
  std::optional<RoiRect> roi;  // attached ROI; none draws no outline
  std::vector<MarkPoint> squares;
  std::vector<MarkLine> lines;

  // Replaces the picture; the marks drawn over the old one go with it.
  void ShowPicture(const DibRaster& raster);
  void AddSquares(const std::vector<MarkPoint>& centres);
  void AddLines(const std::vector<MarkLine>& marks);
};

// The viewer's client area at 1:1 (row 0 of the raster at the bottom, as always): in
// comparison mode while hovering, the comparison picture alone; otherwise the picture with
// the ROI outline (ROI selection mode, ROI attached), then the squares, then the lines.
// An empty raster when the picture to show is empty. `roi` overrides the model's ROI for
// a viewer that follows a rectangle kept elsewhere (nullptr: none attached).
DibRaster RenderViewer(const ViewerModel& model, bool hoverInside = false);
DibRaster RenderViewer(const ViewerModel& model, const RoiRect* roi, bool hoverInside);

// The outline a rectangle call draws with a one-pixel pen from (left, top) to (right,
// bottom), columns left .. right - 1 and rows top .. bottom - 1, clipped to the raster
// (coordinates with row 0 at the top). Swapped corners are normalised; an empty
// rectangle draws nothing.
void DrawRectOutline(DibRaster& raster, int left, int top, int right, int bottom, uint32_t color);
// A line from (x0, y0) to (x1, y1) without its end pixel, as a line-to call draws it.
void DrawLine(DibRaster& raster, const MarkLine& line, uint32_t color);

}  // namespace lumet
