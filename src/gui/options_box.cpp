#include "gui/options_box.h"

#include <QAbstractButton>
#include <QPushButton>

#include "app/control_ids.h"
#include "gui/dialog_units.h"
#include "gui/program_icon.h"
#include "gui/template_builder.h"
#include "resources/dialog_templates.h"

namespace tessaro::gui {

OptionsBox::OptionsBox(const RecoveryOptions& options, QWidget* parent) : QDialog(parent) {
  const templates::Dialog& tpl = templates::kOptionsDialog;
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QString::fromUtf8(tpl.caption));
  setWindowIcon(ProgramIcon());
  setFont(DialogFont(QString::fromUtf8(tpl.font), tpl.pointSize));
  const DialogUnits units = DialogUnits::ForFont(font());
  BuildControls(tpl, this, units);
  setFixedSize(units.X(tpl.width), units.Y(tpl.height));
  auto button = [this](int id) { return qobject_cast<QAbstractButton*>(FindControl(this, id)); };
  button(ids::kOptionTrim)->setChecked(options.trim);
  button(ids::kOptionSplit)->setChecked(options.split);
  button(ids::kOptionSortByKind)->setChecked(options.sortByKind);
  button(ids::kOptionReport)->setChecked(options.report);
  button(ids::kOptionRescue)->setChecked(options.rescue);
  for (int k = 0; k < 3; ++k) button(ids::kOptionNames[k])->setChecked(static_cast<int>(options.names) == k);
  connect(button(ids::kOk), &QAbstractButton::clicked, this, &QDialog::accept);
  connect(button(ids::kExit), &QAbstractButton::clicked, this, &QDialog::reject);
  button(ids::kOptionTrim)->setFocus();
}

RecoveryOptions OptionsBox::Options() const {
  auto checked = [this](int id) {
    const auto* b = qobject_cast<const QAbstractButton*>(FindControl(this, id));
    return b != nullptr && b->isChecked();
  };
  RecoveryOptions options;
  options.trim = checked(ids::kOptionTrim);
  options.split = checked(ids::kOptionSplit);
  options.sortByKind = checked(ids::kOptionSortByKind);
  options.report = checked(ids::kOptionReport);
  options.rescue = checked(ids::kOptionRescue);
  for (int k = 0; k < 3; ++k) {
    if (checked(ids::kOptionNames[k])) options.names = static_cast<RecoveryOptions::Names>(k);
  }
  return options;
}

}  // namespace tessaro::gui
