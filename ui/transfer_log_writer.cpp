#include "ui/transfer_log_writer.h"

#include <QMetaObject>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "store/store_error.h"

namespace km27::ui {

// Shared with the thread, which may outlive the writer when the disk hangs at exit.
struct TransferLogWriter::State {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::pair<std::string, TransferRecord>> queue;
  int pending = 0;  // queued or being written
  bool stop = false;
  bool told = false;
  std::function<void(const QString&)> tell;  // cleared when the writer goes
  std::thread thread;

  void Run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return stop || !queue.empty(); });
      if (queue.empty()) return;
      auto [path, record] = std::move(queue.front());
      queue.pop_front();
      lock.unlock();
      const SaveResult r = AppendTransferRecord(path, record);
      lock.lock();
      if (!r.ok && !told && tell) {
        told = true;
        tell(QString::fromStdString(r.path.empty() ? path : r.path) + QStringLiteral("：") +
             QString::fromStdString(StoreErrorText(r.failure)));
      }
      --pending;
      changed.notify_all();
    }
  }
};

namespace {
constexpr int kExitWaitMs = 2000;
}

TransferLogWriter::TransferLogWriter(QObject* parent) : QObject(parent), state_(std::make_shared<State>()) {
  state_->tell = [this](const QString& reason) {
    QMetaObject::invokeMethod(this, [this, reason] { emit Failed(reason); }, Qt::QueuedConnection);
  };
}

TransferLogWriter::~TransferLogWriter() {
  WaitIdle(kExitWaitMs);
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->stop = true;
  state_->tell = nullptr;
  const bool idle = state_->pending == 0;
  state_->changed.notify_all();
  lock.unlock();
  if (!state_->thread.joinable()) return;
  // A write that hangs keeps its thread; the window goes all the same.
  if (idle)
    state_->thread.join();
  else
    state_->thread.detach();
}

void TransferLogWriter::Append(TransferRecord record) {
  if (path_.empty()) return;
  StampRecord(record);
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!state_->thread.joinable()) {
    auto state = state_;
    state_->thread = std::thread([state] { state->Run(); });
  }
  state_->queue.emplace_back(path_, std::move(record));
  ++state_->pending;
  state_->changed.notify_all();
}

bool TransferLogWriter::WaitIdle(int ms) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return state_->pending == 0; });
}

}  // namespace km27::ui
