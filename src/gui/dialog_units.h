#pragma once
// Dialog units: the measure the window templates are written in. They follow
// the dialog font, so a layout keeps its proportions whatever font the system
// has: a horizontal unit is a quarter of the font's average character width,
// a vertical unit an eighth of its height.

#include <QFont>
#include <QRect>
#include <QString>
#include <QStringList>

namespace tessaro::gui {

// a * b / c, rounded half away from zero, as the dialog manager scales.
int MulDiv(int a, int b, int c);

class DialogUnits {
 public:
  DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

  // The base units of a font: the average width of the 52 Latin letters
  // (rounded, as the dialog manager rounds it) and the font's height.
  static DialogUnits ForFont(const QFont& font);

  int BaseX() const { return baseX_; }
  int BaseY() const { return baseY_; }
  int X(int units) const { return MulDiv(units, baseX_, 4); }
  int Y(int units) const { return MulDiv(units, baseY_, 8); }
  // Each of the four values is scaled on its own, as controls are placed.
  QRect Rect(int x, int y, int width, int height) const;

 private:
  int baseX_;
  int baseY_;
};

// The family to draw a template in. `wanted` when installed; otherwise the
// first installed family of a list of common CJK fonts, then any installed
// family that covers Simplified Chinese, so the window's Chinese texts never
// show as empty boxes. `wanted` again when nothing fits (the font system then
// substitutes what it has).
QString PickDialogFamily(const QString& wanted, const QStringList& installed,
                         const QStringList& installedChinese);

// PickDialogFamily over the fonts of this system, at `pointSize`.
QFont DialogFont(const QString& wanted, int pointSize);

}  // namespace tessaro::gui
