#include "ui/dialog_builder.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <cmath>

#include "model/messages.h"
#include "res/app_icon.h"
#include "ui/controls/ms_flex_grid.h"

namespace km27::ui {

namespace {

// MulDiv: a*b/c rounded half away from zero.
int MulDiv(int a, int b, int c) {
  const long long p = static_cast<long long>(a) * b;
  return static_cast<int>((p >= 0 ? p + c / 2 : p - c / 2) / c);
}

constexpr int kIconSize = 32;  // a static icon shows the icon at its own size

// Arrow keys move the focus within a radio group and check the radio they land on, wrapping
// at the ends, in template order rather than by screen position.
class RadioGroupKeys : public QObject {
 public:
  RadioGroupKeys(QButtonGroup* group, QObject* parent) : QObject(parent), group_(group) {}

 protected:
  bool eventFilter(QObject* obj, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    int step = 0;
    if (key == Qt::Key_Down || key == Qt::Key_Right) step = 1;
    if (key == Qt::Key_Up || key == Qt::Key_Left) step = -1;
    if (step == 0) return false;
    const QList<QAbstractButton*> buttons = group_->buttons();
    const int n = int(buttons.size());
    int at = int(buttons.indexOf(static_cast<QAbstractButton*>(obj)));
    if (at < 0) return false;
    for (int tries = 1; tries < n; ++tries) {
      QAbstractButton* next = buttons[((at + step * tries) % n + n) % n];
      if (next->isEnabled() && !next->isHidden()) {
        next->setFocus(Qt::OtherFocusReason);
        next->click();
        break;
      }
    }
    return true;
  }

 private:
  QButtonGroup* group_;
};

// Only the checked radio of a group is a tab stop, so Tab enters a group at its checked radio.
void FollowCheckedTabStop(QButtonGroup* group) {
  QAbstractButton* checked = group->checkedButton();
  const QList<QAbstractButton*> buttons = group->buttons();
  if (!checked && !buttons.isEmpty()) checked = buttons.front();
  for (QAbstractButton* b : buttons) b->setFocusPolicy(b == checked ? Qt::StrongFocus : Qt::ClickFocus);
}

QWidget* MakeControl(const res::ControlTemplate& c, QWidget* parent, const DialogUnits& u) {
  const QString text = QCoreApplication::translate(res::kDialogTextContext, c.text);
  using K = res::ControlKind;
  switch (c.kind) {
    case K::PushButton:
    case K::DefPushButton: {
      auto* b = new QPushButton(text, parent);
      b->setAutoDefault(false);
      b->setDefault(c.kind == K::DefPushButton);
      return b;
    }
    case K::Radio: return new QRadioButton(text, parent);
    case K::GroupBox: return new QGroupBox(text, parent);
    case K::EtchedFrame: {
      auto* f = new QFrame(parent);
      f->setFrameStyle(QFrame::Box | QFrame::Sunken);
      return f;
    }
    case K::Static: {
      auto* l = new QLabel(text, parent);
      l->setTextFormat(Qt::PlainText);
      l->setAlignment(Qt::AlignLeft | ((c.style & res::kStyleCentreV) ? Qt::AlignVCenter : Qt::AlignTop));
      if (c.style & res::kStyleStaticEdge) l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      if (c.style & res::kStyleClientEdge) {
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setLineWidth(2);
      }
      return l;
    }
    case K::StaticIcon: {
      auto* l = new QLabel(parent);
      l->setPixmap(res::AppIcon().pixmap(kIconSize, kIconSize));
      return l;
    }
    case K::DropList: {
      auto* cb = new QComboBox(parent);
      cb->setEditable(false);
      // The template height is the opened list's; the closed box is one line high.
      const int itemHeight = std::max(1, QFontMetrics(parent->font()).height() + 2);
      cb->setMaxVisibleItems(std::max(1, u.Y(c.cy) / itemHeight - 1));
      return cb;
    }
    case K::Grid: return new CMSFlexGrid(parent);
    case K::Comm: return nullptr;  // no window of its own at run time
    case K::Edit: return new QLineEdit(text, parent);
  }
  return nullptr;
}

// How wide a control must be for its text to show whole; 0 for one that shows no text of its
// own or wraps it.
int WidthForText(const QWidget* w) {
  const QFontMetrics fm(w->font());
  if (const auto* box = qobject_cast<const QGroupBox*>(w)) {
    // The caption sits on the frame, indented, with a gap either side and room for the corners.
    return box->title().isEmpty() ? 0 : fm.horizontalAdvance(box->title()) + 4 * fm.averageCharWidth();
  }
  if (const auto* label = qobject_cast<const QLabel*>(w)) {
    return label->text().isEmpty() || label->wordWrap() ? 0 : label->sizeHint().width();
  }
  if (const auto* button = qobject_cast<const QPushButton*>(w)) {
    // The style's least width for a push button says nothing about its text.
    QString text = button->text();
    text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    if (text.isEmpty()) return 0;
    return fm.horizontalAdvance(text) + w->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w) +
           2 * w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
  }
  if (const auto* button = qobject_cast<const QAbstractButton*>(w))
    return button->text().isEmpty() ? 0 : button->sizeHint().width();
  return 0;
}

}  // namespace

