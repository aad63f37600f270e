#include "ui/overview_window.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace km27::ui {

OverviewCanvas::OverviewCanvas(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::PointingHandCursor);
  setToolTip(tr("单击一行，在主窗口中选择该载频"));
}

void OverviewCanvas::Show(std::unique_ptr<OverviewPicture> picture) {
  picture_ = std::move(picture);
  updateGeometry();
  update();
}

int OverviewCanvas::heightForWidth(int width) const {
  return picture_ ? int(picture_->HeightFor(width, this)) : 0;
}

QSize OverviewCanvas::sizeHint() const { return {760, heightForWidth(760)}; }

void OverviewCanvas::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  if (!picture_) return;
  p.setRenderHint(QPainter::Antialiasing);
  picture_->Paint(p, QRectF(rect()));
}

void OverviewCanvas::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !picture_) return;
  const int carrier = picture_->CarrierAt(e->position());
  if (carrier >= 0) emit CarrierClicked(carrier);
}

COverviewWindow::COverviewWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
  setWindowTitle(tr("程序总览"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  canvas_ = new OverviewCanvas;
  scroll_ = new QScrollArea;
  scroll_->setWidget(canvas_);
  scroll_->setWidgetResizable(false);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setFrameShape(QFrame::NoFrame);
  png_ = new QPushButton(tr("保存为PNG..."));
  svg_ = new QPushButton(tr("保存为SVG..."));
  auto* close = new QPushButton(tr("关闭"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(png_);
  buttons->addWidget(svg_);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(scroll_, 1);
  layout->addLayout(buttons);
  connect(canvas_, &OverviewCanvas::CarrierClicked, this, &COverviewWindow::CarrierClicked);
  connect(png_, &QPushButton::clicked, this, [this] { emit SaveRequested(false); });
  connect(svg_, &QPushButton::clicked, this, [this] { emit SaveRequested(true); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  resize(820, 640);
}

void COverviewWindow::Show(const Programme& programme, const CodeCatalogue& catalogue, int currentCarrier) {
  canvas_->Show(std::make_unique<OverviewPicture>(programme, catalogue, currentCarrier, font()));
  FitCanvas();
}

void COverviewWindow::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  FitCanvas();
}

void COverviewWindow::FitCanvas() {
  // The picture takes the window's width and as much height as that width needs.
  int width = scroll_->viewport()->width();
  int height = canvas_->heightForWidth(width);
  if (height > scroll_->viewport()->height()) {
    width = scroll_->width() - scroll_->verticalScrollBar()->sizeHint().width();
    height = canvas_->heightForWidth(width);
  }
  canvas_->resize(width, std::max(height, scroll_->viewport()->height()));
}

}  // namespace km27::ui
