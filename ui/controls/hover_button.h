#pragma once
#include <QPushButton>
#include <QString>
#include <QTimer>

// A command button that follows the mouse: `pressed` from a left press until the release or
// until a 50 ms check finds the cursor outside. Clicks behave as for any push button.
class CHoverButton : public QPushButton {
  Q_OBJECT
 public:
  static constexpr int kLeaveCheckMs = 50;  // TIMER_LEAVE_CHECK period

  explicit CHoverButton(QWidget* parent = nullptr);

  QString caption;   // held for owner drawing; the platform draws the template text
  bool pressed = false;

  bool LeaveCheckRunning() const { return leaveCheck.isActive(); }

 signals:
  void Invalidated();  // the leave check repainted the button

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void enterEvent(QEnterEvent* e) override;

 private:
  void OnLeaveCheck();
  QTimer leaveCheck;
};
