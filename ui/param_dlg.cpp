#include "ui/param_dlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <ctime>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>

#include "link/link_timing.h"
#include "model/status_texts.h"
#include "port/com_names.h"
#include "res/app_icon.h"
#include "res/dialog_templates.h"
#include "res/strings.h"
#include "store/device_info.h"
#include "store/help_text.h"
#include "store/param_file.h"
#include "ui/controls/hover_button.h"
#include "ui/controls/lamp_static.h"
#include "ui/controls/ms_flex_grid.h"
#include "ui/help_viewer.h"
#include "ui/interface_language.h"
#include "ui/link_factory.h"
#include "ui/port_settings_dlg.h"
#include "ui/programme_documents.h"
#include "ui/programme_history.h"
#include "ui/difference_view.h"
#include "ui/transfer_log_window.h"
#include "ui/transfer_log_writer.h"

using namespace km27;
using namespace km27::res;

namespace {

// The eight command buttons in the order of `buttons` (the link's CommandButton order).
struct ButtonDef {
  int id;
  const char* caption;
};
constexpr ButtonDef kButtons[ui::kButtonCount] = {
    {IDC_UPLOAD, QT_TRANSLATE_NOOP("CParamDlg", "上传")},    {IDC_DOWNLOAD, QT_TRANSLATE_NOOP("CParamDlg", "下载")},
    {IDC_CLEAR, QT_TRANSLATE_NOOP("CParamDlg", "清空")},     {IDC_EXIT, QT_TRANSLATE_NOOP("CParamDlg", "退出")},
    {IDC_MOVE_UP, QT_TRANSLATE_NOOP("CParamDlg", "上移")},   {IDC_MOVE_DOWN, QT_TRANSLATE_NOOP("CParamDlg", "下移")},
    {IDC_DELETE, QT_TRANSLATE_NOOP("CParamDlg", "删除")},    {IDC_ADD, QT_TRANSLATE_NOOP("CParamDlg", "添加")},
};

// Status controls in pixels from the client's left and bottom edges.
constexpr int kStatusTopFromBottom = 31;
constexpr int kStatusHeight = 20;
struct StatusPlace {
  int id, left, width;
};
constexpr StatusPlace kStatusPlaces[] = {
    {IDC_LAMP, 20, 20},         {IDC_STATUS_LINE, 45, 369}, {IDC_TYPE_COUNT, 415, 69},
    {IDC_CARRIER_COUNT, 485, 69}, {IDC_CODE_COUNT, 555, 72},
};
// English is longer: the status line and the counts ("Carriers: 19") take the room up to the
// right edge of the table's frame.
constexpr StatusPlace kStatusPlacesEnglish[] = {
    {IDC_LAMP, 20, 20},           {IDC_STATUS_LINE, 45, 427}, {IDC_TYPE_COUNT, 473, 63},
    {IDC_CARRIER_COUNT, 537, 86}, {IDC_CODE_COUNT, 624, 80},
};

QString WindowCaption() { return CParamDlg::tr("参数设置工具"); }
const char kVerifySetting[] = "transfer/verifyAfterDownload";
QString IncompleteText() { return CParamDlg::tr("下载在进行中被中断：下位机中的程序可能不完整，请重新下载。"); }
// What goes to the terminal when no one is there to read a window.
void TellTerminal(const QString& text) { std::fprintf(stderr, "km27param: %s\n", text.toLocal8Bit().constData()); }
constexpr int kExitWaitTickMs = 100;
constexpr int kUnattendedWaitMs = 5000;

QMessageBox::StandardButton DefaultMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                              const QString& text, QMessageBox::StandardButtons buttons,
                                              const std::map<QMessageBox::StandardButton, QString>& names,
                                              QMessageBox::StandardButton safe) {
  QMessageBox box(icon, caption, text, buttons, parent);
  // 是, 否 and 确定 come from Qt's Chinese translation. These three keep our names and keys:
  // the exit save's message explains its buttons by them (Qt would say 丢弃, not 放弃).
  if (auto* b = box.button(QMessageBox::Retry)) b->setText(CParamDlg::tr("重试(&R)"));
  if (auto* b = box.button(QMessageBox::Cancel)) b->setText(CParamDlg::tr("取消(&C)"));
  if (auto* b = box.button(QMessageBox::Discard)) b->setText(CParamDlg::tr("放弃(&D)"));
  for (const auto& [button, name] : names)
    if (auto* b = box.button(button)) b->setText(name);
  if (safe != QMessageBox::NoButton) box.setDefaultButton(safe);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

std::string Bytes(const std::array<uint8_t, kParamFileSize>& image) { return std::string(image.begin(), image.end()); }

// Two reads of the working file found the same thing there (or the same reason for nothing).
bool SameOnDisk(const ReadResult& a, const ReadResult& b) {
  return a.ok == b.ok && a.failure.sysError == b.failure.sysError && a.tooLarge == b.tooLarge && a.fileSize == b.fileSize &&
         a.bytes == b.bytes;
}

ReadResult ReadWorkingFile() { return ReadFileBytes(kParamFileName, kParamFileSize); }

QAbstractButton* AsButton(QWidget* w) { return static_cast<QAbstractButton*>(w); }

}  // namespace

