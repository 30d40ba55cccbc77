// The window as the templates describe it: dialog units, the font, one widget
// per control at its place, what the user can reach with the mouse and the Tab
// key, the controls' styles, the menu, and the About box.

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRawFont>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "app/control_ids.h"
#include "app/texts.h"
#include "gui/about_box.h"
#include "gui/dialog_units.h"
#include "gui/template_builder.h"
#include "gui_test_support.h"
#include "resources/dialog_templates.h"

using namespace tessaro;
using namespace tessaro::gui;
using namespace tessaro::guitest;
namespace tpl = tessaro::templates;

namespace {

// Every text of a template, its caption included.
QStringList TemplateTexts(const tpl::Dialog& dialog) {
  QStringList texts{QString::fromUtf8(dialog.caption)};
  for (int i = 0; i < dialog.controlCount; ++i) texts << QString::fromUtf8(dialog.controls[i].text);
  return texts;
}

// The counts that take the free space to their right.
bool IsCount(int id) { return id == ids::kKindCount || id == ids::kFileCount || id == ids::kProcessedCount; }

}  // namespace

class LayoutTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<SampleFolder> sample_;
  std::unique_ptr<ScriptedWindow> window_;
  std::unique_ptr<MainDialog> dialog_;

 private slots:
  void init() {
    sample_ = MakeSampleFolder();
    window_ = std::make_unique<ScriptedWindow>();
    dialog_ = std::make_unique<MainDialog>(*window_, sample_->catalogue.toStdString());
    window_->Attach(*dialog_);
    window_->Initialise();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  void cleanup() {
    dialog_.reset();
    window_.reset();
    sample_.reset();
  }

  void dialogUnitsRoundAsTheDialogManagerDoes() {
    QCOMPARE(MulDiv(481, 7, 4), 842);  // 841.75
    QCOMPARE(MulDiv(5, 3, 2), 8);      // 7.5 rounds away from zero
    QCOMPARE(MulDiv(-5, 3, 2), -8);
    QCOMPARE(MulDiv(3, 1, 2), 2);
    QCOMPARE(MulDiv(1, 1, 3), 0);
    QCOMPARE(MulDiv(7, 9, 0), -1);
    DialogUnits units(7, 16);
    QCOMPARE(units.Rect(62, 102, 356, 13), QRect(109, 204, 623, 26));
  }

  void theFontIsTheTemplatesOrAnInstalledChineseOne() {
    const QStringList installed{"DejaVu Sans", "WenQuanYi Micro Hei", "Noto Sans CJK SC"};
    const QStringList chinese{"Noto Sans CJK SC", "WenQuanYi Micro Hei"};
    QCOMPARE(PickDialogFamily("DejaVu Sans", installed, chinese), QStringLiteral("DejaVu Sans"));
    // Preference order, not the order the system lists them in.
    QCOMPARE(PickDialogFamily("微软雅黑", installed, chinese), QStringLiteral("WenQuanYi Micro Hei"));
    QCOMPARE(PickDialogFamily("微软雅黑", installed + QStringList{"Microsoft YaHei"}, chinese),
             QStringLiteral("Microsoft YaHei"));
    QCOMPARE(PickDialogFamily("MS Sans Serif", {"DejaVu Sans", "Odd CJK"}, {"Odd CJK"}),
             QStringLiteral("Odd CJK"));
    QCOMPARE(PickDialogFamily("微软雅黑", {"DejaVu Sans"}, {}), QStringLiteral("微软雅黑"));

    // On this machine: every Chinese character of both templates is in the
    // font the window really draws with, so none shows as an empty box.
    for (const tpl::Dialog* dialog : {&tpl::kMainDialog, &tpl::kAboutDialog}) {
      QFont font = DialogFont(QString::fromUtf8(dialog->font), dialog->pointSize);
      QRawFont raw = QRawFont::fromFont(font, QFontDatabase::SimplifiedChinese);
      QVERIFY2(raw.isValid(), qPrintable(font.family()));
      for (const QString& text : TemplateTexts(*dialog)) {
        for (QChar c : text) {
          if (c.unicode() < 0x80) continue;
          QVERIFY2(raw.supportsCharacter(c), qPrintable(QStringLiteral("%1 lacks %2 of \"%3\"")
                                                             .arg(raw.familyName(), c, text)));
        }
      }
    }
    QCOMPARE(window_->font().pointSize(), tpl::kMainDialog.pointSize);
  }

  void everyControlIsOneWidgetAtItsTemplatePlace() {
    const tpl::Dialog& main = tpl::kMainDialog;
    DialogUnits units = DialogUnits::ForFont(window_->font());
    QCOMPARE(window_->Controls().size(), std::size_t(main.controlCount));
    QWidget* client = window_->Controls().front()->parentWidget();
    QCOMPARE(client->size(), QSize(units.X(main.width), units.Y(main.height)));
    // The client area lies below the menu, and the window is exactly both.
    QCOMPARE(client->y(), window_->Menu()->height());
    QCOMPARE(window_->size(), QSize(client->width(), window_->Menu()->height() + client->height()));
    for (int i = 0; i < main.controlCount; ++i) {
      const tpl::Control& c = main.controls[i];
      QWidget* widget = window_->Controls()[std::size_t(i)];
      QCOMPARE(TemplateEntry(main, widget), &c);
      QCOMPARE(widget->property(kControlIdProperty).toInt(), c.id);
      if (IsCount(c.id)) {
        // A count keeps its place and height, and may be wider (next test).
        QRect place = units.Rect(c.x, c.y, c.width, c.height);
        QCOMPARE(widget->pos(), place.topLeft());
        QCOMPARE(widget->height(), place.height());
        QVERIFY(widget->width() >= place.width());
        continue;
      }
      QCOMPARE(widget->geometry(), units.Rect(c.x, c.y, c.width, c.height));
      if (c.id >= 0) QCOMPARE(window_->Control(c.id), widget);
      if (c.kind == tpl::ControlKind::Static) {
        QCOMPARE(qobject_cast<QLabel*>(widget)->textFormat(), Qt::PlainText);
      }
    }
    // The labels and buttons show the template's texts.
    QCOMPARE(ControlText(*window_, ids::kDetect), QStringLiteral("检测"));
    QCOMPARE(ControlText(*window_, ids::kCurrentFile), QStringLiteral("NULL"));
    QCOMPARE(qobject_cast<QGroupBox*>(window_->Controls()[22])->title(), QStringLiteral("第1步(检测)"));
  }

  void countsOfTenDigitsShowWhole_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("count");
    for (int id : {ids::kKindCount, ids::kFileCount, ids::kProcessedCount}) {
      // What a large disk leaves, and the most a 32-bit count can say.
      QTest::addRow("%d six digits", id) << id << QStringLiteral("104669");
      QTest::addRow("%d ten digits", id) << id << QStringLiteral("4294967295");
    }
  }
  void countsOfTenDigitsShowWhole() {
    QFETCH(int, id);
    QFETCH(QString, count);
    window_->SetItemText(id, count.toStdString());
    auto* label = qobject_cast<QLabel*>(window_->Control(id));
    QVERIFY(label);
    QCOMPARE(label->text(), count);
    const int needed = label->fontMetrics().horizontalAdvance(count);
    QVERIFY2(needed <= label->contentsRect().width(),
             qPrintable(QStringLiteral("%1 needs %2 px, has %3").arg(count).arg(needed).arg(label->contentsRect().width())));
    // The room it takes is free: it reaches no control to its right, and stays
    // inside the group box that frames it.
    for (QWidget* other : window_->Controls()) {
      if (other == label || other->isHidden()) continue;
      const tpl::Control* c = TemplateEntry(tpl::kMainDialog, other);
      if (c->kind == tpl::ControlKind::GroupBox) {
        if (other->geometry().contains(label->pos())) QVERIFY(other->geometry().contains(label->geometry()));
        continue;
      }
      if (other->x() <= label->x()) continue;
      QVERIFY2(!other->geometry().intersects(label->geometry()),
               qPrintable(QStringLiteral("ctl%1 overlaps %2").arg(id).arg(other->objectName())));
    }
  }

  void theMouseReachesEveryControlThroughTheGroupBoxes() {
    // The group boxes come after the controls they frame; they must not lie on top.
    for (QWidget* widget : window_->Controls()) {
      const tpl::Control* c = TemplateEntry(tpl::kMainDialog, widget);
      if (widget->isHidden() || c->kind == tpl::ControlKind::GroupBox) continue;
      QPoint centre = widget->geometry().center();
      QWidget* hit = widget->parentWidget()->childAt(centre);
      QVERIFY2(hit == widget || widget->isAncestorOf(hit),
               qPrintable(QStringLiteral("%1 is covered by %2").arg(widget->objectName(),
                                                                    hit ? hit->objectName() : "nothing")));
    }
  }

  void theWindowIsAFixedTaskBarWindowWithAMinimiseBox() {
    Qt::WindowFlags flags = window_->windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QCOMPARE(window_->minimumSize(), window_->maximumSize());
    QCOMPARE(window_->windowTitle(), QString::fromUtf8(texts::kCaption));
    QVERIFY(!window_->windowIcon().isNull());
    QCOMPARE(window_->windowIcon().availableSizes().size(), 7);
  }

  void tabVisitsTheTabStopsInTemplateOrder() {
    // The first control has the focus at start, as a dialog starts.
    QCOMPARE(QApplication::focusWidget(), window_->Control(ids::kSourceEdit));
    // Disabled stop buttons and the hidden default button are passed over; the
    // list and the information box do not keep the Tab key for themselves.
    const int expected[] = {ids::kChooseSource, ids::kDestEdit, ids::kChooseDest, ids::kDetect,
                            ids::kKindList,     ids::kInfo,     ids::kRecover,    ids::kSourceEdit};
    for (int id : expected) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QWidget* focus = QApplication::focusWidget();
      QVERIFY2(focus == window_->Control(id),
               qPrintable(QStringLiteral("expected ctl%1, got %2").arg(id).arg(focus ? focus->objectName() : "none")));
    }
    // Labels, group boxes and bars take no focus.
    for (QWidget* widget : window_->Controls()) {
      if (!(TemplateEntry(tpl::kMainDialog, widget)->style & tpl::kTabStop))
        QCOMPARE(widget->focusPolicy(), Qt::NoFocus);
    }
  }

  void theControlsHaveTheirTemplateStyles() {
    auto* list = qobject_cast<QTableWidget*>(window_->Control(ids::kKindList));
    QVERIFY(list);
    // Report view with the three columns of the kind list, grid lines, whole rows.
    QVERIFY(list->horizontalHeader()->isVisible());
    QVERIFY(!list->verticalHeader()->isVisible());
    QCOMPARE(list->columnCount(), 3);
    const QString titles[] = {texts::kColumnKind, texts::kColumnExtension, texts::kColumnCount};
    const int widths[] = {220, 100, 100};
    for (int c = 0; c < 3; ++c) {
      QCOMPARE(list->horizontalHeaderItem(c)->text(), titles[c]);
      QCOMPARE(list->columnWidth(c), widths[c]);
    }
    QVERIFY(list->showGrid());
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);

    auto* info = qobject_cast<QPlainTextEdit*>(window_->Control(ids::kInfo));
    QVERIFY(info);
    QVERIFY(info->isReadOnly());
    QCOMPARE(info->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    for (int id : {ids::kTotalProgress, ids::kFileProgress}) {
      auto* bar = qobject_cast<QProgressBar*>(window_->Control(id));
      QVERIFY(bar);
      QCOMPARE(bar->minimum(), 0);
      QCOMPARE(bar->maximum(), 100);
      QVERIFY(!bar->isTextVisible());
    }
    auto* hidden = qobject_cast<QPushButton*>(window_->Control(ids::kDefaultButton));
    QVERIFY(hidden && hidden->isDefault() && hidden->isHidden() && !hidden->isEnabled());
  }

  void textTypedIntoTheFolderBoxesHasNoEffect() {
    for (int id : {ids::kSourceEdit, ids::kDestEdit}) {
      auto* edit = qobject_cast<QLineEdit*>(window_->Control(id));
      QVERIFY(edit && edit->isReadOnly());
      edit->setFocus();
      QTest::keyClicks(edit, "/tmp");
      QCOMPARE(edit->text(), QString());
    }
    QVERIFY(dialog_->m_sourceFolder.empty());
    QVERIFY(dialog_->m_destFolder.empty());
    // So "检测" still wants a folder from the browser.
    Click(*window_, ids::kDetect);
    QCOMPARE(window_->messages.size(), std::size_t{1});
    QCOMPARE(window_->messages[0].text, QString::fromUtf8(texts::kNoSource));
  }

  void theMenuIsMenu129WithItsSeparators() {
    QList<QAction*> top = window_->Menu()->actions();
    QCOMPARE(top.size(), 3);
    QCOMPARE(top[0]->text(), QStringLiteral("文件"));
    QVERIFY(top[1]->isSeparator());
    QCOMPARE(top[2]->text(), QStringLiteral("内容"));

    auto items = [](QAction* menu) {
      QStringList out;
      for (QAction* a : menu->menu()->actions()) out << (a->isSeparator() ? "-" : a->text() + "=" + a->data().toString());
      return out;
    };
    QCOMPARE(items(top[0]), QStringList({"开始=1006", "-", "结束=1007", "-", "选项(&O)...=32778", "-", "退出=2"}));
    QCOMPARE(items(top[2]), QStringList({"内容=32775", "-", "关于=32777"}));
  }

  void theAboutBoxIsTemplate100() {
    AboutBox box(window_.get());
    QCOMPARE(box.windowTitle(), QString::fromUtf8(texts::kAboutCaption));
    QCOMPARE(box.minimumSize(), box.maximumSize());
    DialogUnits units = DialogUnits::ForFont(box.font());
    QCOMPARE(box.size(), QSize(units.X(247), units.Y(86)));
    auto* version = box.findChild<QLabel*>("tpl1");
    QVERIFY(version);
    QCOMPARE(version->text(), QStringLiteral("Tessaro V3.40"));
    auto* icon = box.findChild<QLabel*>("tpl0");
    QVERIFY(icon && !icon->pixmap().isNull());
    QCOMPARE(icon->pos(), QPoint(units.X(11), units.Y(17)));
    auto* ok = qobject_cast<QPushButton*>(FindControl(&box, ids::kOk));
    QVERIFY(ok && ok->isDefault());
    QCOMPARE(ok->text(), QStringLiteral("确定"));
  }
};

QTEST_MAIN(LayoutTest)
#include "window_layout_test.moc"
