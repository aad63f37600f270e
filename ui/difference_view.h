#pragma once
#include <QDialog>

#include "model/code_catalogue.h"
#include "model/param_table.h"
#include "model/transfer_texts.h"

class QTableWidget;

namespace km27::ui {

// 查看差异: the programme as carriers × steps, each step the device holds otherwise marked with
// the device's value beside ours; every other differing byte as a line below.
class DifferenceView : public QDialog {
  Q_OBJECT
 public:
  DifferenceView(const Programme& sent, const VerifyDifference& difference, const CodeCatalogue& catalogue,
                 QWidget* parent = nullptr);
  QTableWidget* Table() const { return table_; }

 private:
  QTableWidget* table_ = nullptr;
};

}  // namespace km27::ui