CParamDlg::CParamDlg(QWidget* parent)
    : QDialog(parent),
      param(catalogue),
      presenter_(*this, linkLoop_, LinkTiming().statusResetMs),
      messageBox([this](QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                        QMessageBox::StandardButtons buttons) {
        return DefaultMessageBox(parent, icon, caption, text, buttons, choiceTexts, choiceDefault);
      }),
      startDir(QDir::currentPath().toStdString()) {
  history = std::make_unique<ui::ProgrammeHistory>(param);
  transferLog = std::make_unique<ui::TransferLogWriter>();
  connect(transferLog.get(), &ui::TransferLogWriter::Failed, this, [this](const QString& reason) {
    // Once: a transfer is never failed by its record, nor is every later one announced.
    if (transferLogFailureShown || destroyed || !statusLine) return;
    transferLogFailureShown = true;
    statusLine->setText(tr("传输记录无法写入：%1").arg(reason));
    presenter_.RestartStatusReset();
  });
  connect(history.get(), &ui::ProgrammeHistory::Restored, this, &CParamDlg::OnRestored);
  connect(history.get(), &ui::ProgrammeHistory::Changed, this, &CParamDlg::ProgrammeShown);
  // A fixed-size window with a minimise box and no help button.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
}

CParamDlg::~CParamDlg() {
  qApp->removeEventFilter(this);
  if (engine && !destroyed) engine->Stop();  // a window deleted without closing still ends its link
  engine.reset();
}

