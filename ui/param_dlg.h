#pragma once
#include <QDialog>
#include <QMessageBox>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "link/link_engine.h"
#include "link/link_observer.h"
#include "link/link_timing.h"
#include "model/code_catalogue.h"
#include "model/device_model.h"
#include "model/param_model.h"
#include "store/param_file.h"
#include "store/transfer_log.h"
#include "ui/dialog_builder.h"
#include "ui/link_presenter.h"
#include "ui/qt_event_loop.h"

class CHoverButton;
class CLampStatic;
class CMSFlexGrid;
class QComboBox;
class QLabel;
class QAction;
class QMenu;
class QTimer;
class CHelpViewer;
namespace km27::ui {
class ProgrammeDocuments;
class ProgrammeHistory;
class TransferLogWriter;
}  // namespace km27::ui

// Dialog 102, the working window: holds the programme, shows it in the grid, offers the
// commands as buttons and function keys and reports on the status line. It forwards every
// event to the model or the link engine and shows what they say.
class CParamDlg : public QDialog {
  Q_OBJECT
 public:
  // Every message box of the window goes through this, so tests can answer it.
  using MessageBoxFn = std::function<QMessageBox::StandardButton(
      QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
      QMessageBox::StandardButtons buttons)>;

  explicit CParamDlg(QWidget* parent = nullptr);
  ~CParamDlg() override;

  void SetDeviceModel(km27::DeviceModel m) { model = m; }
  // The directory of the device information file; the current one unless the application
  // gives its start-up directory.
  void SetStartDir(const std::string& dir) { startDir = dir; }
  // What the About entry of the window's menu opens (the application's About box).
  void SetAboutBox(std::function<void(QWidget* parent)> show) { aboutBox = std::move(show); }
  // Every delay of the link; the lower machines' own unless a test scales it. Before OnInitDialog.
  void SetLinkTiming(const km27::LinkTiming& timing);
  km27::DeviceModel DeviceModel() const { return model; }
  // Where the transfers are recorded; empty: nowhere. Before OnInitDialog; by default the
  // shared log (KM27_LOG, else the user's state folder).
  void SetTransferLogPath(const std::string& path);
  const std::string& TransferLogPath() const;
  km27::ui::TransferLogWriter& TransferLog() const { return *transferLog; }
  void SetMessageBox(MessageBoxFn fn) { messageBox = std::move(fn); }

  // Creates the controls and runs the start-up steps; DoModal runs it and then the window.
  bool OnInitDialog();
  int DoModal();

  void EnableButtons(bool enable);
  void LayoutStatusBar();
  void SetupButtons();
  void UpdateData(bool saveAndValidate);  // radio groups <-> carrierChoice / lineChoice
  void FillCodeCombo(km27::SignalFamily family);
  void ApplyFamilyControls(km27::SignalFamily family);
  void OnCarrierRadio();
  void OnLineRadio();
  void OnAdd();
  void OnMoveUp();
  void OnMoveDown();
  void OnDelete();
  void OnClearAll();
  void OnUpload();
  void OnDownload();
  void OnOK();
  bool OnHelpInfo();
  void ShowHelpText(const QString& fileName);
  void OnSysCommand();  // the About entry
  void OnPortSettings();
  void OnTransferLog();
  bool DestroyWindow();
  // Ends the window as 退出 does, with no one there to answer (a signal, the session's end):
  // a transfer gets a few seconds to end, and nothing on disk is lost for want of an answer.
  void LeaveUnattended();
  // The working file was written outside the exit save (saved as under its own name).
  void WorkingFileWritten();

  // A whole programme in place of this one (open, import), as one step to undo.
  void ReplaceProgramme(const QString& undoText, const km27::Programme& programme);
  // A file command's outcome on the status line; the welcome text returns as after a transfer.
  void ShowFileStatus(const QString& text);
  // Selects a carrier as a click on its radio does.
  void SelectCarrier(int carrier);
  // The code transmitter's device information as the window holds it; false when it has none.
  bool DeviceInformation(km27::DeviceInfo& info) const;
  const km27::CodeCatalogue& Catalogue() const { return catalogue; }
  const std::string& StartDir() const { return startDir; }
  km27::ui::ProgrammeHistory& History() const { return *history; }
  km27::ui::ProgrammeDocuments& Documents() const { return *documents; }
  QMessageBox::StandardButton Ask(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                  QMessageBox::StandardButtons buttons);

 signals:
  // The programme or the carrier being edited changed.
  void ProgrammeShown();

