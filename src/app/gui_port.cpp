#include "app/gui_port.h"

#include <QMetaObject>
#include <QString>
#include <utility>

#include "app/lumet_dlg.h"
#include "util/text_format.h"
#include "view/img_wnd.h"

namespace lumet {

namespace {

int Index(Viewer viewer) { return viewer == Viewer::Reference ? 0 : 1; }

}  // namespace

GuiPort::GuiPort(CLumetDlg* dialog, bool refViewerExists, bool frameViewerExists) : dialog_(dialog) {
  exists_[0].store(refViewerExists);
  exists_[1].store(frameViewerExists);
}

template <typename Call>
void GuiPort::Post(Call&& call) {
  // Queued calls from one thread to one receiver are delivered in the order posted; a
  // call still pending when the dialog is destroyed is dropped with it.
  QMetaObject::invokeMethod(dialog_, std::forward<Call>(call), Qt::QueuedConnection);
}

void GuiPort::AppendLog(const std::string& text) {
  Post([dialog = dialog_, text] { dialog->AppendLog(text); });
}

void GuiPort::ReportProgress(const std::string& stage, int step, int total) {
  Post([dialog = dialog_, stage = QString::fromStdString(stage), step, total] { dialog->ShowProgress(stage, step, total); });
}

void GuiPort::ReportBandProgress(const BandProgress& progress) {
  Post([dialog = dialog_, stage = QString::fromStdString(progress.stage), p = progress] {
    dialog->ShowBandProgress(stage, p.step, p.total, p.band, p.bandStep);
  });
}

bool GuiPort::ViewerExists(Viewer viewer) const { return exists_[Index(viewer)].load(); }

void GuiPort::CreateViewer(Viewer viewer, const std::string& title, const ScreenRect& rect) {
  exists_[Index(viewer)].store(true);
  Post([dialog = dialog_, viewer, title = QString::fromStdString(StripLineEnds(title)), rect] {
    dialog->CreateViewerWindow(viewer, title, rect);
  });
}

void GuiPort::FitViewer(Viewer viewer, int width, int height) {
  Post([dialog = dialog_, viewer, width, height] {
    if (CImgWnd* window = dialog->ViewerWindow(viewer)) window->FitTo(width, height);
  });
}

void GuiPort::SetViewerMode(Viewer viewer, int mode) {
  Post([dialog = dialog_, viewer, mode] {
    if (CImgWnd* window = dialog->ViewerWindow(viewer)) window->SetMode(mode);
  });
}

void GuiPort::ShowPicture(Viewer viewer, const DibRaster& picture) {
  Post([dialog = dialog_, viewer, picture] {
    if (CImgWnd* window = dialog->ViewerWindow(viewer)) window->SetImage(picture);
  });
}

void GuiPort::SetComparePicture(Viewer viewer, const DibRaster& picture) {
  Post([dialog = dialog_, viewer, picture] {
    if (CImgWnd* window = dialog->ViewerWindow(viewer)) window->SetCompareImage(picture);
  });
}

void GuiPort::SetViewerTitle(Viewer viewer, const std::string& title) {
  // The progress text ends with a line feed a caption cannot show.
  Post([dialog = dialog_, viewer, title = QString::fromStdString(StripLineEnds(title))] {
    dialog->SetViewerTitle(viewer, title);
  });
}

void GuiPort::AttachRoi(Viewer viewer, const RoiRect&) {
  // The viewer follows the dialog's own rectangle, which equals the command's snapshot
  // while the fields are locked, and moves it on clicks once the command has ended.
  Post([dialog = dialog_, viewer] { dialog->AttachRoiTo(viewer); });
}

void GuiPort::DrawSquares(Viewer viewer, const std::vector<MarkPoint>& centres) {
  Post([dialog = dialog_, viewer, centres] {
    if (CImgWnd* window = dialog->ViewerWindow(viewer)) window->AddSquares(centres);
  });
}

void GuiPort::DrawLines(Viewer viewer, const std::vector<MarkLine>& lines) {
  Post([dialog = dialog_, viewer, lines] {
    if (CImgWnd* window = dialog->ViewerWindow(viewer)) window->AddLines(lines);
  });
}

}  // namespace lumet