bool CParamDlg::OnInitDialog() {
  if (initialised) return true;
  initialised = true;

  // Controls from the template; the buttons and the lamp are our own classes.
  const DialogTemplate* t = FindDialogTemplate(IDD_PARAM);
  built = ui::BuildDialog(this, *t, [](const ControlTemplate& c, QWidget* parent) -> QWidget* {
    if (c.kind == ControlKind::PushButton) {
      auto* b = new CHoverButton(parent);
      b->setText(QCoreApplication::translate(kDialogTextContext, c.text));
      return b;
    }
    if (c.id == IDC_LAMP) return new CLampStatic(parent);
    return nullptr;
  });
  setWindowTitle(WindowCaption());
  lamp = static_cast<CLampStatic*>(Control(IDC_LAMP));
  codeCountText = static_cast<QLabel*>(Control(IDC_CODE_COUNT));
  carrierCountText = static_cast<QLabel*>(Control(IDC_CARRIER_COUNT));
  typeCountText = static_cast<QLabel*>(Control(IDC_TYPE_COUNT));
  codeCombo = static_cast<QComboBox*>(Control(IDC_CODE_COMBO));
  timeCombo = static_cast<QComboBox*>(Control(IDC_TIME_COMBO));
  grid = static_cast<CMSFlexGrid*>(Control(IDC_GRID));
  UpdateData(false);

  for (int i = 0; i < kCarrierCount; ++i)
    connect(AsButton(Control(CarrierRadioId(i))), &QAbstractButton::clicked, this, &CParamDlg::OnCarrierRadio);
  for (int id : {IDC_LINE_FIRST, IDC_LINE_SECOND})
    connect(AsButton(Control(id)), &QAbstractButton::clicked, this, &CParamDlg::OnLineRadio);
  const std::pair<int, void (CParamDlg::*)()> commands[] = {
      {IDC_ADD, &CParamDlg::OnAdd},           {IDC_MOVE_DOWN, &CParamDlg::OnMoveDown},
      {IDC_MOVE_UP, &CParamDlg::OnMoveUp},    {IDC_DELETE, &CParamDlg::OnDelete},
      {IDC_CLEAR, &CParamDlg::OnClearAll},    {IDC_DOWNLOAD, &CParamDlg::OnDownload},
      {IDC_UPLOAD, &CParamDlg::OnUpload},     {IDC_EXIT, &CParamDlg::OnOK},
  };
  for (const auto& [id, handler] : commands) connect(AsButton(Control(id)), &QAbstractButton::clicked, this, handler);
  connect(grid, &CMSFlexGrid::KeyUp, this, [this](int keyCode, int) { param.OnGridKeyUp(keyCode); });
  connect(grid, &CMSFlexGrid::MouseDown, this, [this](int, int, int, int) { param.OnGridMouseDown(); });

  // The programme's document commands, the verification switch, then the About entry, where the
  // window's menu is reached by mouse and keyboard.
  const QString about = QCoreApplication::translate(kStringTableContext, LoadString(IDS_ABOUTBOX));
  sysMenu = new QMenu(this);
  documents = new ui::ProgrammeDocuments(*this);
  connect(this, &CParamDlg::ProgrammeShown, documents, &ui::ProgrammeDocuments::ProgrammeShown);
  documents->AddMenuEntries(sysMenu);
  // Proof on the device after every download, unless the operator turned it off (remembered).
  sysMenu->addSeparator();
  verifyAction = sysMenu->addAction(tr("下载后校验"));
  verifyAction->setCheckable(true);
  verifyAction->setChecked(QSettings().value(kVerifySetting, true).toBool());
  connect(verifyAction, &QAction::toggled, this, [this](bool on) {
    QSettings().setValue(kVerifySetting, on);
    if (engine) engine->SetVerifyAfterDownload(on);
  });
  sysMenu->addAction(tr("端口设置(&T)..."), this, &CParamDlg::OnPortSettings);
  sysMenu->addAction(tr("传输记录(&L)..."), this, &CParamDlg::OnTransferLog);
  ui::AddLanguageMenu(sysMenu, [this](const QString& text) {
    Ask(QMessageBox::Information, windowTitle(), text, QMessageBox::Ok);
  });
  if (!transferLogChosen) transferLog->SetPath(DefaultTransferLogPath());
  if (!about.isEmpty()) {
    sysMenu->addSeparator();
    sysMenu->addAction(about, this, &CParamDlg::OnSysCommand);
  }

  setWindowIcon(AppIcon());

  // An empty programme until the file is read.
  param.table.Clear();
  param.options.Clear();
  statusLine = static_cast<QLabel*>(Control(IDC_STATUS_LINE));

  SetupButtons();
  LayoutStatusBar();

  catalogue.BuildCodeCatalogue();
  param.AttachGrid(grid);
  param.ResetSelection();
  paramFileStart = LoadParamFileAtStart(kParamFileName, param.options, param.table, std::time(nullptr));
  history->Adopt();  // the programme the window starts with is nothing to undo
  RememberWorkingFile();
  QString told = QString::fromStdString(paramFileStart.Message());
  if (const std::string bad = ImpossibleStepsText(param.table, catalogue); !bad.empty())
    told += (told.isEmpty() ? QString() : QStringLiteral("\n\n")) +
            tr("参数文件 %1 中有下位机无法执行的内容：\n%2").arg(QString::fromUtf8(kParamFileName), QString::fromStdString(bad));
  if (!told.isEmpty()) {
    // Once the window is up, so the operator sees what the message is about.
    QTimer::singleShot(0, this, [this, told] {
      if (!destroyed) Ask(QMessageBox::Warning, WindowCaption(), told, QMessageBox::Ok);
    });
  }
  param.SetupColumns();
  param.RefreshGrid();

  FillCodeCombo(param.currentFamily);
  ApplyFamilyControls(param.currentFamily);
  timeCombo->setCurrentIndex(0);
  carrierChoice = param.currentCarrier;
  UpdateData(false);

  statusLine->setText(QString::fromUtf8(text::kWelcome()));
  EnableButtons(false);
  qApp->installEventFilter(this);

  // The link of the model; the code box shows its counts from the start.
  // The code transmitter's device information travels with every download.
  // Without a usable file the engine sends the device's own information back, never zeros.
  if (IsCodeTransmitter(model)) deviceInfoKnown = bool(LoadDeviceInfo(startDir, deviceInfo));
  engine = CreateLinkEngine(model, linkLoop_, presenter_, deviceInfoKnown ? std::optional(deviceInfo) : std::nullopt,
                            linkTiming);
  if (engine) {
    engine->SetVerifyAfterDownload(verifyAction->isChecked());
    engine->Start();
  }
  if (!IsCodeTransmitter(model)) ShowCounts();
  // Why the lamp stays dark: ports that exist but could not be opened, and the fix.
  lamp->SetToolTipSource([this] {
    if (engine && engine->LinkUp()) return tr("通信正常");
    const std::string problems = PortProblemText();
    if (problems.empty()) return tr("通信中断：未找到下位机");
    return tr("通信中断：\n%1").arg(QString::fromStdString(problems));
  });
  return true;
}

int CParamDlg::DoModal() {
  OnInitDialog();
  const int result = exec();
  // The application was told to quit (the session ended) without the window being closed.
  if (!destroyed) {
    unattended = true;
    DestroyWindow();
  }
  return result;
}

void CParamDlg::SetupButtons() {
  for (int i = 0; i < ui::kButtonCount; ++i) {
    buttons[size_t(i)] = static_cast<CHoverButton*>(Control(kButtons[i].id));
    buttons[size_t(i)]->caption = tr(kButtons[i].caption);
  }
}

void CParamDlg::LayoutStatusBar() {
  const QRect client = rect();
  const bool english = km27::CurrentLanguage() == km27::Language::kEnglish;
  for (const StatusPlace& s : english ? kStatusPlacesEnglish : kStatusPlaces) {
    QWidget* w = Control(s.id);
    w->setGeometry(client.left() + s.left, client.bottom() + 1 - kStatusTopFromBottom, s.width, kStatusHeight);
    w->update();
  }
}

