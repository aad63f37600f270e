#pragma once
#include <QFrame>

// The link lamp: a disc of the client height, red while the link works, black otherwise.
class CLampStatic : public QFrame {
  Q_OBJECT
 public:
  explicit CLampStatic(QWidget* parent = nullptr);

  void SetLampState(int state);  // 1 = link working; repaints even when unchanged
  int LampState() const { return lampState; }
  int PaintCount() const { return paintCount; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int lampState = 0;
  int paintCount = 0;
};
