#pragma once
#include <QDialog>
#include <vector>

#include "store/transfer_log.h"

class CParamDlg;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace km27::ui {

// A record's action, port and result in the operator's words.
QString TransferActionText(const std::string& action);
QString TransferResultText(const std::string& result);
QString TransferPortText(const TransferRecord& r);
// "2026-12-08 13:45:02+08:00 下载 COM1 成功": the record's time, action, port and result.
QString TransferSummary(const TransferRecord& r);

// 传输记录: the log as a table, newest first, filtered by any text of a line; the programme file
// of the selected line opens in the main window while it is still the programme recorded.
class TransferLogWindow : public QDialog {
  Q_OBJECT
 public:
  explicit TransferLogWindow(CParamDlg& window);

  QTableWidget* Table() const { return table_; }
  QLineEdit* Filter() const { return filter_; }
  QPushButton* OpenButton() const { return open_; }
  void OpenSelected();

 private:
  void ApplyFilter(const QString& text);

  CParamDlg& window_;
  std::vector<TransferRecord> records_;  // in the table's order: newest first
  QTableWidget* table_ = nullptr;
  QLineEdit* filter_ = nullptr;
  QPushButton* open_ = nullptr;
};

}  // namespace km27::ui