void CParamDlg::SetLinkTiming(const LinkTiming& timing) {
  linkTiming = timing;
  presenter_.SetStatusResetMs(timing.statusResetMs);
}

void CParamDlg::EnableButtons(bool enable) { SetButtonStates(ui::ButtonStatesFor(LinkUp(), enable)); }

void CParamDlg::SetButtonStates(const ui::ButtonStates& states) {
  for (int i = 0; i < ui::kButtonCount; ++i) buttons[size_t(i)]->setEnabled(states.enabled[size_t(i)]);
  if (states.focusUpload) buttons[ui::kButtonUpload]->setFocus(Qt::OtherFocusReason);
}

void CParamDlg::UpdateData(bool saveAndValidate) {
  QButtonGroup* carriers = built.GroupOf(CarrierRadioId(0));
  QButtonGroup* lines = built.GroupOf(IDC_LINE_FIRST);
  if (saveAndValidate) {
    carrierChoice = carriers->checkedId();
    lineChoice = lines->checkedId();
    return;
  }
  for (auto [group, value] : {std::pair{carriers, carrierChoice}, std::pair{lines, lineChoice}}) {
    if (QAbstractButton* b = group->button(value)) {
      b->setChecked(true);
    } else if (QAbstractButton* c = group->checkedButton()) {
      // An index outside the group unchecks all, as the radio exchange does.
      group->setExclusive(false);
      c->setChecked(false);
      group->setExclusive(true);
    }
  }
}

void CParamDlg::FillCodeCombo(SignalFamily family) {
  if (familyLastFilled == family) return;
  familyLastFilled = family;
  codeCombo->clear();
  for (const std::string& item : catalogue.ComboItems(family)) codeCombo->addItem(QString::fromStdString(item));
  codeCombo->setCurrentIndex(0);
}

void CParamDlg::ApplyFamilyControls(SignalFamily family) {
  auto* first = AsButton(Control(IDC_LINE_FIRST));
  auto* second = AsButton(Control(IDC_LINE_SECOND));
  const LineRadioState s = LineRadiosFor(model, family, param.options);
  if (!s.touch) {
    first->setEnabled(false);
    second->setEnabled(false);
    return;
  }
  first->setText(QString::fromStdString(s.caption0));
  second->setText(QString::fromStdString(s.caption1));
  first->setEnabled(s.enabled);
  second->setEnabled(s.enabled);
  lineChoice = s.value;
  UpdateData(false);
}

void CParamDlg::OnCarrierRadio() {
  const int before = carrierChoice & 0xFF;
  UpdateData(true);
  if (carrierChoice == before || carrierChoice < 0) return;
  param.SelectCarrier(carrierChoice);
  ApplyFamilyControls(param.currentFamily);
  FillCodeCombo(param.currentFamily);
  emit ProgrammeShown();
}

void CParamDlg::SelectCarrier(int carrier) {
  if (QWidget* radio = Control(CarrierRadioId(carrier))) AsButton(radio)->click();
}

void CParamDlg::OnLineRadio() {
  UpdateData(true);
  if (lineChoice >= 0)
    history->Edit(tr("线路"), ui::ChangeScope::kCarrier, [this] { param.SetLineOption(lineChoice); });
}

void CParamDlg::OnAdd() {
  const int code = std::max(0, codeCombo->currentIndex());
  const int seconds = DurationSeconds(timeCombo->currentText().toStdString()) & 0xFF;
  history->Edit(tr("添加"), ui::ChangeScope::kCarrier, [&] {
    if (param.Add(code, seconds).showCounts) ShowCounts();
  });
}

void CParamDlg::OnMoveUp() {
  history->Edit(tr("上移"), ui::ChangeScope::kCarrier, [this] { param.MoveUp(); });
}

void CParamDlg::OnMoveDown() {
  history->Edit(tr("下移"), ui::ChangeScope::kCarrier, [this] { param.MoveDown(); });
}

void CParamDlg::OnDelete() {
  history->Edit(tr("删除"), ui::ChangeScope::kCarrier, [this] {
    if (param.Delete().showCounts) ShowCounts();
  });
}

