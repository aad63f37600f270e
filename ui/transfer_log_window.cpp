#include "ui/transfer_log_window.h"

#include <QDir>
#include <algorithm>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "model/fingerprint.h"
#include "store/param_file.h"
#include "ui/param_dlg.h"
#include "ui/programme_documents.h"

namespace km27::ui {

QString TransferActionText(const std::string& action) {
  if (action == "download") return TransferLogWindow::tr("下载");
  if (action == "upload") return TransferLogWindow::tr("上传");
  if (action == "verify") return TransferLogWindow::tr("校验");
  return QString::fromStdString(action);
}

QString TransferResultText(const std::string& result) {
  static const std::pair<const char*, const char*> kWords[] = {
      {"ok", QT_TRANSLATE_NOOP("km27::ui::TransferLogWindow", "成功")},
      {"refused", QT_TRANSLATE_NOOP("km27::ui::TransferLogWindow", "被拒绝")},
      {"transfer_failed", QT_TRANSLATE_NOOP("km27::ui::TransferLogWindow", "传输失败")},
      {"verify_mismatch", QT_TRANSLATE_NOOP("km27::ui::TransferLogWindow", "校验不一致")},
      {"readback_failed", QT_TRANSLATE_NOOP("km27::ui::TransferLogWindow", "读回失败")},
      {"interrupted", QT_TRANSLATE_NOOP("km27::ui::TransferLogWindow", "中断")},
  };
  for (const auto& [key, word] : kWords)
    if (result == key) return TransferLogWindow::tr(word);
  return QString::fromStdString(result);
}

QString TransferPortText(const TransferRecord& r) {
  if (r.com <= 0) return r.device.empty() ? QStringLiteral("—") : QString::fromStdString(r.device);
  return QStringLiteral("COM%1").arg(r.com) +
         (r.device.empty() ? QString() : TransferLogWindow::tr("（%1）").arg(QString::fromStdString(r.device)));
}

QString TransferSummary(const TransferRecord& r) {
  return QString::fromStdString(r.time).replace(QLatin1Char('T'), QLatin1Char(' ')) + QLatin1Char(' ') +
         TransferActionText(r.action) + QLatin1Char(' ') + TransferPortText(r) + QLatin1Char(' ') +
         TransferResultText(r.result);
}

TransferLogWindow::TransferLogWindow(CParamDlg& window) : QDialog(&window), window_(window) {
  setWindowTitle(tr("传输记录"));
  const std::string path = window.TransferLogPath();
  records_ = path.empty() ? std::vector<TransferRecord>{} : ReadTransferLog(path);
  std::reverse(records_.begin(), records_.end());

  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(tr("筛选："), this));
  filter_ = new QLineEdit(this);
  filter_->setPlaceholderText(tr("任一列或程序文件中的文字"));
  filter_->setClearButtonEnabled(true);
  top->addWidget(filter_, 1);
  layout->addLayout(top);

  const QStringList headers{tr("时间"), tr("操作"), tr("型号"), tr("端口"), tr("结果"), tr("程序指纹")};
  table_ = new QTableWidget(int(records_.size()), int(headers.size()), this);
  table_->setHorizontalHeaderLabels(headers);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->verticalHeader()->hide();
  for (int row = 0; row < int(records_.size()); ++row) {
    const TransferRecord& r = records_[size_t(row)];
    const QString cells[] = {QString::fromStdString(r.time).replace(QLatin1Char('T'), QLatin1Char(' ')),
                             TransferActionText(r.action),
                             QString::fromStdString(r.model),
                             TransferPortText(r),
                             TransferResultText(r.result),
                             QString::fromStdString(r.programmeSha256.substr(0, 12))};
    for (int col = 0; col < int(headers.size()); ++col) {
      auto* item = new QTableWidgetItem(cells[col]);
      if (!r.file.empty()) item->setToolTip(QDir::toNativeSeparators(QString::fromStdString(r.file)));
      table_->setItem(row, col, item);
    }
  }
  table_->resizeColumnsToContents();
  table_->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(table_, 1);
  if (path.empty())
    layout->addWidget(new QLabel(tr("本次启动不记录传输（--no-log）。"), this));
  else
    layout->addWidget(new QLabel(tr("记录文件：%1").arg(QDir::toNativeSeparators(QString::fromStdString(path))), this));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  open_ = new QPushButton(tr("打开程序文件"), this);
  auto* close = new QPushButton(tr("关闭"), this);
  buttons->addWidget(open_);
  buttons->addWidget(close);
  layout->addLayout(buttons);

  connect(filter_, &QLineEdit::textChanged, this, &TransferLogWindow::ApplyFilter);
  connect(open_, &QPushButton::clicked, this, &TransferLogWindow::OpenSelected);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(table_, &QTableWidget::itemSelectionChanged, this,
          [this] { open_->setEnabled(!table_->selectedItems().isEmpty()); });
  open_->setEnabled(false);
  resize(900, 480);
}

void TransferLogWindow::ApplyFilter(const QString& text) {
  for (int row = 0; row < table_->rowCount(); ++row) {
    bool match = text.isEmpty() || QString::fromStdString(records_[size_t(row)].file).contains(text, Qt::CaseInsensitive);
    for (int col = 0; !match && col < table_->columnCount(); ++col)
      match = table_->item(row, col)->text().contains(text, Qt::CaseInsensitive);
    table_->setRowHidden(row, !match);
  }
}

void TransferLogWindow::OpenSelected() {
  const QList<QTableWidgetItem*> selected = table_->selectedItems();
  if (selected.isEmpty()) return;
  const TransferRecord& r = records_[size_t(selected.front()->row())];
  const QString file = QString::fromStdString(r.file);
  const auto warn = [this](const QString& text) {
    window_.Ask(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok);
  };
  if (file.isEmpty()) return warn(tr("这次传输没有记下程序文件。"));
  const QString shown = QDir::toNativeSeparators(file);
  if (!QFileInfo::exists(file)) return warn(tr("程序文件已不存在：\n%1").arg(shown));
  // Only the programme that was transferred is opened: a file changed since is someone else's now.
  const ParamFileRead read = ReadParamFile(r.file);
  if (!read.ok) return warn(tr("程序文件无法读取：\n%1\n原因：%2").arg(shown, QString::fromStdString(StoreErrorText(read.failure))));
  if (ProgrammeFingerprint(read.programme.options, read.programme.table) != r.programmeSha256)
    return warn(tr("程序文件在这次传输之后已被修改，不是当时传输的程序：\n%1\n\n记录的指纹：%2")
                    .arg(shown, QString::fromStdString(GroupedFingerprint(r.programmeSha256))));
  window_.Documents().OpenFile(file);
}

}  // namespace km27::ui
