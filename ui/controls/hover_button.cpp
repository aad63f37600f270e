#include "ui/controls/hover_button.h"

#include <QCursor>
#include <QMouseEvent>

CHoverButton::CHoverButton(QWidget* parent) : QPushButton(parent) {
  setMouseTracking(true);  // moves without a pressed button must reach us too
  setAutoDefault(false);
  leaveCheck.setInterval(kLeaveCheckMs);
  connect(&leaveCheck, &QTimer::timeout, this, &CHoverButton::OnLeaveCheck);
}

void CHoverButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) pressed = true;
  QPushButton::mousePressEvent(e);
}

void CHoverButton::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) pressed = false;
  QPushButton::mouseReleaseEvent(e);
}

void CHoverButton::mouseMoveEvent(QMouseEvent* e) {
  leaveCheck.start();  // every move restarts the period
  QPushButton::mouseMoveEvent(e);
}

void CHoverButton::enterEvent(QEnterEvent* e) {
  leaveCheck.start();
  QPushButton::enterEvent(e);
}

void CHoverButton::OnLeaveCheck() {
  // Right and bottom edges count as outside, as for a window rectangle.
  const QRect r(mapToGlobal(QPoint(0, 0)), size());
  const QPoint c = QCursor::pos();
  if (c.x() >= r.left() && c.y() >= r.top() && c.x() < r.left() + r.width() && c.y() < r.top() + r.height())
    return;
  leaveCheck.stop();
  pressed = false;
  update();
  emit Invalidated();
}
