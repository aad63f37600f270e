#pragma once
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "model/param_table.h"
#include "store/file_io.h"

class CParamDlg;
class QAction;
class QMenu;
class QPrinter;
class QSettings;
class QWidget;

namespace km27::ui {

class COverviewWindow;
struct RecordContent;

// What a file chooser is asked for.
struct FileRequest {
  bool save = false;
  QString caption;
  QString path;    // the folder, or the suggested file
  QString filter;  // "参数文件 (*.dat)"
  QString suffix;  // added to a chosen name that has none ("dat")
};

// The programme as documents: open and save as, the table file for spreadsheets, the overview
// picture, the printed record and its PDF, the recent files. The commands sit in the main
// window's menu; the window's working file (KM27A.dat, saved on exit) is not one of these.
class ProgrammeDocuments : public QObject {
  Q_OBJECT
 public:
  using FileChooser = std::function<QString(QWidget* parent, const FileRequest& request)>;
  using PrinterChooser = std::function<bool(QPrinter& printer, QWidget* parent)>;

  explicit ProgrammeDocuments(CParamDlg& window);
  ~ProgrammeDocuments() override;

  // Adds the commands to the menu and their shortcuts to the window.
  void AddMenuEntries(QMenu* menu);

  // Tests answer the choosers and keep their settings apart.
  void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
  void SetPrinterChooser(PrinterChooser chooser) { choosePrinter_ = std::move(chooser); }
  void SetSettingsFile(const QString& path);

  // The commands; each file command also exists with the file already chosen.
  void Open();
  bool OpenFile(const QString& path);
  void SaveAs();
  bool SaveAsChosen();  // false when the operator chose no file or it could not be written
  bool SaveAsFile(const QString& path);
  void ImportCsv();
  bool ImportCsvFile(const QString& path);
  void ExportCsv();
  bool ExportCsvFile(const QString& path);
  void ShowOverview();
  void SaveOverview(bool svg);
  void Print();
  void ExportPdf();
  bool ExportPdfFile(const QString& path);

  COverviewWindow* Overview() const;
  QStringList RecentFiles() const;
  QString DocumentPath() const { return document_; }
  QMenu* RecentMenu() const { return recentMenu_; }
  QAction* Action(const QString& text) const;  // a menu entry by its text, for tests
  RecordContent Record() const;

 public slots:
  // The programme or the carrier being edited changed: the overview follows.
  void ProgrammeShown();

 private:
  QString Choose(const FileRequest& request);
  QString SuggestedPath(const QString& suffix) const;
  void Remember(const QString& path, bool recent);
  void FillRecentMenu();
  void OpenRecent(const QString& path);
  // A programme read from a chosen file takes the window's place as one step to undo, or is
  // refused with the reason. A programme file (not a table) joins the recent files.
  // `told`: the status text instead of the usual one.
  bool Take(const QString& path, bool ok, const Programme& programme, const std::string& reason, bool programmeFile,
            const QString& told = {});
  // Tells that a file was written ("已导出表格 %1" with its name) or why not.
  bool Written(const SaveResult& r, const QString& path, const QString& refusal, const QString& told);
  void Tell(const QString& statusText);
  // Tells why a file could not be read (the programme stayed as it was) or written.
  void Refuse(const QString& what, const QString& path, const QString& reason, bool read);
  std::unique_ptr<QSettings> Settings() const;

  CParamDlg& window_;
  FileChooser chooseFile_;
  PrinterChooser choosePrinter_;
  QString settingsFile_;
  QString document_;  // the file the programme was last opened from or written to
  QPointer<COverviewWindow> overview_;
  QMenu* recentMenu_ = nullptr;
  QList<QAction*> actions_;
};

}  // namespace km27::ui
