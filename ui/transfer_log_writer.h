#pragma once
#include <QObject>
#include <QString>
#include <memory>
#include <string>

#include "store/transfer_log.h"

namespace km27::ui {

// Appends the window's transfer records on a thread of its own: a slow or hung disk never
// holds up the window. A log that cannot be written is told once (Failed, on the window's
// thread) and never fails a transfer.
class TransferLogWriter : public QObject {
  Q_OBJECT
 public:
  explicit TransferLogWriter(QObject* parent = nullptr);
  // Waits a little for the records still queued, so the last transfer before exit is kept.
  ~TransferLogWriter() override;

  void SetPath(const std::string& path) { path_ = path; }  // empty: nothing is recorded
  const std::string& Path() const { return path_; }

  // Stamps the record and queues it; returns at once.
  void Append(TransferRecord record);
  // True once every queued record is written (or failed), within `ms`.
  bool WaitIdle(int ms);

 signals:
  void Failed(const QString& reason);

 private:
  struct State;
  std::string path_;
  std::shared_ptr<State> state_;
};

}  // namespace km27::ui