void CParamDlg::OnClearAll() {
  if (Ask(QMessageBox::Information, QString::fromUtf8(text::kClearCaption()), QString::fromUtf8(text::kClearQuestion()),
          QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return;
  history->Edit(tr("清空"), ui::ChangeScope::kProgramme, [this] {
    const EditOutcome out = param.ClearAll();
    ApplyFamilyControls(param.currentFamily);
    if (out.showCounts) ShowCounts();
  });
}

void CParamDlg::ReplaceProgramme(const QString& undoText, const Programme& programme) {
  // As an upload shows its programme: the highlight on the last step of the current carrier.
  history->Edit(undoText, ui::ChangeScope::kProgramme, [&] {
    param.ShowProgramme(programme, -1);
    ApplyFamilyControls(param.currentFamily);
    ShowCounts();
  });
}

void CParamDlg::OnRestored(bool carrierChanged) {
  if (carrierChanged) {
    carrierChoice = param.currentCarrier;
    FillCodeCombo(param.currentFamily);
  }
  ApplyFamilyControls(param.currentFamily);
  UpdateData(false);
  ShowCounts();
}

void CParamDlg::ShowFileStatus(const QString& text) {
  statusLine->setText(text);
  presenter_.RestartStatusReset();
}

bool CParamDlg::DeviceInformation(DeviceInfo& info) const {
  if (!IsCodeTransmitter(model) || !deviceInfoKnown) return false;
  info = deviceInfo;
  return true;
}

void CParamDlg::OnUpload() {
  if (engine) engine->OnUpload();
}

bool CParamDlg::ConfirmImpossibleSteps() {
  const std::string bad = ImpossibleStepsText(param.table, catalogue);
  if (bad.empty()) return true;
  const QString text = tr("程序表中有下位机无法执行的内容：\n%1\n\n下载会把它们原样发给下位机。仍要下载吗？")
                           .arg(QString::fromStdString(bad));
  return AskChoice(QMessageBox::Warning, text, {{QMessageBox::Yes, tr("仍然下载(&Y)")}, {QMessageBox::Cancel, tr("取消(&C)")}},
                   QMessageBox::Cancel) == QMessageBox::Yes;
}

void CParamDlg::OnDownload() {
  if (!engine) return;
  // Asked only where a download would start: F7 also comes without a link or during a transfer.
  if (engine->LinkUp() && !engine->TransferRunning() && !ConfirmImpossibleSteps()) return;
  engine->OnDownload(param.Snapshot());
}

void CParamDlg::AdoptCheckByte(uint8_t checkByte) {
  param.options.SetCheckByte(checkByte);
  history->Adopt();  // the programme as sent: nothing to undo
}

void CParamDlg::ReceiveProgramme(const ReceivedProgramme& received) {
  history->Edit(tr("上传"), ui::ChangeScope::kProgramme, [&] {
    const Programme p = received.Over(param.Snapshot());
    // The code box's programme shows its current carrier's last step; the code transmitter's
    // leaves the highlight where it was.
    if (!received.masksOnly) param.highlightRow = 0;
    param.ShowProgramme(p, received.masksOnly ? param.highlightRow : -1);
    ShowCounts();
  });
  if (received.info) KeepDeviceInfo(*received.info);
}

void CParamDlg::OnOK() {
  UpdateData(true);
  accept();
}

void CParamDlg::ShowCounts() {
  const auto texts = CountTexts(param.Counts());
  typeCountText->setText(QString::fromStdString(texts[0]));
  carrierCountText->setText(QString::fromStdString(texts[1]));
  codeCountText->setText(QString::fromStdString(texts[2]));
}

void CParamDlg::SetLampState(int state) { lamp->SetLampState(state); }

void CParamDlg::SetStatusText(const std::string& utf8) { statusLine->setText(QString::fromStdString(utf8)); }

void CParamDlg::ShowMessage(const std::string& utf8) {
  // From the event loop, once the link's report has run to its end: a worker waiting for its
  // report is never held up by the operator reading a message.
  const QString text = QString::fromStdString(utf8);
  if (unattended) {
    std::fprintf(stderr, "km27param: %s\n", utf8.c_str());  // no one is there to read a window
    return;
  }
  QTimer::singleShot(0, this, [this, text] {
    if (!destroyed) Ask(QMessageBox::Warning, WindowCaption(), text, QMessageBox::Ok);
  });
}

void CParamDlg::KeepDeviceInfo(const DeviceInfo& info) {
  deviceInfo = info;
  deviceInfoKnown = true;
  const SaveResult r = SaveDeviceInfo(startDir, info);
  if (r.ok) return;
  // The programme arrived; only its device information could not be kept on disk.
  statusLine->setText(statusLine->text() + QString::fromUtf8(text::kDeviceInfoNotSaved()));
  ShowMessage(tr("参数数据已上传，但设备信息文件无法保存：\n%1\n原因：%2\n\n本次收到的设备信息仍用于下次下载，直到程序关闭。")
                  .arg(QString::fromStdString(r.path), QString::fromStdString(StoreErrorText(r.failure)))
                  .toStdString());
}

QMessageBox::StandardButton CParamDlg::AskChoice(QMessageBox::Icon icon, const QString& text,
                                                 std::initializer_list<Choice> choices,
                                                 QMessageBox::StandardButton safe) {
  QMessageBox::StandardButtons buttons;
  for (const Choice& c : choices) {
    buttons |= c.button;
    choiceTexts[c.button] = c.text;
  }
  choiceDefault = safe;
  const auto answer = Ask(icon, WindowCaption(), text, buttons);
  choiceTexts.clear();
  choiceDefault = QMessageBox::NoButton;
  return answer;
}

QMessageBox::StandardButton CParamDlg::Ask(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                           QMessageBox::StandardButtons buttons) {
  return messageBox(this, icon, caption, text, buttons);
}

bool CParamDlg::PreTranslateMessage(QKeyEvent* key) {
  // Function keys with Alt, Ctrl or Super held belong to the desktop (Alt+F4 closes the
  // window); only the plain keys, or with Shift, are the window's commands.
  const bool desktopChord = key->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier);
  if (desktopChord && key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F9) return false;
  switch (key->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter: return true;
    case Qt::Key_F1: OnHelpInfo(); return true;
    case Qt::Key_F2: OnAdd(); return true;
    case Qt::Key_F3: OnMoveUp(); return true;
    case Qt::Key_F4: OnMoveDown(); return true;
    case Qt::Key_F5: OnDelete(); return true;
    case Qt::Key_F6: OnUpload(); return true;
    case Qt::Key_F7: OnDownload(); return true;
    case Qt::Key_F8: OnClearAll(); return true;
    case Qt::Key_F9: OnOK(); return true;
    case Qt::Key_Space:
      // Alt+Space opens the window menu, as the system menu would.
      if (key->modifiers() & Qt::AltModifier) {
        sysMenu->popup(mapToGlobal(QPoint(0, 0)));
        return true;
      }
      return false;
    default: return false;
  }
}

bool CParamDlg::eventFilter(QObject* obj, QEvent* event) {
  if (event->type() != QEvent::KeyPress || destroyed) return false;
  auto* w = qobject_cast<QWidget*>(obj);
  if (!w || w->window() != this) return false;
  return PreTranslateMessage(static_cast<QKeyEvent*>(event));
}

void CParamDlg::OnPortSettings() {
  CPortSettingsDlg dlg(km27::ComEnvironment::FromProcess(), this);
  dlg.exec();
}

void CParamDlg::SetTransferLogPath(const std::string& path) {
  transferLogChosen = true;
  transferLog->SetPath(path);
}

const std::string& CParamDlg::TransferLogPath() const { return transferLog->Path(); }

void CParamDlg::LogTransfer(const TransferRecord& record) { transferLog->Append(record); }

void CParamDlg::OnTransferLog() {
  auto* w = new ui::TransferLogWindow(*this);
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->show();
}

void CParamDlg::ShowMismatch(const std::string& utf8, const VerifyDifference& difference) {
  if (unattended) return ShowMessage(utf8);
  const QString text = QString::fromStdString(utf8);
  QTimer::singleShot(0, this, [this, text, difference] {
    if (destroyed) return;
    const auto answer = AskChoice(QMessageBox::Warning, text,
                                  {{QMessageBox::Ok, tr("确定")}, {QMessageBox::Open, tr("查看差异(&V)")}}, QMessageBox::Ok);
    if (answer != QMessageBox::Open || destroyed) return;
    auto* view = new ui::DifferenceView(param.Snapshot(), difference, catalogue, this);
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->show();
  });
}

void CParamDlg::contextMenuEvent(QContextMenuEvent* event) { sysMenu->popup(event->globalPos()); }

void CParamDlg::OnSysCommand() {
  if (aboutBox) aboutBox(this);
}

bool CParamDlg::OnHelpInfo() {
  ShowHelpText(QString::fromUtf8(kHelpFileName));
  return true;
}

CHelpViewer* CParamDlg::HelpViewer() const {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->windowTitle() == HelpViewerTitle() && !w->isHidden()) return qobject_cast<CHelpViewer*>(w);
  return nullptr;
}

