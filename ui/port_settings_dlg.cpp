#include "ui/port_settings_dlg.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <cstring>

#include "port/net_url.h"
#include "res/app_icon.h"
#include "res/dialog_templates.h"

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
  Tell("更改从下一次搜索起生效。");
}

int CPortSettingsDlg::ChosenPort() const { return static_cast<QComboBox*>(Control(IDC_PORT_COMBO))->currentIndex() + 1; }

void CPortSettingsDlg::ShowEntries() {
  // Under $KM27_COM_DIR nothing is numbered automatically: a number without an entry is none.
  const char* none = env.comDir.empty() ? "自动" : "无";
  for (int n = 1; n <= kPortSettingsRows; ++n) {
    const std::string target = km27::ComEntryTarget(n, env);
    static_cast<QLabel*>(Control(IDC_PORT_TARGET_FIRST + n - 1))->setText(Utf8(target.empty() ? none : target));
  }
}

void CPortSettingsDlg::OnPortChosen() {
  static_cast<QLineEdit*>(Control(IDC_PORT_EDIT))->setText(Utf8(km27::ComEntryTarget(ChosenPort(), env)));
}

void CPortSettingsDlg::Tell(const std::string& text) { static_cast<QLabel*>(Control(IDC_PORT_MESSAGE))->setText(Utf8(text)); }

bool CPortSettingsDlg::Write(int n, const std::string& target) {
  int err = 0;
  if (!km27::SetComEntry(n, target, env, &err)) {
    char buf[256];
    Tell("无法写入 " + km27::ComEntryDir(env) + " (" + strerror_r(err, buf, sizeof buf) + ")。");
    return false;
  }
  ShowEntries();
  return true;
}

void CPortSettingsDlg::OnSet() {
  const int n = ChosenPort();
  const std::string target = static_cast<QLineEdit*>(Control(IDC_PORT_EDIT))->text().trimmed().toStdString();
  const std::string com = "COM" + std::to_string(n);
  if (target.empty()) {
    Tell("请输入设备路径（如 /dev/ttyUSB0）或网址（如 rfc2217://主机:4001）。");
    return;
  }
  if (km27::IsNetUrl(target)) {
    if (const km27::UrlProblem problem = km27::ParseNetUrl(target, nullptr); problem != km27::UrlProblem::None) {
      Tell(com + " 未更改：" + km27::UrlProblemText(problem) + "。");
      return;
    }
  } else if (target[0] != '/') {
    // A relative link would be read against the COM directory, not where the operator meant.
    Tell(com + " 未更改：设备路径须以 / 开头（如 /dev/ttyUSB0）。");
    return;
  }
  if (Write(n, target)) Tell(com + " 已设为 " + target + "，从下一次搜索起生效。");
}

void CPortSettingsDlg::OnClear() {
  const int n = ChosenPort();
  if (!Write(n, {})) return;
  static_cast<QLineEdit*>(Control(IDC_PORT_EDIT))->clear();
  Tell("COM" + std::to_string(n) + " 已清除，从下一次搜索起生效。");
}
