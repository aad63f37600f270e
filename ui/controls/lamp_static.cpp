#include "ui/controls/lamp_static.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace {
// COLORREF 0x000000FF, i.e. RGB(255, 0, 0).
const QColor kLampOn(255, 0, 0);
const QColor kLampOff(0, 0, 0);
}  // namespace

CLampStatic::CLampStatic(QWidget* parent) : QFrame(parent) {
  // Sunken client edge of two pixels, as the template asks.
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(2);
}

void CLampStatic::SetLampState(int state) {
  lampState = state;
  update();
}

void CLampStatic::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  ++paintCount;
  const QRect client = contentsRect();
  const int d = client.height();
  QPainter p(this);
  p.setClipRect(client);
  p.translate(client.topLeft());
  // GDI's Ellipse fills the box minus its right and bottom edge: size d-1 in Qt's terms.
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  p.drawEllipse(QRect(0, 0, d - 1, d - 1));
  const QColor c = lampState == 1 ? kLampOn : kLampOff;
  p.setPen(QPen(c, 1));
  p.setBrush(c);
  p.drawEllipse(QRect(2, 2, d - 5, d - 5));
}

bool CLampStatic::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && toolTipSource) {
    const QString text = toolTipSource();
    if (text.isEmpty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text, this);
    }
    return true;
  }
  return QFrame::event(event);
}