void CParamDlg::ShowHelpText(const QString& fileName) {
  // In English the help is the program's own: the Chinese file is neither written nor shown.
  const bool english = km27::CurrentLanguage() == km27::Language::kEnglish;
  const QString shown = QFileInfo(fileName).absoluteFilePath();
  const HelpFileResult file =
      english ? HelpFileResult{true, false, {}}
              : EnsureHelpFile(fileName.toStdString(), LoadString(IDS_HELP_1), LoadString(IDS_HELP_2));
  if (!file.ok) {
    Ask(QMessageBox::Warning, WindowCaption(),
        tr("无法创建帮助文件：\n%1\n原因：%2").arg(shown, QString::fromStdString(StoreErrorText(file.failure))),
        QMessageBox::Ok);
    return;
  }
  // Any window already showing the help is brought forward instead of opening another.
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->isVisible() && w->windowTitle() == HelpViewerTitle()) {
      if (w->isMinimized()) w->showNormal();
      w->raise();
      w->activateWindow();
      return;
    }
  }
  if (english) {
    (new CHelpViewer(ShippedEnglishHelp(), this))->show();
    return;
  }
  // A file that is there but cannot be read would open an empty viewer: say why instead.
  const HelpFileText text = ReadHelpFile(fileName.toStdString());
  if (!text.ok) {
    Ask(QMessageBox::Warning, WindowCaption(),
        tr("无法读取帮助文件：\n%1\n原因：%2").arg(shown, QString::fromStdString(StoreErrorText(text.failure))),
        QMessageBox::Ok);
    return;
  }
  auto* viewer = new CHelpViewer(text.bytes, this);
  viewer->show();
}