void FitTexts(QDialog* dialog) {
  double ratio = 1.0;
  const QList<QWidget*> children = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (const QWidget* w : children) {
    const int need = WidthForText(w);
    if (need > w->width() && w->width() > 0) ratio = std::max(ratio, double(need) / w->width());
  }
  if (ratio <= 1.0) return;
  // One ratio for the whole dialog keeps its columns lined up and its controls apart.
  const auto scaled = [ratio](int x) { return int(std::ceil(x * ratio)); };
  for (QWidget* w : children) {
    const QRect r = w->geometry();
    w->setGeometry(scaled(r.x()), r.y(), scaled(r.right() + 1) - scaled(r.x()), r.height());
  }
  dialog->setFixedSize(scaled(dialog->width()), dialog->height());
}

int DialogUnits::X(int dlu) const { return MulDiv(dlu, baseX, 4); }
int DialogUnits::Y(int dlu) const { return MulDiv(dlu, baseY, 8); }
QRect DialogUnits::ToPixels(int x, int y, int cx, int cy) const { return QRect(X(x), Y(y), X(cx), Y(cy)); }

DialogUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics fm(font);
  const int letters = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  DialogUnits u;
  u.baseX = (letters / 26 + 1) / 2;  // the dialog manager's rounding of the 52-letter average
  u.baseY = fm.height();
  return u;
}

QFont DialogFont(const char* templateFace, int pointSize) {
  const QStringList installed = QFontDatabase::families();
  // The template's face first, then faces that carry every character the dialogs show.
  const QStringList wanted = {QString::fromUtf8(templateFace), QStringLiteral("SimSun"),
                              QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
                              QStringLiteral("Noto Sans SC"), QStringLiteral("WenQuanYi Micro Hei"),
                              QStringLiteral("AR PL UMing CN")};
  QFont font;
  for (const QString& face : wanted) {
    if (installed.contains(face, Qt::CaseInsensitive)) {
      font.setFamily(face);
      break;
    }
  }
  font.setPointSize(pointSize);
  return font;
}

QWidget* BuiltDialog::Control(int id) const {
  auto it = controls.find(id);
  return it == controls.end() ? nullptr : it->second;
}

QButtonGroup* BuiltDialog::GroupOf(int id) const {
  QWidget* w = Control(id);
  for (QButtonGroup* g : radioGroups)
    for (QAbstractButton* b : g->buttons())
      if (b == w) return g;
  return nullptr;
}

BuiltDialog BuildDialog(QDialog* dialog, const res::DialogTemplate& t, const ControlFactory& factory) {
  BuiltDialog built;
  dialog->setWindowTitle(QCoreApplication::translate(res::kDialogTextContext, t.caption));
  dialog->setFont(DialogFont(t.fontFace, t.pointSize));
  built.units = BaseUnitsOf(dialog->font());
  const DialogUnits& u = built.units;
  dialog->setFixedSize(u.X(t.cx), u.Y(t.cy));

  std::vector<QWidget*> order;   // for the tab chain
  std::vector<QWidget*> behind;  // group boxes and frames sit under the controls they frame
  QButtonGroup* group = nullptr;
  bool first = true;
  for (const res::ControlTemplate& c : t.controls) {
    const bool startsGroup = c.group || first;
    first = false;
    if (startsGroup) group = nullptr;
    QWidget* w = factory ? factory(c, dialog) : nullptr;
    if (!w) w = MakeControl(c, dialog, u);
    if (!w) continue;
    w->setParent(dialog);
    QRect r = u.ToPixels(c.x, c.y, c.cx, c.cy);
    if (c.kind == res::ControlKind::DropList) r.setHeight(w->sizeHint().height());
    if (c.kind == res::ControlKind::StaticIcon) r.setSize(QSize(kIconSize, kIconSize));
    w->setGeometry(r);
    if (c.id != res::IDC_STATIC) {
      built.controls[c.id] = w;
      w->setObjectName(QString::number(c.id));
    }

    if (auto* cb = qobject_cast<QComboBox*>(w))
      for (const std::string& item : res::InitialItems(t.id, c.id)) cb->addItem(QString::fromStdString(item));

    if (auto* radio = qobject_cast<QRadioButton*>(w)) {
      if (!group) {
        group = new QButtonGroup(dialog);
        group->setExclusive(true);
        built.radioGroups.push_back(group);
        auto* keys = new RadioGroupKeys(group, group);
        QObject::connect(group, &QButtonGroup::buttonToggled, group, [group] { FollowCheckedTabStop(group); });
        group->setProperty("km27keys", QVariant::fromValue<QObject*>(keys));
      }
      group->addButton(radio, int(group->buttons().size()));
      radio->installEventFilter(group->property("km27keys").value<QObject*>());
    } else if (c.kind == res::ControlKind::GroupBox || c.kind == res::ControlKind::EtchedFrame) {
      w->setAttribute(Qt::WA_TransparentForMouseEvents);
      w->setFocusPolicy(Qt::NoFocus);
      behind.push_back(w);
    } else if (qobject_cast<QAbstractButton*>(w)) {
      w->setFocusPolicy(c.tabStop ? Qt::StrongFocus : Qt::ClickFocus);
    } else if (c.kind == res::ControlKind::Static || c.kind == res::ControlKind::StaticIcon) {
      w->setFocusPolicy(Qt::NoFocus);
    } else {
      w->setFocusPolicy(c.tabStop ? Qt::StrongFocus : Qt::ClickFocus);
    }
    order.push_back(w);
  }
  for (QButtonGroup* g : built.radioGroups) FollowCheckedTabStop(g);
  for (size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
  for (QWidget* w : behind) w->lower();
  // Chinese keeps the template's geometry exactly; longer English words widen the dialog.
  if (CurrentLanguage() == Language::kEnglish) FitTexts(dialog);
  return built;
}

}  // namespace km27::ui
