#include "app/working_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include "params/param_file.h"
#include "params/param_set.h"
#include "workbench/frame_source.h"

namespace lumet {

namespace {

// More would not fit a frame number.
constexpr int kMaxFrameDigits = 9;

const QStringList& PictureSuffixes() {
  // Every still format frames may have, camera raw files included.
  static const QStringList suffixes{"bmp", "png", "jpg", "jpeg", "tif", "tiff", "webp", "gif", "pnm", "ppm", "pgm",
                                    "tga", "psd", "exr", "hdr", "dpx", "sgi", "jp2", "dng", "cr2", "cr3", "nef",
                                    "arw", "orf", "rw2", "raf", "pef", "srw"};
  return suffixes;
}

bool IsPictureName(const QString& name) { return PictureSuffixes().contains(QFileInfo(name).suffix().toLower()); }

bool HoldsPictures(const QDir& dir) {
  const QStringList files = dir.entryList(QDir::Files);
  for (const QString& file : files) {
    if (IsPictureName(file) || IsVideoName(file)) return true;
  }
  return false;
}

QString EscapePercent(QString text) { return text.replace(QStringLiteral("%"), QStringLiteral("%%")); }

QString Canonical(const QString& folder) {
  const QFileInfo info(folder);
  const QString canonical = info.canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

}  // namespace

std::optional<FrameFileChoice> ParseFrameFile(const QString& path) {
  const QFileInfo info(path);
  const QString name = info.fileName();
  qsizetype end = name.size();
  while (end > 0 && !name[end - 1].isDigit()) --end;
  if (end == 0) return std::nullopt;
  qsizetype begin = end;
  while (begin > 0 && name[begin - 1].isDigit()) --begin;
  const QString digits = name.mid(begin, end - begin);
  if (digits.size() > kMaxFrameDigits) return std::nullopt;

  const QString conversion = digits.size() > 1 && digits.startsWith(u'0')
                                 ? QStringLiteral("%0") + QString::number(digits.size()) + u'd'
                                 : QStringLiteral("%d");
  const QString patternName = EscapePercent(name.left(begin)) + conversion + EscapePercent(name.mid(end));

  FrameFileChoice choice;
  choice.startIndex = digits.toInt();
  QDir dir = info.absoluteDir();
  const QString fileDir = QDir::cleanPath(dir.absolutePath());
  if (dir.dirName() == QStringLiteral("images") && dir.cdUp()) {
    choice.folder = QDir::cleanPath(dir.absolutePath());
  } else {
    choice.folder = fileDir;
  }
  const QString relativeDir = QDir(choice.folder).relativeFilePath(fileDir);
  choice.lrPattern = relativeDir == QStringLiteral(".") || relativeDir.isEmpty()
                         ? QStringLiteral("./") + patternName
                         : QStringLiteral("./") + EscapePercent(relativeDir) + u'/' + patternName;
  return choice;
}

bool IsVideoName(const QString& path) {
  // The frame source takes a pattern without "%" naming a video container as a video.
  return FrameSource::IsVideoPattern(QFileInfo(path).fileName().remove(u'%').toStdString());
}

bool LooksLikeWorkingFolder(const QString& folder) {
  const QDir dir(folder);
  if (QFileInfo(dir.filePath(QString::fromUtf8(kParamFileName))).isFile()) return true;
  const QDir images(dir.filePath(QStringLiteral("images")));
  return (images.exists() && HoldsPictures(images)) || HoldsPictures(dir);
}

StartChoice ChooseStartFolder(const QString& argument, const QString& currentFolder, const QString& homeFolder,
                              const QString& lastFolder) {
  if (!argument.isEmpty()) return {StartSource::Argument, argument};
  if (!currentFolder.isEmpty() && Canonical(currentFolder) != Canonical(homeFolder) &&
      LooksLikeWorkingFolder(currentFolder)) {
    return {StartSource::CurrentFolder, currentFolder};
  }
  if (!lastFolder.isEmpty() && QFileInfo(lastFolder).isDir()) return {StartSource::LastFolder, lastFolder};
  return {StartSource::Ask, QString()};
}

QString PatternFrom(const QString& folder, const QString& pattern) {
  if (QDir::isAbsolutePath(pattern)) return pattern;
  QString relative = pattern;
  if (relative.startsWith(QStringLiteral("./"))) relative = relative.mid(2);
  return QDir::cleanPath(EscapePercent(QDir::cleanPath(QDir(folder).absolutePath())) + u'/' + relative);
}

QString ProposedResultsFolder(const QString& readOnlyFolder, const QString& home) {
  QString name = QFileInfo(QDir::cleanPath(readOnlyFolder)).fileName();
  if (name.isEmpty()) name = QStringLiteral("frames");
  const QString frames = EscapePercent(QDir::cleanPath(QDir(readOnlyFolder).absolutePath())) + u'/';
  const QDir base(QDir(home).filePath(QStringLiteral("Lumet")));
  for (int n = 1;; ++n) {
    const QString candidate = base.filePath(n == 1 ? name : QStringLiteral("%1-%2").arg(name).arg(n));
    const QString params = QDir(candidate).filePath(QString::fromUtf8(kParamFileName));
    if (!QFileInfo::exists(params)) return candidate;
    // Taken: by this folder's frames (an earlier opening) it is the same place again.
    ParamSet stored = InitParams();
    try {
      if (LoadParams(params.toStdString(), stored) > 0 && QString::fromStdString(stored.lrPattern).startsWith(frames)) {
        return candidate;
      }
    } catch (const std::exception&) {
      // Unreadable: another place is proposed.
    }
  }
}

}  // namespace lumet
