#pragma once
#include <QFrame>
#include <QString>

#include <functional>

// The link lamp: a disc of the client height, red while the link works, black otherwise.
class CLampStatic : public QFrame {
  Q_OBJECT
 public:
  explicit CLampStatic(QWidget* parent = nullptr);

  void SetLampState(int state);  // 1 = link working; repaints even when unchanged
  int LampState() const { return lampState; }
  int PaintCount() const { return paintCount; }
  // Asked each time the operator hovers the lamp, so the hint is never stale.
  void SetToolTipSource(std::function<QString()> source) { toolTipSource = std::move(source); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  int lampState = 0;
  int paintCount = 0;
  std::function<QString()> toolTipSource;
};
