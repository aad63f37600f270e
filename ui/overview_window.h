#pragma once
#include <QWidget>
#include <functional>
#include <memory>

#include "ui/overview_picture.h"

class QPushButton;
class QScrollArea;

namespace km27::ui {

// The picture of the whole programme on the screen; a click on a row names its carrier.
class OverviewCanvas : public QWidget {
  Q_OBJECT
 public:
  explicit OverviewCanvas(QWidget* parent = nullptr);
  void Show(std::unique_ptr<OverviewPicture> picture);
  const OverviewPicture* Picture() const { return picture_.get(); }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;

 signals:
  void CarrierClicked(int carrier);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;

 private:
  std::unique_ptr<OverviewPicture> picture_;
};

// A window of its own beside the main window, not modal: the main window hands it the
// programme after every change and every change of carrier.
class COverviewWindow : public QWidget {
  Q_OBJECT
 public:
  explicit COverviewWindow(QWidget* owner);
  void Show(const Programme& programme, const CodeCatalogue& catalogue, int currentCarrier);
  OverviewCanvas* Canvas() const { return canvas_; }
  QPushButton* PngButton() const { return png_; }
  QPushButton* SvgButton() const { return svg_; }

 signals:
  void CarrierClicked(int carrier);
  void SaveRequested(bool svg);

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  void FitCanvas();

  QScrollArea* scroll_ = nullptr;
  OverviewCanvas* canvas_ = nullptr;
  QPushButton* png_ = nullptr;
  QPushButton* svg_ = nullptr;
};

}  // namespace km27::ui