 public:
  // What the link's presenter shows and hands over.
  virtual void SetLampState(int state);
  virtual void SetStatusText(const std::string& utf8);
  virtual void SetButtonStates(const km27::ui::ButtonStates& states);
  void ShowCounts();
  void ShowMessage(const std::string& utf8);  // modal box, OK only, once the event has run
  // A read-back's mismatch: the message, with 查看差异 opening the whole difference.
  void ShowMismatch(const std::string& utf8, const km27::VerifyDifference& difference);
  // A transfer's record, written off this thread.
  void LogTransfer(const km27::TransferRecord& record);
  // An upload's programme in place of this one, as one step to undo; its device information
  // is kept for the next download and in its file.
  void ReceiveProgramme(const km27::ReceivedProgramme& received);
  // The check byte a download sealed into the programme it sent: the programme as it now is.
  void AdoptCheckByte(uint8_t checkByte);

  // For the window's own use and for tests.
  km27::ParamModel& Param() { return param; }
  QWidget* Control(int id) const { return built.Control(id); }
  CHoverButton* Button(int index) const { return buttons[size_t(index)]; }
  km27::ui::LinkPresenter& Presenter() { return presenter_; }
  km27::LinkEngine* Engine() const { return engine.get(); }
  QMenu* SystemMenu() const { return sysMenu; }
  QAction* VerifyAction() const { return verifyAction; }
  CHelpViewer* HelpViewer() const;
  bool LinkUp() const { return engine && engine->LinkUp(); }

  CLampStatic* lamp = nullptr;
  QLabel* codeCountText = nullptr;
  QLabel* carrierCountText = nullptr;
  QLabel* typeCountText = nullptr;
  QComboBox* codeCombo = nullptr;
  QComboBox* timeCombo = nullptr;
  int carrierChoice = 0;
  int lineChoice = 0;
  CMSFlexGrid* grid = nullptr;
  QLabel* statusLine = nullptr;

 protected:
  bool eventFilter(QObject* obj, QEvent* event) override;  // PreTranslateMessage
  void done(int result) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  bool PreTranslateMessage(QKeyEvent* key);
  // Steps the lower machine cannot carry out are downloaded only when the operator says so.
  bool ConfirmImpossibleSteps();
  void OnRestored(bool carrierChanged);
  void KeepDeviceInfo(const km27::DeviceInfo& info);
  bool SaveWithRetry();
  km27::SaveResult SaveParamFileAtExit();
  enum class ExitSave { kWrite, kKeepFile, kStay };
  ExitSave AskBeforeReplacing();
  bool SaveAtExit();
  void RememberWorkingFile();
  void WaitThenExit();
  void TellDeviceMayBeIncomplete();
  // A question whose buttons carry the given names; the default is the safe answer.
  struct Choice {
    QMessageBox::StandardButton button;
    QString text;
  };
  QMessageBox::StandardButton AskChoice(QMessageBox::Icon icon, const QString& text, std::initializer_list<Choice> choices,
                                        QMessageBox::StandardButton safe);

  km27::CodeCatalogue catalogue;
  km27::ParamModel param;
  km27::DeviceModel model = km27::CodeTransmitter;
  std::array<CHoverButton*, km27::ui::kButtonCount> buttons{};
  km27::ui::BuiltDialog built;
  // The link's loop and presenter outlive its engine.
  QtEventLoop linkLoop_;
  km27::ui::LinkPresenter presenter_;
  std::unique_ptr<km27::LinkEngine> engine;
  QMenu* sysMenu = nullptr;
  QAction* verifyAction = nullptr;
  MessageBoxFn messageBox;
  std::function<void(QWidget*)> aboutBox;
  std::string startDir;
  km27::LinkTiming linkTiming;
  km27::DeviceInfo deviceInfo{};  // code transmitter: what the next download sends
  bool deviceInfoKnown = false;   // read from its file or brought by an upload
  std::unique_ptr<km27::ui::ProgrammeHistory> history;
  std::unique_ptr<km27::ui::TransferLogWriter> transferLog;
  bool transferLogChosen = false;
  bool transferLogFailureShown = false;
  km27::ui::ProgrammeDocuments* documents = nullptr;  // a child of the window
  km27::ParamFileStart paramFileStart;  // what start-up found in the working file
  int familyLastFilled = -1;  // the code combo is refilled only when the family changes
  bool initialised = false;
  bool destroyed = false;

  // The working file as this window last read or wrote it, and the programme that was then:
  // a change made on disk since by anyone else is not overwritten without asking.
  km27::ReadResult workingFileSeen;
  std::string programmeSeen;
  // Exit waits for the transfer under way (until the deadline when no one can be asked).
  QTimer* exitWait = nullptr;
  bool unattended = false;
  qint64 unattendedDeadline = 0;
  std::map<QMessageBox::StandardButton, QString> choiceTexts;  // names for the next question's buttons
  QMessageBox::StandardButton choiceDefault = QMessageBox::NoButton;
};

