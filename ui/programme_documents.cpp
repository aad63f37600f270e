#include "ui/programme_documents.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QSettings>

#include "model/fingerprint.h"
#include "store/file_io.h"
#include "store/param_file.h"
#include "store/programme_csv.h"
#include "ui/overview_window.h"
#include "ui/param_dlg.h"
#include "ui/programme_history.h"
#include "ui/programme_record.h"
#include "ui/transfer_log_window.h"

namespace km27::ui {

namespace {

constexpr int kRecentCount = 6;
const char kRecentKey[] = "recentFiles";
const char kFolderKey[] = "lastFolder";
QString ParamFilter() { return ProgrammeDocuments::tr("参数文件 (*.dat)"); }
QString CsvFilter() { return ProgrammeDocuments::tr("表格 (*.csv)"); }
QString AllFilter() { return QStringLiteral(";;") + ProgrammeDocuments::tr("所有文件 (*)"); }

std::string Local(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString Name(const QString& path) { return QFileInfo(path).fileName(); }

// Icons and types by the kind of entry alone. Qt's own provider reads a file's first bytes to
// guess its type, and a file of /proc such as kmsg blocks that read for good.
class KindOnlyIconProvider : public QFileIconProvider {
 public:
  using QFileIconProvider::icon;
  QIcon icon(const QFileInfo& info) const override { return icon(info.isDir() ? Folder : File); }
  QString type(const QFileInfo& info) const override {
    if (info.isDir()) return ProgrammeDocuments::tr("文件夹");
    if (info.isSymLink()) return ProgrammeDocuments::tr("链接");
    const QString suffix = info.suffix();
    return suffix.isEmpty() ? ProgrammeDocuments::tr("文件") : ProgrammeDocuments::tr("%1 文件").arg(suffix.toUpper());
  }
};

// Folders of the system's own file systems: no place for the operator's files, and a file
// dialog that shows them may wait on them.
bool SystemFolder(const QString& folder) {
  const QString path = QFileInfo(folder).canonicalFilePath();
  for (const char* top : {"/proc", "/sys", "/dev"}) {
    const QString t = QString::fromLatin1(top);
    if (path == t || path.startsWith(t + QLatin1Char('/'))) return true;
  }
  return OnPseudoFileSystem(QFile::encodeName(folder).toStdString());
}

QString ChooseWithDialog(QWidget* parent, const FileRequest& r) {
  // Opened on the root and moved to the folder once the provider is in place: the listing
  // starts as soon as the dialog is made.
  QFileDialog dialog(parent, r.caption, QDir::rootPath(), r.filter);
  KindOnlyIconProvider icons;
  dialog.setIconProvider(&icons);
  dialog.setDirectory(QFileInfo(r.path).isDir() ? r.path : QFileInfo(r.path).absolutePath());
  dialog.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(r.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!r.suffix.isEmpty()) dialog.setDefaultSuffix(r.suffix);
  if (r.save && !QFileInfo(r.path).isDir()) dialog.selectFile(r.path);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

bool ChoosePrinterWithDialog(QPrinter& printer, QWidget* parent) {
  QPrintDialog dialog(&printer, parent);
  dialog.setWindowTitle(ProgrammeDocuments::tr("打印参数记录"));
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace

ProgrammeDocuments::ProgrammeDocuments(CParamDlg& window)
    : QObject(&window),
      window_(window),
      chooseFile_(ChooseWithDialog),
      choosePrinter_(ChoosePrinterWithDialog),
      document_(QFileInfo(QString::fromUtf8(kParamFileName)).absoluteFilePath()) {}

ProgrammeDocuments::~ProgrammeDocuments() = default;

COverviewWindow* ProgrammeDocuments::Overview() const { return overview_; }

void ProgrammeDocuments::SetSettingsFile(const QString& path) {
  settingsFile_ = path;
  if (recentMenu_) FillRecentMenu();
}

void ProgrammeDocuments::AddMenuEntries(QMenu* menu) {
  const auto add = [this, menu](const QString& text, const QList<QKeySequence>& keys, void (ProgrammeDocuments::*fn)()) {
    QAction* a = menu->addAction(text, this, fn);
    a->setShortcuts(keys);
    a->setShortcutVisibleInContextMenu(true);
    window_.addAction(a);  // the shortcut works whenever the window is active
    actions_ << a;
    return a;
  };
  const auto addHistory = [this, menu](QAction* a, const QList<QKeySequence>& keys) {
    a->setShortcuts(keys);
    a->setShortcutVisibleInContextMenu(true);
    menu->addAction(a);
    window_.addAction(a);
    actions_ << a;
  };
  add(tr("打开(&O)..."), {QKeySequence(QStringLiteral("Ctrl+O"))}, &ProgrammeDocuments::Open);
  recentMenu_ = menu->addMenu(tr("最近打开的文件(&F)"));
  connect(recentMenu_, &QMenu::aboutToShow, this, &ProgrammeDocuments::FillRecentMenu);
  FillRecentMenu();
  add(tr("另存为(&S)..."), {QKeySequence(QStringLiteral("Ctrl+Shift+S"))}, &ProgrammeDocuments::SaveAs);
  menu->addSeparator();
  addHistory(window_.History().CreateUndoAction(&window_), {QKeySequence(QStringLiteral("Ctrl+Z"))});
  addHistory(window_.History().CreateRedoAction(&window_),
             {QKeySequence(QStringLiteral("Ctrl+Y")), QKeySequence(QStringLiteral("Ctrl+Shift+Z"))});
  menu->addSeparator();
  add(tr("程序总览(&G)"), {QKeySequence(QStringLiteral("Ctrl+G"))}, &ProgrammeDocuments::ShowOverview);
  add(tr("打印(&P)..."), {QKeySequence(QStringLiteral("Ctrl+P"))}, &ProgrammeDocuments::Print);
  add(tr("导出PDF(&D)..."), {}, &ProgrammeDocuments::ExportPdf);
  menu->addSeparator();
  add(tr("导入表格(&I)..."), {}, &ProgrammeDocuments::ImportCsv);
  add(tr("导出表格(&E)..."), {}, &ProgrammeDocuments::ExportCsv);
}

QAction* ProgrammeDocuments::Action(const QString& text) const {
  for (QAction* a : actions_)
    if (a->text() == text || a->text().startsWith(text + QLatin1Char(' '))) return a;
  return nullptr;
}

// ---- programme files -------------------------------------------------------------------------

void ProgrammeDocuments::Open() {
  const QString path = Choose({false, tr("打开参数文件"), SuggestedPath({}), ParamFilter() + AllFilter(), {}});
  if (!path.isEmpty()) OpenFile(path);
}

bool ProgrammeDocuments::OpenFile(const QString& path) {
  const ParamFileRead r = ReadParamFile(Local(path));
  return Take(path, r.ok, r.programme, StoreErrorText(r.failure), true);
}

void ProgrammeDocuments::SaveAs() { SaveAsChosen(); }

bool ProgrammeDocuments::SaveAsChosen() {
  const QString path =
      Choose({true, tr("程序另存为"), SuggestedPath(QStringLiteral("dat")), ParamFilter(), "dat"});
  return !path.isEmpty() && SaveAsFile(path);
}

bool ProgrammeDocuments::SaveAsFile(const QString& path) {
  const SaveResult r = SaveParamFile(Local(path), window_.Param().options, window_.Param().table);
  if (!Written(r, path, tr("无法保存参数文件"), tr("已另存为 %1"))) return false;
  Remember(path, true);
  if (QFileInfo(path).canonicalFilePath() == QFileInfo(QString::fromUtf8(kParamFileName)).canonicalFilePath())
    window_.WorkingFileWritten();
  return true;
}

// ---- the table file ------------------------------------------------------------------------

void ProgrammeDocuments::ImportCsv() {
  const QString path = Choose({false, tr("导入表格"), SuggestedPath({}), CsvFilter() + AllFilter(), {}});
  if (!path.isEmpty()) ImportCsvFile(path);
}

bool ProgrammeDocuments::ImportCsvFile(const QString& path) {
  const CsvImport r = ReadProgrammeCsv(Local(path), window_.Catalogue(), window_.Param().Snapshot());
  return Take(path, r.ok, r.programme, r.Message(), false,
              tr("已导入表格 %1：%2").arg(Name(path), QString::fromStdString(r.Taken())));
}

void ProgrammeDocuments::ExportCsv() {
  const std::string problem = CsvExportProblem(window_.Param().Snapshot(), window_.Catalogue());
  if (!problem.empty() &&
      window_.Ask(QMessageBox::Question, window_.windowTitle(),
                  tr("表格无法准确表示此程序表的全部内容：\n%1\n\n仍要导出吗？")
                      .arg(QString::fromStdString(problem)),
                  QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return;
  const QString path =
      Choose({true, tr("导出表格"), SuggestedPath(QStringLiteral("csv")), CsvFilter(), "csv"});
  if (!path.isEmpty()) ExportCsvFile(path);
}

bool ProgrammeDocuments::ExportCsvFile(const QString& path) {
  const SaveResult r = SaveProgrammeCsv(Local(path), window_.Param().Snapshot(), window_.Catalogue());
  return Written(r, path, tr("无法导出表格"), tr("已导出表格 %1"));
}

// ---- the overview and the record -----------------------------------------------------------

void ProgrammeDocuments::ShowOverview() {
  if (!overview_) {
    overview_ = new COverviewWindow(&window_);
    connect(overview_, &COverviewWindow::CarrierClicked, &window_, &CParamDlg::SelectCarrier);
    connect(overview_, &COverviewWindow::SaveRequested, this, &ProgrammeDocuments::SaveOverview);
  }
  overview_->show();
  ProgrammeShown();
  if (overview_->isMinimized()) overview_->showNormal();
  overview_->raise();
  overview_->activateWindow();
}

void ProgrammeDocuments::ProgrammeShown() {
  if (overview_ && overview_->isVisible())
    overview_->Show(window_.Param().Snapshot(), window_.Catalogue(), window_.Param().currentCarrier);
}

void ProgrammeDocuments::SaveOverview(bool svg) {
  if (!overview_ || !overview_->Canvas()->Picture()) return;
  const QString suffix = svg ? QStringLiteral("svg") : QStringLiteral("png");
  const QString path = Choose({true, svg ? tr("总览保存为SVG") : tr("总览保存为PNG"), SuggestedPath(suffix),
                               svg ? tr("SVG 图片 (*.svg)") : tr("PNG 图片 (*.png)"), suffix});
  if (path.isEmpty()) return;
  const OverviewPicture& picture = *overview_->Canvas()->Picture();
  const int width = std::max(600, overview_->Canvas()->width());
  const QByteArray bytes = svg ? picture.Svg(width) : picture.Png(width);
  const SaveResult r = WriteFileAtomically(Local(path), bytes.constData(), size_t(bytes.size()));
  Written(r, path, tr("无法保存总览图"), tr("已保存总览图 %1"));
}

RecordContent ProgrammeDocuments::Record() const {
  RecordContent c;
  c.file = QDir::toNativeSeparators(document_);
  c.changed = !window_.History().Stack().isClean();
  c.when = QDateTime::currentDateTime();
  c.model = window_.DeviceModel();
  c.hasDeviceInfo = window_.DeviceInformation(c.deviceInfo);
  c.programme = window_.Param().Snapshot();
  if (const std::string log = window_.TransferLogPath(); !log.empty()) {
    const std::string fingerprint = ProgrammeFingerprint(c.programme.options, c.programme.table);
    const std::vector<TransferRecord> records = ReadTransferLog(log);
    for (auto r = records.rbegin(); r != records.rend(); ++r)
      if (r->programmeSha256 == fingerprint) {
        c.lastTransfer = TransferSummary(*r);
        break;
      }
  }
  return c;
}

void ProgrammeDocuments::Print() {
  QPrinter printer(QPrinter::HighResolution);
  PrepareRecordPages(printer);
  printer.setDocName(tr("参数设置记录"));
  if (!choosePrinter_(printer, &window_)) return;
  const int pages = PaintRecord(printer, Record(), window_.Catalogue());
  Tell(tr("已打印参数记录，共 %n 页", nullptr, pages));
}

void ProgrammeDocuments::ExportPdf() {
  const QString path =
      Choose({true, tr("导出PDF"), SuggestedPath(QStringLiteral("pdf")), tr("PDF 文件 (*.pdf)"), "pdf"});
  if (!path.isEmpty()) ExportPdfFile(path);
}

bool ProgrammeDocuments::ExportPdfFile(const QString& path) {
  int pages = 0;
  const QByteArray bytes = RecordPdf(Record(), window_.Catalogue(), &pages);
  const SaveResult r = WriteFileAtomically(Local(path), bytes.constData(), size_t(bytes.size()));
  // %1 is left for the file's name; %n is the page count.
  return Written(r, path, tr("无法导出PDF"), tr("已导出PDF %1（%n 页）", nullptr, pages));
}

// ---- helpers -------------------------------------------------------------------------------

QString ProgrammeDocuments::Choose(const FileRequest& request) {
  QWidget* parent = overview_ && overview_->isActiveWindow() ? static_cast<QWidget*>(overview_) : &window_;
  const QString path = chooseFile_(parent, request);
  if (!path.isEmpty() && !SystemFolder(QFileInfo(path).absolutePath())) {
    auto s = Settings();
    s->setValue(kFolderKey, QFileInfo(path).absolutePath());
  }
  return path;
}

QString ProgrammeDocuments::SuggestedPath(const QString& suffix) const {
  QString folder = Settings()->value(kFolderKey).toString();
  if (folder.isEmpty() || !QFileInfo(folder).isDir() || SystemFolder(folder))
    folder = QString::fromStdString(window_.StartDir());
  if (suffix.isEmpty()) return folder;
  return QDir(folder).filePath(QFileInfo(document_).completeBaseName() + QLatin1Char('.') + suffix);
}

void ProgrammeDocuments::Remember(const QString& path, bool recent) {
  // The programme now is what that file holds: the record names it, unchanged until the next edit.
  document_ = QFileInfo(path).absoluteFilePath();
  window_.History().Stack().setClean();
  if (!recent) return;
  auto s = Settings();
  QStringList list = s->value(kRecentKey).toStringList();
  list.removeAll(document_);
  list.prepend(document_);
  while (list.size() > kRecentCount) list.removeLast();
  s->setValue(kRecentKey, list);
  // A menu with no entries is disabled and never asks to be filled: fill it now.
  if (recentMenu_) FillRecentMenu();
}

QStringList ProgrammeDocuments::RecentFiles() const { return Settings()->value(kRecentKey).toStringList(); }

void ProgrammeDocuments::FillRecentMenu() {
  recentMenu_->clear();
  const QStringList list = RecentFiles();
  for (int i = 0; i < list.size(); ++i) {
    const QString path = list[i];
    QAction* a = recentMenu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(Name(path)),
                                        this, [this, path] { OpenRecent(path); });
    a->setToolTip(QDir::toNativeSeparators(path));
    a->setStatusTip(a->toolTip());
  }
  recentMenu_->setEnabled(!list.isEmpty());
}

void ProgrammeDocuments::OpenRecent(const QString& path) {
  if (OpenFile(path) || QFileInfo::exists(path)) return;
  // The file is gone: its entry would only fail again.
  auto s = Settings();
  QStringList list = s->value(kRecentKey).toStringList();
  list.removeAll(path);
  s->setValue(kRecentKey, list);
  FillRecentMenu();
}

bool ProgrammeDocuments::Take(const QString& path, bool ok, const Programme& programme, const std::string& reason,
                              bool programmeFile, const QString& told) {
  if (!ok) {
    Refuse(programmeFile ? tr("无法打开参数文件") : tr("无法导入表格"), path,
           QString::fromStdString(reason), true);
    return false;
  }
  window_.ReplaceProgramme((programmeFile ? tr("打开 %1") : tr("导入 %1")).arg(Name(path)), programme);
  Remember(path, programmeFile);
  if (!told.isEmpty())
    Tell(told);
  else
    Tell((programmeFile ? tr("已打开 %1") : tr("已导入表格 %1")).arg(Name(path)));
  if (const std::string bad = ImpossibleStepsText(programme.table, window_.Catalogue()); !bad.empty())
    window_.Ask(QMessageBox::Warning, window_.windowTitle(),
                tr("%1 中有下位机无法执行的内容：\n%2").arg(Name(path), QString::fromStdString(bad)),
                QMessageBox::Ok);
  return true;
}

bool ProgrammeDocuments::Written(const SaveResult& r, const QString& path, const QString& refusal,
                                 const QString& told) {
  if (!r.ok) {
    Refuse(refusal, path, QString::fromStdString(StoreErrorText(r.failure)), false);
    return false;
  }
  Tell(told.arg(Name(path)));
  return true;
}

void ProgrammeDocuments::Tell(const QString& statusText) { window_.ShowFileStatus(QLatin1Char(' ') + statusText); }

void ProgrammeDocuments::Refuse(const QString& what, const QString& path, const QString& reason, bool read) {
  QString text = tr("%1：\n%2\n原因：%3").arg(what, QDir::toNativeSeparators(path), reason);
  if (read) text += QStringLiteral("\n\n") + tr("程序表没有改变。");
  window_.Ask(QMessageBox::Warning, window_.windowTitle(), text, QMessageBox::Ok);
}

std::unique_ptr<QSettings> ProgrammeDocuments::Settings() const {
  if (!settingsFile_.isEmpty()) return std::make_unique<QSettings>(settingsFile_, QSettings::IniFormat);
  return std::make_unique<QSettings>(QStringLiteral("km27"), QStringLiteral("km27param"));
}

}  // namespace km27::ui
