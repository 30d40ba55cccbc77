#include "gui/about_box.h"

#include <QPushButton>

#include "gui/dialog_units.h"
#include "gui/program_icon.h"
#include "gui/template_builder.h"
#include "resources/dialog_templates.h"

namespace tessaro::gui {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  const templates::Dialog& tpl = templates::kAboutDialog;
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QString::fromUtf8(tpl.caption));
  setWindowIcon(ProgramIcon());
  setFont(DialogFont(QString::fromUtf8(tpl.font), tpl.pointSize));
  DialogUnits units = DialogUnits::ForFont(font());
  BuildControls(tpl, this, units);
  setFixedSize(units.X(tpl.width), units.Y(tpl.height));
  if (auto* ok = qobject_cast<QPushButton*>(FindControl(this, 1))) {
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus();
  }
}

}  // namespace tessaro::gui
