#include "ui/port_settings_dlg.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "port/net_url.h"
#include "res/app_icon.h"
#include "res/dialog_templates.h"
#include "store/file_io.h"

using namespace km27::res;

namespace {

QString Utf8(const std::string& s) { return QString::fromUtf8(s.c_str()); }

}  // namespace

CPortSettingsDlg::CPortSettingsDlg(const km27::ComEnvironment& environment, QWidget* parent)
    : QDialog(parent), env(environment) {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(AppIcon());
  built = km27::ui::BuildDialog(this, *FindDialogTemplate(IDD_PORT_SETTINGS));
  auto* combo = static_cast<QComboBox*>(Control(IDC_PORT_COMBO));
  for (int n = 1; n <= kPortSettingsRows; ++n) combo->addItem(QStringLiteral("COM%1").arg(n));
  connect(combo, &QComboBox::currentIndexChanged, this, &CPortSettingsDlg::OnPortChosen);
  connect(static_cast<QAbstractButton*>(Control(IDC_PORT_SET)), &QAbstractButton::clicked, this, &CPortSettingsDlg::OnSet);
  connect(static_cast<QAbstractButton*>(Control(IDC_PORT_CLEAR)), &QAbstractButton::clicked, this,
          &CPortSettingsDlg::OnClear);
  connect(static_cast<QAbstractButton*>(Control(IDCANCEL)), &QAbstractButton::clicked, this, &QDialog::reject);
  ShowEntries();
  OnPortChosen();
  Tell(tr("更改从下一次搜索起生效。"));
}

int CPortSettingsDlg::ChosenPort() const { return static_cast<QComboBox*>(Control(IDC_PORT_COMBO))->currentIndex() + 1; }

void CPortSettingsDlg::ShowEntries() {
  // Under $KM27_COM_DIR nothing is numbered automatically: a number without an entry is none.
  const QString none = env.comDir.empty() ? tr("自动") : tr("无");
  for (int n = 1; n <= kPortSettingsRows; ++n) {
    const std::string target = km27::ComEntryTarget(n, env);
    static_cast<QLabel*>(Control(IDC_PORT_TARGET_FIRST + n - 1))->setText(target.empty() ? none : Utf8(target));
  }
}

void CPortSettingsDlg::OnPortChosen() {
  static_cast<QLineEdit*>(Control(IDC_PORT_EDIT))->setText(Utf8(km27::ComEntryTarget(ChosenPort(), env)));
}

void CPortSettingsDlg::Tell(const QString& text) { static_cast<QLabel*>(Control(IDC_PORT_MESSAGE))->setText(text); }

bool CPortSettingsDlg::Write(int n, const std::string& target) {
  int err = 0;
  if (!km27::SetComEntry(n, target, env, &err)) {
    Tell(tr("无法写入 %1 (%2)。").arg(Utf8(km27::ComEntryDir(env)), Utf8(km27::SystemErrorText(err))));
    return false;
  }
  ShowEntries();
  return true;
}

void CPortSettingsDlg::OnSet() {
  const int n = ChosenPort();
  const std::string target = static_cast<QLineEdit*>(Control(IDC_PORT_EDIT))->text().trimmed().toStdString();
  const QString com = QStringLiteral("COM%1").arg(n);
  if (target.empty()) {
    Tell(tr("请输入设备路径（如 /dev/ttyUSB0）或网址（如 rfc2217://主机:4001）。"));
    return;
  }
  if (km27::IsNetUrl(target)) {
    if (const km27::UrlProblem problem = km27::ParseNetUrl(target, nullptr); problem != km27::UrlProblem::None) {
      Tell(tr("%1 未更改：%2。").arg(com, Utf8(km27::UrlProblemText(problem))));
      return;
    }
  } else if (target[0] != '/') {
    // A relative link would be read against the COM directory, not where the operator meant.
    Tell(tr("%1 未更改：设备路径须以 / 开头（如 /dev/ttyUSB0）。").arg(com));
    return;
  }
  if (Write(n, target)) Tell(tr("%1 已设为 %2，从下一次搜索起生效。").arg(com, Utf8(target)));
}

void CPortSettingsDlg::OnClear() {
  const int n = ChosenPort();
  if (!Write(n, {})) return;
  static_cast<QLineEdit*>(Control(IDC_PORT_EDIT))->clear();
  Tell(tr("%1 已清除，从下一次搜索起生效。").arg(QStringLiteral("COM%1").arg(n)));
}
