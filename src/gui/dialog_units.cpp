#include "gui/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QLatin1StringView>
#include <cstdint>
#include <cstdlib>

namespace tessaro::gui {

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  std::int64_t product = static_cast<std::int64_t>(a) * b;
  std::int64_t half = std::llabs(c) / 2;
  // Round the magnitude, then give back the sign, so -1.5 becomes -2 as 1.5 becomes 2.
  bool negative = (product < 0) != (c < 0);
  std::int64_t q = (std::llabs(product) + half) / std::llabs(c);
  return static_cast<int>(negative ? -q : q);
}

DialogUnits DialogUnits::ForFont(const QFont& font) {
  QFontMetrics metrics(font);
  int letters = metrics.horizontalAdvance(
      QLatin1StringView("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  // The dialog manager averages over 26 and halves with rounding: (w / 26 + 1) / 2.
  int baseX = (letters / 26 + 1) / 2;
  int baseY = metrics.height();
  return DialogUnits(baseX > 0 ? baseX : 1, baseY > 0 ? baseY : 1);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  return QRect(X(x), Y(y), X(width), Y(height));
}

namespace {

// Installed names of the font the templates ask for, and CJK fonts that Debian
// and other systems ship, best first.
const char* const kYaHeiNames[] = {"微软雅黑", "Microsoft YaHei", "Microsoft YaHei UI"};
const char* const kChineseFonts[] = {
    "WenQuanYi Micro Hei", "Noto Sans CJK SC", "Source Han Sans SC", "Noto Sans SC",
    "WenQuanYi Zen Hei",   "Droid Sans Fallback", "AR PL UKai CN", "AR PL UMing CN",
    "SimSun",              "SimHei",
};

bool Contains(const QStringList& list, const QString& family) {
  return list.contains(family, Qt::CaseInsensitive);
}

}  // namespace

QString PickDialogFamily(const QString& wanted, const QStringList& installed,
                         const QStringList& installedChinese) {
  if (Contains(installed, wanted)) return wanted;
  bool wantsYaHei = false;
  for (const char* name : kYaHeiNames) {
    if (wanted == QString::fromUtf8(name)) wantsYaHei = true;
  }
  if (wantsYaHei) {
    for (const char* name : kYaHeiNames) {
      if (Contains(installed, QString::fromUtf8(name))) return QString::fromUtf8(name);
    }
  }
  for (const char* name : kChineseFonts) {
    QString family = QString::fromUtf8(name);
    if (Contains(installedChinese, family)) return family;
  }
  if (!installedChinese.isEmpty()) return installedChinese.front();
  return wanted;
}

QFont DialogFont(const QString& wanted, int pointSize) {
  QStringList installed = QFontDatabase::families();
  QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
  QFont font(PickDialogFamily(wanted, installed, chinese));
  font.setPointSize(pointSize);
  return font;
}

}  // namespace tessaro::gui
