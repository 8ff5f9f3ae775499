#include <QStringList>
#include <cstdio>
#include <cstring>

#include "app/lumet_app.h"
#include "util/atomic_file.h"
#include "util/memory_tuning.h"

namespace {

constexpr const char* kUsage =
    "Usage: lumet [options] [FOLDER | FRAME | VIDEO]\n"
    "\n"
    "Lumet turns a numbered sequence of low-resolution frames into one high-resolution\n"
    "image of a region of interest. It works in one folder: it reads and rewrites\n"
    "param.txt there, and the frame, homography and result names in the parameters are\n"
    "relative to that folder. The folder is FOLDER; or the folder of FRAME (its parent\n"
    "when that folder is named images), with the LR pattern, start and count taken from\n"
    "the frame's name; else the current folder when it holds param.txt or frames and is\n"
    "not the home folder; else the folder used last time; else one you choose.\n"
    "\n"
    "Options:\n"
    "  -h, --help           Show this help and exit.\n"
    "  --version            Show the version and exit.\n"
    "  --screenshots DIR    Run Show Reference, Registration and Reconstruction with the\n"
    "                       parameters of ./param.txt, save the windows as\n"
    "                       DIR/main-window.png, DIR/dialog.png, DIR/reference-roi.png\n"
    "                       (after Show Reference), DIR/reference-viewer.png and\n"
    "                       DIR/frame-viewer.png; run both again with the enhanced\n"
    "                       method, reconstruct with the classic one at x2, save the\n"
    "                       comparison of the first two runs as DIR/ab-comparison.png,\n"
    "                       the window at 800 x 600 as DIR/main-window-800x600.png and\n"
    "                       the window filling its screen, comparing the x4 and x2\n"
    "                       runs, as\n"
    "                       DIR/comparison[-side-by-side|-difference]-WxH[-DPR%].png\n"
    "                       (the screen's size in device pixels); exit (status 1 when a\n"
    "                       command failed). Runs without a display with\n"
    "                       QT_QPA_PLATFORM=offscreen.\n"
    "\n"
    "Qt's own options (-platform NAME, -style NAME, ...) are accepted too.\n";

}  // namespace

int main(int argc, char** argv) {
  lumet::IgnoreFileSizeSignal();
  lumet::KeepFreedMemoryForReuse();
  // Help and version need no display, so they are answered before Qt starts.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("lumet 1.0");
      return 0;
    }
  }

  lumet::CLumetApp app(argc, argv);
  QString screenshotDir;
  QString open;
  const QStringList args = app.arguments();  // Qt's own options already removed
  for (int i = 1; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == QStringLiteral("--screenshots")) {
      if (i + 1 >= args.size() || args[i + 1].isEmpty()) {
        std::fprintf(stderr, "lumet: --screenshots needs a folder\n");
        return 2;
      }
      screenshotDir = args[++i];
    } else if (arg.startsWith(QStringLiteral("--screenshots="))) {
      screenshotDir = arg.mid(static_cast<int>(std::strlen("--screenshots=")));
      if (screenshotDir.isEmpty()) {
        std::fprintf(stderr, "lumet: --screenshots needs a folder\n");
        return 2;
      }
    } else if (!arg.startsWith(u'-') && open.isEmpty()) {
      open = arg;
    } else {
      std::fprintf(stderr, "lumet: unknown argument '%s'\n\n%s", qPrintable(arg), kUsage);
      return 2;
    }
  }
  return app.InitInstance(screenshotDir, open);
}
