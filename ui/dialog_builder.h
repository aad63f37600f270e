#pragma once
#include <QFont>
#include <QRect>
#include <functional>
#include <map>
#include <vector>

#include "res/dialog_templates.h"

class QButtonGroup;
class QDialog;
class QWidget;

namespace km27::ui {

// Dialog base units of a font, found the way the Windows dialog manager finds them.
struct DialogUnits {
  int baseX = 0;  // average width of the 52 Latin letters
  int baseY = 0;  // font height
  int X(int dlu) const;
  int Y(int dlu) const;
  QRect ToPixels(int x, int y, int cx, int cy) const;
};

DialogUnits BaseUnitsOf(const QFont& font);

// The template's face where it is installed, else an installed CJK face, at the given size.
QFont DialogFont(const char* templateFace, int pointSize);

// Everything the builder made, by control id (IDC_STATIC controls are not listed).
struct BuiltDialog {
  DialogUnits units;
  std::map<int, QWidget*> controls;
  std::vector<QButtonGroup*> radioGroups;  // in template order; button ids = index in group

  QWidget* Control(int id) const;
  QButtonGroup* GroupOf(int id) const;
};

// Makes a control of a template entry, or returns nullptr to take the builder's own kind.
using ControlFactory = std::function<QWidget*(const res::ControlTemplate&, QWidget* parent)>;

// Builds the dialog's caption, font, fixed client size and child controls from a template.
BuiltDialog BuildDialog(QDialog* dialog, const res::DialogTemplate& t, const ControlFactory& factory = {});

// Widens the dialog and its controls by one ratio, the largest a control needs to show its
// text whole, keeping the arrangement. Heights stay. BuildDialog does it in English; a dialog
// that sets longer texts after building may call it again.
void FitTexts(QDialog* dialog);

}  // namespace km27::ui
