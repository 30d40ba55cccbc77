#include "gui/template_builder.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <algorithm>

#include "gui/program_icon.h"

namespace tessaro::gui {

namespace {

using templates::Control;
using templates::ControlKind;

QString Text(const Control& control) { return QString::fromUtf8(control.text); }

QLabel* MakeStatic(const Control& control, QWidget* parent) {
  auto* label = new QLabel(parent);
  // Names of fragments end up in these labels: never read them as markup.
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setText(Text(control));
  return label;
}

QWidget* MakeEdit(const Control& control, QWidget* parent) {
  if (control.style & templates::kMultiLine) {
    auto* edit = new QPlainTextEdit(parent);
    // The information box only reports; the program alone writes into it.
    edit->setReadOnly(true);
    edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit->setVerticalScrollBarPolicy((control.style & templates::kVScroll) ? Qt::ScrollBarAlwaysOn
                                                                           : Qt::ScrollBarAsNeeded);
    // Tab moves on to the next control, as in every dialog.
    edit->setTabChangesFocus(true);
    edit->setPlainText(Text(control));
    return edit;
  }
  auto* edit = new QLineEdit(parent);
  // The folders are set only through the folder browser; typing would suggest
  // otherwise, so the box shows the folder and takes no input.
  edit->setReadOnly(true);
  edit->setFrame(control.style & templates::kBorder);
  edit->setText(Text(control));
  return edit;
}

QPushButton* MakeButton(const Control& control, QWidget* parent) {
  auto* button = new QPushButton(Text(control), parent);
  button->setDefault(control.kind == ControlKind::DefaultButton);
  return button;
}

QTableWidget* MakeListView(const Control&, QWidget* parent) {
  // A report-mode list: columns with headers, rows of plain cells, no row
  // numbers, nothing editable. Grid lines and full-row selection follow the
  // extended style the program sets.
  auto* list = new QTableWidget(parent);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectItems);
  list->setShowGrid(false);
  list->setWordWrap(false);
  // Tab leaves the list for the next control instead of walking its cells.
  list->setTabKeyNavigation(false);
  list->setCornerButtonEnabled(false);
  list->verticalHeader()->hide();
  list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list->horizontalHeader()->setHighlightSections(false);
  list->horizontalHeader()->setSectionsClickable(false);
  list->horizontalHeader()->setStretchLastSection(false);
  list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 4);
  return list;
}

QProgressBar* MakeProgress(const Control& control, QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  return bar;
}

QLabel* MakeIcon(const Control&, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setPixmap(ProgramIcon().pixmap(kDialogIconSize, kDialogIconSize));
  return label;
}

QWidget* Make(const Control& control, QWidget* parent) {
  switch (control.kind) {
    case ControlKind::Static: return MakeStatic(control, parent);
    case ControlKind::Edit: return MakeEdit(control, parent);
    case ControlKind::Button:
    case ControlKind::DefaultButton: return MakeButton(control, parent);
    case ControlKind::GroupBox: return new QGroupBox(Text(control), parent);
    case ControlKind::Progress: return MakeProgress(control, parent);
    case ControlKind::ListView: return MakeListView(control, parent);
    case ControlKind::Icon: return MakeIcon(control, parent);
    case ControlKind::CheckBox: return new QCheckBox(Text(control), parent);
    case ControlKind::RadioButton: return new QRadioButton(Text(control), parent);
  }
  return new QWidget(parent);
}

}  // namespace

std::vector<QWidget*> BuildControls(const templates::Dialog& dialog, QWidget* client,
                                    const DialogUnits& units) {
  std::vector<QWidget*> widgets;
  widgets.reserve(static_cast<std::size_t>(dialog.controlCount));
  QWidget* previousStop = nullptr;
  for (int i = 0; i < dialog.controlCount; ++i) {
    const Control& control = dialog.controls[i];
    QWidget* widget = Make(control, client);
    widget->setProperty(kControlIdProperty, control.id);
    widget->setObjectName(control.id >= 0 ? QStringLiteral("ctl%1").arg(control.id)
                                          : QStringLiteral("tpl%1").arg(i));
    if (control.kind == ControlKind::Icon) {
      // An icon control takes the icon's own size; the template's size is ignored.
      widget->setGeometry(units.X(control.x), units.Y(control.y), kDialogIconSize, kDialogIconSize);
    } else {
      widget->setGeometry(units.Rect(control.x, control.y, control.width, control.height));
    }
    if (control.style & templates::kTabStop) {
      widget->setFocusPolicy(Qt::StrongFocus);
      if (previousStop != nullptr) QWidget::setTabOrder(previousStop, widget);
      previousStop = widget;
    } else {
      widget->setFocusPolicy(Qt::NoFocus);
    }
    widget->setEnabled(!(control.style & templates::kDisabled));
    widget->setVisible(!(control.style & templates::kHidden));
    widgets.push_back(widget);
  }
  // Group boxes come after the controls they frame; on top they would take the
  // clicks meant for those controls.
  for (int i = 0; i < dialog.controlCount; ++i) {
    if (dialog.controls[i].kind == ControlKind::GroupBox) widgets[static_cast<std::size_t>(i)]->lower();
  }
  return widgets;
}

int RoomToTheRight(const templates::Dialog& dialog, int index) {
  // The space left between neighbours on a line, and inside a group box's
  // right edge (where the template's own controls stop).
  constexpr int kGap = 3;
  constexpr int kGroupInset = 9;
  const Control& grown = dialog.controls[index];
  auto framed = [&](const Control& box) {
    return box.x <= grown.x && grown.x + grown.width <= box.x + box.width && box.y <= grown.y &&
           grown.y + grown.height <= box.y + box.height;
  };
  int right = dialog.width - kGroupInset;
  for (int i = 0; i < dialog.controlCount; ++i) {
    const Control& other = dialog.controls[i];
    if (i == index) continue;
    if (other.kind == ControlKind::GroupBox) {
      if (framed(other)) right = std::min(right, other.x + other.width - kGroupInset);
      continue;
    }
    const bool sameLine = other.y < grown.y + grown.height && grown.y < other.y + other.height;
    if (sameLine && other.x > grown.x) right = std::min(right, other.x - kGap);
  }
  return std::max(grown.width, right - grown.x);
}

QWidget* FindControl(const QWidget* root, int id) {
  if (root == nullptr) return nullptr;
  return root->findChild<QWidget*>(QStringLiteral("ctl%1").arg(id));
}

const templates::Control* TemplateEntry(const templates::Dialog& dialog, const QWidget* widget) {
  if (widget == nullptr) return nullptr;
  QString name = widget->objectName();
  for (int i = 0; i < dialog.controlCount; ++i) {
    const Control& control = dialog.controls[i];
    QString expected = control.id >= 0 ? QStringLiteral("ctl%1").arg(control.id)
                                       : QStringLiteral("tpl%1").arg(i);
    if (name == expected) return &control;
  }
  return nullptr;
}

}  // namespace tessaro::gui