void CParamDlg::RememberWorkingFile() {
  workingFileSeen = ReadWorkingFile();
  programmeSeen = Bytes(BuildParamFileImage(param.options, param.table));
}

void CParamDlg::WorkingFileWritten() { RememberWorkingFile(); }

CParamDlg::ExitSave CParamDlg::AskBeforeReplacing() {
  const ReadResult now = ReadWorkingFile();
  const std::string ours = Bytes(BuildParamFileImage(param.options, param.table));
  // Only a file whose bytes can be compared is told apart: one that vanished is simply written,
  // and one that cannot be read is left to the save, which refuses or reports it as before.
  const bool readable = now.ok || now.tooLarge;
  if (!readable || (now.ok && now.bytes == ours)) return ExitSave::kWrite;
  const QString file = QFileInfo(QString::fromUtf8(kParamFileName)).absoluteFilePath();
  const bool changedOnDisk = !SameOnDisk(now, workingFileSeen);
  // Changed there while this window changed nothing: what is there stays.
  if (changedOnDisk && ours == programmeSeen) return ExitSave::kKeepFile;
  const QString document = documents ? documents->DocumentPath() : file;
  const bool fromOtherFile = QFileInfo(document).absoluteFilePath() != file;
  if (!changedOnDisk && !fromOtherFile) return ExitSave::kWrite;

  if (unattended) {
    // No one to ask: the file stays, and the window's programme goes beside it.
    const SaveResult r = SaveParamFileBeside(kParamFileName, param.options, param.table, std::time(nullptr));
    if (r.ok)
      TellTerminal(tr("%1 已被修改或来自其他文件，保持不变；本窗口的程序表另存为 %2").arg(file, QString::fromStdString(r.path)));
    else
      TellTerminal(tr("本窗口的程序表无法保存：%1\n原因：%2")
                       .arg(QString::fromStdString(r.path), QString::fromStdString(StoreErrorText(r.failure))));
    return ExitSave::kKeepFile;
  }
  if (changedOnDisk) {
    const QString when = QFileInfo(file).lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QString text =
        tr("参数文件在本窗口读取或保存之后已被修改（另一个窗口、命令行工具或编辑器）：\n%1\n修改时间：%2\n\n"
           "“覆盖”：用本窗口的程序表替换它，文件中的修改将丢失；\n"
           "“另存为…”：把本窗口的程序表存为另一个文件，参数文件保持不变，然后关闭窗口；\n“取消”：回到窗口。")
            .arg(file, when);
    const auto answer = AskChoice(QMessageBox::Warning, text,
                                  {{QMessageBox::Save, tr("覆盖(&O)")}, {QMessageBox::SaveAll, tr("另存为(&S)…")},
                                   {QMessageBox::Cancel, tr("取消(&C)")}},
                                  QMessageBox::Cancel);
    if (answer == QMessageBox::Save) return ExitSave::kWrite;
    if (answer == QMessageBox::SaveAll && documents && documents->SaveAsChosen()) return ExitSave::kKeepFile;
    return ExitSave::kStay;
  }
  const QString text =
      tr("本窗口的程序表来自另一个文件：\n%1\n与参数文件的内容不同：\n%2\n\n"
         "“保存到工作文件”：用本窗口的程序表替换参数文件；\n“不保存”：参数文件保持不变，关闭窗口；\n“取消”：回到窗口。")
          .arg(QDir::toNativeSeparators(document), file);
  const auto answer = AskChoice(QMessageBox::Question, text,
                                {{QMessageBox::Save, tr("保存到工作文件(&S)")}, {QMessageBox::Discard, tr("不保存(&N)")},
                                 {QMessageBox::Cancel, tr("取消(&C)")}},
                                QMessageBox::Cancel);
  if (answer == QMessageBox::Save) return ExitSave::kWrite;
  if (answer == QMessageBox::Discard) return ExitSave::kKeepFile;
  return ExitSave::kStay;
}

bool CParamDlg::SaveAtExit() {
  switch (AskBeforeReplacing()) {
    case ExitSave::kStay: return false;
    case ExitSave::kKeepFile: return true;
    case ExitSave::kWrite: break;
  }
  if (!unattended) return SaveWithRetry();
  const SaveResult r = SaveParamFileAtExit();
  if (!r.ok)
    TellTerminal(tr("参数文件保存失败：%1\n原因：%2")
                     .arg(QString::fromStdString(r.path.empty() ? kParamFileName : r.path),
                          QString::fromStdString(StoreErrorText(r.failure))));
  return true;
}

