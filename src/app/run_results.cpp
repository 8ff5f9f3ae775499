#include "app/run_results.h"

#include <QCoreApplication>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "evaluation/bicubic_baseline.h"
#include "params/param_description.h"
#include "params/param_file.h"
#include "raster/dib_raster.h"
#include "view/raster_image.h"
#include "workbench/frame_source.h"

namespace lumet {

namespace {

// "./result/hr" → "result/hr": the names read as the fields show them.
QString BaseOf(const ParamSet& values) {
  QString base = QString::fromStdString(values.outputBase);
  if (base.startsWith(QStringLiteral("./"))) base = base.mid(2);
  return base;
}

// "hr-classic-3.png" in the output base's folder: its method and number.
QRegularExpression KeptName(const QString& baseName) {
  return QRegularExpression(QStringLiteral("^%1-([A-Za-z0-9_]+)-([0-9]{1,9})\\.png$")
                                .arg(QRegularExpression::escape(baseName)));
}

// A frame's run names its reference frame and radius after the parameters.
constexpr const char* kKeyReference = "referenceFrame";
constexpr const char* kKeyRadius = "windowRadius";

// The reference frame and radius a kept parameter file names; none: frame 0, radius 0.
void ReadKeptFrame(const QString& path, RunResult& run) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return;
  const QString text = QString::fromUtf8(file.read(static_cast<qint64>(kMaxParamFileBytes)));
  const auto number = [&text](const char* key) {
    const QRegularExpression line(QStringLiteral("^%1[ \\t]+([0-9]{1,9})[ \\t\\r]*$").arg(QLatin1String(key)),
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(text);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
  };
  const int reference = number(kKeyReference), radius = number(kKeyRadius);
  if (reference < 0 || radius < 1) return;
  run.reference = reference;
  run.radius = radius;
}

// The two samples of a row or column of n that position p lies between, and how far it lies
// towards the second; empty more than half a sample off the picture, clamped to it within.
struct LinearTaps {
  int first = 0;
  int second = 0;
  double fraction = 0.0;
};
std::optional<LinearTaps> LinearTapsAt(double p, int n) {
  if (p < -0.5 || p > n - 0.5) return std::nullopt;
  const double c = std::clamp(p, 0.0, n - 1.0);
  const int first = static_cast<int>(std::floor(c));
  return LinearTaps{first, std::min(first + 1, n - 1), c - first};
}

}  // namespace

QString RunResult::Label() const {
  const RoiRect& roi = values.roi;
  if (radius > 0) {
    return QCoreApplication::translate("lumet::RunResult", "Run %1: %2 \u00d7%3, frame %4 \u00b1%5, ROI %6,%7 %8\u00d7%9")
        .arg(number)
        .arg(Method())
        .arg(values.scale)
        .arg(reference)
        .arg(radius)
        .arg(roi.left)
        .arg(roi.top)
        .arg(roi.Width())
        .arg(roi.Height());
  }
  return QCoreApplication::translate("lumet::RunResult", "Run %1: %2 \u00d7%3, ROI %4,%5 %6\u00d7%7")
      .arg(number)
      .arg(Method())
      .arg(values.scale)
      .arg(roi.left)
      .arg(roi.top)
      .arg(roi.Width())
      .arg(roi.Height());
}

QString RunResult::SuggestedFile() const { return QStringLiteral("%1-%2-%3.png").arg(BaseOf(values), Method()).arg(number); }

QString RunResult::ParamFile() const { return QStringLiteral("%1-%2-%3.txt").arg(BaseOf(values), Method()).arg(number); }

QString RunResult::FrameText() const {
  return radius > 0 ? QCoreApplication::translate("lumet::RunResult", "frame %1 \u00b1%2").arg(reference).arg(radius)
                    : QCoreApplication::translate("lumet::RunResult", "frame %1").arg(reference);
}

QByteArray RunResult::ParamFileText() const {
  std::string text = FormatParamFile(values);
  // After every row the parameter file names: its reader stops at the first name it does
  // not know, so these come last.
  if (radius > 0) {
    for (const auto& [key, value] : {std::pair{kKeyReference, reference}, std::pair{kKeyRadius, radius}}) {
      text.append("\n").append(key).append(" ").append(std::to_string(value));
    }
  }
  return QByteArray::fromStdString(text);
}

QImage AlignedFirstFrame(const ParamSet& values) { return AlignedFrame(values, 0); }

QImage AlignedFrame(const ParamSet& values, int k) {
  try {
    FrameSource source(values.lrPattern, values.startIndex);
    ColorGrayImage frame;
    source.Read(k, frame);
    DibRaster raster(0);
    ImageToRaster(BicubicEnlarge(frame, values.roi, values.scale), raster);
    return RasterToQImage(raster);
  } catch (const std::exception&) {
    return QImage();
  }
}

QImage ResampleOnto(const QImage& picture, const RoiRect& roi, double scale, const RoiRect& area, double commonScale) {
  const int width = static_cast<int>(std::lround(area.Width() * commonScale));
  const int height = static_cast<int>(std::lround(area.Height() * commonScale));
  QImage out(std::max(width, 0), std::max(height, 0), QImage::Format_ARGB32);
  out.fill(Qt::transparent);
  if (picture.isNull() || out.isNull()) return out;
  const QImage in = picture.convertToFormat(QImage::Format_ARGB32);
  const int w = in.width(), h = in.height();
  const double step = scale / commonScale;
  // Common point I is frame point area.left + I / S, which is source point s (x − roi.left).
  const double originX = scale * (area.left - roi.left), originY = scale * (area.top - roi.top);
  for (int row = 0; row < out.height(); ++row) {
    const std::optional<LinearTaps> ty = LinearTapsAt(originY + row * step, h);
    if (!ty) continue;
    const double fy = ty->fraction;
    const auto* r0 = reinterpret_cast<const QRgb*>(in.constScanLine(ty->first));
    const auto* r1 = reinterpret_cast<const QRgb*>(in.constScanLine(ty->second));
    auto* o = reinterpret_cast<QRgb*>(out.scanLine(row));
    for (int col = 0; col < out.width(); ++col) {
      const std::optional<LinearTaps> tx = LinearTapsAt(originX + col * step, w);
      if (!tx) continue;
      const int x0 = tx->first, x1 = tx->second;
      const double fx = tx->fraction;
      const auto mix = [&](int (*channel)(QRgb)) {
        const double top = channel(r0[x0]) * (1 - fx) + channel(r0[x1]) * fx;
        const double bottom = channel(r1[x0]) * (1 - fx) + channel(r1[x1]) * fx;
        return std::clamp(static_cast<int>(std::lround(top * (1 - fy) + bottom * fy)), 0, 255);
      };
      o[col] = qRgb(mix(qRed), mix(qGreen), mix(qBlue));
    }
  }
  return out;
}

ComparisonPair CommonGrid(const RunResult& a, const RunResult& b) {
  ComparisonPair pair;
  const RoiRect &ra = a.values.roi, &rb = b.values.roi;
  if (a.values.scale == b.values.scale && ra == rb && a.result.size() == b.result.size()) {
    pair.before = a.result;
    pair.after = b.result;
    pair.scale = a.values.scale;
    pair.area = ra;
    return pair;
  }
  pair.scale = std::max(a.values.scale, b.values.scale);
  pair.area = RoiRect{std::min(ra.left, rb.left), std::min(ra.top, rb.top), std::max(ra.right, rb.right),
                      std::max(ra.bottom, rb.bottom)};
  pair.before = ResampleOnto(a.result, ra, a.values.scale, pair.area, pair.scale);
  pair.after = ResampleOnto(b.result, rb, b.values.scale, pair.area, pair.scale);
  pair.resampled = true;
  return pair;
}

QStringList ParamDifferences(const ParamSet& a, const ParamSet& b) {
  QStringList lines;
  for (const ParamDescription& row : ParamRows()) {
    const std::string was = ParamValueText(row, a), now = ParamValueText(row, b);
    if (was == now) continue;
    lines << QStringLiteral("%1: %2 \u2192 %3")
                 .arg(QString::fromUtf8(row.label), QString::fromStdString(was), QString::fromStdString(now));
  }
  return lines;
}

std::vector<RunResult> LoadKeptRuns(const ParamSet& values) {
  const QFileInfo base(BaseOf(values));
  const QRegularExpression name = KeptName(base.fileName());
  std::map<int, RunResult> byNumber;
  for (const QFileInfo& file : QDir(base.path()).entryInfoList({base.fileName() + QStringLiteral("-*.png")}, QDir::Files)) {
    const QRegularExpressionMatch match = name.match(file.fileName());
    if (!match.hasMatch()) continue;
    RunResult run;
    run.number = match.captured(2).toInt();
    run.values = values;
    run.values.method = match.captured(1).toStdString();
    const QString params = QDir(base.path()).filePath(file.completeBaseName() + QStringLiteral(".txt"));
    try {
      if (!QFileInfo::exists(params) || LoadParams(params.toStdString(), run.values) == 0) continue;
    } catch (const std::exception&) {
      continue;
    }
    run.result = QImage(file.filePath()).convertToFormat(QImage::Format_RGB32);
    if (run.result.isNull() || QString::fromStdString(run.values.method) != match.captured(1)) continue;
    ReadKeptFrame(params, run);
    run.before = AlignedFrame(run.values, run.reference);
    byNumber[run.number] = std::move(run);
  }
  std::vector<RunResult> runs;
  for (auto& [number, run] : byNumber) runs.push_back(std::move(run));
  return runs;
}

int NextRunNumber(const ParamSet& values) {
  const QFileInfo base(BaseOf(values));
  const QRegularExpression name = KeptName(base.fileName());
  int largest = 0;
  for (const QString& file : QDir(base.path()).entryList({base.fileName() + QStringLiteral("-*.png")}, QDir::Files)) {
    const QRegularExpressionMatch match = name.match(file);
    if (match.hasMatch()) largest = std::max(largest, match.captured(2).toInt());
  }
  return largest + 1;
}

}  // namespace lumet