SaveResult CParamDlg::SaveParamFileAtExit() {
  if (!paramFileStart.MayReplace()) {
    // What could not be read or kept at start-up is not replaced, unless it has since become
    // something we may replace (the operator fixed it, or removed it).
    ParamOptions o;
    ParamTable t;
    paramFileStart = LoadParamFileAtStart(kParamFileName, o, t, std::time(nullptr));
    if (!paramFileStart.MayReplace()) {
      SaveResult r;
      r.path = paramFileStart.path;
      r.failure.code = StoreError::kUnreadableAtStart;
      r.failure.detail.cause = std::make_shared<const StoreFailure>(paramFileStart.failure);
      return r;
    }
  }
  return SaveParamFile(kParamFileName, param.options, param.table);
}

bool CParamDlg::SaveWithRetry() {
  for (;;) {
    const SaveResult r = SaveParamFileAtExit();
    if (r.ok) return true;
    const QString file = QFileInfo(QString::fromStdString(r.path.empty() ? kParamFileName : r.path)).absoluteFilePath();
    const QString text =
        tr("参数文件保存失败：\n%1\n原因：%2\n\n"
           "“重试”：再次保存；\n“取消”：回到窗口，程序表保留；\n“放弃”：不保存本次修改，关闭窗口（原文件不变）。")
            .arg(file, QString::fromStdString(StoreErrorText(r.failure)));
    const auto answer = Ask(QMessageBox::Critical, WindowCaption(), text,
                            QMessageBox::Retry | QMessageBox::Cancel | QMessageBox::Discard);
    if (answer == QMessageBox::Retry) continue;
    return answer == QMessageBox::Discard;
  }
}

bool CParamDlg::DestroyWindow() {
  if (destroyed) return true;
  if (!unattended && engine && engine->TransferRunning()) {
    // Cut short, a download leaves the device with part of the new programme.
    const QString text = tr("正在与下位机传输数据。\n\n“等待传输结束”：传输结束后窗口自动保存并退出；\n"
                            "“仍然退出”：立即中断传输并退出。");
    const auto answer = AskChoice(QMessageBox::Warning, text,
                                  {{QMessageBox::Retry, tr("等待传输结束(&W)")}, {QMessageBox::Discard, tr("仍然退出(&Q)")}},
                                  QMessageBox::Retry);
    if (answer == QMessageBox::Retry) WaitThenExit();
    if (answer != QMessageBox::Discard) return false;
  }
  if (exitWait) exitWait->stop();
  // Saved while the link still runs, so that an operator who goes back to the window (cancel
  // in the failure message) finds it exactly as alive as before. The file is the same as if
  // the link had been stopped first: from here to the link's stop below this thread handles
  // no event, so nothing can change the programme in between.
  if (!SaveAtExit()) return false;
  const bool downloading = engine && engine->DownloadRunning();
  presenter_.AbandonTransfer();  // before the stop, which may report the cut as a failure
  if (engine) engine->Stop();
  presenter_.Stop();
  transferLog->WaitIdle(2000);  // the last transfer's record is kept, unless the disk hangs
  destroyed = true;
  qApp->removeEventFilter(this);
  if (downloading && engine->DeviceTouched()) TellDeviceMayBeIncomplete();
  return true;
}

void CParamDlg::TellDeviceMayBeIncomplete() {
  if (unattended)
    TellTerminal(IncompleteText());
  else
    Ask(QMessageBox::Warning, WindowCaption(), IncompleteText(), QMessageBox::Ok);
}

void CParamDlg::WaitThenExit() {
  if (!exitWait) {
    exitWait = new QTimer(this);
    connect(exitWait, &QTimer::timeout, this, [this] {
      if (destroyed) return exitWait->stop();
      const bool running = engine && engine->TransferRunning();
      if (running && !(unattended && QDateTime::currentMSecsSinceEpoch() >= unattendedDeadline)) return;
      // Whatever the window is showing is answered first: its safe answer.
      if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != this) {
        if (!unattended) return;
        if (auto* d = qobject_cast<QDialog*>(modal)) d->reject(); else modal->close();
        return;
      }
      exitWait->stop();
      OnOK();
    });
  }
  if (!unattended) statusLine->setText(tr("传输结束后将自动保存并退出…"));
  exitWait->start(kExitWaitTickMs);
}

void CParamDlg::LeaveUnattended() {
  if (destroyed || unattended) return;
  unattended = true;
  unattendedDeadline = QDateTime::currentMSecsSinceEpoch() + kUnattendedWaitMs;
  WaitThenExit();
}

void CParamDlg::done(int result) {
  if (!DestroyWindow()) return;
  QDialog::done(result);
}
